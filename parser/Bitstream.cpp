#include "Bitstream.h"

#include <cstring>

namespace parser {

void CBitstream::Attach(const std::uint8_t* data, std::size_t length) noexcept
{
    // The cursor only ever reads; the pointers are writable because the
    // buffers derived from this class own and move their memory.
    m_start = const_cast<std::uint8_t*>(data);
    m_cursor = m_start;
    m_end = m_start == nullptr ? nullptr : m_start + length;
    m_bitOffset = 0;
}

std::uint32_t CBitstream::PeekBits(std::uint32_t n) const noexcept
{
    const std::uint32_t bytes = (m_bitOffset + n - 1) / 8 + 1;
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < bytes; ++i)
        value = (value << 8) | m_cursor[i];
    const std::uint32_t shift = bytes * 8 - m_bitOffset - n;
    const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
    return static_cast<std::uint32_t>((value >> shift) & mask);
}

std::uint32_t CBitstream::ReadBits(std::uint32_t n) noexcept
{
    const std::uint32_t value = PeekBits(n);
    SkipBits(n);
    return value;
}

void CBitstream::SkipBits(std::uint32_t n) noexcept
{
    const std::uint32_t bits = m_bitOffset + n;
    m_cursor += bits / 8;
    m_bitOffset = bits % 8;
}

std::uint32_t CBitstream::PeekBytes(std::uint32_t n) const noexcept
{
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < n; ++i)
        value = (value << 8) | m_cursor[i];
    return value;
}

std::uint32_t CBitstream::ReadBytes(std::uint32_t n) noexcept
{
    const std::uint32_t value = PeekBytes(n);
    m_cursor += n;
    return value;
}

void CBitstream::Rewind() noexcept
{
    m_cursor = m_start;
    m_bitOffset = 0;
}

bool CBitstream::SeekFromStart(std::size_t n) noexcept
{
    if (m_start == nullptr || m_end < m_start || static_cast<std::size_t>(m_end - m_start) < n)
        return false;
    m_cursor = m_start + n;
    return true;
}

bool CBitstream::Advance(std::size_t n) noexcept
{
    if (!HasBytes(n))
        return false;
    m_cursor += n;
    m_bitOffset = 0;
    return true;
}

std::int64_t CBitstream::FindSyncByte() noexcept
{
    if (!Valid() || m_cursor == m_end)
        return -1;
    const void* found = std::memchr(m_cursor, TS_SYNC_BYTE, static_cast<std::size_t>(m_end - m_cursor));
    if (found == nullptr) {
        m_cursor = m_end;
        return -1;
    }
    m_cursor = static_cast<std::uint8_t*>(const_cast<void*>(found));
    return m_cursor - m_start;
}

std::int32_t CBitstream::FindStartCode() noexcept
{
    if (!Valid())
        return -1;
    if (m_bitOffset != 0) {
        if (m_cursor < m_end)
            ++m_cursor;
        m_bitOffset = 0;
    }
    const std::uint8_t* p = m_cursor;
    const std::uint8_t* const end = m_end;
    // A match needs 00 00 01 and one more byte, so it starts before end - 3.
    while (end - p > 3) {
        if (p[2] > 1) {
            p += 3;
        } else if (p[2] == 1 && p[1] == 0 && p[0] == 0) {
            m_cursor = const_cast<std::uint8_t*>(p);
            return 0x100 + p[3];
        } else {
            ++p;
        }
    }
    // Not found. Keep an unfinished prefix at the very end for the next search.
    const std::size_t unfinished = UnfinishedStartCodeLength();
    if (unfinished != 0)
        m_cursor = m_end - unfinished;
    return -1;
}

std::size_t CBitstream::UnfinishedStartCodeLength() const noexcept
{
    const std::size_t left = Remaining();
    const std::uint8_t* const end = m_end;
    if (left >= 3 && end[-3] == 0 && end[-2] == 0 && end[-1] == 1)
        return 3;
    if (left >= 2 && end[-2] == 0 && end[-1] == 0)
        return 2;
    if (left >= 1 && end[-1] == 0)
        return 1;
    return 0;
}

}  // namespace parser
