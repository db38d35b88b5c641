#include "StreamFacts.h"

#include "host/host_kit.h"

#include <cmath>
#include <limits>

namespace mediahost {
namespace {

LONG KnownOrUnknown(std::uint32_t value)
{
    if (value == 0)
        return -1;
    return value > static_cast<std::uint32_t>(std::numeric_limits<LONG>::max()) ? std::numeric_limits<LONG>::max()
                                                                                 : static_cast<LONG>(value);
}

bool Near(double value, double ratio)
{
    return std::fabs(value - ratio) <= ratio * 0.03;
}

// aspect_ratio_information of an MPEG-2 picture of square samples.
constexpr std::uint32_t MPEG2_ASPECT_SQUARE_SAMPLES = 1;

LONG DisplayAspectCode(double ratio)
{
    if (Near(ratio, 16.0 / 9.0))
        return 3;
    if (Near(ratio, 4.0 / 3.0))
        return 2;
    if (Near(ratio, 2.21))
        return 4;
    return 0;
}

// The programme the item describes: that of the first video stream, or of
// the first stream when there is no video.
const SVskProbeStream* FirstOf(const SVskStreamProbe& probe, std::uint32_t category, std::uint32_t programIndex,
                               bool anyProgram)
{
    const std::uint32_t count = probe.streamCount < VSK_PROBE_MAX_STREAMS ? probe.streamCount : VSK_PROBE_MAX_STREAMS;
    for (std::uint32_t i = 0; i < count; ++i) {
        const SVskProbeStream& s = probe.streams[i];
        if (s.category == category && (anyProgram || s.programIndex == programIndex))
            return &s;
    }
    return nullptr;
}

SVideoFacts MapVideo(const SVskStreamProbe& probe, const SVskProbeStream& v, LONG knownAudioRate)
{
    SVideoFacts out;
    out.avc = v.codec == VSK_PROBE_CODEC_AVC;
    out.profile = out.avc ? AvcProfileCode(v.profile) : Mpeg2ProfileCode(v.profile);
    out.level = out.avc ? AvcLevelCode(v.level) : Mpeg2LevelCode(v.level);
    out.aspectRatioCode = AspectCode(v);
    out.frameRate = FrameRate(v);
    out.width = KnownOrUnknown(v.width);
    out.height = KnownOrUnknown(v.height);

    const bool unstated = !out.avc && v.bitRateMeasured == 0 && v.bitRate == MPEG2_UNSTATED_BIT_RATE;
    if (v.bitRate != 0 && v.bitRateMeasured == 0 && !unstated) {
        out.bitRateFlag = VARIANT_TRUE;
        out.primaryBitRate = KnownOrUnknown(v.bitRate);
    } else if (v.bitRate != 0 && v.bitRateMeasured != 0) {
        out.primaryBitRate = KnownOrUnknown(v.bitRate);
    } else if (probe.bitRate != 0) {
        const LONG overall = KnownOrUnknown(probe.bitRate);
        out.primaryBitRate = knownAudioRate > 0 && overall > knownAudioRate ? overall - knownAudioRate : overall;
    }
    return out;
}

SAudioFacts MapAudio(const SVskProbeStream& a)
{
    SAudioFacts out;
    out.kind = a.codec == VSK_PROBE_CODEC_AC3          ? EAudioKind::AC3
               : a.codec == VSK_PROBE_CODEC_MPEG_AUDIO ? EAudioKind::MPEG
                                                       : EAudioKind::OTHER;
    out.sampleRate = KnownOrUnknown(a.samplingRate);
    out.channels = KnownOrUnknown(a.channels);
    out.bitRate = KnownOrUnknown(a.bitRate);
    out.layer = KnownOrUnknown(a.layer);
    return out;
}

}  // namespace

LONG Mpeg2ProfileCode(std::uint32_t profile)
{
    switch (profile) {
    case 5: return 1;  // Simple
    case 4: return 2;  // Main
    case 3: return 3;  // SNR scalable
    case 2: return 4;  // Spatially scalable
    case 1: return 5;  // High
    default: return 0;
    }
}

LONG Mpeg2LevelCode(std::uint32_t level)
{
    switch (level) {
    case 10: return 1;  // Low
    case 8: return 2;   // Main
    case 4: return 3;   // High
    case 6: return 4;   // High-1440
    default: return 0;
    }
}

LONG AvcProfileCode(std::uint32_t profileIdc)
{
    switch (profileIdc) {
    case 66: return 1;   // Baseline
    case 88: return 1;   // Extended
    case 77: return 2;   // Main
    case 100: return 3;  // High
    case 110: return 4;  // High 10
    case 122: return 5;  // High 4:2:2
    case 244: return 6;  // High 4:4:4 Predictive
    default: return 0;
    }
}

LONG AvcLevelCode(std::uint32_t levelIdc)
{
    // level_idc in the order of the standard's table of levels.
    static constexpr std::uint32_t LEVELS[] = {10, 9, 11, 12, 13, 20, 21, 22, 30, 31,
                                               32, 40, 41, 42, 50, 51, 52, 60, 61, 62};
    for (LONG i = 0; i < static_cast<LONG>(std::size(LEVELS)); ++i) {
        if (LEVELS[i] == levelIdc)
            return i;
    }
    return 0;
}

LONG AspectCode(const SVskProbeStream& video)
{
    double ratio = 0.0;
    if (video.codec == VSK_PROBE_CODEC_AVC && video.sampleAspectNumerator != 0 && video.sampleAspectDenominator != 0 &&
        video.width != 0 && video.height != 0)
        ratio = static_cast<double>(video.sampleAspectNumerator) * video.width /
                (static_cast<double>(video.sampleAspectDenominator) * video.height);
    else if (video.displayAspectNumerator != 0 && video.displayAspectDenominator != 0)
        ratio = static_cast<double>(video.displayAspectNumerator) / video.displayAspectDenominator;
    // MPEG-2 says square samples in so many words (see the table).
    if (video.codec == VSK_PROBE_CODEC_MPEG2_VIDEO && video.aspectRatioCode == MPEG2_ASPECT_SQUARE_SAMPLES)
        return 1;
    return ratio > 0.0 ? DisplayAspectCode(ratio) : 0;
}

double FrameRate(const SVskProbeStream& video)
{
    if (video.frameRateNumerator == 0 || video.frameRateDenominator == 0)
        return 0.0;
    return static_cast<double>(video.frameRateNumerator) / static_cast<double>(video.frameRateDenominator);
}

SItemFacts MapProbe(const SVskStreamProbe& probe)
{
    SItemFacts facts;
    facts.size = probe.fileSize > 0 ? probe.fileSize : -1;
    facts.durationMs = probe.durationMs == 0 ? -1 : KnownOrUnknown(probe.durationMs);
    facts.bitRate = KnownOrUnknown(probe.bitRate);
    facts.packetFormat = probe.packetFormat <= VSK_PROBE_FORMAT_192_STAMPED ? static_cast<LONG>(probe.packetFormat) : 0;

    const SVskProbeStream* video = FirstOf(probe, VSK_PROBE_STREAM_VIDEO, 0, true);
    const std::uint32_t program = video != nullptr ? video->programIndex
                                  : probe.streamCount > 0 ? probe.streams[0].programIndex
                                                          : 0;
    const std::uint32_t count = probe.streamCount < VSK_PROBE_MAX_STREAMS ? probe.streamCount : VSK_PROBE_MAX_STREAMS;
    LONG knownAudioRate = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const SVskProbeStream& s = probe.streams[i];
        if (s.category == VSK_PROBE_STREAM_VIDEO)
            ++facts.videoStreamCount;
        if (s.category == VSK_PROBE_STREAM_AUDIO && s.programIndex == program) {
            ++facts.audioStreamCount;
            if (s.bitRate != 0)
                knownAudioRate += KnownOrUnknown(s.bitRate);
        }
    }
    if (video != nullptr &&
        (video->codec == VSK_PROBE_CODEC_MPEG2_VIDEO || video->codec == VSK_PROBE_CODEC_AVC))
        facts.video = MapVideo(probe, *video, knownAudioRate);
    if (const SVskProbeStream* audio = FirstOf(probe, VSK_PROBE_STREAM_AUDIO, program, false))
        facts.audio = MapAudio(*audio);
    return facts;
}

CComPtr<CComObject<CHostMediaItem>> MakeMediaItem(const std::wstring& path, const SItemFacts& facts)
{
    auto item = CreateHostMediaItem();
    item->m_path = CComVariant(path.c_str());
    item->m_size = facts.size;
    item->m_duration = facts.durationMs;
    item->m_bitRate = facts.bitRate;
    item->m_packetFormat = facts.packetFormat;
    item->m_videoStreamCount = facts.videoStreamCount;
    item->m_audioStreamCount = facts.audioStreamCount;
    if (facts.video) {
        const SVideoFacts& v = *facts.video;
        auto stream = CreateHostStream(v.avc ? HOST_DESCRIPTION_AVC_VIDEO : HOST_DESCRIPTION_MPEG2_VIDEO);
        stream->m_video.codecName = v.avc ? L"H.264" : L"MPEG-2";
        stream->m_video.profile = v.profile;
        stream->m_video.level = v.level;
        stream->m_video.aspectRatioCode = v.aspectRatioCode;
        stream->m_video.bitRateFlag = v.bitRateFlag;
        stream->m_video.primaryBitRate = v.primaryBitRate;
        stream->m_video.secondaryBitRate = v.secondaryBitRate;
        stream->m_video.frameRate = v.frameRate;
        stream->m_video.width = v.width;
        stream->m_video.height = v.height;
        item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(stream.p);
    }
    if (facts.audio) {
        const SAudioFacts& a = *facts.audio;
        const unsigned description = a.kind == EAudioKind::AC3    ? HOST_DESCRIPTION_AC3_AUDIO
                                     : a.kind == EAudioKind::MPEG ? HOST_DESCRIPTION_MPEG_AUDIO
                                                                  : HOST_DESCRIPTION_OTHER_AUDIO;
        auto stream = CreateHostStream(description);
        stream->m_audio.sampleRate = a.sampleRate;
        stream->m_audio.channels = a.channels;
        stream->m_audio.bitRate = a.bitRate;
        stream->m_audio.layer = a.layer;
        item->m_audioStream = static_cast<IHostAc3AudioDescription*>(stream.p);
    }
    return item;
}

const char* CodecName(std::uint32_t codec)
{
    switch (codec) {
    case VSK_PROBE_CODEC_MPEG2_VIDEO: return "mpeg2video";
    case VSK_PROBE_CODEC_AVC: return "h264";
    case VSK_PROBE_CODEC_MPEG_AUDIO: return "mpeg-audio";
    case VSK_PROBE_CODEC_AC3: return "ac3";
    case VSK_PROBE_CODEC_LPCM: return "lpcm";
    default: return "unknown";
    }
}

const char* PacketFormatName(std::uint32_t format)
{
    switch (format) {
    case VSK_PROBE_FORMAT_188: return "188-byte packets";
    case VSK_PROBE_FORMAT_192_ZERO: return "192-byte units, zero prefixes";
    case VSK_PROBE_FORMAT_192_STAMPED: return "192-byte units, arrival time stamps";
    default: return "no transport packets";
    }
}

}  // namespace mediahost
