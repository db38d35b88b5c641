// Clearing the arrival time stamps of 192-byte packets in a block, and the
// split of a byte position onto the packet grid.
#include "ConverterTesting.h"

#include "transcoder/TimeStampedPackets.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using namespace transcodertest;
using transcoder::AlignToPacket;
using transcoder::ClearTimeStamps;

constexpr std::uint8_t SYNC = 0x47;
constexpr std::uint8_t FILL = 0x5A;

// `count` 192-byte packets: a non-zero stamp, the sync byte, filler.
Bytes Packets(std::size_t count)
{
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t stamp[4] = {0x81, static_cast<std::uint8_t>(i + 1), 0x22, 0x33};
        bytes.insert(bytes.end(), stamp, stamp + 4);
        bytes.push_back(SYNC);
        bytes.insert(bytes.end(), 187, FILL);
    }
    return bytes;
}

// The bytes with the 4 bytes at each offset set to 0 (as far as they lie inside).
Bytes ClearedAt(Bytes bytes, std::initializer_list<std::size_t> offsets)
{
    for (std::size_t at : offsets) {
        for (std::size_t i = at; i < at + 4 && i < bytes.size(); ++i)
            bytes[i] = 0;
    }
    return bytes;
}

// Runs the routine on an exactly sized copy, so a read or write outside the
// block shows under the address sanitizer, and checks the bytes behind it in a
// larger copy stay as they were.
Bytes Cleared(const Bytes& block)
{
    Bytes exact = block;
    ClearTimeStamps(exact.data(), exact.size());
    Bytes padded = block;
    padded.insert(padded.end(), {0x11, 0x22, 0x33, 0x44, SYNC, 0x55, 0x66, 0x77});
    ClearTimeStamps(padded.data(), block.size());
    EXPECT_EQ(Bytes(padded.begin() + static_cast<std::ptrdiff_t>(block.size()), padded.end()),
              Bytes({0x11, 0x22, 0x33, 0x44, SYNC, 0x55, 0x66, 0x77}));
    return exact;
}

TEST(ClearTimeStamps, BlocksOfTwoPacketsOrMoreLoseEveryStamp)
{
    EXPECT_EQ(Cleared(Packets(1)), Packets(1));
    EXPECT_EQ(Cleared(Packets(2)), ClearedAt(Packets(2), {0, 192}));
    EXPECT_EQ(Cleared(Packets(3)), ClearedAt(Packets(3), {0, 192, 384}));
    EXPECT_EQ(Cleared(Packets(5)), ClearedAt(Packets(5), {0, 192, 384, 576, 768}));
}

TEST(ClearTimeStamps, CutLastPacketIsClearedOnlyAsTheSecondOfAPair)
{
    const Bytes three = Packets(3);
    const Bytes four = Packets(4);
    // Two packets and a piece of a third: the piece has no pair.
    EXPECT_EQ(Cleared(Bytes(three.begin(), three.begin() + 384 + 100)), ClearedAt(Bytes(three.begin(), three.begin() + 484), {0, 192}));
    // Three packets and a piece of a fourth: the piece is cleared as far as it goes.
    for (std::size_t piece : {1u, 2u, 4u, 100u}) {
        SCOPED_TRACE(piece);
        const Bytes block(four.begin(), four.begin() + static_cast<std::ptrdiff_t>(576 + piece));
        EXPECT_EQ(Cleared(block), ClearedAt(block, {0, 192, 384, 576}));
    }
    // Fewer than two whole packets: nothing confirms the grid.
    const Bytes two = Packets(2);
    for (std::size_t n : {0u, 4u, 5u, 191u, 192u, 193u, 300u, 383u}) {
        SCOPED_TRACE(n);
        const Bytes block(two.begin(), two.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Cleared(block), block);
    }
}

TEST(ClearTimeStamps, PacketAfterAConfirmedPairIsClearedAloneWhenItsSuccessorIsBroken)
{
    Bytes block = Packets(6);
    block[576 + 4] = 0x00;  // the fourth packet lost its sync byte
    EXPECT_EQ(Cleared(block), ClearedAt(block, {0, 192, 384, 768, 960}));
}

TEST(ClearTimeStamps, GridFoundBehindAStraySyncByteIsClearedWhereItLies)
{
    // Ten bytes of junk with a stray sync byte where a packet's would be, then
    // four packets: the packets found are cleared, the junk and the first
    // packet's payload are not.
    Bytes block = {0x01, 0x02, 0x03, 0x04, SYNC, 0x06, 0x07, 0x08, 0x09, 0x0A};
    const Bytes packets = Packets(4);
    block.insert(block.end(), packets.begin(), packets.end());
    EXPECT_EQ(Cleared(block), ClearedAt(block, {10, 202, 394, 586}));
}

TEST(ClearTimeStamps, StraySyncByteWithoutAGridChangesNothing)
{
    Bytes block(800, FILL);
    block[4] = SYNC;
    block[300] = SYNC;
    EXPECT_EQ(Cleared(block), block);
}

TEST(ClearTimeStamps, AgreesWithTheGridModelForEveryBlockOfAWellFormedStream)
{
    // Blocks starting anywhere in a packet and ending anywhere: the routine
    // clears exactly the prefixes the grid model says a block confirms.
    const Bytes stream = Packets(8);
    for (std::size_t start : {0u, 1u, 3u, 4u, 5u, 100u, 187u, 188u, 191u, 192u, 196u, 383u}) {
        for (std::size_t n = 0; start + n <= stream.size(); ++n) {
            const Bytes block(stream.begin() + static_cast<std::ptrdiff_t>(start),
                              stream.begin() + static_cast<std::ptrdiff_t>(start + n));
            Bytes expected = block;
            ClearConfirmedPrefixes(expected, static_cast<std::int64_t>(start));
            Bytes got = block;
            ClearTimeStamps(got.data(), got.size());
            ASSERT_EQ(got, expected) << "start " << start << " length " << n;
        }
    }
}

TEST(AlignToPacket, SplitsAPositionIntoPacketStartAndSkip)
{
    const struct {
        std::int64_t position, aligned, skip;
    } cases[] = {
        {0, 0, 0},          {1, 0, 1},          {191, 0, 191},     {192, 192, 0},
        {385, 384, 1},      {1000, 960, 40},    {-100, 0, -100},   {-192, -192, 0},
        {-200, -192, -8},
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max() / 192 * 192,
         std::numeric_limits<std::int64_t>::max() % 192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        const transcoder::SPacketAlignment a = AlignToPacket(c.position);
        EXPECT_EQ(a.position, c.aligned);
        EXPECT_EQ(a.skip, c.skip);
    }
}

}  // namespace
