// The table from probe facts to host numbers, checked where it matters: the
// family the component's own classifier gives the item the table fills.
// Probe values are written as the stream headers state them (MPEG-2
// profile_and_level_indication fields, AVC profile_idc and level_idc, sample
// aspect ratios, frame-rate fractions), not taken from the table.
#include "StreamFacts.h"
#include "source/Classifier.h"

#include "host/host_kit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace mediahost;

constexpr std::uint32_t MAIN_PROFILE = 4, HIGH_LEVEL = 4, HIGH_1440 = 6, MAIN_LEVEL = 8;
constexpr std::uint32_t AVC_HIGH = 100, AVC_MAIN = 77;

struct SVideo {
    std::uint32_t codec = VSK_PROBE_CODEC_MPEG2_VIDEO;
    std::uint32_t width = 1920, height = 1080;
    std::uint32_t rateNum = 30000, rateDen = 1001;
    std::uint32_t darNum = 16, darDen = 9;
    std::uint32_t sarNum = 0, sarDen = 0;
    std::uint32_t profile = MAIN_PROFILE, level = HIGH_LEVEL;
    std::uint32_t bitRate = 18000000, measured = 0;
    std::uint32_t aspectCode = 3;  // as the stream writes it: MPEG-2 16:9
};

struct SAudio {
    std::uint32_t codec = VSK_PROBE_CODEC_AC3;
    std::uint32_t channels = 6, samplingRate = 48000, bitRate = 448000, layer = 0;
};

SVskStreamProbe MakeProbe(std::uint32_t format, const SVideo& v, const SAudio& a, int programs = 1)
{
    SVskStreamProbe p;
    p.streamKind = 2;
    p.packetFormat = format;
    p.fileSize = 20000000;
    p.durationMs = 8000;
    p.bitRate = 19000000;
    p.programCount = static_cast<std::uint32_t>(programs);
    for (int program = 0; program < programs; ++program) {
        SVskProbeStream& video = p.streams[p.streamCount++];
        video.category = VSK_PROBE_STREAM_VIDEO;
        video.codec = v.codec;
        video.programIndex = static_cast<std::uint32_t>(program);
        video.width = v.width;
        video.height = v.height;
        video.frameRateNumerator = v.rateNum;
        video.frameRateDenominator = v.rateDen;
        video.displayAspectNumerator = v.darNum;
        video.displayAspectDenominator = v.darDen;
        video.sampleAspectNumerator = v.sarNum;
        video.sampleAspectDenominator = v.sarDen;
        video.aspectRatioCode = v.aspectCode;
        video.profile = v.profile;
        video.level = v.level;
        video.bitRate = v.bitRate;
        video.bitRateMeasured = v.measured;
        SVskProbeStream& audio = p.streams[p.streamCount++];
        audio.category = VSK_PROBE_STREAM_AUDIO;
        audio.codec = a.codec;
        audio.programIndex = static_cast<std::uint32_t>(program);
        audio.channels = a.channels;
        audio.samplingRate = a.samplingRate;
        audio.bitRate = a.bitRate;
        audio.layer = a.layer;
    }
    return p;
}

SVideo Avc(std::uint32_t rateNum, std::uint32_t rateDen)
{
    SVideo v;
    v.codec = VSK_PROBE_CODEC_AVC;
    v.rateNum = rateNum;
    v.rateDen = rateDen;
    v.sarNum = v.sarDen = 1;
    v.profile = AVC_HIGH;
    v.level = 40;
    v.bitRate = 12000000;
    return v;
}

SVideo With(SVideo v, void (*change)(SVideo&))
{
    change(v);
    return v;
}

const SAudio MP2{VSK_PROBE_CODEC_MPEG_AUDIO, 2, 48000, 384000, 2};

struct SCase {
    const char* what;
    SVskStreamProbe probe;
    int code;  // -1: the classifier refuses the item
};

// Families: 4-6 HD NA, 16-18 HD KO+NA, 22-24 SD EU, 25-27 AVC 60, 28-30 AVC
// 50, 31-33 AVC 24, 34 1440x1080 29.97 with MPEG audio. In each family the
// packet formats 2, 3 and 1 give the first, second and third code.
const SCase CASES[] = {
    {"MPEG-2 1080 16:9 29.97 AC-3 5.1, 188", MakeProbe(1, {}, {}), 18},
    {"the same in 192-byte units with zero prefixes", MakeProbe(2, {}, {}), 16},
    {"the same with arrival stamps", MakeProbe(3, {}, {}), 17},
    {"bit_rate_value 0x3FFFF: unknown, the measured rate decides",
     MakeProbe(1, With({}, [](SVideo& v) { v.bitRate = MPEG2_UNSTATED_BIT_RATE; }), {}), 18},
    {"a measured 30 Mbit/s is over the HD limit",
     MakeProbe(1, With({}, [](SVideo& v) { v.bitRate = 30000000, v.measured = 1; }), {}), -2},
    {"1920x1080 stating 16:9, whose samples are square all the same",
     MakeProbe(1, With({}, [](SVideo& v) { v.sarNum = v.sarDen = 1; }), {}), 18},
    {"1920x1080 stating square samples: HD North America",
     MakeProbe(1, With({}, [](SVideo& v) { v.sarNum = v.sarDen = 1, v.aspectCode = 1; }), {}), 6},
    {"720x576 at 1:1 samples: square, which SD Europe refuses",
     MakeProbe(1, With({}, [](SVideo& v) {
                   v.width = 720, v.height = 576, v.rateNum = 25, v.rateDen = 1, v.darNum = 5, v.darDen = 4;
                   v.sarNum = v.sarDen = 1, v.aspectCode = 1, v.level = MAIN_LEVEL, v.bitRate = 9000000;
               }),
               MP2),
     -2},
    {"1440x1080 16:9 High Level at 29.97", MakeProbe(1, With({}, [](SVideo& v) { v.width = 1440; }), {}), 6},
    {"1440x1080 16:9 High-1440 at 29.97 with MPEG audio",
     MakeProbe(1, With({}, [](SVideo& v) { v.width = 1440, v.level = HIGH_1440; }), MP2), 34},
    {"720x576 4:3 25 fps Main Level with MPEG audio",
     MakeProbe(1, With({}, [](SVideo& v) {
                   v.width = 720, v.height = 576, v.rateNum = 25, v.rateDen = 1, v.darNum = 4, v.darDen = 3;
                   v.level = MAIN_LEVEL, v.bitRate = 9000000;
               }),
               MP2),
     24},
    {"720x576 16:9 25 fps in 192-byte units",
     MakeProbe(2, With({}, [](SVideo& v) {
                   v.width = 720, v.height = 576, v.rateNum = 25, v.rateDen = 1, v.level = MAIN_LEVEL;
                   v.bitRate = 9000000;
               }),
               MP2),
     22},
    {"AVC High 4.0 1080 29.97 AC-3, stamped", MakeProbe(3, Avc(30000, 1001), {}), 26},
    {"AVC High 4.0 1080 29.97 AC-3, zero prefixes", MakeProbe(2, Avc(30000, 1001), {}), 25},
    {"AVC High 4.0 1080 29.97 AC-3, 188", MakeProbe(1, Avc(30000, 1001), {}), 27},
    {"AVC 25 fps", MakeProbe(3, Avc(25, 1), {}), 29},
    {"AVC 23.976 fps", MakeProbe(3, Avc(24000, 1001), {}), 32},
    {"AVC 24 fps", MakeProbe(1, Avc(24, 1), {}), 33},
    {"AVC Main 3.1 1440x1080 with 4:3 samples",
     MakeProbe(3, With(Avc(30000, 1001), [](SVideo& v) { v.width = 1440, v.sarNum = 4, v.sarDen = 3, v.profile = AVC_MAIN, v.level = 31; }), {}),
     26},
    {"AVC without a sample aspect: the display aspect",
     MakeProbe(3, With(Avc(30000, 1001), [](SVideo& v) { v.sarNum = v.sarDen = 0; }), {}), 26},
    {"AVC level 4.2 is past the families",
     MakeProbe(3, With(Avc(30000, 1001), [](SVideo& v) { v.level = 42; }), {}), -2},
    {"two programs: two video streams", MakeProbe(1, {}, {}, 2), -1},
};

class FamilyTest : public testing::TestWithParam<SCase> {};

TEST_P(FamilyTest, ItemFromProbeClassifiesIntoItsFamily)
{
    const SCase& c = GetParam();
    auto item = MakeMediaItem(L"unused.ts", MapProbe(c.probe));
    bool videoOk = false;
    bool audioOk = false;
    int code = -100;
    const bool classified = source::ClassifyMediaItem(item, &videoOk, &audioOk, &code);
    if (c.code == -1) {
        EXPECT_FALSE(classified);
        return;
    }
    ASSERT_TRUE(classified);
    if (c.code == -2) {
        EXPECT_FALSE(videoOk);
        EXPECT_EQ(code, 0);
        return;
    }
    EXPECT_TRUE(videoOk);
    EXPECT_TRUE(audioOk);
    EXPECT_EQ(code, c.code);
}

INSTANTIATE_TEST_SUITE_P(Probe, FamilyTest, testing::ValuesIn(CASES), [](const auto& info) {
    std::string name = std::to_string(info.index) + "_";
    for (const char* p = info.param.what; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

TEST(StreamFacts, RatesAndCountsAsTheItemCarriesThem)
{
    // The unstated MPEG-2 rate gives the overall rate less the known audio
    // rate, not flagged as stated; a stated one is flagged and kept.
    SItemFacts unstated = MapProbe(MakeProbe(1, With({}, [](SVideo& v) { v.bitRate = MPEG2_UNSTATED_BIT_RATE; }), {}));
    ASSERT_TRUE(unstated.video);
    EXPECT_EQ(unstated.video->bitRateFlag, VARIANT_FALSE);
    EXPECT_EQ(unstated.video->primaryBitRate, 19000000 - 448000);
    SItemFacts stated = MapProbe(MakeProbe(1, {}, {}));
    EXPECT_EQ(stated.video->bitRateFlag, VARIANT_TRUE);
    EXPECT_EQ(stated.video->primaryBitRate, 18000000);

    // A probe that knows nothing leaves every number unknown.
    SVskStreamProbe empty;
    const SItemFacts none = MapProbe(empty);
    EXPECT_EQ(none.size, -1);
    EXPECT_EQ(none.durationMs, -1);
    EXPECT_FALSE(none.video);
    EXPECT_FALSE(none.audio);

    // Audio is counted in the video's program only; video in every program.
    SItemFacts two = MapProbe(MakeProbe(1, {}, {}, 2));
    EXPECT_EQ(two.videoStreamCount, 2);
    EXPECT_EQ(two.audioStreamCount, 1);
}

TEST(StreamFacts, LevelsAndAspectsRowByRow)
{
    const std::pair<std::uint32_t, LONG> avcLevels[] = {{10, 0}, {9, 1}, {11, 2}, {30, 8}, {31, 9}, {32, 10},
                                                        {40, 11}, {41, 12}, {42, 13}, {51, 15}, {62, 19}, {99, 0}};
    for (const auto& [idc, code] : avcLevels)
        EXPECT_EQ(AvcLevelCode(idc), code) << "level_idc " << idc;
    EXPECT_EQ(Mpeg2LevelCode(MAIN_LEVEL), 2);
    EXPECT_EQ(Mpeg2LevelCode(HIGH_LEVEL), 3);
    EXPECT_EQ(Mpeg2LevelCode(HIGH_1440), 4);
    EXPECT_EQ(Mpeg2ProfileCode(MAIN_PROFILE), 2);
    EXPECT_EQ(AvcProfileCode(AVC_MAIN), 2);
    EXPECT_EQ(AvcProfileCode(AVC_HIGH), 3);

    // AVC display aspect from samples and cropped size.
    struct SAspect {
        std::uint32_t width, height, sarNum, sarDen;
        LONG code;
    };
    const SAspect aspects[] = {{1920, 1080, 1, 1, 3}, {1440, 1080, 4, 3, 3}, {720, 480, 40, 33, 3},
                               {720, 480, 10, 11, 2}, {720, 576, 16, 11, 3}, {640, 480, 1, 1, 2},
                               {1000, 1000, 1, 1, 0}};
    for (const SAspect& a : aspects) {
        SVskProbeStream s;
        s.codec = VSK_PROBE_CODEC_AVC;
        s.width = a.width;
        s.height = a.height;
        s.sampleAspectNumerator = a.sarNum;
        s.sampleAspectDenominator = a.sarDen;
        EXPECT_EQ(AspectCode(s), a.code) << a.width << "x" << a.height << " " << a.sarNum << ":" << a.sarDen;
    }
}

}  // namespace
