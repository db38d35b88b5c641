#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(bytes > 0 ? static_cast<std::size_t>(bytes) : 1, '\0');
        if (bytes > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
        text.resize(text.size() - 1);  // the NUL
        arguments.push_back(std::move(text));
    }
    ::LocalFree(wide);
    return arguments;
}

std::uint32_t CurrentProcessId()
{
    return ::GetCurrentProcessId();
}

std::uint32_t CurrentThreadId()
{
    return ::GetCurrentThreadId();
}

bool GetEnvironment(const wchar_t* name, std::wstring& value)
{
    value.clear();
    if (name == nullptr) {
        return false;
    }
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return false;  // not set (an empty variable still needs room for its NUL)
    }
    std::wstring buffer(needed, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(name, buffer.data(), needed);
    if (got >= needed) {
        return false;
    }
    buffer.resize(got);
    value = buffer;
    return true;
}

bool SetEnvironment(const wchar_t* name, const wchar_t* value)
{
    if (name == nullptr || *name == L'\0' || ::SetEnvironmentVariableW(name, value) == FALSE) {
        return false;
    }
    // Keep the C runtime's copy in step for code that reads it with getenv.
    std::wstring assignment = std::wstring(name) + L"=" + (value != nullptr ? value : L"");
    return ::_wputenv(assignment.c_str()) == 0;
}

namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
void AppendQuoted(std::wstring& line, const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace

struct CChildProcess::SImpl {
    HANDLE process = nullptr;
    DWORD id = 0;
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<SImpl>()) {}

CChildProcess::~CChildProcess()
{
    Wait();
}

bool CChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    Wait();
    std::wstring line;
    AppendQuoted(line, program);
    for (const std::wstring& argument : arguments) {
        line += L' ';
        AppendQuoted(line, argument);
    }
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info {};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    m_impl->process = info.hProcess;
    m_impl->id = info.dwProcessId;
    return true;
}

int CChildProcess::Wait()
{
    if (m_impl->process == nullptr) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(m_impl->process, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(m_impl->process, &code)) {
        code = static_cast<DWORD>(-1);
    }
    ::CloseHandle(m_impl->process);
    m_impl->process = nullptr;
    m_impl->id = 0;
    return static_cast<int>(code);
}

std::uint32_t CChildProcess::Id() const
{
    return m_impl->id;
}

namespace {

// One entry of the system's handle table (SystemHandleInformation, 16): the
// owner's process id in the low half of the first member.
struct SSystemHandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

// The table: a count, then the entries.
struct SSystemHandleTable {
    ULONG count;
    SSystemHandleEntry entries[1];
};

// The process's entries in the system's handle table, for systems whose
// GetProcessHandleCount answers 0 (Wine); 0 when the table cannot be read.
std::uint32_t HandlesInSystemTable()
{
    using PfnQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<PfnQuery>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return 0;
    }
    constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
    constexpr LONG STATUS_INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> table(1 << 16);
    LONG status = STATUS_INFO_LENGTH_MISMATCH;
    while (status == STATUS_INFO_LENGTH_MISMATCH && table.size() <= (std::size_t {1} << 28)) {
        ULONG needed = 0;
        status = query(SYSTEM_HANDLE_INFORMATION, table.data(), static_cast<ULONG>(table.size()), &needed);
        if (status == STATUS_INFO_LENGTH_MISMATCH) {
            table.resize(table.size() * 2);
        }
    }
    if (status != 0) {
        return 0;
    }
    ULONG entries = 0;
    std::memcpy(&entries, table.data(), sizeof entries);
    const std::size_t first = offsetof(SSystemHandleTable, entries);
    const ULONG self = ::GetCurrentProcessId() & 0xFFFF;
    std::uint32_t count = 0;
    for (ULONG i = 0; i < entries && first + (i + 1) * sizeof(SSystemHandleEntry) <= table.size(); ++i) {
        SSystemHandleEntry entry;
        std::memcpy(&entry, table.data() + first + i * sizeof entry, sizeof entry);
        if ((entry.ownerProcessId & 0xFFFF) == self) {
            ++count;
        }
    }
    return count;
}

}  // namespace

std::uint32_t OpenHandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    return HandlesInSystemTable();
}

std::uint64_t HeapBytesInUse()
{
    std::vector<HANDLE> heaps(64);
    DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    }
    heaps.resize(std::min<std::size_t>(count, heaps.size()));
    std::uint64_t total = 0;
    for (HANDLE heap : heaps) {
        if (!::HeapLock(heap)) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry {};
        while (::HeapWalk(heap, &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                total += entry.cbData;
            }
        }
        ::HeapUnlock(heap);
    }
    return total;
}

}  // namespace platform
