// From what the parser's probe reads in a recording to the numbers a host
// media item carries, which the component's classifier compares. This table
// is the whole of that translation; nothing else in the host invents a fact.
//
//  host media item      probe fact(s)                    rule
//  ---------------      -------------                    ----
//  size                 fileSize                         as is
//  duration (ms)        durationMs                       as is; 0 (unknown) -> -1
//  bit rate             bitRate (overall)                as is; 0 -> -1
//  packet format        packetFormat                     1 188-byte, 2 192-byte zero prefixes,
//                                                        3 192-byte stamped; a program stream -> 0
//  video stream count   video streams of all programs    a two-program recording has two, which
//                                                        the classifier refuses
//  audio stream count   audio streams of the programme   [choice] counted in the program of the
//                                                        video stream described
//  video stream         first video stream               MPEG-2 video -> MPEG-2 description;
//                                                        AVC -> AVC description; other -> none
//  audio stream         first audio stream of that       AC-3 -> AC-3 description; MPEG audio ->
//                       program                          MPEG audio description (with its layer);
//                                                        LPCM and others -> other audio
//
// Video description:
//  width, height        width, height                    the probe's are the cropped size (AVC:
//                                                        frame_mbs_only factor applied)
//  frame rate           frameRateNumerator /             as a double (AVC: time_scale /
//                       frameRateDenominator             (2 x num_units_in_tick)); 0/0 -> 0.0
//  MPEG-2 profile       profile (3-bit field)            Simple 5 -> 1, Main 4 -> 2, SNR 3 -> 3,
//                                                        Spatial 2 -> 4, High 1 -> 5, other -> 0
//                                                        [choice: ordered from the smallest tool set]
//  MPEG-2 level         level (4-bit field)              Low 10 -> 1, Main 8 -> 2, High 4 -> 3,
//                                                        High-1440 6 -> 4, other -> 0
//  AVC profile          profile_idc                      Baseline 66 -> 1, Main 77 -> 2,
//                                                        Extended 88 -> 1, High 100 -> 3,
//                                                        High 10 110 -> 4, High 4:2:2 122 -> 5,
//                                                        High 4:4:4 244 -> 6, other -> 0
//                                                        [choice: Main 2 and High 3, the two
//                                                        the AVC families accept]
//  AVC level            level_idc                        the ordinal in the standard's list of
//                                                        levels counted from 1.0 = 0: 1b (9) -> 1,
//                                                        1.1 -> 2, 1.2 -> 3, 1.3 -> 4, 2 -> 5,
//                                                        2.1 -> 6, 2.2 -> 7, 3 -> 8, 3.1 -> 9,
//                                                        3.2 -> 10, 4 -> 11, 4.1 -> 12, 4.2 -> 13,
//                                                        5 -> 14, 5.1 -> 15, 5.2 -> 16, 6 -> 17,
//                                                        6.1 -> 18, 6.2 -> 19; other -> 0
//  aspect code          MPEG-2: aspect_ratio_information square samples (code 1) -> 1 (so
//                       as the stream writes it, then   1920x1080 with square samples lands in
//                       the display aspect              HD North America, 4-6); otherwise the
//                       (sample aspect x size)           display aspect: 4:3 -> 2, 16:9 -> 3,
//                                                        2.21:1 -> 4
//                       AVC: display aspect = sample     16:9 -> 3, 4:3 -> 2, 2.21:1 -> 4 (square
//                       aspect x cropped width / height  samples are not a code here: 1920x1080
//                       (the probe's display aspect      with 1:1 samples is 16:9 -> 3);
//                       when no sample aspect is given)  [choice] both: within 3 % of the
//                                                        ratio, so 720x480 with 40:33 or 10:11
//                                                        samples counts; nothing near -> 0
//  bit-rate flag,       bitRate, bitRateMeasured         a rate the stream's headers state ->
//  primary bit rate                                      flag TRUE, primary = that rate;
//                                                        MPEG-2's bit_rate_value 0x3FFFF
//                                                        (104,857,200 bit/s, "not given") is
//                                                        treated as unknown; an unknown or
//                                                        measured rate -> flag FALSE, primary =
//                                                        the measured average video rate, or
//                                                        [choice] when the probe measured none,
//                                                        the overall rate less the audio rates
//                                                        it knows; -1 when nothing is known
//  secondary bit rate   -                                -1 (unknown)
//
// Audio description:
//  sample rate          samplingRate                     0 -> -1
//  channels             channels (5.1 counts 6)          0 -> -1
//  bit rate             bitRate                          0 -> -1
//  layer (MPEG audio)   layer                            0 -> -1
//
// With these numbers the families come out as a media server expects:
// MPEG-2 Main Profile at High Level, 1920x1080 16:9 at 29.97 fps with AC-3
// -> 16-18; 1280/1440x1080 16:9 at 24 or 30 fps -> 4-6; 720x576 4:3 or 16:9 at 25 fps, Main Level, MPEG audio -> 22-24; AVC
// High 4.0 (level 11) 1920x1080 16:9 with AC-3 at 29.97 -> 25-27, at 25 ->
// 28-30, at 23.976 or 24 -> 31-33.
#pragma once

#include "VskMpegParser.h"
#include "host/host_media_item.h"

#include <optional>
#include <string>

namespace mediahost {

// An MPEG-2 video header's "bit rate not given" (0x3FFFF units of 400 bit/s).
inline constexpr std::uint32_t MPEG2_UNSTATED_BIT_RATE = 0x3FFFFu * 400u;

struct SVideoFacts {
    bool avc = false;
    LONG profile = 0;
    LONG level = 0;
    LONG aspectRatioCode = 0;
    VARIANT_BOOL bitRateFlag = VARIANT_FALSE;
    LONG primaryBitRate = -1;
    LONG secondaryBitRate = -1;
    double frameRate = 0.0;
    LONG width = -1;
    LONG height = -1;
};

enum class EAudioKind { AC3, MPEG, OTHER };

struct SAudioFacts {
    EAudioKind kind = EAudioKind::OTHER;
    LONG sampleRate = -1;
    LONG channels = -1;
    LONG bitRate = -1;
    LONG layer = -1;
};

// The facts of one host media item, before they are put into one.
struct SItemFacts {
    LONGLONG size = -1;
    LONG durationMs = -1;
    LONG bitRate = -1;
    LONG packetFormat = 0;
    LONG videoStreamCount = 0;
    LONG audioStreamCount = 0;
    std::optional<SVideoFacts> video;
    std::optional<SAudioFacts> audio;
};

// The rows of the table, each on its own so the table can be tested row by
// row.
LONG Mpeg2ProfileCode(std::uint32_t profile);
LONG Mpeg2LevelCode(std::uint32_t level);
LONG AvcProfileCode(std::uint32_t profileIdc);
LONG AvcLevelCode(std::uint32_t levelIdc);
LONG AspectCode(const SVskProbeStream& video);
double FrameRate(const SVskProbeStream& video);

// The whole table.
SItemFacts MapProbe(const SVskStreamProbe& probe);

// A host media item for the file at path carrying the facts. Raises
// CAtlException when an object cannot be made.
CComPtr<CComObject<CHostMediaItem>> MakeMediaItem(const std::wstring& path, const SItemFacts& facts);

// Readable names of probe values, for the host's output.
const char* CodecName(std::uint32_t codec);
const char* PacketFormatName(std::uint32_t format);

}  // namespace mediahost
