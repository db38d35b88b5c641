#include "ProgramStream.h"

#include "MediaCoreDecSysRegDesc.h"
#include "StreamReader.h"

#include <algorithm>
#include <new>

namespace parser {
namespace {

constexpr std::int32_t START_CODE_END = 0x1B9;
constexpr std::int32_t START_CODE_PACK = 0x1BA;
constexpr std::int32_t START_CODE_SYSTEM_HEADER = 0x1BB;
constexpr std::int32_t START_CODE_FIRST_PES = 0x1BC;
constexpr std::size_t START_CODE_BYTES = 4;
// Past a start code that starts nothing: the code byte may be the first 00
// of the next one.
constexpr std::size_t START_CODE_STEP = 3;

// Pack headers: the MPEG-2 form up to pack_stuffing_length, the MPEG-1 form.
constexpr std::size_t PACK_MPEG2_BYTES = 14;
constexpr std::size_t PACK_MPEG1_BYTES = 12;
constexpr std::uint8_t PACK_STUFFING_MASK = 0x07;
// System header: start code, header_length, and the fixed fields ahead of
// the stream entries.
constexpr std::size_t SYSTEM_HEADER_FIXED_BYTES = 12;
constexpr std::size_t SYSTEM_HEADER_ENTRY_BYTES = 3;

// The DVD-style sub-stream header of private_stream_1.
constexpr std::uint32_t SUBSTREAM_AC3_HEADER_BYTES = 4;
constexpr std::uint32_t SUBSTREAM_LPCM_HEADER_BYTES = 7;
// Offset of the last byte of the first access unit pointer.
constexpr std::uint32_t SUBSTREAM_POINTER_END = 3;
constexpr std::uint8_t AC3_SYNC_0 = 0x0B;
constexpr std::uint8_t AC3_SYNC_1 = 0x77;

std::uint32_t ReadLength16(const std::uint8_t* p) noexcept
{
    return (std::uint32_t{p[0]} << 8) | p[1];
}

// A 22-bit rate between a leading and a trailing marker bit (the MPEG-1
// pack's mux rate and the system header's rate bound).
std::uint32_t ReadMarkedRate(const std::uint8_t* p) noexcept
{
    return ((p[0] & 0x7Fu) << 15) | (std::uint32_t{p[1]} << 7) | (p[2] >> 1);
}

bool InRange(std::uint8_t id, std::uint8_t first, std::uint8_t last) noexcept
{
    return id >= first && id <= last;
}

}  // namespace

Result CProgramStream::Prepare(std::uint32_t bufferSize, std::uint32_t selectionMode) noexcept
{
    m_selectionMode = selectionMode;
    m_form = PACK_FORM_UNKNOWN;
    m_pack = SPackHeader{};
    m_systemHeader = SSystemHeader{};
    m_subStream = SSubStreamHeader{};
    m_anomalies.Clear();
    m_streamIndex.fill(STREAM_NOT_MET);
    m_streamCount = 0;
    m_ac3Confirmed.fill(false);
    m_lpcmConfirmed.fill(false);
    m_unitReported = false;
    ResetStatus();
    if (bufferSize == 0)
        return ResultSetupFailed;
    const std::uint32_t capacity = std::max(bufferSize, PROGRAM_STREAM_MIN_BUFFER);
    m_heldLimit = std::uint64_t{capacity} + PROGRAM_STREAM_MAX_PACKET;
    if (Allocate(capacity) == 0)
        return ResultNoMemory;
    return RESULT_OK;
}

Result CProgramStream::Append(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (length == 0)
        return RESULT_OK;
    if (bytes == nullptr || m_start == nullptr)
        return ResultAppendFailed;
    // The cursor is on the reported unit, or where the scan goes on: what
    // lies before it is done with.
    if (FreeSpace() < length)
        Compact();
    const std::uint64_t needed = std::uint64_t{Used()} + length;
    if (m_unitReported && needed > m_heldLimit)
        return ResultAppendFailed;
    if (FreeSpace() < length) {
        if (needed > UINT32_MAX)
            return ResultAppendFailed;
        if (Grow(static_cast<std::uint32_t>(needed)) == 0) {
            // The block is gone, and the unit with it.
            m_unitReported = false;
            return ResultAppendFailed;
        }
    }
    return CBuffer::Append(bytes, length) == length ? RESULT_OK : ResultAppendFailed;
}

std::int32_t CProgramStream::NextUnit() noexcept
{
    if (m_start == nullptr)
        return -1;
    if (m_unitReported)
        return 1;
    for (;;) {
        const std::int32_t code = FindStartCode();
        if (code < 0) {
            // Nothing here starts a header but an unfinished start code at
            // the end.
            m_cursor = m_end - UnfinishedStartCodeLength();
            return 0;
        }
        EStep step = STEP_ON;
        if (code == START_CODE_PACK)
            step = ReadPack();
        else if (code == START_CODE_SYSTEM_HEADER)
            step = ReadSystemHeader();
        else if (code >= START_CODE_FIRST_PES)
            step = ReadPes(static_cast<std::uint8_t>(code));
        else
            Advance(code == START_CODE_END ? START_CODE_BYTES : START_CODE_STEP);
        switch (step) {
        case STEP_NEED_DATA:
            return 0;
        case STEP_UNIT:
            return 1;
        case STEP_FAILED:
            return -1;
        case STEP_ON:
            break;
        }
    }
}

CProgramStream::EStep CProgramStream::ReadPack() noexcept
{
    const std::uint8_t* const p = m_cursor;
    const std::size_t left = Remaining();
    if (left <= START_CODE_BYTES)
        return STEP_NEED_DATA;
    std::uint8_t form = PACK_FORM_UNKNOWN;
    std::size_t length = 0;
    if ((p[4] >> 6) == 0x1u) {
        if (left < PACK_MPEG2_BYTES)
            return STEP_NEED_DATA;
        form = PACK_FORM_MPEG2;
        length = PACK_MPEG2_BYTES + (p[PACK_MPEG2_BYTES - 1] & PACK_STUFFING_MASK);
    } else if ((p[4] >> 4) == 0x2u) {
        form = PACK_FORM_MPEG1;
        length = PACK_MPEG1_BYTES;
    } else {
        Advance(START_CODE_STEP);
        return STEP_ON;
    }
    if (left < length)
        return STEP_NEED_DATA;
    const std::int64_t position = static_cast<std::int64_t>(CursorPosition());
    if (m_form != PACK_FORM_UNKNOWN && form != m_form) {
        m_anomalies.Report(AnomalyPackFormChanged, ANOMALY_SEVERITY, position);
        m_form = PACK_FORM_UNKNOWN;
        Advance(length);
        return STEP_ON;
    }
    m_form = form;
    SPackHeader pack;
    pack.form = form;
    pack.position = position;
    if (form == PACK_FORM_MPEG2) {
        ReadSystemClock(p + START_CODE_BYTES, pack.scrBase, pack.scrExtension);
        pack.programMuxRate = (std::uint32_t{p[10]} << 14) | (std::uint32_t{p[11]} << 6) | (p[12] >> 2);
        pack.stuffingLength = static_cast<std::uint8_t>(p[13] & PACK_STUFFING_MASK);
    } else {
        pack.scrBase = ReadPesTimestamp(p + START_CODE_BYTES);
        pack.programMuxRate = ReadMarkedRate(p + 9);
    }
    m_pack = pack;
    Advance(length);
    return STEP_ON;
}

std::uint32_t CProgramStream::BufferedLength() const noexcept
{
    const std::size_t left = Remaining();
    if (left < PES_FIXED_BYTES)
        return 0;
    const std::uint32_t length = PES_FIXED_BYTES + ReadLength16(m_cursor + 4);
    return left < length ? 0 : length;
}

CProgramStream::EStep CProgramStream::ReadSystemHeader() noexcept
{
    const std::uint8_t* const p = m_cursor;
    const std::size_t length = BufferedLength();
    if (length == 0)
        return STEP_NEED_DATA;
    if (length >= SYSTEM_HEADER_FIXED_BYTES) {
        std::size_t entries = 0;
        for (std::size_t at = SYSTEM_HEADER_FIXED_BYTES; at + SYSTEM_HEADER_ENTRY_BYTES <= length && (p[at] & 0x80u);
             at += SYSTEM_HEADER_ENTRY_BYTES)
            ++entries;
        try {
            m_systemHeader.streams.resize(entries);
        } catch (const std::bad_alloc&) {
            return STEP_FAILED;
        }
        SSystemHeader& s = m_systemHeader;
        s.seen = true;
        s.position = static_cast<std::int64_t>(CursorPosition());
        s.rateBound = ReadMarkedRate(p + 6);
        s.audioBound = static_cast<std::uint8_t>(p[9] >> 2);
        s.fixedFlag = static_cast<std::uint8_t>((p[9] >> 1) & 1u);
        s.cspsFlag = static_cast<std::uint8_t>(p[9] & 1u);
        s.systemAudioLockFlag = static_cast<std::uint8_t>(p[10] >> 7);
        s.systemVideoLockFlag = static_cast<std::uint8_t>((p[10] >> 6) & 1u);
        s.videoBound = static_cast<std::uint8_t>(p[10] & 0x1Fu);
        s.packetRateRestrictionFlag = static_cast<std::uint8_t>(p[11] >> 7);
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint8_t* const e = p + SYSTEM_HEADER_FIXED_BYTES + i * SYSTEM_HEADER_ENTRY_BYTES;
            s.streams[i].streamId = e[0];
            s.streams[i].bufferBoundScale = static_cast<std::uint8_t>((e[1] >> 5) & 1u);
            s.streams[i].bufferSizeBound = static_cast<std::uint16_t>(((e[1] & 0x1Fu) << 8) | e[2]);
        }
    }
    Advance(length);
    return STEP_ON;
}

bool CProgramStream::Selected(std::uint8_t streamId) const noexcept
{
    const bool video = InRange(streamId, STREAM_ID_VIDEO_FIRST, STREAM_ID_VIDEO_LAST);
    const bool audio = InRange(streamId, STREAM_ID_AUDIO_FIRST, STREAM_ID_AUDIO_LAST);
    switch (m_selectionMode) {
    case 1:
        return video;
    case 2:
        return audio;
    case 3:
        return video || audio;
    default:
        return true;
    }
}

EPesSyntax CProgramStream::Syntax(const std::uint8_t* unit, std::uint32_t length) const noexcept
{
    if (m_form == PACK_FORM_MPEG2)
        return EPesSyntax::Mpeg2;
    if (m_form == PACK_FORM_MPEG1)
        return EPesSyntax::Mpeg1;
    return length > PES_FIXED_BYTES && (unit[PES_FIXED_BYTES] >> 6) == 0x2u ? EPesSyntax::Mpeg2 : EPesSyntax::Mpeg1;
}

CProgramStream::EStep CProgramStream::ReadPes(std::uint8_t streamId) noexcept
{
    const std::uint8_t* const unit = m_cursor;
    const std::uint32_t length = BufferedLength();
    if (length == 0)
        return STEP_NEED_DATA;
    if (streamId == STREAM_ID_PADDING) {
        Advance(length);
        return STEP_ON;
    }
    if (m_streamIndex[streamId] == STREAM_NOT_MET)
        m_streamIndex[streamId] = static_cast<std::uint16_t>(m_streamCount++);
    if (!Selected(streamId)) {
        Advance(length);
        return STEP_ON;
    }
    SPesHeader header;
    SPesPayload payload;
    std::uint8_t subStreamId = 0;
    if (ParsePesHeader(unit, length, Syntax(unit, length), header, payload) != RESULT_OK ||
        !ReadSubStream(streamId, payload, subStreamId)) {
        m_anomalies.Report(AnomalyProgramStreamPes, ANOMALY_SEVERITY, static_cast<std::int64_t>(CursorPosition()));
        Advance(length);
        return STEP_ON;
    }
    // A unit without elementary bytes carries nothing to hand out: it is
    // passed over, as the transport stream's assemblers pass theirs over.
    if (payload.length == 0) {
        Advance(length);
        return STEP_ON;
    }
    m_unitReported = true;
    m_unitLength = length;
    m_unitHeader = header;
    m_unitPayload = payload;
    m_unitSubStreamId = subStreamId;
    m_unitStreamIndex = m_streamIndex[streamId];
    return STEP_UNIT;
}

bool CProgramStream::ReadSubStream(std::uint8_t streamId, SPesPayload& payload, std::uint8_t& subStreamId) noexcept
{
    subStreamId = 0;
    const std::uint8_t* const data = m_cursor + payload.offset;
    const std::uint32_t length = payload.length;
    if (length == 0)
        return true;
    if (streamId == STREAM_ID_PRIVATE_STREAM_2) {
        subStreamId = data[0] == 0x00   ? SUBSTREAM_CODE_PCI
                      : data[0] == 0x01 ? SUBSTREAM_CODE_DSI
                                        : SUBSTREAM_CODE_PRIVATE_2_OTHER;
        return true;
    }
    if (streamId != STREAM_ID_PRIVATE_STREAM_1)
        return true;
    const std::uint8_t id = data[0];
    if (InRange(id, 0x20, 0x3F)) {
        subStreamId = SUBSTREAM_CODE_SUBPICTURE;
        return true;
    }
    if (InRange(id, 0x88, 0x8F)) {
        subStreamId = SUBSTREAM_CODE_DTS;
        return true;
    }
    const bool ac3 = InRange(id, 0x80, 0x87);
    if (!ac3 && !InRange(id, 0xA0, 0xA7))
        return true;
    const std::uint32_t headerBytes = ac3 ? SUBSTREAM_AC3_HEADER_BYTES : SUBSTREAM_LPCM_HEADER_BYTES;
    if (length < headerBytes)
        return false;
    const std::uint32_t pointer = ReadLength16(data + 2);
    const std::uint32_t accessUnit = SUBSTREAM_POINTER_END + pointer;
    if (pointer != 0 && (accessUnit >= length || (!ac3 && accessUnit < headerBytes)))
        return false;

    SSubStreamHeader sub;
    sub.subStreamId = id;
    sub.frameHeaderCount = data[1];
    sub.firstAccessUnitPointer = static_cast<std::uint16_t>(pointer);
    if (!ac3) {
        sub.emphasis = static_cast<std::uint8_t>(data[4] >> 7);
        sub.mute = static_cast<std::uint8_t>((data[4] >> 6) & 1u);
        sub.frameNumber = static_cast<std::uint8_t>(data[4] & 0x1Fu);
        sub.quantization = static_cast<std::uint8_t>(data[5] >> 6);
        sub.samplingFrequency = static_cast<std::uint8_t>((data[5] >> 4) & 0x03u);
        sub.channels = static_cast<std::uint8_t>(data[5] & 0x07u);
        sub.dynamicRange = data[6];
    }
    m_subStream = sub;

    bool& confirmed = (ac3 ? m_ac3Confirmed : m_lpcmConfirmed)[id & 0x07u];
    if (!confirmed && pointer != 0) {
        confirmed = !ac3 || (accessUnit + 1 < length && data[accessUnit] == AC3_SYNC_0 &&
                             data[accessUnit + 1] == AC3_SYNC_1);
    }
    if (!confirmed)
        return true;
    const std::uint32_t removed = !ac3 && pointer != 0 ? accessUnit : headerBytes;
    payload.offset += removed;
    payload.length -= removed;
    subStreamId = id;
    return true;
}

bool CProgramStream::TakeUnit(SUnitInfo& info) const noexcept
{
    if (!m_unitReported)
        return false;
    info.kind = STREAM_KIND_PROGRAM;
    info.system = SystemNone;
    info.programCount = 1;
    info.streamCount = m_streamCount;
    info.programNumber = 0;
    info.streamType = m_unitHeader.streamId;
    info.programIndex = 0;
    info.streamIndex = m_unitStreamIndex;
    info.header = m_unitHeader;
    info.payload = m_cursor + m_unitPayload.offset;
    info.payloadLength = m_unitPayload.length;
    info.position = static_cast<std::int64_t>(CursorPosition());
    info.spanLength = m_unitLength;
    info.packetCount = 0;
    info.packetPositions = nullptr;
    info.packetHeaderLengths = nullptr;
    info.audioOrdinal = ORDINAL_NONE;
    info.videoOrdinal = ORDINAL_NONE;
    info.ordinal81 = ORDINAL_NONE;
    info.ordinal80 = ORDINAL_NONE;
    info.samplingCode = 0;
    info.channelCode = 0;
    info.bitsPerSampleCode = 0;
    info.subStreamId = m_unitSubStreamId;
    info.pcr = SPcrRecord{};
    info.status = m_anomalies;
    return true;
}

void CProgramStream::ReleaseUnit() noexcept
{
    if (!m_unitReported)
        return;
    m_unitReported = false;
    Advance(m_unitLength);
}

}  // namespace parser
