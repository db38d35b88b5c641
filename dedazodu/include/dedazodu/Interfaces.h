// The library's interfaces: line writers (ILog), output channels (ILogIO),
// factories that make both, the subject/level filter and the configuration.
// Operations listed in slot order; every returned object carries the one
// reference the caller owns.
#pragma once

#include "Locks.h"
#include "Reference.h"
#include "platform/time.h"

namespace deDazOdu {

// Time as the log headers print it (the fields of a SYSTEMTIME).
using SLogTime = platform::SLocalTime;

struct ILog : IReference {
    virtual int Indent() = 0;
    virtual int Unindent() = 0;
    virtual int WriteAt(const SLogTime* time, const wchar_t* text) = 0;
    virtual int WriteNow(const wchar_t* text) = 0;
    virtual int BeginBlock() = 0;
    virtual int EndBlock() = 0;
    virtual int GetKey() = 0;
};

struct ILogIO : IReference {
    virtual int Lock() = 0;
    virtual int Unlock() = 0;
    virtual int WriteLine(const wchar_t* text) = 0;
    virtual int Write(const wchar_t* text) = 0;
    virtual void Flush() = 0;
};

namespace Common {

// Holds a channel's lock for a scope: every lock of the library is taken
// through a guard, so a throw (memory running out, say) between Lock and
// Unlock cannot leave the channel locked for every other writer.
using CChannelLock = CLockGuard<ILogIO>;

// Holds a block (BeginBlock ... EndBlock) of a writer or a log system for a
// scope, for the same reason.
template <typename T>
class CBlockGuard {
public:
    explicit CBlockGuard(T& writer) : m_writer(writer) { m_writer.BeginBlock(); }
    ~CBlockGuard() { m_writer.EndBlock(); }
    CBlockGuard(const CBlockGuard&) = delete;
    CBlockGuard& operator=(const CBlockGuard&) = delete;

private:
    T& m_writer;
};

}  // namespace Common

struct IOutputLogSystemFactory : IReference {
    virtual ILogIO* CreateIO(const wchar_t* name) = 0;
    virtual ILog* CreateLog(unsigned key, ILogIO* io) = 0;
    virtual ILog* CreateErrorLog(ILogIO* io) = 0;
};

struct ILogFilter : IReference {
    // 0 when output is enabled, E_FAIL when not.
    virtual int IsOutput(const wchar_t* subject, int level) = 0;
    // 0 when at least one filter entry exists, else E_FAIL.
    virtual int HasFilter() = 0;
};

// Not an IReference: CReference<ILogSysInfo> adds the counting slots after these.
struct ILogSysInfo {
    virtual IOutputLogSystemFactory* GetFactory() = 0;
    virtual ILogFilter* GetLogFilter() = 0;

protected:
    ~ILogSysInfo() = default;
};

}  // namespace deDazOdu
