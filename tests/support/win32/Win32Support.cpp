// Windows side of the test helpers that touch the operating system.
#include "vsktest/Environment.h"
#include "vsktest/TempDir.h"
#include "vsktest/RegistryRefusal.h"
#include "vsktest/TestLibrary.h"

#include <windows.h>

#include <stdexcept>
#include <stdlib.h>
#include <vector>

namespace vsktest {
namespace {

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

std::filesystem::path TestExecutableDirectory()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            throw std::runtime_error("GetModuleFileNameW failed");
        if (n < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), n)).parent_path();
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<NativeString> GetEnvironmentValue(const std::string& name)
{
    const std::wstring wname = Widen(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                              : std::optional<NativeString>(NativeString());
        if (n < buffer.size())
            return NativeString(buffer.data(), n);
        buffer.resize(n);
    }
}

void SetEnvironmentValue(const std::string& name, const std::optional<NativeString>& value)
{
    const std::wstring wname = Widen(name);
    // The C runtime keeps its own copy of the environment for getenv; keep it
    // in step with the process block that GetEnvironmentVariableW reads.
    ::_wputenv_s(wname.c_str(), value ? value->c_str() : L"");
    if (!::SetEnvironmentVariableW(wname.c_str(), value ? value->c_str() : nullptr))
        throw std::runtime_error("cannot set environment variable " + name);
}

bool CTestLibrary::Load(const std::filesystem::path& path)
{
    Unload();
    m_handle = reinterpret_cast<void*>(::LoadLibraryW(path.c_str()));
    if (!m_handle) {
        m_error = "LoadLibraryW failed with error " + std::to_string(::GetLastError());
        return false;
    }
    m_error.clear();
    return true;
}

void CTestLibrary::Unload()
{
    if (m_handle) {
        ::FreeLibrary(reinterpret_cast<HMODULE>(m_handle));
        m_handle = nullptr;
    }
}

void* CTestLibrary::Symbol(const char* name) const
{
    return m_handle ? reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(m_handle), name))
                    : nullptr;
}

}  // namespace vsktest

namespace vsktest {

struct CRegistryRefusal::SImpl {};

CRegistryRefusal::CRegistryRefusal() = default;
CRegistryRefusal::~CRegistryRefusal() = default;

std::wstring CRegistryRefusal::KeyName() const
{
    return std::wstring(300, L'k');
}

unsigned long CRegistryRefusal::Error() const
{
    return ERROR_INVALID_PARAMETER;
}

}  // namespace vsktest
