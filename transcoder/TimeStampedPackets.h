// Helpers of the read path for time-stamped AVC sources, whose 192-byte
// packets carry a 4-byte arrival time stamp in front of each 188-byte
// transport packet. The converter delivers such sources with the stamps
// cleared and keeps its file position on the 192-byte packet grid.
#pragma once

#include <cstddef>
#include <cstdint>

namespace transcoder {

inline constexpr std::int64_t STAMPED_PACKET_SIZE = 192;

// Clears, in place, the 4-byte prefix in front of each packet of the block
// whose place on the packet grid is confirmed: by a second sync byte 192
// bytes on, or by the pair before it. A block of one lone packet stays as it
// is, since nothing confirms the grid. Reads and writes only the n bytes given.
void ClearTimeStamps(std::uint8_t* buffer, std::size_t n);

// Splits a byte position into the packet start at or before it (position) and
// the bytes from there to the requested position (skip, 0 when the position
// lies on the grid). Division truncates toward zero, so a negative position
// keeps its remainder as a negative skip, which counts as none.
struct SPacketAlignment {
    std::int64_t position;
    std::int64_t skip;
};
SPacketAlignment AlignToPacket(std::int64_t position);

}  // namespace transcoder
