// CTSHeader: the transport packet reader. It holds the demultiplexer's packet
// buffer, reads one packet header and adaptation field at a time in place, and
// leaves the cursor on the packet's payload. Damage is reported in its anomaly
// record (CBuffer2) and the packet is skipped; nothing is thrown.
#pragma once

#include "Buffer.h"
#include "Results.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t TS_PACKET_SIZE = 188;
inline constexpr std::uint32_t TS_PRIVATE_DATA_MAX = 181;
inline constexpr std::uint16_t PID_NULL = 0x1FFF;

// The header fields of one packet.
struct STsPacketHeader {
    std::uint8_t transportErrorIndicator = 0;
    std::uint8_t payloadUnitStartIndicator = 0;
    std::uint8_t transportPriority = 0;
    std::uint16_t pid = 0;
    std::uint8_t transportScramblingControl = 0;
    std::uint8_t adaptationFieldControl = 0;
    std::uint8_t continuityCounter = 0;
};

// The adaptation field of one packet; cleared before each field is read,
// except the private data bytes.
struct SAdaptationField {
    std::uint8_t adaptationFieldLength = 0;
    std::uint8_t discontinuityIndicator = 0;
    std::uint8_t randomAccessIndicator = 0;
    std::uint8_t elementaryStreamPriorityIndicator = 0;
    std::uint8_t pcrFlag = 0;
    std::uint8_t opcrFlag = 0;
    std::uint8_t splicingPointFlag = 0;
    std::uint8_t transportPrivateDataFlag = 0;
    std::uint8_t adaptationFieldExtensionFlag = 0;
    std::uint64_t pcrBase = 0;
    std::uint16_t pcrExtension = 0;
    std::uint64_t opcrBase = 0;
    std::uint16_t opcrExtension = 0;
    std::int8_t spliceCountdown = 0;
    std::uint8_t transportPrivateDataLength = 0;
    std::array<std::uint8_t, TS_PRIVATE_DATA_MAX> privateData{};
    std::uint8_t adaptationFieldExtensionLength = 0;
    std::uint8_t ltwFlag = 0;
    std::uint8_t piecewiseRateFlag = 0;
    std::uint8_t seamlessSpliceFlag = 0;
    std::uint8_t ltwValidFlag = 0;
    std::uint16_t ltwOffset = 0;
    std::uint32_t piecewiseRate = 0;
};

// Reads the adaptation field at `field` (its length byte first), of which
// `available` bytes are at hand, into `a` (fields not present are left as
// they are). Its adaptation_field_length, or -1 when the field is malformed:
// longer than a packet holds, or an optional part that does not fit inside it.
std::int32_t ParseAdaptationField(const std::uint8_t* field, std::size_t available, SAdaptationField& a) noexcept;

class CTSHeader : public CBuffer2
{
public:
    CTSHeader() = default;
    ~CTSHeader() override = default;

    // Clears the records and the status, keeps the prefix length (0 or 4) and
    // allocates the packet buffer. ResultNoMemory on failure.
    Result Prepare(std::uint32_t capacity, std::uint32_t prefix) noexcept;

    // Reads the next packet's header (and adaptation field) from the cursor
    // and leaves the cursor on its payload; see the implementation for the
    // damage rules. 0 once a header has been read, else ResultNeedMoreData.
    Result ReadPacketHeader() noexcept;
    // The adaptation field length, or -1 when the field is malformed.
    std::int32_t ReadAdaptationField() noexcept;
    // For packets of table PIDs: steps over pointer_field and the bytes it
    // skips. 0, or ResultSectionMalformed when it points outside the payload or
    // the buffered data (the rest of the payload is then skipped).
    Result ReadPointerField() noexcept;
    // Marks the packet as null (PID 0x1FFF, no payload) and moves the cursor
    // to the end of its unit; anomaly 0x330203 when that end is not buffered.
    void SkipPacket() noexcept;
    // Looks for the next run of five packets from the cursor; 0 with the
    // cursor on the first of them, or -1. A search that ran out of bytes is
    // remembered: the next Resync, or the next ReadPacketHeader, takes it up
    // where it stopped once more bytes have been appended.
    std::int32_t Resync() noexcept;
    // Makes the next ReadPacketHeader look for a run of packets first (a
    // reader joining a stream at an arbitrary byte).
    void RequireResync() noexcept;
    bool ResyncPending() const noexcept { return m_resyncPending; }

    // Moves the cursor over the payload bytes left in the packet, to the end
    // of its unit.
    void SkipPayload() noexcept;

    const STsPacketHeader& Header() const noexcept { return m_header; }
    const SAdaptationField& Adaptation() const noexcept { return m_adaptation; }
    // Absolute position of the current packet's unit (its prefix for 192-byte
    // units).
    std::int64_t PacketPosition() const noexcept { return m_packetPosition; }
    // Payload bytes of the current packet still ahead of the cursor.
    std::uint32_t PayloadLeft() const noexcept { return m_payloadLeft; }
    std::uint32_t Prefix() const noexcept { return m_prefix; }
    std::uint32_t Stride() const noexcept { return m_prefix + TS_PACKET_SIZE; }

private:
    // Reads the header at the cursor after the prefix; false when the byte
    // there is not a sync byte.
    bool ReadHeaderFields() noexcept;
    void ClearAdaptation() noexcept;

    std::uint32_t m_prefix = 0;
    std::int64_t m_packetPosition = -1;
    // Offset of the current unit from start (positions move with Compact,
    // offsets are taken afresh for every packet).
    std::size_t m_unitOffset = 0;
    std::uint32_t m_payloadLeft = 0;
    bool m_resyncPending = false;
    // An adaptation field was read since the record was last cleared.
    bool m_adaptationDirty = true;
    // Absolute position from which a pending search goes on.
    std::uint64_t m_resyncFrom = 0;
    STsPacketHeader m_header;
    SAdaptationField m_adaptation;
};

}  // namespace parser
