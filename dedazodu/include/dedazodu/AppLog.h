// The component's application log: a subject and an application name, and
// the log system built on first use from the configuration file found next
// to the host executable ("<appName>.applog.xml", else "l4v.applog.xml"),
// which writes error-log lines to "vesk.log" beside it. Without a
// configuration file nothing is written and no file appears.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "Locks.h"
#include "OutputLogSystem.h"

namespace deDazOdu {

class CAppLog {
public:
    CAppLog(const wchar_t* subject, const wchar_t* appName);
    ~CAppLog();
    CAppLog(const CAppLog&) = delete;
    CAppLog& operator=(const CAppLog&) = delete;

    // Builds the system on the first call (the configuration is looked for
    // once); null when it cannot be built, and the next call tries again.
    COutputLogSystem* GetOutputLogSystem();
    const std::wstring& Subject() const { return m_subject; }

private:
    std::wstring m_subject;
    std::wstring m_appName;
    std::unique_ptr<COutputLogSystem> m_system;
    Common::CCriticalSection m_lock;
};

// Appends " {file,line}" to message and writes it to the error log when the
// filter lets subject and level through. Does nothing for a null log.
void WriteAppLog(CAppLog*& log, std::wostringstream& message, int level, const char* file, int line);

// For the component's load and unload code, which owns the pointer: creation
// gives null when memory is exhausted; destruction nulls the pointer.
CAppLog* CreateAppLog(const wchar_t* subject, const wchar_t* appName);
void DestroyAppLog(CAppLog*& log);

// The error-log size cap the application log uses.
constexpr std::uint32_t APPLOG_ERROR_LOG_MAX_SIZE = 0xA00000;

}  // namespace deDazOdu
