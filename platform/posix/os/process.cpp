#include "platform/process.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "utf8.h"

extern char** environ;

namespace platform {

std::uint32_t CurrentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

std::uint32_t CurrentThreadId()
{
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

bool GetEnvironment(const wchar_t* name, std::wstring& value)
{
    value.clear();
    std::string narrow;
    if (name == nullptr || !detail::ToUtf8(name, narrow)) {
        return false;
    }
    const char* found = std::getenv(narrow.c_str());
    if (found == nullptr) {
        return false;
    }
    value = detail::FromUtf8(found);
    return true;
}

bool SetEnvironment(const wchar_t* name, const wchar_t* value)
{
    std::string narrowName;
    if (name == nullptr || *name == L'\0' || !detail::ToUtf8(name, narrowName)) {
        return false;
    }
    if (value == nullptr) {
        return ::unsetenv(narrowName.c_str()) == 0;
    }
    std::string narrowValue;
    return detail::ToUtf8(value, narrowValue) && ::setenv(narrowName.c_str(), narrowValue.c_str(), 1) == 0;
}

struct CChildProcess::SImpl {
    pid_t pid = -1;
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<SImpl>()) {}

CChildProcess::~CChildProcess()
{
    Wait();
}

bool CChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    Wait();
    std::vector<std::string> narrow(arguments.size() + 1);
    if (!detail::ToUtf8(program, narrow[0])) {
        return false;
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!detail::ToUtf8(arguments[i], narrow[i + 1])) {
            return false;
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : narrow) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, narrow[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    m_impl->pid = pid;
    return true;
}

int CChildProcess::Wait()
{
    if (m_impl->pid < 0) {
        return -1;
    }
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(m_impl->pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    m_impl->pid = -1;
    if (rc < 0 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::uint32_t CChildProcess::Id() const
{
    return m_impl->pid < 0 ? 0 : static_cast<std::uint32_t>(m_impl->pid);
}

std::uint32_t OpenHandleCount()
{
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) {
        return 0;
    }
    std::uint32_t count = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(listing);
    return count - 1;  // the listing's own descriptor
}

std::uint64_t HeapBytesInUse()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<std::uint64_t>(info.uordblks) + static_cast<std::uint64_t>(info.hblkhd);
}

}  // namespace platform
