#include "frame/ParserLibrary.h"

#include "dedazodu/Levels.h"
#include "frame/ErrorBoundary.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "platform/sync.h"

namespace frame {
namespace {

// Source name and lines that the probe's debug lines carry in the log.
constexpr char PROBE_SOURCE[] = ".\\ParserLibrary";
constexpr int PROBE_LINE_CONFIGURED = 101;
constexpr int PROBE_LINE_OWN_DIRECTORY = 118;

struct SParserLibrary {
    platform::CDynamicLibrary library;
    PfnCreateVskMpegParser create = nullptr;
    PfnGetTimeSeekPosition timeSeek = nullptr;
    bool tried = false;
};

// Process-wide probe state. The lock is created with the component and lives
// until it is unloaded; the library itself is never unloaded.
platform::CCriticalSection g_parserProbeLock;
SParserLibrary g_parserLibrary;
bool g_parserProbeDone = false;
bool g_parserAvailable = false;

bool LoadFrom(const std::wstring& path)
{
    return !path.empty() && g_parserLibrary.library.Load(path.c_str());
}

// Loads the library where the host said, else beside the component, else by
// the system's search; called under g_parserProbeLock.
void LoadParserLibrary(const std::wstring& directory)
{
    SParserLibrary& lib = g_parserLibrary;
    if (lib.tried)
        return;
    lib.tried = true;
    const std::wstring fileName = ParserLibraryFileName();

    bool loaded = false;
    std::wstring path;
    if (!directory.empty())
        path = platform::AppendPath(directory, fileName);
    if (!path.empty() && platform::PathExists(path.c_str())) {
        LogAppMessage(deDazOdu::LOG_LEVEL_DEBUG, L"[SpecifiedExtensionPath][DelayLoad](path:" + path + L")",
                      PROBE_SOURCE, PROBE_LINE_CONFIGURED);
        loaded = LoadFrom(path);
    } else {
        const std::wstring own = platform::ModulePathFromAddress(reinterpret_cast<const void*>(&LoadParserLibrary));
        const size_t cut = own.find_last_of(platform::PATH_SEPARATOR);
        if (cut != std::wstring::npos) {
            LogAppMessage(deDazOdu::LOG_LEVEL_DEBUG, L"[SpecifiedExtensionPath][DelayLoad] no extension path",
                          PROBE_SOURCE, PROBE_LINE_OWN_DIRECTORY);
            loaded = LoadFrom(own.substr(0, cut + 1) + fileName);
        }
    }
    if (!loaded)
        loaded = LoadFrom(fileName);
    if (!loaded)
        return;
    lib.library.KeepLoaded();
    lib.create = reinterpret_cast<PfnCreateVskMpegParser>(lib.library.Symbol(VSK_PARSER_EXPORT_CREATE));
    lib.timeSeek = reinterpret_cast<PfnGetTimeSeekPosition>(lib.library.Symbol(VSK_PARSER_EXPORT_TIME_SEEK));
    if (lib.create == nullptr || lib.timeSeek == nullptr) {
        // A library without both entry points is not the parser library.
        lib.create = nullptr;
        lib.timeSeek = nullptr;
    }
}

}  // namespace

std::wstring ParserLibraryFileName()
{
    return std::wstring(VSK_PARSER_LIBRARY_BASE_NAME) + VSK_SHARED_LIBRARY_SUFFIX;
}

IVskMpegParser* TryCreateParser(const std::wstring& directory)
{
    platform::CCriticalSectionGuard guard(g_parserProbeLock);
    LoadParserLibrary(directory);
    if (g_parserLibrary.create == nullptr)
        return nullptr;
    IVskMpegParser* parser = nullptr;
    if (g_parserLibrary.create(&parser) != 0)
        return nullptr;
    return parser;
}

bool IsParserLibraryAvailable(const std::wstring& directory)
{
    platform::CCriticalSectionGuard guard(g_parserProbeLock);
    if (!g_parserProbeDone) {
        if (IVskMpegParser* parser = TryCreateParser(directory)) {
            parser->ReleaseParser();
            g_parserAvailable = true;
        }
        g_parserProbeDone = true;
    }
    return g_parserAvailable;
}

HRESULT CallGetTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                                std::uint32_t* foundTimeMs, std::int64_t* bytePosition)
{
    PfnGetTimeSeekPosition timeSeek = nullptr;
    {
        platform::CCriticalSectionGuard guard(g_parserProbeLock);
        timeSeek = g_parserLibrary.timeSeek;
    }
    if (timeSeek == nullptr)
        return E_FAIL;
    return static_cast<HRESULT>(timeSeek(path, durationMs, timeMs, flag, foundTimeMs, bytePosition));
}

}  // namespace frame
