// One 188-byte transport packet described field by field, and its encoding.
// Every field of the packet header and of the adaptation field can be chosen,
// including values a well-formed stream never carries, so tests can build
// exactly the damage they mean to exercise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vsktest {

inline constexpr std::size_t TS_PACKET_SIZE = 188;
inline constexpr std::size_t TS_HEADER_SIZE = 4;
inline constexpr std::size_t TS_MAX_PAYLOAD = TS_PACKET_SIZE - TS_HEADER_SIZE;
inline constexpr std::uint8_t TS_SYNC_BYTE = 0x47;
inline constexpr std::uint16_t TS_PID_PAT = 0x0000;
inline constexpr std::uint16_t TS_PID_SIT = 0x001F;
inline constexpr std::uint16_t TS_PID_NULL = 0x1FFF;

struct AdaptationField
{
    bool discontinuity = false;
    bool randomAccess = false;
    bool esPriority = false;
    std::optional<std::uint64_t> pcrBase;  // 33 bits, 90 kHz
    std::uint16_t pcrExtension = 0;        // 9 bits, 27 MHz remainder
    std::optional<std::uint64_t> opcrBase;
    std::uint16_t opcrExtension = 0;
    std::optional<std::int8_t> spliceCountdown;
    std::optional<std::vector<std::uint8_t>> privateData;  // transport_private_data bytes
    std::optional<std::vector<std::uint8_t>> extension;    // bytes after adaptation_field_extension_length
    std::size_t stuffing = 0;                              // 0xFF bytes closing the field
    // adaptation_field_length 0: the field is the length byte alone; every
    // other member must be left at its default.
    bool lengthOnly = false;
    // Written as adaptation_field_length instead of the true length; the bytes
    // that follow are not changed (for malformed fields).
    std::optional<std::uint8_t> lengthOverride;
};

// How the bytes of a packet that the payload leaves free are filled.
enum class TsFill
{
    PayloadStuffing,     // 0xFF bytes after the payload (PSI sections)
    AdaptationStuffing,  // an adaptation field grown by 0xFF stuffing (PES data)
};

struct TsPacket
{
    std::uint16_t pid = TS_PID_NULL;  // 13 bits
    bool payloadUnitStart = false;
    bool transportError = false;
    bool transportPriority = false;
    std::uint8_t scrambling = 0;  // transport_scrambling_control, 2 bits
    // 2 bits; by default 01 without an adaptation field, 11 with one and a
    // payload, 10 with one and no payload.
    std::optional<std::uint8_t> adaptationFieldControl;
    // By default the stream builder counts per PID.
    std::optional<std::uint8_t> continuityCounter;
    std::optional<AdaptationField> adaptation;
    std::vector<std::uint8_t> payload;
    TsFill fill = TsFill::PayloadStuffing;
    std::uint8_t syncByte = TS_SYNC_BYTE;
};

// The encoded adaptation field, its length byte first.
std::vector<std::uint8_t> EncodeAdaptationField(const AdaptationField& field);

// Whether a packet with this header carries payload (adaptation_field_control
// 01 or 11): only those advance the continuity counter.
bool CarriesPayload(const TsPacket& packet);

// The adaptation_field_control that EncodeTsPacket writes for the packet.
std::uint8_t EffectiveAdaptationFieldControl(const TsPacket& packet);

// Encodes the packet with the given continuity counter (the packet's own
// counter, when set, wins). Throws std::invalid_argument when the content does
// not fit into 188 bytes.
std::array<std::uint8_t, TS_PACKET_SIZE> EncodeTsPacket(const TsPacket& packet,
                                                        std::uint8_t continuityCounter);

// Bytes 0..5 of a PCR or OPCR: 33-bit base, 6 reserved bits, 9-bit extension.
std::array<std::uint8_t, 6> EncodePcr(std::uint64_t base, std::uint16_t extension);

}  // namespace vsktest
