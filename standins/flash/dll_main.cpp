// FlashStandin.dll: the stand-in as an in-process server, for a Launcher.exe running in
// a process of its own. It registers itself for the current user
// (HKCU\Software\Classes\CLSID\{class id}\InprocServer32, apartment threaded), and
// machine-wide as well where COM does not read the user's classes (Wine).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "framework/handles.h"
#include "standins/flash/flash_standin.h"
#include "standins/flash/module.h"

namespace {

const wchar_t kClassesPrefix[] = L"Software\\Classes\\CLSID\\";

class RegKey {
public:
    LSTATUS Create(HKEY parent, const wchar_t* name) {
        return RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key_.Receive(), nullptr);
    }
    LSTATUS Open(HKEY parent, const wchar_t* name) { return RegOpenKeyExW(parent, name, 0, KEY_READ, key_.Receive()); }
    LSTATUS SetText(const wchar_t* name, const std::wstring& value) {
        return RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring Text(const wchar_t* name) const {
        wchar_t value[MAX_PATH * 4] = L"";
        DWORD size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::wstring();
        return value;
    }
    HKEY get() const { return key_.get(); }

private:
    CRegKey key_;
};

// `prefix` + the class id in braces.
std::wstring ClassKeyName(const wchar_t* prefix) {
    wchar_t classId[40] = L"";
    StringFromGUID2(FlashStandin::kClassId, classId, 40);
    return prefix + std::wstring(classId);
}

// The server path registered for the class id under `root` + `prefix`; empty when none.
std::wstring RegisteredPath(HKEY root, const wchar_t* prefix) {
    RegKey server;
    if (server.Open(root, (ClassKeyName(prefix) + L"\\InprocServer32").c_str()) != ERROR_SUCCESS)
        return std::wstring();
    return server.Text(nullptr);
}

bool RegisterUnder(HKEY root, const std::wstring& path) {
    RegKey classKey;
    RegKey server;
    return classKey.Create(root, ClassKeyName(kClassesPrefix).c_str()) == ERROR_SUCCESS &&
           classKey.SetText(nullptr, L"Flash stand-in control") == ERROR_SUCCESS &&
           server.Create(classKey.get(), L"InprocServer32") == ERROR_SUCCESS &&
           server.SetText(nullptr, path) == ERROR_SUCCESS &&
           server.SetText(L"ThreadingModel", L"Apartment") == ERROR_SUCCESS;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(FlashStandinModule(), &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    // At process exit (reserved set) windows and classes go with the process.
    if (reason == DLL_PROCESS_DETACH && !reserved) FlashStandinView::UnregisterWindowClass();
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID id, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(classId, FlashStandin::kClassId)) return CLASS_E_CLASSNOTAVAILABLE;
    return FlashStandinClassFactory()->QueryInterface(id, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return FlashStandinModuleInUse() ? S_FALSE : S_OK; }

extern "C" HRESULT WINAPI DllRegisterServer() {
    std::wstring path = ModulePath();
    if (path.empty() || !RegisterUnder(HKEY_CURRENT_USER, path)) return SELFREG_E_CLASS;
    if (RegisteredPath(HKEY_CLASSES_ROOT, L"CLSID\\") == path) return S_OK;
    return RegisterUnder(HKEY_LOCAL_MACHINE, path) ? S_OK : SELFREG_E_CLASS;
}

// Removes only registrations that name this DLL: another server's under the same class
// id stays, and the answer is then S_FALSE.
extern "C" HRESULT WINAPI DllUnregisterServer() {
    std::wstring path = ModulePath();
    HRESULT result = S_OK;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring registered = RegisteredPath(root, kClassesPrefix);
        if (registered.empty()) continue;
        if (lstrcmpiW(registered.c_str(), path.c_str()) != 0) {
            result = S_FALSE;
            continue;
        }
        if (RegDeleteTreeW(root, ClassKeyName(kClassesPrefix).c_str()) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
    }
    return result;
}
