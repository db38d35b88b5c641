// The facts of an audio stream as its frame headers state them: the AC-3
// sync frame (syncinfo and the start of bsi) and the MPEG-1/2 audio frame
// header. The parsers read only inside the bytes given and refuse the
// values the syntax reserves; the Find functions look for a frame in the
// payload of one PES unit and, where the next frame lies inside it too,
// require its sync word there, so a chance pattern in the data is not taken
// for a header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

struct SAudioFacts {
    std::uint32_t codec = 0;  // VSK_PROBE_CODEC_...
    std::uint32_t channels = 0;
    std::uint32_t samplingRate = 0;
    // The rate the header states in bit/s; 0 for MPEG audio's free format.
    std::uint32_t bitRate = 0;
    // MPEG audio: 1 to 3; 0 for AC-3.
    std::uint32_t layer = 0;
    // MPEG audio: 1 for ISO/IEC 11172-3, 2 for the lower sampling rates of
    // ISO/IEC 13818-3, 25 for the unofficial "MPEG-2.5" extension.
    std::uint32_t version = 0;
    std::uint32_t samplesPerFrame = 0;
    // Bytes of the whole frame; 0 when the header does not tell (free format).
    std::uint32_t frameBytes = 0;
};

inline constexpr std::uint16_t AC3_SYNC_WORD = 0x0B77;
// syncinfo and bsi up to lfeon.
inline constexpr std::size_t AC3_HEADER_BYTES = 8;
inline constexpr std::size_t MPEG_AUDIO_HEADER_BYTES = 4;

// From the first byte of the sync word. False unless the sync word is there
// and fscod, frmsizecod and bsid (at most 8) have values of the standard.
bool ParseAc3SyncFrame(const std::uint8_t* bytes, std::size_t length, SAudioFacts& facts) noexcept;
// The 4-byte frame header. False unless the 11 sync bits are set and
// version, layer, bitrate_index, sampling_frequency and emphasis have
// values that are not reserved.
bool ParseMpegAudioHeader(const std::uint8_t* bytes, std::size_t length, SAudioFacts& facts) noexcept;

bool FindAc3Facts(const std::uint8_t* payload, std::size_t length, SAudioFacts& facts) noexcept;
bool FindMpegAudioFacts(const std::uint8_t* payload, std::size_t length, SAudioFacts& facts) noexcept;

}  // namespace parser
