#include "vsktest/Crc32Mpeg2.h"

#include <array>

namespace vsktest {
namespace {

constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> CRC_TABLE = MakeTable();

}  // namespace

std::uint32_t Crc32Mpeg2(std::span<const std::uint8_t> bytes, std::uint32_t crc)
{
    for (std::uint8_t b : bytes)
        crc = (crc << 8) ^ CRC_TABLE[((crc >> 24) ^ b) & 0xFFu];
    return crc;
}

}  // namespace vsktest
