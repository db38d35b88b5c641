#include "vsktest/BitWriter.h"

#include <stdexcept>

namespace vsktest {

CBitWriter& CBitWriter::Put(std::uint64_t value, unsigned bits)
{
    if (bits == 0 || bits > 64)
        throw std::invalid_argument("CBitWriter::Put: bit count out of range");
    for (unsigned i = bits; i-- > 0;) {
        if (m_bitCount == 0)
            m_bytes.push_back(0);
        if ((value >> i) & 1u)
            m_bytes.back() = static_cast<std::uint8_t>(m_bytes.back() | (0x80u >> m_bitCount));
        m_bitCount = (m_bitCount + 1) & 7u;
    }
    return *this;
}

CBitWriter& CBitWriter::Ones(unsigned bits)
{
    while (bits > 0) {
        unsigned n = bits > 64 ? 64 : bits;
        Put(~std::uint64_t{0}, n);
        bits -= n;
    }
    return *this;
}

CBitWriter& CBitWriter::Bytes(std::span<const std::uint8_t> bytes)
{
    if (!Aligned())
        throw std::logic_error("CBitWriter::Bytes: not byte aligned");
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

CBitWriter& CBitWriter::Fill(std::uint8_t value, std::size_t count)
{
    if (!Aligned())
        throw std::logic_error("CBitWriter::Fill: not byte aligned");
    m_bytes.insert(m_bytes.end(), count, value);
    return *this;
}

const std::vector<std::uint8_t>& CBitWriter::Data() const
{
    if (!Aligned())
        throw std::logic_error("CBitWriter: not byte aligned");
    return m_bytes;
}

std::vector<std::uint8_t> CBitWriter::Take()
{
    if (!Aligned())
        throw std::logic_error("CBitWriter: not byte aligned");
    std::vector<std::uint8_t> bytes = std::move(m_bytes);
    m_bytes.clear();
    return bytes;
}

}  // namespace vsktest
