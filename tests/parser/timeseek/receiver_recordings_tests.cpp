// The time seek on recordings as receivers write them: a broadcast
// association section listing services that were filtered out, a second
// programme on a clock of its own, recordings end to end, a new time base,
// discontinuity information packets, a long tail without video, and a file
// without video at all. Each file is made from clean recordings whose units
// the builder reports; the expected answers follow from those units and the
// play-time rule (a jump of the clock plays one regular step after the unit
// before it), not from the parser.
#include "TimeSeek.h"
#include "VskMpegParser.h"

#include "vsktest/PsiSections.h"
#include "vsktest/ReceiverRecordings.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReceiverRecordingsTest, AnswersFollowThePlayTimeOfTheComparedStream)
{
    vsktest::CTempDir dir;
    for (const vsktest::ReceiverRecording& f : vsktest::MakeReceiverRecordings()) {
        SCOPED_TRACE(f.name);
        const std::wstring path = dir.WriteFile("seek.ts", f.bytes).wstring();
        const std::int64_t size = static_cast<std::int64_t>(f.bytes.size());
        const std::uint32_t durationMs = static_cast<std::uint32_t>(f.units.back().playTicks / 90 + 40);
        for (std::uint32_t timeMs = 300; timeMs < durationMs + 400; timeMs += durationMs / 13) {
            SCOPED_TRACE(timeMs);
            std::size_t expected = 0;
            while (expected + 1 < f.units.size() && f.units[expected + 1].playTicks <= std::int64_t{timeMs} * 90)
                ++expected;
            std::uint32_t found = 0;
            std::int64_t position = -1;
            STimeSeekStats stats;
            ASSERT_EQ(FindTimeSeekPosition(path.c_str(), durationMs, timeMs, false, &found, &position, &stats),
                      VSK_PARSER_RESULT_OK);
            std::size_t answer = 0;
            while (answer < f.units.size() && f.units[answer].position != position)
                ++answer;
            ASSERT_LT(answer, f.units.size()) << "not a video unit: " << position;
            const std::int64_t tolerance =
                TimeSeekStartOffset(size, durationMs, timeMs) >= f.estimatedFrom ? f.toleranceTicks : 0;
            EXPECT_LE(std::abs(f.units[answer].playTicks - f.units[expected].playTicks), tolerance);
            EXPECT_LE(std::abs(std::int64_t{found} * 90 - f.units[answer].playTicks), tolerance + 90);
            // Never the whole file again and again.
            EXPECT_LE(stats.bytesRead, static_cast<std::uint64_t>(size + size / 4));
        }
    }
}

TEST(ReceiverRecordingsTest, AFileWithoutVideoIsGivenUpOnAfterTheStartSpan)
{
    vsktest::RecordingParams params;
    params.packetCount = 2000;
    params.audio = true;
    params.psiInterval = 500;
    vsktest::Recording rec = vsktest::MakeRecording(params);
    // The video PID carries no video for the map: a private stream type.
    vsktest::PmtParams pmt;
    pmt.pcrPid = params.videoPid;
    pmt.streams = {{0x06, params.videoPid, {}}, {0x04, params.audioPid, {}}};
    vsktest::CTsStreamBuilder map;
    map.AddSection(params.pmtPid, vsktest::MakePmt(pmt));
    for (std::size_t at = 0; at + 188 <= rec.bytes.size(); at += 188) {
        if ((((rec.bytes[at + 1] & 0x1Fu) << 8) | rec.bytes[at + 2]) == params.pmtPid)
            std::copy(map.Bytes().begin(), map.Bytes().end(), rec.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    vsktest::CTempDir dir;
    const std::filesystem::path file = dir.WriteFile("radio.ts", rec.bytes);
    std::filesystem::resize_file(file, 48u << 20);
    std::uint32_t found = 1;
    std::int64_t position = 1;
    STimeSeekStats stats;
    ASSERT_EQ(FindTimeSeekPosition(file.wstring().c_str(), 60000, 30000, false, &found, &position, &stats),
              VSK_PARSER_RESULT_OK);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(stats.passes, 1u);
    EXPECT_EQ(stats.bytesRead, static_cast<std::uint64_t>(TIME_SEEK_START_SPAN));
}

}  // namespace
}  // namespace parser
