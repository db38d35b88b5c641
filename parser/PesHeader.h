// The header of one PES packet, and its parse in the two syntaxes the parser
// meets: the MPEG-2 one (transport streams and MPEG-2 program streams) and
// the MPEG-1 one (MPEG-1 program streams). Both the transport stream's PES
// assemblers and the program-stream reader use it, so a header means the same
// whichever reader found it. Nothing is read outside the unit.
#pragma once

#include "Results.h"

#include <array>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t PES_START_CODE_PREFIX = 0x000001;
// Start code prefix, stream_id and PES_packet_length.
inline constexpr std::uint32_t PES_FIXED_BYTES = 6;
// The fixed part and the three bytes of flags and PES_header_data_length of
// the MPEG-2 syntax.
inline constexpr std::uint32_t PES_MPEG2_HEADER_BYTES = 9;
inline constexpr std::uint32_t PES_PRIVATE_DATA_BYTES = 16;

enum : std::uint8_t {
    STREAM_ID_PROGRAM_STREAM_MAP = 0xBC,
    STREAM_ID_PRIVATE_STREAM_1 = 0xBD,
    STREAM_ID_PADDING = 0xBE,
    STREAM_ID_PRIVATE_STREAM_2 = 0xBF,
    STREAM_ID_AUDIO_FIRST = 0xC0,
    STREAM_ID_AUDIO_LAST = 0xDF,
    STREAM_ID_VIDEO_FIRST = 0xE0,
    STREAM_ID_VIDEO_LAST = 0xEF,
    STREAM_ID_EXTENDED = 0xFD,
};

enum : std::uint8_t {
    PTS_DTS_NONE = 0,
    PTS_DTS_PTS_ONLY = 2,
    PTS_DTS_BOTH = 3,
};

// PTS_DTS_flags with the PTS bit set.
inline constexpr bool HasPts(std::uint8_t ptsDtsFlags) noexcept
{
    return (ptsDtsFlags & 0x02u) != 0;
}

struct SPesHeader {
    std::uint8_t streamId = 0;
    // unitLength - 6: for a video unit of PES_packet_length 0, the length
    // the unit turned out to have, which may exceed 16 bits.
    std::uint32_t pesPacketLength = 0;
    std::uint8_t scramblingControl = 0;
    std::uint8_t priority = 0;
    std::uint8_t dataAlignmentIndicator = 0;
    std::uint8_t copyright = 0;
    std::uint8_t originalOrCopy = 0;
    std::uint8_t ptsDtsFlags = 0;
    std::uint8_t escrFlag = 0;
    std::uint8_t esRateFlag = 0;
    std::uint8_t dsmTrickModeFlag = 0;
    std::uint8_t additionalCopyInfoFlag = 0;
    std::uint8_t pesCrcFlag = 0;
    std::uint8_t pesExtensionFlag = 0;
    // The field of the MPEG-2 syntax; for the MPEG-1 syntax the header bytes
    // behind PES_packet_length (stuffing, buffer and time stamps).
    std::uint8_t pesHeaderDataLength = 0;
    // 33 bits each; DTS equals PTS when only a PTS is present.
    std::uint64_t pts = 0;
    std::uint64_t dts = 0;
    std::uint64_t escrBase = 0;
    std::uint16_t escrExtension = 0;
    std::uint32_t esRate = 0;
    std::uint8_t trickMode = 0;
    std::uint8_t additionalCopyInfo = 0;
    std::uint16_t previousPesPacketCrc = 0;
    std::uint8_t pesPrivateDataFlag = 0;
    std::uint8_t packHeaderFieldFlag = 0;
    std::uint8_t programPacketSequenceCounterFlag = 0;
    std::uint8_t pStdBufferFlag = 0;
    std::uint8_t pesExtensionFlag2 = 0;
    std::array<std::uint8_t, PES_PRIVATE_DATA_BYTES> pesPrivateData{};
    std::uint8_t programPacketSequenceCounter = 0;
    std::uint8_t mpeg1Mpeg2Identifier = 0;
    std::uint8_t originalStuffLength = 0;
    std::uint8_t pStdBufferScale = 0;
    std::uint16_t pStdBufferSize = 0;
    // The header was written in the MPEG-1 syntax.
    std::uint8_t mpeg1Syntax = 0;
};

enum class EPesSyntax
{
    Mpeg2,
    Mpeg1,
};

// Where the elementary bytes of a parsed unit lie, counted from its start
// code.
struct SPesPayload {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// Whether the bytes behind PES_packet_length of this stream_id are all
// payload (no optional header).
bool PesWithoutOptionalHeader(std::uint8_t streamId) noexcept;

// A 33-bit time stamp from the five bytes of a PTS, DTS or (the first five
// of six) ESCR-less field: prefix and marker bits are not checked.
std::uint64_t ReadPesTimestamp(const std::uint8_t* p) noexcept;

// A 33-bit base and 9-bit extension from the six bytes laid out as an ESCR
// and as the SCR of an MPEG-2 pack header: 2 leading bits, base[32..30],
// marker, base[29..15], marker, base[14..0], marker, extension, marker.
// Leading and marker bits are not checked.
void ReadSystemClock(const std::uint8_t* p, std::uint64_t& base, std::uint16_t& extension) noexcept;

// Parses the unit [unit, unit + unitLength), which starts at its start code.
// unitLength is decided by the caller (PES_packet_length + 6, or up to the
// next unit of a stream whose units are unbounded) and is at least
// PES_FIXED_BYTES. Every optional part must lie inside PES_header_data_length
// and the unit.
// RESULT_OK: header and payload are filled (pesPacketLength = unitLength - 6).
// ResultUnitWithoutStartCode: the unit does not begin with 00 00 01.
// ResultSectionMalformed: a part of the header does not fit.
Result ParsePesHeader(const std::uint8_t* unit, std::uint32_t unitLength, EPesSyntax syntax, SPesHeader& header,
                      SPesPayload& payload) noexcept;

}  // namespace parser
