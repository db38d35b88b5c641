// A shared library loaded by path for the lifetime of the object, with symbol
// look-up by name: how tests load helper libraries such as the stand-in parser
// without linking against them.
#pragma once

#include <filesystem>
#include <string>

namespace vsktest {

class CTestLibrary
{
public:
    CTestLibrary() = default;
    explicit CTestLibrary(const std::filesystem::path& path) { Load(path); }
    ~CTestLibrary() { Unload(); }
    CTestLibrary(const CTestLibrary&) = delete;
    CTestLibrary& operator=(const CTestLibrary&) = delete;
    CTestLibrary(CTestLibrary&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
    CTestLibrary& operator=(CTestLibrary&& other) noexcept;

    // False when the library cannot be loaded; LastError() then says why.
    bool Load(const std::filesystem::path& path);
    void Unload();
    bool Loaded() const { return m_handle != nullptr; }
    // Null when the library does not export the name.
    void* Symbol(const char* name) const;
    template <class TFunction>
    TFunction Function(const char* name) const
    {
        return reinterpret_cast<TFunction>(Symbol(name));
    }
    const std::string& LastError() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace vsktest
