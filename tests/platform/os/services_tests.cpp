#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "os_test_support.h"
#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/hresult_text.h"
#include "platform/process.h"
#include "platform/time.h"

using namespace vsk_os_test;

namespace {

// Seconds since an arbitrary origin, for comparing two local times.
long long Seconds(const platform::SLocalTime& t)
{
    std::tm tm {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&tm));
}

std::vector<std::wstring> g_debugPieces;
void CollectDebugPiece(const wchar_t* text)
{
    g_debugPieces.emplace_back(text);
}

}  // namespace

TEST(Time, LocalTimeAndProcessCreation)
{
    const platform::SLocalTime now = platform::LocalTimeNow();
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 60);
    EXPECT_LE(now.milliseconds, 999);
    const long long system = static_cast<long long>(std::time(nullptr));
    EXPECT_LE(std::llabs(Seconds(now) - system), 2);

    platform::SLocalTime created;
    ASSERT_TRUE(platform::ProcessCreationLocalTime(created));
    EXPECT_LE(created.milliseconds, 999);
    const long long age = Seconds(now) - Seconds(created);
    EXPECT_GE(age, -1);
    EXPECT_LE(age, 3600);  // this test program started within the hour
    platform::SLocalTime again;
    ASSERT_TRUE(platform::ProcessCreationLocalTime(again));
    EXPECT_EQ(Seconds(again), Seconds(created));
    EXPECT_EQ(again.milliseconds, created.milliseconds);
}

TEST(Process, IdsAndEnvironment)
{
    const std::uint32_t pid = platform::CurrentProcessId();
    const std::uint32_t tid = platform::CurrentThreadId();
    EXPECT_NE(pid, 0u);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(platform::CurrentThreadId(), tid);
    std::uint32_t otherTid = 0;
    std::uint32_t otherPid = 0;
    std::thread([&] {
        otherTid = platform::CurrentThreadId();
        otherPid = platform::CurrentProcessId();
    }).join();
    EXPECT_NE(otherTid, tid);
    EXPECT_EQ(otherPid, pid);

    const std::wstring name = L"VSK_TEST_VARIABLE_" + std::to_wstring(pid);
    std::wstring value;
    EXPECT_FALSE(platform::GetEnvironment(name.c_str(), value));
    ASSERT_TRUE(platform::SetEnvironment(name.c_str(), L"a value"));
    EXPECT_TRUE(platform::GetEnvironment(name.c_str(), value));
    EXPECT_EQ(value, L"a value");
    ASSERT_TRUE(platform::SetEnvironment(name.c_str(), nullptr));
    EXPECT_FALSE(platform::GetEnvironment(name.c_str(), value));
}

TEST(Process, ChildExitCodeAndArguments)
{
    platform::CChildProcess child;
    EXPECT_EQ(child.Wait(), -1);  // nothing started
    ASSERT_TRUE(child.Start(ChildProgram(), {L"exists", UniqueName(L"vsk test name")}));
    EXPECT_NE(child.Id(), platform::CurrentProcessId());
    EXPECT_EQ(child.Wait(), 11);
    ASSERT_TRUE(child.Start(ChildProgram(), {L"check-arg", UniqueName(L"n"), L"tricky \"quoted\" \\ value\\"}));
    EXPECT_EQ(child.Wait(), 20);
    EXPECT_FALSE(child.Start((ProgramDirectory() / "no-such-program.exe").wstring(), {}));
}

TEST(DebugOutput, SinkReceivesEachPieceAsGiven)
{
    g_debugPieces.clear();
    const platform::PFN_DEBUG_OUTPUT_SINK previous = platform::SetDebugOutputSink(&CollectDebugPiece);
    platform::DebugOutput(L"header");
    platform::DebugOutput(L"");
    platform::DebugOutput(nullptr);
    platform::DebugOutput(L"\r\n");
    EXPECT_EQ(platform::SetDebugOutputSink(previous), &CollectDebugPiece);
    platform::DebugOutput(L"not collected");
    EXPECT_EQ(g_debugPieces, (std::vector<std::wstring> {L"header", L"", L"\r\n"}));
}

TEST(CodePage, ConvertsAndCutsWholeCharacters)
{
    EXPECT_EQ(platform::WideToAnsi(L"plain ASCII 123"), "plain ASCII 123");
    EXPECT_EQ(platform::AnsiToWide("plain ASCII 123"), L"plain ASCII 123");
    EXPECT_EQ(platform::WideToAnsi(L""), "");
    // A CJK character maps neither to the Western code page nor to ASCII.
    EXPECT_EQ(platform::WideToAnsi(L"a\x4E2D" L"b"), "a?b");

    char buffer[8];
    EXPECT_EQ(platform::WideToAnsiBuffer(L"0123456789", buffer, sizeof buffer), 7u);
    EXPECT_EQ(std::string(buffer), "0123456");
    EXPECT_EQ(platform::WideToAnsiBuffer(L"ab", buffer, 1), 0u);
    EXPECT_EQ(buffer[0], '\0');

    EXPECT_FALSE(platform::IsAnsiLeadByte('A'));
    EXPECT_FALSE(platform::IsAnsiLeadByte('\r'));
    EXPECT_EQ(platform::AnsiCharLength("\r\n", 2), 1u);
    EXPECT_EQ(platform::AnsiCharLength("A", 1), 1u);
}

TEST(HResultText, SameTextsInBothBuilds)
{
    struct SCase {
        std::uint32_t hr;
        const wchar_t* text;  // null: no text
    };
    const SCase cases[] = {
        {0x80004005u, L"Call failed.\r\n"},
        {0x80070057u, L"Invalid parameter.\r\n"},
        {0x8007000Eu, L"Out of memory.\r\n"},
        {0x80004001u, L"Not implemented.\r\n"},
        {0x80070002u, L"File not found.\r\n"},
        {0x80070005u, L"Access denied.\r\n"},
        {0x80070020u, L"Sharing violation.\r\n"},
        {0x80004003u, nullptr},  // E_POINTER
        {0x80004002u, nullptr},  // E_NOINTERFACE
        {0x80040110u, nullptr},  // CLASS_E_NOAGGREGATION
        {0x80040201u, nullptr},
        {0x12345678u, nullptr},
    };
    for (const SCase& c : cases) {
        std::wstring text = L"stale";
        const bool found = platform::HResultText(static_cast<std::int32_t>(c.hr), text);
        EXPECT_EQ(found, c.text != nullptr) << std::hex << c.hr;
        EXPECT_EQ(text, c.text != nullptr ? c.text : L"") << std::hex << c.hr;
    }
}
