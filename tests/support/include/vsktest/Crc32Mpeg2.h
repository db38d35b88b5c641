// CRC-32/MPEG-2, the checksum of PSI sections: polynomial 0x04C11DB7, initial
// value 0xFFFFFFFF, most significant bit first, no reflection, no final xor.
// Run over a whole section including its CRC_32 field, a valid section gives 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vsktest {

std::uint32_t Crc32Mpeg2(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0xFFFFFFFFu);

}  // namespace vsktest
