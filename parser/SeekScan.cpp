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
// A section's bytes up to its version_number and current_next_indicator.
constexpr std::uint32_t SECTION_FIXED_BYTES = 6;

}  // namespace

bool CSeekScan::Begin(const CStreamReader& reader, std::uint16_t videoPid) noexcept
{
    const CTransportStream* demux = reader.TransportStream();
    if (demux == nullptr || (reader.Kind() != STREAM_KIND_TS188 && reader.Kind() != STREAM_KIND_TS192))
        return false;
    if (demux->State() != DEMUX_RUNNING || demux->CompleteUnitCount() != 0 || demux->PrivateUnitPending())
        return false;
    const CTSHeader& packets = demux->PacketReader();
    if (packets.ResyncPending() || packets.Stride() > MAX_STRIDE)
        return false;
    const CPASection* pat = demux->ActivePat();
    if (pat == nullptr)
        return false;

    // The compared stream: the one its PID's packets go to.
    std::uint32_t program = 0;
    std::uint32_t stream = 0;
    if (!demux->FindElementaryStream(videoPid, program, stream) || program >= TIME_SEEK_PROGRAMS)
        return false;
    const CStreamSet* set = demux->Streams(program);
    const CPmapSection* ownMap = demux->ActivePmt(program);
    if (set == nullptr || ownMap == nullptr || stream >= set->StreamCount())
        return false;
    const SKeptStream& kept = set->Stream(stream);
    if (!kept.assembler || !TimeSeekVideoType(kept.streamType))
        return false;
    const CPESPacketTs* assembler = kept.assembler.get();
    m_streamType = kept.streamType;
    m_programIndex = program;
    CPESPacketTs::SOpenUnit open;
    if (assembler->Limit() < PAYLOAD_BYTES || !assembler->OpenUnit(open) || open.held > assembler->Limit())
        return false;

    m_use.fill(USE_NONE);
    m_videoPid = videoPid;
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
        const CPmapSection* assembling = listing == 1 ? demux->AssemblingPmt(owner) : nullptr;
        if (pmt == nullptr || assembling == nullptr) {
            m_use[pid] = USE_STOP;
            continue;
        }
        m_use[pid] = USE_MAP;
        m_mapVersion[pid] = static_cast<std::uint8_t>(pmt->Version());
        // A section begun before the scan: its header is held there.
        const auto held = assembling->HeldBytes();
        if (!held.empty() && (held.size() < SECTION_FIXED_BYTES || !SectionKeepsMap(held.data(), pid)))
            return false;
    }
    // The clock reference of the compared program, when another PID
    // carries it: only its discontinuity indicator is looked at.
    m_pcrPid = static_cast<std::uint16_t>(ownMap->PcrPid());
    if (m_pcrPid < PID_COUNT && m_pcrPid != videoPid && m_use[m_pcrPid] == USE_NONE)
        m_use[m_pcrPid] = USE_PCR;
    m_use[PID_DIT] = USE_DISCONTINUITY;
    const SPcrRecord* pcr = demux->Pcr(program);
    m_discontinuityPosition = pcr != nullptr ? pcr->discontinuityPosition : -1;

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
        return MapKeepsStreams(header) ? EScan::NeedMoreData : EScan::Abandoned;
    case USE_PCR: {
        SAdaptationField field;
        if ((header[3] & 0x20u) != 0 && ParseAdaptationField(header + HEADER_BYTES, PAYLOAD_BYTES, field) >= 0)
            NoteClockReference(field, position);
        return EScan::NeedMoreData;
    }
    case USE_DISCONTINUITY:
        // As the demultiplexer: the unit under way is dropped and the
        // counter starts afresh.
        m_unitStarted = false;
        m_unitPosition = -1;
        m_held = 0;
        m_headLength = 0;
        m_lastContinuity = 0xFF;
        return EScan::NeedMoreData;
    default:
        return EScan::Abandoned;
    }
}

void CSeekScan::NoteClockReference(const SAdaptationField& field, std::int64_t position) noexcept
{
    if (field.discontinuityIndicator != 0)
        m_discontinuityPosition = position;
}

EScan CSeekScan::VideoPacket(const std::uint8_t* header, std::int64_t position, SUnitInfo& unit) noexcept
{
    const std::uint32_t control = (header[3] >> 4) & 0x03u;
    const std::uint8_t* payload = header + HEADER_BYTES;
    std::uint32_t length = PAYLOAD_BYTES;
    if ((control & 0x02u) != 0) {
        SAdaptationField field;
        const std::int32_t fieldLength = ParseAdaptationField(payload, length, field);
        // A damaged field: the packet is passed over.
        if (fieldLength < 0)
            return EScan::NeedMoreData;
        if (m_pcrPid == m_videoPid)
            NoteClockReference(field, position);
        payload += 1 + fieldLength;
        length -= 1 + static_cast<std::uint32_t>(fieldLength);
    }
    // Without payload (a packet without either part is passed over, one with
    // only an adaptation field carries nothing), the continuity counter
    // stands still.
    if ((control & 0x01u) == 0)
        return EScan::NeedMoreData;
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
    unit.elementaryPid = m_videoPid;
    unit.pcr.discontinuityPosition = m_discontinuityPosition;
    unit.programIndex = m_programIndex;
    unit.header = header;
    unit.payloadLength = payload.length;
    unit.position = m_unitPosition;
    return true;
}

bool CSeekScan::MapKeepsStreams(const std::uint8_t* header) const noexcept
{
    // The demultiplexer changes the streams only for a whole section of
    // another version; every section is looked at where it starts, so a
    // packet that starts none (or carries nothing, or a field that does not
    // parse, which the packet reader passes over) changes nothing.
    const std::uint32_t control = (header[3] >> 4) & 0x03u;
    if ((control & 0x01u) == 0 || (header[1] & 0x40u) == 0)
        return true;
    const std::uint8_t* payload = header + HEADER_BYTES;
    std::uint32_t length = PAYLOAD_BYTES;
    if (control == 0x03u) {
        SAdaptationField field;
        const std::int32_t fieldLength = ParseAdaptationField(payload, length, field);
        if (fieldLength < 0)
            return true;
        payload += 1 + fieldLength;
        length -= 1 + static_cast<std::uint32_t>(fieldLength);
    }
    if (length == 0 || std::uint32_t{payload[0]} + 1 > length)
        return false;
    const std::uint16_t pid = static_cast<std::uint16_t>(((header[1] & 0x1Fu) << 8) | header[2]);
    const std::uint8_t* const end = payload + length;
    // Sections follow one another behind the pointer field up to stuffing.
    for (const std::uint8_t* at = payload + 1 + payload[0]; at < end && *at != SECTION_STUFFING;) {
        if (end - at < static_cast<std::ptrdiff_t>(SECTION_FIXED_BYTES) || !SectionKeepsMap(at, pid))
            return false;
        // Another table stops the packet's sections there.
        if (at[0] != TABLE_ID_PMT)
            return true;
        at += SECTION_HEADER_BYTES + (((at[1] & 0x0Fu) << 8) | at[2]);
    }
    return true;
}

bool CSeekScan::SectionKeepsMap(const std::uint8_t* section, std::uint16_t pid) const noexcept
{
    // A section not yet in force, or of another table, is passed over.
    if (section[0] != TABLE_ID_PMT || (section[5] & 0x01u) == 0)
        return true;
    return static_cast<std::uint8_t>((section[5] >> 1) & 0x1Fu) == m_mapVersion[pid];
}

}  // namespace parser
