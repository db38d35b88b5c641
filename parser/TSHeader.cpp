#include "TSHeader.h"

#include "CheckStream.h"

#include <cstring>

namespace parser {
namespace {

constexpr std::uint32_t HEADER_BYTES = 4;
// Packets a re-synchronisation wants in a row before it trusts a sync byte.
constexpr std::uint32_t RESYNC_RUN = 5;
// adaptation_field_length of a field that fills the whole packet.
constexpr std::uint32_t ADAPTATION_LENGTH_MAX = 183;
constexpr std::uint32_t PCR_BYTES = 6;
constexpr std::uint32_t LTW_BYTES = 2;
constexpr std::uint32_t PIECEWISE_RATE_BYTES = 3;
constexpr std::uint32_t SEAMLESS_SPLICE_BYTES = 5;

enum : std::uint8_t {
    AFC_RESERVED = 0,
    AFC_PAYLOAD_ONLY = 1,
    AFC_ADAPTATION_ONLY = 2,
    AFC_ADAPTATION_AND_PAYLOAD = 3,
};

// 33-bit base, 6 reserved bits, 9-bit extension.
void ReadClockReference(const std::uint8_t* p, std::uint64_t& base, std::uint16_t& extension) noexcept
{
    base = (std::uint64_t{p[0]} << 25) | (std::uint64_t{p[1]} << 17) | (std::uint64_t{p[2]} << 9) |
           (std::uint64_t{p[3]} << 1) | (std::uint64_t{p[4]} >> 7);
    extension = static_cast<std::uint16_t>(((p[4] & 0x01u) << 8) | p[5]);
}

}  // namespace

Result CTSHeader::Prepare(std::uint32_t capacity, std::uint32_t prefix) noexcept
{
    m_header = STsPacketHeader{};
    ClearAdaptation();
    m_adaptation.privateData.fill(0);
    ResetStatus();
    m_packetPosition = -1;
    m_unitOffset = 0;
    m_payloadLeft = 0;
    m_resyncPending = false;
    m_resyncFrom = 0;
    if (prefix != 0 && prefix != 4)
        return ResultSetupFailed;
    m_prefix = prefix;
    if (Allocate(capacity) == 0)
        return ResultNoMemory;
    return RESULT_OK;
}

void CTSHeader::ClearAdaptation() noexcept
{
    // Field by field: the private data bytes are kept, and clearing them for
    // every packet would cost more than the rest of the header.
    SAdaptationField& a = m_adaptation;
    a.adaptationFieldLength = 0;
    a.discontinuityIndicator = 0;
    a.randomAccessIndicator = 0;
    a.elementaryStreamPriorityIndicator = 0;
    a.pcrFlag = 0;
    a.opcrFlag = 0;
    a.splicingPointFlag = 0;
    a.transportPrivateDataFlag = 0;
    a.adaptationFieldExtensionFlag = 0;
    a.pcrBase = 0;
    a.pcrExtension = 0;
    a.opcrBase = 0;
    a.opcrExtension = 0;
    a.spliceCountdown = 0;
    a.transportPrivateDataLength = 0;
    a.adaptationFieldExtensionLength = 0;
    a.ltwFlag = 0;
    a.piecewiseRateFlag = 0;
    a.seamlessSpliceFlag = 0;
    a.ltwValidFlag = 0;
    a.ltwOffset = 0;
    a.piecewiseRate = 0;
}

void CTSHeader::RequireResync() noexcept
{
    m_resyncPending = true;
    m_resyncFrom = CursorPosition();
}

std::int32_t CTSHeader::Resync() noexcept
{
    if (m_start == nullptr)
        return -1;
    if (m_resyncPending) {
        const std::uint64_t base = DiscardedBytes64();
        if (m_resyncFrom >= base && m_resyncFrom - base <= Used())
            SeekFromStart(static_cast<std::size_t>(m_resyncFrom - base));
    }
    std::size_t resume = 0;
    if (CheckPacketRun(*this, m_prefix, RESYNC_RUN, &resume) == 0) {
        m_resyncPending = false;
        return 0;
    }
    m_resyncPending = true;
    m_resyncFrom = DiscardedBytes64() + resume;
    return -1;
}

bool CTSHeader::ReadHeaderFields() noexcept
{
    m_unitOffset = Offset();
    m_packetPosition = static_cast<std::int64_t>(DiscardedBytes64() + m_unitOffset);
    const std::uint8_t* const p = m_cursor + m_prefix;
    if (p[0] != TS_SYNC_BYTE) {
        m_cursor = const_cast<std::uint8_t*>(p) + 1;
        m_bitOffset = 0;
        return false;
    }
    m_header.transportErrorIndicator = static_cast<std::uint8_t>(p[1] >> 7);
    m_header.payloadUnitStartIndicator = static_cast<std::uint8_t>((p[1] >> 6) & 0x01u);
    m_header.transportPriority = static_cast<std::uint8_t>((p[1] >> 5) & 0x01u);
    m_header.pid = static_cast<std::uint16_t>(((p[1] & 0x1Fu) << 8) | p[2]);
    m_header.transportScramblingControl = static_cast<std::uint8_t>(p[3] >> 6);
    m_header.adaptationFieldControl = static_cast<std::uint8_t>((p[3] >> 4) & 0x03u);
    m_header.continuityCounter = static_cast<std::uint8_t>(p[3] & 0x0Fu);
    m_cursor = const_cast<std::uint8_t*>(p) + HEADER_BYTES;
    m_bitOffset = 0;
    return true;
}

Result CTSHeader::ReadPacketHeader() noexcept
{
    ResetStatus();
    m_payloadLeft = 0;
    if (m_resyncPending && Resync() != 0)
        return ResultNeedMoreData;
    if (!HasBytes(Stride()))
        return ResultNeedMoreData;
    if (!ReadHeaderFields()) {
        ReportStatus(AnomalyLostSync, ANOMALY_SEVERITY, m_packetPosition);
        // The search goes on behind the byte that should have been a sync byte.
        if (Resync() != 0 || !HasBytes(Stride()) || !ReadHeaderFields())
            return ResultNeedMoreData;
    }

    if (m_header.transportErrorIndicator != 0) {
        ReportStatus(AnomalyTransportError, ANOMALY_SEVERITY, m_packetPosition);
        SkipPacket();
        return RESULT_OK;
    }
    // Only a field read since the last clear can have left anything behind.
    if (m_adaptationDirty) {
        ClearAdaptation();
        m_adaptationDirty = false;
    }
    switch (m_header.adaptationFieldControl) {
    case AFC_PAYLOAD_ONLY:
        m_payloadLeft = TS_PACKET_SIZE - HEADER_BYTES;
        break;
    case AFC_ADAPTATION_ONLY:
    case AFC_ADAPTATION_AND_PAYLOAD: {
        const std::int32_t length = ReadAdaptationField();
        if (length < 0) {
            ReportStatus(AnomalyAdaptationMalformed, ANOMALY_SEVERITY, m_packetPosition);
            SkipPacket();
        } else if (m_header.adaptationFieldControl == AFC_ADAPTATION_AND_PAYLOAD) {
            m_payloadLeft = ADAPTATION_LENGTH_MAX - static_cast<std::uint32_t>(length);
        } else {
            // The control field says there is no payload: whatever follows a
            // short field is not data of the stream.
            m_payloadLeft = 0;
        }
        break;
    }
    default:
        ReportStatus(AnomalyNoAdaptationNoPayload, ANOMALY_SEVERITY, m_packetPosition);
        SkipPacket();
        break;
    }
    return RESULT_OK;
}

std::int32_t ParseAdaptationField(const std::uint8_t* field, std::size_t available, SAdaptationField& a) noexcept
{
    if (available < 1)
        return -1;
    const std::uint8_t* q = field;
    const std::uint32_t length = *q++;
    if (length > ADAPTATION_LENGTH_MAX || available < 1 + std::size_t{length})
        return -1;
    const std::uint8_t* const end = q + length;
    // Every optional part must lie inside the field: read past it, a part
    // would take its value from the payload.
    auto fits = [&](const std::uint8_t* at, const std::uint8_t* limit, std::size_t n) noexcept {
        return static_cast<std::size_t>(limit - at) >= n;
    };

    a.adaptationFieldLength = static_cast<std::uint8_t>(length);
    if (length != 0) {
        const std::uint8_t flags = *q++;
        a.discontinuityIndicator = static_cast<std::uint8_t>(flags >> 7);
        a.randomAccessIndicator = static_cast<std::uint8_t>((flags >> 6) & 1u);
        a.elementaryStreamPriorityIndicator = static_cast<std::uint8_t>((flags >> 5) & 1u);
        a.pcrFlag = static_cast<std::uint8_t>((flags >> 4) & 1u);
        a.opcrFlag = static_cast<std::uint8_t>((flags >> 3) & 1u);
        a.splicingPointFlag = static_cast<std::uint8_t>((flags >> 2) & 1u);
        a.transportPrivateDataFlag = static_cast<std::uint8_t>((flags >> 1) & 1u);
        a.adaptationFieldExtensionFlag = static_cast<std::uint8_t>(flags & 1u);

        if (a.pcrFlag != 0) {
            if (!fits(q, end, PCR_BYTES))
                return -1;
            ReadClockReference(q, a.pcrBase, a.pcrExtension);
            q += PCR_BYTES;
        }
        if (a.opcrFlag != 0) {
            if (!fits(q, end, PCR_BYTES))
                return -1;
            ReadClockReference(q, a.opcrBase, a.opcrExtension);
            q += PCR_BYTES;
        }
        if (a.splicingPointFlag != 0) {
            if (!fits(q, end, 1))
                return -1;
            a.spliceCountdown = static_cast<std::int8_t>(*q++);
        }
        if (a.transportPrivateDataFlag != 0) {
            if (!fits(q, end, 1))
                return -1;
            const std::uint8_t privateLength = *q++;
            if (privateLength > TS_PRIVATE_DATA_MAX || !fits(q, end, privateLength))
                return -1;
            a.transportPrivateDataLength = privateLength;
            std::memcpy(a.privateData.data(), q, privateLength);
            q += privateLength;
        }
        if (a.adaptationFieldExtensionFlag != 0) {
            if (!fits(q, end, 1))
                return -1;
            const std::uint8_t extensionLength = *q++;
            if (!fits(q, end, extensionLength))
                return -1;
            a.adaptationFieldExtensionLength = extensionLength;
            const std::uint8_t* const extensionEnd = q + extensionLength;
            if (extensionLength != 0) {
                const std::uint8_t extensionFlags = *q++;
                a.ltwFlag = static_cast<std::uint8_t>(extensionFlags >> 7);
                a.piecewiseRateFlag = static_cast<std::uint8_t>((extensionFlags >> 6) & 1u);
                a.seamlessSpliceFlag = static_cast<std::uint8_t>((extensionFlags >> 5) & 1u);
                if (a.ltwFlag != 0) {
                    if (!fits(q, extensionEnd, LTW_BYTES))
                        return -1;
                    a.ltwValidFlag = static_cast<std::uint8_t>(q[0] >> 7);
                    a.ltwOffset = static_cast<std::uint16_t>(((q[0] & 0x7Fu) << 8) | q[1]);
                    q += LTW_BYTES;
                }
                if (a.piecewiseRateFlag != 0) {
                    if (!fits(q, extensionEnd, PIECEWISE_RATE_BYTES))
                        return -1;
                    a.piecewiseRate = ((q[0] & 0x3Fu) << 16) | (std::uint32_t{q[1]} << 8) | q[2];
                    q += PIECEWISE_RATE_BYTES;
                }
                if (a.seamlessSpliceFlag != 0 && !fits(q, extensionEnd, SEAMLESS_SPLICE_BYTES))
                    return -1;
            }
        }
    }
    return static_cast<std::int32_t>(length);
}

std::int32_t CTSHeader::ReadAdaptationField() noexcept
{
    m_adaptationDirty = true;
    const std::int32_t length = ParseAdaptationField(m_cursor, Remaining(), m_adaptation);
    if (length >= 0) {
        m_cursor += 1 + length;
        m_bitOffset = 0;
    }
    return length;
}

Result CTSHeader::ReadPointerField() noexcept
{
    if (m_header.payloadUnitStartIndicator == 0)
        return RESULT_OK;
    if (m_payloadLeft == 0 || !HasBytes(1)) {
        ReportStatus(AnomalyPointerPastPayload, ANOMALY_SEVERITY, m_packetPosition);
        SkipPayload();
        return ResultSectionMalformed;
    }
    const std::uint32_t pointer = *m_cursor++;
    --m_payloadLeft;
    // The section must begin inside this packet's payload.
    if (pointer + 1 > m_payloadLeft) {
        ReportStatus(AnomalyPointerPastPayload, ANOMALY_SEVERITY, m_packetPosition);
        SkipPayload();
        return ResultSectionMalformed;
    }
    if (!HasBytes(pointer)) {
        ReportStatus(AnomalyPointerPastBuffer, ANOMALY_SEVERITY, m_packetPosition);
        SkipPayload();
        return ResultSectionMalformed;
    }
    m_cursor += pointer;
    m_payloadLeft -= pointer;
    return RESULT_OK;
}

void CTSHeader::SkipPacket() noexcept
{
    m_header.pid = PID_NULL;
    m_payloadLeft = 0;
    const std::size_t unitEnd = m_unitOffset + Stride();
    if (m_start == nullptr || unitEnd > Used()) {
        ReportStatus(AnomalyPacketNotBuffered, ANOMALY_SEVERITY, m_packetPosition);
        return;
    }
    m_cursor = m_start + unitEnd;
    m_bitOffset = 0;
}

void CTSHeader::SkipPayload() noexcept
{
    m_payloadLeft = 0;
    if (m_start == nullptr)
        return;
    const std::size_t unitEnd = m_unitOffset + Stride();
    m_cursor = unitEnd <= Used() ? m_start + unitEnd : m_end;
    m_bitOffset = 0;
}

}  // namespace parser
