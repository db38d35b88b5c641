#include <gtest/gtest.h>

#include <cstdint>

#include "dedazodu/Levels.h"
#include "dedazodu/OutputLogSystem.h"
#include "log_test_support.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

const std::wstring TOP = L"\x2530";
const std::wstring BODY = L"\x2503";
const std::wstring BOTTOM = L"\x2538";
const std::wstring RULER16 = L" 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F ";
const std::wstring DASHES16 = L" ------------------------ ------------------------";

std::wstring Blanks(std::size_t n)
{
    return std::wstring(n, L' ');
}

// Runs one dump on a fresh trace log and returns its result and its lines
// without headers.
struct SDump {
    int result;
    std::vector<std::wstring> lines;
    int lockDepthAfter;
};

SDump RunDump(const wchar_t* title, const void* data, std::uint32_t size, std::uint32_t lineSize)
{
    auto factory = Common::CRef<CCaptureFactory>::Attach(Common::New<CCaptureFactory>());
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"dump").c_str(), info.Get(), L"", 0, false);
    SDump dump;
    dump.result = system.Dump(title, data, size, lineSize);
    for (const std::wstring& line : factory->Capture().Lines()) {
        dump.lines.push_back(WithoutTraceHeader(line));
    }
    dump.lockDepthAfter = factory->Capture().LockDepth();
    return dump;
}

}  // namespace

TEST(Dump, EmptyRangeGivesFrameAndRulers)
{
    const SDump dump = RunDump(L"empty", "", 0, 16);
    EXPECT_EQ(dump.result, 0);
    EXPECT_EQ(dump.lines, (std::vector<std::wstring> {TOP, BODY + L"[empty]", BODY, BODY + RULER16, BODY + DASHES16,
                                                      BOTTOM}));
    EXPECT_EQ(dump.lockDepthAfter, 0);
}

TEST(Dump, TwentyBytesAtSixteenPerLine)
{
    const char data[] = "ABCDEFGHIJKLMNOPQRST";
    const SDump dump = RunDump(L"t", data, 20, 16);
    ASSERT_EQ(dump.lines.size(), 8u);
    EXPECT_EQ(dump.lines[5],
              BODY + L" 41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50 " + L"    " + L"ABCDEFGHIJKLMNOP");
    // 4 bytes, 12 three-blank fillers (with the blank before column 8), 12 trailing blanks.
    EXPECT_EQ(dump.lines[6], BODY + L" 51 52 53 54 " + Blanks(12) + L" " + Blanks(24) + L"    " + L"QRST" + Blanks(12));
    EXPECT_EQ(dump.lines[7], BOTTOM);
}

TEST(Dump, OneBytePerLineAndBlankedControlBytes)
{
    const unsigned char data[] = {0x41, 0x00, 0x0D, 0x42};
    SDump dump = RunDump(L"one", data, 4, 1);
    ASSERT_EQ(dump.lines.size(), 10u);
    EXPECT_EQ(dump.lines[3], BODY + L" 00 ");
    EXPECT_EQ(dump.lines[4], BODY + L" ---");
    EXPECT_EQ(dump.lines[5], BODY + L" 41     A");
    EXPECT_EQ(dump.lines[6], BODY + L" 00      ");
    EXPECT_EQ(dump.lines[7], BODY + L" 0D      ");
    EXPECT_EQ(dump.lines[8], BODY + L" 42     B");

    dump = RunDump(L"four", data, 4, 4);
    ASSERT_EQ(dump.lines.size(), 7u);
    EXPECT_EQ(dump.lines[5], BODY + L" 41 00 0D 42     A  B");

    // Every blanked value, and neighbours that pass.
    const unsigned char controls[] = {0, 7, 8, 9, 10, 12, 13, 11, 0x20, 0x7E};
    dump = RunDump(L"c", controls, 10, 10);
    ASSERT_EQ(dump.lines.size(), 7u);
    EXPECT_EQ(dump.lines[5], BODY + L" 00 07 08 09 0A 0C 0D 0B  20 7E " + L"    " + L"       \x000B ~");
}

TEST(Dump, LineSizeOutOfRange)
{
    for (std::uint32_t lineSize : {0u, 65u, 1000u}) {
        const SDump dump = RunDump(L"bad", "abc", 3, lineSize);
        EXPECT_EQ(dump.result, LOG_E_INVALIDARG);
        EXPECT_EQ(dump.lines,
                  (std::vector<std::wstring> {TOP, BODY + L"[bad]",
                                              BODY + L"Invalided Parameter : nLineSize == 0 || nLineSize > 64", BOTTOM}));
        EXPECT_EQ(dump.lockDepthAfter, 0);
    }
    const unsigned char wide[64] = {};
    const SDump dump = RunDump(L"widest", wide, 64, 64);
    EXPECT_EQ(dump.result, 0);
    ASSERT_EQ(dump.lines.size(), 7u);
    // 8 group blanks, 64 columns of 3, four blanks, 64 blanked characters.
    EXPECT_EQ(dump.lines[5].size(), 1u + 8 + 64 * 3 + 4 + 64);
}

TEST(Dump, UnreadableRangeIsReportedWithoutReadingIt)
{
    const void* unreadable[] = {nullptr, reinterpret_cast<const void*>(std::uintptr_t {16})};
    for (const void* data : unreadable) {
        // The pointer test comes first, even before an invalid line size.
        for (std::uint32_t lineSize : {16u, 0u}) {
            const SDump dump = RunDump(L"bad", data, 16, lineSize);
            EXPECT_EQ(dump.result, LOG_E_POINTER);
            EXPECT_EQ(dump.lines,
                      (std::vector<std::wstring> {TOP, BODY + L"[bad]", BODY + L"Bad read Pointer.", BOTTOM}));
        }
    }
    // Nothing to read: not a bad pointer.
    EXPECT_EQ(RunDump(L"none", nullptr, 0, 16).result, 0);
}
