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
constexpr std::size_t PACKET = 188;
constexpr std::int64_t FRAME = 3003;

// A video unit the search can examine, where it lies in the file and when
// it plays.
struct SModelUnit {
    std::int64_t position = 0;
    std::int64_t playTicks = 0;
};

struct SFile {
    Bytes bytes;
    std::vector<SModelUnit> units;
    // How far an answer may lie from the model's, in play time: 0 where the
    // clock tells all; more where the search must estimate, for a pass that
    // begins at or behind `estimatedFrom` (a jump it cannot see).
    std::int64_t toleranceTicks = 0;
    std::int64_t estimatedFrom = 0;
};

vsktest::RecordingParams Params(std::uint64_t firstPts = 90000)
{
    vsktest::RecordingParams params;
    params.packetCount = 40000;  // 7.5 MB, about 12 s
    params.audio = true;
    params.psiInterval = 500;
    params.firstPts = firstPts;
    return params;
}

// The units of `rec` placed at `base` bytes, playing from `play` on; all
// but the last, which never completes unless `completes`.
void AddUnits(SFile& file, const vsktest::Recording& rec, std::int64_t base, std::int64_t play, bool completes,
              std::int64_t stride = 1)
{
    const std::size_t count = rec.video.size() - (completes ? 0 : 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t ticks = static_cast<std::int64_t>(rec.video[i].pts - rec.video.front().pts);
        file.units.push_back({base + stride * static_cast<std::int64_t>(rec.video[i].unitOffset), play + ticks});
    }
}

std::int64_t LastPlay(const SFile& file)
{
    return file.units.back().playTicks;
}

Bytes PatPacket(const std::vector<vsktest::PatEntry>& entries)
{
    vsktest::PatParams pat;
    pat.entries = entries;
    vsktest::CTsStreamBuilder b;
    b.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
    return b.Take();
}

std::uint32_t PidAt(const Bytes& b, std::size_t at)
{
    return ((b[at + 1] & 0x1Fu) << 8) | b[at + 2];
}

// Writes `packet` over every packet of `pid`, keeping its continuity counter.
void Overwrite(Bytes& b, std::uint16_t pid, const Bytes& packet)
{
    for (std::size_t at = 0; at + PACKET <= b.size(); at += PACKET) {
        if (PidAt(b, at) != pid)
            continue;
        const std::uint8_t counter = b[at + 3] & 0x0F;
        std::copy(packet.begin(), packet.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        b[at + 3] = static_cast<std::uint8_t>((b[at + 3] & 0xF0) | counter);
    }
}

void Append(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

SFile Clean()
{
    const vsktest::Recording rec = vsktest::MakeRecording(Params());
    SFile f{rec.bytes, {}, 0};
    AddUnits(f, rec, 0, 0, false);
    return f;
}

SFile AbsentMaps()
{
    // The maps of programs 2 and 3 never come: start-up goes on at the first
    // repeat of the association section, and the units that start behind it
    // are those the search can see.
    const vsktest::Recording rec = vsktest::MakeRecording(Params());
    SFile f{rec.bytes, {}, 0};
    Overwrite(f.bytes, vsktest::TS_PID_PAT, PatPacket({{1, 0x0100}, {2, 0x1F00}, {3, 0x1F01}}));
    std::size_t repeat = PACKET;
    while (PidAt(f.bytes, repeat) != vsktest::TS_PID_PAT)
        repeat += PACKET;
    std::size_t first = 0;
    while (rec.video[first].unitOffset <= repeat)
        ++first;
    for (std::size_t i = first; i + 1 < rec.video.size(); ++i)
        f.units.push_back({static_cast<std::int64_t>(rec.video[i].unitOffset),
                           static_cast<std::int64_t>(rec.video[i].pts - rec.video[first].pts)});
    return f;
}

SFile TwoClocks()
{
    // Program 2, listed first, runs 3,000,000,000 ticks ahead; the two
    // alternate packet by packet, program 1's first.
    vsktest::RecordingParams second = Params(90000 + 3000000000ull);
    second.programNumber = 2;
    second.pmtPid = 0x0110;
    second.videoPid = 0x0210;
    second.audioPid = 0x0211;
    const vsktest::Recording one = vsktest::MakeRecording(Params());
    vsktest::Recording two = vsktest::MakeRecording(second);
    const Bytes pat = PatPacket({{2, 0x0110}, {1, 0x0100}});
    Bytes first = one.bytes;
    Overwrite(first, vsktest::TS_PID_PAT, pat);
    Bytes null(PACKET, 0xFF);
    null[0] = 0x47, null[1] = 0x1F, null[2] = 0xFF, null[3] = 0x10;
    Overwrite(two.bytes, vsktest::TS_PID_PAT, null);
    SFile f;
    for (std::size_t at = 0; at < first.size(); at += PACKET) {
        f.bytes.insert(f.bytes.end(), first.begin() + static_cast<std::ptrdiff_t>(at),
                       first.begin() + static_cast<std::ptrdiff_t>(at + PACKET));
        f.bytes.insert(f.bytes.end(), two.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       two.bytes.begin() + static_cast<std::ptrdiff_t>(at + PACKET));
    }
    AddUnits(f, one, 0, 0, false, 2);
    return f;
}

// A second recording behind the first, its clock starting `step` ticks
// after the first one's last unit, or again at the first one's start
// (`restart`); with `announced`, its first clock reference carries the
// discontinuity_indicator. `jumps`: the clock jumps there, by the rule.
SFile EndToEnd(std::int64_t step, bool restart, bool announced, bool jumps)
{
    const vsktest::Recording one = vsktest::MakeRecording(Params());
    const std::uint64_t secondPts = restart ? one.video.front().pts : one.video.back().pts + step;
    vsktest::Recording two = vsktest::MakeRecording(Params(secondPts));
    if (announced)
        two.bytes[two.video.front().unitOffset + 5] |= 0x80;
    SFile f{one.bytes, {}, 0};
    AddUnits(f, one, 0, 0, true);
    AddUnits(f, two, static_cast<std::int64_t>(one.bytes.size()), LastPlay(f) + (jumps ? FRAME : step), false);
    Append(f.bytes, two.bytes);
    // A pass that begins behind the jump cannot see it: the clock, or the
    // proportional estimate, is off by up to the jump there.
    f.estimatedFrom = static_cast<std::int64_t>(one.bytes.size());
    f.toleranceTicks = restart ? 45000 : jumps ? std::abs(step) : 0;
    return f;
}

SFile DiscontinuityPackets()
{
    // Every 400th audio packet becomes a discontinuity information packet:
    // the video unit under way there is dropped, so an answer may be a unit
    // or two earlier than on the clean file.
    SFile f = Clean();
    f.toleranceTicks = 2 * FRAME;
    std::size_t audio = 0;
    for (std::size_t at = 0; at + PACKET <= f.bytes.size(); at += PACKET) {
        if (PidAt(f.bytes, at) == 0x0201 && ++audio % 400 == 0)
            f.bytes[at + 1] = static_cast<std::uint8_t>(f.bytes[at + 1] & 0xE0), f.bytes[at + 2] = 0x1E;
    }
    return f;
}

// Video, then four times as long with only the tables and audio.
SFile LongTailWithoutVideo()
{
    SFile f = Clean();
    vsktest::CTsStreamBuilder tail;
    vsktest::PmtParams pmt;
    pmt.pcrPid = 0x0200;
    pmt.streams = {{0x02, 0x0200, {}}, {0x04, 0x0201, {}}};
    const std::size_t packets = 4 * f.bytes.size() / PACKET;
    while (tail.PacketCount() < packets) {
        tail.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(vsktest::PatParams{1, 0, true, 0, 0, {{1, 0x0100}}}));
        tail.AddSection(0x0100, vsktest::MakePmt(pmt));
        tail.AddNull(498);
    }
    Append(f.bytes, tail.Bytes());
    return f;
}

TEST(ReceiverRecordingsTest, AnswersFollowThePlayTimeOfTheComparedStream)
{
    struct SCase {
        const char* name;
        std::function<SFile()> make;
    };
    const std::vector<SCase> cases = {
        {"clean", Clean},
        {"association section listing absent programs", AbsentMaps},
        {"a second programme on a clock of its own", TwoClocks},
        {"two recordings end to end, the clock starting again", [] { return EndToEnd(0, true, false, true); }},
        {"the clock stepping 30 s on", [] { return EndToEnd(30 * 90000, false, false, true); }},
        {"a new time base announced 2 s on", [] { return EndToEnd(2 * 90000, false, true, true); }},
        {"the clock running on 2 s later", [] { return EndToEnd(2 * 90000, false, false, false); }},
        {"discontinuity information packets", DiscontinuityPackets},
        {"a long tail without video", LongTailWithoutVideo},
    };
    vsktest::CTempDir dir;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SFile f = c.make();
        const std::wstring path = dir.WriteFile("seek.ts", f.bytes).wstring();
        const std::int64_t size = static_cast<std::int64_t>(f.bytes.size());
        const std::uint32_t durationMs = static_cast<std::uint32_t>(LastPlay(f) / 90 + 40);
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
    vsktest::RecordingParams params = Params();
    params.packetCount = 2000;
    vsktest::Recording rec = vsktest::MakeRecording(params);
    // The video PID carries no video for the map: a private stream type.
    Overwrite(rec.bytes, 0x0100, [] {
        vsktest::PmtParams pmt;
        pmt.pcrPid = 0x0200;
        pmt.streams = {{0x06, 0x0200, {}}, {0x04, 0x0201, {}}};
        vsktest::CTsStreamBuilder b;
        b.AddSection(0x0100, vsktest::MakePmt(pmt));
        return b.Take();
    }());
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
