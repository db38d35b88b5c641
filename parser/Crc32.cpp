#include "Crc32.h"

#include <array>

namespace parser {
namespace {

constexpr std::uint32_t CRC32_POLYNOMIAL = 0x04C11DB7u;

// Slicing by four: table k holds the remainder of a byte followed by k zero
// bytes, so four input bytes are folded in with four look-ups instead of a
// chain of four dependent ones. Sections are read byte by byte, so nothing
// depends on the alignment of the data.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 4>;

constexpr CrcTables MakeTables() noexcept
{
    CrcTables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) != 0 ? (c << 1) ^ CRC32_POLYNOMIAL : (c << 1);
        tables[0][i] = c;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = tables[k - 1][i];
            tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
        }
    }
    return tables;
}

constexpr CrcTables CRC_TABLES = MakeTables();

}  // namespace

std::uint32_t Crc32Mpeg2(const std::uint8_t* data, std::size_t length, std::uint32_t crc) noexcept
{
    if (data == nullptr)
        return crc;
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + length;
    while (end - p >= 4) {
        crc ^= (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
        crc = CRC_TABLES[3][crc >> 24] ^ CRC_TABLES[2][(crc >> 16) & 0xFFu] ^ CRC_TABLES[1][(crc >> 8) & 0xFFu] ^
              CRC_TABLES[0][crc & 0xFFu];
        p += 4;
    }
    for (; p != end; ++p)
        crc = (crc << 8) ^ CRC_TABLES[0][((crc >> 24) ^ *p) & 0xFFu];
    return crc;
}

}  // namespace parser
