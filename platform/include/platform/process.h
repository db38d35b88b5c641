// The current process and thread as the logs identify them, the process
// environment, and child processes (tests and tools start helper programs).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

std::uint32_t CurrentProcessId();
// GetCurrentThreadId on Windows, gettid on Linux: unique among the running
// threads of the system, as the log headers need.
std::uint32_t CurrentThreadId();

// What the process holds, for tests of staying power: its open handles
// (Windows: GetProcessHandleCount, or where that answers 0, as under Wine,
// the process's entries in the system's handle table; Linux: the entries of
// /proc/self/fd) and
// the bytes its heaps have handed out and not taken back (Windows: the busy
// blocks of every heap of the process, walked with HeapWalk; Linux:
// mallinfo2, which AddressSanitizer's allocator answers with 0).
std::uint32_t OpenHandleCount();
std::uint64_t HeapBytesInUse();

// Environment variables of the current process (Linux: names and values in
// UTF-8). Get answers false when the variable is not set; a null value
// removes it.
bool GetEnvironment(const wchar_t* name, std::wstring& value);
bool SetEnvironment(const wchar_t* name, const wchar_t* value);

// The program's arguments (argv[0] included) as UTF-8 text. Windows reads
// the wide command line, as the C runtime splits it: its argv holds the
// ANSI code page's rendering, which loses every character outside it.
// POSIX: argv as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// A started program. Windows: CreateProcessW with each argument quoted as
// the C runtime parses it; POSIX: posix_spawn. The child inherits the
// environment and the standard streams.
class CChildProcess {
public:
    CChildProcess();
    // Waits for a child that is still running.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Start(const std::wstring& program, const std::vector<std::wstring>& arguments);
    // Exit code, or -1 when nothing runs or the child ended abnormally.
    int Wait();
    std::uint32_t Id() const;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

}  // namespace platform
