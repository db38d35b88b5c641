// A read cursor with bit resolution over a byte range that it does not own.
// Every piece of MPEG syntax in the library is read through it. Nothing here
// throws; the checked operations report failure by their result and leave the
// cursor alone, the unchecked ones (PeekBits, ReadBits, SkipBits, ReadBytes,
// PeekBytes) trust the caller to have asked HasBytes first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

// The first byte of every transport packet.
inline constexpr std::uint8_t TS_SYNC_BYTE = 0x47;

class CBitstream
{
public:
    CBitstream() = default;
    CBitstream(const CBitstream&) = delete;
    CBitstream& operator=(const CBitstream&) = delete;
    virtual ~CBitstream() = default;

    // Reads the bytes [data, data + length) from their first byte on.
    void Attach(const std::uint8_t* data, std::size_t length) noexcept;

    bool HasBytes(std::size_t n) const noexcept
    {
        return Valid() && static_cast<std::size_t>(m_end - m_cursor) >= n;
    }

    // 1 <= n and BitOffset() + n <= 32.
    std::uint32_t PeekBits(std::uint32_t n) const noexcept;
    std::uint32_t ReadBits(std::uint32_t n) noexcept;
    void SkipBits(std::uint32_t n) noexcept;

    // n <= 4 whole bytes from the cursor, big-endian; the bit offset is ignored
    // and kept.
    std::uint32_t ReadBytes(std::uint32_t n) noexcept;
    std::uint32_t PeekBytes(std::uint32_t n) const noexcept;

    void Rewind() noexcept;
    bool SeekFromStart(std::size_t n) noexcept;

    // Offset from the start of the first 0x47 byte at or after the cursor (the
    // cursor is left on it), or -1 with the cursor at the end.
    std::int64_t FindSyncByte() noexcept;

    // 0x100 + the code byte of the next 00 00 01 xx (cursor on the first 00),
    // or -1. A search that ends inside an unfinished prefix leaves the cursor
    // on it, so the search resumes there once more data has been appended.
    std::int32_t FindStartCode() noexcept;
    // Bytes at the end of the range, from the cursor on, that may begin a
    // start code once more bytes follow (00, 00 00 or 00 00 01): 0 to 3.
    std::size_t UnfinishedStartCodeLength() const noexcept;

    const std::uint8_t* Start() const noexcept { return m_start; }
    const std::uint8_t* Cursor() const noexcept { return m_cursor; }
    const std::uint8_t* End() const noexcept { return m_end; }
    std::uint32_t BitOffset() const noexcept { return m_bitOffset; }
    // Bytes from the cursor to the end (0 when the range is broken).
    std::size_t Remaining() const noexcept { return Valid() ? static_cast<std::size_t>(m_end - m_cursor) : 0; }
    // Offset of the cursor from the start.
    std::size_t Offset() const noexcept { return static_cast<std::size_t>(m_cursor - m_start); }

    // Moves the cursor n bytes on, within the range (false and no move
    // otherwise); the bit offset is cleared.
    bool Advance(std::size_t n) noexcept;

protected:
    bool Valid() const noexcept { return m_start != nullptr && m_start <= m_cursor && m_cursor <= m_end; }

    std::uint8_t* m_start = nullptr;
    std::uint8_t* m_cursor = nullptr;
    std::uint8_t* m_end = nullptr;
    std::uint32_t m_bitOffset = 0;
};

}  // namespace parser
