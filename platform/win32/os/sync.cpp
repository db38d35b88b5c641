#include "platform/sync.h"

#include <windows.h>

namespace platform {

struct CCriticalSection::SImpl {
    CRITICAL_SECTION section;
};

CCriticalSection::CCriticalSection() : m_impl(std::make_unique<SImpl>())
{
    ::InitializeCriticalSection(&m_impl->section);
}

CCriticalSection::~CCriticalSection()
{
    ::DeleteCriticalSection(&m_impl->section);
}

void CCriticalSection::Enter()
{
    ::EnterCriticalSection(&m_impl->section);
}

void CCriticalSection::Leave()
{
    ::LeaveCriticalSection(&m_impl->section);
}

bool CCriticalSection::TryEnter()
{
    return ::TryEnterCriticalSection(&m_impl->section) != FALSE;
}

struct CNamedMutex::SImpl {
    HANDLE handle = nullptr;
};

CNamedMutex::CNamedMutex() = default;

CNamedMutex::~CNamedMutex()
{
    Close();
}

bool CNamedMutex::Create(const wchar_t* name, bool* alreadyExisted)
{
    Close();
    if (name == nullptr) {
        return false;
    }
    HANDLE h = ::CreateMutexW(nullptr, FALSE, name);
    const DWORD error = ::GetLastError();
    if (h == nullptr) {
        return false;
    }
    if (alreadyExisted != nullptr) {
        *alreadyExisted = error == ERROR_ALREADY_EXISTS;
    }
    m_impl = std::make_unique<SImpl>();
    m_impl->handle = h;
    return true;
}

bool CNamedMutex::IsOpen() const
{
    return m_impl != nullptr;
}

EWaitResult CNamedMutex::Wait()
{
    if (!m_impl) {
        return EWaitResult::FAILED;
    }
    switch (::WaitForSingleObject(m_impl->handle, INFINITE)) {
    case WAIT_OBJECT_0:
        return EWaitResult::ACQUIRED;
    case WAIT_ABANDONED:
        return EWaitResult::ABANDONED;
    default:
        return EWaitResult::FAILED;
    }
}

bool CNamedMutex::Release()
{
    return m_impl && ::ReleaseMutex(m_impl->handle) != FALSE;
}

void CNamedMutex::Close()
{
    if (m_impl) {
        ::CloseHandle(m_impl->handle);
        m_impl.reset();
    }
}

}  // namespace platform
