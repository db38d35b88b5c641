#include "vsktest/BitWriter.h"
#include "vsktest/Crc32Mpeg2.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

namespace {

using vsktest::CBitWriter;
using vsktest::Crc32Mpeg2;

// Straight from the definition, one bit at a time: an independent check on
// the table-driven implementation.
std::uint32_t BitwiseCrc32Mpeg2(const std::vector<std::uint8_t>& data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : data) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((byte >> bit) & 1u) != 0;
            const bool top = (crc & 0x80000000u) != 0;
            crc <<= 1;
            if (in != top)
                crc ^= 0x04C11DB7u;
        }
    }
    return crc;
}

TEST(Crc32Mpeg2, MatchesTheCatalogueCheckValue)
{
    const std::string_view check = "123456789";
    const std::vector<std::uint8_t> bytes(check.begin(), check.end());
    EXPECT_EQ(Crc32Mpeg2(bytes), 0x0376E6E7u);
    EXPECT_EQ(BitwiseCrc32Mpeg2(bytes), 0x0376E6E7u);
}

TEST(Crc32Mpeg2, AgreesWithBitwiseReferenceAndClosesToZero)
{
    std::mt19937 rng(12345);
    for (std::size_t size : {0u, 1u, 3u, 4u, 17u, 188u, 1021u}) {
        std::vector<std::uint8_t> data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        const std::uint32_t crc = Crc32Mpeg2(data);
        EXPECT_EQ(crc, BitwiseCrc32Mpeg2(data)) << "size " << size;
        // Appending the CRC big-endian makes the CRC of the whole zero: the
        // property section checks rely on.
        for (int shift = 24; shift >= 0; shift -= 8)
            data.push_back(static_cast<std::uint8_t>(crc >> shift));
        EXPECT_EQ(Crc32Mpeg2(data), 0u) << "size " << size;
    }
}

TEST(Crc32Mpeg2, ContinuesFromAnEarlierValue)
{
    const std::vector<std::uint8_t> all{1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint32_t head = Crc32Mpeg2(std::span(all).first(3));
    EXPECT_EQ(Crc32Mpeg2(std::span(all).subspan(3), head), Crc32Mpeg2(all));
}

TEST(BitWriter, PacksFieldsMostSignificantBitFirstAcrossBytes)
{
    CBitWriter w;
    w.Put(0b01, 2).Put(0b101, 3).Marker().Put(0x3FF, 10).Put(0, 8).Ones(4).Put(0x5, 4);
    EXPECT_EQ(w.Data(), (std::vector<std::uint8_t>{0b01101111, 0b11111111, 0x00, 0xF5}));
}

TEST(BitWriter, WritesOnlyTheLowBitsOfWideValues)
{
    CBitWriter w;
    w.Put(0xFFFFFFFFFFFFFFF0ull, 4).Put(0xABCD, 12);
    EXPECT_EQ(w.Data(), (std::vector<std::uint8_t>{0x0B, 0xCD}));
    CBitWriter full;
    full.Put(0x0123456789ABCDEFull, 64);
    EXPECT_EQ(full.Data(), (std::vector<std::uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
}

TEST(BitWriter, RefusesUnalignedByteAccessAndBadWidths)
{
    CBitWriter w;
    w.Put(1, 3);
    EXPECT_FALSE(w.Aligned());
    EXPECT_THROW(w.Data(), std::logic_error);
    EXPECT_THROW(w.Fill(0xFF, 1), std::logic_error);
    EXPECT_THROW(w.Put(0, 0), std::invalid_argument);
    EXPECT_THROW(w.Put(0, 65), std::invalid_argument);
    w.Put(0, 5);
    EXPECT_EQ(w.Take(), std::vector<std::uint8_t>{0x20});
    EXPECT_EQ(w.ByteSize(), 0u);
}

}  // namespace
