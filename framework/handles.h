// Owners of the system's handles, one class per kind, and the one way this program starts
// another. Each owner closes what it holds when it goes; none of them is shared between
// threads.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <unknwn.h>

#include <string>

// One handle that `Close` gives back. Functions disagree on how they say "none":
// CreateFile and FindFirstFile answer INVALID_HANDLE_VALUE, most others null; both count
// as empty here, and `valid()` is the only test a caller needs.
template <class Handle, BOOL(WINAPI* Close)(Handle)>
class CScopedHandle {
public:
    CScopedHandle() = default;
    explicit CScopedHandle(Handle handle) : handle_(handle) {}
    ~CScopedHandle() { Reset(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(Handle handle = nullptr) {
        if (valid() && handle_ != handle) Close(handle_);
        handle_ = handle;
    }
    Handle Release() {
        Handle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    Handle handle_ = nullptr;
};

// A kernel object (file, mapping, thread, event, process).
using CHandle = CScopedHandle<HANDLE, CloseHandle>;
// A search of FindFirstFile.
using CFindHandle = CScopedHandle<HANDLE, FindClose>;
// A WinINet session, connection or request handle.
using CInternetHandle = CScopedHandle<HINTERNET, InternetCloseHandle>;
// A search of the WinINet cache (FindFirstUrlCacheEntry).
using CUrlCacheFindHandle = CScopedHandle<HANDLE, FindCloseUrlCache>;
// A view of a file mapping (MapViewOfFile).
using CMappedView = CScopedHandle<LPCVOID, UnmapViewOfFile>;

// An open registry key; `Receive` hands the slot to RegOpenKeyEx or RegCreateKeyEx.
class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() { Reset(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY* Receive() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY Release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }

private:
    HKEY key_ = nullptr;
};

// One reference to a COM object. A copy takes a reference of its own.
template <class T>
class CComPtr {
public:
    CComPtr() = default;
    // Takes over the caller's reference.
    explicit CComPtr(T* adopted) : pointer_(adopted) {}
    CComPtr(const CComPtr& other) : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    CComPtr& operator=(const CComPtr& other) {
        Assign(other.pointer_);
        return *this;
    }
    ~CComPtr() { Reset(); }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases what is held and hands the empty slot to a function that fills it
    // (QueryInterface, CoCreateInstance…).
    T** Receive() {
        Reset();
        return &pointer_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    // Holds `pointer` with a reference of its own.
    void Assign(T* pointer) {
        if (pointer) pointer->AddRef();
        Reset();
        pointer_ = pointer;
    }

    // Hands the pointer and its reference to the caller.
    T* Detach() {
        T* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

    void Reset() {
        T* pointer = pointer_;
        pointer_ = nullptr;
        if (pointer) pointer->Release();
    }

private:
    T* pointer_ = nullptr;
};

// Starts `application` (null: the first word of `commandLine`, searched as CreateProcess
// does) with the creation `flags`, and lets it run on its own: neither its process nor its
// thread handle is kept. `show` is the new program's first window state; SW_SHOWDEFAULT
// leaves it to the program. False when the process could not be created.
bool StartDetached(const wchar_t* application, std::wstring commandLine, DWORD flags, WORD show);
