// The time seek and the stream probe on damaged copies of the recordings
// from other muxers than ffmpeg's, made here from the clean files, against
// ffprobe's reading of the clean recording: one table of damage kinds, each
// row naming the checks its copies must pass.
//
// What ffprobe gives is the truth about the recording: its video packets
// (PTS and position) and its streams. A damaged copy keeps the recording's
// pictures and times, so the answers on it are held to ffprobe's packets by
// the seek's own rule (the packet before the first one whose PTS exceeds the
// first packet's + t x 90), within one GOP where damage may have taken the
// unit the rule names; and what a copy's bytes say at an answer's position
// is read here, from the file, to see that the position is the start of a
// unit of the recording's video stream, at or before the requested time,
// with the time that was answered.
//
// One GOP is a second here: no recording has a longer one (the script's
// key-int-max and -g).
#include "../probe/FfprobeStreams.h"
#include "StreamProbe.h"
#include "TimeSeek.h"
#include "VskMpegParser.h"

#include "vsktest/FfmpegRecordings.h"
#include "vsktest/PsiSections.h"
#include "vsktest/TempDir.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;
using vsktest::FfmpegRecording;
using vsktest::ProbePacket;

constexpr std::int64_t GOP_MS = 1000;
constexpr std::size_t PS_PACK_SIZE = 2048;
constexpr std::uint16_t PID_PAT = 0x0000;
constexpr std::uint16_t PID_DIT = 0x001E;
// Where the second programme of the two-clock copy puts its PIDs.
constexpr std::uint16_t SECOND_PROGRAMME_PID_OFFSET = 0x0100;
constexpr std::uint64_t SECOND_CLOCK_SHIFT = 3000000000ull;
constexpr std::uint64_t PTS_MODULO = 1ull << 33;
// Requests, as parts of the duration.
constexpr double REQUESTS[] = {0.1, 0.3, 0.5, 0.7, 0.9};

std::uint16_t Pid(const std::uint8_t* packet)
{
    return static_cast<std::uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

// Where a transport packet's payload begins (past its adaptation field).
std::size_t PayloadOffset(const std::uint8_t* packet)
{
    return (packet[3] & 0x20) != 0 ? 5u + packet[4] : 4u;
}

std::uint64_t ReadTimeStamp(const std::uint8_t* at)
{
    return (std::uint64_t{at[0] & 0x0Eu} << 29) | (std::uint64_t{at[1]} << 22) | (std::uint64_t{at[2] & 0xFEu} << 14) |
           (std::uint64_t{at[3]} << 7) | (at[4] >> 1);
}

void WriteTimeStamp(std::uint8_t* at, std::uint64_t value)
{
    at[0] = static_cast<std::uint8_t>((at[0] & 0xF1) | ((value >> 29) & 0x0E));
    at[1] = static_cast<std::uint8_t>(value >> 22);
    at[2] = static_cast<std::uint8_t>((at[2] & 0x01) | ((value >> 14) & 0xFE));
    at[3] = static_cast<std::uint8_t>(value >> 7);
    at[4] = static_cast<std::uint8_t>((at[4] & 0x01) | ((value << 1) & 0xFE));
}

// The PTS of a PES header with one, MPEG-2 syntax; nullopt otherwise.
std::optional<std::uint64_t> PesPts(const std::uint8_t* pes, std::size_t available)
{
    if (available < 14 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || (pes[6] & 0xC0) != 0x80 ||
        (pes[7] & 0x80) == 0)
        return std::nullopt;
    return ReadTimeStamp(pes + 9);
}

// The recording and what ffprobe read in it.
struct SSource
{
    FfmpegRecording recording;
    Bytes bytes;
    std::uint32_t unitSize = 0;  // 188 or 192; 0 for a program stream
    std::uint16_t videoPid = 0;
    std::uint16_t pmtPid = 0;
    std::vector<std::uint16_t> programPids;  // the map's PID and every PID the map names
    vsktest::ProbeFacts facts;
    std::vector<ProbePacket> packets;
    double frameMs = 0;
    std::uint32_t durationMs = 0;  // from ffprobe's first to its latest PTS, plus a frame
};

bool IsProgramStream(const SSource& s)
{
    return s.unitSize == 0;
}

// The stride of what the lossy copy loses: transport units, or packs.
std::size_t Stride(const SSource& s)
{
    return IsProgramStream(s) ? PS_PACK_SIZE : s.unitSize;
}

SSource ReadSource(FfmpegRecording recording)
{
    SSource s;
    s.recording = recording;
    s.bytes = vsktest::ReadRecording(recording);
    s.unitSize = vsktest::RecordingUnitSize(recording);
    s.facts = vsktest::ReadProbeFacts(recording);
    s.packets = vsktest::ReadProbePackets(recording).packets;
    s.pmtPid = static_cast<std::uint16_t>(vsktest::FactNumber(s.facts, "programs.program.0.pmt_pid").value_or(0));
    s.programPids.push_back(s.pmtPid);
    for (int i = 0; !vsktest::FactText(s.facts, "streams.stream." + std::to_string(i) + ".index").empty(); ++i) {
        const std::string key = "streams.stream." + std::to_string(i) + ".";
        const auto id = static_cast<std::uint16_t>(vsktest::FactNumber(s.facts, key + "id", 16).value_or(0));
        s.programPids.push_back(id);
        if (vsktest::FactText(s.facts, key + "codec_type") == "video" && s.frameMs == 0) {
            s.videoPid = id;
            const auto rate = vsktest::FactRatio(vsktest::FactText(s.facts, key + "r_frame_rate"));
            s.frameMs = rate ? 1000.0 * rate->second / rate->first : 0;
        }
    }
    std::int64_t latest = 0;
    for (const ProbePacket& p : s.packets)
        latest = std::max(latest, PtsDistance(static_cast<std::uint64_t>(p.pts),
                                              static_cast<std::uint64_t>(s.packets.front().pts)));
    s.durationMs = static_cast<std::uint32_t>(std::lround(static_cast<double>(latest) / 90 + s.frameMs));
    return s;
}

// A damaged copy, and what a check needs to know of how it was made.
struct SCopy
{
    Bytes bytes;
    std::int64_t cut = 0;   // bytes taken off the front
    std::int64_t half = 0;  // two recordings end to end: where the second begins
};

using Damage = std::function<SCopy(const SSource&)>;

// Each transport unit (prefix and packet) of a transport stream copy.
template <typename TVisit>
void ForEachUnit(Bytes& b, std::size_t unitSize, TVisit visit)
{
    for (std::size_t at = 0; at + unitSize <= b.size(); at += unitSize)
        visit(b.data() + at, b.data() + at + (unitSize - 188));
}

SCopy Clean(const SSource& s)
{
    return {s.bytes};
}

// One unit (packet, or pack of a program stream) in 300 lost, from the
// 150th on, so the tables at the start survive.
SCopy Lossy(const SSource& s)
{
    SCopy c;
    const std::size_t stride = Stride(s);
    for (std::size_t at = 0, k = 0; at < s.bytes.size(); at += stride, ++k) {
        if (k % 300 != 150)
            c.bytes.insert(c.bytes.end(), s.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           s.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + stride, s.bytes.size())));
    }
    return c;
}

// One packet in 400 flagged with the transport error indicator and its
// bytes behind the header garbled.
SCopy Flagged(const SSource& s)
{
    SCopy c{s.bytes};
    std::size_t k = 0;
    ForEachUnit(c.bytes, s.unitSize, [&k](std::uint8_t*, std::uint8_t* packet) {
        if (k++ % 400 != 200)
            return;
        packet[1] |= 0x80;
        for (std::size_t i = 4; i < 188; ++i)
            packet[i] = static_cast<std::uint8_t>(packet[i] ^ (0xA5 + i));
    });
    return c;
}

SCopy Cut(const SSource& s)
{
    SCopy c;
    c.cut = 1000;
    c.bytes.assign(s.bytes.begin() + c.cut, s.bytes.end());
    return c;
}

SCopy EndToEnd(const SSource& s)
{
    SCopy c{s.bytes};
    c.half = static_cast<std::int64_t>(s.bytes.size());
    c.bytes.insert(c.bytes.end(), s.bytes.begin(), s.bytes.end());
    return c;
}

// `packet` replaced by the one packet that carries `section` on `pid`,
// with the continuity counter it had.
void ReplaceBySection(std::uint8_t* packet, std::uint16_t pid, const Bytes& section)
{
    vsktest::CTsStreamBuilder builder;
    builder.AddSection(pid, section);
    const Bytes made = builder.Take();
    ASSERT_EQ(made.size(), 188u) << "the section does not fit one packet";
    const std::uint8_t counter = packet[3] & 0x0F;
    std::copy(made.begin(), made.end(), packet);
    packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | counter);
}

// Every PAT lists two more programmes, whose maps never come.
SCopy PatWithAbsentProgrammes(const SSource& s)
{
    SCopy c{s.bytes};
    vsktest::PatParams pat;
    pat.entries = {{1, s.pmtPid}, {2, 0x1F00}, {3, 0x1F01}};
    const Bytes section = vsktest::MakePat(pat);
    ForEachUnit(c.bytes, s.unitSize, [&](std::uint8_t*, std::uint8_t* packet) {
        if (Pid(packet) == PID_PAT)
            ReplaceBySection(packet, PID_PAT, section);
    });
    return c;
}

// The program map of the recording as stream types and PIDs, with its
// descriptors, from its first section (one packet, as these muxers write
// it), PIDs moved by `offset`.
vsktest::PmtParams MovedMap(const SSource& s, std::uint16_t programNumber, std::uint16_t offset)
{
    vsktest::PmtParams pmt;
    pmt.programNumber = programNumber;
    for (std::size_t at = 0; at + s.unitSize <= s.bytes.size(); at += s.unitSize) {
        const std::uint8_t* packet = s.bytes.data() + at + (s.unitSize - 188);
        if (Pid(packet) != s.pmtPid || (packet[1] & 0x40) == 0)
            continue;
        const std::uint8_t* section = packet + PayloadOffset(packet) + 1 + packet[PayloadOffset(packet)];
        const std::size_t length = (section[1] & 0x0F) << 8 | section[2];
        pmt.pcrPid = static_cast<std::uint16_t>(((section[8] & 0x1F) << 8 | section[9]) + offset);
        const std::size_t infoLength = (section[10] & 0x0F) << 8 | section[11];
        pmt.programInfo.assign(section + 12, section + 12 + infoLength);
        for (std::size_t i = 12 + infoLength; i + 5 <= 3 + length - 4;) {
            const std::size_t esLength = (section[i + 3] & 0x0F) << 8 | section[i + 4];
            pmt.streams.push_back({section[i], static_cast<std::uint16_t>(((section[i + 1] & 0x1F) << 8 | section[i + 2]) + offset),
                                   Bytes(section + i + 5, section + i + 5 + esLength)});
            i += 5 + esLength;
        }
        break;
    }
    return pmt;
}

// A second programme beside the first, as a full-multiplex recording holds
// it: every packet of the recording's programme again, behind its
// original, on PIDs of its own, with its PTS, DTS and PCR 3,000,000,000
// ticks later (a clock of its own); the PAT lists both. Arrival stamps of a
// copy lie halfway to the next unit's, so they still rise.
SCopy TwoClocks(const SSource& s)
{
    SCopy c;
    vsktest::PatParams pat;
    pat.entries = {{1, s.pmtPid}, {2, static_cast<std::uint16_t>(s.pmtPid + SECOND_PROGRAMME_PID_OFFSET)}};
    const Bytes patSection = vsktest::MakePat(pat);
    const Bytes secondMap = vsktest::MakePmt(MovedMap(s, 2, SECOND_PROGRAMME_PID_OFFSET));
    const std::size_t prefix = s.unitSize - 188;
    const auto shift = [](std::uint64_t value) { return (value + SECOND_CLOCK_SHIFT) % PTS_MODULO; };
    for (std::size_t at = 0; at + s.unitSize <= s.bytes.size(); at += s.unitSize) {
        Bytes unit(s.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   s.bytes.begin() + static_cast<std::ptrdiff_t>(at + s.unitSize));
        std::uint8_t* packet = unit.data() + prefix;
        const std::uint16_t pid = Pid(packet);
        if (pid == PID_PAT)
            ReplaceBySection(packet, PID_PAT, patSection);
        c.bytes.insert(c.bytes.end(), unit.begin(), unit.end());
        if (std::find(s.programPids.begin(), s.programPids.end(), pid) == s.programPids.end())
            continue;
        if (prefix != 0 && at + 2 * s.unitSize <= s.bytes.size()) {
            const auto stamp = [&](std::size_t from) {
                return (std::uint32_t{s.bytes[from]} << 24 | std::uint32_t{s.bytes[from + 1]} << 16 |
                        std::uint32_t{s.bytes[from + 2]} << 8 | s.bytes[from + 3]);
            };
            const std::uint32_t here = stamp(at) & 0x3FFFFFFF;
            const std::uint32_t next = stamp(at + s.unitSize) & 0x3FFFFFFF;
            const std::uint32_t between = (here + (((next - here) & 0x3FFFFFFF) / 2)) & 0x3FFFFFFF;
            const std::uint32_t word = (stamp(at) & 0xC0000000u) | between;
            for (int i = 0; i < 4; ++i)
                unit[i] = static_cast<std::uint8_t>(word >> (24 - 8 * i));
        }
        packet[1] = static_cast<std::uint8_t>((packet[1] & 0xE0) | ((pid + SECOND_PROGRAMME_PID_OFFSET) >> 8));
        packet[2] = static_cast<std::uint8_t>(pid + SECOND_PROGRAMME_PID_OFFSET);
        if (pid == s.pmtPid) {
            if ((packet[1] & 0x40) != 0)
                ReplaceBySection(packet, static_cast<std::uint16_t>(pid + SECOND_PROGRAMME_PID_OFFSET), secondMap);
        } else {
            if ((packet[3] & 0x20) != 0 && packet[4] >= 7 && (packet[5] & 0x10) != 0) {
                std::uint8_t* pcr = packet + 6;
                const std::uint64_t base = std::uint64_t{pcr[0]} << 25 | std::uint64_t{pcr[1]} << 17 |
                                           std::uint64_t{pcr[2]} << 9 | std::uint64_t{pcr[3]} << 1 | pcr[4] >> 7;
                const std::uint64_t moved = shift(base);
                pcr[0] = static_cast<std::uint8_t>(moved >> 25);
                pcr[1] = static_cast<std::uint8_t>(moved >> 17);
                pcr[2] = static_cast<std::uint8_t>(moved >> 9);
                pcr[3] = static_cast<std::uint8_t>(moved >> 1);
                pcr[4] = static_cast<std::uint8_t>((pcr[4] & 0x7F) | ((moved & 1) << 7));
            }
            const std::size_t payload = PayloadOffset(packet);
            std::uint8_t* pes = packet + payload;
            if ((packet[1] & 0x40) != 0 && payload + 19 <= 188 && PesPts(pes, 188 - payload)) {
                WriteTimeStamp(pes + 9, shift(ReadTimeStamp(pes + 9)));
                if ((pes[7] & 0x40) != 0)
                    WriteTimeStamp(pes + 14, shift(ReadTimeStamp(pes + 14)));
            }
        }
        c.bytes.insert(c.bytes.end(), unit.begin(), unit.end());
    }
    return c;
}

// A discontinuity information packet between two units near the middle.
SCopy Dit(const SSource& s)
{
    SCopy c{s.bytes};
    const std::size_t at = s.bytes.size() / s.unitSize / 2 * s.unitSize;
    Bytes unit(s.unitSize, 0xFF);
    std::copy_n(s.bytes.begin() + static_cast<std::ptrdiff_t>(at), s.unitSize - 188, unit.begin());
    const std::uint8_t header[] = {0x47, 0x40, 0x1E, 0x10, 0x00, 0x7E, 0x00, 0x01, 0x80};
    std::copy(std::begin(header), std::end(header), unit.begin() + static_cast<std::ptrdiff_t>(s.unitSize - 188));
    c.bytes.insert(c.bytes.begin() + static_cast<std::ptrdiff_t>(at), unit.begin(), unit.end());
    return c;
}

// What a copy is checked for.
enum ECheck : unsigned
{
    // Every seek and the probe succeed.
    NO_FAILURE = 1u << 0,
    // Each answer is ffprobe's packet by the seek's rule: its position and
    // its time (the last packet of a transport stream is never examined).
    EXACT = 1u << 1,
    // Each answer is where a unit of the recording's video stream starts.
    AT_A_VIDEO_UNIT = 1u << 2,
    // And that unit's PTS lies at or before the requested time, and is the
    // time answered, both counted from ffprobe's first packet a reader of
    // the copy can see.
    AT_OR_BEFORE = 1u << 7,
    // Each found time within a GOP of ffprobe's packet by the seek's rule.
    WITHIN_A_GOP = 1u << 3,
    // Each found time within a GOP of the clean file's answer.
    AS_CLEAN = 1u << 4,
    // The probe's streams are ffprobe's (those of the codecs it reads),
    // and its duration ffprobe's, within a frame on a clean file and a GOP
    // on a damaged one.
    FACTS = 1u << 5,
    // Two recordings end to end: a request in either half lands in that
    // half, and the probe's duration is the sum of both.
    HALVES = 1u << 6,
};

struct SDamageKind
{
    const char* name;
    bool transportOnly;
    Damage make;
    unsigned checks;
};

const SDamageKind DAMAGE_KINDS[] = {
    {"clean", false, Clean, NO_FAILURE | EXACT | AT_A_VIDEO_UNIT | AT_OR_BEFORE | FACTS},
    {"one unit in 300 lost", false, Lossy, NO_FAILURE | AT_A_VIDEO_UNIT | AT_OR_BEFORE | WITHIN_A_GOP | FACTS},
    {"one packet in 400 flagged and garbled", true, Flagged,
     NO_FAILURE | AT_A_VIDEO_UNIT | AT_OR_BEFORE | WITHIN_A_GOP | FACTS},
    {"starts 1,000 bytes in", false, Cut, NO_FAILURE | AT_A_VIDEO_UNIT | AT_OR_BEFORE | WITHIN_A_GOP | FACTS},
    {"two recordings end to end", false, EndToEnd, NO_FAILURE | HALVES},
    {"PAT with absent programmes", true, PatWithAbsentProgrammes, NO_FAILURE | AT_A_VIDEO_UNIT | AS_CLEAN | FACTS},
    {"two programmes, two clocks", true, TwoClocks, NO_FAILURE | AT_A_VIDEO_UNIT | AS_CLEAN | FACTS},
    {"a discontinuity information packet", true, Dit, NO_FAILURE},
};

struct SAnswer
{
    std::uint32_t timeMs = 0;
    std::int32_t result = -1;
    std::uint32_t foundMs = 0;
    std::int64_t position = -1;
};

std::vector<SAnswer> Seek(const std::filesystem::path& file, std::uint32_t durationMs,
                          const std::vector<std::uint32_t>& times)
{
    std::vector<SAnswer> answers;
    for (const std::uint32_t t : times) {
        SAnswer a;
        a.timeMs = t;
        a.result = FindTimeSeekPosition(file.wstring().c_str(), durationMs, t, false, &a.foundMs, &a.position);
        answers.push_back(a);
    }
    return answers;
}

// The index of ffprobe's packet the seek's rule names for t, among
// packets[from, end): the one before the first whose PTS exceeds
// packets[from]'s + t x 90.
std::size_t ByTheSeeksRule(const std::vector<ProbePacket>& packets, std::size_t from, std::size_t end,
                           std::uint32_t t)
{
    const auto first = static_cast<std::uint64_t>(packets[from].pts);
    std::size_t answer = from;
    while (answer + 1 < end &&
           PtsDistance(static_cast<std::uint64_t>(packets[answer + 1].pts), first) <= std::int64_t{t} * 90)
        ++answer;
    return answer;
}

// Where the first packet of the program map at or after `from` lies in the
// recording (-1 in a program stream, which has none).
std::int64_t FirstMapAtOrAfter(const SSource& s, std::int64_t from)
{
    if (IsProgramStream(s))
        return -1;
    for (std::size_t at = 0; at + s.unitSize <= s.bytes.size(); at += s.unitSize) {
        if (static_cast<std::int64_t>(at) >= from && Pid(s.bytes.data() + at + (s.unitSize - 188)) == s.pmtPid)
            return static_cast<std::int64_t>(at);
    }
    return static_cast<std::int64_t>(s.bytes.size());
}

std::int64_t MsFromFirst(std::uint64_t pts, std::uint64_t first)
{
    return std::max<std::int64_t>(0, PtsDistance(pts, first) / 90);
}

// The PTS of the video unit that starts at `position` of the copy, read
// from its bytes; nullopt when none starts there.
std::optional<std::uint64_t> VideoUnitPts(const SSource& s, const Bytes& copy, std::int64_t position)
{
    if (position < 0 || static_cast<std::size_t>(position) + 192 > copy.size())
        return std::nullopt;
    const std::uint8_t* at = copy.data() + position;
    if (IsProgramStream(s))
        return (at[3] & 0xF0) == 0xE0 ? PesPts(at, copy.size() - static_cast<std::size_t>(position)) : std::nullopt;
    const std::uint8_t* packet = at + (s.unitSize - 188);
    if (packet[0] != 0x47 || (packet[1] & 0x40) == 0 || Pid(packet) != s.videoPid || PayloadOffset(packet) >= 188)
        return std::nullopt;
    const std::uint8_t* pes = packet + PayloadOffset(packet);
    if ((pes[3] & 0xF0) != 0xE0)
        return std::nullopt;
    return PesPts(pes, static_cast<std::size_t>(packet + 188 - pes));
}

std::string Describe(const SAnswer& a)
{
    std::ostringstream out;
    out << "request " << a.timeMs << " ms: result 0x" << std::hex << a.result << std::dec << ", " << a.foundMs
        << " ms at " << a.position;
    return out.str();
}

class DamagedCopies : public testing::TestWithParam<FfmpegRecording>
{
protected:
    void SetUp() override
    {
        const std::string missing = vsktest::RecordingMissing(GetParam());
        if (!missing.empty())
            GTEST_SKIP() << missing;
        m_source = ReadSource(GetParam());
        ASSERT_GT(m_source.packets.size(), 10u) << "ffprobe found too few video packets";
        ASSERT_NE(m_source.videoPid, 0u);
    }

    void CheckProbe(const SDamageKind& kind, const std::filesystem::path& file, double expectedMs,
                    double toleranceMs)
    {
        SVskStreamProbe probe;
        const std::int32_t result = ProbeStreamFile(file.wstring().c_str(), &probe);
        if ((kind.checks & NO_FAILURE) != 0) {
            EXPECT_EQ(result, VSK_PARSER_RESULT_OK) << "probe";
        }
        if (result != VSK_PARSER_RESULT_OK || (kind.checks & (FACTS | HALVES)) == 0)
            return;
        EXPECT_NEAR(probe.durationMs, expectedMs, toleranceMs) << "probe duration";
        if ((kind.checks & FACTS) == 0)
            return;
        const vsktest::ProbeFacts& facts = m_source.facts;
        for (int i = 0; !vsktest::FactText(facts, "streams.stream." + std::to_string(i) + ".index").empty(); ++i) {
            const std::string key = "streams.stream." + std::to_string(i) + ".";
            const std::string codec = vsktest::FactText(facts, key + "codec_name");
            if (CodecOf(codec) == VSK_PROBE_CODEC_UNKNOWN)
                continue;
            SCOPED_TRACE(codec + " stream " + vsktest::FactText(facts, key + "id"));
            const SVskProbeStream* s =
                StreamWithId(probe, static_cast<std::uint32_t>(vsktest::FactNumber(facts, key + "id", 16).value_or(-1)));
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->codec, CodecOf(codec));
            if (vsktest::FactText(facts, key + "codec_type") == "video") {
                EXPECT_EQ(s->width, vsktest::FactNumber(facts, key + "width"));
                EXPECT_EQ(s->height, vsktest::FactNumber(facts, key + "height"));
                const auto rate = vsktest::FactRatio(vsktest::FactText(facts, key + "r_frame_rate"));
                ASSERT_TRUE(rate);
                EXPECT_EQ(std::make_pair(s->frameRateNumerator, s->frameRateDenominator), *rate);
                const std::string fieldOrder = vsktest::FactText(facts, key + "field_order");
                if (fieldOrder != "unknown" && !fieldOrder.empty()) {
                    EXPECT_EQ(s->progressive, fieldOrder == "progressive" ? 1u : 0u);
                }
            } else {
                EXPECT_EQ(s->channels, vsktest::FactNumber(facts, key + "channels"));
                EXPECT_EQ(s->samplingRate, vsktest::FactNumber(facts, key + "sample_rate"));
            }
        }
    }

    SSource m_source;
};

TEST_P(DamagedCopies, AnswerAsFfprobeReadsTheRecording)
{
    const SSource& s = m_source;
    const std::size_t examined = IsProgramStream(s) ? s.packets.size() : s.packets.size() - 1;
    std::vector<std::uint32_t> times;
    for (const double part : REQUESTS)
        times.push_back(static_cast<std::uint32_t>(part * s.durationMs));
    vsktest::CTempDir dir;
    const std::vector<SAnswer> clean = Seek(dir.WriteFile("clean", s.bytes), s.durationMs, times);

    for (const SDamageKind& kind : DAMAGE_KINDS) {
        if (kind.transportOnly && IsProgramStream(s))
            continue;
        SCOPED_TRACE(kind.name);
        const SCopy copy = kind.make(s);
        if (HasFatalFailure())
            return;
        const std::filesystem::path file = dir.WriteFile("copy", copy.bytes);
        const std::uint32_t durationMs = copy.half != 0 ? 2 * s.durationMs : s.durationMs;
        std::vector<std::uint32_t> requests = times;
        if (copy.half != 0) {
            requests.clear();
            for (const double part : {0.25, 0.75, 1.25, 1.75})
                requests.push_back(static_cast<std::uint32_t>(part * s.durationMs));
        }
        // ffprobe's packets that a reader of the copy can see: those behind
        // the cut and, in a transport stream, behind the first program map
        // there, without which no reader knows the video stream.
        const std::int64_t mapped = FirstMapAtOrAfter(s, copy.cut);
        const auto visible = std::find_if(s.packets.begin(), s.packets.end(),
                                          [&](const ProbePacket& p) { return p.pos >= copy.cut && p.pos > mapped; });
        ASSERT_NE(visible, s.packets.end());
        const auto from = static_cast<std::size_t>(visible - s.packets.begin());
        const auto firstPts = static_cast<std::uint64_t>(s.packets[from].pts);

        const std::vector<SAnswer> answers = Seek(file, durationMs, requests);
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const SAnswer& a = answers[i];
            SCOPED_TRACE(Describe(a));
            if ((kind.checks & NO_FAILURE) != 0) {
                EXPECT_EQ(a.result, 0);
            }
            if (a.result != 0)
                continue;
            const std::size_t rule = ByTheSeeksRule(s.packets, from, examined, a.timeMs);
            const std::int64_t ruleMs = MsFromFirst(static_cast<std::uint64_t>(s.packets[rule].pts), firstPts);
            if ((kind.checks & EXACT) != 0) {
                EXPECT_EQ(a.position, s.packets[rule].pos);
                EXPECT_EQ(std::int64_t{a.foundMs}, ruleMs);
            }
            if ((kind.checks & AT_A_VIDEO_UNIT) != 0) {
                const std::optional<std::uint64_t> pts = VideoUnitPts(s, copy.bytes, a.position);
                EXPECT_TRUE(pts) << "no unit of the video stream starts there";
                if (pts && (kind.checks & AT_OR_BEFORE) != 0) {
                    EXPECT_LE(PtsDistance(*pts, firstPts), std::int64_t{a.timeMs} * 90) << "a unit after the request";
                    EXPECT_NEAR(static_cast<double>(a.foundMs), static_cast<double>(MsFromFirst(*pts, firstPts)), 1.0)
                        << "the time answered is not the unit's";
                }
            }
            if ((kind.checks & WITHIN_A_GOP) != 0) {
                EXPECT_NEAR(static_cast<double>(a.foundMs), static_cast<double>(ruleMs), GOP_MS)
                    << "ffprobe's packet by the rule: " << ruleMs << " ms at " << s.packets[rule].pos;
            }
            if ((kind.checks & AS_CLEAN) != 0) {
                EXPECT_NEAR(static_cast<double>(a.foundMs), static_cast<double>(clean[i].foundMs), GOP_MS)
                    << "the clean file answers " << Describe(clean[i]);
            }
            if ((kind.checks & HALVES) != 0) {
                if (a.timeMs < s.durationMs) {
                    EXPECT_LT(a.position, copy.half) << "a request in the first half lands in the second";
                } else {
                    EXPECT_GE(a.position, copy.half) << "a request in the second half lands in the first";
                }
            }
        }
        const bool undamaged = (kind.checks & EXACT) != 0;
        CheckProbe(kind, file, copy.half != 0 ? 2.0 * s.durationMs : s.durationMs,
                   copy.half != 0 ? 2 * s.frameMs + 1 : undamaged ? s.frameMs + 1 : GOP_MS);
    }
}

std::string RecordingName(const testing::TestParamInfo<FfmpegRecording>& info)
{
    std::string name = vsktest::RecordingFileName(info.param);
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '-' || c == '.'; }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(OtherMuxers, DamagedCopies, testing::ValuesIn(vsktest::OTHER_MUXER_RECORDINGS), RecordingName);

}  // namespace
}  // namespace parser
