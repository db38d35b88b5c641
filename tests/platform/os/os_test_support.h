// Helpers for the OS-service tests: private temporary directories and the
// paths of the helper programs built next to the tests.
#pragma once

#include <filesystem>
#include <string>

namespace vsk_os_test {

// A fresh directory, removed with everything in it on destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return (m_path / name).wstring(); }

private:
    std::filesystem::path m_path;
};

// Directory of the running test program.
std::filesystem::path ProgramDirectory();
std::wstring ChildProgram();
std::wstring TestLibrary();
// A name no other test run uses at the same time.
std::wstring UniqueName(const wchar_t* stem);
void WriteFile(const std::wstring& path, const std::string& bytes);
std::string ReadFile(const std::wstring& path);
// Polls until the file exists (true) or about 20 s passed.
bool WaitForFile(const std::wstring& path);

}  // namespace vsk_os_test
