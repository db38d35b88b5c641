// Builds a transport stream in memory: 188-byte packets, or 192-byte units
// whose 4-byte prefix is zero, a running arrival time stamp, or bytes of the
// caller's choice. Continuity counters run per PID unless a packet sets its
// own, and written packets can be damaged afterwards (lost sync byte,
// transport_error_indicator, truncated tail) so every fault is exact.
#pragma once

#include "vsktest/TsPacket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <vector>

namespace vsktest {

inline constexpr std::size_t TS_UNIT_SIZE_188 = 188;
inline constexpr std::size_t TS_UNIT_SIZE_192 = 192;
inline constexpr std::size_t TS_PREFIX_SIZE = 4;

enum class PrefixMode
{
    Zero,         // 00 00 00 00
    ArrivalTime,  // 2 copy-permission bits and a 30-bit arrival time stamp, big-endian
    Custom,       // bytes from the caller
};

// Encodes a 192-byte unit prefix: copy_permission_indicator in the top two
// bits, arrival_time_stamp (27 MHz, modulo 2^30) below.
std::array<std::uint8_t, 4> EncodeArrivalTimePrefix(std::uint32_t arrivalTime,
                                                    std::uint8_t copyPermission);

// Packetizing of a PES packet.
struct PesPacketOptions
{
    std::optional<std::uint64_t> pcrBase;  // PCR in the first packet
    std::uint16_t pcrExtension = 0;
    bool randomAccess = false;             // random_access_indicator in the first packet
    std::size_t maxPayloadPerPacket = TS_MAX_PAYLOAD;  // smaller values force more packets
};

// Packetizing of PSI sections.
struct SectionPacketOptions
{
    // Bytes carried in front of the first section, behind the pointer_field
    // (the tail of an earlier section); pointer_field counts them.
    std::vector<std::uint8_t> leadingBytes;
    // At most this many section bytes per packet (a small value splits even a
    // short section across several packets).
    std::size_t maxPayloadPerPacket = TS_MAX_PAYLOAD;
    // Start every section in a packet of its own instead of packing them.
    bool sectionPerPacket = false;
};

// The packets that carry a PES packet on `pid`: the first with
// payload_unit_start_indicator, the last filled up with adaptation stuffing.
std::vector<TsPacket> PacketizePes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                                   const PesPacketOptions& options = {});

// The packets that carry PSI sections on `pid`, with pointer_field in every
// packet in which a section starts and 0xFF after the last section.
std::vector<TsPacket> PacketizeSections(std::uint16_t pid,
                                        const std::vector<std::vector<std::uint8_t>>& sections,
                                        const SectionPacketOptions& options = {});

class CTsStreamBuilder
{
public:
    // unitSize: 188 (plain packets) or 192 (a 4-byte prefix before each packet).
    explicit CTsStreamBuilder(std::size_t unitSize = TS_UNIT_SIZE_188);

    std::size_t UnitSize() const { return m_unitSize; }
    std::size_t PrefixSize() const { return m_unitSize - TS_PACKET_SIZE; }

    // Prefix of the following 192-byte units.
    void SetPrefixZero();
    // Arrival time stamps first, first + step, ... (27 MHz ticks, wrapping at 2^30).
    void SetArrivalTime(std::uint32_t first, std::uint32_t step, std::uint8_t copyPermission = 0);
    void SetCustomPrefix(std::array<std::uint8_t, 4> prefix);
    // Called with the index of the packet the prefix belongs to.
    void SetCustomPrefix(std::function<std::array<std::uint8_t, 4>(std::size_t)> prefix);

    // Appends one packet; returns its index.
    std::size_t Add(const TsPacket& packet);
    // Appends packets; returns the index of the first.
    std::size_t Add(const std::vector<TsPacket>& packets);
    // Null packets (PID 0x1FFF).
    std::size_t AddNull(std::size_t count = 1);
    std::size_t AddPes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                       const PesPacketOptions& options = {});
    std::size_t AddSection(std::uint16_t pid, std::span<const std::uint8_t> section,
                           const SectionPacketOptions& options = {});
    std::size_t AddSections(std::uint16_t pid, const std::vector<std::vector<std::uint8_t>>& sections,
                            const SectionPacketOptions& options = {});
    // Bytes outside the packet grid (junk between packets and the like).
    void AddRaw(std::span<const std::uint8_t> bytes);

    // The counter the next payload-carrying packet on `pid` gets.
    std::uint8_t NextContinuity(std::uint16_t pid) const;
    void SetNextContinuity(std::uint16_t pid, std::uint8_t counter);

    // Damage to packets already written.
    void BreakSync(std::size_t packetIndex, std::uint8_t value = 0x00);
    void SetTransportError(std::size_t packetIndex);
    // Keeps only the first `keep` bytes of the last unit (prefix included).
    void TruncateLastUnit(std::size_t keep);

    std::size_t PacketCount() const { return m_unitOffsets.size(); }
    // Offset of a unit's first byte (its prefix for 192-byte units).
    std::uint64_t UnitOffset(std::size_t packetIndex) const;
    // Offset of a packet's sync byte.
    std::uint64_t PacketOffset(std::size_t packetIndex) const;

    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    std::vector<std::uint8_t> Take();
    void WriteTo(const std::filesystem::path& path) const;

private:
    std::array<std::uint8_t, 4> NextPrefix(std::size_t packetIndex);

    std::size_t m_unitSize;
    PrefixMode m_prefixMode = PrefixMode::Zero;
    std::uint32_t m_arrivalTime = 0;
    std::uint32_t m_arrivalStep = 0;
    std::uint8_t m_copyPermission = 0;
    std::function<std::array<std::uint8_t, 4>(std::size_t)> m_customPrefix;
    std::map<std::uint16_t, std::uint8_t> m_nextContinuity;
    std::vector<std::uint64_t> m_unitOffsets;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace vsktest
