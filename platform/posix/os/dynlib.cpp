#include "platform/dynlib.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include "utf8.h"

namespace platform {

CDynamicLibrary::~CDynamicLibrary()
{
    Unload();
}

bool CDynamicLibrary::Load(const wchar_t* path)
{
    Unload();
    std::string narrow;
    if (path == nullptr || *path == L'\0' || !detail::ToUtf8(path, narrow)) {
        return false;
    }
    m_handle = ::dlopen(narrow.c_str(), RTLD_NOW | RTLD_LOCAL);
    return m_handle != nullptr;
}

void* CDynamicLibrary::Symbol(const char* name) const
{
    if (m_handle == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(m_handle, name);
}

void CDynamicLibrary::Unload()
{
    if (m_handle != nullptr && !m_keep) {
        ::dlclose(m_handle);
    }
    m_handle = nullptr;
}

std::wstring ModulePathFromAddress(const void* address)
{
    Dl_info info {};
    if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    // dladdr reports the main program by the name it was started with.
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) {
        return detail::FromUtf8(resolved);
    }
    return detail::FromUtf8(info.dli_fname);
}

}  // namespace platform
