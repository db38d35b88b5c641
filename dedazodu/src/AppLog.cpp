#include "dedazodu/AppLog.h"

#include <new>

#include "dedazodu/LogSysInfo.h"
#include "platform/paths.h"

namespace deDazOdu {

namespace {
const wchar_t TRACE_LOG_NAME[] = L"vesk.debug";
const wchar_t ERROR_LOG_FILE[] = L"vesk.log";
const wchar_t CONFIG_SUFFIX[] = L".applog.xml";
const wchar_t FALLBACK_CONFIG[] = L"l4v.applog.xml";
}  // namespace

CAppLog::CAppLog(const wchar_t* subject, const wchar_t* appName)
    : m_subject(subject != nullptr ? subject : L""), m_appName(appName != nullptr ? appName : L"")
{
}

CAppLog::~CAppLog() = default;

COutputLogSystem* CAppLog::GetOutputLogSystem()
{
    Common::CScopedLock guard(m_lock);
    if (m_system) {
        return m_system.get();
    }
    // The directory of the host executable (not the working directory).
    const std::wstring exe = platform::ExecutablePath();
    const platform::SPathParts parts = platform::SplitPath(exe.c_str());
    const std::wstring directory = parts.drive + parts.directory;

    std::wstring configFile;
    std::wstring errorLogPath;
    if (!directory.empty()) {
        for (const std::wstring& candidate : {directory + m_appName + CONFIG_SUFFIX, directory + FALLBACK_CONFIG}) {
            if (platform::PathExists(candidate.c_str())) {
                configFile = candidate;
                errorLogPath = directory + ERROR_LOG_FILE;
                break;
            }
        }
    }
    try {
        const Common::CRef<CLogSysInfoFromXML> info =
            Common::CRef<CLogSysInfoFromXML>::Attach(Common::New<CLogSysInfoFromXML>(configFile.c_str()));
        if (!info) {
            return nullptr;
        }
        m_system = std::make_unique<COutputLogSystem>(TRACE_LOG_NAME, info.Get(), errorLogPath.c_str(),
                                                      APPLOG_ERROR_LOG_MAX_SIZE, false);
    } catch (const std::bad_alloc&) {
        return nullptr;  // the next call tries again
    }
    return m_system.get();
}

void WriteAppLog(CAppLog*& log, std::wostringstream& message, int level, const char* file, int line)
{
    if (log == nullptr) {
        return;
    }
    message << L" {";
    for (const char* p = file != nullptr ? file : ""; *p != '\0'; ++p) {
        message << static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    message << L"," << line << L"}";
    COutputLogSystem* system = log->GetOutputLogSystem();
    if (system == nullptr || system->Filter() == nullptr) {
        return;
    }
    if (system->Filter()->IsOutput(log->Subject().c_str(), level) == 0) {
        system->ErrorWrite(message.str().c_str());
    }
}

CAppLog* CreateAppLog(const wchar_t* subject, const wchar_t* appName)
{
    return new (std::nothrow) CAppLog(subject, appName);
}

void DestroyAppLog(CAppLog*& log)
{
    delete log;
    log = nullptr;
}

}  // namespace deDazOdu
