// Helpers for the OS-service tests: private temporary directories and the
// paths of the helper programs built next to the tests.
#pragma once

#include "vsktest/TempDir.h"

#include <filesystem>
#include <string>

namespace vsk_os_test {

using vsktest::CTempDir;

// Directory of the running test program.
inline std::filesystem::path ProgramDirectory()
{
    return vsktest::TestExecutableDirectory();
}
std::wstring ChildProgram();
std::wstring TestLibrary();
// A name no other test run uses at the same time.
std::wstring UniqueName(const wchar_t* stem);
void WriteFile(const std::wstring& path, const std::string& bytes);
std::string ReadFile(const std::wstring& path);
// Polls until the file exists (true) or about 20 s passed.
bool WaitForFile(const std::wstring& path);

}  // namespace vsk_os_test
