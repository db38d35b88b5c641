#include "vsktest/TestLibrary.h"

namespace vsktest {

CTestLibrary& CTestLibrary::operator=(CTestLibrary&& other) noexcept
{
    if (this != &other) {
        Unload();
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

}  // namespace vsktest
