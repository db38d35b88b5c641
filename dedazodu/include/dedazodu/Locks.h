// The library's locks: a recursive in-process critical section, a
// cross-process lock over a named mutex, and the scoped guard every lock in
// the library is taken through.
#pragma once

#include <string>

#include "platform/sync.h"

namespace deDazOdu {

struct ILockObject {
    virtual int Lock() = 0;
    virtual int Unlock() = 0;

protected:
    ~ILockObject() = default;
};

namespace Common {

// Lock enters and returns 1; Unlock leaves and returns 0.
class CCriticalSection final : public ILockObject {
public:
    int Lock() override;
    int Unlock() override;

private:
    platform::CCriticalSection m_section;
};

// A named mutex held across processes. The hold count is the object's, not
// a thread's: one thread at a time uses an object (each error-log line
// makes its own under the process-wide log lock). The first Lock creates or
// opens the mutex by name and waits for it without time-out (an abandoned
// mutex is owned all the same); the Unlock that brings the count back to 0
// releases and closes it, so only the name lives between holds.
class CMutex final : public ILockObject {
public:
    explicit CMutex(std::wstring name);
    ~CMutex();
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    // Returns 1.
    int Lock() override;
    // -1 when nothing is held, else 0.
    int Unlock() override;
    const std::wstring& Name() const { return m_name; }

private:
    std::wstring m_name;
    platform::CNamedMutex m_handle;
    int m_holdCount = 0;
};

// Holds anything with Lock and Unlock (a lock object, a channel) for a scope.
template <typename T>
class CLockGuard {
public:
    explicit CLockGuard(T& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CLockGuard() { m_lock.Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    T& m_lock;
};

using CScopedLock = CLockGuard<ILockObject>;

// Unlocks at the end of a scope a lock taken before it, unless Keep hands
// the hold on to the caller: for operations that lock, then do work that may
// throw, and return holding the lock.
class CHeldLock {
public:
    explicit CHeldLock(ILockObject& lock) : m_lock(&lock) {}
    ~CHeldLock()
    {
        if (m_lock != nullptr) {
            m_lock->Unlock();
        }
    }
    CHeldLock(const CHeldLock&) = delete;
    CHeldLock& operator=(const CHeldLock&) = delete;
    void Keep() { m_lock = nullptr; }

private:
    ILockObject* m_lock;
};

}  // namespace Common
}  // namespace deDazOdu
