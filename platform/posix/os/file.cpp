#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "utf8.h"

namespace platform {

CFile::~CFile()
{
    Close();
}

CFile::CFile(CFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool CFile::Open(const wchar_t* path, EFileMode mode)
{
    Close();
    std::string narrow;
    if (path == nullptr || *path == L'\0' || !detail::ToUtf8(path, narrow)) {
        return false;
    }
    int flags = O_CLOEXEC;
    int lock = LOCK_EX;
    switch (mode) {
    case EFileMode::READ_SHARED:
        flags |= O_RDONLY;
        lock = LOCK_SH;
        break;
    case EFileMode::WRITE_SHARE_READ:
        flags |= O_WRONLY | O_CREAT;
        break;
    case EFileMode::READ_WRITE_EXCLUSIVE:
        flags |= O_RDWR | O_CREAT;
        break;
    }
    int fd;
    do {
        fd = ::open(narrow.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || ::flock(fd, lock | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    if (mode != EFileMode::READ_SHARED) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    m_fd = fd;
    return true;
}

bool CFile::IsOpen() const
{
    return m_fd >= 0;
}

void CFile::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);  // also drops the flock
        m_fd = -1;
    }
}

std::int64_t CFile::Read(void* buffer, std::size_t size)
{
    if (m_fd < 0 || detail::ReadsFail()) {
        return -1;
    }
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    // Like ReadFile on a disk file: only the end of the file makes a read short.
    while (done < size) {
        const ssize_t n = ::read(m_fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t CFile::Write(const void* buffer, std::size_t size)
{
    if (m_fd < 0) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool CFile::Seek(std::int64_t position)
{
    return m_fd >= 0 && position >= 0 && ::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool CFile::SeekToEnd()
{
    return m_fd >= 0 && ::lseek(m_fd, 0, SEEK_END) >= 0;
}

std::int64_t CFile::Position() const
{
    if (m_fd < 0) {
        return -1;
    }
    const off_t p = ::lseek(m_fd, 0, SEEK_CUR);
    return p < 0 ? -1 : static_cast<std::int64_t>(p);
}

std::int64_t CFile::Size() const
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool CFile::Truncate()
{
    const std::int64_t p = Position();
    return p >= 0 && ::ftruncate(m_fd, static_cast<off_t>(p)) == 0;
}

bool CFile::Flush()
{
    return m_fd >= 0 && ::fdatasync(m_fd) == 0;
}

}  // namespace platform
