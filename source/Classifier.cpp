#include "source/Classifier.h"

#include "platform/com_holders.h"

#include <array>
#include <initializer_list>

namespace source {
namespace {

// Frame-rate windows, all open intervals.
enum EWindow : unsigned {
    W24 = 1u << 0,    // 23.96 < f < 24.01
    W24A = 1u << 1,   // 23.96 < f < 23.98 or 23.99 < f < 24.01
    W25 = 1u << 2,    // 24.99 < f < 25.01
    W2997 = 1u << 3,  // 29.96 < f < 29.98
    W30 = 1u << 4,    // 29.96 < f < 30.01
    W50 = 1u << 5,    // 49.99 < f < 50.01
    W5994 = 1u << 6,  // 59.93 < f < 59.95
    W60 = 1u << 7,    // 59.93 < f < 60.01
};

bool Inside(double f, double low, double high)
{
    return low < f && f < high;
}

// The windows that contain f.
unsigned WindowsOf(double f)
{
    unsigned w = 0;
    if (Inside(f, 23.96, 24.01))
        w |= W24;
    if (Inside(f, 23.96, 23.98) || Inside(f, 23.99, 24.01))
        w |= W24A;
    if (Inside(f, 24.99, 25.01))
        w |= W25;
    if (Inside(f, 29.96, 29.98))
        w |= W2997;
    if (Inside(f, 29.96, 30.01))
        w |= W30;
    if (Inside(f, 49.99, 50.01))
        w |= W50;
    if (Inside(f, 59.93, 59.95))
        w |= W5994;
    if (Inside(f, 59.93, 60.01))
        w |= W60;
    return w;
}

// A short list of accepted values.
struct SValues {
    std::array<LONG, 4> values{};
    std::size_t count = 0;

    constexpr SValues(std::initializer_list<LONG> list)
    {
        for (LONG v : list)
            values[count++] = v;
    }
    constexpr bool Has(LONG v) const
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (values[i] == v)
                return true;
        }
        return false;
    }
};

// Family codes: a three-code family is named by its first code (192-byte
// packets with zero stamps); its second is 192-byte stamped, its third 188-byte.
// The two 1440x1080 families with MPEG audio have one code each, for 188-byte
// packets only.
constexpr int SINGLE_CODE_34 = 34;
constexpr int SINGLE_CODE_35 = 35;

struct SMpeg2Row {
    SValues widths;
    LONG height;
    SValues aspects;
    LONG level;
    unsigned windows;
    LONG maxRate;  // largest effective bit rate accepted
    int family;
};

constexpr LONG SD_RATE = 15728640;
constexpr LONG HD_RATE = 20334720;
constexpr LONG L2_RATE = 25000000;

// Every row requires profile 2.
const SMpeg2Row MPEG2_ROWS[] = {
    // widths                  height aspects    level windows          rate     family
    {{352, 480, 544, 720},     480,   {2, 3},    2,    W2997,            SD_RATE, 1},
    {{640},                    480,   {1},       2,    W24 | W30,        SD_RATE, 1},
    {{640},                    480,   {2},       2,    W24 | W30,        SD_RATE, 13},
    {{704},                    480,   {2, 3},    2,    W24 | W30,        SD_RATE, 13},
    {{640},                    480,   {1},       3,    W60,              HD_RATE, 1},
    {{640},                    480,   {2},       3,    W60,              HD_RATE, 19},
    {{704},                    480,   {2, 3},    3,    W60,              HD_RATE, 19},
    {{352, 480, 544, 720},     576,   {2, 3, 4}, 2,    W25,              SD_RATE, 22},
    {{352},                    288,   {2, 3, 4}, 2,    W25,              SD_RATE, 22},
    {{1280},                   720,   {1},       3,    W24 | W30 | W60,  HD_RATE, 4},
    {{1280},                   720,   {3},       3,    W24 | W30,        HD_RATE, 4},
    {{1280},                   720,   {3},       3,    W60,              HD_RATE, 16},
    {{1920},                   1080,  {1},       3,    W24 | W30,        HD_RATE, 4},
    {{1920},                   1080,  {3},       3,    W24,              HD_RATE, 4},
    {{1920},                   1080,  {3},       3,    W30,              HD_RATE, 16},
    {{1280, 1440},             1080,  {3},       3,    W24 | W30,        HD_RATE, 4},
    {{1440},                   1080,  {3},       4,    W2997,            L2_RATE, SINGLE_CODE_34},
    {{1440},                   1080,  {3},       4,    W25,              L2_RATE, SINGLE_CODE_35},
};

struct SAvcRow {
    SValues widths;
    LONG height;
    SValues aspects;
    unsigned windows;
    int family;
};

// Every row requires profile 2 or 3 and level 8 to 12.
const SAvcRow AVC_ROWS[] = {
    // widths        height aspects  windows  family
    {{720},          480,   {2, 3},  W2997,   25},
    {{720},          576,   {2, 3},  W25,     28},
    {{1280},         720,   {3},     W24A,    31},
    {{1280},         720,   {3},     W50,     28},
    {{1280},         720,   {3},     W5994,   25},
    {{1440, 1920},   1080,  {3},     W24A,    31},
    {{1440, 1920},   1080,  {3},     W25,     28},
    {{1440, 1920},   1080,  {3},     W2997,   25},
};

constexpr LONG MPEG2_MAX_RATE = 0x2100000;  // 34,603,008
constexpr LONG AVC_MAX_RATE = 0x1800000;    // 25,165,824
constexpr LONG AC3_OTHER_MAX_RATE = 0x90000;  // 589,824
constexpr LONG MPEG_AUDIO_MAX_RATE = 0xAA800;  // 698,368
constexpr LONG MAX_SAMPLE_RATE = 48000;
constexpr LONG MAX_CHANNELS = 6;
constexpr LONG UNKNOWN = -1;

// The code of a three-code family for the packet format: 2, 3 and 1 give the
// first, second and third code; any other format gives 0.
int FamilyCode(int family, LONG packetFormat)
{
    switch (packetFormat) {
    case HOST_PACKET_FORMAT_192_ZERO_STAMPS:
        return family;
    case HOST_PACKET_FORMAT_192_STAMPED:
        return family + 1;
    case HOST_PACKET_FORMAT_188:
        return family + 2;
    default:
        return 0;
    }
}

// The larger of two known rates; with the flag set (exactly VARIANT_TRUE),
// the primary rate alone, which must then be known. The two descriptions keep
// their rates at different slots; each getter names its own.
template <class TVideo>
bool ReadEffectiveBitRate(TVideo* video, LONG& rate)
{
    VARIANT_BOOL flag = VARIANT_FALSE;
    LONG primary = UNKNOWN;
    video->get_BitRateFlag(&flag);
    video->get_PrimaryBitRate(&primary);
    if (flag == VARIANT_TRUE) {
        rate = primary;
        return primary != UNKNOWN;
    }
    LONG secondary = UNKNOWN;
    video->get_SecondaryBitRate(&secondary);
    rate = (primary == UNKNOWN || primary < secondary) ? secondary : primary;
    return true;
}

// The sampling rate and channel limits both audio checks share; an unknown
// value (-1) passes.
template <class TAudio>
bool WithinAudioLimits(TAudio* audio)
{
    LONG sampleRate = UNKNOWN;
    audio->get_SampleRate(&sampleRate);
    if (sampleRate > MAX_SAMPLE_RATE)
        return false;
    LONG channels = UNKNOWN;
    audio->get_Channels(&channels);
    return channels <= MAX_CHANNELS;
}

}  // namespace

bool CheckMpeg2Video(IHostMpeg2VideoDescription* video, LONG packetFormat, int& code)
{
    code = 0;
    LONG rate = UNKNOWN;
    if (!ReadEffectiveBitRate(video, rate))
        return false;
    LONG level = 0;
    LONG profile = 0;
    video->get_Level(&level);
    video->get_Profile(&profile);
    if (rate > MPEG2_MAX_RATE)
        return false;

    double frameRate = 0.0;
    video->get_FrameRate(&frameRate);
    const unsigned windows = WindowsOf(frameRate);
    if ((windows & (W24 | W25 | W30 | W50 | W60)) == 0)
        return false;

    LONG width = UNKNOWN;
    LONG height = UNKNOWN;
    LONG aspect = 0;
    video->get_Width(&width);
    video->get_Height(&height);
    video->get_AspectRatioCode(&aspect);
    if (profile != 2)
        return false;
    for (const SMpeg2Row& row : MPEG2_ROWS) {
        if (!row.widths.Has(width) || row.height != height || !row.aspects.Has(aspect) || row.level != level ||
            (row.windows & windows) == 0)
            continue;
        if (rate > row.maxRate)
            return false;
        if (row.family == SINGLE_CODE_34 || row.family == SINGLE_CODE_35) {
            if (packetFormat != HOST_PACKET_FORMAT_188)
                return false;
            code = row.family;
            return true;
        }
        code = FamilyCode(row.family, packetFormat);
        return true;
    }
    return false;
}

bool CheckAvcVideo(IHostAvcVideoDescription* video, LONG packetFormat, int& code)
{
    code = 0;
    LONG rate = UNKNOWN;
    if (!ReadEffectiveBitRate(video, rate) || rate > AVC_MAX_RATE)
        return false;

    double frameRate = 0.0;
    LONG width = UNKNOWN;
    video->get_FrameRate(&frameRate);
    video->get_Width(&width);
    if (width < 704 || width > 1920)
        return false;
    LONG height = UNKNOWN;
    video->get_Height(&height);
    if (height < 480 || height > 1080)
        return false;

    LONG profile = 0;
    LONG level = 0;
    LONG aspect = 0;
    video->get_Profile(&profile);
    video->get_Level(&level);
    video->get_AspectRatioCode(&aspect);
    if ((profile != 2 && profile != 3) || level < 8 || level > 12)
        return false;
    const unsigned windows = WindowsOf(frameRate);
    for (const SAvcRow& row : AVC_ROWS) {
        if (row.widths.Has(width) && row.height == height && row.aspects.Has(aspect) && (row.windows & windows) != 0) {
            code = FamilyCode(row.family, packetFormat);
            return true;
        }
    }
    return false;
}

bool CheckAc3Audio(IHostAc3AudioDescription* audio, int code)
{
    if (code == 34 || code == 35 || !WithinAudioLimits(audio))
        return false;
    LONG rate = UNKNOWN;
    audio->get_BitRate(&rate);
    if (code >= 22 && code <= 24)
        return rate >= 32000 && rate <= 640000;
    if (code >= 25 && code <= 33)
        return rate >= 64000 && rate <= 640000;
    return rate <= AC3_OTHER_MAX_RATE;
}

bool CheckMpegAudio(IHostMpegAudioDescription* audio, int code)
{
    if (!(code >= 22 && code <= 24) && code != 34 && code != 35)
        return false;
    if (!WithinAudioLimits(audio))
        return false;
    LONG rate = UNKNOWN;
    audio->get_BitRate(&rate);
    return rate <= MPEG_AUDIO_MAX_RATE;
}

bool ClassifyMediaItem(IHostMediaItem* item, bool* videoOk, bool* audioOk, int* code)
{
    if (item == nullptr || videoOk == nullptr || audioOk == nullptr || code == nullptr)
        return false;
    *videoOk = true;
    *audioOk = true;
    int candidate = 0;

    LONGLONG size = UNKNOWN;
    item->get_Size(&size);
    if (size < 0)
        return false;
    LONG duration = UNKNOWN;
    item->get_Duration(&duration);
    if (duration < 0)
        return false;
    LONG bitRate = UNKNOWN;
    item->get_BitRate(&bitRate);
    LONG packetFormat = 0;
    item->get_PacketFormat(&packetFormat);
    LONG videoCount = UNKNOWN;
    item->get_VideoStreamCount(&videoCount);
    if (videoCount > 1)
        return false;

    CComPtr<IUnknown> videoStream;
    if (FAILED(item->get_VideoStream(&videoStream)))
        return false;
    if (!videoStream) {
        *videoOk = false;
    } else {
        CComPtr<IHostMpeg2VideoDescription> mpeg2;
        CComPtr<IHostAvcVideoDescription> avc;
        if (SUCCEEDED(videoStream.QueryInterface(IID_IHostMpeg2VideoDescription, &mpeg2)) && mpeg2) {
            if (!CheckMpeg2Video(mpeg2, packetFormat, candidate))
                *videoOk = false;
        } else if (SUCCEEDED(videoStream.QueryInterface(IID_IHostAvcVideoDescription, &avc)) && avc) {
            if (!CheckAvcVideo(avc, packetFormat, candidate))
                *videoOk = false;
        }
    }

    const auto refuseAudio = [&] {
        *audioOk = false;
        *code = 0;
        return true;
    };
    LONG audioCount = UNKNOWN;
    item->get_AudioStreamCount(&audioCount);
    if (audioCount > 4)
        return refuseAudio();
    CComPtr<IUnknown> audioStream;
    if (FAILED(item->get_AudioStream(&audioStream)) || !audioStream)
        return refuseAudio();

    CComPtr<IHostOtherAudioDescription> other;
    CComPtr<IHostAc3AudioDescription> ac3;
    CComPtr<IHostMpegAudioDescription> mpegAudio;
    bool fits = false;
    if (SUCCEEDED(audioStream.QueryInterface(IID_IHostOtherAudioDescription, &other)) && other)
        fits = false;
    else if (SUCCEEDED(audioStream.QueryInterface(IID_IHostAc3AudioDescription, &ac3)) && ac3)
        fits = CheckAc3Audio(ac3, candidate);
    else if (SUCCEEDED(audioStream.QueryInterface(IID_IHostMpegAudioDescription, &mpegAudio)) && mpegAudio)
        fits = CheckMpegAudio(mpegAudio, candidate);
    if (!fits)
        return refuseAudio();
    *code = candidate;
    return true;
}

}  // namespace source
