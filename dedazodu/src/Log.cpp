#include "dedazodu/Log.h"

#include "dedazodu/Format.h"
#include "platform/process.h"

namespace deDazOdu {

namespace {
constexpr int INDENT_MARKS_MAX = 63;
}

CLog::CLog(unsigned key, ILogIO* io) : m_io(Common::CRef<ILogIO>::Share(io)), m_key(key) {}

int CLog::Indent()
{
    ++m_indentDepth;
    return 0;
}

int CLog::Unindent()
{
    if (m_indentDepth > 0) {
        --m_indentDepth;
    }
    return 0;
}

int CLog::WriteAt(const SLogTime* time, const wchar_t* text)
{
    if (!m_io || time == nullptr) {
        return 0;
    }
    std::wstring header = Format(LOG_HEADER_CHARS, L"[%08X][%04d/%02d/%02d(%02d:%02d:%02d.%03d)]", m_key,
                                 time->year, time->month, time->day, time->hour, time->minute, time->second,
                                 time->milliseconds);
    for (int i = 1; i < m_indentDepth && i <= INDENT_MARKS_MAX; ++i) {
        header += L'\x2502';
    }
    const Common::CChannelLock hold(*m_io.Get());
    m_io->Write(header.c_str());
    m_io->Write(text != nullptr ? text : L"");
    m_io->Write(L"\r\n");
    return 0;
}

int CLog::WriteNow(const wchar_t* text)
{
    const SLogTime now = platform::LocalTimeNow();
    return WriteAt(&now, text);
}

int CLog::BeginBlock()
{
    ++m_blockDepth;
    if (m_io) {
        m_io->Lock();
    }
    return 0;
}

int CLog::EndBlock()
{
    --m_blockDepth;
    if (m_io) {
        if (m_blockDepth <= 0) {
            m_io->Flush();
        }
        m_io->Unlock();
    }
    return 0;
}

int CLog::GetKey()
{
    return static_cast<int>(m_key);
}

CErrorLog::CErrorLog(ILogIO* io) : m_io(Common::CRef<ILogIO>::Share(io)) {}

int CErrorLog::Indent()
{
    return 1;
}

int CErrorLog::Unindent()
{
    return 1;
}

int CErrorLog::BeginBlock()
{
    return 1;
}

int CErrorLog::EndBlock()
{
    return 1;
}

int CErrorLog::WriteAt(const SLogTime* time, const wchar_t* text)
{
    if (!m_io || time == nullptr) {
        return 0;
    }
    const Common::CChannelLock hold(*m_io.Get());
    const std::wstring header = Format(LOG_HEADER_CHARS, L"[%04d/%02d/%02d %02d:%02d:%02d.%03d][%X][%08X] ",
                                       time->year, time->month, time->day, time->hour, time->minute,
                                       time->second, time->milliseconds, platform::CurrentProcessId(),
                                       platform::CurrentThreadId());
    m_io->Write(header.c_str());
    m_io->Write(text != nullptr ? text : L"");
    m_io->Write(L"\r\n");
    return 0;
}

int CErrorLog::WriteNow(const wchar_t* text)
{
    const SLogTime now = platform::LocalTimeNow();
    return WriteAt(&now, text);
}

int CErrorLog::GetKey()
{
    return 0;
}

}  // namespace deDazOdu
