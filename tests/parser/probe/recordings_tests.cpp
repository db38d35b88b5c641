// The stream probe on the recordings ffmpeg makes in the test run, against
// ffprobe's facts of the same files: packet format, size, programs, and per
// stream the codec, picture size, frame rate, aspect ratios, profile and
// level, frame structure, channels, sampling rate and stated bit rates; the
// duration within one frame. Also each recording with its prefixes zeroed
// (192-byte units), and each cut in two with a hole of 12 MiB between the
// halves, so that only its head and tail are read.
#include "FfprobeStreams.h"
#include "StreamProbe.h"
#include "VskMpegParser.h"

#include "vsktest/FfmpegRecordings.h"
#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace parser {
namespace {

using vsktest::FfmpegRecording;
using vsktest::ProbeFacts;

// What the recordings were made with and ffprobe does not tell: the video
// rate the headers state (0: they state none, the probe measures it) and
// the packet format.
struct SMadeWith {
    FfmpegRecording recording;
    std::uint32_t statedVideoRate;
    std::uint32_t packetFormat;
};

constexpr SMadeWith MADE_WITH[] = {
    {FfmpegRecording::Mpeg2Ac3Ts, 7000000, VSK_PROBE_FORMAT_188},
    {FfmpegRecording::H264Ac3M2ts, 6000000, VSK_PROBE_FORMAT_192_STAMPED},  // nal-hrd=cbr at 6 Mbit/s
    {FfmpegRecording::Mpeg2Ac3Vob, 0, VSK_PROBE_FORMAT_NONE},
    {FfmpegRecording::Mpeg2HdAc3Ts, 18000000, VSK_PROBE_FORMAT_188},
    {FfmpegRecording::Mpeg2SdMp2Ts, 9000000, VSK_PROBE_FORMAT_188},
    {FfmpegRecording::H264HdAc3M2ts, 0, VSK_PROBE_FORMAT_192_STAMPED},
    {FfmpegRecording::TwoProgramsTs, 0, VSK_PROBE_FORMAT_188},
};

const SMadeWith& MadeWith(FfmpegRecording recording)
{
    for (const SMadeWith& m : MADE_WITH) {
        if (m.recording == recording)
            return m;
    }
    throw std::logic_error("a recording without its table entry");
}

std::optional<std::int64_t> Number(const ProbeFacts& facts, const std::string& key, int base = 10)
{
    return vsktest::FactNumber(facts, key, base);
}

std::string Text(const ProbeFacts& facts, const std::string& key)
{
    return vsktest::FactText(facts, key);
}

// ffprobe's profile names as the streams state them.
std::optional<std::uint32_t> ProfileNumber(const std::string& codec, const std::string& name)
{
    static const std::map<std::string, std::uint32_t> mpeg2 = {
        {"High", 1}, {"Spatially Scalable", 2}, {"SNR Scalable", 3}, {"Main", 4}, {"Simple", 5}, {"4:2:2", 0}};
    static const std::map<std::string, std::uint32_t> avc = {
        {"Baseline", 66}, {"Constrained Baseline", 66}, {"Main", 77}, {"Extended", 88}, {"High", 100},
        {"High 10", 110}, {"High 4:2:2", 122}, {"High 4:4:4 Predictive", 244}};
    const auto& table = codec == "h264" ? avc : mpeg2;
    const auto found = table.find(name);
    return found == table.end() ? std::nullopt : std::optional(found->second);
}

std::uint32_t ProgramOf(const ProbeFacts& facts, std::int64_t index)
{
    for (int p = 0; Number(facts, "programs.program." + std::to_string(p) + ".program_num"); ++p) {
        const std::string prefix = "programs.program." + std::to_string(p) + ".streams.stream.";
        for (int k = 0; Number(facts, prefix + std::to_string(k) + ".index"); ++k) {
            if (Number(facts, prefix + std::to_string(k) + ".index") == index)
                return static_cast<std::uint32_t>(*Number(facts, "programs.program." + std::to_string(p) + ".program_num"));
        }
    }
    return 0;
}

SVskStreamProbe ProbeFile(const std::filesystem::path& path, SProbeStats* stats = nullptr)
{
    SVskStreamProbe probe;
    EXPECT_EQ(ProbeStreamFile(path.wstring().c_str(), &probe, stats), VSK_PARSER_RESULT_OK) << path.string();
    return probe;
}

// Everything but the rates measured, which depend on how much was read.
void ExpectSameFacts(const SVskStreamProbe& a, const SVskStreamProbe& b)
{
    EXPECT_EQ(a.streamKind, b.streamKind);
    EXPECT_EQ(a.packetFormat, b.packetFormat);
    EXPECT_EQ(a.durationMs, b.durationMs);
    EXPECT_EQ(a.programCount, b.programCount);
    ASSERT_EQ(a.streamCount, b.streamCount);
    for (std::uint32_t i = 0; i < a.streamCount; ++i) {
        SVskProbeStream x = a.streams[i];
        SVskProbeStream y = b.streams[i];
        if (x.bitRateMeasured != 0 || y.bitRateMeasured != 0)
            x.bitRate = y.bitRate = 0;
        EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << "stream " << i;
    }
}

class ProbeRecording : public testing::TestWithParam<FfmpegRecording>
{
protected:
    void SetUp() override
    {
        const std::string missing = vsktest::RecordingMissing(GetParam());
        if (!missing.empty())
            GTEST_SKIP() << missing;
        m_path = vsktest::RecordingPath(GetParam());
        m_facts = vsktest::ReadProbeFacts(GetParam());
        m_probe = ProbeFile(m_path);
    }

    std::filesystem::path m_path;
    ProbeFacts m_facts;
    SVskStreamProbe m_probe;
};

TEST_P(ProbeRecording, FactsAreFfprobes)
{
    const SMadeWith& made = MadeWith(GetParam());
    const std::uint32_t unitSize = vsktest::RecordingUnitSize(GetParam());
    EXPECT_EQ(m_probe.streamKind, unitSize == 188 ? 2u : unitSize == 192 ? 3u : 1u);
    EXPECT_EQ(m_probe.packetFormat, made.packetFormat);
    EXPECT_EQ(m_probe.fileSize, Number(m_facts, "format.size"));
    std::uint32_t programs = 0;
    while (Number(m_facts, "programs.program." + std::to_string(programs) + ".program_num"))
        ++programs;
    EXPECT_EQ(m_probe.programCount, std::max(programs, 1u));

    std::uint32_t audioAndVideo = 0;
    std::uint32_t videoStreams = 0;
    const SVskProbeStream* video = nullptr;
    std::optional<double> firstVideoDuration;
    double frameMs = 0;
    for (int i = 0; Number(m_facts, "streams.stream." + std::to_string(i) + ".index"); ++i) {
        const std::string key = "streams.stream." + std::to_string(i) + ".";
        const std::string codecName = Text(m_facts, key + "codec_name");
        SCOPED_TRACE(codecName + " stream " + Text(m_facts, key + "id"));
        const SVskProbeStream* s =
            StreamWithId(m_probe, static_cast<std::uint32_t>(Number(m_facts, key + "id", 16).value_or(-1)));
        ASSERT_NE(s, nullptr);
        ++audioAndVideo;
        EXPECT_EQ(s->codec, CodecOf(codecName));
        EXPECT_EQ(s->programNumber, ProgramOf(m_facts, i));
        if (Text(m_facts, key + "codec_type") == "video") {
            ++videoStreams;
            video = s;
            EXPECT_EQ(s->category, VSK_PROBE_STREAM_VIDEO);
            EXPECT_EQ(s->width, Number(m_facts, key + "width"));
            EXPECT_EQ(s->height, Number(m_facts, key + "height"));
            const auto rate = vsktest::FactRatio(Text(m_facts, key + "r_frame_rate"));
            ASSERT_TRUE(rate);
            EXPECT_EQ(s->frameRateNumerator, rate->first);
            EXPECT_EQ(s->frameRateDenominator, rate->second);
            const auto sar = vsktest::FactRatio(Text(m_facts, key + "sample_aspect_ratio"));
            const auto dar = vsktest::FactRatio(Text(m_facts, key + "display_aspect_ratio"));
            ASSERT_TRUE(sar && dar);
            EXPECT_EQ(std::make_pair(s->sampleAspectNumerator, s->sampleAspectDenominator), *sar);
            EXPECT_EQ(std::make_pair(s->displayAspectNumerator, s->displayAspectDenominator), *dar);
            if (const auto profile = ProfileNumber(codecName, Text(m_facts, key + "profile"))) {
                EXPECT_EQ(s->profile, *profile);
            }
            if (const auto level = Number(m_facts, key + "level"); level && *level >= 0) {
                EXPECT_EQ(s->level, *level);
            }
            const std::string fieldOrder = Text(m_facts, key + "field_order");
            if (fieldOrder != "unknown") {
                EXPECT_EQ(s->progressive, fieldOrder == "progressive" ? 1u : 0u);
            }
            // The headers' rate, ffprobe's maximum rate where it gives one;
            // else a rate measured near the one of all video packets.
            const std::optional<std::int64_t> maxRate = Number(m_facts, key + "side_data_list.side_data.0.max_bitrate");
            if (maxRate && *maxRate > 0) {
                EXPECT_EQ(s->bitRate, *maxRate);
            }
            EXPECT_EQ(s->bitRateMeasured, made.statedVideoRate == 0 ? 1u : 0u);
            if (made.statedVideoRate != 0) {
                EXPECT_EQ(s->bitRate, made.statedVideoRate);
            }
            if (!firstVideoDuration) {
                firstVideoDuration = std::strtod(Text(m_facts, key + "duration").c_str(), nullptr);
                frameMs = 1000.0 * rate->second / rate->first;
            }
        } else {
            EXPECT_EQ(s->category, VSK_PROBE_STREAM_AUDIO);
            EXPECT_EQ(s->channels, Number(m_facts, key + "channels"));
            EXPECT_EQ(s->samplingRate, Number(m_facts, key + "sample_rate"));
            EXPECT_EQ(s->bitRate, Number(m_facts, key + "bit_rate"));
            EXPECT_EQ(s->bitRateMeasured, 0u);
            if (codecName.size() == 3 && codecName.starts_with("mp")) {
                EXPECT_EQ(s->layer, static_cast<std::uint32_t>(codecName[2] - '0'));
            }
        }
    }
    std::uint32_t ours = 0;
    for (std::uint32_t i = 0; i < m_probe.streamCount; ++i)
        ours += m_probe.streams[i].category != VSK_PROBE_STREAM_OTHER ? 1 : 0;
    EXPECT_EQ(ours, audioAndVideo);

    ASSERT_TRUE(firstVideoDuration);
    EXPECT_NEAR(m_probe.durationMs, *firstVideoDuration * 1000.0, frameMs + 1.0);
    EXPECT_EQ(m_probe.bitRate,
              static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_probe.fileSize) * 8000 / m_probe.durationMs));

    // A video rate measured is that of all video packets ffprobe reads
    // within a tenth (the probe counts from the first to the last unit with
    // a time stamp, ffprobe's duration runs a frame longer).
    if (videoStreams == 1 && video->bitRateMeasured != 0) {
        std::uint64_t bytes = 0;
        for (const vsktest::ProbePayload& payload : vsktest::ReadProbePackets(GetParam()).payloads)
            bytes += payload.size;
        const double rate = static_cast<double>(bytes) * 8 / *firstVideoDuration;
        EXPECT_NEAR(video->bitRate, rate, rate / 10);
    }
}

using StampedRecording = ProbeRecording;

// 192-byte units whose prefixes are zero: format 2, nothing else changes.
TEST_P(StampedRecording, ZeroedPrefixesAreFormatTwo)
{
    std::vector<std::uint8_t> bytes = vsktest::ReadRecording(GetParam());
    for (std::size_t at = 0; at + 192 <= bytes.size(); at += 192)
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 4, 0);
    vsktest::CTempDir dir;
    SVskStreamProbe zeroed = ProbeFile(dir.WriteFile("zeroed.m2ts", bytes));
    EXPECT_EQ(zeroed.packetFormat, VSK_PROBE_FORMAT_192_ZERO);
    zeroed.packetFormat = m_probe.packetFormat;
    ExpectSameFacts(zeroed, m_probe);
}

// The recording cut in two at a unit boundary near its middle, 12 MiB of
// hole and 100 bytes between the halves: the head and tail reads find the
// same streams, facts and duration in what they read.
TEST_P(ProbeRecording, HeadAndTailOfALargerFileGiveTheSameFacts)
{
    const std::vector<std::uint8_t> bytes = vsktest::ReadRecording(GetParam());
    const std::uint32_t unit = std::max(vsktest::RecordingUnitSize(GetParam()), 2048u);
    const std::size_t half = bytes.size() / 2 / unit * unit;
    const std::uint64_t hole = (12u << 20) + 100;
    vsktest::CTempDir dir;
    const std::filesystem::path file = dir.WriteFile("holed", std::span(bytes).first(half));
    std::filesystem::resize_file(file, half + hole);
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(bytes.data() + half), static_cast<std::streamsize>(bytes.size() - half));
    }
    SProbeStats stats;
    SVskStreamProbe holed = ProbeFile(file, &stats);
    // The hole holds no time the clock would not show: one look into it, at
    // most, finds nothing there.
    EXPECT_LE(stats.samples, 1u);
    EXPECT_LE(stats.bytesRead, std::uint64_t{PROBE_HEAD_BYTES} + PROBE_TAIL_BYTES + stats.samples * PROBE_SAMPLE_BYTES);
    EXPECT_EQ(holed.fileSize, static_cast<std::int64_t>(bytes.size() + hole));
    holed.fileSize = m_probe.fileSize;
    ExpectSameFacts(holed, m_probe);
}

std::string RecordingName(const testing::TestParamInfo<FfmpegRecording>& info)
{
    std::string name = vsktest::RecordingFileName(info.param);
    for (char& c : name) {
        if (c == '-' || c == '.')
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, ProbeRecording, testing::ValuesIn(vsktest::PROBE_FFMPEG_RECORDINGS), RecordingName);
INSTANTIATE_TEST_SUITE_P(Ffmpeg, StampedRecording,
                         testing::Values(FfmpegRecording::H264Ac3M2ts, FfmpegRecording::H264HdAc3M2ts), RecordingName);

}  // namespace
}  // namespace parser
