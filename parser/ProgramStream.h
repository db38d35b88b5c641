// CProgramStream: the reader of MPEG program streams (MPEG-1 and MPEG-2
// pack forms). It scans the bytes fed to it for start codes, follows pack
// and system headers, and makes every selected PES packet one unit of
// PES_packet_length + 6 bytes, positioned at its start code. One unit at a
// time is reported; it stays in the buffer, and is described by TakeUnit,
// until ReleaseUnit moves past it.
//
// Start codes:
// - 0x1B9 (program end) is passed over, as is any code below it (the code
//   byte may begin the next start code, so the scan resumes on it).
// - 0x1BA, a pack header: '01' after the start code is the MPEG-2 form
//   (14 bytes and its stuffing), '0010' the MPEG-1 form (12 bytes); any
//   other bits are no pack header and the code is passed over. The first
//   pack fixes the form. A later pack of the other form is anomaly 0x330212
//   at its position and is skipped; the form is then open again, and the
//   next pack fixes it anew. What is kept of a pack is the record of the
//   last pack taken (form, position, SCR, mux rate, stuffing length).
// - 0x1BB, a system header: its fields and stream entries are kept as the
//   record of the last one, for the caller to read. The reader itself does
//   not use it: selection goes by stream_id alone and stream indexes by the
//   order in which packets arrive, so a system header that lists streams
//   loosely (wildcard ids, streams that never come) or comes late changes
//   nothing. One too short for its fixed fields is passed over.
// - 0x1BC to 0x1FF, a PES packet. Padding (0xBE) is skipped. Every other
//   stream_id counts as met (streamIndex, streamCount), selected or not, so
//   a stream has the same index whatever the selection mode. Packets that
//   are not selected are skipped by their length without a look at their
//   header. A selected packet's header is read in the MPEG-2 syntax when
//   the form is MPEG-2, in the MPEG-1 syntax when it is MPEG-1, and while
//   the form is open (before the first pack, after a form change) by its
//   own bits: '10' ahead of the flags is the MPEG-2 syntax. A malformed
//   packet is anomaly 0x330211 at its start code; the scan goes on after
//   its PES_packet_length. A well-formed one is reported, even when its
//   payload is empty.
//
// Waiting for data: the length of each header and packet follows from its
// first bytes (a pack at most 21 bytes, a system header or PES packet at
// most 65,541), and the buffer grows to hold one, so the reader always
// waits until the whole of it is buffered; more data can always complete
// it. While it waits it keeps that one header or packet from its start
// code. Bytes without a start code are dropped as they are scanned, but for
// an unfinished start code (00, 00 00, 00 00 01) at the very end. A packet
// still incomplete when the data ends is never reported.
//
// Memory: Append compacts the bytes already scanned (never a reported unit)
// before it grows, and grows only to what it must hold, so a caller that
// works through each Feed (NextUnit until 0, releasing every unit) holds at
// most one unfinished packet (65,540 bytes) between Feeds, and a 64 KiB
// Feed always fits with it. While a reported unit is not released nothing
// behind it is scanned, so the bytes held can only grow: Append then
// refuses (ResultAppendFailed, nothing taken) a Feed that would make them
// exceed the capacity of Prepare plus one largest packet. A caller that
// feeds 64 KiB at a time can feed once more before it releases, not on and
// on. A Feed may move the buffer, and with it the pointers of a taken unit.
//
// Sub-streams of private_stream_1 (0xBD), by the first payload byte, the
// sub-stream id, followed by the number of frame headers and the 16-bit
// first access unit pointer; the first access unit lies at the offset of
// the pointer's last byte plus the pointer (1: right after the 4 bytes),
// 0 says that none starts in the packet:
// - AC-3, 0x80 to 0x87: a payload shorter than 4 bytes or a pointer past
//   the payload is malformed. The id is confirmed by the first packet whose
//   first access unit begins with 0x0B 0x77. Once it is, the 4 bytes are
//   removed from the payload of each of its packets.
// - LPCM, 0xA0 to 0xA7: the header goes on with emphasis, mute, frame
//   number, quantization, sampling frequency, channels and dynamic range,
//   7 bytes in all. A payload shorter than 7 bytes, a pointer of 1 to 3
//   (inside those 7 bytes) or past the payload is malformed. The id is
//   confirmed by its first packet in which an access unit starts (pointer
//   not 0). Once it is, the header and the bytes up to the first access
//   unit are removed, or the 7 bytes alone when the pointer is 0.
// A pointer of 0 (the packet continues a long audio frame) is no fault and
// confirms nothing. Until its id is confirmed a packet keeps its payload
// whole and no sub-stream id. Confirmation is kept per id.
// The reader's codes (SUBSTREAM_CODE_...): in private_stream_1 0xB2 for
// sub-picture ids 0x20 to 0x3F and 0xB4 for DTS ids 0x88 to 0x8F (payload
// unchanged); in private_stream_2 (0xBF) 0xB0 for a first payload byte of
// 0x00, 0xB1 for 0x01 and 0xB3 for any other, none for an empty payload.
#pragma once

#include "Buffer.h"
#include "PesHeader.h"
#include "Results.h"
#include "UnitInfo.h"

#include <array>
#include <cstdint>
#include <vector>

namespace parser {

// The least buffer a program-stream reader works with.
inline constexpr std::uint32_t PROGRAM_STREAM_MIN_BUFFER = 0x20000;
// The largest PES packet or system header: 6 bytes and a 16-bit length.
inline constexpr std::uint32_t PROGRAM_STREAM_MAX_PACKET = PES_FIXED_BYTES + 0xFFFF;

enum : std::uint8_t {
    PACK_FORM_UNKNOWN = 0,
    PACK_FORM_MPEG1 = 1,
    PACK_FORM_MPEG2 = 2,
};

// What is kept of the last pack header taken.
struct SPackHeader {
    std::uint8_t form = PACK_FORM_UNKNOWN;
    std::int64_t position = -1;
    std::uint64_t scrBase = 0;
    // MPEG-2 form only.
    std::uint16_t scrExtension = 0;
    std::uint32_t programMuxRate = 0;
    // MPEG-2 form only.
    std::uint8_t stuffingLength = 0;
};

struct SSystemHeaderStream {
    std::uint8_t streamId = 0;
    std::uint8_t bufferBoundScale = 0;
    std::uint16_t bufferSizeBound = 0;
};

// The last system header.
struct SSystemHeader {
    bool seen = false;
    std::int64_t position = -1;
    std::uint32_t rateBound = 0;
    std::uint8_t audioBound = 0;
    std::uint8_t fixedFlag = 0;
    std::uint8_t cspsFlag = 0;
    std::uint8_t systemAudioLockFlag = 0;
    std::uint8_t systemVideoLockFlag = 0;
    std::uint8_t videoBound = 0;
    std::uint8_t packetRateRestrictionFlag = 0;
    std::vector<SSystemHeaderStream> streams;
};

// The sub-stream header of the last AC-3 or LPCM packet of private_stream_1
// read; the LPCM fields are 0 for AC-3.
struct SSubStreamHeader {
    std::uint8_t subStreamId = 0;
    std::uint8_t frameHeaderCount = 0;
    std::uint16_t firstAccessUnitPointer = 0;
    std::uint8_t emphasis = 0;
    std::uint8_t mute = 0;
    std::uint8_t frameNumber = 0;
    std::uint8_t quantization = 0;
    std::uint8_t samplingFrequency = 0;
    std::uint8_t channels = 0;
    std::uint8_t dynamicRange = 0;
};

class CProgramStream : public CBuffer2
{
public:
    CProgramStream() = default;
    ~CProgramStream() override = default;

    // Buffer of max(bufferSize, PROGRAM_STREAM_MIN_BUFFER) bytes;
    // selectionMode 1 video, 2 MPEG audio, 3 both, anything else every
    // stream. ResultSetupFailed for bufferSize 0, ResultNoMemory when the
    // buffer cannot be had. Starts afresh.
    Result Prepare(std::uint32_t bufferSize, std::uint32_t selectionMode) noexcept;
    // Appends behind the bytes still held, compacting first when they would
    // not fit (a reported unit that is not released yet is kept).
    // ResultAppendFailed when the bytes could not be taken (see above).
    Result Append(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    // 1 when a unit is reported (the same one until it is released), 0 when
    // more data is needed, -1 on failure (no memory).
    std::int32_t NextUnit() noexcept;
    // Describes the reported unit (kind, header, payload, position, span,
    // stream, sub-stream; classification is left to the caller). False, and
    // nothing written, when no unit is reported.
    bool TakeUnit(SUnitInfo& info) const noexcept;
    // Moves past the reported unit; nothing when none is.
    void ReleaseUnit() noexcept;

    bool UnitReported() const noexcept { return m_unitReported; }
    // Where the reported unit starts; -1 when none is reported.
    std::int64_t ReportedPosition() const noexcept
    {
        return m_unitReported ? static_cast<std::int64_t>(CursorPosition()) : -1;
    }
    // The form fixed by the packs so far; PACK_FORM_UNKNOWN while it is open.
    std::uint8_t PackForm() const noexcept { return m_form; }
    const SPackHeader& PackHeader() const noexcept { return m_pack; }
    const SSystemHeader& SystemHeader() const noexcept { return m_systemHeader; }
    const SSubStreamHeader& SubStreamHeader() const noexcept { return m_subStream; }
    const SAnomalyRecord& Anomalies() const noexcept { return m_anomalies; }
    void ClearAnomalies() noexcept { m_anomalies.Clear(); }

private:
    enum EStep {
        STEP_ON,         // the scan goes on
        STEP_NEED_DATA,  // the header or packet at the cursor is not all here
        STEP_UNIT,       // a unit is reported at the cursor
        STEP_FAILED,
    };

    static constexpr std::uint16_t STREAM_NOT_MET = 0xFFFF;

    // The length of the system header or PES packet at the cursor (6 bytes
    // and its 16-bit length), or 0 while it is not all buffered.
    std::uint32_t BufferedLength() const noexcept;
    EStep ReadPack() noexcept;
    EStep ReadSystemHeader() noexcept;
    EStep ReadPes(std::uint8_t streamId) noexcept;
    bool Selected(std::uint8_t streamId) const noexcept;
    EPesSyntax Syntax(const std::uint8_t* unit, std::uint32_t length) const noexcept;
    // The sub-stream of a private unit: its code, and the payload without
    // the sub-stream header once the id is confirmed. False when the unit
    // is malformed.
    bool ReadSubStream(std::uint8_t streamId, SPesPayload& payload, std::uint8_t& subStreamId) noexcept;

    std::uint32_t m_selectionMode = 0;
    // Most bytes held while a reported unit is not released.
    std::uint64_t m_heldLimit = 0;
    std::uint8_t m_form = PACK_FORM_UNKNOWN;
    SPackHeader m_pack;
    SSystemHeader m_systemHeader;
    SSubStreamHeader m_subStream;
    SAnomalyRecord m_anomalies;

    // streamIndex of each stream_id met, in the order first met.
    std::array<std::uint16_t, 256> m_streamIndex{};
    std::uint32_t m_streamCount = 0;
    // AC-3 (0x80 to 0x87) and LPCM (0xA0 to 0xA7) ids confirmed.
    std::array<bool, 8> m_ac3Confirmed{};
    std::array<bool, 8> m_lpcmConfirmed{};

    // The reported unit, which starts at the cursor.
    bool m_unitReported = false;
    std::uint32_t m_unitLength = 0;
    SPesHeader m_unitHeader;
    SPesPayload m_unitPayload;
    std::uint8_t m_unitSubStreamId = 0;
    std::uint16_t m_unitStreamIndex = 0;
};

}  // namespace parser
