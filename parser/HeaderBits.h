// CHeaderBits: reads the fields of an elementary-stream header (a video
// sequence header, a parameter set, an audio frame header) most significant
// bit first from bytes it does not own. It never reads outside them: a read
// past the end yields zero bits and marks the reader overrun, so a parser
// reads a whole header straight from its syntax table and checks Overrun()
// once before it trusts any field. Exp-Golomb codes (ue(v), se(v)) are read
// up to 32 bits of value; a longer code is damage and overruns the reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

class CHeaderBits
{
public:
    CHeaderBits(const std::uint8_t* data, std::size_t length) noexcept
        : m_data(data), m_bitLength(data == nullptr ? 0 : length * 8)
    {
    }

    // 0 <= n <= 32 bits.
    std::uint32_t Read(std::uint32_t n) noexcept;
    bool ReadFlag() noexcept { return Read(1) != 0; }
    void Skip(std::uint64_t n) noexcept;
    // ue(v) and se(v).
    std::uint32_t ReadUe() noexcept;
    std::int32_t ReadSe() noexcept;

    bool Overrun() const noexcept { return m_overrun; }
    std::uint64_t BitPosition() const noexcept { return m_bitPosition; }
    std::uint64_t BitsLeft() const noexcept { return m_bitLength - m_bitPosition; }

private:
    const std::uint8_t* m_data = nullptr;
    std::uint64_t m_bitLength = 0;
    std::uint64_t m_bitPosition = 0;
    bool m_overrun = false;
};

}  // namespace parser
