// Appends bit fields most significant bit first, the order in which
// ISO/IEC 13818-1 lays out every header, so builders can be written field by
// field straight from the syntax tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vsktest {

class CBitWriter
{
public:
    // Appends the low `bits` bits of value (bits 1..64).
    CBitWriter& Put(std::uint64_t value, unsigned bits);
    // One bit set to 1: the marker_bit of the syntax tables.
    CBitWriter& Marker() { return Put(1, 1); }
    // `bits` bits all set: reserved fields.
    CBitWriter& Ones(unsigned bits);
    // Whole bytes; the writer must be byte aligned.
    CBitWriter& Bytes(std::span<const std::uint8_t> bytes);
    CBitWriter& Fill(std::uint8_t value, std::size_t count);

    bool Aligned() const { return m_bitCount == 0; }
    std::size_t ByteSize() const { return m_bytes.size(); }
    // The bytes written; the writer must be byte aligned.
    const std::vector<std::uint8_t>& Data() const;
    std::vector<std::uint8_t> Take();

private:
    std::vector<std::uint8_t> m_bytes;
    unsigned m_bitCount = 0;  // bits already used in the last byte
};

}  // namespace vsktest
