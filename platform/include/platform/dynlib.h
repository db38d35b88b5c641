// Run-time loading of a shared library and symbol lookup by name.
// Windows: LoadLibraryW / GetProcAddress. POSIX: dlopen(RTLD_NOW | RTLD_LOCAL)
// with the path in UTF-8 / dlsym.
#pragma once

#include <string>

namespace platform {

class CDynamicLibrary {
public:
    CDynamicLibrary() = default;
    ~CDynamicLibrary();
    CDynamicLibrary(const CDynamicLibrary&) = delete;
    CDynamicLibrary& operator=(const CDynamicLibrary&) = delete;

    // Unloads any library held (unless kept), then loads path. False on failure.
    bool Load(const wchar_t* path);
    bool IsLoaded() const { return m_handle != nullptr; }
    // Null when the symbol is missing or nothing is loaded.
    void* Symbol(const char* name) const;
    // The library stays loaded for the life of the process: destruction and
    // Unload only forget the handle.
    void KeepLoaded() { m_keep = true; }
    void Unload();

private:
    void* m_handle = nullptr;
    bool m_keep = false;
};

// Full path of the executable or library whose image contains address; empty
// when no loaded image contains it.
std::wstring ModulePathFromAddress(const void* address);

}  // namespace platform
