#include "PesHeader.h"

namespace parser {
namespace {

constexpr std::uint32_t TIMESTAMP_BYTES = 5;
constexpr std::uint32_t ESCR_BYTES = 6;
constexpr std::uint32_t ES_RATE_BYTES = 3;
constexpr std::uint32_t CRC_BYTES = 2;
constexpr std::uint32_t SEQUENCE_COUNTER_BYTES = 2;
constexpr std::uint32_t P_STD_BYTES = 2;
constexpr std::uint8_t STUFFING_BYTE = 0xFF;

// A cursor over the optional header that never reads past `limit`.
class CHeaderCursor
{
public:
    CHeaderCursor(const std::uint8_t* at, const std::uint8_t* limit) noexcept : m_at(at), m_limit(limit) {}

    bool Has(std::uint32_t n) const noexcept { return static_cast<std::uint32_t>(m_limit - m_at) >= n; }
    const std::uint8_t* At() const noexcept { return m_at; }
    // The next n bytes, or null (and no move) when they are not there.
    const std::uint8_t* Take(std::uint32_t n) noexcept
    {
        if (!Has(n))
            return nullptr;
        const std::uint8_t* const p = m_at;
        m_at += n;
        return p;
    }

private:
    const std::uint8_t* m_at;
    const std::uint8_t* m_limit;
};

Result ParseMpeg2Extension(CHeaderCursor& cursor, SPesHeader& h) noexcept
{
    const std::uint8_t* p = cursor.Take(1);
    if (p == nullptr)
        return ResultSectionMalformed;
    h.pesPrivateDataFlag = static_cast<std::uint8_t>(p[0] >> 7);
    h.packHeaderFieldFlag = static_cast<std::uint8_t>((p[0] >> 6) & 1u);
    h.programPacketSequenceCounterFlag = static_cast<std::uint8_t>((p[0] >> 5) & 1u);
    h.pStdBufferFlag = static_cast<std::uint8_t>((p[0] >> 4) & 1u);
    h.pesExtensionFlag2 = static_cast<std::uint8_t>(p[0] & 1u);
    if (h.pesPrivateDataFlag != 0) {
        if ((p = cursor.Take(PES_PRIVATE_DATA_BYTES)) == nullptr)
            return ResultSectionMalformed;
        for (std::uint32_t i = 0; i < PES_PRIVATE_DATA_BYTES; ++i)
            h.pesPrivateData[i] = p[i];
    }
    if (h.packHeaderFieldFlag != 0) {
        // pack_field_length and the pack header it carries, passed over.
        if ((p = cursor.Take(1)) == nullptr || cursor.Take(p[0]) == nullptr)
            return ResultSectionMalformed;
    }
    if (h.programPacketSequenceCounterFlag != 0) {
        if ((p = cursor.Take(SEQUENCE_COUNTER_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.programPacketSequenceCounter = static_cast<std::uint8_t>(p[0] & 0x7Fu);
        h.mpeg1Mpeg2Identifier = static_cast<std::uint8_t>((p[1] >> 6) & 1u);
        h.originalStuffLength = static_cast<std::uint8_t>(p[1] & 0x3Fu);
    }
    if (h.pStdBufferFlag != 0) {
        if ((p = cursor.Take(P_STD_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.pStdBufferScale = static_cast<std::uint8_t>((p[0] >> 5) & 1u);
        h.pStdBufferSize = static_cast<std::uint16_t>(((p[0] & 0x1Fu) << 8) | p[1]);
    }
    if (h.pesExtensionFlag2 != 0) {
        // PES_extension_field_length and its bytes, passed over.
        if ((p = cursor.Take(1)) == nullptr || cursor.Take(p[0] & 0x7Fu) == nullptr)
            return ResultSectionMalformed;
    }
    return RESULT_OK;
}

Result ParseMpeg2Syntax(const std::uint8_t* unit, std::uint32_t unitLength, SPesHeader& h,
                        SPesPayload& payload) noexcept
{
    if (unitLength < PES_MPEG2_HEADER_BYTES)
        return ResultSectionMalformed;
    // The two bits ahead of the flags are '10' in every valid header; they
    // are not what decides whether the rest can be read.
    const std::uint8_t flags1 = unit[6];
    const std::uint8_t flags2 = unit[7];
    h.scramblingControl = static_cast<std::uint8_t>((flags1 >> 4) & 0x03u);
    h.priority = static_cast<std::uint8_t>((flags1 >> 3) & 1u);
    h.dataAlignmentIndicator = static_cast<std::uint8_t>((flags1 >> 2) & 1u);
    h.copyright = static_cast<std::uint8_t>((flags1 >> 1) & 1u);
    h.originalOrCopy = static_cast<std::uint8_t>(flags1 & 1u);
    h.ptsDtsFlags = static_cast<std::uint8_t>(flags2 >> 6);
    h.escrFlag = static_cast<std::uint8_t>((flags2 >> 5) & 1u);
    h.esRateFlag = static_cast<std::uint8_t>((flags2 >> 4) & 1u);
    h.dsmTrickModeFlag = static_cast<std::uint8_t>((flags2 >> 3) & 1u);
    h.additionalCopyInfoFlag = static_cast<std::uint8_t>((flags2 >> 2) & 1u);
    h.pesCrcFlag = static_cast<std::uint8_t>((flags2 >> 1) & 1u);
    h.pesExtensionFlag = static_cast<std::uint8_t>(flags2 & 1u);
    h.pesHeaderDataLength = unit[8];

    // The optional fields lie inside PES_header_data_length, which itself
    // lies inside the unit: read past either, a field would take its value
    // from the payload or from the next unit.
    const std::uint32_t headerEnd = PES_MPEG2_HEADER_BYTES + h.pesHeaderDataLength;
    if (headerEnd > unitLength)
        return ResultSectionMalformed;
    CHeaderCursor cursor(unit + PES_MPEG2_HEADER_BYTES, unit + headerEnd);
    const std::uint8_t* p = nullptr;
    if (h.ptsDtsFlags == PTS_DTS_PTS_ONLY) {
        if ((p = cursor.Take(TIMESTAMP_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.pts = ReadPesTimestamp(p);
        h.dts = h.pts;
    } else if (h.ptsDtsFlags == PTS_DTS_BOTH) {
        if ((p = cursor.Take(2 * TIMESTAMP_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.pts = ReadPesTimestamp(p);
        h.dts = ReadPesTimestamp(p + TIMESTAMP_BYTES);
    }
    if (h.escrFlag != 0) {
        if ((p = cursor.Take(ESCR_BYTES)) == nullptr)
            return ResultSectionMalformed;
        ReadSystemClock(p, h.escrBase, h.escrExtension);
    }
    if (h.esRateFlag != 0) {
        if ((p = cursor.Take(ES_RATE_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.esRate = ((p[0] & 0x7Fu) << 15) | (std::uint32_t{p[1]} << 7) | (p[2] >> 1);
    }
    if (h.dsmTrickModeFlag != 0) {
        if ((p = cursor.Take(1)) == nullptr)
            return ResultSectionMalformed;
        h.trickMode = p[0];
    }
    if (h.additionalCopyInfoFlag != 0) {
        if ((p = cursor.Take(1)) == nullptr)
            return ResultSectionMalformed;
        h.additionalCopyInfo = static_cast<std::uint8_t>(p[0] & 0x7Fu);
    }
    if (h.pesCrcFlag != 0) {
        if ((p = cursor.Take(CRC_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.previousPesPacketCrc = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    }
    if (h.pesExtensionFlag != 0) {
        const Result extension = ParseMpeg2Extension(cursor, h);
        if (extension != RESULT_OK)
            return extension;
    }
    // What is left up to PES_header_data_length is stuffing.
    payload.offset = headerEnd;
    payload.length = unitLength - headerEnd;
    return RESULT_OK;
}

Result ParseMpeg1Syntax(const std::uint8_t* unit, std::uint32_t unitLength, SPesHeader& h,
                        SPesPayload& payload) noexcept
{
    h.mpeg1Syntax = 1;
    CHeaderCursor cursor(unit + PES_FIXED_BYTES, unit + unitLength);
    while (cursor.Has(1) && *cursor.At() == STUFFING_BYTE)
        cursor.Take(1);
    if (!cursor.Has(1))
        return ResultSectionMalformed;
    const std::uint8_t* p = nullptr;
    if ((*cursor.At() >> 6) == 0x01u) {
        p = cursor.Take(P_STD_BYTES);
        if (p == nullptr)
            return ResultSectionMalformed;
        h.pStdBufferFlag = 1;
        h.pStdBufferScale = static_cast<std::uint8_t>((p[0] >> 5) & 1u);
        h.pStdBufferSize = static_cast<std::uint16_t>(((p[0] & 0x1Fu) << 8) | p[1]);
        if (!cursor.Has(1))
            return ResultSectionMalformed;
    }
    const std::uint8_t lead = *cursor.At();
    // '10' begins a header of the MPEG-2 syntax, which this form cannot be.
    if ((lead >> 6) == 0x02u)
        return ResultSectionMalformed;
    switch (lead >> 4) {
    case 0x2:
        if ((p = cursor.Take(TIMESTAMP_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.ptsDtsFlags = PTS_DTS_PTS_ONLY;
        h.pts = ReadPesTimestamp(p);
        h.dts = h.pts;
        break;
    case 0x3:
        if ((p = cursor.Take(2 * TIMESTAMP_BYTES)) == nullptr)
            return ResultSectionMalformed;
        h.ptsDtsFlags = PTS_DTS_BOTH;
        h.pts = ReadPesTimestamp(p);
        h.dts = ReadPesTimestamp(p + TIMESTAMP_BYTES);
        break;
    default:
        // '0000 1111': no time stamps.
        cursor.Take(1);
        break;
    }
    payload.offset = static_cast<std::uint32_t>(cursor.At() - unit);
    payload.length = unitLength - payload.offset;
    const std::uint32_t headerBytes = payload.offset - PES_FIXED_BYTES;
    h.pesHeaderDataLength = static_cast<std::uint8_t>(headerBytes > 0xFFu ? 0xFFu : headerBytes);
    return RESULT_OK;
}

}  // namespace

bool PesWithoutOptionalHeader(std::uint8_t streamId) noexcept
{
    switch (streamId) {
    case STREAM_ID_PROGRAM_STREAM_MAP:
    case STREAM_ID_PADDING:
    case STREAM_ID_PRIVATE_STREAM_2:
    case 0xF0:  // ECM
    case 0xF1:  // EMM
    case 0xF2:  // DSMCC
    case 0xF8:  // ITU-T H.222.1 type E
    case 0xFF:  // program stream directory
        return true;
    default:
        return false;
    }
}

std::uint64_t ReadPesTimestamp(const std::uint8_t* p) noexcept
{
    return (std::uint64_t{p[0] & 0x0Eu} << 29) | (std::uint64_t{p[1]} << 22) | (std::uint64_t{p[2] & 0xFEu} << 14) |
           (std::uint64_t{p[3]} << 7) | (std::uint64_t{p[4]} >> 1);
}

void ReadSystemClock(const std::uint8_t* p, std::uint64_t& base, std::uint16_t& extension) noexcept
{
    base = (std::uint64_t{p[0] & 0x38u} << 27) | (std::uint64_t{p[0] & 0x03u} << 28) | (std::uint64_t{p[1]} << 20) |
           (std::uint64_t{p[2] & 0xF8u} << 12) | (std::uint64_t{p[2] & 0x03u} << 13) | (std::uint64_t{p[3]} << 5) |
           (std::uint64_t{p[4]} >> 3);
    extension = static_cast<std::uint16_t>(((p[4] & 0x03u) << 7) | (p[5] >> 1));
}

Result ParsePesHeader(const std::uint8_t* unit, std::uint32_t unitLength, EPesSyntax syntax, SPesHeader& header,
                      SPesPayload& payload) noexcept
{
    header = SPesHeader{};
    payload = SPesPayload{};
    if (unit == nullptr || unitLength < PES_FIXED_BYTES)
        return ResultSectionMalformed;
    if (unit[0] != 0 || unit[1] != 0 || unit[2] != 1)
        return ResultUnitWithoutStartCode;
    header.streamId = unit[3];
    header.pesPacketLength = unitLength - PES_FIXED_BYTES;
    if (PesWithoutOptionalHeader(header.streamId)) {
        payload.offset = PES_FIXED_BYTES;
        payload.length = unitLength - PES_FIXED_BYTES;
        return RESULT_OK;
    }
    return syntax == EPesSyntax::Mpeg1 ? ParseMpeg1Syntax(unit, unitLength, header, payload)
                                       : ParseMpeg2Syntax(unit, unitLength, header, payload);
}

}  // namespace parser
