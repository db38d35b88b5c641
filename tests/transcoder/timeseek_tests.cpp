// With the parser library present (the stand-in, steered through the
// environment): seeking by play time, and target flag 2 now required by the
// acceptance rows.
#include "ConverterTesting.h"

#include "AppLogCapture.h"
#include "frame/ErrorBoundary.h"
#include "vsktest/Environment.h"
#include "vsktest/StandIn.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using namespace transcodertest;
using vsktest::CScopedEnvironment;

constexpr VARIANT_BOOL T = VARIANT_TRUE;
constexpr VARIANT_BOOL F = VARIANT_FALSE;
constexpr ULONG DURATION = 600000;

struct STimeSeek {
    HRESULT hr = E_UNEXPECTED;
    ULONG actual = 0x12345678;
    LONGLONG position = 0x12345678;
};

class TimeSeekTest : public ::testing::Test {
protected:
    STimeSeek SeekByTime(ULONG timeMs, IVskMediaTranscoder* converter = nullptr)
    {
        STimeSeek s;
        s.hr = (converter ? converter : m_converter.p)->SeekByTime(timeMs, &s.actual, &s.position);
        return s;
    }
    std::vector<vsktest::StandInSeekCall> Calls() const { return vsktest::ReadStandInLog(m_log); }
    Bytes ReadFromStart(LONG count)
    {
        EXPECT_EQ(m_converter->Start(), S_OK);
        return ReadOnce(m_converter, count).bytes;
    }

    vsktest::CTempDir m_dir;
    std::filesystem::path m_log = m_dir / "seeks.log";
    CScopedEnvironment m_logSetting{vsktest::STANDIN_ENV_LOG, m_log};
    CScopedEnvironment m_noResult{vsktest::STANDIN_ENV_SEEK_RESULT};
    CScopedEnvironment m_noFound{vsktest::STANDIN_ENV_SEEK_FOUND_MS};
    CScopedEnvironment m_noPosition{vsktest::STANDIN_ENV_SEEK_POSITION};
    // 60 packets and 100 bytes of a 61st: 11620 bytes.
    SStream m_stream = WriteStampedStream(m_dir / "stamped.m2ts", 60, 100);
    Bytes m_cleared = WithPrefixesCleared(m_stream.bytes);
    CComPtr<IVskMediaTranscoder> m_converter = NewConverter();
};

TEST_F(TimeSeekTest, AsksTheLibraryAndGoesToThePacketItFound)
{
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    CScopedEnvironment position(vsktest::STANDIN_ENV_SEEK_POSITION, "1000");
    const STimeSeek s = SeekByTime(5000);
    EXPECT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.actual, 5000u);
    EXPECT_EQ(s.position, 960);

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, vsktest::WideFromPath(m_stream.path));
    EXPECT_EQ(calls[0].durationMs, DURATION);
    EXPECT_EQ(calls[0].timeMs, 5000u);
    EXPECT_FALSE(calls[0].flag);

    // The 40 bytes between the packet and the position found are skipped.
    EXPECT_EQ(ReadFromStart(1000), Bytes(m_cleared.begin() + 1000, m_cleared.begin() + 1920));
}

TEST_F(TimeSeekTest, FoundPositionIsClampedToTheFileThenAligned)
{
    const SStream plain = WritePlainStream(m_dir / "plain.m2ts", 60);  // 11280 bytes
    const struct {
        const char* found;
        bool stamped;
        LONGLONG reported;
        std::size_t firstByte;  // where the next read starts
    } cases[] = {
        {"1000", true, 960, 1000},
        {"384", true, 384, 384},
        {"-5", true, 0, 0},
        {"99999", true, 11520, 11620},  // the file size, aligned: nothing left to read
        {"11620", true, 11520, 11620},
        {"11600", true, 11520, 11600},
        {"1000", false, 1000, 1000},
        {"99999", false, 11280, 11280},
        {"-1", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.found) + (c.stamped ? " stamped" : " plain"));
        const SStream& stream = c.stamped ? m_stream : plain;
        ASSERT_EQ(OpenAsItem(m_converter, stream.path, c.stamped ? 29 : 27, DURATION), S_OK);
        CScopedEnvironment position(vsktest::STANDIN_ENV_SEEK_POSITION, c.found);
        const STimeSeek s = SeekByTime(1000);
        EXPECT_EQ(s.hr, S_OK);
        EXPECT_EQ(s.position, c.reported);
        // A read this short holds one packet at most, so nothing is cleared.
        const Bytes& expected = stream.bytes;
        const Bytes got = ReadFromStart(20);
        const std::size_t end = std::min(expected.size(), c.firstByte + 20);
        EXPECT_EQ(got, Bytes(expected.begin() + static_cast<std::ptrdiff_t>(std::min(c.firstByte, end)),
                             expected.begin() + static_cast<std::ptrdiff_t>(end)));
    }
}

TEST_F(TimeSeekTest, RequestedTimeIsCheckedAgainstTheDuration)
{
    const struct {
        ULONG duration;
        ULONG requested;
        HRESULT hr;
        std::optional<ULONG> asked;  // what the library is asked, if anything
    } cases[] = {
        {DURATION, 0, S_OK, 0u},
        {DURATION, 5000, S_OK, 5000u},
        {DURATION, DURATION - 1, S_OK, DURATION - 1},
        {DURATION, DURATION, S_OK, DURATION - 100},  // the very end: 100 ms before it
        {DURATION, DURATION + 1, E_INVALIDARG, std::nullopt},
        {DURATION, 0x80000000u, E_INVALIDARG, std::nullopt},
        {DURATION, 0xFFFFFFFFu, E_INVALIDARG, std::nullopt},
        {100, 100, S_OK, 0u},
        {50, 50, S_OK, 0u},  // shorter than 100 ms: the start, not a wrapped time
        {50, 51, E_INVALIDARG, std::nullopt},
        {0x7FFFFFFF, 0x7FFFFFFF, S_OK, 0x7FFFFFFFu - 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("duration " + std::to_string(c.duration) + " time " + std::to_string(c.requested));
        ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, static_cast<LONG>(c.duration)), S_OK);
        std::filesystem::remove(m_log);
        const STimeSeek s = SeekByTime(c.requested);
        EXPECT_EQ(s.hr, c.hr);
        const auto calls = Calls();
        ASSERT_EQ(calls.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(calls[0].timeMs, *c.asked);
            EXPECT_EQ(calls[0].durationMs, c.duration);
        }
    }
}

TEST_F(TimeSeekTest, FoundTimeIsReportedNoLaterThanTheDuration)
{
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    for (const auto& [found, reported] : {std::pair{"1234", 1234u}, std::pair{"600000", 600000u},
                                          std::pair{"700000", 600000u}, std::pair{"4294967295", 600000u}}) {
        SCOPED_TRACE(found);
        CScopedEnvironment setting(vsktest::STANDIN_ENV_SEEK_FOUND_MS, found);
        const STimeSeek s = SeekByTime(5000);
        EXPECT_EQ(s.hr, S_OK);
        EXPECT_EQ(s.actual, reported);
    }
}

TEST_F(TimeSeekTest, LibraryFailureIsReturnedAndMovesNothing)
{
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    ASSERT_EQ(m_converter->SeekByBytes(385), S_OK);
    for (const char* result : {"0x8007000E", "0x80070057", "0x80004005"}) {
        SCOPED_TRACE(result);
        CScopedEnvironment failure(vsktest::STANDIN_ENV_SEEK_RESULT, result);
        const STimeSeek s = SeekByTime(5000);
        EXPECT_EQ(static_cast<std::uint32_t>(s.hr), std::stoul(result, nullptr, 16));
        EXPECT_EQ(s.actual, 0x12345678u);
        EXPECT_EQ(s.position, 0x12345678);
    }
    EXPECT_EQ(ReadFromStart(1000), Bytes(m_cleared.begin() + 385, m_cleared.begin() + 1344));
}

TEST_F(TimeSeekTest, EverySeekStartsWithANewSkip)
{
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 32, DURATION), S_OK);
    {
        CScopedEnvironment position(vsktest::STANDIN_ENV_SEEK_POSITION, "1000");
        ASSERT_EQ(SeekByTime(5000).hr, S_OK);
    }
    {
        CScopedEnvironment position(vsktest::STANDIN_ENV_SEEK_POSITION, "768");
        ASSERT_EQ(SeekByTime(4000).position, 768);
    }
    EXPECT_EQ(ReadFromStart(1000), Bytes(m_cleared.begin() + 768, m_cleared.begin() + 1728));

    ASSERT_EQ(m_converter->Stop(), S_OK);
    ASSERT_EQ(m_converter->SeekByBytes(385), S_OK);
    {
        CScopedEnvironment position(vsktest::STANDIN_ENV_SEEK_POSITION, "1152");
        ASSERT_EQ(SeekByTime(6000).position, 1152);
    }
    EXPECT_EQ(ReadFromStart(1000), Bytes(m_cleared.begin() + 1152, m_cleared.begin() + 2112));
}

TEST_F(TimeSeekTest, NeedsAStoppedSourceWithKnownDuration)
{
    EXPECT_EQ(SeekByTime(0).hr, E_FAIL);  // closed

    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);
    EXPECT_EQ(SeekByTime(0).hr, E_FAIL);
    ASSERT_EQ(m_converter->Stop(), S_OK);
    EXPECT_EQ(SeekByTime(0).hr, S_OK);

    // A path source and an item without a duration know none.
    ASSERT_EQ(OpenAsPath(m_converter, m_stream.path), S_OK);
    EXPECT_EQ(SeekByTime(0).hr, E_FAIL);
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, -1), S_OK);
    EXPECT_EQ(SeekByTime(0).hr, E_FAIL);
    ASSERT_EQ(m_converter->Close(), S_OK);
    EXPECT_EQ(SeekByTime(0).hr, E_FAIL);

    // Only the successful seek above reached the library.
    EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(TimeSeekTest, NullOutputsReachNothing)
{
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    ULONG actual = 7;
    LONGLONG position = 7;
    EXPECT_EQ(m_converter->SeekByTime(1000, &actual, nullptr), E_POINTER);
    EXPECT_EQ(m_converter->SeekByTime(1000, nullptr, &position), E_POINTER);
    EXPECT_EQ(actual, 7u);
    EXPECT_EQ(position, 7);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(TimeSeekTest, MatchedRowNowNeedsFlag2True)
{
    const struct {
        VARIANT_BOOL flag1, flag2, flag3;
        HRESULT expected;
    } cases[] = {
        {F, T, T, S_OK},
        {F, F, T, E_FAIL},
        {F, 1, T, E_FAIL},  // 1 is not TRUE
        {T, T, T, E_FAIL},
        {F, T, F, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.flag1) + "," + std::to_string(c.flag2) + "," + std::to_string(c.flag3));
        CComPtr<CComObject<CHostMediaItem>> sd = MakeMediaItem(3, m_stream.path);
        CComPtr<CComObject<CHostMediaItem>> avc = MakeMediaItem(29, m_stream.path);
        EXPECT_EQ(m_converter->Open(ItemSource(static_cast<IHostMediaItem*>(sd.p)),
                                    MakeTarget(L"video/mpeg", L"MPEG_TS_SD_NA_ISO", c.flag1, c.flag2, c.flag3)),
                  c.expected);
        EXPECT_EQ(m_converter->Open(ItemSource(static_cast<IHostMediaItem*>(avc.p)),
                                    MakeTarget(L"video/vnd.dlna.mpeg-tts", L"", c.flag1, c.flag2, c.flag3,
                                               L"AVC_TS_HD_50_AC3_T")),
                  c.expected);
    }
    // Path sources and the empty-name rule do not depend on the library.
    EXPECT_EQ(OpenAsPath(m_converter, m_stream.path), S_OK);
    EXPECT_EQ(m_converter->Open(PathSource(m_stream.path), PlainTarget(L"video/mpeg", T)), E_FAIL);
    EXPECT_EQ(OpenAsItem(m_converter, m_stream.path, 3), S_OK);
}

TEST_F(TimeSeekTest, TimeBeyondTheDurationIsLoggedWithTheSeeksLine)
{
    vsktest::CAppLogCapture capture;
    ASSERT_EQ(OpenAsItem(m_converter, m_stream.path, 26, DURATION), S_OK);
    capture.Clear();
    EXPECT_EQ(SeekByTime(DURATION + 1).hr, E_INVALIDARG);
    const std::vector<std::string> logged = capture.MessagesContaining("Mpeg2TSConverter,");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "[ERR] <exception> HRESULT" + Narrow(frame::FormatHResultSuffix(E_INVALIDARG)) +
                             " {.\\Mpeg2TSConverter,904}");
}

}  // namespace
