#include "dedazodu/ErrorLogIO.h"

#include <new>
#include <vector>

#include "dedazodu/Format.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace deDazOdu {

namespace {

// Fewer bytes than this after a cut point are never kept on their own.
constexpr std::int64_t KEEP_TAIL_MIN = 4;

}  // namespace

std::wstring COutputErrorLogIO::FileMutexName(const std::wstring& path)
{
    return L"COutputErrorLogIO::" + platform::SplitPath(path.c_str()).name;
}

COutputErrorLogIO::COutputErrorLogIO(const wchar_t* path, std::uint32_t maxSize, bool keepTail)
    : m_path(path != nullptr ? path : L""), m_maxSize(maxSize), m_keepTail(keepTail)
{
    try {
        m_mutex = std::make_unique<Common::CMutex>(FileMutexName(m_path));
    } catch (const std::bad_alloc&) {
        // Without a mutex object the channel writes nothing.
    }
}

COutputErrorLogIO::~COutputErrorLogIO()
{
    Close();
}

int COutputErrorLogIO::Lock()
{
    if (!m_mutex) {
        return 1;
    }
    m_mutex->Lock();
    Common::CHeldLock held(*m_mutex);
    if (m_holdCount == 0) {
        Open();
    }
    held.Keep();
    return ++m_holdCount;
}

int COutputErrorLogIO::Unlock()
{
    if (!m_mutex) {
        return 0;
    }
    const Common::CHeldLock held(*m_mutex);
    if (m_holdCount > 0 && --m_holdCount == 0) {
        Close();
    }
    return m_holdCount;
}

int COutputErrorLogIO::Write(const wchar_t* text)
{
    if (!m_mutex) {
        return 0;
    }
    Common::CScopedLock guard(*m_mutex);
    const Common::CChannelLock hold(*this);
    int written = 0;
    if (m_file.IsOpen()) {
        char buffer[LOG_MESSAGE_CHARS + 1] = {};
        const std::size_t length = platform::WideToAnsiBuffer(text != nullptr ? text : L"", buffer, sizeof buffer);
        const std::int64_t n = m_file.Write(buffer, length);
        written = n < 0 ? 0 : static_cast<int>(n);
    }
    return written;
}

int COutputErrorLogIO::WriteLine(const wchar_t* text)
{
    if (!m_mutex) {
        return 0;
    }
    Common::CScopedLock guard(*m_mutex);
    const Common::CChannelLock hold(*this);
    int written = 0;
    if (m_file.IsOpen()) {
        written = Write(text);
        written += Write(L"\r\n");
    }
    return written;
}

void COutputErrorLogIO::Open()
{
    // A file still open from a close that could not trim it may stand
    // anywhere: every line goes to the end all the same.
    if (m_file.IsOpen() || (!m_path.empty() && m_file.Open(m_path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE))) {
        m_file.SeekToEnd();
    }
}

void COutputErrorLogIO::Close()
{
    if (!m_file.IsOpen()) {
        return;
    }
    const std::int64_t size = m_file.Size();
    const bool oversized = size > static_cast<std::int64_t>(m_maxSize);
    if (oversized && m_keepTail) {
        std::vector<char> content;
        try {
            content.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            return;  // stays open and untouched; the next close tries again
        }
        if (!m_file.Seek(0) || m_file.Read(content.data(), content.size()) != size) {
            return;  // likewise: never rewrite from a partial read
        }
        const char* p = content.data();
        const char* end = p + size;
        const auto left = [&] { return static_cast<std::int64_t>(end - p); };
        while (left() > static_cast<std::int64_t>(m_maxSize) && left() > KEEP_TAIL_MIN) {
            // Skip one line; a double-byte character is one unit, so its
            // trail byte is never taken for part of a CR LF.
            while (left() > KEEP_TAIL_MIN) {
                if (p[0] == '\r' && p[1] == '\n') {
                    p += 2;
                    break;
                }
                p += platform::AnsiCharLength(p, static_cast<std::size_t>(left()));
            }
        }
        m_file.Seek(0);
        if (left() > KEEP_TAIL_MIN) {
            m_file.Write(p, static_cast<std::size_t>(left()));
        }
        m_file.Truncate();
    }
    m_file.Close();
    if (oversized && !m_keepTail && platform::PathExists(m_path.c_str())) {
        const std::wstring bak = m_path + L".bak";
        platform::ClearReadOnly(bak.c_str());
        platform::DeletePath(bak.c_str());
        platform::MovePath(m_path.c_str(), bak.c_str());
    }
}

}  // namespace deDazOdu
