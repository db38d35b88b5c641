#include "HeaderBits.h"

namespace parser {

std::uint32_t CHeaderBits::Read(std::uint32_t n) noexcept
{
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < n && i < 32; ++i) {
        std::uint32_t bit = 0;
        if (m_bitPosition < m_bitLength) {
            const std::uint8_t byte = m_data[m_bitPosition >> 3];
            bit = (byte >> (7 - (m_bitPosition & 7))) & 1u;
            ++m_bitPosition;
        } else {
            m_overrun = true;
        }
        value = (value << 1) | bit;
    }
    return value;
}

void CHeaderBits::Skip(std::uint64_t n) noexcept
{
    if (n > BitsLeft()) {
        m_bitPosition = m_bitLength;
        m_overrun = true;
        return;
    }
    m_bitPosition += n;
}

std::uint32_t CHeaderBits::ReadUe() noexcept
{
    std::uint32_t leadingZeros = 0;
    while (!Read(1)) {
        if (m_overrun)
            return 0;
        if (++leadingZeros > 31) {
            m_overrun = true;
            return 0;
        }
    }
    if (leadingZeros == 0)
        return 0;
    // 2^k - 1 + the k bits behind the one; k = 31 still fits in 32 bits.
    const std::uint64_t value = (std::uint64_t{1} << leadingZeros) - 1 + Read(leadingZeros);
    if (value > 0xFFFFFFFFu) {
        m_overrun = true;
        return 0;
    }
    return static_cast<std::uint32_t>(value);
}

std::int32_t CHeaderBits::ReadSe() noexcept
{
    const std::uint32_t k = ReadUe();
    // k = 2n - 1 gives n, k = 2n gives -n.
    const std::int64_t magnitude = (static_cast<std::int64_t>(k) + 1) / 2;
    const std::int64_t value = (k & 1u) != 0 ? magnitude : -magnitude;
    return static_cast<std::int32_t>(value);
}

}  // namespace parser
