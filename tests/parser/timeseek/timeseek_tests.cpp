// The time-seek search on files written by the test: the checks ahead of
// any reading, where a pass starts, the answer on streams whose expected
// answer is known from how they were built (in decode order, across the
// wrap of the clock, with pictures before the first one), the pass that
// starts past the request, and the library's exports.
#include "TimeSeek.h"
#include "VskMpegParser.h"

#include "platform/file.h"
#include "vsktest/PesPacket.h"
#include "vsktest/PsiSections.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/TestLibrary.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t OK = VSK_PARSER_RESULT_OK;
constexpr std::int32_t INVALIDARG = VSK_PARSER_RESULT_INVALIDARG;
constexpr std::int32_t FAIL = VSK_PARSER_RESULT_FAIL;
constexpr std::uint16_t PMT_PID = 0x0100;
constexpr std::uint16_t VIDEO_PID = 0x0200;
constexpr std::uint16_t AUDIO_PID = 0x0201;
constexpr std::uint32_t UNSET_TIME = 0xFFFFFFFFu;
constexpr std::int64_t UNSET_POSITION = -1;

struct SAnswer {
    std::int32_t result = 0;
    std::uint32_t timeMs = UNSET_TIME;
    std::int64_t position = UNSET_POSITION;
    STimeSeekStats stats;
};

SAnswer SeekBy(ESeekReading reading, const std::wstring& path, std::uint32_t durationMs, std::uint32_t timeMs)
{
    SAnswer a;
    a.result =
        FindTimeSeekPosition(path.c_str(), durationMs, timeMs, false, &a.timeMs, &a.position, &a.stats, reading);
    return a;
}

// Every search runs twice: the header scan must answer exactly as the
// demultiplexer alone does.
SAnswer Seek(const std::wstring& path, std::uint32_t durationMs, std::uint32_t timeMs)
{
    const SAnswer a = SeekBy(ESeekReading::HeaderScan, path, durationMs, timeMs);
    const SAnswer plain = SeekBy(ESeekReading::Demultiplex, path, durationMs, timeMs);
    EXPECT_EQ(a.result, plain.result) << "request " << timeMs << " ms";
    EXPECT_EQ(a.timeMs, plain.timeMs) << "request " << timeMs << " ms";
    EXPECT_EQ(a.position, plain.position) << "request " << timeMs << " ms";
    EXPECT_EQ(plain.stats.scannedPasses, 0u);
    return a;
}

// A transport stream of one program: video units in the given PTS order
// (decode order), each two packets long, an audio unit after each video
// unit, and a last video unit that never completes.
struct SBuiltStream {
    Bytes bytes;
    std::vector<std::int64_t> videoOffsets;  // offset of each video unit
};

SBuiltStream BuildStream(const std::vector<std::uint64_t>& videoPts, bool audio = true, bool ptsOnVideo = true)
{
    vsktest::CTsStreamBuilder b;
    b.AddNull(5);
    vsktest::PatParams pat;
    pat.entries = {{1, PMT_PID}};
    b.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
    vsktest::PmtParams pmt;
    pmt.pcrPid = VIDEO_PID;
    pmt.streams = {{0x02, VIDEO_PID, {}}, {0x04, AUDIO_PID, {}}};
    b.AddSection(PMT_PID, vsktest::MakePmt(pmt));
    SBuiltStream out;
    for (const std::uint64_t pts : videoPts) {
        vsktest::PesParams v;
        if (ptsOnVideo)
            v.pts = pts;
        v.payload.assign(300, 0x11);
        v.unbounded = true;
        out.videoOffsets.push_back(static_cast<std::int64_t>(b.UnitOffset(b.AddPes(VIDEO_PID, vsktest::MakePes(v)))));
        if (audio) {
            vsktest::PesParams a;
            a.streamId = 0xC0;
            // Audio time stamps far beyond any request never end the search.
            a.pts = pts + 90000000;
            a.payload.assign(100, 0x22);
            b.AddPes(AUDIO_PID, vsktest::MakePes(a));
        }
    }
    vsktest::PesParams last;
    last.pts = 1;
    last.unbounded = true;
    last.payload.assign(10, 0x11);
    b.AddPes(VIDEO_PID, vsktest::MakePes(last));
    out.bytes = b.Take();
    return out;
}

TEST(TimeSeekTest, ArgumentsAreCheckedBeforeTheFileIsTouched)
{
    vsktest::CTempDir dir;
    const std::wstring missing = dir.File(L"missing.ts");
    const std::wstring junk = dir.WriteFile("junk.ts", Bytes(200000, 0x33)).wstring();
    const std::wstring audioOnly = dir.WriteFile("audio.ts", BuildStream({1000, 4000}, true, false).bytes).wstring();
    std::uint32_t t = UNSET_TIME;
    std::int64_t p = UNSET_POSITION;

    EXPECT_EQ(FindTimeSeekPosition(missing.c_str(), 0, 1000, false, nullptr, nullptr), INVALIDARG);
    EXPECT_EQ(FindTimeSeekPosition(missing.c_str(), 1000, 500, false, nullptr, &p), VSK_PARSER_RESULT_POINTER);
    EXPECT_EQ(FindTimeSeekPosition(missing.c_str(), 1000, 500, false, &t, nullptr), VSK_PARSER_RESULT_POINTER);
    EXPECT_EQ(FindTimeSeekPosition(missing.c_str(), 1000, 500, true, &t, &p), INVALIDARG);
    EXPECT_EQ(t, UNSET_TIME);
    EXPECT_EQ(p, UNSET_POSITION);

    struct SCase {
        const char* name;
        std::wstring path;
        std::uint32_t timeMs;
        std::int32_t result;
        std::uint32_t foundMs;
        std::int64_t position;
    };
    const std::vector<SCase> cases = {
        {"time 0 does not open the file", missing, 0, OK, 0, 0},
        {"a missing file", missing, 500, INVALIDARG, UNSET_TIME, UNSET_POSITION},
        {"a null path", std::wstring(), 500, INVALIDARG, UNSET_TIME, UNSET_POSITION},
        {"bytes of no known kind", junk, 500, FAIL, UNSET_TIME, UNSET_POSITION},
        {"no video unit with a time stamp", audioOnly, 500, OK, 0, 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SAnswer a;
        a.result = FindTimeSeekPosition(c.path.empty() ? nullptr : c.path.c_str(), 1000, c.timeMs, false, &a.timeMs,
                                        &a.position);
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.timeMs, c.foundMs);
        EXPECT_EQ(a.position, c.position);
    }
}

// A read that fails is a failure of the search, not the end of the file.
TEST(TimeSeekTest, AFailingReadFailsTheSearch)
{
    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("seek.ts", BuildStream({1000, 4600, 8200}).bytes).wstring();
    SAnswer a;
    {
        const platform::CReadFailureScope failingReads;
        a = Seek(path, 1000, 50);
    }
    EXPECT_EQ(a.result, FAIL);
    EXPECT_EQ(a.timeMs, UNSET_TIME);
    EXPECT_EQ(a.position, UNSET_POSITION);
    EXPECT_EQ(Seek(path, 1000, 50).result, OK);
}

TEST(TimeSeekTest, ThePassStartsInProportionFiveMebibytesEarly)
{
    struct SCase {
        std::int64_t size;
        std::uint32_t durationMs;
        std::uint32_t timeMs;
        std::int64_t offset;
    };
    const std::vector<SCase> cases = {
        {104857600, 100000, 50000, 47185920},  // 104,857,600 / 100,000 x 50,000 - 5,242,880
        {104857600, 100000, 5000, 0},          // less than 5 MiB worth of time
        {10000000, 1000, 999, 9990000 - 5242880},
        {10000000, 1000, 5000, 10000000},       // a time beyond the duration: the end of the file
        {10000000, 1, 0xFFFFFFFFu, 10000000},   // far beyond: still the end, no overflow
        {0, 1000, 500, 0},
        {INT64_MAX, 1, 2, INT64_MAX},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " / " << c.durationMs << " x " << c.timeMs);
        EXPECT_EQ(TimeSeekStartOffset(c.size, c.durationMs, c.timeMs), c.offset);
    }
}

TEST(TimeSeekTest, TimeStampsAreComparedAsDistancesAcrossTheWrap)
{
    constexpr std::uint64_t WRAP = std::uint64_t{1} << 33;
    struct SCase {
        std::uint64_t pts, first;
        std::int64_t distance;
    };
    const std::vector<SCase> cases = {
        {4600, 1000, 3600},
        {1000, 4600, -3600},
        {100, WRAP - 100, 200},                                     // across the wrap
        {WRAP - 100, 100, -200},                                    // before the first, across the wrap
        {(std::uint64_t{1} << 30) + 5, 5, std::int64_t{1} << 30},  // far after
        {5, (std::uint64_t{1} << 30) + 5, -(std::int64_t{1} << 30)},
        {5, (std::uint64_t{1} << 30) + 6, static_cast<std::int64_t>(WRAP - (std::uint64_t{1} << 30) - 1)},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pts << " from " << c.first);
        EXPECT_EQ(PtsDistance(c.pts, c.first), c.distance);
    }
}

// Decode-order time stamps and the request; the answer is the unit examined
// just before the first one whose time stamp lies beyond first + request.
TEST(TimeSeekTest, TheUnitBeforeTheFirstBeyondTheRequestAnswers)
{
    constexpr std::uint64_t WRAP = std::uint64_t{1} << 33;
    struct SCase {
        const char* name;
        std::vector<std::uint64_t> pts;
        std::uint32_t timeMs;
        std::size_t unit;
        std::uint32_t foundMs;
    };
    const std::vector<SCase> cases = {
        {"60 ms into 1000, 4600, 8200", {1000, 4600, 8200, 11800}, 60, 1, 40},
        {"before the second unit", {1000, 4600, 8200, 11800}, 39, 0, 0},
        {"exactly on a unit", {1000, 4600, 8200, 11800}, 40, 1, 40},
        {"past the last unit examined", {1000, 4600, 8200, 11800}, 100000, 3, 120},
        {"B pictures before the first picture", {7006, 1000, 4003, 16015, 10009, 13012}, 10, 2, 0},
        {"B pictures after the request", {7006, 1000, 4003, 16015, 10009, 13012}, 70, 2, 0},
        {"across the wrap of the clock", {WRAP - 9000, WRAP - 5400, WRAP - 1800, 1800, 5400}, 120, 3, 120},
    };
    vsktest::CTempDir dir;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SBuiltStream s = BuildStream(c.pts);
        const std::wstring path = dir.WriteFile("seek.ts", s.bytes).wstring();
        const SAnswer a = Seek(path, 1000, c.timeMs);
        EXPECT_EQ(a.result, OK);
        EXPECT_EQ(a.position, s.videoOffsets[c.unit]);
        EXPECT_EQ(a.timeMs, c.foundMs);
        EXPECT_EQ(a.stats.passes, 2u);
    }
}

// Recordings of steady rate: every answer is the model's, whether the pass
// starts at the beginning (less than 5 MiB worth of time) or far into the
// file, and each call reads only from a little before the estimate.
TEST(TimeSeekTest, AnswersOnSteadyRecordingsFollowTheModel)
{
    vsktest::RecordingParams params;
    params.packetCount = 80000;  // 15 MB
    params.audio = true;
    params.psiInterval = 500;
    params.firstPts = (std::uint64_t{1} << 33) - 90000 * 10;  // the clock wraps 10 s in
    const vsktest::Recording rec = vsktest::MakeRecording(params);
    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("steady.ts", rec.bytes).wstring();
    const std::uint64_t first = rec.video.front().pts;
    const std::int64_t size = static_cast<std::int64_t>(rec.bytes.size());
    // The last unit never completes, so it is never examined.
    const std::size_t examined = rec.video.size() - 1;
    const std::int64_t lastTicks = PtsDistance(rec.video[examined - 1].pts, first);
    const std::uint32_t durationMs = static_cast<std::uint32_t>(lastTicks / 90 + 40);

    for (std::uint32_t timeMs = 7; timeMs < durationMs + 500; timeMs += durationMs / 23) {
        SCOPED_TRACE(timeMs);
        std::size_t expected = 0;
        while (expected + 1 < examined && PtsDistance(rec.video[expected + 1].pts, first) <= std::int64_t{timeMs} * 90)
            ++expected;
        const SAnswer a = Seek(path, durationMs, timeMs);
        ASSERT_EQ(a.result, OK);
        EXPECT_EQ(a.position, static_cast<std::int64_t>(rec.video[expected].unitOffset));
        EXPECT_EQ(a.timeMs, static_cast<std::uint32_t>(PtsDistance(rec.video[expected].pts, first) / 90));
        // The start pass reads one piece; the seek pass from 5 MiB before the
        // estimate to one unit past the answer.
        const std::int64_t from = TimeSeekStartOffset(size, durationMs, timeMs);
        EXPECT_EQ(a.stats.passes, 2u);
        EXPECT_LE(a.stats.bytesRead,
                  static_cast<std::uint64_t>(0x10000 + (std::min(size, a.position + 0x30000) - from) + 0x10000));
    }
}

// A recording whose first half carries the video and whose second half is
// filler: the estimate lands behind the requested moment, so the pass is
// run again from further back.
TEST(TimeSeekTest, APassThatStartsPastTheRequestIsRunAgainFromFurtherBack)
{
    std::vector<std::uint64_t> pts;
    for (std::uint64_t i = 0; i < 200; ++i)
        pts.push_back(90000 + i * 3003);
    SBuiltStream s = BuildStream(pts);
    // 4,000 ms lies between unit 119 (357,357 ticks) and unit 120 (360,360).
    const std::int64_t unit119 = s.videoOffsets[119];
    vsktest::CTsStreamBuilder filler;
    filler.AddNull(12u << 20 >> 7);
    s.bytes.insert(s.bytes.end(), filler.Bytes().begin(), filler.Bytes().end());
    // Four late units, and the tables they need, after the filler.
    const SBuiltStream tail = BuildStream({90000 + 300 * 3003, 90000 + 301 * 3003, 90000 + 302 * 3003});
    s.bytes.insert(s.bytes.end(), tail.bytes.begin(), tail.bytes.end());
    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("uneven.ts", s.bytes).wstring();

    const SAnswer a = Seek(path, 10100, 4000);
    ASSERT_EQ(a.result, OK);
    EXPECT_EQ(a.position, unit119);
    EXPECT_EQ(a.timeMs, 119u * 3003 / 90);
    EXPECT_GE(a.stats.passes, 3u);
}

// A pass that would start a few hundred bytes before the end (a request
// beyond the duration) has too little to tell the kind of stream from: it
// is run again from further back, where it answers.
TEST(TimeSeekTest, APassThatStartsTooLateToTellTheKindIsRunAgain)
{
    vsktest::RecordingParams params;
    params.packetCount = 33500;
    params.psiInterval = 500;
    const vsktest::Recording rec = vsktest::MakeRecording(params);
    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("late.ts", rec.bytes).wstring();
    const std::int64_t size = static_cast<std::int64_t>(rec.bytes.size());
    constexpr std::uint32_t DURATION = 100000;
    const std::uint32_t timeMs =
        static_cast<std::uint32_t>((size - 500 + TIME_SEEK_LEAD_BYTES) * DURATION / size);
    const std::int64_t from = TimeSeekStartOffset(size, DURATION, timeMs);
    ASSERT_GT(from, size - 900);
    ASSERT_LT(from, size);

    const SAnswer a = Seek(path, DURATION, timeMs);
    ASSERT_EQ(a.result, OK);
    EXPECT_GE(a.stats.passes, 3u);
    // Far beyond the last picture: the last unit examined answers.
    EXPECT_EQ(a.position, static_cast<std::int64_t>(rec.video[rec.video.size() - 2].unitOffset));
}

// A file another process holds open for writing is not opened: the search
// opens with read sharing only.
TEST(TimeSeekTest, AFileOpenForWritingIsRefused)
{
    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("busy.ts", BuildStream({1000, 4600, 8200}).bytes).wstring();
    platform::CFile writer;
    ASSERT_TRUE(writer.Open(path.c_str(), platform::EFileMode::WRITE_SHARE_READ));
    EXPECT_EQ(Seek(path, 1000, 50).result, INVALIDARG);
    writer.Close();
    EXPECT_EQ(Seek(path, 1000, 50).result, OK);
}

// The library as the component loads it: by path, both entry points looked
// up by name.
TEST(ExportsTest, TheLibraryCreatesParserObjectsAndSearches)
{
    const std::filesystem::path configured(VSK_PARSER_LIBRARY_FILE);
    vsktest::CTestLibrary library(vsktest::LocateBuildOutput("parser", configured.filename(), configured));
    ASSERT_TRUE(library.Loaded()) << library.LastError();
    const auto create = library.Function<PfnCreateVskMpegParser>(VSK_PARSER_EXPORT_CREATE);
    const auto seek = library.Function<PfnGetTimeSeekPosition>(VSK_PARSER_EXPORT_TIME_SEEK);
    ASSERT_NE(create, nullptr);
    ASSERT_NE(seek, nullptr);

    EXPECT_EQ(create(nullptr), VSK_PARSER_RESULT_POINTER);
    IVskMpegParser* object = nullptr;
    ASSERT_EQ(create(&object), OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetInterfaceVersion(), VSK_PARSER_INTERFACE_VERSION);
    vsktest::CTempDir dir;
    const SBuiltStream s = BuildStream({1000, 4600, 8200, 11800});
    const std::wstring path = dir.WriteFile("object.ts", s.bytes).wstring();
    std::uint32_t t = 0;
    std::int64_t p = 0;
    EXPECT_EQ(object->FindTimeSeekPosition(path.c_str(), 1000, 60, false, &t, &p), OK);
    EXPECT_EQ(p, s.videoOffsets[1]);
    EXPECT_EQ(object->ReleaseParser(), OK);
    t = 0;
    p = 0;
    EXPECT_EQ(seek(path.c_str(), 1000, 60, false, &t, &p), OK);
    EXPECT_EQ(t, 40u);
    EXPECT_EQ(p, s.videoOffsets[1]);
}

}  // namespace
}  // namespace parser
