// How ffprobe names what the stream probe reports, for the tests that check
// the probe against ffprobe's facts of a recording.
#pragma once

#include "VskMpegParser.h"

#include <cstdint>
#include <string>

namespace parser {

// The probe's codec for ffprobe's codec_name; unknown for codecs the probe
// does not read.
inline std::uint32_t CodecOf(const std::string& name)
{
    if (name == "mpeg2video" || name == "mpeg1video")
        return VSK_PROBE_CODEC_MPEG2_VIDEO;
    if (name == "h264")
        return VSK_PROBE_CODEC_AVC;
    if (name == "ac3")
        return VSK_PROBE_CODEC_AC3;
    if (name == "mp1" || name == "mp2" || name == "mp3")
        return VSK_PROBE_CODEC_MPEG_AUDIO;
    return VSK_PROBE_CODEC_UNKNOWN;
}

// The probe's stream that ffprobe names by `id`: the PID in a transport
// stream; in a program stream 0x100 + stream_id, or the sub-stream id of a
// private_stream_1 stream.
inline const SVskProbeStream* StreamWithId(const SVskStreamProbe& probe, std::uint32_t id)
{
    for (std::uint32_t i = 0; i < probe.streamCount; ++i) {
        const SVskProbeStream& s = probe.streams[i];
        const std::uint32_t its = probe.streamKind != 1 ? s.pid
                                  : s.streamId == 0xBD ? s.subStreamId
                                                       : 0x100 | s.streamId;
        if (its == id)
            return &s;
    }
    return nullptr;
}

}  // namespace parser
