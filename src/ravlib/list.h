// Pointer lists of the support library.
//
// CBaseList<T>  a growable array of T (a pointer type); it never owns or deletes the
//               pointed-to objects. Grows by doubling from 16 slots.
// CLockList<T>  the same with a lock that it does not own (null: no locking). Owners
//               that share the list between threads take the lock around their edits.
// CQueueList<T> producers Push into a side list ("incoming") under the lock; the one
//               consumer thread calls Merge, which moves incoming behind the main list
//               in one block, and then walks the main list without the lock.
//
// When memory runs out, nothing is lost silently: the operation that could not grow
// the array returns false and the list is left as it was.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <type_traits>

#include "ravlib/lock.h"

namespace ravlib {
namespace container {

template <typename T>
class CBaseList {
    static_assert(std::is_trivially_copyable<T>::value,
                  "the lists move their elements as raw bytes (T is a pointer type)");

public:
    enum { kFirstCapacity = 16 };

    CBaseList() = default;
    virtual ~CBaseList() { free(items_); }
    CBaseList(const CBaseList&) = delete;
    CBaseList& operator=(const CBaseList&) = delete;

    // Frees the array; capacity and count become 0. The elements are not touched.
    virtual void Clear() {
        free(items_);
        items_ = nullptr;
        capacity_ = 0;
        count_ = 0;
    }

    // When n > Count() and n != Capacity(), reallocates the array to exactly n slots
    // (this can also shrink an array that has spare slots); otherwise does nothing.
    // Returns false only when the reallocation failed; the list is then unchanged.
    virtual bool SetCapacity(int32_t n) {
        if (n <= count_ || n == capacity_) return true;
        if (static_cast<uint64_t>(n) > SIZE_MAX / sizeof(T)) return false;
        void* grown = realloc(items_, static_cast<size_t>(n) * sizeof(T));
        if (!grown) return false;
        items_ = static_cast<T*>(grown);
        capacity_ = n;
        return true;
    }

    // Appends one element, first doubling the array when it is full (16 slots when it
    // has none). False when the array could not grow; the element is then not added.
    bool Append(T element) {
        if (count_ == capacity_) {
            if (capacity_ > INT32_MAX / 2) return false;
            if (!SetCapacity(capacity_ == 0 ? static_cast<int32_t>(kFirstCapacity)
                                            : capacity_ * 2) ||
                count_ == capacity_)
                return false;
        }
        items_[count_++] = element;
        return true;
    }

    // Appends n elements in their order, growing the array to exactly Count() + n when
    // it is too small. False (nothing added) when n < 0 or the array could not grow.
    bool AppendArray(const T* elements, int32_t n) {
        if (n < 0 || (n > 0 && !elements) || n > INT32_MAX - count_) return false;
        if (n == 0) return true;
        if (count_ + n > capacity_ && (!SetCapacity(count_ + n) || count_ + n > capacity_))
            return false;
        memcpy(static_cast<void*>(items_ + count_), elements, static_cast<size_t>(n) * sizeof(T));
        count_ += n;
        return true;
    }

    // Removes the element at index; the ones behind it move one place forward.
    // False when index is out of range.
    bool RemoveAt(int32_t index) {
        if (index < 0 || index >= count_) return false;
        memmove(static_cast<void*>(items_ + index), items_ + index + 1,
                static_cast<size_t>(count_ - index - 1) * sizeof(T));
        --count_;
        return true;
    }

    // Index of the first element equal to element, or -1.
    int32_t IndexOf(T element) const {
        for (int32_t i = 0; i < count_; ++i)
            if (items_[i] == element) return i;
        return -1;
    }

    // Removes the first element equal to element; false when there is none.
    bool Remove(T element) { return RemoveAt(IndexOf(element)); }

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    bool IsEmpty() const { return count_ == 0; }
    T* Items() { return items_; }
    const T* Items() const { return items_; }
    T& operator[](int32_t index) { return items_[index]; }
    const T& operator[](int32_t index) const { return items_[index]; }

protected:
    T* items_ = nullptr;
    int32_t capacity_ = 0;
    int32_t count_ = 0;
};

template <typename T>
class CLockList : public CBaseList<T> {
public:
    explicit CLockList(sync::lock::CBaseLock* lock = nullptr) : lock_(lock) {}

    sync::lock::CBaseLock* GetLock() const { return lock_; }
    void SetLock(sync::lock::CBaseLock* lock) { lock_ = lock; }

    // Take and release the list's lock; nothing happens when it has none.
    void Lock() {
        if (lock_) lock_->Lock();
    }
    void Unlock() {
        if (lock_) lock_->Unlock();
    }

protected:
    sync::lock::CBaseLock* lock_;
};

template <typename T>
class CQueueList : public CLockList<T> {
public:
    explicit CQueueList(sync::lock::CBaseLock* lock = nullptr) : CLockList<T>(lock) {}

    // Any thread: appends element to the incoming list under the lock. False when the
    // incoming list could not grow; the element is then not queued (the caller still
    // holds it).
    bool Push(T element) {
        sync::lock::CAutoLock guard(this->lock_);
        return incoming_.Append(element);
    }

    // The consumer thread only: moves every incoming element behind the main list in
    // its order and empties the incoming list. With nothing incoming the main list is
    // untouched. False when the main list could not grow; both lists are then as they
    // were and a later Merge moves the elements.
    bool Merge() {
        sync::lock::CAutoLock guard(this->lock_);
        if (incoming_.IsEmpty()) return true;
        if (!this->AppendArray(incoming_.Items(), incoming_.Count())) return false;
        incoming_.count_ = 0;
        return true;
    }

    // The incoming list, for inspection under the lock.
    const CBaseList<T>& Incoming() const { return incoming_; }

private:
    // CBaseList with access for the queue to reset its count without freeing.
    class CIncoming : public CBaseList<T> {
        friend class CQueueList;
    };
    CIncoming incoming_;
};

}  // namespace container
}  // namespace ravlib
