#include "Buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace parser {
namespace {

TEST(BitstreamTest, ReadsBitFieldsAcrossBytesMostSignificantFirst)
{
    const std::array<std::uint8_t, 4> bytes{0x1F, 0xFF, 0xA5, 0x3C};
    CBitstream bits;
    bits.Attach(bytes.data(), bytes.size());
    bits.SkipBits(3);
    EXPECT_EQ(bits.ReadBits(13), 0x1FFFu);
    EXPECT_EQ(bits.BitOffset(), 0u);
    EXPECT_EQ(bits.Offset(), 2u);

    bits.Rewind();
    EXPECT_EQ(bits.ReadBits(1), 0u);
    EXPECT_EQ(bits.PeekBits(31), 0x1FFFA53Cu & 0x7FFFFFFFu);
    EXPECT_EQ(bits.ReadBits(7), 0x1Fu);
    EXPECT_EQ(bits.BitOffset(), 0u);
    EXPECT_EQ(bits.Offset(), 1u);
}

TEST(BitstreamTest, ReadBytesIgnoresConsumedBitsAndKeepsTheOffset)
{
    const std::array<std::uint8_t, 6> bytes{0xE0, 0x12, 0x34, 0x56, 0x78, 0x9A};
    CBitstream bits;
    bits.Attach(bytes.data(), bytes.size());
    EXPECT_EQ(bits.ReadBits(3), 7u);
    EXPECT_EQ(bits.PeekBytes(4), 0xE0123456u);
    EXPECT_EQ(bits.ReadBytes(4), 0xE0123456u);
    EXPECT_EQ(bits.BitOffset(), 3u);
    EXPECT_EQ(bits.ReadBytes(0), 0u);
    EXPECT_EQ(bits.Offset(), 4u);
}

TEST(BitstreamTest, CheckedOperationsRefuseABrokenOrShortRange)
{
    CBitstream empty;
    EXPECT_FALSE(empty.HasBytes(0));
    EXPECT_FALSE(empty.SeekFromStart(0));
    EXPECT_EQ(empty.FindSyncByte(), -1);
    EXPECT_EQ(empty.FindStartCode(), -1);

    const std::array<std::uint8_t, 3> bytes{1, 2, 3};
    CBitstream bits;
    bits.Attach(bytes.data(), bytes.size());
    EXPECT_TRUE(bits.HasBytes(3));
    EXPECT_FALSE(bits.HasBytes(4));
    EXPECT_TRUE(bits.SeekFromStart(3));
    EXPECT_FALSE(bits.SeekFromStart(4));
    EXPECT_EQ(bits.Offset(), 3u);
}

TEST(BitstreamTest, FindSyncByte)
{
    const std::array<std::uint8_t, 5> first{0x47, 0, 0, 0x47, 0};
    CBitstream bits;
    bits.Attach(first.data(), first.size());
    EXPECT_EQ(bits.FindSyncByte(), 0);
    bits.Advance(1);
    EXPECT_EQ(bits.FindSyncByte(), 3);
    EXPECT_EQ(bits.Offset(), 3u);

    const std::array<std::uint8_t, 4> none{1, 2, 3, 4};
    bits.Attach(none.data(), none.size());
    EXPECT_EQ(bits.FindSyncByte(), -1);
    EXPECT_EQ(bits.Offset(), 4u);
    EXPECT_EQ(bits.FindSyncByte(), -1) << "fails at once at the end";
}

TEST(BitstreamTest, FindStartCode)
{
    CBitstream bits;
    const std::array<std::uint8_t, 6> pack{0x55, 0x00, 0x00, 0x01, 0xBA, 0x44};
    bits.Attach(pack.data(), pack.size());
    EXPECT_EQ(bits.FindStartCode(), 0x1BA);
    EXPECT_EQ(bits.Offset(), 1u);
    EXPECT_EQ(bits.FindStartCode(), 0x1BA) << "the cursor stays on the code it found";

    // The code byte must lie inside the range.
    const std::array<std::uint8_t, 5> unfinished3{0x12, 0x34, 0x00, 0x00, 0x01};
    bits.Attach(unfinished3.data(), unfinished3.size());
    EXPECT_EQ(bits.FindStartCode(), -1);
    EXPECT_EQ(bits.Offset(), 2u);

    const std::array<std::uint8_t, 5> unfinished2{0x12, 0x34, 0x00, 0x00, 0x00};
    bits.Attach(unfinished2.data(), unfinished2.size());
    EXPECT_EQ(bits.FindStartCode(), -1);
    EXPECT_EQ(bits.Offset(), 3u);

    const std::array<std::uint8_t, 4> unfinished1{0x12, 0x34, 0x56, 0x00};
    bits.Attach(unfinished1.data(), unfinished1.size());
    EXPECT_EQ(bits.FindStartCode(), -1);
    EXPECT_EQ(bits.Offset(), 3u);

    const std::array<std::uint8_t, 4> noZero{0x12, 0x34, 0x56, 0x78};
    bits.Attach(noZero.data(), noZero.size());
    bits.Advance(1);
    EXPECT_EQ(bits.FindStartCode(), -1);
    EXPECT_EQ(bits.Offset(), 1u) << "stays where the search began";

    // A search from inside a byte starts at the next whole byte.
    const std::array<std::uint8_t, 5> inside{0x00, 0x00, 0x01, 0xE0, 0x00};
    bits.Attach(inside.data(), inside.size());
    bits.SkipBits(1);
    EXPECT_EQ(bits.FindStartCode(), -1);
    EXPECT_EQ(bits.BitOffset(), 0u);
    EXPECT_EQ(bits.Offset(), 4u);
}

TEST(BufferTest, AppendGrowsByTwiceTheIncomingAmount)
{
    CBuffer buffer;
    ASSERT_EQ(buffer.Allocate(64), 64u);
    const std::vector<std::uint8_t> ten(10, 0xAA);
    const std::vector<std::uint8_t> hundred(100, 0xBB);
    ASSERT_EQ(buffer.Append(ten.data(), 10), 10u);
    ASSERT_EQ(buffer.Append(hundred.data(), 100), 100u);
    EXPECT_EQ(buffer.Capacity(), 264u);
    EXPECT_EQ(buffer.Used(), 110u);
    EXPECT_EQ(buffer.Start()[9], 0xAA);
    EXPECT_EQ(buffer.Start()[10], 0xBB);
    EXPECT_EQ(buffer.Start()[109], 0xBB);
}

TEST(BufferTest, AppendRefusesABufferWithoutMemory)
{
    CBuffer buffer;
    const std::uint8_t byte = 1;
    EXPECT_EQ(buffer.Append(&byte, 1), 0u);
    EXPECT_EQ(buffer.Allocate(0), 0u);
    EXPECT_EQ(buffer.Append(&byte, 1), 0u);
    EXPECT_EQ(buffer.Start(), nullptr);
}

TEST(BufferTest, CompactKeepsUnreadBytesAndCountsTheDroppedOnes)
{
    CBuffer buffer;
    ASSERT_EQ(buffer.Allocate(16), 16u);
    const std::array<std::uint8_t, 8> bytes{0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(buffer.Append(bytes.data(), 8), 8u);
    EXPECT_EQ(buffer.Compact(), 0u) << "nothing consumed, nothing done";

    ASSERT_TRUE(buffer.Advance(5));
    EXPECT_EQ(buffer.CursorPosition(), 5u);
    EXPECT_EQ(buffer.Compact(), 5u);
    EXPECT_EQ(buffer.Used(), 3u);
    EXPECT_EQ(buffer.Offset(), 0u);
    EXPECT_EQ(buffer.Start()[0], 5);
    EXPECT_EQ(buffer.DiscardedBytes(), 5u);
    EXPECT_EQ(buffer.DiscardedBytes64(), 5u);
    EXPECT_EQ(buffer.CursorPosition(), 5u) << "positions stay absolute";

    ASSERT_TRUE(buffer.Advance(3));
    EXPECT_EQ(buffer.Compact(), 3u);
    EXPECT_EQ(buffer.DiscardedBytes64(), 8u);

    buffer.Clear();
    EXPECT_EQ(buffer.DiscardedBytes64(), 0u);
    EXPECT_EQ(buffer.Capacity(), 16u);
}

TEST(BufferTest, GrowKeepsContentsAndClipsTheCursor)
{
    CBuffer buffer;
    ASSERT_EQ(buffer.Allocate(8), 8u);
    const std::array<std::uint8_t, 8> bytes{9, 8, 7, 6, 5, 4, 3, 2};
    ASSERT_EQ(buffer.Append(bytes.data(), 8), 8u);
    ASSERT_TRUE(buffer.Advance(6));
    ASSERT_EQ(buffer.Grow(4), 4u);
    EXPECT_EQ(buffer.Offset(), 4u);
    EXPECT_EQ(buffer.Used(), 4u);
    EXPECT_EQ(buffer.Start()[3], 6);
    ASSERT_EQ(buffer.Grow(1000), 1000u);
    EXPECT_EQ(buffer.Used(), 4u);
    EXPECT_EQ(buffer.Start()[0], 9);
}

TEST(BufferTest, StatusKeepsTheFirstAnomalyOfTheHighestSeverity)
{
    CBuffer2 buffer;
    buffer.ResetStatus();
    EXPECT_FALSE(buffer.HasStatus());
    EXPECT_EQ(buffer.StatusPosition(), -1);
    buffer.ReportStatus(0x330201, 1, 188);
    buffer.ReportStatus(0x330202, 1, 376);
    EXPECT_TRUE(buffer.HasStatus());
    EXPECT_EQ(buffer.StatusCount(), 2u);
    EXPECT_EQ(buffer.StatusCode(), 0x330201u);
    EXPECT_EQ(buffer.StatusPosition(), 188);
    buffer.ReportStatus(0x330203, 2, 564);
    EXPECT_EQ(buffer.StatusCode(), 0x330203u);
    EXPECT_EQ(buffer.StatusCount(), 3u);
    buffer.ResetStatus();
    EXPECT_EQ(buffer.StatusCount(), 0u);
    EXPECT_EQ(buffer.StatusSeverity(), 0u);
}

}  // namespace
}  // namespace parser
