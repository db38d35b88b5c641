// The description of one complete unit (a PES packet, or the one-packet
// private unit of some recorders) that the stream reader hands out through
// TakeUnit: where it lies in the stream, what its header says, which program
// and stream it belongs to and how that stream is classified. The pointers
// in it stay valid until the unit is released, more data is fed or the
// reader is asked for more units (each may move the reader's buffers): take,
// look, release.
#pragma once

#include "Buffer.h"
#include "PesHeader.h"

#include <cstdint>

namespace parser {

// The last PCR seen for a program.
struct SPcrRecord {
    // Packet position + PCR_POSITION_OFFSET; -1 until a PCR has been seen.
    std::int64_t position = -1;
    std::uint64_t base = 0;
    std::uint16_t extension = 0;
    // Packet position of the last time-base discontinuity of the program (a
    // discontinuity_indicator on its PCR PID); -1 until one has been met. Time stamps of units
    // that start behind it belong to a clock of their own.
    std::int64_t discontinuityPosition = -1;
};

// Anomalies since the record was last cleared: how many, and the first of
// the highest severity.
struct SAnomalyRecord {
    std::uint32_t count = 0;
    std::uint32_t code = 0;
    std::uint32_t severity = 0;
    std::int64_t position = -1;

    void Merge(const CBuffer2& from) noexcept
    {
        if (from.StatusCount() == 0)
            return;
        count += from.StatusCount();
        if (from.StatusSeverity() > severity) {
            code = from.StatusCode();
            severity = from.StatusSeverity();
            position = from.StatusPosition();
        }
    }
    // One anomaly met by a reader that keeps no status record of its own.
    void Report(std::uint32_t anomaly, std::uint32_t anomalySeverity, std::int64_t at) noexcept
    {
        ++count;
        if (anomalySeverity > severity) {
            code = anomaly;
            severity = anomalySeverity;
            position = at;
        }
    }
    void Clear() noexcept { *this = SAnomalyRecord{}; }
};

// Ordinal of a stream that is not of the category counted.
inline constexpr std::uint16_t ORDINAL_NONE = 0xFFFF;

// Stream categories and codings of the classification.
enum : std::uint32_t {
    CATEGORY_AUDIO = 0x20001,
    CATEGORY_VIDEO = 0x20002,
    CATEGORY_PRIVATE_DATA = 0x20008,
    CATEGORY_PROGRAM_STREAM_PRIVATE = 0x20010,
};

enum : std::uint32_t {
    CODEC_MPEG_VIDEO = 0x30001,
    CODEC_MPEG_AUDIO = 0x30004,
    CODEC_AC3 = 0x3000A,
    CODEC_LPCM = 0x3000B,
    CODEC_TSMV_PRIVATE = 0x3000F,
    CODEC_TSHV_PRIVATE_A0 = 0x30010,
    CODEC_TSHV_PRIVATE_A1 = 0x30011,
    CODEC_AVC = 0x30016,
    CODEC_HDMV_0x91 = 0x30017,
    CODEC_HDMV_0x90 = 0x30018,
    CODEC_PRIVATE_1 = 0x30020,
    CODEC_PRIVATE_2 = 0x30021,
    CODEC_PRIVATE_2_B0 = 0x30022,
    CODEC_PRIVATE_2_B1 = 0x30023,
    CODEC_PRIVATE_1_B2 = 0x30024,
    CODEC_PRIVATE_2_B3 = 0x30025,
    CODEC_PRIVATE_1_B4 = 0x30026,
};

// The program-stream reader's codes for private units it recognised by
// their first payload byte.
enum : std::uint8_t {
    // private_stream_2: presentation control and data search information.
    SUBSTREAM_CODE_PCI = 0xB0,
    SUBSTREAM_CODE_DSI = 0xB1,
    // private_stream_1: a sub-picture sub-stream (0x20 to 0x3F).
    SUBSTREAM_CODE_SUBPICTURE = 0xB2,
    // private_stream_2 with any other first byte.
    SUBSTREAM_CODE_PRIVATE_2_OTHER = 0xB3,
    // private_stream_1: a DTS sub-stream (0x88 to 0x8F).
    SUBSTREAM_CODE_DTS = 0xB4,
};

struct SUnitInfo {
    // STREAM_KIND_... of the reader.
    std::uint32_t kind = 0;
    // Registration classification of the unit's program (SystemNone for
    // program streams).
    std::uint32_t system = 0;
    // Programs of the association section (entries with program_number not
    // 0); 1 for a program stream.
    std::uint32_t programCount = 0;
    // Kept streams of the unit's program; for a program stream the stream
    // ids met so far.
    std::uint32_t streamCount = 0;
    std::uint16_t programNumber = 0;
    // stream_type of the program map; for a program stream the stream_id.
    std::uint32_t streamType = 0;
    // Entry of the association section, and kept stream of the program map;
    // for a program stream 0 and the order in which the stream_id was first
    // met.
    std::uint32_t programIndex = 0;
    std::uint32_t streamIndex = 0;
    // The elementary PID of a transport stream's unit; 0 in program streams.
    std::uint16_t elementaryPid = 0;

    SPesHeader header;
    // The elementary bytes; null and 0 when TakeUnit found no unit.
    const std::uint8_t* payload = nullptr;
    std::uint32_t payloadLength = 0;
    // Absolute position of the unit's first packet (transport streams: the
    // first byte of its unit, prefix included; program streams: the start
    // code), and the bytes from there to the end of its last packet.
    std::int64_t position = -1;
    std::uint64_t spanLength = 0;
    // The unit's packets, in order: their positions and the bytes of each
    // that are not payload (prefix, header, adaptation field). Given only
    // with historyMode 2 or more; count 0 otherwise and for program streams.
    std::uint32_t packetCount = 0;
    const std::int64_t* packetPositions = nullptr;
    const std::uint32_t* packetHeaderLengths = nullptr;

    // The stream's ordinal among its program's MPEG audio (0x03, 0x04),
    // video (0x01, 0x02, 0x1B, 0x90, 0x91), 0x81 and 0x80 streams.
    std::uint16_t audioOrdinal = ORDINAL_NONE;
    std::uint16_t videoOrdinal = ORDINAL_NONE;
    std::uint16_t ordinal81 = ORDINAL_NONE;
    std::uint16_t ordinal80 = ORDINAL_NONE;

    // From the 4-byte audio header of 0x80 streams in SystemSESF programs;
    // 0 otherwise.
    std::uint8_t samplingCode = 0;
    std::uint8_t channelCode = 0;
    std::uint8_t bitsPerSampleCode = 0;
    // What a program stream's private unit was recognised as: its AC-3
    // (0x80 to 0x87) or LPCM (0xA0 to 0xA7) sub-stream id once that
    // sub-stream is confirmed, or one of the reader's own codes
    // SUBSTREAM_CODE_...; 0 when none (and always in transport streams).
    std::uint8_t subStreamId = 0;

    SPcrRecord pcr;
    // The reader's anomalies since the last unit was released.
    SAnomalyRecord status;

    bool classified = false;
    std::uint32_t category = 0;
    std::uint32_t codec = 0;
    std::uint32_t subIndex = 0;
    // Packed by CSsidStreamId; 0 when not classified.
    std::uint32_t streamId = 0;
};

}  // namespace parser
