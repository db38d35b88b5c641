// The stream probe on files written by the test: the checks of the call and
// the size versioning of the structure; the streams of built transport and
// program streams with their facts and rates, stated and measured; the
// duration from presentation times in any order, across the wrap of the
// clock and without video; the packet formats; a large file read only at
// its head and tail; and slot 3 of the parser object in the built library.
#include "HeaderWriters.h"
#include "StreamProbe.h"
#include "TimeSeek.h"
#include "VskMpegParser.h"

#include "vsktest/PesPacket.h"
#include "vsktest/ProgramStreamBuilder.h"
#include "vsktest/PsiSections.h"
#include "vsktest/ReceiverRecordings.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/TestLibrary.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace parser {
namespace {

using probetest::Bytes;

constexpr std::int32_t OK = VSK_PARSER_RESULT_OK;
constexpr std::uint64_t PTS_WRAP = std::uint64_t{1} << 33;
constexpr std::uint64_t FRAME_25 = 3600;  // ticks of one frame at 25 Hz

struct SProbed {
    std::int32_t result = -1;
    SVskStreamProbe probe;
    SProbeStats stats;
};

SProbed Probe(const std::filesystem::path& path)
{
    SProbed p;
    p.result = ProbeStreamFile(path.wstring().c_str(), &p.probe, &p.stats);
    return p;
}

// A 720 x 576 sequence at 25 Hz shown at 4:3, with the given bit_rate_value.
Bytes Mpeg2Sequence(std::uint32_t bitRateValue)
{
    Bytes b = probetest::SequenceHeader({.bitRateValue = bitRateValue});
    probetest::Append(b, probetest::SequenceExtension({}));
    probetest::Append(b, probetest::StartCode(0x00));
    return b;
}

// A payload of `size` bytes that begins with `head`.
Bytes Payload(const Bytes& head, std::size_t size)
{
    Bytes b = head;
    b.resize(std::max(size, head.size()), 0xA5);
    return b;
}

vsktest::PesParams Pes(std::uint8_t streamId, std::uint64_t pts, Bytes payload)
{
    vsktest::PesParams pes;
    pes.streamId = streamId;
    pes.pts = pts;
    pes.payload = std::move(payload);
    return pes;
}

// Transport streams: one PAT, the PMTs, then what the test adds.
class CTransportWriter
{
public:
    explicit CTransportWriter(std::size_t unitSize = 188) : m_builder(unitSize) {}

    void Programs(const std::vector<vsktest::PmtParams>& programs, const std::vector<std::uint16_t>& pmtPids)
    {
        vsktest::PatParams pat;
        for (std::size_t i = 0; i < programs.size(); ++i)
            pat.entries.push_back({programs[i].programNumber, pmtPids[i]});
        m_builder.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
        for (std::size_t i = 0; i < programs.size(); ++i)
            m_builder.AddSection(pmtPids[i], vsktest::MakePmt(programs[i]));
    }

    void Pes(std::uint16_t pid, std::uint8_t streamId, std::optional<std::uint64_t> pts,
             std::optional<std::uint64_t> dts, const Bytes& payload)
    {
        vsktest::PesParams pes;
        pes.streamId = streamId;
        pes.pts = pts;
        pes.dts = dts;
        pes.payload = payload;
        pes.unbounded = streamId >= 0xE0;
        m_builder.AddPes(pid, vsktest::MakePes(pes));
    }

    vsktest::CTsStreamBuilder& Builder() { return m_builder; }
    Bytes Take() { return m_builder.Take(); }

private:
    vsktest::CTsStreamBuilder m_builder;
};

vsktest::PmtParams Program(std::uint16_t number, std::vector<vsktest::PmtStream> streams)
{
    vsktest::PmtParams pmt;
    pmt.programNumber = number;
    pmt.pcrPid = streams.empty() ? 0x1FFF : streams.front().pid;
    pmt.streams = std::move(streams);
    return pmt;
}

// One program: MPEG-2 video on 0x100 with the given PTS (and DTS), each unit
// 5000 bytes beginning with the sequence header, and AC-3 on 0x101 every
// other video unit.
Bytes VideoStream(const std::vector<std::uint64_t>& pts, const std::vector<std::uint64_t>& dts = {},
                  std::size_t unitSize = 188, std::uint32_t bitRateValue = 22500)
{
    CTransportWriter w(unitSize);
    w.Programs({Program(1, {{0x02, 0x100, {}}, {0x81, 0x101, {}}})}, {0x1000});
    const Bytes ac3 = probetest::Ac3Frame({.frmsizecod = 20, .acmod = 2, .lfeon = 0}, 768);
    for (std::size_t i = 0; i < pts.size(); ++i) {
        w.Pes(0x100, 0xE0, pts[i], dts.empty() ? std::nullopt : std::optional(dts[i]),
              Payload(Mpeg2Sequence(bitRateValue), 5000));
        if (i % 2 == 0)
            w.Pes(0x101, 0xBD, pts[0] + i * FRAME_25, std::nullopt, ac3);
    }
    return w.Take();
}

TEST(StreamProbe, CallsAreCheckedAndAFailureLeavesTheProbeAlone)
{
    vsktest::CTempDir dir;
    const std::wstring good = dir.WriteFile("good.ts", VideoStream({90000, 93600, 97200})).wstring();
    const std::wstring junk = dir.WriteFile("junk.ts", Bytes(200000, 0x33)).wstring();
    const std::wstring empty = dir.WriteFile("empty.ts", Bytes()).wstring();
    const std::wstring missing = dir.File(L"missing.ts");
    EXPECT_EQ(ProbeStreamFile(good.c_str(), nullptr), VSK_PARSER_RESULT_POINTER);

    struct SCase {
        const char* name;
        const wchar_t* path;
        std::uint32_t size;
        std::int32_t result;
    };
    const std::vector<SCase> cases = {
        {"a size below the first version", good.c_str(), VSK_PROBE_SIZE_V1 - 1, VSK_PARSER_RESULT_INVALIDARG},
        {"size 0", good.c_str(), 0, VSK_PARSER_RESULT_INVALIDARG},
        {"a null path", nullptr, VSK_PROBE_SIZE_V1, VSK_PARSER_RESULT_INVALIDARG},
        {"a missing file", missing.c_str(), VSK_PROBE_SIZE_V1, VSK_PARSER_RESULT_INVALIDARG},
        {"bytes of no known kind", junk.c_str(), VSK_PROBE_SIZE_V1, VSK_PARSER_RESULT_FAIL},
        {"an empty file", empty.c_str(), VSK_PROBE_SIZE_V1, VSK_PARSER_RESULT_FAIL},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SVskStreamProbe probe;
        std::memset(static_cast<void*>(&probe), 0xAB, sizeof probe);
        probe.size = c.size;
        std::vector<std::uint8_t> before(sizeof probe);
        std::memcpy(before.data(), &probe, sizeof probe);
        EXPECT_EQ(ProbeStreamFile(c.path, &probe), c.result);
        EXPECT_EQ(std::memcmp(&probe, before.data(), sizeof probe), 0);
    }

    // A caller whose structure is longer than this library's: the bytes
    // behind it and its size stay as they were.
    struct SLonger {
        SVskStreamProbe probe;
        std::uint8_t later[40];
    } longer;
    std::memset(longer.later, 0x5C, sizeof longer.later);
    longer.probe.size = sizeof longer;
    ASSERT_EQ(ProbeStreamFile(good.c_str(), &longer.probe), OK);
    EXPECT_EQ(longer.probe.size, sizeof longer);
    EXPECT_EQ(longer.probe.streamCount, 2u);
    EXPECT_EQ(longer.later[0], 0x5C);
    EXPECT_EQ(longer.later[39], 0x5C);
}

TEST(StreamProbe, StreamsComeInMapOrderWithTheirFactsAndRates)
{
    // Program 1: AC-3, MPEG-2 video stating no rate, free-format MPEG audio,
    // LPCM without units. Program 2: AVC without HRD. Video units of 5000
    // bytes every 3600 ticks of decoding time carry 5000 x 8 x 90000 / 3600
    // = 1,000,000 bit/s; audio units of 960 bytes every 2160 ticks carry
    // 320,000 bit/s.
    CTransportWriter w;
    w.Programs({Program(1, {{0x81, 0x101, {}}, {0x02, 0x100, {}}, {0x03, 0x102, {}}, {0x82, 0x103, {}}}),
                Program(7, {{0x1B, 0x200, {}}})},
               {0x1000, 0x1001});
    probetest::SSps sps;
    sps.crop = std::array<std::uint32_t, 4>{0, 0, 0, 4};
    sps.vui = probetest::SVui{.aspectRatioIdc = 1, .numUnitsInTick = 1, .timeScale = 50};
    const Bytes ac3 = probetest::Ac3Frame({.fscod = 0, .frmsizecod = 30, .acmod = 7, .lfeon = 1}, 1792);
    const Bytes mp2 = probetest::MpegAudioFrame({.bitrateIndex = 0, .mode = 3}, 960);
    // Decoding order I P B B P B B ...: PTS = DTS + 3 frames for I and P.
    for (std::uint64_t i = 0; i < 30; ++i) {
        const std::uint64_t dts = 900000 + i * FRAME_25;
        const std::uint64_t pts = i % 3 == 0 ? dts + 3 * FRAME_25 : dts;
        w.Pes(0x100, 0xE0, pts, dts, Payload(Mpeg2Sequence(0x3FFFF), 5000));
        w.Pes(0x200, 0xE0, pts, dts, Payload(probetest::SpsNal(sps), 5000));
        w.Pes(0x101, 0xBD, dts, std::nullopt, ac3);
        w.Pes(0x102, 0xC0, 900000 + i * 2160, std::nullopt, mp2);
    }
    vsktest::CTempDir dir;
    const SProbed p = Probe(dir.WriteFile("programs.ts", w.Take()));
    ASSERT_EQ(p.result, OK);
    EXPECT_EQ(p.probe.streamKind, 2u);
    EXPECT_EQ(p.probe.packetFormat, VSK_PROBE_FORMAT_188);
    EXPECT_EQ(p.probe.programCount, 2u);
    ASSERT_EQ(p.probe.streamCount, 5u);

    struct SExpected {
        std::uint32_t category, codec, programIndex, programNumber, pid, streamType, streamId;
        std::uint32_t bitRate, measured, width, height, channels, samplingRate, layer;
    };
    const SExpected expected[] = {
        {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_AC3, 0, 1, 0x101, 0x81, 0xBD, 448000, 0, 0, 0, 6, 48000, 0},
        {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_MPEG2_VIDEO, 0, 1, 0x100, 0x02, 0xE0, 1000000, 1, 720, 576, 0, 0, 0},
        {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_MPEG_AUDIO, 0, 1, 0x102, 0x03, 0xC0, 320000, 1, 0, 0, 1, 48000, 2},
        {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_LPCM, 0, 1, 0x103, 0x82, 0, 0, 0, 0, 0, 0, 0, 0},
        {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_AVC, 1, 7, 0x200, 0x1B, 0xE0, 1000000, 1, 1920, 1080, 0, 0, 0},
    };
    for (std::uint32_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const SVskProbeStream& s = p.probe.streams[i];
        const SExpected& e = expected[i];
        EXPECT_EQ(s.category, e.category);
        EXPECT_EQ(s.codec, e.codec);
        EXPECT_EQ(s.programIndex, e.programIndex);
        EXPECT_EQ(s.programNumber, e.programNumber);
        EXPECT_EQ(s.pid, e.pid);
        EXPECT_EQ(s.streamType, e.streamType);
        EXPECT_EQ(s.streamId, e.streamId);
        EXPECT_EQ(s.bitRate, e.bitRate);
        EXPECT_EQ(s.bitRateMeasured, e.measured);
        EXPECT_EQ(s.width, e.width);
        EXPECT_EQ(s.height, e.height);
        EXPECT_EQ(s.channels, e.channels);
        EXPECT_EQ(s.samplingRate, e.samplingRate);
        EXPECT_EQ(s.layer, e.layer);
        EXPECT_EQ(s.subStreamId, 0u);
    }
    const SVskProbeStream& mpeg2 = p.probe.streams[1];
    EXPECT_EQ(mpeg2.displayAspectNumerator * 3, mpeg2.displayAspectDenominator * 4);
    EXPECT_EQ(mpeg2.frameRateNumerator, 25u);
    EXPECT_EQ(mpeg2.profile, 4u);
    EXPECT_EQ(mpeg2.level, 8u);
    const SVskProbeStream& avc = p.probe.streams[4];
    EXPECT_EQ(avc.frameRateNumerator, 25u);
    EXPECT_EQ(avc.frameRateDenominator, 1u);
    EXPECT_EQ(avc.profile, 100u);
    // The first program's video sets the duration: from unit 1 (900000 + 1
    // frame, shown before unit 0) to unit 27 (900000 + 30 frames), plus one
    // frame.
    EXPECT_EQ(p.probe.durationMs, 30u * 40u);
}

TEST(StreamProbe, TheDurationSpansTheEarliestToTheLatestPresentation)
{
    struct SCase {
        const char* name;
        std::vector<std::uint64_t> pts;
        std::uint32_t durationMs;
    };
    auto steady = [](std::uint64_t first, std::size_t count) {
        std::vector<std::uint64_t> pts;
        for (std::size_t i = 0; i < count; ++i)
            pts.push_back((first + i * FRAME_25) % PTS_WRAP);
        return pts;
    };
    const std::vector<SCase> cases = {
        // 50 frames; the last unit never completes in the reader, its time
        // stamp counts all the same.
        {"steady", steady(90000, 50), 2000},
        {"across the wrap of the clock", steady(PTS_WRAP - 45000, 50), 2000},
        {"decoding order, the latest not last", {90000, 90000 + 3 * FRAME_25, 90000 + FRAME_25,
                                                 90000 + 2 * FRAME_25, 90000 + 6 * FRAME_25, 90000 + 4 * FRAME_25,
                                                 90000 + 5 * FRAME_25}, 280},
        {"pictures shown before the first one", {90000, 90000 - 2 * FRAME_25, 90000 - FRAME_25,
                                                 90000 + 3 * FRAME_25, 90000 + FRAME_25}, 240},
        {"earlier ones across the wrap", {1800, PTS_WRAP - 1800, 1800 + 3 * FRAME_25}, 200},
    };
    vsktest::CTempDir dir;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path file = dir.WriteFile("duration.ts", VideoStream(c.pts));
        const SProbed p = Probe(file);
        ASSERT_EQ(p.result, OK);
        EXPECT_EQ(p.probe.durationMs, c.durationMs);
        EXPECT_EQ(p.probe.bitRate,
                  static_cast<std::uint32_t>(std::filesystem::file_size(file) * 8000 / c.durationMs));
    }

    // Without video the first audio stream counts: 20 AC-3 frames of 1536
    // samples at 48 kHz are 20 x 32 ms.
    CTransportWriter w;
    w.Programs({Program(1, {{0x81, 0x101, {}}})}, {0x1000});
    for (std::uint64_t i = 0; i < 20; ++i)
        w.Pes(0x101, 0xBD, 5000 + i * 2880, std::nullopt, probetest::Ac3Frame({.frmsizecod = 20}, 768));
    const SProbed audio = Probe(dir.WriteFile("audio.ts", w.Take()));
    ASSERT_EQ(audio.result, OK);
    EXPECT_EQ(audio.probe.durationMs, 640u);
    // Nothing timed at all: no duration, no overall rate.
    CTransportWriter u;
    u.Programs({Program(1, {{0x02, 0x100, {}}, {0x81, 0x101, {}}})}, {0x1000});
    for (int i = 0; i < 10; ++i)
        u.Pes(0x100, 0xE0, std::nullopt, std::nullopt, Payload(Mpeg2Sequence(22500), 1000));
    const SProbed untimed = Probe(dir.WriteFile("untimed.ts", u.Take()));
    ASSERT_EQ(untimed.result, OK);
    EXPECT_EQ(untimed.probe.durationMs, 0u);
    EXPECT_EQ(untimed.probe.bitRate, 0u);
    EXPECT_EQ(untimed.probe.streamCount, 2u);
}

// MPEG-2 video is progressive when its sequence says so, or when every
// picture read is a progressive frame, in either kind of stream.
TEST(StreamProbe, MpegVideoIsProgressiveWhenItsSequenceOrEveryPictureIs)
{
    struct SCase {
        const char* name;
        bool programStream;
        std::uint32_t progressiveSequence;
        // progressive_frame of each picture; none: no coding extension.
        std::vector<std::optional<std::uint32_t>> frames;
        std::uint32_t expected;
    };
    const std::vector<std::optional<std::uint32_t>> allProgressive(12, 1u);
    std::vector<std::optional<std::uint32_t>> oneInterlaced = allProgressive;
    oneInterlaced[7] = 0u;
    const SCase cases[] = {
        {"a progressive sequence", false, 1, std::vector<std::optional<std::uint32_t>>(12, 0u), 1},
        {"progressive frames in an interlaced sequence", false, 0, allProgressive, 1},
        {"the same in a program stream", true, 0, allProgressive, 1},
        {"one interlaced frame among them", false, 0, oneInterlaced, 0},
        {"the same in a program stream", true, 0, oneInterlaced, 0},
        {"no picture says", false, 0, std::vector<std::optional<std::uint32_t>>(12), 0},
    };
    vsktest::CTempDir dir;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTransportWriter ts;
        ts.Programs({Program(1, {{0x02, 0x100, {}}})}, {0x1000});
        vsktest::CProgramStreamBuilder ps;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            Bytes picture = probetest::SequenceHeader({});
            probetest::Append(picture, probetest::SequenceExtension({.progressiveSequence = c.progressiveSequence}));
            probetest::Append(picture, probetest::StartCode(0x00));
            probetest::Append(picture, {0x00, 0x0F, 0xFF, 0xF8});
            if (c.frames[i])
                probetest::Append(picture, probetest::PictureCodingExtension({.progressiveFrame = *c.frames[i]}));
            const Bytes payload = Payload(picture, 2000);
            const std::uint64_t pts = 90000 + i * FRAME_25;
            if (c.programStream) {
                ps.AddPack({.scrBase = pts - 9000});
                ps.AddPes(Pes(0xE0, pts, payload));
            } else {
                ts.Pes(0x100, 0xE0, pts, std::nullopt, payload);
            }
        }
        const SProbed p = Probe(dir.WriteFile("pictures", c.programStream ? ps.Take() : ts.Take()));
        ASSERT_EQ(p.result, OK);
        ASSERT_GE(p.probe.streamCount, 1u);
        EXPECT_EQ(p.probe.streams[0].codec, VSK_PROBE_CODEC_MPEG2_VIDEO);
        EXPECT_EQ(p.probe.streams[0].progressive, c.expected);
    }
}

TEST(StreamProbe, PacketFormatsTellStampsFromOtherPrefixes)
{
    std::vector<std::uint64_t> pts;
    for (std::uint64_t i = 0; i < 40; ++i)
        pts.push_back(90000 + i * FRAME_25);
    struct SCase {
        const char* name;
        std::size_t unitSize;
        std::function<void(vsktest::CTsStreamBuilder&)> prefix;
        std::uint32_t kind;
        std::uint32_t format;
    };
    const std::vector<SCase> cases = {
        {"188-byte packets", 188, [](vsktest::CTsStreamBuilder&) {}, 2, VSK_PROBE_FORMAT_188},
        {"zero prefixes", 192, [](vsktest::CTsStreamBuilder& b) { b.SetPrefixZero(); }, 3,
         VSK_PROBE_FORMAT_192_ZERO},
        {"arrival time stamps", 192, [](vsktest::CTsStreamBuilder& b) { b.SetArrivalTime(1000000, 5414); }, 3,
         VSK_PROBE_FORMAT_192_STAMPED},
        {"prefixes of random bytes", 192,
         [](vsktest::CTsStreamBuilder& b) {
             b.SetCustomPrefix([](std::size_t i) {
                 const std::uint32_t r = static_cast<std::uint32_t>(i) * 2654435761u;
                 return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(r >> 24),
                                                    static_cast<std::uint8_t>(r >> 16),
                                                    static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r)};
             });
         },
         3, VSK_PROBE_FORMAT_192_ZERO},
    };
    vsktest::CTempDir dir;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTransportWriter w(c.unitSize);
        c.prefix(w.Builder());
        w.Programs({Program(1, {{0x02, 0x100, {}}})}, {0x1000});
        for (const std::uint64_t t : pts)
            w.Pes(0x100, 0xE0, t, std::nullopt, Payload(Mpeg2Sequence(22500), 3000));
        const SProbed p = Probe(dir.WriteFile("format.ts", w.Take()));
        ASSERT_EQ(p.result, OK);
        EXPECT_EQ(p.probe.streamKind, c.kind);
        EXPECT_EQ(p.probe.packetFormat, c.format);
        EXPECT_EQ(p.probe.durationMs, 1600u);
    }
}

TEST(StreamProbe, ProgramStreamsListStreamIdsAndPrivateSubStreams)
{
    vsktest::CProgramStreamBuilder b;
    b.AddPack({});
    b.AddSystemHeader({});
    probetest::SSps sps;
    sps.crop = std::array<std::uint32_t, 4>{0, 0, 0, 4};
    sps.vui = probetest::SVui{.aspectRatioIdc = 1, .numUnitsInTick = 1001, .timeScale = 60000};
    // DVD sub-stream header: id, frame count, first access unit pointer
    // (counted from its own last byte, so 1 is right behind the header).
    auto subStream = [](std::uint8_t id, const Bytes& frames) {
        Bytes b = {id, 1, 0x00, 0x01};
        probetest::Append(b, frames);
        return b;
    };
    const Bytes ac3Stereo = probetest::Ac3Frame({.frmsizecod = 20, .acmod = 2, .lfeon = 0}, 768);
    const Bytes ac3Surround = probetest::Ac3Frame({.frmsizecod = 30, .acmod = 7, .lfeon = 1}, 1792);
    for (std::uint64_t i = 0; i < 10; ++i) {
        const std::uint64_t t = 90000 + i * FRAME_25;
        b.AddPack({.scrBase = t - 9000});
        b.AddPes(Pes(0xE0, t, Payload(Mpeg2Sequence(0x3FFFF), 1500)));
        b.AddPes(Pes(0xBD, t, subStream(0x81, ac3Surround)));
        b.AddPes(Pes(0xBD, t, subStream(0x80, ac3Stereo)));
        b.AddPes(Pes(0xE1, t, Payload(probetest::SpsNal(sps), 1500)));
        b.AddPes(Pes(0xC0, t, probetest::MpegAudioFrame({}, 768)));
        b.AddPes(Pes(0xBD, t, {0x20, 0x00, 0x01, 0x02}));
    }
    b.AddEnd();
    vsktest::CTempDir dir;
    const SProbed p = Probe(dir.WriteFile("streams.mpg", b.Take()));
    ASSERT_EQ(p.result, OK);
    EXPECT_EQ(p.probe.streamKind, 1u);
    EXPECT_EQ(p.probe.packetFormat, VSK_PROBE_FORMAT_NONE);
    EXPECT_EQ(p.probe.programCount, 1u);
    ASSERT_EQ(p.probe.streamCount, 6u);
    struct SExpected {
        std::uint32_t streamId, subStreamId, category, codec, bitRate, measured, width, channels;
    };
    // 1500 bytes every 3600 ticks: 1500 x 8 x 90000 / 3600 = 300,000 bit/s;
    // the sub-picture's 4 bytes give 800 bit/s.
    const SExpected expected[] = {
        {0xE0, 0, VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_MPEG2_VIDEO, 300000, 1, 720, 0},
        {0xBD, 0x81, VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_AC3, 448000, 0, 0, 6},
        {0xBD, 0x80, VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_AC3, 192000, 0, 0, 2},
        {0xE1, 0, VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_AVC, 300000, 1, 1920, 0},
        {0xC0, 0, VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_MPEG_AUDIO, 256000, 0, 0, 2},
        {0xBD, 0x20, VSK_PROBE_STREAM_OTHER, VSK_PROBE_CODEC_UNKNOWN, 800, 1, 0, 0},
    };
    for (std::uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const SVskProbeStream& s = p.probe.streams[i];
        EXPECT_EQ(s.streamId, expected[i].streamId);
        EXPECT_EQ(s.streamType, expected[i].streamId);
        EXPECT_EQ(s.subStreamId, expected[i].subStreamId);
        EXPECT_EQ(s.category, expected[i].category);
        EXPECT_EQ(s.codec, expected[i].codec);
        EXPECT_EQ(s.bitRate, expected[i].bitRate);
        EXPECT_EQ(s.bitRateMeasured, expected[i].measured);
        EXPECT_EQ(s.width, expected[i].width);
        EXPECT_EQ(s.channels, expected[i].channels);
        EXPECT_EQ(s.pid, 0u);
        EXPECT_EQ(s.programNumber, 0u);
    }
    // Every unit is whole in a program stream: 10 pictures of 40 ms.
    EXPECT_EQ(p.probe.durationMs, 400u);
}

TEST(StreamProbe, ALargeFileIsReadOnlyAtItsHeadAndTail)
{
    // 64 MiB: a stream at the start, a hole the file system need not store,
    // and the end of the stream 10 minutes later, across the wrap of the
    // clock, in the last bytes. The last picture's PTS is first + 15000
    // frames of 25 Hz.
    const std::uint64_t first = PTS_WRAP - 90000;
    std::vector<std::uint64_t> headPts;
    std::vector<std::uint64_t> tailPts;
    for (std::uint64_t i = 0; i < 100; ++i) {
        headPts.push_back(first + i * FRAME_25);
        tailPts.push_back((first + (14901 + i) * FRAME_25) % PTS_WRAP);
    }
    const Bytes head = VideoStream(headPts, {}, 192);
    const Bytes tail = VideoStream(tailPts, {}, 192);
    constexpr std::uint64_t SIZE = 64ull << 20;
    vsktest::CTempDir dir;
    const std::filesystem::path file = dir.WriteFile("large.m2ts", head);
    std::filesystem::resize_file(file, SIZE - tail.size());
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    }
    ASSERT_EQ(std::filesystem::file_size(file), SIZE);

    const SProbed p = Probe(file);
    ASSERT_EQ(p.result, OK);
    EXPECT_EQ(p.stats.headBytes, PROBE_HEAD_BYTES);
    EXPECT_EQ(p.stats.tailOffset, static_cast<std::int64_t>(SIZE - PROBE_TAIL_BYTES));
    EXPECT_EQ(p.stats.bytesRead, std::uint64_t{PROBE_HEAD_BYTES} + PROBE_TAIL_BYTES);
    EXPECT_EQ(p.probe.fileSize, static_cast<std::int64_t>(SIZE));
    EXPECT_EQ(p.probe.durationMs, 15001u * 40u);
    EXPECT_EQ(p.probe.bitRate, static_cast<std::uint32_t>(SIZE * 8000 / (15001u * 40u)));
    ASSERT_EQ(p.probe.streamCount, 2u);
    EXPECT_EQ(p.probe.streams[0].width, 720u);
}

TEST(StreamProbe, SlotThreeOfTheParserObjectInTheLibrary)
{
    const std::filesystem::path configured(VSK_PARSER_LIBRARY_FILE);
    vsktest::CTestLibrary library(vsktest::LocateBuildOutput("parser", configured.filename(), configured));
    ASSERT_TRUE(library.Loaded()) << library.LastError();
    const auto create = library.Function<PfnCreateVskMpegParser>(VSK_PARSER_EXPORT_CREATE);
    ASSERT_NE(create, nullptr);
    IVskMpegParser* object = nullptr;
    ASSERT_EQ(create(&object), OK);
    ASSERT_NE(object, nullptr);

    vsktest::CTempDir dir;
    const std::wstring path = dir.WriteFile("slot.ts", VideoStream({90000, 93600, 97200, 100800})).wstring();
    // The table entries as a caller without the class declaration sees them:
    // the object is the first argument of each.
    using Slot0 = std::uint32_t (*)(IVskMpegParser*);
    using Slot2 = std::int32_t (*)(IVskMpegParser*);
    using Slot3 = std::int32_t (*)(IVskMpegParser*, const wchar_t*, SVskStreamProbe*);
    void** table = *reinterpret_cast<void***>(object);
    EXPECT_EQ(reinterpret_cast<Slot0>(table[0])(object), 2u);
    SVskStreamProbe probe;
    EXPECT_EQ(reinterpret_cast<Slot3>(table[3])(object, path.c_str(), nullptr), VSK_PARSER_RESULT_POINTER);
    ASSERT_EQ(reinterpret_cast<Slot3>(table[3])(object, path.c_str(), &probe), OK);
    EXPECT_EQ(probe.packetFormat, VSK_PROBE_FORMAT_188);
    EXPECT_EQ(probe.durationMs, 160u);
    ASSERT_EQ(probe.streamCount, 2u);
    EXPECT_EQ(probe.streams[0].width, 720u);
    EXPECT_EQ(probe.streams[1].channels, 2u);
    SVskStreamProbe again;
    EXPECT_EQ(object->ProbeStream(path.c_str(), &again), OK);
    EXPECT_EQ(std::memcmp(&again, &probe, sizeof probe), 0);
    EXPECT_EQ(reinterpret_cast<Slot2>(table[2])(object), OK);
}

// Two recordings end to end, the second behind a megabyte of null packets,
// as a receiver writes while its tuner locks: no map there, so no reader
// begun behind the join meets a unit before the second recording's, and the
// megabyte holds no play time at all. Its units as the receiver recordings
// give theirs.
vsktest::ReceiverRecording BehindNullPackets()
{
    vsktest::RecordingParams params;
    params.packetCount = 40000;
    params.audio = true;
    params.psiInterval = 500;
    const vsktest::Recording one = vsktest::MakeRecording(params);
    params.firstPts = one.video.back().pts - 30 * 90000;
    const vsktest::Recording two = vsktest::MakeRecording(params);
    vsktest::CTsStreamBuilder nulls;
    nulls.AddNull((1u << 20) / 188);
    vsktest::ReceiverRecording f;
    f.name = "two recordings end to end, the second behind a megabyte of null packets";
    f.bytes = one.bytes;
    probetest::Append(f.bytes, nulls.Bytes());
    const auto second = static_cast<std::int64_t>(f.bytes.size());
    probetest::Append(f.bytes, two.bytes);
    for (const vsktest::UnitMark& u : one.video)
        f.units.push_back(
            {static_cast<std::int64_t>(u.unitOffset), static_cast<std::int64_t>(u.pts - one.video.front().pts)});
    const std::int64_t from = f.units.back().playTicks + 3003;
    for (std::size_t i = 0; i + 1 < two.video.size(); ++i)
        f.units.push_back({second + static_cast<std::int64_t>(two.video[i].unitOffset),
                           from + static_cast<std::int64_t>(two.video[i].pts - two.video.front().pts)});
    f.estimatedFrom = second;
    return f;
}

// The duration is the sum of the continuous parts, whatever lies between
// the head and the tail: the play time of the last unit, from the units the
// builder wrote and the play-time rule, plus the unit after it that never
// completes. A jump in the part between is read through, so it counts as in
// a whole read; only a step too small to tell from the bytes that a
// discontinuity_indicator alone makes a jump counts as the clock says. A
// file whose video ends long before its bytes is left out: its tail holds
// no video to tell the end by.
TEST(StreamProbe, TheDurationIsTheSumOfTheContinuousParts)
{
    vsktest::CTempDir dir;
    std::vector<vsktest::ReceiverRecording> files = vsktest::MakeReceiverRecordings();
    files.push_back(BehindNullPackets());
    for (const vsktest::ReceiverRecording& f : files) {
        if (std::string(f.name).find("tail without video") != std::string::npos)
            continue;
        SCOPED_TRACE(f.name);
        const SProbed p = Probe(dir.WriteFile("probe.ts", f.bytes));
        ASSERT_EQ(p.result, OK);
        const std::int64_t expected = (f.units.back().playTicks - f.units.front().playTicks + 3003) / 90;
        const std::int64_t tolerance = f.announcedStepTicks / 90;
        EXPECT_LE(std::abs(static_cast<std::int64_t>(p.probe.durationMs) - expected), tolerance)
            << p.probe.durationMs << " ms for " << expected;
        EXPECT_LE(p.stats.samples, PROBE_SAMPLES);
        EXPECT_LE(p.stats.bridges, PROBE_BRIDGES);
    }
}

// Time stamps on one picture in six, as a DVD multiplexer writes them, and
// two recordings of 75 pictures end to end: the second begins one frame
// after the first one's last stamped picture, the frame as the sequence
// header states it, for the seek as for the probe.
TEST(StreamProbe, TheSeekCountsPlayTimeAcrossAJumpAsTheProbeDoes)
{
    struct SStamped {
        std::int64_t position;
        std::uint32_t playMs;
    };
    std::vector<SStamped> stamped;
    vsktest::CProgramStreamBuilder b;
    for (std::uint32_t recording = 0; recording < 2; ++recording) {
        for (std::uint32_t picture = 0; picture < 75; ++picture) {
            const std::uint64_t pts = 900000 + picture * FRAME_25;
            b.AddPack({.scrBase = pts - 9000});
            vsktest::PesParams pes;
            pes.streamId = 0xE0;
            pes.payload.assign(2000, 0x5A);
            if (picture % 6 == 0) {
                pes.pts = pts;
                pes.dts = pts - FRAME_25;
                pes.payload = Payload(Mpeg2Sequence(22500), 2000);
            }
            const auto at = static_cast<std::int64_t>(b.AddPes(pes));
            if (pes.pts)
                stamped.push_back({at, (recording * 73 + picture) * 40});
        }
    }
    b.AddEnd();
    vsktest::CTempDir dir;
    const std::filesystem::path file = dir.WriteFile("dvd.mpg", b.Take());
    const SProbed p = Probe(file);
    ASSERT_EQ(p.result, OK);
    EXPECT_EQ(p.probe.durationMs, 2 * 73 * 40u);
    for (std::uint32_t t = 100; t < stamped.back().playMs; t += 100) {
        SCOPED_TRACE(t);
        std::size_t expected = 0;
        while (expected + 1 < stamped.size() && stamped[expected + 1].playMs <= t)
            ++expected;
        std::uint32_t found = 0;
        std::int64_t position = -1;
        ASSERT_EQ(FindTimeSeekPosition(file.wstring().c_str(), p.probe.durationMs, t, false, &found, &position), OK);
        EXPECT_EQ(position, stamped[expected].position);
        EXPECT_EQ(found, stamped[expected].playMs);
    }
}

}  // namespace
}  // namespace parser
