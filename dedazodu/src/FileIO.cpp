#include "dedazodu/FileIO.h"

#include <cwchar>
#include <string>

#include "dedazodu/Format.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace deDazOdu::File {

namespace {

constexpr std::size_t LOCATION_CHARS = 259;
constexpr int NUMBERED_NAME_LAST = 99;

std::wstring WithSeparator(std::wstring directory)
{
    if (directory.empty() || directory.back() != platform::PATH_SEPARATOR) {
        directory += platform::PATH_SEPARATOR;
    }
    return directory;
}

std::wstring ExecutableDirectory()
{
    const std::wstring exe = platform::ExecutablePath();
    const platform::SPathParts parts = platform::SplitPath(exe.c_str());
    return parts.drive + parts.directory;
}

// "<dir><name>-<stamp>.log", or empty when it exceeds the name buffer.
std::wstring TraceFileName(const std::wstring& directory, const std::wstring& name, const std::wstring& stamp)
{
    const platform::SPathParts parts = platform::SplitPath(directory.c_str());
    std::wstring file = parts.drive + parts.directory + name + L"-" + stamp + L".log";
    return file.size() <= FILE_NAME_CHARS ? file : std::wstring();
}

void AppendUtf16Le(std::string& bytes, const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        auto put = [&bytes](std::uint32_t unit) {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
        };
        if (c >= 0x10000 && c < 0x110000) {  // only where wchar_t is UTF-32
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c & 0xFFFF);
        }
    }
}

}  // namespace

std::wstring CFileIO::DirectoryFor(const std::wstring& configured)
{
    const std::wstring location = platform::ConfiguredPath(configured);
    if (location == L"desktop") {
        const std::wstring desktop = platform::DesktopFolder();
        if (!desktop.empty()) {
            return WithSeparator(desktop);
        }
    } else if (location.empty() || location == L"current") {
        // the executable's directory, below
    } else if (location.front() == L'.') {
        std::wstring directory = platform::AppendPath(ExecutableDirectory(), location);
        if (!platform::IsDirectory(directory.c_str())) {
            platform::CreateDirectories(directory.c_str());
        }
        if (platform::IsDirectory(directory.c_str())) {
            return WithSeparator(directory);
        }
    } else {
        std::wstring path = location.substr(0, LOCATION_CHARS);
        if (path.size() > 1 && path.back() == platform::PATH_SEPARATOR) {
            path.pop_back();
        }
        if (platform::PathExists(path.c_str())) {
            if (!platform::IsDirectory(path.c_str())) {
                const platform::SPathParts parts = platform::SplitPath(path.c_str());
                path = parts.drive + parts.directory;
            }
            return WithSeparator(path);
        }
    }
    return WithSeparator(ExecutableDirectory());
}

CFileIO::CFileIO(const wchar_t* name, bool autoflush, const wchar_t* location)
    : m_autoflush(autoflush), m_location(location != nullptr ? location : L"")
{
    const SLogTime now = platform::LocalTimeNow();
    const std::wstring stamp = Format(63, L"%04d-%02d-%02d [%02d-%02d-%02d]", now.year, now.month, now.day,
                                      now.hour, now.minute, now.second);
    const std::wstring logName = name != nullptr ? name : L"";
    m_fileName = TraceFileName(DirectoryFor(m_location), logName, stamp);
    if (m_fileName.empty()) {
        m_fileName = TraceFileName(WithSeparator(ExecutableDirectory()), logName, stamp);
    }
}

CFileIO::~CFileIO()
{
    if (m_file.IsOpen()) {
        m_file.Flush();
        m_file.Close();
    }
}

int CFileIO::Lock()
{
    return m_lock.Lock();
}

int CFileIO::Unlock()
{
    return m_lock.Unlock();
}

bool CFileIO::EnsureOpen()
{
    if (m_file.IsOpen()) {
        return true;
    }
    if (m_fileName.empty()) {
        return false;
    }
    if (platform::PathExists(m_fileName.c_str())) {
        const platform::SPathParts parts = platform::SplitPath(m_fileName.c_str());
        std::wstring numbered;
        for (int i = 1;; ++i) {
            numbered = Format(FILE_NAME_CHARS + 4, L"%ls%ls%ls[%02d]%ls", parts.drive.c_str(), parts.directory.c_str(),
                              parts.name.c_str(), i, parts.extension.c_str());
            if (!platform::PathExists(numbered.c_str()) || i >= NUMBERED_NAME_LAST) {
                break;
            }
        }
        m_fileName = numbered;
    }
    if (!m_file.Open(m_fileName.c_str(), platform::EFileMode::WRITE_SHARE_READ)) {
        return false;
    }
    m_file.SeekToEnd();
    return true;
}

int CFileIO::WriteLine(const wchar_t* text)
{
    Common::CScopedLock guard(m_lock);
    if (!EnsureOpen()) {
        return -1;
    }
    std::string bytes;
    AppendUtf16Le(bytes, text != nullptr ? text : L"");
    const std::size_t textBytes = bytes.size();
    AppendUtf16Le(bytes, L"\r\n");
    m_file.Write(bytes.data(), bytes.size());
    return static_cast<int>(textBytes);
}

int CFileIO::Write(const wchar_t* text)
{
    Common::CScopedLock guard(m_lock);
    if (!EnsureOpen()) {
        return -1;
    }
    char buffer[LOG_MESSAGE_CHARS + 1] = {};
    const std::size_t length = platform::WideToAnsiBuffer(text != nullptr ? text : L"", buffer, sizeof buffer);
    const std::int64_t written = m_file.Write(buffer, length);
    return written < 0 ? 0 : static_cast<int>(written);
}

void CFileIO::Flush()
{
    Common::CScopedLock guard(m_lock);
    if (m_file.IsOpen() && m_autoflush) {
        m_file.Flush();
    }
}

std::wstring CFileIO::FileName()
{
    Common::CScopedLock guard(m_lock);
    return m_fileName;
}

}  // namespace deDazOdu::File
