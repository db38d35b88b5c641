// POSIX side of the test helpers that touch the operating system.
#include "vsktest/Environment.h"
#include "vsktest/TempDir.h"
#include "vsktest/RegistryRefusal.h"
#include "vsktest/TestLibrary.h"

#include <dlfcn.h>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <stdlib.h>

namespace vsktest {

std::filesystem::path TestExecutableDirectory()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::optional<NativeString> GetEnvironmentValue(const std::string& name)
{
    const char* v = ::getenv(name.c_str());
    if (!v)
        return std::nullopt;
    return NativeString(v);
}

void SetEnvironmentValue(const std::string& name, const std::optional<NativeString>& value)
{
    const int rc = value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    if (rc != 0)
        throw std::runtime_error("cannot set environment variable " + name);
}

bool CTestLibrary::Load(const std::filesystem::path& path)
{
    Unload();
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* e = ::dlerror();
        m_error = e ? e : "dlopen failed";
        return false;
    }
    m_error.clear();
    return true;
}

void CTestLibrary::Unload()
{
    if (m_handle) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
}

void* CTestLibrary::Symbol(const char* name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

}  // namespace vsktest

namespace vsktest {

struct CRegistryRefusal::SImpl {
    CTempDir dir;
    std::unique_ptr<CScopedEnvironment> store;
};

CRegistryRefusal::CRegistryRefusal() : m_impl(std::make_unique<SImpl>())
{
    const std::filesystem::path blocker = m_impl->dir / "plain-file";
    std::ofstream(blocker) << "not a directory";
    m_impl->store = std::make_unique<CScopedEnvironment>("VSK_REGISTRY_FILE", blocker / "registry");
}

CRegistryRefusal::~CRegistryRefusal() = default;

std::wstring CRegistryRefusal::KeyName() const
{
    return L"Child";
}

unsigned long CRegistryRefusal::Error() const
{
    return 3;  // ERROR_PATH_NOT_FOUND
}

}  // namespace vsktest
