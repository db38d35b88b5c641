#include "dedazodu/Locks.h"

#include <utility>

namespace deDazOdu::Common {

int CCriticalSection::Lock()
{
    m_section.Enter();
    return 1;
}

int CCriticalSection::Unlock()
{
    m_section.Leave();
    return 0;
}

CMutex::CMutex(std::wstring name) : m_name(std::move(name)) {}

CMutex::~CMutex()
{
    while (m_handle.IsOpen()) {
        Unlock();
    }
}

int CMutex::Lock()
{
    if (m_holdCount == 0) {
        // A mutex that cannot be made is not counted, so the matching Unlock
        // answers -1 and the next Lock tries again.
        if (!m_handle.Create(m_name.c_str())) {
            return 1;
        }
        m_handle.Wait();  // an abandoned mutex is owned as well
    }
    ++m_holdCount;
    return 1;
}

int CMutex::Unlock()
{
    if (!m_handle.IsOpen()) {
        return -1;
    }
    if (--m_holdCount == 0) {
        m_handle.Release();
        m_handle.Close();
    }
    return 0;
}

}  // namespace deDazOdu::Common
