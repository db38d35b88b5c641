#include "Crc32.h"

#include "vsktest/PsiSections.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace parser {
namespace {

// Bit by bit, straight from the polynomial: shares nothing with the tables.
std::uint32_t BitwiseCrc(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0xFFFFFFFFu)
{
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= std::uint32_t{data[i]} << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

std::uint32_t CrcOf(std::string_view text)
{
    return Crc32Mpeg2(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(Crc32Test, KnownVectors)
{
    struct Case {
        std::string_view text;
        std::uint32_t crc;
    };
    const Case cases[] = {
        {"", 0xFFFFFFFFu},
        {"123456789", 0x0376E6E7u},
        {"a", BitwiseCrc(reinterpret_cast<const std::uint8_t*>("a"), 1)},
        {"The quick brown fox jumps over the lazy dog",
         BitwiseCrc(reinterpret_cast<const std::uint8_t*>("The quick brown fox jumps over the lazy dog"), 43)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CrcOf(c.text), c.crc) << '"' << c.text << '"';
    // A null range changes nothing.
    EXPECT_EQ(Crc32Mpeg2(nullptr, 0, 0x12345678u), 0x12345678u);
}

TEST(Crc32Test, AgreesWithTheBitwiseFormForEveryLengthAndAlignment)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(80);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t length = 0; offset + length <= bytes.size(); ++length) {
            ASSERT_EQ(Crc32Mpeg2(bytes.data() + offset, length), BitwiseCrc(bytes.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
    }
}

TEST(Crc32Test, ContinuesAcrossPieces)
{
    const std::string_view text = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const std::uint32_t head = Crc32Mpeg2(data, split);
        EXPECT_EQ(Crc32Mpeg2(data + split, text.size() - split, head), 0x0376E6E7u) << split;
    }
}

TEST(Crc32Test, AnIntactSectionYieldsZeroAndAnyFlippedBitDoesNot)
{
    vsktest::PatParams pat;
    pat.entries = {{1, 0x100}, {0, 0x10}, {2, 0x200}};
    std::vector<std::uint8_t> section = vsktest::MakePat(pat);
    EXPECT_EQ(Crc32Mpeg2(section.data(), section.size()), 0u);
    for (std::size_t i = 0; i < section.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            section[i] ^= static_cast<std::uint8_t>(1u << bit);
            ASSERT_NE(Crc32Mpeg2(section.data(), section.size()), 0u) << "byte " << i << " bit " << bit;
            section[i] ^= static_cast<std::uint8_t>(1u << bit);
        }
    }
}

}  // namespace
}  // namespace parser
