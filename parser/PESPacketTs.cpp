#include "PESPacketTs.h"

#include "MediaCoreDecSysRegDesc.h"

#include <algorithm>
#include <limits>
#include <new>

namespace parser {
namespace {

// The first block of an assembler; it doubles towards the capacity as
// units need it, so streams that never carry much hold little memory.
constexpr std::uint32_t INITIAL_BLOCK = 0x2000;
constexpr std::uint8_t CONTINUITY_UNSET = 0xFF;
constexpr std::uint8_t AFC_PAYLOAD_BIT = 0x01;

bool StartsWithStartCode(const std::uint8_t* p) noexcept
{
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

}  // namespace

bool IsDataStreamId(std::uint8_t id) noexcept
{
    return id == STREAM_ID_PRIVATE_STREAM_1 || (id >= STREAM_ID_PRIVATE_STREAM_2 && id <= STREAM_ID_VIDEO_LAST) ||
           id == STREAM_ID_EXTENDED;
}

bool IsVideoStreamType(std::uint8_t streamType) noexcept
{
    switch (streamType) {
    case 0x01:
    case 0x02:
    case 0x1B:
    case 0x90:
    case 0x91:
        return true;
    default:
        return false;
    }
}

std::uint8_t SesfSamplingCode(std::uint8_t samplingFrequency) noexcept
{
    switch (samplingFrequency) {
    case 4:
        return 1;
    case 5:
        return 2;
    default:
        return 0;
    }
}

std::uint8_t SesfChannelCode(std::uint8_t channelAssignment) noexcept
{
    switch (channelAssignment) {
    case 1:
    case 3:
        return 1;
    case 4:
    case 5:
    case 6:
    case 7:
        return 3;
    case 8:
    case 9:
        return 5;
    case 10:
    case 11:
        return 7;
    default:
        return 0;
    }
}

std::uint8_t SesfBitsPerSampleCode(std::uint8_t bitsPerSample) noexcept
{
    switch (bitsPerSample) {
    case 2:
        return 1;
    case 3:
        return 2;
    default:
        return 0;
    }
}

Result CPESPacketTs::Prepare(std::uint32_t capacity, std::uint32_t historyMode, std::uint8_t streamType,
                             std::uint32_t system) noexcept
{
    m_streamType = streamType;
    m_system = system;
    m_video = IsVideoStreamType(streamType);
    m_sesfAudioStream = streamType == 0x80 && system == SystemSESF;
    m_limit = capacity;
    m_historyMode = historyMode;
    m_stride = TS_PACKET_SIZE;
    m_lastContinuity = CONTINUITY_UNSET;
    m_gapSeen = false;
    m_collecting = false;
    m_lastStartPayload = 0;
    m_marks.clear();
    m_positions.clear();
    m_headerLengths.clear();
    m_payloadOffsets.clear();
    ClearWaitingUnit();
    ResetStatus();
    if (capacity == 0 || Allocate(std::min(capacity, INITIAL_BLOCK)) == 0)
        return ResultAppendFailed;
    return RESULT_OK;
}

void CPESPacketTs::ClearWaitingUnit() noexcept
{
    m_completeUnits = 0;
    m_unitLength = 0;
    m_payload = SPesPayload{};
    m_header = SPesHeader{};
    m_unitPackets = 0;
    m_hasSesfAudio = false;
    m_sesfAudio = SSesfAudioHeader{};
}

const std::uint8_t* CPESPacketTs::Payload() const noexcept
{
    if (m_completeUnits == 0 || m_marks.empty())
        return nullptr;
    return AtOffset(m_marks.front().offset) + m_payload.offset;
}

std::int64_t CPESPacketTs::UnitPosition() const noexcept
{
    return m_completeUnits == 0 || m_positions.empty() ? -1 : m_positions.front();
}

std::uint64_t CPESPacketTs::SpanLength() const noexcept
{
    if (m_completeUnits == 0 || m_unitPackets == 0)
        return 0;
    return static_cast<std::uint64_t>(m_positions[m_unitPackets - 1] - m_positions.front()) + m_stride;
}

bool CPESPacketTs::MakeRoom(std::uint32_t n, bool& noMemory) noexcept
{
    noMemory = false;
    if (FreeSpace() >= n)
        return true;
    Compact();
    if (FreeSpace() >= n)
        return true;
    const std::uint64_t needed = std::uint64_t{Used()} + n;
    if (needed > m_limit)
        return false;
    const std::uint64_t doubled = 2 * std::uint64_t{Capacity()};
    const std::uint32_t size = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_limit, std::max(doubled, needed)));
    if (Grow(size) == 0) {
        noMemory = true;
        return false;
    }
    return true;
}

void CPESPacketTs::Consume(std::uint64_t offset) noexcept
{
    offset = std::clamp(offset, CursorPosition(), EndOffset());
    m_cursor = const_cast<std::uint8_t*>(AtOffset(offset));
    m_bitOffset = 0;
    if (m_marks.empty()) {
        // No unit under way: nothing held belongs to one.
        m_cursor = m_end;
        Compact();
        m_positions.clear();
        m_headerLengths.clear();
        m_payloadOffsets.clear();
        return;
    }
    Compact();
    // Every unit start lies at or after the offset; the packets ahead of the
    // first one carried bytes of units that are gone.
    const std::uint32_t drop = m_marks.front().packet;
    if (drop != 0) {
        m_positions.erase(m_positions.begin(), m_positions.begin() + drop);
        m_headerLengths.erase(m_headerLengths.begin(), m_headerLengths.begin() + drop);
        m_payloadOffsets.erase(m_payloadOffsets.begin(), m_payloadOffsets.begin() + drop);
        for (SStartMark& mark : m_marks)
            mark.packet -= drop;
    }
}

void CPESPacketTs::DropOldestUnit(bool anomaly) noexcept
{
    if (m_marks.empty())
        return;
    if (anomaly) {
        const std::uint32_t first = m_marks.front().packet;
        ReportStatus(AnomalyPesMalformed, ANOMALY_SEVERITY, first < m_positions.size() ? m_positions[first] : -1);
    }
    const std::uint64_t next = m_marks.size() > 1 ? m_marks[1].offset : EndOffset();
    m_marks.erase(m_marks.begin());
    Consume(next);
}

void CPESPacketTs::DropIncompleteUnits(bool anomaly) noexcept
{
    // The waiting unit, when there is one, is the oldest start; everything
    // from the next start on has not completed.
    const std::size_t keep = m_completeUnits != 0 ? 1 : 0;
    if (m_marks.size() <= keep) {
        // Bytes beyond a waiting bounded unit that no start claims.
        if (keep == 1)
            m_end = const_cast<std::uint8_t*>(AtOffset(m_marks.front().offset)) + m_unitLength;
        return;
    }
    const SStartMark firstDropped = m_marks[keep];
    if (anomaly)
        ReportStatus(AnomalyPesMalformed, ANOMALY_SEVERITY,
                     firstDropped.packet < m_positions.size() ? m_positions[firstDropped.packet] : -1);
    m_marks.resize(keep);
    m_end = const_cast<std::uint8_t*>(AtOffset(firstDropped.offset));
    m_positions.resize(firstDropped.packet);
    m_headerLengths.resize(firstDropped.packet);
    m_payloadOffsets.resize(firstDropped.packet);
    if (keep == 0) {
        m_positions.clear();
        m_headerLengths.clear();
        m_payloadOffsets.clear();
    }
}

Result CPESPacketTs::TakePacket(const CTSHeader& packetReader) noexcept
{
    m_gapSeen = false;
    const STsPacketHeader& packet = packetReader.Header();
    // The continuity counter advances only on packets that carry payload.
    if ((packet.adaptationFieldControl & AFC_PAYLOAD_BIT) == 0)
        return RESULT_OK;
    const std::uint8_t counter = packet.continuityCounter;
    if (m_lastContinuity != CONTINUITY_UNSET) {
        if (counter == m_lastContinuity)
            return RESULT_OK;
        m_gapSeen = counter != ((m_lastContinuity + 1) & 0x0Fu);
    }
    m_lastContinuity = counter;
    m_stride = packetReader.Stride();

    const std::uint32_t length = packetReader.PayloadLeft();
    const std::uint8_t* const payload = packetReader.Cursor();
    const bool start = packet.payloadUnitStartIndicator != 0 && length != 0;
    if (start) {
        m_lastStartPayload = length;
        m_collecting = true;
    } else if (m_marks.empty() || length == 0) {
        // Bytes that belong to no unit under way.
        return RESULT_OK;
    }

    bool noMemory = false;
    if (!MakeRoom(length, noMemory)) {
        if (noMemory)
            return ResultAppendFailed;
        // The unit under way cannot complete within the capacity. A new
        // unit that starts here is collected afresh; the rest of a dropped
        // unit is not.
        DropIncompleteUnits();
        if (!start)
            return RESULT_OK;
        if (!MakeRoom(length, noMemory)) {
            if (noMemory)
                return ResultAppendFailed;
            ReportStatus(AnomalyPesMalformed, ANOMALY_SEVERITY, packetReader.PacketPosition());
            return RESULT_OK;
        }
    }
    const std::uint64_t offset = EndOffset();
    try {
        m_positions.push_back(packetReader.PacketPosition());
        m_headerLengths.push_back(m_stride - length);
        m_payloadOffsets.push_back(offset);
        if (start)
            m_marks.push_back(SStartMark{offset, static_cast<std::uint32_t>(m_positions.size() - 1)});
    } catch (const std::bad_alloc&) {
        return ResultAppendFailed;
    }
    if (Append(payload, length) != length)
        return ResultAppendFailed;
    return RESULT_OK;
}

Result CPESPacketTs::CompleteUnits() noexcept
{
    if (m_completeUnits != 0)
        return RESULT_OK;
    // Most packets continue a unit whose end is not known yet.
    if (m_marks.empty() || (m_video && m_marks.size() < 2))
        return ResultNeedMoreData;
    while (!m_marks.empty()) {
        // Bytes ahead of the oldest start belong to no unit.
        if (CursorPosition() != m_marks.front().offset)
            Consume(m_marks.front().offset);
        const std::uint8_t* const unit = AtOffset(m_marks.front().offset);
        const std::uint64_t held = EndOffset() - m_marks.front().offset;
        const bool nextStarted = m_marks.size() > 1;
        const std::uint64_t toNext = nextStarted ? m_marks[1].offset - m_marks.front().offset : 0;

        if (held >= 3 && !StartsWithStartCode(unit)) {
            DropOldestUnit(false);
            continue;
        }
        std::uint64_t unitLength = 0;
        const std::uint32_t declared = held >= PES_FIXED_BYTES ? (std::uint32_t{unit[4]} << 8) | unit[5] : 0;
        if (m_video || (held >= PES_FIXED_BYTES && declared == 0)) {
            if (!nextStarted)
                return ResultNeedMoreData;
            unitLength = toNext;
        } else if (held < PES_FIXED_BYTES) {
            if (!nextStarted)
                return ResultNeedMoreData;
            DropOldestUnit(true);
            continue;
        } else {
            unitLength = std::uint64_t{declared} + PES_FIXED_BYTES;
            if (nextStarted && unitLength > toNext) {
                // The next unit began before this one's end: packets were lost.
                DropOldestUnit(true);
                continue;
            }
            if (held < unitLength)
                return ResultNeedMoreData;
        }

        const Result parsed =
            ParsePesHeader(unit, static_cast<std::uint32_t>(unitLength), EPesSyntax::Mpeg2, m_header, m_payload);
        if (parsed == ResultUnitWithoutStartCode) {
            DropOldestUnit(false);
            continue;
        }
        if (parsed != RESULT_OK || !IsDataStreamId(m_header.streamId)) {
            DropOldestUnit(true);
            continue;
        }
        m_hasSesfAudio = false;
        if (m_sesfAudioStream) {
            if (m_payload.length < SESF_AUDIO_HEADER_BYTES) {
                DropOldestUnit(true);
                continue;
            }
            const std::uint8_t* const a = unit + m_payload.offset;
            m_sesfAudio.audioDataPayloadSize = static_cast<std::uint16_t>((a[0] << 8) | a[1]);
            m_sesfAudio.channelAssignment = static_cast<std::uint8_t>(a[2] >> 4);
            m_sesfAudio.samplingFrequency = static_cast<std::uint8_t>(a[2] & 0x0Fu);
            m_sesfAudio.bitsPerSample = static_cast<std::uint8_t>(a[3] >> 6);
            m_sesfAudio.startFlag = static_cast<std::uint8_t>((a[3] >> 5) & 1u);
            m_hasSesfAudio = true;
            m_payload.offset += SESF_AUDIO_HEADER_BYTES;
            m_payload.length -= SESF_AUDIO_HEADER_BYTES;
        }
        if (m_payload.length == 0) {
            DropOldestUnit(false);
            continue;
        }

        m_unitLength = static_cast<std::uint32_t>(unitLength);
        // The unit's packets: those whose payload begins before its end.
        const std::uint64_t unitEnd = m_marks.front().offset + unitLength;
        std::uint32_t packets = 0;
        while (packets < m_payloadOffsets.size() && m_payloadOffsets[packets] < unitEnd)
            ++packets;
        m_unitPackets = packets;
        m_completeUnits = 1;
        return RESULT_OK;
    }
    return ResultNeedMoreData;
}

void CPESPacketTs::ReleaseUnit() noexcept
{
    if (m_completeUnits == 0)
        return;
    const std::uint64_t unitEnd = m_marks.front().offset + m_unitLength;
    ClearWaitingUnit();
    m_marks.erase(m_marks.begin());
    // A video unit's end is the next unit's start, whose first packet stays
    // as the first of that unit; a bounded unit's trailing bytes go with it.
    Consume(m_marks.empty() ? EndOffset() : std::max(unitEnd, m_marks.front().offset));
    CompleteUnits();
}

void CPESPacketTs::Interrupt() noexcept
{
    DropIncompleteUnits(false);
    m_lastContinuity = CONTINUITY_UNSET;
    m_gapSeen = false;
}

bool CPESPacketTs::OpenUnit(SOpenUnit& unit) const noexcept
{
    unit = SOpenUnit{};
    if (m_completeUnits != 0 || m_marks.size() > 1)
        return false;
    unit.held = EndOffset() - CursorPosition();
    if (m_marks.empty())
        return unit.held == 0;
    const SStartMark& mark = m_marks.front();
    if (mark.offset != CursorPosition() || mark.packet >= m_positions.size())
        return false;
    unit.started = true;
    unit.position = m_positions[mark.packet];
    unit.bytes = AtOffset(mark.offset);
    return true;
}

bool CPESPacketTs::UnfinishedUnitHeader(SPesHeader& header) const noexcept
{
    if (m_marks.empty())
        return false;
    const SStartMark& newest = m_marks.back();
    // The waiting unit has completed; a start behind it has not.
    if (m_completeUnits != 0 && m_marks.size() == 1)
        return false;
    if (newest.offset < CursorPosition() || newest.offset >= EndOffset())
        return false;
    const std::uint64_t held = EndOffset() - newest.offset;
    if (held < PES_MPEG2_HEADER_BYTES)
        return false;
    const std::uint32_t length =
        held > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                          : static_cast<std::uint32_t>(held);
    SPesHeader parsed;
    SPesPayload payload;
    if (ParsePesHeader(AtOffset(newest.offset), length, EPesSyntax::Mpeg2, parsed, payload) != RESULT_OK)
        return false;
    header = parsed;
    return true;
}

}  // namespace parser
