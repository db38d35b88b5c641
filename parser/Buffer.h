// CBuffer: a bit cursor over memory it owns, grows, appends to and compacts.
// CBuffer2: the same with the anomaly record of the readers built on it.
// Positions are absolute within all data ever appended: the bytes dropped from
// the front by Compact are counted.
#pragma once

#include "Bitstream.h"

#include <cstdint>

namespace parser {

class CBuffer : public CBitstream
{
public:
    CBuffer() = default;
    ~CBuffer() override;

    // Both give the new size, or 0 when the memory could not be had (the
    // buffer then holds no memory at all).
    virtual std::uint32_t Allocate(std::uint32_t size) noexcept;
    virtual std::uint32_t Grow(std::uint32_t size) noexcept;

    // n, or 0 when nothing was appended.
    std::uint32_t Append(const std::uint8_t* src, std::uint32_t n) noexcept;
    // Bytes dropped from the front, or 0.
    std::uint32_t Compact() noexcept;
    void Clear() noexcept;

    std::uint32_t Capacity() const noexcept { return m_capacity; }
    std::uint32_t DiscardedBytes() const noexcept { return m_discardedBytes; }
    std::uint64_t DiscardedBytes64() const noexcept { return m_discardedBytes64; }
    // Bytes held (end - start) and room left behind them.
    std::uint32_t Used() const noexcept { return m_start == nullptr ? 0 : static_cast<std::uint32_t>(m_end - m_start); }
    std::uint32_t FreeSpace() const noexcept { return m_capacity - Used(); }
    // Absolute position of a byte of the buffer, or of the cursor.
    std::uint64_t PositionOf(const std::uint8_t* byte) const noexcept
    {
        return m_discardedBytes64 + static_cast<std::uint64_t>(byte - m_start);
    }
    std::uint64_t CursorPosition() const noexcept { return PositionOf(m_cursor); }

private:
    bool Intact() const noexcept;
    void Release() noexcept;

    std::uint8_t* m_block = nullptr;
    std::uint32_t m_capacity = 0;
    std::uint32_t m_discardedBytes = 0;
    std::uint64_t m_discardedBytes64 = 0;
};

class CBuffer2 : public CBuffer
{
public:
    CBuffer2() = default;
    ~CBuffer2() override = default;

    void ResetStatus() noexcept;
    // Counts every anomaly; keeps the first one of the highest severity.
    void ReportStatus(std::uint32_t code, std::uint32_t severity, std::int64_t position) noexcept;
    // Takes over the anomalies of another record as if they had been
    // reported here after those already counted.
    void MergeStatus(const CBuffer2& from) noexcept;

    bool HasStatus() const noexcept { return m_hasStatus != 0; }
    std::uint32_t StatusCode() const noexcept { return m_statusCode; }
    std::uint32_t StatusSeverity() const noexcept { return m_statusSeverity; }
    std::uint32_t StatusCount() const noexcept { return m_statusCount; }
    std::int64_t StatusPosition() const noexcept { return m_statusPosition; }

private:
    std::uint32_t m_hasStatus = 0;
    std::uint32_t m_statusCode = 0;
    std::uint32_t m_statusSeverity = 0;
    std::uint32_t m_statusCount = 0;
    std::int64_t m_statusPosition = -1;
};

}  // namespace parser
