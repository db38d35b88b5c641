#include "AudioHeaders.h"

#include "HeaderBits.h"
#include "VskMpegParser.h"

#include <array>

namespace parser {
namespace {

// AC-3 nominal bit rates in kbit/s by frmsizecod / 2 (frmsizecod 0 to 37).
constexpr std::array<std::uint32_t, 19> AC3_KBPS = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                     192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::array<std::uint32_t, 3> AC3_SAMPLING_RATES = {48000, 44100, 32000};
// Full-bandwidth channels by acmod (0 is the dual-mono 1+1 mode).
constexpr std::array<std::uint32_t, 8> AC3_CHANNELS = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr std::uint32_t AC3_SAMPLES_PER_FRAME = 1536;
constexpr std::uint32_t AC3_MAX_BSID = 8;

// MPEG audio bit rates in kbit/s by bitrate_index 1 to 14: MPEG-1 layers I,
// II, III, then the lower sampling rates' layer I and layers II and III.
constexpr std::array<std::array<std::uint32_t, 15>, 5> MPEG_AUDIO_KBPS = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<std::uint32_t, 3> MPEG1_SAMPLING_RATES = {44100, 48000, 32000};

bool SameMpegAudioStream(const SAudioFacts& a, const SAudioFacts& b) noexcept
{
    return a.version == b.version && a.layer == b.layer && a.samplingRate == b.samplingRate;
}

}  // namespace

bool ParseAc3SyncFrame(const std::uint8_t* bytes, std::size_t length, SAudioFacts& facts) noexcept
{
    CHeaderBits bits(bytes, length);
    if (bits.Read(16) != AC3_SYNC_WORD)
        return false;
    bits.Read(16);  // crc1
    const std::uint32_t fscod = bits.Read(2);
    const std::uint32_t frmsizecod = bits.Read(6);
    const std::uint32_t bsid = bits.Read(5);
    bits.Read(3);  // bsmod
    const std::uint32_t acmod = bits.Read(3);
    if ((acmod & 0x01u) != 0 && acmod != 1)
        bits.Read(2);  // cmixlev
    if ((acmod & 0x04u) != 0)
        bits.Read(2);  // surmixlev
    if (acmod == 2)
        bits.Read(2);  // dsurmod
    const bool lfeon = bits.ReadFlag();
    if (bits.Overrun() || fscod >= AC3_SAMPLING_RATES.size() || frmsizecod >= 2 * AC3_KBPS.size() ||
        bsid > AC3_MAX_BSID)
        return false;
    SAudioFacts f;
    f.codec = VSK_PROBE_CODEC_AC3;
    f.samplingRate = AC3_SAMPLING_RATES[fscod];
    const std::uint32_t kbps = AC3_KBPS[frmsizecod / 2];
    f.bitRate = kbps * 1000;
    f.channels = AC3_CHANNELS[acmod] + (lfeon ? 1 : 0);
    f.samplesPerFrame = AC3_SAMPLES_PER_FRAME;
    // A frame carries 1536 samples' worth of the nominal rate, in 16-bit
    // words; at 44.1 kHz the odd frmsizecod adds one word to even it out.
    const std::uint32_t words =
        fscod == 1 ? kbps * 1000 * AC3_SAMPLES_PER_FRAME / (44100 * 16) + (frmsizecod & 1u)
                   : kbps * (fscod == 0 ? 2 : 3);
    f.frameBytes = 2 * words;
    facts = f;
    return true;
}

bool ParseMpegAudioHeader(const std::uint8_t* bytes, std::size_t length, SAudioFacts& facts) noexcept
{
    CHeaderBits bits(bytes, length);
    if (bits.Read(11) != 0x7FF)
        return false;
    const std::uint32_t versionCode = bits.Read(2);  // 0 "2.5", 1 reserved, 2 MPEG-2, 3 MPEG-1
    const std::uint32_t layerCode = bits.Read(2);    // 0 reserved, 1 III, 2 II, 3 I
    bits.Read(1);                                    // protection_bit
    const std::uint32_t bitrateIndex = bits.Read(4);
    const std::uint32_t samplingCode = bits.Read(2);
    const std::uint32_t padding = bits.Read(1);
    bits.Read(1);  // private_bit
    const std::uint32_t mode = bits.Read(2);
    bits.Read(4);  // mode_extension, copyright, original_copy
    const std::uint32_t emphasis = bits.Read(2);
    if (bits.Overrun() || versionCode == 1 || layerCode == 0 || bitrateIndex == 15 || samplingCode == 3 ||
        emphasis == 2)
        return false;
    SAudioFacts f;
    f.codec = VSK_PROBE_CODEC_MPEG_AUDIO;
    f.layer = 4 - layerCode;
    f.version = versionCode == 3 ? 1 : versionCode == 2 ? 2 : 25;
    const std::uint32_t divisor = f.version == 1 ? 1 : f.version == 2 ? 2 : 4;
    f.samplingRate = MPEG1_SAMPLING_RATES[samplingCode] / divisor;
    const std::size_t table = f.version == 1 ? f.layer - 1 : (f.layer == 1 ? 3 : 4);
    f.bitRate = MPEG_AUDIO_KBPS[table][bitrateIndex] * 1000;
    f.channels = mode == 3 ? 1 : 2;
    f.samplesPerFrame = f.layer == 1 ? 384 : (f.layer == 3 && f.version != 1 ? 576 : 1152);
    if (f.bitRate != 0) {
        // Layer I counts in 4-byte slots.
        f.frameBytes = f.layer == 1 ? (12 * f.bitRate / f.samplingRate + padding) * 4
                                    : f.samplesPerFrame / 8 * f.bitRate / f.samplingRate + padding;
    }
    facts = f;
    return true;
}

bool FindAc3Facts(const std::uint8_t* payload, std::size_t length, SAudioFacts& facts) noexcept
{
    if (payload == nullptr)
        return false;
    for (std::size_t at = 0; at + AC3_HEADER_BYTES <= length; ++at) {
        if (payload[at] != 0x0B || payload[at + 1] != 0x77)
            continue;
        SAudioFacts candidate;
        if (!ParseAc3SyncFrame(payload + at, length - at, candidate))
            continue;
        const std::size_t next = at + candidate.frameBytes;
        if (next + 2 <= length && (payload[next] != 0x0B || payload[next + 1] != 0x77))
            continue;
        facts = candidate;
        return true;
    }
    return false;
}

bool FindMpegAudioFacts(const std::uint8_t* payload, std::size_t length, SAudioFacts& facts) noexcept
{
    if (payload == nullptr)
        return false;
    for (std::size_t at = 0; at + MPEG_AUDIO_HEADER_BYTES <= length; ++at) {
        if (payload[at] != 0xFF || (payload[at + 1] & 0xE0u) != 0xE0u)
            continue;
        SAudioFacts candidate;
        if (!ParseMpegAudioHeader(payload + at, length - at, candidate))
            continue;
        // A free-format frame does not say where the next one starts: taken
        // only where the unit begins with it.
        if (candidate.frameBytes == 0) {
            if (at != 0)
                continue;
        } else {
            const std::size_t next = at + candidate.frameBytes;
            SAudioFacts following;
            if (next + MPEG_AUDIO_HEADER_BYTES <= length &&
                (!ParseMpegAudioHeader(payload + next, length - next, following) ||
                 !SameMpegAudioStream(candidate, following)))
                continue;
        }
        facts = candidate;
        return true;
    }
    return false;
}

}  // namespace parser
