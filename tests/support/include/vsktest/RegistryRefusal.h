// A registry key below which no key can be created, for tests of how
// refused registry changes are reported.
// Windows: the key is made volatile, and only volatile keys may be created
// below it (1021, ERROR_CHILD_MUST_BE_VOLATILE). Linux: the registry store is
// moved below a plain file for the object's lifetime, so no change can be
// saved at all (ENOTDIR: 3, ERROR_PATH_NOT_FOUND).
#pragma once

#include <memory>
#include <string>

namespace vsktest {

class CRegistryRefusal {
public:
    // parent: a key path below HKEY_CURRENT_USER.
    explicit CRegistryRefusal(const std::wstring& parent);
    ~CRegistryRefusal();
    CRegistryRefusal(const CRegistryRefusal&) = delete;
    CRegistryRefusal& operator=(const CRegistryRefusal&) = delete;

    // The Win32 error a key creation below parent fails with.
    unsigned long Error() const;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

}  // namespace vsktest
