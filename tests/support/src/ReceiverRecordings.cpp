#include "vsktest/ReceiverRecordings.h"

#include "vsktest/PsiSections.h"
#include "vsktest/Recording.h"
#include "vsktest/TsStreamBuilder.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace vsktest {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t PACKET = 188;
constexpr std::int64_t FRAME = 3003;

std::size_t g_packets = 40000;

RecordingParams Params(std::uint64_t firstPts = 90000)
{
    RecordingParams params;
    params.packetCount = g_packets;
    params.audio = true;
    params.psiInterval = 500;
    params.firstPts = firstPts;
    return params;
}

// The units of `rec` placed at `base` bytes, playing from `play` on; all
// but the last, which never completes unless `completes`.
void AddUnits(ReceiverRecording& file, const Recording& rec, std::int64_t base, std::int64_t play, bool completes,
              std::int64_t stride = 1)
{
    const std::size_t count = rec.video.size() - (completes ? 0 : 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t ticks = static_cast<std::int64_t>(rec.video[i].pts - rec.video.front().pts);
        file.units.push_back({base + stride * static_cast<std::int64_t>(rec.video[i].unitOffset), play + ticks});
    }
}

std::int64_t LastPlay(const ReceiverRecording& file)
{
    return file.units.back().playTicks;
}

Bytes PatPacket(const std::vector<PatEntry>& entries)
{
    PatParams pat;
    pat.entries = entries;
    CTsStreamBuilder b;
    b.AddSection(TS_PID_PAT, MakePat(pat));
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

ReceiverRecording Clean()
{
    const Recording rec = MakeRecording(Params());
    ReceiverRecording f;
    f.bytes = rec.bytes;
    AddUnits(f, rec, 0, 0, false);
    return f;
}

ReceiverRecording AbsentMaps()
{
    // The maps of programs 2 and 3 never come: start-up goes on at the first
    // repeat of the association section, and the units that start behind it
    // are those the search can see.
    const Recording rec = MakeRecording(Params());
    ReceiverRecording f;
    f.bytes = rec.bytes;
    Overwrite(f.bytes, TS_PID_PAT, PatPacket({{1, 0x0100}, {2, 0x1F00}, {3, 0x1F01}}));
    std::size_t repeat = PACKET;
    while (PidAt(f.bytes, repeat) != TS_PID_PAT)
        repeat += PACKET;
    std::size_t first = 0;
    while (rec.video[first].unitOffset <= repeat)
        ++first;
    for (std::size_t i = first; i + 1 < rec.video.size(); ++i)
        f.units.push_back({static_cast<std::int64_t>(rec.video[i].unitOffset),
                           static_cast<std::int64_t>(rec.video[i].pts - rec.video[first].pts)});
    return f;
}

ReceiverRecording TwoClocks()
{
    // Program 2, listed first, runs 3,000,000,000 ticks ahead; the two
    // alternate packet by packet, program 1's first.
    RecordingParams second = Params(90000 + 3000000000ull);
    second.programNumber = 2;
    second.pmtPid = 0x0110;
    second.videoPid = 0x0210;
    second.audioPid = 0x0211;
    const Recording one = MakeRecording(Params());
    Recording two = MakeRecording(second);
    const Bytes pat = PatPacket({{2, 0x0110}, {1, 0x0100}});
    Bytes first = one.bytes;
    Overwrite(first, TS_PID_PAT, pat);
    Bytes null(PACKET, 0xFF);
    null[0] = 0x47, null[1] = 0x1F, null[2] = 0xFF, null[3] = 0x10;
    Overwrite(two.bytes, TS_PID_PAT, null);
    ReceiverRecording f;
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
ReceiverRecording EndToEnd(std::int64_t step, bool restart, bool announced, bool jumps)
{
    const Recording one = MakeRecording(Params());
    const std::uint64_t secondPts = restart ? one.video.front().pts : one.video.back().pts + step;
    Recording two = MakeRecording(Params(secondPts));
    if (announced)
        two.bytes[two.video.front().unitOffset + 5] |= 0x80;
    ReceiverRecording f;
    f.bytes = one.bytes;
    AddUnits(f, one, 0, 0, true);
    AddUnits(f, two, static_cast<std::int64_t>(one.bytes.size()), LastPlay(f) + (jumps ? FRAME : step), false);
    Append(f.bytes, two.bytes);
    // A pass that begins behind the jump cannot see it: the clock, or the
    // proportional estimate, is off by up to the jump there.
    f.estimatedFrom = static_cast<std::int64_t>(one.bytes.size());
    f.toleranceTicks = restart ? 45000 : jumps ? std::abs(step) : 0;
    f.announcedStepTicks = announced && std::abs(step) <= 5 * 90000 ? std::abs(step) : 0;
    return f;
}

ReceiverRecording DiscontinuityPackets()
{
    // Every 400th audio packet becomes a discontinuity information packet:
    // the video unit under way there is dropped, so an answer may be a unit
    // or two earlier than on the clean file.
    ReceiverRecording f = Clean();
    f.toleranceTicks = 2 * FRAME;
    std::size_t audio = 0;
    for (std::size_t at = 0; at + PACKET <= f.bytes.size(); at += PACKET) {
        if (PidAt(f.bytes, at) == 0x0201 && ++audio % 400 == 0)
            f.bytes[at + 1] = static_cast<std::uint8_t>(f.bytes[at + 1] & 0xE0), f.bytes[at + 2] = 0x1E;
    }
    return f;
}

// Video, then four times as long with only the tables and audio.
ReceiverRecording LongTailWithoutVideo()
{
    ReceiverRecording f = Clean();
    CTsStreamBuilder tail;
    PmtParams pmt;
    pmt.pcrPid = 0x0200;
    pmt.streams = {{0x02, 0x0200, {}}, {0x04, 0x0201, {}}};
    const std::size_t packets = 4 * f.bytes.size() / PACKET;
    while (tail.PacketCount() < packets) {
        tail.AddSection(TS_PID_PAT, MakePat(PatParams{1, 0, true, 0, 0, {{1, 0x0100}}}));
        tail.AddSection(0x0100, MakePmt(pmt));
        tail.AddNull(498);
    }
    Append(f.bytes, tail.Bytes());
    return f;
}

}  // namespace

std::vector<ReceiverRecording> MakeReceiverRecordings(std::size_t packetCount)
{
    g_packets = packetCount;
    struct SCase {
        const char* name;
        std::function<ReceiverRecording()> make;
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
    std::vector<ReceiverRecording> made;
    for (const SCase& c : cases) {
        made.push_back(c.make());
        made.back().name = c.name;
    }
    return made;
}

}  // namespace vsktest
