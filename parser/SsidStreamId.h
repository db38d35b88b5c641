// CSsidStreamId: classifies the stream of a unit by category and coding, and
// packs the classification into the four-byte stream identifier a host uses
// to tell streams apart:
//   byte 0 (low)  stream-id byte: 0xE0 | subIndex (video), 0xC0 | subIndex
//                 (MPEG audio), 0xBD (AC-3 and LPCM audio), 0, 1 or 2 (the
//                 private data of TSMV, TSHV 0xA0 and TSHV 0xA1 programs),
//                 the stream_id itself (other private units of program
//                 streams);
//   byte 1        sub-stream byte: 0x80 | subIndex (AC-3), 0xA0 | subIndex
//                 (LPCM), subIndex (private data), the reader's sub-stream
//                 code (other private units of program streams), else 0;
//   byte 2        coding: 4 for AVC and the two HDMV video types, 3 for
//                 private data, else 0;
//   byte 3 (high) the program index.
#pragma once

#include "UnitInfo.h"

#include <cstdint>

namespace parser {

class CSsidStreamId
{
public:
    // Fills classified, category, codec, subIndex and streamId of `unit`
    // from its kind, streamType, system, header.streamId, ordinals,
    // subStreamId and programIndex. A stream the table does not know, a
    // program index above 255 or a subIndex beyond its range (31 for MPEG
    // audio, 15 for video, 7 for AC-3 and LPCM) leave classified false and
    // streamId 0; category, codec and subIndex then say what was found.
    void Classify(SUnitInfo& unit) const noexcept;

    // The packed identifier; false when a range is exceeded.
    static bool Pack(std::uint32_t category, std::uint32_t codec, std::uint32_t subIndex, std::uint32_t programIndex,
                     std::uint8_t pesStreamId, std::uint8_t subStreamId, std::uint32_t& streamId) noexcept;
};

}  // namespace parser
