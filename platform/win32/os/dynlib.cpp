#include "platform/dynlib.h"

#include <windows.h>

#include <vector>

namespace platform {

CDynamicLibrary::~CDynamicLibrary()
{
    Unload();
}

bool CDynamicLibrary::Load(const wchar_t* path)
{
    Unload();
    if (path == nullptr || *path == L'\0') {
        return false;
    }
    m_handle = ::LoadLibraryW(path);
    return m_handle != nullptr;
}

void* CDynamicLibrary::Symbol(const char* name) const
{
    if (m_handle == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void CDynamicLibrary::Unload()
{
    if (m_handle != nullptr && !m_keep) {
        ::FreeLibrary(static_cast<HMODULE>(m_handle));
    }
    m_handle = nullptr;
}

std::wstring ModulePathFromAddress(const void* address)
{
    HMODULE module = nullptr;
    if (address == nullptr ||
        !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return std::wstring(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
