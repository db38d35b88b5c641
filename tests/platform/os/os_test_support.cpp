#include "os_test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"

namespace vsk_os_test {

namespace fs = std::filesystem;

std::wstring UniqueName(const wchar_t* stem)
{
    static std::atomic<unsigned> counter {0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::wstring(stem) + L"-" + std::to_wstring(platform::CurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L"-" + std::to_wstring(ticks % 1000000007);
}

std::wstring ChildProgram()
{
    return (ProgramDirectory() / VSK_OS_CHILD_NAME).wstring();
}

std::wstring TestLibrary()
{
    return (ProgramDirectory() / VSK_OS_TESTLIB_NAME).wstring();
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WaitForFile(const std::wstring& path)
{
    for (int i = 0; i < 2000; ++i) {
        std::error_code ignored;
        if (fs::exists(fs::path(path), ignored)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace vsk_os_test
