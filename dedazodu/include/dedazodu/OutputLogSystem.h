// The log system: trace output through per-thread writers over the channel
// its factory makes (filtered by subject and level, with blocks and memory
// dumps), and the error log, one shared text file written line by line.
//
// Trace writers live in a per-process registry keyed by the trace log name
// (one channel per name, one writer per thread), kept until the library is
// unloaded. A process-wide lock serialises the registry and every error-log
// write. Operations are listed in slot order. Formats mean what they mean
// to the Windows runtime, in both builds (see Format.h): %s is wide text.
//
// Dump never touches memory it cannot read: the range is checked first
// (platform::IsReadableMemory; on Linux a per-page probe through a pipe,
// which reports EFAULT instead of faulting) and a bad range gets the "Bad
// read Pointer." frame.
//
// The banner is written once per process and error-log path: the banner
// mutexes are kept per path, so a second path in the same library instance
// gets a banner of its own.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "Interfaces.h"

namespace deDazOdu {

class COutputLogSystem {
public:
    // Keeps the factory and filter of info (with references of its own);
    // info itself is not kept.
    COutputLogSystem(const wchar_t* name, ILogSysInfo* info, const wchar_t* errorLogPath,
                     std::uint32_t errorLogMaxSize, bool errorLogKeepTail);
    virtual ~COutputLogSystem();
    COutputLogSystem(const COutputLogSystem&) = delete;
    COutputLogSystem& operator=(const COutputLogSystem&) = delete;

    virtual int Print(const wchar_t* format, ...);
    virtual int PrintSubject(const wchar_t* subject, int level, const wchar_t* format, ...);
    virtual int Write(const wchar_t* text);
    virtual int WriteSubject(const wchar_t* subject, int level, const wchar_t* text);
    virtual int Dump(const wchar_t* title, const void* data, std::uint32_t size, std::uint32_t nLineSize);
    virtual int DumpSubject(const wchar_t* subject, int level, const wchar_t* title, const void* data,
                            std::uint32_t size, std::uint32_t nLineSize);
    virtual int ErrorPrintCode(int code, int reserved, const wchar_t* tag, const wchar_t* format, ...);
    virtual int ErrorPrint(const wchar_t* format, ...);
    virtual int ErrorPrintCodeV(int code, int reserved, const wchar_t* tag, const wchar_t* format, va_list arguments);
    virtual int ErrorWriteCode(int code, int reserved, const wchar_t* tag, const wchar_t* text);
    virtual int ErrorWrite(const wchar_t* text);
    virtual int BeginBlock();
    virtual int EndBlock();

    // The filter (no reference added; lives as long as the system).
    ILogFilter* Filter() const { return m_filter.Get(); }
    IOutputLogSystemFactory* Factory() const { return m_factory.Get(); }
    const std::wstring& ErrorLogPath() const { return m_errorLogPath; }

    // The banner mutex name for an error-log path in this process.
    static std::wstring BannerMutexName(std::uint32_t processId, const std::wstring& path);

private:
    // The calling thread's trace writer (kept alive by the registry), or null.
    ILog* ThreadLog();

    std::wstring m_name;
    std::wstring m_errorLogPath;
    std::uint32_t m_errorLogMaxSize;
    bool m_errorLogKeepTail;
    Common::CRef<IOutputLogSystemFactory> m_factory;
    Common::CRef<ILogFilter> m_filter;
};

}  // namespace deDazOdu
