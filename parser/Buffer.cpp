#include "Buffer.h"

#include <cstdlib>
#include <cstring>

namespace parser {

CBuffer::~CBuffer()
{
    Release();
}

void CBuffer::Release() noexcept
{
    std::free(m_block);
    m_block = nullptr;
    m_start = m_cursor = m_end = nullptr;
    m_capacity = 0;
}

std::uint32_t CBuffer::Allocate(std::uint32_t size) noexcept
{
    Release();
    m_discardedBytes = 0;
    m_discardedBytes64 = 0;
    m_bitOffset = 0;
    if (size == 0)
        return 0;
    m_block = static_cast<std::uint8_t*>(std::malloc(size));
    if (m_block == nullptr)
        return 0;
    m_start = m_cursor = m_end = m_block;
    m_capacity = size;
    return size;
}

std::uint32_t CBuffer::Grow(std::uint32_t size) noexcept
{
    const std::size_t cursorOffset = m_block == nullptr ? 0 : static_cast<std::size_t>(m_cursor - m_start);
    const std::size_t endOffset = m_block == nullptr ? 0 : static_cast<std::size_t>(m_end - m_start);
    if (size == 0) {
        Release();
        return 0;
    }
    void* grown = std::realloc(m_block, size);
    if (grown == nullptr) {
        // The old block is still ours; free it rather than lose it, and leave
        // the buffer empty, as a failed growth is documented to.
        Release();
        return 0;
    }
    m_block = static_cast<std::uint8_t*>(grown);
    m_start = m_block;
    m_cursor = m_block + (cursorOffset < size ? cursorOffset : size);
    m_end = m_block + (endOffset < size ? endOffset : size);
    m_capacity = size;
    return size;
}

bool CBuffer::Intact() const noexcept
{
    return Valid() && static_cast<std::size_t>(m_end - m_start) <= m_capacity;
}

std::uint32_t CBuffer::Append(const std::uint8_t* src, std::uint32_t n) noexcept
{
    if (!Intact() || (src == nullptr && n != 0))
        return 0;
    const std::uint32_t used = Used();
    if (m_capacity - used < n) {
        const std::uint64_t wanted = std::uint64_t{m_capacity} + 2 * std::uint64_t{n};
        if (wanted > UINT32_MAX || Grow(static_cast<std::uint32_t>(wanted)) == 0)
            return 0;
    }
    if (n != 0)
        std::memcpy(m_end, src, n);
    m_end += n;
    return n;
}

std::uint32_t CBuffer::Compact() noexcept
{
    if (!Intact() || m_cursor == m_start)
        return 0;
    const std::uint32_t consumed = static_cast<std::uint32_t>(m_cursor - m_start);
    const std::size_t unread = static_cast<std::size_t>(m_end - m_cursor);
    if (unread != 0)
        std::memmove(m_start, m_cursor, unread);
    m_cursor = m_start;
    m_end = m_start + unread;
    m_discardedBytes += consumed;
    m_discardedBytes64 += consumed;
    return consumed;
}

void CBuffer::Clear() noexcept
{
    m_start = m_cursor = m_end = m_block;
    m_bitOffset = 0;
    m_discardedBytes = 0;
    m_discardedBytes64 = 0;
}

void CBuffer2::ResetStatus() noexcept
{
    m_hasStatus = 0;
    m_statusCode = 0;
    m_statusSeverity = 0;
    m_statusCount = 0;
    m_statusPosition = -1;
}

void CBuffer2::ReportStatus(std::uint32_t code, std::uint32_t severity, std::int64_t position) noexcept
{
    ++m_statusCount;
    m_hasStatus = 1;
    if (severity > m_statusSeverity) {
        m_statusCode = code;
        m_statusSeverity = severity;
        m_statusPosition = position;
    }
}

void CBuffer2::MergeStatus(const CBuffer2& from) noexcept
{
    if (from.m_statusCount == 0)
        return;
    m_statusCount += from.m_statusCount;
    m_hasStatus = 1;
    if (from.m_statusSeverity > m_statusSeverity) {
        m_statusCode = from.m_statusCode;
        m_statusSeverity = from.m_statusSeverity;
        m_statusPosition = from.m_statusPosition;
    }
}

}  // namespace parser
