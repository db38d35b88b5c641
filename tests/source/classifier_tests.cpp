// Classification of host media items. Expected codes are written from the
// published profile rules (sizes, aspect codes, levels, frame-rate windows,
// rate limits), not taken from the classifier's tables.
#include "source/Classifier.h"

#include "host/host_kit.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr LONG FMT_188 = HOST_PACKET_FORMAT_188;
constexpr LONG FMT_192 = HOST_PACKET_FORMAT_192_ZERO_STAMPS;
constexpr LONG FMT_TTS = HOST_PACKET_FORMAT_192_STAMPED;

enum class Codec { MPEG2, AVC, NONE };
enum class Audio { AC3, MPEG, OTHER, NONE };

struct Video {
    Codec codec = Codec::MPEG2;
    LONG width = 1920;
    LONG height = 1080;
    LONG aspect = 3;
    LONG level = 3;
    LONG profile = 2;
    double fps = 29.97;
    LONG rate = 18000000;
};

struct Sound {
    Audio kind = Audio::AC3;
    LONG sampleRate = 48000;
    LONG channels = 6;
    LONG rate = 448000;
};

struct Outcome {
    bool classified;
    int code;
    bool videoOk;
    bool audioOk;
};

// A media item with one video and one audio stream as described.
class CItem {
public:
    CItem(const Video& v, LONG packetFormat, const Sound& a = Sound())
    {
        m_item = CreateHostMediaItem();
        m_item->m_size = 1000000;
        m_item->m_duration = 600000;
        m_item->m_bitRate = 19392700;
        m_item->m_packetFormat = packetFormat;
        m_item->m_videoStreamCount = 1;
        m_item->m_audioStreamCount = 1;
        if (v.codec != Codec::NONE) {
            m_video = CreateHostStream(v.codec == Codec::MPEG2 ? HOST_DESCRIPTION_MPEG2_VIDEO : HOST_DESCRIPTION_AVC_VIDEO);
            HostVideoFacts& f = m_video->m_video;
            f.width = v.width;
            f.height = v.height;
            f.aspectRatioCode = v.aspect;
            f.level = v.level;
            f.profile = v.profile;
            f.frameRate = v.fps;
            f.primaryBitRate = v.rate;
            m_item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(m_video.p);
        }
        if (a.kind != Audio::NONE) {
            const unsigned d = a.kind == Audio::AC3    ? HOST_DESCRIPTION_AC3_AUDIO
                               : a.kind == Audio::MPEG ? HOST_DESCRIPTION_MPEG_AUDIO
                                                       : HOST_DESCRIPTION_OTHER_AUDIO;
            m_audio = CreateHostStream(d);
            m_audio->m_audio.sampleRate = a.sampleRate;
            m_audio->m_audio.channels = a.channels;
            m_audio->m_audio.bitRate = a.rate;
            m_item->m_audioStream = static_cast<IHostAc3AudioDescription*>(m_audio.p);
        }
    }

    Outcome Classify()
    {
        Outcome o{};
        o.code = -7;
        o.classified = source::ClassifyMediaItem(m_item, &o.videoOk, &o.audioOk, &o.code);
        return o;
    }

    CHostMediaItem& Item() { return *m_item; }
    CHostStream& VideoStream() { return *m_video; }
    CHostStream& AudioStream() { return *m_audio; }

private:
    CComPtr<CComObject<CHostMediaItem>> m_item;
    CComPtr<CComObject<CHostStream>> m_video;
    CComPtr<CComObject<CHostStream>> m_audio;
};

// Code of the item with AC-3 audio that fits every family but 34 and 35;
// -1 when the video is rejected.
int VideoCode(const Video& v, LONG packetFormat)
{
    CItem item(v, packetFormat);
    const Outcome o = item.Classify();
    EXPECT_TRUE(o.classified);
    if (!o.videoOk)
        return -1;
    return o.code;
}

Video Mpeg2(LONG w, LONG h, LONG aspect, LONG level, double fps, LONG rate = 8000000)
{
    return Video{Codec::MPEG2, w, h, aspect, level, 2, fps, rate};
}

Video Avc(LONG w, LONG h, LONG aspect, double fps, LONG level = 10, LONG profile = 2, LONG rate = 12000000)
{
    return Video{Codec::AVC, w, h, aspect, level, profile, fps, rate};
}

struct FamilyCase {
    const char* what;
    Video video;
    LONG packetFormat;
    int expected;  // -1 = video rejected
};

class Mpeg2Families : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(Mpeg2Families, GiveTheFamilyCodeForThePacketFormat)
{
    const FamilyCase& c = GetParam();
    EXPECT_EQ(VideoCode(c.video, c.packetFormat), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Classifier, Mpeg2Families,
    ::testing::Values(
        // 480-line SD at 29.97 for the NTSC widths: North America only.
        FamilyCase{"720x480 4:3 29.97 192", Mpeg2(720, 480, 2, 2, 29.97), FMT_192, 1},
        FamilyCase{"352x480 16:9 29.97 188", Mpeg2(352, 480, 3, 2, 29.97), FMT_188, 3},
        FamilyCase{"544x480 stamped", Mpeg2(544, 480, 2, 2, 29.97), FMT_TTS, 2},
        FamilyCase{"720x480 at 30.0 is outside 29.97", Mpeg2(720, 480, 2, 2, 30.0), FMT_188, -1},
        FamilyCase{"640x480 square at 24", Mpeg2(640, 480, 1, 2, 24.0), FMT_188, 3},
        FamilyCase{"640x480 4:3 at 30 is KO and NA", Mpeg2(640, 480, 2, 2, 30.0), FMT_TTS, 14},
        FamilyCase{"704x480 16:9 at 30", Mpeg2(704, 480, 3, 2, 30.0), FMT_188, 15},
        FamilyCase{"704x480 at 23.976", Mpeg2(704, 480, 2, 2, 23.976), FMT_192, 13},
        FamilyCase{"640x480 square 59.94 level 3", Mpeg2(640, 480, 1, 3, 59.94, 20334720), FMT_192, 1},
        FamilyCase{"640x480 4:3 60 level 3", Mpeg2(640, 480, 2, 3, 60.0), FMT_188, 21},
        FamilyCase{"704x480 level 3 59.94", Mpeg2(704, 480, 2, 3, 59.94), FMT_TTS, 20},
        FamilyCase{"704x480 level 3 at 30 has no row", Mpeg2(704, 480, 2, 3, 30.0), FMT_188, -1},
        FamilyCase{"544x576 2.21:1 at 25", Mpeg2(544, 576, 4, 2, 25.0), FMT_188, 24},
        FamilyCase{"352x288 at 25", Mpeg2(352, 288, 2, 2, 25.0), FMT_192, 22},
        FamilyCase{"720x576 at 29.97 is no European row", Mpeg2(720, 576, 2, 2, 29.97), FMT_188, -1},
        FamilyCase{"704x576 is not listed", Mpeg2(704, 576, 2, 2, 25.0), FMT_188, -1},
        FamilyCase{"1280x720 square 59.94", Mpeg2(1280, 720, 1, 3, 59.94), FMT_188, 6},
        FamilyCase{"1280x720 16:9 23.976", Mpeg2(1280, 720, 3, 3, 23.976), FMT_192, 4},
        FamilyCase{"1280x720 16:9 60 is KO and NA", Mpeg2(1280, 720, 3, 3, 60.0), FMT_TTS, 17},
        FamilyCase{"1920x1080 16:9 29.97 is KO and NA", Mpeg2(1920, 1080, 3, 3, 29.97, 18000000), FMT_188, 18},
        FamilyCase{"1920x1080 16:9 23.976", Mpeg2(1920, 1080, 3, 3, 23.976, 18000000), FMT_188, 6},
        FamilyCase{"1920x1080 square 29.97", Mpeg2(1920, 1080, 1, 3, 29.97, 18000000), FMT_188, 6},
        FamilyCase{"1920x1080 at 25 has no row", Mpeg2(1920, 1080, 3, 3, 25.0), FMT_188, -1},
        FamilyCase{"1440x1080 level 3 at 30", Mpeg2(1440, 1080, 3, 3, 30.0), FMT_192, 4},
        FamilyCase{"1280x1080 level 3 at 24", Mpeg2(1280, 1080, 3, 3, 24.0), FMT_TTS, 5},
        FamilyCase{"1920x720 is not listed", Mpeg2(1920, 720, 3, 3, 29.97), FMT_188, -1},
        FamilyCase{"1440x1080 level 4 at 29.97 needs 188-byte packets", Mpeg2(1440, 1080, 3, 4, 29.97), FMT_192, -1},
        FamilyCase{"wrong level", Mpeg2(720, 480, 2, 3, 29.97), FMT_188, -1},
        FamilyCase{"aspect 4 only in Europe", Mpeg2(720, 480, 4, 2, 29.97), FMT_188, -1},
        FamilyCase{"unknown packet format accepts with code 0", Mpeg2(720, 480, 2, 2, 29.97), 4, 0},
        FamilyCase{"packet format 0 accepts with code 0", Mpeg2(1920, 1080, 3, 3, 29.97), 0, 0},
        // Frame-rate window edges are open.
        FamilyCase{"29.96 is outside 29.97", Mpeg2(720, 480, 2, 2, 29.96), FMT_188, -1},
        FamilyCase{"29.9601 is inside", Mpeg2(720, 480, 2, 2, 29.9601), FMT_188, 3},
        FamilyCase{"29.98 is outside 29.97", Mpeg2(720, 480, 2, 2, 29.98), FMT_188, -1},
        FamilyCase{"25.01 is outside 25", Mpeg2(720, 576, 2, 2, 25.01), FMT_188, -1},
        FamilyCase{"24.99 is outside 25", Mpeg2(720, 576, 2, 2, 24.99), FMT_188, -1},
        FamilyCase{"60.01 is outside 60", Mpeg2(1280, 720, 3, 3, 60.01), FMT_188, -1},
        FamilyCase{"50 is no MPEG-2 row", Mpeg2(1280, 720, 1, 3, 50.0), FMT_188, -1},
        FamilyCase{"frame rate unknown", Mpeg2(720, 480, 2, 2, 0.0), FMT_188, -1}));

TEST(Classifier, Mpeg2RateLimitsAreInclusive)
{
    EXPECT_EQ(VideoCode(Mpeg2(720, 480, 2, 2, 29.97, 15728640), FMT_188), 3);
    EXPECT_EQ(VideoCode(Mpeg2(720, 480, 2, 2, 29.97, 15728641), FMT_188), -1);
    EXPECT_EQ(VideoCode(Mpeg2(1920, 1080, 3, 3, 29.97, 20334720), FMT_188), 18);
    EXPECT_EQ(VideoCode(Mpeg2(1920, 1080, 3, 3, 29.97, 20334721), FMT_188), -1);
    EXPECT_EQ(VideoCode(Mpeg2(640, 480, 2, 3, 59.94, 20334721), FMT_188), -1);
    // The 1440x1080 rows allow 25,000,000; AC-3 is refused for them, so only
    // the video verdict is looked at here.
    EXPECT_EQ(VideoCode(Mpeg2(1440, 1080, 3, 4, 25.0, 25000000), FMT_188), 0);
    EXPECT_EQ(VideoCode(Mpeg2(1440, 1080, 3, 4, 25.0, 25000001), FMT_188), -1);
    // An unknown rate passes every limit.
    EXPECT_EQ(VideoCode(Mpeg2(720, 480, 2, 2, 29.97, -1), FMT_188), 3);
}

TEST(Classifier, Mpeg2NeedsProfile2)
{
    Video v = Mpeg2(720, 480, 2, 2, 29.97);
    v.profile = 3;
    EXPECT_EQ(VideoCode(v, FMT_188), -1);
}

TEST(Classifier, Mpeg2WithMpegAudioGivesTheL2Codes)
{
    const Sound mp2{Audio::MPEG, 48000, 2, 384000};
    {
        CItem item(Mpeg2(1440, 1080, 3, 4, 29.97, 18000000), FMT_188, mp2);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified && o.videoOk && o.audioOk);
        EXPECT_EQ(o.code, 34);
    }
    {
        CItem item(Mpeg2(1440, 1080, 3, 4, 25.0, 18000000), FMT_188, mp2);
        EXPECT_EQ(item.Classify().code, 35);
    }
    {
        // AC-3 is not allowed with these two families.
        CItem item(Mpeg2(1440, 1080, 3, 4, 29.97, 18000000), FMT_188);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified && o.videoOk);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // MPEG audio fits only the European and the two L2 families.
        CItem item(Mpeg2(720, 576, 2, 2, 25.0), FMT_188, mp2);
        EXPECT_EQ(item.Classify().code, 24);
        CItem na(Mpeg2(720, 480, 2, 2, 29.97), FMT_188, mp2);
        const Outcome o = na.Classify();
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
}

TEST(Classifier, TheEdgeCaseRecordingGivesCode18)
{
    CItem item(Mpeg2(1920, 1080, 3, 3, 29.97, 18000000), FMT_188, Sound{Audio::AC3, 48000, 6, 448000});
    const Outcome o = item.Classify();
    EXPECT_TRUE(o.classified);
    EXPECT_TRUE(o.videoOk);
    EXPECT_TRUE(o.audioOk);
    EXPECT_EQ(o.code, 18);
}

class AvcFamilies : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(AvcFamilies, GiveTheFamilyCodeForThePacketFormat)
{
    const FamilyCase& c = GetParam();
    EXPECT_EQ(VideoCode(c.video, c.packetFormat), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Classifier, AvcFamilies,
    ::testing::Values(
        FamilyCase{"720x480 29.97", Avc(720, 480, 2, 29.97), FMT_188, 27},
        FamilyCase{"720x480 16:9 stamped", Avc(720, 480, 3, 29.97), FMT_TTS, 26},
        FamilyCase{"720x576 25", Avc(720, 576, 2, 25.0), FMT_192, 28},
        FamilyCase{"1280x720 23.976", Avc(1280, 720, 3, 23.976), FMT_188, 33},
        FamilyCase{"1280x720 50", Avc(1280, 720, 3, 50.0), FMT_TTS, 29},
        FamilyCase{"1280x720 59.94", Avc(1280, 720, 3, 59.94), FMT_192, 25},
        FamilyCase{"1280x720 60.0 is outside 59.94", Avc(1280, 720, 3, 60.0), FMT_188, -1},
        FamilyCase{"1920x1080 24.0 stamped", Avc(1920, 1080, 3, 24.0), FMT_TTS, 32},
        FamilyCase{"1920x1080 23.985 falls in the gap", Avc(1920, 1080, 3, 23.985), FMT_TTS, -1},
        FamilyCase{"1920x1080 23.975", Avc(1920, 1080, 3, 23.975), FMT_192, 31},
        FamilyCase{"1440x1080 25", Avc(1440, 1080, 3, 25.0), FMT_188, 30},
        FamilyCase{"1440x1080 29.97", Avc(1440, 1080, 3, 29.97), FMT_TTS, 26},
        FamilyCase{"1920x1080 30.0 is outside 29.97", Avc(1920, 1080, 3, 30.0), FMT_188, -1},
        FamilyCase{"1920x1080 4:3", Avc(1920, 1080, 2, 29.97), FMT_188, -1},
        FamilyCase{"profile 3", Avc(1920, 1080, 3, 29.97, 10, 3), FMT_188, 27},
        FamilyCase{"profile 4", Avc(1920, 1080, 3, 29.97, 10, 4), FMT_188, -1},
        FamilyCase{"level 8", Avc(1920, 1080, 3, 29.97, 8), FMT_188, 27},
        FamilyCase{"level 12", Avc(1920, 1080, 3, 29.97, 12), FMT_188, 27},
        FamilyCase{"level 7", Avc(1920, 1080, 3, 29.97, 7), FMT_188, -1},
        FamilyCase{"level 13", Avc(1920, 1080, 3, 29.97, 13), FMT_188, -1},
        FamilyCase{"width 703", Avc(703, 480, 2, 29.97), FMT_188, -1},
        FamilyCase{"width 1921", Avc(1921, 1080, 3, 29.97), FMT_188, -1},
        FamilyCase{"height 1081", Avc(1920, 1081, 3, 29.97), FMT_188, -1},
        FamilyCase{"704x480 is in range but has no row", Avc(704, 480, 2, 29.97), FMT_188, -1},
        FamilyCase{"unknown packet format", Avc(1920, 1080, 3, 29.97), 7, 0}));

TEST(Classifier, AvcRateLimitIsInclusive)
{
    EXPECT_EQ(VideoCode(Avc(1920, 1080, 3, 29.97, 10, 2, 25165824), FMT_188), 27);
    EXPECT_EQ(VideoCode(Avc(1920, 1080, 3, 29.97, 10, 2, 25165825), FMT_188), -1);
}

// The bit-rate flag chooses between the primary rate alone and the larger of
// both; the two descriptions keep the rates at different slots, so a
// description read through the wrong slot shows here.
TEST(Classifier, EffectiveBitRateReadsTheRightSlots)
{
    struct RateCase {
        Codec codec;
        VARIANT_BOOL flag;
        LONG primary;
        LONG secondary;
        bool accepted;
    };
    const LONG sdOver = 15728641;   // above the MPEG-2 SD row limit
    const LONG avcOver = 25165825;  // above the AVC limit
    const RateCase cases[] = {
        {Codec::MPEG2, VARIANT_FALSE, 100, sdOver, false},   // larger secondary counts
        {Codec::MPEG2, VARIANT_FALSE, -1, sdOver, false},    // unknown primary: secondary
        {Codec::MPEG2, VARIANT_FALSE, sdOver, 100, false},
        {Codec::MPEG2, VARIANT_FALSE, -1, -1, true},         // both unknown
        {Codec::MPEG2, VARIANT_TRUE, 100, sdOver, true},     // flag: primary alone
        {Codec::MPEG2, VARIANT_TRUE, -1, 100, false},        // flag with unknown primary
        {Codec::MPEG2, 1, 100, sdOver, false},               // 1 is not TRUE
        {Codec::AVC, VARIANT_FALSE, 100, avcOver, false},
        {Codec::AVC, VARIANT_FALSE, -1, -1, true},
        {Codec::AVC, VARIANT_TRUE, 100, avcOver, true},
        {Codec::AVC, VARIANT_TRUE, -1, 100, false},
        {Codec::AVC, VARIANT_TRUE, avcOver, 100, false},
    };
    for (const RateCase& c : cases) {
        Video v = c.codec == Codec::MPEG2 ? Mpeg2(720, 480, 2, 2, 29.97) : Avc(1920, 1080, 3, 29.97);
        CItem item(v, FMT_188);
        HostVideoFacts& f = item.VideoStream().m_video;
        f.bitRateFlag = c.flag;
        f.primaryBitRate = c.primary;
        f.secondaryBitRate = c.secondary;
        const Outcome o = item.Classify();
        EXPECT_EQ(o.videoOk, c.accepted) << (c.codec == Codec::MPEG2 ? "MPEG-2" : "AVC") << " flag " << c.flag
                                         << " primary " << c.primary << " secondary " << c.secondary;
    }
}

TEST(Classifier, Ac3AudioRules)
{
    struct Ac3Case {
        int code;
        LONG rate;
        bool fits;
    };
    const Ac3Case cases[] = {
        {22, 32000, true},  {22, 31999, false}, {24, 640000, true},  {23, 640001, false}, {22, -1, false},
        {25, 64000, true},  {33, 63999, false}, {30, 640000, true},  {27, 640001, false}, {26, -1, false},
        {0, 589824, true},  {0, 589825, false}, {0, -1, true},       {4, 20000, true},    {18, 589825, false},
        {34, 192000, false}, {35, 192000, false},
    };
    for (const Ac3Case& c : cases) {
        auto stream = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
        stream->m_audio = HostAudioFacts{};
        stream->m_audio.sampleRate = 48000;
        stream->m_audio.channels = 2;
        stream->m_audio.bitRate = c.rate;
        EXPECT_EQ(source::CheckAc3Audio(stream, c.code), c.fits) << "code " << c.code << " rate " << c.rate;
    }
}

TEST(Classifier, MpegAudioRules)
{
    struct MpegCase {
        int code;
        LONG rate;
        bool fits;
    };
    const MpegCase cases[] = {
        {22, 698368, true}, {24, 698369, false}, {34, -1, true}, {35, 384000, true},
        {23, 64000, true},  {21, 64000, false},  {0, 64000, false}, {25, 64000, false},
    };
    for (const MpegCase& c : cases) {
        auto stream = CreateHostStream(HOST_DESCRIPTION_MPEG_AUDIO);
        stream->m_audio.sampleRate = 48000;
        stream->m_audio.channels = 2;
        stream->m_audio.bitRate = c.rate;
        EXPECT_EQ(source::CheckMpegAudio(stream, c.code), c.fits) << "code " << c.code << " rate " << c.rate;
    }
}

TEST(Classifier, AudioSampleRateAndChannelLimits)
{
    struct LimitCase {
        LONG sampleRate;
        LONG channels;
        bool fits;
    };
    const LimitCase cases[] = {
        {48000, 6, true}, {48001, 2, false}, {44100, 7, false}, {-1, -1, true}, {-1, 6, true}, {32000, -1, true},
    };
    for (const LimitCase& c : cases) {
        auto ac3 = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
        ac3->m_audio.sampleRate = c.sampleRate;
        ac3->m_audio.channels = c.channels;
        ac3->m_audio.bitRate = 192000;
        EXPECT_EQ(source::CheckAc3Audio(ac3, 3), c.fits) << c.sampleRate << " Hz, " << c.channels << " channels";
        auto mp2 = CreateHostStream(HOST_DESCRIPTION_MPEG_AUDIO);
        mp2->m_audio = ac3->m_audio;
        EXPECT_EQ(source::CheckMpegAudio(mp2, 24), c.fits) << c.sampleRate << " Hz, " << c.channels << " channels";
    }
}

TEST(Classifier, ItemsThatCannotBeClassified)
{
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().m_size = -1;
        EXPECT_FALSE(item.Classify().classified);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().m_duration = -1;
        EXPECT_FALSE(item.Classify().classified);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().m_videoStreamCount = 2;
        EXPECT_FALSE(item.Classify().classified);
    }
    {
        // A failing size or duration getter leaves the preset -1.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().FailAlways(IID_IHostMediaItem, 10, E_FAIL);
        EXPECT_FALSE(item.Classify().classified);
        CItem item2(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item2.Item().FailAlways(IID_IHostMediaItem, 14, E_UNEXPECTED);
        EXPECT_FALSE(item2.Classify().classified);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().FailAlways(IID_IHostMediaItem, 24, E_FAIL);
        EXPECT_FALSE(item.Classify().classified);
    }
    bool v = false;
    bool a = false;
    int code = 0;
    EXPECT_FALSE(source::ClassifyMediaItem(nullptr, &v, &a, &code));
    CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
    CComPtr<IHostMediaItem> raw = &item.Item();
    EXPECT_FALSE(source::ClassifyMediaItem(raw, nullptr, &a, &code));
    EXPECT_FALSE(source::ClassifyMediaItem(raw, &v, nullptr, &code));
    EXPECT_FALSE(source::ClassifyMediaItem(raw, &v, &a, nullptr));
}

TEST(Classifier, FailingGettersKeepTheirPresets)
{
    {
        // Frame rate unknown (0.0): the video is rejected, the item still classified.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.VideoStream().FailAlways(IID_IHostMpeg2VideoDescription, 18, E_FAIL);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified);
        EXPECT_FALSE(o.videoOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // Packet format unknown (0): accepted with code 0.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().FailAlways(IID_IHostMediaItem, 12, E_FAIL);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified && o.videoOk && o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // An audio bit rate that cannot be read is unknown: refused for AVC.
        CItem item(Avc(1920, 1080, 3, 29.97), FMT_188);
        item.AudioStream().FailAlways(IID_IHostAc3AudioDescription, 12, E_FAIL);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.videoOk);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // The level getter fails: level 0 matches no row.
        CItem item(Avc(1920, 1080, 3, 29.97), FMT_188);
        item.VideoStream().FailAlways(IID_IHostAvcVideoDescription, 10, E_FAIL);
        EXPECT_FALSE(item.Classify().videoOk);
    }
}

TEST(Classifier, AudioStreamsDecideTheCode)
{
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().m_audioStreamCount = 5;
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified);
        EXPECT_TRUE(o.videoOk);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().m_audioStreamCount = 4;
        EXPECT_EQ(item.Classify().code, 3);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188, Sound{Audio::NONE});
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188, Sound{Audio::OTHER});
        const Outcome o = item.Classify();
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.Item().FailAlways(IID_IHostMediaItem, 26, E_FAIL);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // A stream answering the other-audio description is judged by it
        // first, whatever else it offers.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.AudioStream().SetDescriptions(HOST_DESCRIPTION_AC3_AUDIO | HOST_DESCRIPTION_OTHER_AUDIO);
        EXPECT_FALSE(item.Classify().audioOk);
    }
    {
        // AC-3 is asked for before MPEG audio: with code 3, MPEG audio would not fit.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.AudioStream().SetDescriptions(HOST_DESCRIPTION_AC3_AUDIO | HOST_DESCRIPTION_MPEG_AUDIO);
        EXPECT_EQ(item.Classify().code, 3);
    }
    {
        // An audio stream offering no description at all.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.AudioStream().SetDescriptions(HOST_DESCRIPTION_NONE);
        const Outcome o = item.Classify();
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
}

TEST(Classifier, VideoStreamObjectCases)
{
    {
        // No video stream object: video not ok; the audio is judged for code 0.
        CItem item(Video{Codec::NONE}, FMT_188);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified);
        EXPECT_FALSE(o.videoOk);
        EXPECT_TRUE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // A stream offering neither video description stays "ok" with code 0.
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.VideoStream().SetDescriptions(HOST_DESCRIPTION_NONE);
        const Outcome o = item.Classify();
        EXPECT_TRUE(o.classified && o.videoOk && o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
    {
        // Both descriptions: judged as MPEG-2 (720x480 29.97 is no AVC row at level 2).
        CItem item(Mpeg2(720, 480, 2, 2, 29.97), FMT_188);
        item.VideoStream().SetDescriptions(HOST_DESCRIPTION_MPEG2_VIDEO | HOST_DESCRIPTION_AVC_VIDEO);
        EXPECT_EQ(item.Classify().code, 3);
    }
    {
        // A rejected video leaves candidate 0, and AC-3 above 589,824 then fails.
        CItem item(Mpeg2(720, 480, 2, 2, 30.0), FMT_188, Sound{Audio::AC3, 48000, 6, 640000});
        const Outcome o = item.Classify();
        EXPECT_FALSE(o.videoOk);
        EXPECT_FALSE(o.audioOk);
        EXPECT_EQ(o.code, 0);
    }
}

}  // namespace
