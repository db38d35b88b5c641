// The CRC that protects every table section: polynomial 0x04C11DB7, initial
// value 0xFFFFFFFF, most significant bit first, no reflection and no final
// inversion. Run over a whole section including its CRC_32 field, an intact
// section yields 0, so the field never needs to be extracted for the check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t CRC32_MPEG2_INITIAL = 0xFFFFFFFFu;

// Continues `crc` over [data, data + length); null data with length 0 is
// allowed and leaves crc unchanged.
std::uint32_t Crc32Mpeg2(const std::uint8_t* data, std::size_t length,
                         std::uint32_t crc = CRC32_MPEG2_INITIAL) noexcept;

}  // namespace parser
