#include "dedazodu/OutputLogSystem.h"

#include <map>
#include <memory>

#include "dedazodu/ErrorLogIO.h"
#include "dedazodu/Format.h"
#include "dedazodu/Levels.h"
#include "dedazodu/Locks.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace deDazOdu {

namespace {

// One channel per trace log name and one writer per thread over it, for the
// life of the library.
struct STraceEntry {
    Common::CRef<ILogIO> io;
    std::map<unsigned, Common::CRef<ILog>> logs;
};

// The library instance's process-wide state: the log lock, the trace
// registry and the banner mutexes it holds (one per error-log path, in
// practice one). Made on first use. Static destruction never destroys it:
// the teardown registered with platform::AtModuleUnload does when the library
// is unloaded while the process goes on (trace files flushed and closed,
// writers released, banner mutexes closed, so a later load writes the banner
// again); at process exit it stays in place for threads that still log.
struct SLogState {
    Common::CCriticalSection lock;
    std::map<std::wstring, STraceEntry> traces;
    std::map<std::wstring, std::unique_ptr<platform::CNamedMutex>> banners;
};

void TearDownLogState();

union ULogStateHolder {
    ULogStateHolder() : state() { platform::AtModuleUnload(&TearDownLogState); }
    ~ULogStateHolder() {}  // the state stays; see above
    SLogState state;
};

SLogState& LogState()
{
    static ULogStateHolder holder;
    return holder.state;
}

void TearDownLogState()
{
    LogState().~SLogState();
}

Common::CCriticalSection& ProcessLogLock()
{
    return LogState().lock;
}

const wchar_t BANNER_RULE[] = L"-------------------------------------------------------------------------------";

const wchar_t DUMP_TOP[] = L"\x2530";
const wchar_t DUMP_BODY[] = L"\x2503";
const wchar_t DUMP_BOTTOM[] = L"\x2538";
constexpr std::uint32_t DUMP_LINE_MAX = 64;

bool IsBlankedDumpByte(unsigned char byte)
{
    return byte == 0 || byte == 7 || byte == 8 || byte == 9 || byte == 10 || byte == 12 || byte == 13;
}

}  // namespace

COutputLogSystem::COutputLogSystem(const wchar_t* name, ILogSysInfo* info, const wchar_t* errorLogPath,
                                   std::uint32_t errorLogMaxSize, bool errorLogKeepTail)
    : m_name(name != nullptr ? name : L""),
      m_errorLogPath(errorLogPath != nullptr ? errorLogPath : L""),
      m_errorLogMaxSize(errorLogMaxSize),
      m_errorLogKeepTail(errorLogKeepTail)
{
    if (info != nullptr) {
        m_factory = Common::CRef<IOutputLogSystemFactory>::Attach(info->GetFactory());
        m_filter = Common::CRef<ILogFilter>::Attach(info->GetLogFilter());
    }
}

COutputLogSystem::~COutputLogSystem() = default;

std::wstring COutputLogSystem::BannerMutexName(std::uint32_t processId, const std::wstring& path)
{
    std::wstring name = Format(LOG_MESSAGE_CHARS, L"DEDAZODU_ERRORLOG:%08X:", processId) + path;
    for (wchar_t& c : name) {
        if (c == L'\\' || c == L':' || c == L'.') {
            c = L'_';
        }
    }
    return name;
}

ILog* COutputLogSystem::ThreadLog()
{
    if (!m_factory) {
        return nullptr;
    }
    Common::CScopedLock guard(ProcessLogLock());
    const unsigned key = platform::CurrentThreadId();
    auto& registry = LogState().traces;
    auto entry = registry.find(m_name);
    if (entry == registry.end()) {
        entry = registry.emplace(m_name, STraceEntry {}).first;
        entry->second.io = Common::CRef<ILogIO>::Attach(m_factory->CreateIO(m_name.c_str()));
    }
    STraceEntry& trace = entry->second;
    if (!trace.io) {
        // The channel could not be made before; try again.
        trace.io = Common::CRef<ILogIO>::Attach(m_factory->CreateIO(m_name.c_str()));
        if (!trace.io) {
            return nullptr;
        }
    }
    auto log = trace.logs.find(key);
    if (log == trace.logs.end()) {
        Common::CRef<ILog> created = Common::CRef<ILog>::Attach(m_factory->CreateLog(key, trace.io.Get()));
        if (!created) {
            return nullptr;
        }
        log = trace.logs.emplace(static_cast<unsigned>(created->GetKey()), created).first;
    }
    return log->second.Get();
}

int COutputLogSystem::Print(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::wstring text = FormatV(LOG_MESSAGE_CHARS, format, arguments);
    va_end(arguments);
    return Write(text.c_str());
}

int COutputLogSystem::PrintSubject(const wchar_t* subject, int level, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::wstring text = FormatV(LOG_MESSAGE_CHARS, format, arguments);
    va_end(arguments);
    return WriteSubject(subject, level, text.c_str());
}

int COutputLogSystem::Write(const wchar_t* text)
{
    if (ILog* log = ThreadLog()) {
        log->WriteNow(text);
    }
    return LOG_S_OK;
}

int COutputLogSystem::WriteSubject(const wchar_t* subject, int level, const wchar_t* text)
{
    if (m_filter && m_filter->IsOutput(subject, level) == LOG_S_OK) {
        Write(text);
    }
    return LOG_S_OK;
}

int COutputLogSystem::Dump(const wchar_t* title, const void* data, std::uint32_t size, std::uint32_t nLineSize)
{
    auto frame = [&](const wchar_t* middle) {
        const Common::CBlockGuard<COutputLogSystem> block(*this);
        Write(DUMP_TOP);
        Print(L"%s[%s]", DUMP_BODY, title);
        Write(middle);
        Write(DUMP_BOTTOM);
    };
    if (!platform::IsReadableMemory(data, size)) {
        frame(L"\x2503" L"Bad read Pointer.");
        return LOG_E_POINTER;
    }
    if (nLineSize == 0 || nLineSize > DUMP_LINE_MAX) {
        frame(L"\x2503" L"Invalided Parameter : nLineSize == 0 || nLineSize > 64");
        return LOG_E_INVALIDARG;
    }
    const Common::CBlockGuard<COutputLogSystem> block(*this);
    Write(DUMP_TOP);
    Print(L"%s[%s]", DUMP_BODY, title);

    std::wstring hexRuler;
    std::wstring dashRuler;
    for (std::uint32_t i = 0; i < nLineSize; ++i) {
        if (i % 8 == 0) {
            hexRuler += L' ';
            dashRuler += L' ';
        }
        hexRuler += Format(8, L"%02X ", i);
        dashRuler += L"---";
    }
    Write(DUMP_BODY);
    Print(L"%ls%ls", DUMP_BODY, hexRuler.c_str());
    Print(L"%ls%ls", DUMP_BODY, dashRuler.c_str());

    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t consumed = 0;
    while (consumed < size) {
        std::wstring hex;
        std::string characters;
        for (std::uint32_t i = 0; i < nLineSize; ++i) {
            if (i % 8 == 0) {
                hex += L' ';
            }
            if (consumed < size) {
                const unsigned char byte = bytes[consumed++];
                hex += Format(8, L"%02X ", static_cast<unsigned>(byte));
                characters += IsBlankedDumpByte(byte) ? ' ' : static_cast<char>(byte);
            } else {
                hex += L"   ";
                characters += ' ';
            }
        }
        const std::wstring wideCharacters = platform::AnsiToWide(characters).substr(0, LOG_MESSAGE_CHARS);
        Print(L"%ls%ls    %ls", DUMP_BODY, hex.c_str(), wideCharacters.c_str());
    }
    Write(DUMP_BOTTOM);
    return LOG_S_OK;
}

int COutputLogSystem::DumpSubject(const wchar_t* subject, int level, const wchar_t* title, const void* data,
                                  std::uint32_t size, std::uint32_t nLineSize)
{
    if (m_filter && m_filter->IsOutput(subject, level) == LOG_S_OK) {
        Dump(title, data, size, nLineSize);
    }
    return LOG_S_OK;
}

int COutputLogSystem::ErrorPrintCode(int code, int reserved, const wchar_t* tag, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = ErrorPrintCodeV(code, reserved, tag, format, arguments);
    va_end(arguments);
    return result;
}

int COutputLogSystem::ErrorPrint(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::wstring text = FormatV(LOG_MESSAGE_CHARS, format, arguments);
    va_end(arguments);
    return ErrorWrite(text.c_str());
}

int COutputLogSystem::ErrorPrintCodeV(int code, int reserved, const wchar_t* tag, const wchar_t* format,
                                      va_list arguments)
{
    const std::wstring text = FormatV(LOG_MESSAGE_CHARS, format, arguments);
    return ErrorWriteCode(code, reserved, tag, text.c_str());
}

int COutputLogSystem::ErrorWriteCode(int code, int, const wchar_t* tag, const wchar_t* text)
{
    // A null tag or text prints "(null)", as the Windows runtime prints it.
    return ErrorPrint(L"%05d:[%s] %s", code, tag, text);
}

int COutputLogSystem::ErrorWrite(const wchar_t* text)
{
    Common::CScopedLock guard(ProcessLogLock());
    if (m_errorLogPath.empty() || !m_factory) {
        return LOG_S_OK;
    }
    Common::CRef<ILogIO> io = Common::CRef<ILogIO>::Attach(
        Common::New<COutputErrorLogIO>(m_errorLogPath.c_str(), m_errorLogMaxSize, m_errorLogKeepTail));
    if (!io) {
        return LOG_S_OK;
    }
    Common::CRef<ILog> writer = Common::CRef<ILog>::Attach(m_factory->CreateErrorLog(io.Get()));
    if (!writer) {
        return LOG_S_OK;
    }
    auto& banners = LogState().banners;
    const std::wstring bannerName = BannerMutexName(platform::CurrentProcessId(), m_errorLogPath);
    if (banners.find(bannerName) == banners.end()) {
        const Common::CBlockGuard<ILog> block(*writer.Get());
        auto mutex = std::make_unique<platform::CNamedMutex>();
        bool existed = false;
        if (mutex->Create(bannerName.c_str(), &existed)) {
            banners.emplace(bannerName, std::move(mutex));
            platform::SLocalTime created;
            if (!existed && platform::ProcessCreationLocalTime(created)) {
                const std::wstring exe = platform::ExecutablePath();
                writer->WriteAt(&created, BANNER_RULE);
                writer->WriteAt(&created, exe.c_str());
                writer->WriteAt(&created, BANNER_RULE);
            }
        }
    }
    io.Reset();  // the writer keeps the channel alive
    writer->WriteNow(text);
    return LOG_S_OK;
}

int COutputLogSystem::BeginBlock()
{
    ILog* log = ThreadLog();
    return log != nullptr ? log->BeginBlock() : LOG_S_OK;
}

int COutputLogSystem::EndBlock()
{
    ILog* log = ThreadLog();
    return log != nullptr ? log->EndBlock() : LOG_S_OK;
}

}  // namespace deDazOdu
