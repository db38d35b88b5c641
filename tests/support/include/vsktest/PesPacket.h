// PES packets in the MPEG-2 syntax (transport and program streams) and the
// MPEG-1 syntax (MPEG-1 program streams), with 33-bit PTS and DTS.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vsktest {

inline constexpr std::uint8_t STREAM_ID_PROGRAM_STREAM_MAP = 0xBC;
inline constexpr std::uint8_t STREAM_ID_PRIVATE_1 = 0xBD;
inline constexpr std::uint8_t STREAM_ID_PADDING = 0xBE;
inline constexpr std::uint8_t STREAM_ID_PRIVATE_2 = 0xBF;
inline constexpr std::uint8_t STREAM_ID_AUDIO_FIRST = 0xC0;
inline constexpr std::uint8_t STREAM_ID_VIDEO_FIRST = 0xE0;

// The four-bit prefixes of the 5-byte time stamp fields.
inline constexpr std::uint8_t TIMESTAMP_PREFIX_PTS_ONLY = 0x2;  // '0010'
inline constexpr std::uint8_t TIMESTAMP_PREFIX_PTS = 0x3;       // '0011', PTS followed by DTS
inline constexpr std::uint8_t TIMESTAMP_PREFIX_DTS = 0x1;       // '0001'

// prefix (4 bits), ts[32..30], marker, ts[29..15], marker, ts[14..0], marker.
std::array<std::uint8_t, 5> EncodeTimestamp(std::uint8_t prefix, std::uint64_t timestamp);
// Reads back the 33-bit value of such a field (markers and prefix ignored).
std::uint64_t DecodeTimestamp(const std::uint8_t* field);

// Stream ids whose PES packets have no optional header: the bytes behind
// PES_packet_length are all payload.
bool PesHasOptionalHeader(std::uint8_t streamId);

struct PesParams
{
    std::uint8_t streamId = STREAM_ID_VIDEO_FIRST;
    std::optional<std::uint64_t> pts;  // 33 bits
    std::optional<std::uint64_t> dts;  // written only together with a PTS
    std::vector<std::uint8_t> payload;
    // PES_packet_length 0, allowed for video in transport streams.
    bool unbounded = false;
    // Written as PES_packet_length instead of the true length; the bytes are
    // not changed (for malformed packets).
    std::optional<std::uint16_t> packetLengthOverride;
    // Written as PTS_DTS_flags instead of the flags the time stamps imply.
    std::optional<std::uint8_t> ptsDtsFlagsOverride;
    std::uint8_t scrambling = 0;
    bool priority = false;
    bool dataAlignment = false;
    bool copyright = false;
    bool original = false;
    // Further optional fields, each written when set.
    std::optional<std::uint64_t> escrBase;
    std::uint16_t escrExtension = 0;
    std::optional<std::uint32_t> esRate;        // 22 bits
    std::optional<std::uint8_t> trickMode;      // the whole DSM trick mode byte
    std::optional<std::uint8_t> additionalCopyInfo;  // 7 bits
    std::optional<std::uint16_t> previousCrc;
    std::optional<std::vector<std::uint8_t>> extension;  // PES extension bytes, flag byte first
    std::size_t headerStuffing = 0;  // 0xFF bytes closing the optional header
};

// The PES packet from its start code. Throws std::invalid_argument when a
// bounded packet does not fit in PES_packet_length.
std::vector<std::uint8_t> MakePes(const PesParams& params);

// Length of the fixed part and optional header that MakePes writes before the
// payload (6 bytes of start code and length, then 3 + PES_header_data_length).
std::size_t PesHeaderSize(const PesParams& params);

struct Mpeg1PesParams
{
    std::uint8_t streamId = STREAM_ID_VIDEO_FIRST;
    std::optional<std::uint64_t> pts;
    std::optional<std::uint64_t> dts;
    std::vector<std::uint8_t> payload;
    std::size_t stuffing = 0;  // leading 0xFF bytes (at most 16 in a valid packet)
    // '01', STD_buffer_scale, STD_buffer_size (13 bits) when set.
    std::optional<std::pair<bool, std::uint16_t>> stdBuffer;
    std::optional<std::uint16_t> packetLengthOverride;
};

std::vector<std::uint8_t> MakeMpeg1Pes(const Mpeg1PesParams& params);

}  // namespace vsktest
