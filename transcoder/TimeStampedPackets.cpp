#include "transcoder/TimeStampedPackets.h"

#include <algorithm>

namespace transcoder {
namespace {

constexpr std::uint8_t SYNC_BYTE = 0x47;
constexpr std::size_t PACKET = 192;
constexpr std::size_t PAIR = 2 * PACKET;
constexpr std::size_t PREFIX = 4;

// Clears the prefix that starts at offset of the block p[0..n), as far as it
// lies inside.
void ClearPrefix(std::uint8_t* p, std::size_t n, std::size_t offset)
{
    for (std::size_t k = offset; k < offset + PREFIX && k < n; ++k)
        p[k] = 0;
}

}  // namespace

void ClearTimeStamps(std::uint8_t* p, std::size_t n)
{
    bool paired = false;
    while (n > PREFIX) {
        if (p[PREFIX] != SYNC_BYTE) {
            ++p;
            --n;
            continue;
        }
        if (n < PAIR) {
            // The tail of the block: only packets behind a confirmed pair are
            // known to be on the grid.
            if (paired && n >= PACKET) {
                ClearPrefix(p, n, 0);
                if (n > PACKET)
                    ClearPrefix(p, n, PACKET);
            }
            return;
        }
        if (p[PACKET + PREFIX] == SYNC_BYTE) {
            ClearPrefix(p, n, 0);
            ClearPrefix(p, n, PACKET);
            p += PAIR;
            n -= PAIR;
            paired = true;
            continue;
        }
        if (paired) {
            ClearPrefix(p, n, 0);
            p += PAIR;
            n -= PAIR;
            paired = false;
            continue;
        }
        // The sync byte at 4 stands alone: look for the grid further on.
        std::size_t found = 0;
        for (std::size_t i = PREFIX + 1; i < PACKET; ++i) {
            if (p[i] == SYNC_BYTE && p[i + PACKET] == SYNC_BYTE) {
                found = i;
                break;
            }
        }
        if (found == 0) {
            p += PACKET;
            n -= PACKET;
            paired = false;
            continue;
        }
        // Clear the prefixes of the two packets found, and go on from the
        // packet after them.
        const std::size_t start = found - PREFIX;
        ClearPrefix(p, n, start);
        ClearPrefix(p, n, start + PACKET);
        const std::size_t advance = std::min(n, start + PAIR);
        p += advance;
        n -= advance;
        paired = true;
    }
}

SPacketAlignment AlignToPacket(std::int64_t position)
{
    const std::int64_t q = position / STAMPED_PACKET_SIZE;
    const std::int64_t r = position - q * STAMPED_PACKET_SIZE;
    if (r == 0)
        return {position, 0};
    return {q * STAMPED_PACKET_SIZE, r};
}

}  // namespace transcoder
