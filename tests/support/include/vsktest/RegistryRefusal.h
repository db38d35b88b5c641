// A registry key that cannot be created, for tests of how refused registry
// changes are reported.
// Windows: a name longer than the registry's 255 characters
// (ERROR_INVALID_PARAMETER, 87). Linux: the registry store is moved below a
// plain file for the object's lifetime, so no change can be saved at all
// (ENOTDIR: ERROR_PATH_NOT_FOUND, 3).
#pragma once

#include <memory>
#include <string>

namespace vsktest {

class CRegistryRefusal {
public:
    CRegistryRefusal();
    ~CRegistryRefusal();
    CRegistryRefusal(const CRegistryRefusal&) = delete;
    CRegistryRefusal& operator=(const CRegistryRefusal&) = delete;

    // The name of a key whose creation fails.
    std::wstring KeyName() const;
    // The Win32 error it fails with.
    unsigned long Error() const;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

}  // namespace vsktest
