// CPESPacketTs: rebuilds the PES packets (units) of one elementary stream
// from the payloads of its transport packets and parses their headers in
// place. A unit begins at the payload of a packet with
// payload_unit_start_indicator set; payload before the first such packet
// belongs to no unit and is not kept.
//
// When a unit ends:
// - a video stream's unit ends where the next unit starts (its
//   PES_packet_length is commonly 0 and never trusted), so the last unit of
//   the data never completes;
// - any other unit ends after PES_packet_length + 6 bytes; one of length 0
//   ends where the next starts, as a video unit does. A bounded unit that the
//   next start cuts short is damaged and dropped.
//
// One complete unit waits at a time: it stays in the buffer, described by
// the accessors below, until ReleaseUnit; the next one is completed then.
// Every unit start is remembered (its offset in the collected bytes and its
// first packet), so units complete correctly however late they are
// released. Bytes beyond a unit's end that no unit start claims are dropped.
//
// Damage never stops the assembler: a unit that does not begin with a start
// code is dropped without an anomaly (ResultUnitWithoutStartCode); a unit
// whose header does not fit, whose stream_id is not one of a data stream,
// that was cut short, or that cannot complete within the capacity is dropped
// with anomaly 0x330210 at the position of its first packet. An empty unit
// is passed over. The anomalies are reported in the assembler's status
// record, for the demultiplexer to take over.
#pragma once

#include "Buffer.h"
#include "PesHeader.h"
#include "Results.h"
#include "TSHeader.h"

#include <cstdint>
#include <vector>

namespace parser {

// historyMode from which each unit hands out its packet lists.
inline constexpr std::uint32_t HISTORY_MODE_PACKET_LISTS = 2;
// Capacity of the assembler of a stream that is not video.
inline constexpr std::uint32_t PES_CAPACITY_OTHER = 0x20000;
// The four-byte audio header of 0x80 streams in SESF programs.
inline constexpr std::uint32_t SESF_AUDIO_HEADER_BYTES = 4;

// Stream ids of data streams, the only ones a unit may carry:
// private_stream_1, private_stream_2 to the last video stream, and the
// extended stream id.
bool IsDataStreamId(std::uint8_t id) noexcept;

// Whether units of this stream_type complete only when the next one starts.
bool IsVideoStreamType(std::uint8_t streamType) noexcept;

// The audio header that leads the payload of 0x80 units in SESF programs.
struct SSesfAudioHeader {
    std::uint16_t audioDataPayloadSize = 0;
    std::uint8_t channelAssignment = 0;
    std::uint8_t samplingFrequency = 0;
    std::uint8_t bitsPerSample = 0;
    std::uint8_t startFlag = 0;
};

// The codes a unit record gives for the fields of that header: sampling
// frequency (1 for code 4, 2 for 5), channels (1, 3, 5 or 7 by channel
// assignment) and bits per sample (1 for code 2, 2 for 3); 0 for the rest.
std::uint8_t SesfSamplingCode(std::uint8_t samplingFrequency) noexcept;
std::uint8_t SesfChannelCode(std::uint8_t channelAssignment) noexcept;
std::uint8_t SesfBitsPerSampleCode(std::uint8_t bitsPerSample) noexcept;

class CPESPacketTs : public CBuffer2
{
public:
    CPESPacketTs() = default;
    ~CPESPacketTs() override = default;

    // capacity: the most bytes the assembler holds (twice the video buffer
    // for video streams, PES_CAPACITY_OTHER for the others); the memory
    // grows towards it as units need it. historyMode 2 or more hands out
    // the packet lists of each unit. ResultAppendFailed when the first block
    // cannot be had.
    Result Prepare(std::uint32_t capacity, std::uint32_t historyMode, std::uint8_t streamType,
                   std::uint32_t system) noexcept;

    // Takes the payload of the reader's current packet (a packet of this
    // stream). A packet without payload (adaptation_field_control 10) is
    // neither a repeat nor a gap and leaves the continuity state alone. 0,
    // or ResultAppendFailed when memory could not be had.
    Result TakePacket(const CTSHeader& packetReader) noexcept;
    // Completes the oldest unit when its end is known: 0 when a unit waits,
    // ResultNeedMoreData otherwise. Damaged and empty units are dropped on
    // the way (see above).
    Result CompleteUnits() noexcept;
    // Drops the waiting unit and completes the next one if it can.
    void ReleaseUnit() noexcept;
    // The stream does not go on from what was held: the units under way are
    // dropped without an anomaly (the waiting one stays) and the continuity
    // counter starts afresh.
    void Interrupt() noexcept;

    std::uint8_t StreamType() const noexcept { return m_streamType; }
    bool IsVideo() const noexcept { return m_video; }
    std::uint32_t Limit() const noexcept { return m_limit; }
    std::uint32_t HistoryMode() const noexcept { return m_historyMode; }
    std::uint8_t LastContinuity() const noexcept { return m_lastContinuity; }
    // The last packet taken skipped a continuity count.
    bool GapSeen() const noexcept { return m_gapSeen; }
    bool Collecting() const noexcept { return m_collecting; }
    // Unit starts held that have not completed yet (the waiting unit's
    // included).
    std::uint32_t StartsPending() const noexcept { return static_cast<std::uint32_t>(m_marks.size()); }
    std::uint32_t LastStartPayload() const noexcept { return m_lastStartPayload; }
    std::uint32_t CompleteUnitCount() const noexcept { return m_completeUnits; }

    // The waiting unit; meaningful while CompleteUnitCount() is 1.
    const SPesHeader& Header() const noexcept { return m_header; }
    std::uint32_t UnitLength() const noexcept { return m_unitLength; }
    const std::uint8_t* Payload() const noexcept;
    std::uint32_t PayloadLength() const noexcept { return m_payload.length; }
    std::int64_t UnitPosition() const noexcept;
    std::uint64_t SpanLength() const noexcept;
    std::uint32_t UnitPacketCount() const noexcept { return m_unitPackets; }
    const std::int64_t* UnitPacketPositions() const noexcept { return m_positions.data(); }
    const std::uint32_t* UnitPacketHeaderLengths() const noexcept { return m_headerLengths.data(); }
    bool HasSesfAudioHeader() const noexcept { return m_hasSesfAudio; }

    // The PES header of the newest unit start that has not completed, read
    // from the bytes held so far: the last unit of a video stream never
    // completes, and this is how its time stamps are had at the end of the
    // data. False when no such start is held or its header is not complete.
    bool UnfinishedUnitHeader(SPesHeader& header) const noexcept;
    const SSesfAudioHeader& SesfAudioHeader() const noexcept { return m_sesfAudio; }

    // The unit under way while none waits and nothing else is held: the
    // bytes collected for it (from its start code) and its first packet's
    // position. False in any other state.
    struct SOpenUnit {
        bool started = false;
        std::int64_t position = -1;
        std::uint64_t held = 0;
        const std::uint8_t* bytes = nullptr;
    };
    bool OpenUnit(SOpenUnit& unit) const noexcept;

private:
    // A unit start: where its bytes begin among all bytes collected, and
    // the index of its first packet in the packet lists.
    struct SStartMark {
        std::uint64_t offset = 0;
        std::uint32_t packet = 0;
    };

    std::uint64_t EndOffset() const noexcept { return DiscardedBytes64() + Used(); }
    const std::uint8_t* AtOffset(std::uint64_t offset) const noexcept
    {
        return m_start + static_cast<std::size_t>(offset - DiscardedBytes64());
    }
    // Room for n more bytes within the limit, compacting and growing as
    // needed; false when the bytes held and n exceed the limit, or memory
    // could not be had (`noMemory`).
    bool MakeRoom(std::uint32_t n, bool& noMemory) noexcept;
    // Drops every unit that has not completed (the waiting one stays),
    // reporting 0x330210 at the first one's position when `anomaly`.
    void DropIncompleteUnits(bool anomaly = true) noexcept;
    // Drops the bytes before `offset` and the packets that carried only
    // those; the first unit start then lies at or after it.
    void Consume(std::uint64_t offset) noexcept;
    // Drops the oldest unit: its bytes up to the next unit start (all bytes
    // held when there is none).
    void DropOldestUnit(bool anomaly) noexcept;
    void ClearWaitingUnit() noexcept;

    std::uint8_t m_streamType = 0;
    std::uint32_t m_system = 0;
    bool m_video = false;
    bool m_sesfAudioStream = false;
    std::uint32_t m_limit = 0;
    std::uint32_t m_historyMode = 0;
    std::uint32_t m_stride = TS_PACKET_SIZE;
    std::uint8_t m_lastContinuity = 0xFF;
    bool m_gapSeen = false;
    bool m_collecting = false;
    std::uint32_t m_lastStartPayload = 0;
    std::uint32_t m_completeUnits = 0;

    std::vector<SStartMark> m_marks;
    // One entry per packet whose payload was collected: its position, the
    // bytes of it that are not payload, and where its payload begins among
    // all bytes collected.
    std::vector<std::int64_t> m_positions;
    std::vector<std::uint32_t> m_headerLengths;
    std::vector<std::uint64_t> m_payloadOffsets;

    // The waiting unit.
    std::uint32_t m_unitLength = 0;
    SPesPayload m_payload;
    SPesHeader m_header;
    std::uint32_t m_unitPackets = 0;
    bool m_hasSesfAudio = false;
    SSesfAudioHeader m_sesfAudio;
};

}  // namespace parser
