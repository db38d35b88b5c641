#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dedazodu/Format.h"
#include "dedazodu/OutputLogSystem.h"
#include "log_test_support.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/sync.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

std::wstring F(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::wstring text = FormatV(LOG_MESSAGE_CHARS, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

// One caller's format prints the same in both builds: the meaning the
// Windows runtime's wide formatting gives it.
TEST(Format, WindowsMeaningOfTheFormatInEveryBuild)
{
    int count = 0;
    const struct {
        std::wstring got;
        std::wstring expected;
    } cases[] = {
        {F(L"%s|%ls|%ws", L"wide", L"w2", L"w3"), L"wide|w2|w3"},
        {F(L"%hs|%S", "narrow", "n2"), L"narrow|n2"},
        {F(L"%c%hc%C%lc", L'W', 'n', 'N', L'x'), L"WnNx"},
        {F(L"[%s][%hs][%S]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr),
           static_cast<const char*>(nullptr)),
         L"[(null)][(null)][(null)]"},
        {F(L"%5s|%-5s|%.2s|%5.1hs|%*s|%-*d|%.*s", L"ab", L"ab", L"abc", "xyz", 4, L"a", 3, 7, 1, L"qr"),
         L"   ab|ab   |ab|    x|   a|7  |q"},
        {F(L"%05d|%+d|%x|%X|%#o|%u", 42, 5, 255, 255, 8, 3000000000u), L"00042|+5|ff|FF|010|3000000000"},
        {F(L"%I64d|%lld|%I32u|%hhd|%hd|%zu|%Iu|%ld", -5000000000LL, 6000000000LL, 7u, 300, 70000,
           std::size_t {8}, std::size_t {9}, 10L),
         L"-5000000000|6000000000|7|44|4464|8|9|10"},
        {F(L"%.3f|%e|%g", 1.5, 0.5, 0.25), L"1.500|5.000000e-01|0.25"},
        {F(L"%p", reinterpret_cast<void*>(std::uintptr_t {0x1234})),
         std::wstring(2 * sizeof(void*) - 4, L'0') + L"1234"},
        {F(L"100%% %q"), L"100% %q"},
        {F(L"a%nb", &count), L"a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
}

// Arguments of any length are cut at the line's capacity without memory of
// their own; narrow text keeps going past bytes the code page cannot convert.
TEST(Format, LongArgumentsAreCutAndBadBytesReplaced)
{
    const std::string huge(17000000, 'n');
    EXPECT_EQ(F(L"%hs", huge.c_str()), std::wstring(1023, L'n'));
    EXPECT_EQ(F(L"<%10s", std::wstring(2000000, L'w').c_str()), L"<" + std::wstring(1022, L'w'));
    EXPECT_EQ(Format(LOG_HEADER_CHARS, L"%hs", huge.c_str()).size(), LOG_HEADER_CHARS);
    EXPECT_EQ(F(L"%2000d|", 1), std::wstring(1023, L' '));

    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char text[] = {'a', static_cast<char>(byte), 'z', '\0'};
        const std::wstring line = F(L"%hs|%s", text, L"rest");
        ASSERT_EQ(line.size(), 8u) << byte;
        EXPECT_EQ(line.substr(0, 1) + line.substr(2), L"az|rest") << byte;
        // Either the byte's own character or U+FFFD, never a lost line.
        const wchar_t shown = line[1];
        if (shown != L'\xFFFD') {
            EXPECT_EQ(platform::WideToAnsi(std::wstring(1, shown)), std::string(1, static_cast<char>(byte)));
        }
    }
}

TEST(Format, LogOperationsCutFormattedTextAndPrintNullArgumentsAsTheRuntimeDoes)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    auto factory = Common::CRef<CCaptureFactory>::Attach(Common::New<CCaptureFactory>());
    auto info = MakeInfo(factory.Get());
    info->State()->AddFilter(L"S", 0, 4);
    COutputLogSystem system(UniqueName(L"trace").c_str(), info.Get(), path.c_str(), 0xA00000, false);
    platform::CNamedMutex banner;  // no banner: only the lines under test
    ASSERT_TRUE(banner.Create(COutputLogSystem::BannerMutexName(platform::CurrentProcessId(), path).c_str()));

    const std::string huge(17000000, 'h');
    system.Print(L"%hs", huge.c_str());
    system.PrintSubject(L"S", 1, L"%s", std::wstring(1500, L'p').c_str());
    system.Dump(nullptr, "", 0, 16);
    system.ErrorPrint(L"%hs", huge.c_str());
    system.ErrorPrintCode(1, 0, L"T", L"%hs", huge.c_str());
    system.ErrorWriteCode(2, 0, nullptr, nullptr);

    const std::vector<std::wstring> trace = factory->Capture().Lines();
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(WithoutTraceHeader(trace[0]), std::wstring(1023, L'h'));
    EXPECT_EQ(WithoutTraceHeader(trace[1]), std::wstring(1023, L'p'));
    EXPECT_EQ(WithoutTraceHeader(trace[3]), L"\x2503[(null)]");
    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u);
    const auto text = [](const std::string& line) { return line.substr(line.find("] ", 25) + 2); };
    EXPECT_EQ(text(lines[0]), std::string(1023, 'h'));
    EXPECT_EQ(text(lines[1]), "00001:[T] " + std::string(1023 - 10, 'h'));
    EXPECT_EQ(text(lines[2]), "00002:[(null)] (null)");
}
