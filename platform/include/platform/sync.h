// Locks: an in-process critical section and a cross-process named mutex.
//
// CCriticalSection is recursive for its owning thread, like a Win32 critical
// section.
//
// CNamedMutex follows a Win32 mutex object: created or opened by name with an
// "already existed" answer, owned by a thread, recursive for that thread, and
// released by the system when the owning process dies (the next Wait then
// reports ABANDONED and owns the mutex). The name lives as long as some handle
// to it is open in any process.
//
// POSIX emulation: one directory for every process of the machine,
// /tmp/vsk-mutex (world-writable with the sticky bit; its files are made
// readable and writable by all), so processes of different users or
// environments meet under one name as they do on Windows. It holds, per name
// (sanitised, long names hashed), a lock file and a presence file.
// - Ownership across processes is an exclusive flock on the lock file through
//   one descriptor per process and name; inside the process a table keyed by
//   name records the owning thread and its recursion count, so ownership is per
//   thread as on Windows, whichever handle a thread waits on.
// - The lock file holds one byte, '1' while owned; an owner that dies leaves
//   '1' behind and the next owner reports ABANDONED.
// - Each open handle holds a shared flock on the presence file; "already
//   existed" means another handle (of any process, this one included) holds
//   one. Creation and closing run under one directory-wide guard lock, and the
//   last handle to close removes the files (where the sticky bit lets it;
//   another user's files stay behind unused), so a name whose holders all
//   died counts as new.
// The first Create of a process also removes the files of names that only
// dead processes had used.
// A thread that ends while owning the mutex does not abandon it on POSIX (only
// the death of the process does); closing the last handle of the process while
// a thread owns the mutex releases it as abandoned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class CCriticalSection {
public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter();
    void Leave();
    bool TryEnter();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

// Scoped hold of a CCriticalSection.
class CCriticalSectionGuard {
public:
    explicit CCriticalSectionGuard(CCriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~CCriticalSectionGuard() { m_section.Leave(); }
    CCriticalSectionGuard(const CCriticalSectionGuard&) = delete;
    CCriticalSectionGuard& operator=(const CCriticalSectionGuard&) = delete;

private:
    CCriticalSection& m_section;
};

enum class EWaitResult {
    ACQUIRED,   // WAIT_OBJECT_0
    ABANDONED,  // WAIT_ABANDONED: the previous owner died; the caller owns it now
    FAILED,
};

class CNamedMutex {
public:
    CNamedMutex();
    ~CNamedMutex();
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // CreateMutexW(null, FALSE, name). Closes any handle held first. On
    // success alreadyExisted (when given) tells whether the name was in use.
    bool Create(const wchar_t* name, bool* alreadyExisted = nullptr);
    bool IsOpen() const;
    // Waits without time-out.
    EWaitResult Wait();
    // False when the calling thread does not own the mutex.
    bool Release();
    void Close();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

}  // namespace platform
