// The stream reader on real recordings made by ffmpeg, against ffprobe as the
// independent reader. Each recording is read exactly as the time seek reads a
// file (64 KiB at a time, every waiting unit taken and released after each
// Feed), and the video units that take part in a seek must be ffprobe's
// video packets that have both a time stamp and a position, unit for unit:
// the same positions, the same PTS, in the same order. The last picture of a
// transport stream never completes (its unit ends only where a next one would
// start), so ffprobe's last packet has no unit there.
//
// In a transport stream each unit's payload must also be ffprobe's data of
// that packet, length and CRC-32; and each unit record is checked against the
// bytes of the file where that is cheap: its packets, their header lengths
// and its span in a transport stream, its start code and length in a program
// stream. The same units must come however the reads are cut, and from any
// offset the time seek may start reading at.
#include "StreamReader.h"
#include "TimeSeek.h"
#include "UnitInfo.h"

#include "vsktest/FfmpegRecordings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace parser {
namespace {

using vsktest::FfmpegRecording;
using vsktest::ProbePacket;
using vsktest::ProbePayload;

// What the time seek asks of the reader, and how much it reads at a time.
constexpr std::uint32_t HISTORY_MODE = 2;
constexpr std::uint32_t SELECTION_MODE = 4;
constexpr std::uint32_t PROFILE_LEVEL = 0xFF;
constexpr std::uint32_t BUFFER_SIZE = 0x20000;
constexpr std::size_t READ_SIZE = 0x10000;
constexpr std::uint32_t PROGRAMS_TAKING_PART = 20;

constexpr std::uint32_t TS_PACKET_SIZE = 188;
constexpr std::size_t FAULTS_KEPT = 10;
// How far into the data a reader started inside a recording may find its
// first video unit.
constexpr std::int64_t MAX_WAY_IN = 512 * 1024;

// A unit the time seek compares: video, with a PTS, not empty, in one of
// the first programs.
bool TakesPart(const SUnitInfo& unit)
{
    const bool video = unit.kind == STREAM_KIND_PROGRAM
                           ? unit.header.streamId >= STREAM_ID_VIDEO_FIRST && unit.header.streamId <= STREAM_ID_VIDEO_LAST
                           : unit.streamType == 0x01 || unit.streamType == 0x02 || unit.streamType == 0x1B;
    return video && HasPts(unit.header.ptsDtsFlags) && unit.payloadLength > 0 &&
           unit.programIndex < PROGRAMS_TAKING_PART;
}

std::uint32_t Be16(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at] << 8 | bytes[at + 1]);
}

// What is wrong with a transport stream unit's record, read against the
// file; empty when nothing is. The reader was fed the file from `base` up to
// `fed`, so its positions count from `base`.
std::string TransportUnitFault(const SUnitInfo& unit, const std::vector<std::uint8_t>& file, std::uint32_t stride,
                               std::int64_t base, std::uint64_t fed)
{
    const std::uint32_t prefix = stride - TS_PACKET_SIZE;
    std::ostringstream fault;
    if (unit.position < 0 || (base + unit.position) % stride != 0)
        fault << "position not at a unit start; ";
    if (unit.packetCount == 0 || unit.packetPositions == nullptr || unit.packetHeaderLengths == nullptr)
        return fault.str() + "no packet list";
    if (unit.packetPositions[0] != unit.position)
        fault << "first packet at " << unit.packetPositions[0] << "; ";
    const std::int64_t last = base + unit.packetPositions[unit.packetCount - 1];
    if (unit.spanLength != static_cast<std::uint64_t>(last - base - unit.position) + stride)
        fault << "span " << unit.spanLength << " but last packet at " << last << "; ";
    if (static_cast<std::uint64_t>(last) + stride > fed)
        fault << "last packet at " << last << " past the " << fed << " bytes fed; ";
    if (!fault.str().empty())
        return fault.str();

    // Each packet as the file has it: sync byte, one PID, the first one
    // starting the PES packet, and the bytes before its payload.
    std::uint32_t pid = 0;
    std::uint64_t payloadBytes = 0;
    std::uint64_t payloadBeforeLast = 0;
    for (std::uint32_t i = 0; i < unit.packetCount; ++i) {
        const std::int64_t at = base + unit.packetPositions[i];
        if (at % stride != 0 || (i > 0 && at <= base + unit.packetPositions[i - 1]))
            return "packet " + std::to_string(i) + " at " + std::to_string(at) + " out of place";
        const std::size_t sync = static_cast<std::size_t>(at) + prefix;
        if (file[sync] != 0x47)
            return "packet " + std::to_string(i) + " at " + std::to_string(at) + " has no sync byte";
        const std::uint32_t packetPid = Be16(file, sync + 1) & 0x1FFF;
        if (i == 0) {
            pid = packetPid;
            if ((file[sync + 1] & 0x40) == 0)
                return "first packet does not start a PES packet";
        } else if (packetPid != pid) {
            return "packet " + std::to_string(i) + " on PID " + std::to_string(packetPid);
        }
        const std::uint8_t control = (file[sync + 3] >> 4) & 0x03;
        const std::uint32_t headerLength = prefix + 4 + ((control & 0x02) != 0 ? 1u + file[sync + 4] : 0u);
        if (unit.packetHeaderLengths[i] != headerLength)
            return "packet " + std::to_string(i) + " header length " + std::to_string(unit.packetHeaderLengths[i]) +
                   ", the file has " + std::to_string(headerLength);
        if (i + 1 == unit.packetCount)
            payloadBeforeLast = payloadBytes;
        payloadBytes += stride - headerLength;
    }
    // The unit's bytes fill its packets, the last one at least in part (it
    // may be the packet that starts the next unit).
    const std::uint64_t unitLength = unit.header.pesPacketLength + 6ull;
    if (unitLength <= payloadBeforeLast || unitLength > payloadBytes)
        return "unit of " + std::to_string(unitLength) + " bytes in packets carrying " + std::to_string(payloadBytes);
    return {};
}

std::string ProgramStreamUnitFault(const SUnitInfo& unit, const std::vector<std::uint8_t>& file, std::int64_t base,
                                   std::uint64_t fed)
{
    if (unit.position < 0 || static_cast<std::uint64_t>(base + unit.position) + 6 > file.size())
        return "position out of the file";
    const std::size_t at = static_cast<std::size_t>(base + unit.position);
    if (file[at] != 0 || file[at + 1] != 0 || file[at + 2] != 1 || file[at + 3] != unit.header.streamId)
        return "no start code of stream " + std::to_string(unit.header.streamId) + " at the position";
    const std::uint64_t length = Be16(file, at + 4) + 6ull;
    if (unit.spanLength != length)
        return "span " + std::to_string(unit.spanLength) + ", the PES packet has " + std::to_string(length);
    if (at + unit.spanLength > fed)
        return "unit past the bytes fed";
    return {};
}

// What one reading of a recording gave.
struct SReading
{
    std::uint32_t kind = STREAM_KIND_UNKNOWN;
    // The taking-part units as (PTS, position), in the order taken, and
    // their payloads.
    std::vector<ProbePacket> video;
    std::vector<ProbePayload> payloads;
    std::size_t unitsTaken = 0;
    // Unit records that do not agree with the file (the first few).
    std::vector<std::string> faults;
    // A Feed or NextUnits failure; empty when the whole file was read.
    std::string failure;
};

// Reads the file from `start` on as the time seek does, in reads of
// `readSize` bytes. The positions kept are those in the file.
SReading ReadAsTheTimeSeekDoes(const std::vector<std::uint8_t>& file, std::uint32_t stride, std::size_t start = 0,
                               std::size_t readSize = READ_SIZE)
{
    SReading reading;
    CStreamReader reader;
    if (reader.Initialize() != RESULT_OK) {
        reading.failure = "Initialize failed";
        return reading;
    }
    reader.Configure(HISTORY_MODE, SELECTION_MODE, PROFILE_LEVEL, BUFFER_SIZE, 0);
    std::uint64_t fed = start;
    while (fed < file.size() && reading.failure.empty()) {
        const std::size_t length = std::min<std::size_t>(readSize, file.size() - fed);
        const Result fedResult = reader.Feed(file.data() + fed, static_cast<std::uint32_t>(length));
        if (fedResult != RESULT_OK) {
            std::ostringstream failure;
            failure << "Feed at " << fed << " gave 0x" << std::hex << fedResult;
            reading.failure = failure.str();
            break;
        }
        fed += length;
        std::int32_t units = 0;
        while ((units = reader.NextUnits()) > 0) {
            SUnitInfo unit;
            if (reader.TakeUnit(unit) != RESULT_OK) {
                reading.failure = "NextUnits reported a unit that TakeUnit did not give";
                break;
            }
            ++reading.unitsTaken;
            if (TakesPart(unit)) {
                const std::int64_t base = static_cast<std::int64_t>(start);
                const std::string fault = stride != 0 ? TransportUnitFault(unit, file, stride, base, fed)
                                                      : ProgramStreamUnitFault(unit, file, base, fed);
                if (!fault.empty() && reading.faults.size() < FAULTS_KEPT)
                    reading.faults.push_back("video unit " + std::to_string(reading.video.size()) + " at " +
                                             std::to_string(base + unit.position) + ": " + fault);
                reading.video.push_back({static_cast<std::int64_t>(unit.header.pts), base + unit.position});
                reading.payloads.push_back(
                    {unit.payloadLength, vsktest::Crc32({unit.payload, unit.payloadLength})});
            }
            reader.ReleaseUnit(unit);
        }
        if (units < 0)
            reading.failure = "NextUnits failed after " + std::to_string(fed) + " bytes";
    }
    reading.kind = reader.Kind();
    reader.Shutdown();
    return reading;
}

std::string Describe(const std::vector<ProbePacket>& list, std::size_t i)
{
    if (i >= list.size())
        return "(none)";
    return "pts " + std::to_string(list[i].pts) + " at " + std::to_string(list[i].pos);
}

// Where the reader's video units part from ffprobe's packets: the first
// index that differs with a few units around it on both sides, then the
// positions only one side has.
std::string DescribeDifference(const std::vector<ProbePacket>& expected, const std::vector<ProbePacket>& got)
{
    std::ostringstream out;
    out << "ffprobe's packets but the last: " << expected.size() << ", reader's video units: " << got.size();
    const auto [e, g] = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
    const std::size_t first = static_cast<std::size_t>(e - expected.begin());
    out << "\nfirst difference at unit " << first << " (index: expected | got)";
    for (std::size_t i = first >= 3 ? first - 3 : 0; i < first + 6 && (i < expected.size() || i < got.size()); ++i)
        out << "\n  " << (i == first ? "> " : "  ") << i << ": " << Describe(expected, i) << " | "
            << Describe(got, i);
    const auto positionsOnlyIn = [](const std::vector<ProbePacket>& a, const std::vector<ProbePacket>& b) {
        std::ostringstream list;
        std::size_t count = 0;
        for (const ProbePacket& p : a) {
            if (std::none_of(b.begin(), b.end(), [&](const ProbePacket& q) { return q.pos == p.pos; })) {
                if (count++ < 8)
                    list << ' ' << p.pos;
            }
        }
        return std::to_string(count) + (count > 8 ? ", first:" : ":") + list.str();
    };
    out << "\npositions only ffprobe has: " << positionsOnlyIn(expected, got);
    out << "\npositions only the reader has: " << positionsOnlyIn(got, expected);
    return out.str();
}

class RecordingTest : public testing::TestWithParam<FfmpegRecording>
{
protected:
    void SetUp() override
    {
        const std::string missing = vsktest::RecordingMissing(GetParam());
        if (!missing.empty()) {
            // Without any recording the whole program is a skip, and CTest
            // counts it so.
            const std::string none = vsktest::AllRecordingsMissing();
            if (!none.empty())
                std::cout << vsktest::RECORDINGS_UNAVAILABLE << ' ' << none << std::endl;
            GTEST_SKIP() << missing;
        }
        m_file = vsktest::ReadRecording(GetParam());
        m_probe = vsktest::ReadProbePackets(GetParam());
        m_stride = vsktest::RecordingUnitSize(GetParam());
        ASSERT_GT(m_probe.packets.size(), 10u) << "ffprobe found too few video packets";
    }

    bool IsProgramStream() const { return m_stride == 0; }

    // The reading in 64 KiB reads, made once per recording: a pass over a
    // recording takes about a second and a half in the sanitizer build.
    const SReading& TimeSeekReading() const
    {
        static std::map<FfmpegRecording, SReading> readings;
        const auto found = readings.find(GetParam());
        if (found != readings.end())
            return found->second;
        return readings.emplace(GetParam(), ReadAsTheTimeSeekDoes(m_file, m_stride)).first->second;
    }

    std::vector<std::uint8_t> m_file;
    vsktest::ProbePacketList m_probe;
    std::uint32_t m_stride = 0;
};

TEST_P(RecordingTest, VideoUnitsAreFfprobesPackets)
{
    const SReading& reading = TimeSeekReading();
    ASSERT_EQ(reading.failure, "");
    EXPECT_EQ(reading.kind, IsProgramStream() ? STREAM_KIND_PROGRAM
                            : m_stride == 188 ? STREAM_KIND_TS188
                                              : STREAM_KIND_TS192);

    // ffprobe's last picture has no unit in a transport stream. A program
    // stream's PES packet ends on its length, so its last one may be there.
    std::vector<ProbePacket> expected(m_probe.packets.begin(), m_probe.packets.end() - 1);
    std::vector<ProbePacket> got = reading.video;
    if (IsProgramStream() && got.size() == m_probe.packets.size() && got.back() == m_probe.packets.back())
        got.pop_back();
    EXPECT_TRUE(got == expected) << DescribeDifference(expected, got);

    for (const std::string& fault : reading.faults)
        ADD_FAILURE() << fault;
}

// In a transport stream ffmpeg writes one picture per PES packet, and the
// picture is what ffprobe hands out: each unit's payload is that packet's
// data, to the byte. (A program stream's pictures span several PES packets.)
class TransportRecordingTest : public RecordingTest
{
};

TEST_P(TransportRecordingTest, UnitPayloadsAreFfprobesData)
{
    const SReading& reading = TimeSeekReading();
    ASSERT_EQ(reading.failure, "");
    ASSERT_EQ(reading.payloads.size() + 1, m_probe.payloads.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < reading.payloads.size(); ++i) {
        const ProbePayload& expected = m_probe.payloads[i];
        const ProbePayload& got = reading.payloads[i];
        if (got != expected && wrong++ < FAULTS_KEPT)
            ADD_FAILURE() << "video unit " << i << " at " << reading.video[i].pos << ": expected " << expected.size
                          << " bytes of CRC " << std::hex << expected.crc32 << ", got " << std::dec << got.size
                          << " bytes of CRC " << std::hex << got.crc32;
    }
    EXPECT_EQ(wrong, 0u) << "units whose payload is not ffprobe's data";
}

// The same units however the reads are cut: pieces that end inside packets,
// PES headers and start codes, fed into a buffer compacted again and again.
// (None is larger than the time seek's read: a program-stream reader's
// buffer need hold no more.)
TEST_P(RecordingTest, SameUnitsHoweverTheReadsAreCut)
{
    const SReading& reference = TimeSeekReading();
    ASSERT_EQ(reference.failure, "");
    ASSERT_FALSE(reference.video.empty()) << "no video unit to compare";
    for (std::size_t readSize : {10007u, 32771u}) {
        SCOPED_TRACE("reads of " + std::to_string(readSize) + " bytes");
        const SReading reading = ReadAsTheTimeSeekDoes(m_file, m_stride, 0, readSize);
        EXPECT_EQ(reading.failure, "");
        EXPECT_EQ(reading.unitsTaken, reference.unitsTaken);
        EXPECT_TRUE(reading.video == reference.video) << DescribeDifference(reference.video, reading.video);
        EXPECT_TRUE(reading.payloads == reference.payloads) << "the units' payloads differ";
    }
}

// A time seek starts reading far into the file, in the middle of a packet or
// pack. From there the reader must find its way in (the kind, the unit
// boundary, the tables of a transport stream, the next pack) and then give
// ffprobe's packets from one near the start on, without a gap, at their
// file positions.
TEST_P(RecordingTest, FromAnOffsetInsideTheFileTheUnitsAreFfprobesFromThere)
{
    const std::vector<ProbePacket>& packets = m_probe.packets;
    for (const std::size_t start : {m_file.size() / 5 + 77, m_file.size() / 2 + 5, m_file.size() - (1u << 20) + 191}) {
        SCOPED_TRACE("reading from " + std::to_string(start));
        const SReading reading = ReadAsTheTimeSeekDoes(m_file, m_stride, start);
        ASSERT_EQ(reading.failure, "");
        ASSERT_FALSE(reading.video.empty()) << "no video unit";
        for (const std::string& fault : reading.faults)
            ADD_FAILURE() << fault;

        const auto first = std::find_if(packets.begin(), packets.end(),
                                        [&](const ProbePacket& p) { return p.pos == reading.video.front().pos; });
        ASSERT_NE(first, packets.end()) << "first unit " << Describe(reading.video, 0) << " is none of ffprobe's";
        EXPECT_GE(first->pos, static_cast<std::int64_t>(start));
        // The tables come again every tenth of a second; packs are 2 KiB.
        EXPECT_LT(first->pos - static_cast<std::int64_t>(start), MAX_WAY_IN)
            << "the first unit comes late: " << Describe(reading.video, 0);
        std::vector<ProbePacket> expected(first, packets.end() - 1);
        std::vector<ProbePacket> got = reading.video;
        if (IsProgramStream() && !got.empty() && got.back() == packets.back())
            got.pop_back();
        EXPECT_TRUE(got == expected) << DescribeDifference(expected, got);
    }
}

// The recording holds what the checks above rely on and the time seek's
// tests will need: ffprobe read it in file order, every transport unit of the
// 192-byte one carries a rising arrival time stamp, the H.264 pictures come
// out of presentation order, and in the program stream some pictures start
// in a PES packet that carries the time stamp of an earlier one.
// The time seek on the file: for requests spread over the whole duration,
// the answer is ffprobe's packet examined just before the first one, in file
// order, whose PTS exceeds the first packet's PTS + t x 90, and its time is
// that packet's distance from the first one (0 for a picture before it).
TEST_P(RecordingTest, TimeSeekAnswersAreFfprobesPackets)
{
    std::vector<ProbePacket> examined = m_probe.packets;
    // The last picture of a transport stream is never examined.
    if (!IsProgramStream())
        examined.pop_back();
    const std::int64_t first = examined.front().pts;
    std::int64_t last = 0;
    for (const ProbePacket& p : examined)
        last = std::max(last, PtsDistance(static_cast<std::uint64_t>(p.pts), static_cast<std::uint64_t>(first)));
    const std::uint32_t durationMs = static_cast<std::uint32_t>(last / 90 + 40);
    const std::wstring path = vsktest::RecordingPath(GetParam()).wstring();
    constexpr std::uint32_t REQUESTS = 24;
    std::uint32_t scanned = 0;
    for (std::uint32_t i = 0; i < REQUESTS; ++i) {
        // From just after the start to beyond the last picture.
        const std::uint32_t timeMs = 1 + static_cast<std::uint32_t>(std::uint64_t{durationMs + 200} * i / (REQUESTS - 1));
        SCOPED_TRACE(testing::Message() << "request " << timeMs << " ms of " << durationMs);
        std::size_t answer = 0;
        while (answer + 1 < examined.size() &&
               PtsDistance(static_cast<std::uint64_t>(examined[answer + 1].pts), static_cast<std::uint64_t>(first)) <=
                   std::int64_t{timeMs} * 90)
            ++answer;
        std::uint32_t foundMs = 0;
        std::int64_t position = -1;
        STimeSeekStats stats;
        ASSERT_EQ(FindTimeSeekPosition(path.c_str(), durationMs, timeMs, false, &foundMs, &position, &stats), 0);
        EXPECT_EQ(position, examined[answer].pos);
        const std::int64_t distance =
            PtsDistance(static_cast<std::uint64_t>(examined[answer].pts), static_cast<std::uint64_t>(first));
        EXPECT_EQ(foundMs, static_cast<std::uint32_t>(std::max<std::int64_t>(0, distance / 90)));
        EXPECT_EQ(stats.scansAbandoned, 0u);
        scanned += stats.scannedPasses;
    }
    // Transport streams are searched by the header scan, from the first
    // piece of each seek pass on.
    if (IsProgramStream())
        EXPECT_EQ(scanned, 0u);
    else
        EXPECT_GT(scanned, REQUESTS / 2);
}

TEST_P(RecordingTest, IsTheRecordingItClaimsToBe)
{
    const std::vector<ProbePacket>& packets = m_probe.packets;
    EXPECT_TRUE(std::is_sorted(packets.begin(), packets.end(),
                               [](const ProbePacket& a, const ProbePacket& b) { return a.pos <= b.pos; }))
        << "ffprobe's packets are not in file order";
    // 2 bits of copy permission, 30 bits of a 27 MHz arrival clock, rising
    // from unit to unit (GStreamer's clock, all but one in a thousand).
    const auto expectRisingStamps = [this](std::size_t flat) {
        ASSERT_EQ(m_file.size() % 192, 0u);
        std::uint32_t previous = 0;
        std::size_t rising = 0;
        for (std::size_t at = 0; at < m_file.size(); at += 192) {
            const std::uint32_t stamp = (Be16(m_file, at) << 16 | Be16(m_file, at + 2)) & 0x3FFFFFFF;
            rising += at > 0 && ((stamp - previous) & 0x3FFFFFFF) > 0 && ((stamp - previous) & 0x3FFFFFFF) < 27000000;
            previous = stamp;
        }
        EXPECT_GE(rising + flat, m_file.size() / 192 - 1) << "arrival time stamps do not rise from unit to unit";
    };
    const vsktest::ProbeFacts facts = vsktest::ReadProbeFacts(GetParam());
    const auto videoFact = [&facts](const std::string& name) {
        for (int i = 0; !vsktest::FactText(facts, "streams.stream." + std::to_string(i) + ".index").empty(); ++i) {
            const std::string key = "streams.stream." + std::to_string(i) + ".";
            if (vsktest::FactText(facts, key + "codec_type") == "video")
                return vsktest::FactText(facts, key + name);
        }
        return std::string();
    };
    const auto noBFrames = [&packets] {
        return std::is_sorted(packets.begin(), packets.end(),
                              [](const ProbePacket& a, const ProbePacket& b) { return a.pts < b.pts; });
    };

    switch (GetParam()) {
    case FfmpegRecording::Mpeg2Ac3Ts:
        EXPECT_GT(m_file.size(), 5u << 20) << "a time seek into the recording would always start at offset 0";
        EXPECT_EQ(m_file.size() % 188, 0u);
        EXPECT_EQ(m_probe.incompleteRows, 0u);
        break;
    case FfmpegRecording::H264Ac3M2ts:
        EXPECT_GT(m_file.size(), 5u << 20) << "a time seek into the recording would always start at offset 0";
        expectRisingStamps(0);
        EXPECT_FALSE(noBFrames()) << "no B-frames: presentation order is decode order";
        break;
    case FfmpegRecording::Mpeg2Ac3Vob:
        EXPECT_GT(m_file.size(), 5u << 20) << "a time seek into the recording would always start at offset 0";
        EXPECT_EQ(m_file.size() % 2048, 0u);
        EXPECT_GT(m_probe.incompleteRows, 0u) << "no PES packet starts two pictures";
        break;
    case FfmpegRecording::GstH264InterlacedAc3Ts:
    case FfmpegRecording::GstMpeg2InterlacedMp2Ts:
        EXPECT_EQ(m_file.size() % 188, 0u);
        EXPECT_EQ(videoFact("field_order"), "tt") << "not interlaced, top field first";
        EXPECT_FALSE(noBFrames()) << "no B-frames: presentation order is decode order";
        break;
    case FfmpegRecording::GstH264Aac720p50M2ts:
        expectRisingStamps(m_file.size() / 192 / 1000);
        EXPECT_EQ(videoFact("r_frame_rate"), "50/1");
        break;
    case FfmpegRecording::MjpegDvdVob: {
        EXPECT_EQ(m_file.size() % 2048, 0u);
        bool navigation = false;
        for (int i = 0; !vsktest::FactText(facts, "streams.stream." + std::to_string(i) + ".index").empty(); ++i)
            navigation = navigation ||
                         vsktest::FactText(facts, "streams.stream." + std::to_string(i) + ".codec_name") == "dvd_nav_packet";
        EXPECT_TRUE(navigation) << "no DVD navigation packs";
        break;
    }
    default:
        // The stream probe's recordings are not read here.
        break;
    }
}

std::string RecordingName(const testing::TestParamInfo<FfmpegRecording>& info)
{
    std::string name = vsktest::RecordingFileName(info.param);
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '-' || c == '.'; }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, RecordingTest, testing::ValuesIn(vsktest::ALL_FFMPEG_RECORDINGS), RecordingName);
INSTANTIATE_TEST_SUITE_P(Ffmpeg, TransportRecordingTest,
                         testing::Values(FfmpegRecording::Mpeg2Ac3Ts, FfmpegRecording::H264Ac3M2ts), RecordingName);

}  // namespace
}  // namespace parser
