// Owner of one COM interface pointer: released when the owner goes away.
#pragma once

#include <unknwn.h>

template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : pointer_(adopted) {}
    ComRef(const ComRef& other) : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    ComRef& operator=(const ComRef& other) {
        if (other.pointer_) other.pointer_->AddRef();
        Reset();
        pointer_ = other.pointer_;
        return *this;
    }
    ~ComRef() { Reset(); }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases what is held; the slot can then receive a new pointer.
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
