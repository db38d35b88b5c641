// Files as the component and its logs use them: opened by wide path, 64-bit
// sizes and positions, one handle per object (platform::CFile closes on
// destruction).
//
// Sharing. Windows opens each mode with a share mode (see EFileMode). POSIX has
// no share modes; the POSIX layer emulates them among cooperating processes
// with flock() on the open file: a read-only open takes a shared lock, every
// open with write access takes an exclusive lock, both without waiting, and
// the open fails when the lock is refused. For the three modes below this
// gives exactly the Windows answers (readers coexist; a writer excludes every
// other open and is refused while any other open exists). Programs that do not
// use flock are not held off: on Linux "another program keeps the file open"
// does not make writes fail.
//
// Paths on POSIX are converted from wchar_t to UTF-8 (not the locale's
// character set): the file system stores bytes and every other piece of the
// system names files in UTF-8; characters that cannot be encoded make the
// open fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// True where share modes also hold off programs that know nothing of them.
#ifdef _WIN32
inline constexpr bool OS_HAS_SHARE_MODES = true;
#else
inline constexpr bool OS_HAS_SHARE_MODES = false;
#endif

enum class EFileMode {
    // GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING.
    READ_SHARED,
    // GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, sequential-scan hint.
    WRITE_SHARE_READ,
    // GENERIC_READ | GENERIC_WRITE, no sharing, OPEN_ALWAYS, sequential-scan hint.
    READ_WRITE_EXCLUSIVE,
};

class CFile {
public:
    CFile() = default;
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Closes any file held, then opens. False on failure (nothing held then).
    bool Open(const wchar_t* path, EFileMode mode);
    bool IsOpen() const;
    void Close();

    // Bytes read (0 at the end of the file), or -1 on failure.
    std::int64_t Read(void* buffer, std::size_t size);
    // Bytes written, or -1 on failure.
    std::int64_t Write(const void* buffer, std::size_t size);
    // Absolute move. A position beyond the end succeeds; a negative one fails.
    bool Seek(std::int64_t position);
    bool SeekToEnd();
    // Current position, or -1.
    std::int64_t Position() const;
    // Size in bytes, or -1.
    std::int64_t Size() const;
    // Makes the current position the end of the file.
    bool Truncate();
    bool Flush();

private:
#ifdef _WIN32
    void* m_handle = nullptr;  // INVALID_HANDLE_VALUE is never stored
#else
    int m_fd = -1;
#endif
};

// For tests of what callers do when a read fails: while an object lives,
// every CFile::Read on the thread that made it fails (returns -1) and leaves
// the file position where it was.
class CReadFailureScope {
public:
    CReadFailureScope();
    ~CReadFailureScope();
    CReadFailureScope(const CReadFailureScope&) = delete;
    CReadFailureScope& operator=(const CReadFailureScope&) = delete;
};

namespace detail {
bool ReadsFail();
}

}  // namespace platform
