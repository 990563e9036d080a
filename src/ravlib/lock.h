// Locks of the support library: an abstract lock and one over a critical section.
#pragma once

#include <windows.h>

namespace ravlib {
namespace sync {
namespace lock {

class CBaseLock {
public:
    CBaseLock() = default;
    CBaseLock(const CBaseLock&) = delete;
    CBaseLock& operator=(const CBaseLock&) = delete;

    virtual void Lock() = 0;
    // True when the lock was taken.
    virtual bool TryLock() = 0;
    virtual void Unlock() = 0;
    virtual ~CBaseLock() {}
};

// A critical section: re-entrant for the thread that holds it, no time-out.
class CCSLock : public CBaseLock {
public:
    CCSLock() { InitializeCriticalSection(&section_); }

    void Lock() override { EnterCriticalSection(&section_); }
    bool TryLock() override { return TryEnterCriticalSection(&section_) != FALSE; }
    void Unlock() override { LeaveCriticalSection(&section_); }
    ~CCSLock() override { DeleteCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds a lock for the lifetime of a scope; a null lock is not taken.
class CAutoLock {
public:
    explicit CAutoLock(CBaseLock* lock) : lock_(lock) {
        if (lock_) lock_->Lock();
    }
    ~CAutoLock() {
        if (lock_) lock_->Unlock();
    }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CBaseLock* lock_;
};

}  // namespace lock
}  // namespace sync
}  // namespace ravlib
