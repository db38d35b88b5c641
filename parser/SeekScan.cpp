#include "SeekScan.h"

#include "PESPacketTs.h"
#include "PmapSection.h"
#include "Section.h"
#include "StreamReader.h"
#include "TSHeader.h"
#include "TimeSeek.h"
#include "TransportStream.h"

#include <algorithm>
#include <cstring>

namespace parser {
namespace {

constexpr std::uint32_t HEADER_BYTES = 4;
constexpr std::uint32_t PAYLOAD_BYTES = TS_PACKET_SIZE - HEADER_BYTES;

}  // namespace

bool CSeekScan::Begin(const CStreamReader& reader) noexcept
{
    const CTransportStream* demux = reader.TransportStream();
    if (demux == nullptr || (reader.Kind() != STREAM_KIND_TS188 && reader.Kind() != STREAM_KIND_TS192))
        return false;
    if (demux->State() != DEMUX_RUNNING || demux->Stopped() || demux->CompleteUnitCount() != 0 ||
        demux->PrivateUnitPending())
        return false;
    const CTSHeader& packets = demux->PacketReader();
    if (packets.ResyncPending() || packets.Stride() > MAX_STRIDE)
        return false;
    const CPASection* pat = demux->ActivePat();
    if (pat == nullptr)
        return false;

    // The one stream whose units are compared: it must be the stream its
    // PID's packets go to.
    const CPESPacketTs* assembler = nullptr;
    std::uint16_t videoPid = 0;
    const std::uint32_t programs = std::min(demux->ProgramCount(), TIME_SEEK_PROGRAMS);
    for (std::uint32_t p = 0; p < programs; ++p) {
        const CStreamSet* set = demux->Streams(p);
        if (set == nullptr)
            continue;
        for (std::uint32_t s = 0; s < set->StreamCount(); ++s) {
            const SKeptStream& kept = set->Stream(s);
            std::uint32_t routedProgram = 0;
            std::uint32_t routedStream = 0;
            if (!kept.assembler || !TimeSeekVideoType(kept.streamType) ||
                !demux->FindElementaryStream(kept.elementaryPid, routedProgram, routedStream) ||
                routedProgram != p || routedStream != s)
                continue;
            if (assembler != nullptr)
                return false;
            assembler = kept.assembler.get();
            videoPid = kept.elementaryPid;
            m_streamType = kept.streamType;
            m_programIndex = p;
        }
    }
    if (assembler == nullptr)
        return false;
    CPESPacketTs::SOpenUnit open;
    if (assembler->Limit() < PAYLOAD_BYTES || !assembler->OpenUnit(open) || open.held > assembler->Limit())
        return false;

    m_use.fill(USE_NONE);
    m_videoPid = videoPid;
    m_use[PID_DIT] = USE_STOP;
    // A map PID that only network entries list never changes anything; one
    // that a single program lists keeps its streams while its section is
    // repeated; any other is not followed.
    for (std::uint32_t i = 0; i < pat->EntryCount(); ++i) {
        const std::uint16_t pid = pat->Pid(i);
        if (!demux->IsMapPid(pid) || m_use[pid] != USE_NONE)
            continue;
        std::uint32_t listing = 0;
        std::uint32_t owner = 0;
        for (std::uint32_t j = 0; j < pat->EntryCount(); ++j) {
            if (pat->Pid(j) == pid && pat->ProgramNumber(j) != 0) {
                ++listing;
                owner = j;
            }
        }
        if (listing == 0)
            continue;
        const CPmapSection* pmt = listing == 1 ? demux->ActivePmt(owner) : nullptr;
        if (pmt == nullptr) {
            m_use[pid] = USE_STOP;
            continue;
        }
        m_use[pid] = USE_MAP;
        m_mapVersion[pid] = static_cast<std::uint8_t>(pmt->Version());
    }

    m_kind = reader.Kind();
    m_prefix = packets.Prefix();
    m_stride = packets.Stride();
    m_limit = assembler->Limit();
    m_lastContinuity = assembler->LastContinuity();
    m_unitStarted = open.started;
    m_unitPosition = open.position;
    m_held = open.held;
    m_headLength = static_cast<std::uint32_t>(std::min<std::uint64_t>(open.held, HEAD_BYTES));
    if (m_headLength != 0)
        std::memcpy(m_head.data(), open.bytes, m_headLength);
    m_carried = 0;
    m_next = packets.Cursor();
    m_end = m_next + packets.Remaining();
    m_position = static_cast<std::int64_t>(packets.CursorPosition());
    return true;
}

void CSeekScan::Append(const std::uint8_t* bytes, std::size_t length) noexcept
{
    m_next = bytes;
    m_end = bytes + length;
}

EScan CSeekScan::Next(SUnitInfo& unit) noexcept
{
    // A packet cut by the end of the bytes before: completed from these.
    if (m_carried != 0) {
        const std::size_t take = std::min<std::size_t>(m_stride - m_carried, static_cast<std::size_t>(m_end - m_next));
        std::memcpy(m_carry.data() + m_carried, m_next, take);
        m_carried += static_cast<std::uint32_t>(take);
        m_next += take;
        if (m_carried < m_stride)
            return EScan::NeedMoreData;
        m_carried = 0;
        const std::int64_t position = m_position;
        m_position += m_stride;
        const EScan scanned = Packet(m_carry.data(), position, unit);
        if (scanned != EScan::NeedMoreData)
            return scanned;
    }
    // Most packets continue the unit under way (whole payload, counter one
    // on, far from the capacity, the unit's first bytes copied) or belong to
    // a stream the search does not follow; they are taken here, with the
    // state in locals, and every other packet one by one.
    const std::uint8_t* next = m_next;
    std::int64_t position = m_position;
    std::uint8_t last = m_lastContinuity;
    std::uint64_t held = m_held;
    const std::uint64_t plainHeld = m_limit - PAYLOAD_BYTES;
    bool plainUnit = m_unitStarted && m_headLength == HEAD_BYTES;
    while (static_cast<std::size_t>(m_end - next) >= m_stride) {
        const std::uint8_t* const header = next + m_prefix;
        const std::uint32_t pid = ((header[1] & 0x1Fu) << 8) | header[2];
        if (header[0] == TS_SYNC_BYTE) {
            if (pid == m_videoPid) {
                const std::uint8_t counter = header[3] & 0x0Fu;
                if ((header[1] & 0xC0u) == 0 && (header[3] & 0x30u) == 0x10u && plainUnit && counter != last &&
                    held <= plainHeld) {
                    last = counter;
                    held += PAYLOAD_BYTES;
                    next += m_stride;
                    position += m_stride;
                    continue;
                }
            } else if (m_use[pid] == USE_NONE) {
                next += m_stride;
                position += m_stride;
                continue;
            }
        }
        m_lastContinuity = last;
        m_held = held;
        const EScan scanned = Packet(next, position, unit);
        next += m_stride;
        position += m_stride;
        last = m_lastContinuity;
        held = m_held;
        plainUnit = m_unitStarted && m_headLength == HEAD_BYTES;
        if (scanned != EScan::NeedMoreData) {
            m_next = next;
            m_position = position;
            return scanned;
        }
    }
    m_lastContinuity = last;
    m_held = held;
    m_next = next;
    m_position = position;
    m_carried = static_cast<std::uint32_t>(m_end - m_next);
    if (m_carried != 0)
        std::memcpy(m_carry.data(), m_next, m_carried);
    m_next = m_end;
    return EScan::NeedMoreData;
}

EScan CSeekScan::Packet(const std::uint8_t* p, std::int64_t position, SUnitInfo& unit) noexcept
{
    const std::uint8_t* const header = p + m_prefix;
    if (header[0] != TS_SYNC_BYTE)
        return EScan::Abandoned;
    // A packet marked as damaged is passed over whatever its PID.
    if ((header[1] & 0x80u) != 0)
        return EScan::NeedMoreData;
    const std::uint16_t pid = static_cast<std::uint16_t>(((header[1] & 0x1Fu) << 8) | header[2]);
    if (pid == m_videoPid)
        return VideoPacket(header, position, unit);
    switch (m_use[pid]) {
    case USE_NONE:
        return EScan::NeedMoreData;
    case USE_MAP:
        return PlainMapRepeat(header) ? EScan::NeedMoreData : EScan::Abandoned;
    default:
        return EScan::Abandoned;
    }
}

EScan CSeekScan::VideoPacket(const std::uint8_t* header, std::int64_t position, SUnitInfo& unit) noexcept
{
    const std::uint32_t control = (header[3] >> 4) & 0x03u;
    // Without payload (a packet without either part is passed over, one with
    // only an adaptation field carries nothing), the continuity counter
    // stands still.
    if ((control & 0x01u) == 0)
        return EScan::NeedMoreData;
    const std::uint8_t* payload = header + HEADER_BYTES;
    std::uint32_t length = PAYLOAD_BYTES;
    if (control == 0x03u) {
        SAdaptationField field;
        const std::int32_t fieldLength = ParseAdaptationField(payload, length, field);
        // A damaged field: the packet is passed over.
        if (fieldLength < 0)
            return EScan::NeedMoreData;
        payload += 1 + fieldLength;
        length -= 1 + static_cast<std::uint32_t>(fieldLength);
    }
    const std::uint8_t counter = header[3] & 0x0Fu;
    // A repeated packet is left out.
    if (counter == m_lastContinuity)
        return EScan::NeedMoreData;
    m_lastContinuity = counter;

    const bool start = (header[1] & 0x40u) != 0 && length != 0;
    if (!start && (!m_unitStarted || length == 0))
        return EScan::NeedMoreData;
    // The assembler would drop what it holds.
    if (m_held + length > m_limit)
        return EScan::Abandoned;
    EScan result = EScan::NeedMoreData;
    if (start) {
        if (m_unitStarted && CompleteUnit(unit))
            result = EScan::Unit;
        m_unitStarted = true;
        m_unitPosition = position;
        m_held = 0;
        m_headLength = 0;
    }
    if (m_headLength < HEAD_BYTES) {
        const std::uint32_t copy = std::min(length, HEAD_BYTES - m_headLength);
        std::memcpy(m_head.data() + m_headLength, payload, copy);
        m_headLength += copy;
    }
    m_held += length;
    return result;
}

bool CSeekScan::CompleteUnit(SUnitInfo& unit) const noexcept
{
    // A video unit runs up to the next start; one without a start code,
    // with a damaged header, of a stream id that carries no data or without
    // payload is dropped by the assembler and never handed out. The copy
    // holds the whole header: it is at most HEAD_BYTES long.
    SPesHeader header;
    SPesPayload payload;
    if (ParsePesHeader(m_head.data(), static_cast<std::uint32_t>(m_held), EPesSyntax::Mpeg2, header, payload) !=
            RESULT_OK ||
        !IsDataStreamId(header.streamId) || payload.length == 0)
        return false;
    unit.kind = m_kind;
    unit.streamType = m_streamType;
    unit.programIndex = m_programIndex;
    unit.header = header;
    unit.payloadLength = payload.length;
    unit.position = m_unitPosition;
    return true;
}

bool CSeekScan::PlainMapRepeat(const std::uint8_t* header) const noexcept
{
    // One whole map section from the packet's first payload byte, of the
    // version in force (or not yet in force), and nothing but stuffing
    // behind it: the demultiplexer takes it and changes nothing.
    const std::uint32_t control = (header[3] >> 4) & 0x03u;
    if ((header[1] & 0x40u) == 0 || control != 0x01u)
        return false;
    const std::uint8_t* const pointer = header + HEADER_BYTES;
    const std::uint8_t* const section = pointer + 1;
    const std::uint8_t* const end = header + TS_PACKET_SIZE;
    if (pointer[0] != 0 || section[0] != TABLE_ID_PMT)
        return false;
    const std::uint32_t sectionLength = ((section[1] & 0x0Fu) << 8) | section[2];
    const std::uint8_t* const sectionEnd = section + 3 + sectionLength;
    if (sectionLength < 5 || sectionEnd > end)
        return false;
    const std::uint8_t version = static_cast<std::uint8_t>((section[5] >> 1) & 0x1Fu);
    const bool current = (section[5] & 0x01u) != 0;
    const std::uint16_t pid = static_cast<std::uint16_t>(((header[1] & 0x1Fu) << 8) | header[2]);
    if (current && version != m_mapVersion[pid])
        return false;
    return std::all_of(sectionEnd, end, [](std::uint8_t b) { return b == SECTION_STUFFING; });
}

}  // namespace parser
