// The audio header parsers on frames written field by field: channels,
// sampling rate, bit rate and frame length for each rule of the AC-3 sync
// frame (ATSC A/52) and the MPEG audio header (ISO/IEC 11172-3, 13818-3),
// worked out by hand; the values the standards reserve; and the search of a
// unit's payload, which wants the next frame where the first one says.
#include "AudioHeaders.h"
#include "HeaderWriters.h"
#include "VskMpegParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace parser {
namespace {

using probetest::Bytes;

struct SExpectedAudio {
    std::uint32_t channels;
    std::uint32_t samplingRate;
    std::uint32_t bitRate;
    std::uint32_t frameBytes;
};

void ExpectAudio(const SAudioFacts& got, const SExpectedAudio& want)
{
    EXPECT_EQ(got.channels, want.channels);
    EXPECT_EQ(got.samplingRate, want.samplingRate);
    EXPECT_EQ(got.bitRate, want.bitRate);
    EXPECT_EQ(got.frameBytes, want.frameBytes);
}

TEST(Ac3Headers, TheSyncFrameGivesChannelsRateAndLength)
{
    using probetest::SAc3Header;
    struct SCase {
        const char* name;
        SAc3Header header;
        SExpectedAudio expected;
    };
    // Frame lengths in 16-bit words: 2 per kbit/s at 48 kHz, 3 at 32 kHz,
    // and at 44.1 kHz rate x 1536 / 44100 / 16 rounded down, plus one for
    // the odd frmsizecod.
    const std::vector<SCase> cases = {
        {"3/2 with LFE at 448 kbit/s, 48 kHz", {.fscod = 0, .frmsizecod = 30, .acmod = 7, .lfeon = 1},
         {6, 48000, 448000, 1792}},
        {"2/0 (dsurmod) at 448 kbit/s, 44.1 kHz, odd", {.fscod = 1, .frmsizecod = 31, .acmod = 2, .lfeon = 0},
         {2, 44100, 448000, 1952}},
        {"2/0 at 448 kbit/s, 44.1 kHz, even", {.fscod = 1, .frmsizecod = 30, .acmod = 2, .lfeon = 0},
         {2, 44100, 448000, 1950}},
        {"1/0 with LFE at 64 kbit/s, 32 kHz", {.fscod = 2, .frmsizecod = 8, .acmod = 1, .lfeon = 1},
         {2, 32000, 64000, 384}},
        {"1+1 at 32 kbit/s", {.fscod = 0, .frmsizecod = 0, .acmod = 0, .lfeon = 0}, {2, 48000, 32000, 128}},
        {"3/0 (cmixlev) with LFE at 640 kbit/s", {.fscod = 0, .frmsizecod = 37, .acmod = 3, .lfeon = 1},
         {4, 48000, 640000, 2560}},
        {"2/1 (surmixlev) at 192 kbit/s", {.fscod = 0, .frmsizecod = 20, .acmod = 4, .lfeon = 0},
         {3, 48000, 192000, 768}},
        {"3/1 (both mix levels)", {.fscod = 0, .frmsizecod = 20, .acmod = 5, .lfeon = 0}, {4, 48000, 192000, 768}},
        {"2/2 with LFE", {.fscod = 0, .frmsizecod = 20, .acmod = 6, .lfeon = 1}, {5, 48000, 192000, 768}},
        {"an older bsid", {.frmsizecod = 20, .bsid = 6, .acmod = 2, .lfeon = 0}, {2, 48000, 192000, 768}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = probetest::Ac3Frame(c.header, 16);
        SAudioFacts facts;
        ASSERT_TRUE(ParseAc3SyncFrame(frame.data(), frame.size(), facts));
        EXPECT_EQ(facts.codec, VSK_PROBE_CODEC_AC3);
        EXPECT_EQ(facts.samplesPerFrame, 1536u);
        ExpectAudio(facts, c.expected);
    }
}

TEST(Ac3Headers, ReservedValuesAndShortFramesAreRefused)
{
    using probetest::SAc3Header;
    struct SCase {
        const char* name;
        Bytes bytes;
    };
    const Bytes full = probetest::Ac3Frame({}, 0);
    const std::vector<SCase> cases = {
        {"fscod 3", probetest::Ac3Frame({.fscod = 3}, 16)},
        {"frmsizecod 38", probetest::Ac3Frame({.frmsizecod = 38}, 16)},
        {"bsid 9", probetest::Ac3Frame({.bsid = 9}, 16)},
        {"no sync word", probetest::Ac3Frame({.syncWord = 0x0B78}, 16)},
        {"cut before lfeon", Bytes(full.begin(), full.begin() + 6)},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SAudioFacts facts;
        EXPECT_FALSE(ParseAc3SyncFrame(c.bytes.data(), c.bytes.size(), facts));
        EXPECT_FALSE(FindAc3Facts(c.bytes.data(), c.bytes.size(), facts));
    }
}

TEST(Ac3Headers, TheSearchWantsTheNextFrameWhereTheFirstEnds)
{
    const Bytes frame = probetest::Ac3Frame({.frmsizecod = 8, .acmod = 2, .lfeon = 0}, 256);
    // A sync word whose frame would end where no frame starts comes first.
    Bytes payload = {0x12, 0x0B, 0x77, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    probetest::Append(payload, frame);
    probetest::Append(payload, frame);
    SAudioFacts facts;
    ASSERT_TRUE(FindAc3Facts(payload.data(), payload.size(), facts));
    ExpectAudio(facts, {2, 48000, 64000, 256});

    // A frame whose successor lies beyond the unit is taken as it is.
    ASSERT_TRUE(FindAc3Facts(frame.data(), 100, facts));
    Bytes wrongNext = frame;
    probetest::Append(wrongNext, Bytes(16, 0x55));
    EXPECT_FALSE(FindAc3Facts(wrongNext.data(), wrongNext.size(), facts));
    EXPECT_FALSE(FindAc3Facts(nullptr, 100, facts));
}

TEST(MpegAudioHeaders, TheHeaderGivesLayerChannelsRateAndLength)
{
    using probetest::SMpegAudioHeader;
    struct SCase {
        const char* name;
        SMpegAudioHeader header;
        std::uint32_t layer;
        std::uint32_t samplesPerFrame;
        SExpectedAudio expected;
    };
    // Lengths: layer I (12 x rate / fs + padding) x 4; layers II and III
    // 144 x rate / fs + padding, layer III at the lower rates 72 x rate / fs.
    const std::vector<SCase> cases = {
        {"MPEG-1 layer II, 256 kbit/s, 48 kHz, stereo", {}, 2, 1152, {2, 48000, 256000, 768}},
        {"MPEG-1 layer III, 128 kbit/s, 44.1 kHz, mono, padded",
         {.layerCode = 1, .bitrateIndex = 9, .samplingCode = 0, .padding = 1, .mode = 3},
         3, 1152, {1, 44100, 128000, 418}},
        {"MPEG-1 layer I, 448 kbit/s, 32 kHz, dual channel",
         {.layerCode = 3, .bitrateIndex = 14, .samplingCode = 2, .mode = 2},
         1, 384, {2, 32000, 448000, 672}},
        {"MPEG-2 layer III, 64 kbit/s, 24 kHz, joint stereo",
         {.versionCode = 2, .layerCode = 1, .bitrateIndex = 8, .samplingCode = 1, .mode = 1},
         3, 576, {2, 24000, 64000, 192}},
        {"MPEG-2 layer II, 160 kbit/s, 16 kHz",
         {.versionCode = 2, .layerCode = 2, .bitrateIndex = 14, .samplingCode = 2},
         2, 1152, {2, 16000, 160000, 1440}},
        {"MPEG-2 layer I, 80 kbit/s, 22.05 kHz",
         {.versionCode = 2, .layerCode = 3, .bitrateIndex = 5, .samplingCode = 0},
         1, 384, {2, 22050, 80000, 172}},
        {"MPEG-2.5 layer III, 8 kbit/s, 8 kHz, mono",
         {.versionCode = 0, .layerCode = 1, .bitrateIndex = 1, .samplingCode = 2, .mode = 3},
         3, 576, {1, 8000, 8000, 72}},
        {"free format", {.bitrateIndex = 0}, 2, 1152, {2, 48000, 0, 0}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = probetest::MpegAudioFrame(c.header, 4);
        SAudioFacts facts;
        ASSERT_TRUE(ParseMpegAudioHeader(frame.data(), frame.size(), facts));
        EXPECT_EQ(facts.codec, VSK_PROBE_CODEC_MPEG_AUDIO);
        EXPECT_EQ(facts.layer, c.layer);
        EXPECT_EQ(facts.samplesPerFrame, c.samplesPerFrame);
        ExpectAudio(facts, c.expected);
    }
}

TEST(MpegAudioHeaders, ReservedValuesAreRefused)
{
    using probetest::SMpegAudioHeader;
    struct SCase {
        const char* name;
        SMpegAudioHeader header;
    };
    const std::vector<SCase> cases = {
        {"version 01", {.versionCode = 1}}, {"layer 00", {.layerCode = 0}},
        {"bitrate_index 15", {.bitrateIndex = 15}}, {"sampling_frequency 11", {.samplingCode = 3}},
        {"emphasis 10", {.emphasis = 2}}, {"a sync bit missing", {.sync = 0x7FE}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = probetest::MpegAudioFrame(c.header, 4);
        SAudioFacts facts;
        EXPECT_FALSE(ParseMpegAudioHeader(frame.data(), frame.size(), facts));
    }
    const Bytes frame = probetest::MpegAudioFrame({}, 4);
    SAudioFacts facts;
    EXPECT_FALSE(ParseMpegAudioHeader(frame.data(), 3, facts));
}

TEST(MpegAudioHeaders, TheSearchWantsAMatchingNextHeader)
{
    // 96 kbit/s at 48 kHz, layer II: 288-byte frames.
    const Bytes frame = probetest::MpegAudioFrame({.bitrateIndex = 6}, 288);
    // A sync pattern whose next "frame" is a different stream comes first.
    Bytes payload = probetest::MpegAudioFrame({.bitrateIndex = 6, .samplingCode = 0}, 313);
    probetest::Append(payload, frame);
    probetest::Append(payload, frame);
    SAudioFacts facts;
    ASSERT_TRUE(FindMpegAudioFacts(payload.data(), payload.size(), facts));
    ExpectAudio(facts, {2, 48000, 96000, 288});

    // Free format says nothing of the next frame: only where the unit starts.
    Bytes free = probetest::MpegAudioFrame({.bitrateIndex = 0}, 100);
    EXPECT_TRUE(FindMpegAudioFacts(free.data(), free.size(), facts));
    free.insert(free.begin(), {0x00, 0x00, 0x00});
    EXPECT_FALSE(FindMpegAudioFacts(free.data(), free.size(), facts));
    EXPECT_FALSE(FindMpegAudioFacts(nullptr, 100, facts));
}

}  // namespace
}  // namespace parser
