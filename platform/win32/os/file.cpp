#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace platform {

namespace {
HANDLE AsHandle(void* h)
{
    return h == nullptr ? INVALID_HANDLE_VALUE : static_cast<HANDLE>(h);
}
}  // namespace

CFile::~CFile()
{
    Close();
}

CFile::CFile(CFile&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

bool CFile::Open(const wchar_t* path, EFileMode mode)
{
    Close();
    if (path == nullptr || *path == L'\0') {
        return false;
    }
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    switch (mode) {
    case EFileMode::READ_SHARED:
        break;
    case EFileMode::WRITE_SHARE_READ:
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
        break;
    case EFileMode::READ_WRITE_EXCLUSIVE:
        access = GENERIC_READ | GENERIC_WRITE;
        share = 0;
        disposition = OPEN_ALWAYS;
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
        break;
    }
    HANDLE h = ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    m_handle = h;
    return true;
}

bool CFile::IsOpen() const
{
    return m_handle != nullptr;
}

void CFile::Close()
{
    if (m_handle != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

std::int64_t CFile::Read(void* buffer, std::size_t size)
{
    if (m_handle == nullptr || detail::ReadsFail()) {
        return -1;
    }
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 0x40000000));
        DWORD got = 0;
        if (!::ReadFile(AsHandle(m_handle), bytes + done, chunk, &got, nullptr)) {
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t CFile::Write(const void* buffer, std::size_t size)
{
    if (m_handle == nullptr) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 0x40000000));
        DWORD put = 0;
        if (!::WriteFile(AsHandle(m_handle), bytes + done, chunk, &put, nullptr) || put == 0) {
            return -1;
        }
        done += put;
    }
    return static_cast<std::int64_t>(done);
}

bool CFile::Seek(std::int64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = position;
    return m_handle != nullptr && position >= 0 && ::SetFilePointerEx(AsHandle(m_handle), to, nullptr, FILE_BEGIN);
}

bool CFile::SeekToEnd()
{
    LARGE_INTEGER zero {};
    return m_handle != nullptr && ::SetFilePointerEx(AsHandle(m_handle), zero, nullptr, FILE_END);
}

std::int64_t CFile::Position() const
{
    LARGE_INTEGER zero {};
    LARGE_INTEGER now {};
    if (m_handle == nullptr || !::SetFilePointerEx(AsHandle(m_handle), zero, &now, FILE_CURRENT)) {
        return -1;
    }
    return now.QuadPart;
}

std::int64_t CFile::Size() const
{
    LARGE_INTEGER size {};
    if (m_handle == nullptr || !::GetFileSizeEx(AsHandle(m_handle), &size)) {
        return -1;
    }
    return size.QuadPart;
}

bool CFile::Truncate()
{
    return m_handle != nullptr && ::SetEndOfFile(AsHandle(m_handle));
}

bool CFile::Flush()
{
    return m_handle != nullptr && ::FlushFileBuffers(AsHandle(m_handle));
}

}  // namespace platform
