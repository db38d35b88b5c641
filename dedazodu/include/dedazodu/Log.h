// The two line writers. CLog writes trace lines for one thread (header with
// the thread key and the time, indentation marks, blocks that hold the
// channel); CErrorLog writes error-log lines (header with time, process and
// thread id). Both write header, text and CR LF through the channel's Write
// under one Lock ... Unlock.
#pragma once

#include "Interfaces.h"

namespace deDazOdu {

class CLog : public Common::CReference<ILog> {
public:
    CLog(unsigned key, ILogIO* io);

    int Indent() override;
    int Unindent() override;
    int WriteAt(const SLogTime* time, const wchar_t* text) override;
    int WriteNow(const wchar_t* text) override;
    int BeginBlock() override;
    int EndBlock() override;
    int GetKey() override;

private:
    Common::CRef<ILogIO> m_io;
    int m_indentDepth = 0;
    int m_blockDepth = 0;
    unsigned m_key;
};

class CErrorLog : public Common::CReference<ILog> {
public:
    explicit CErrorLog(ILogIO* io);

    // These four do nothing and return 1.
    int Indent() override;
    int Unindent() override;
    int BeginBlock() override;
    int EndBlock() override;
    int WriteAt(const SLogTime* time, const wchar_t* text) override;
    int WriteNow(const wchar_t* text) override;
    // 0.
    int GetKey() override;

private:
    Common::CRef<ILogIO> m_io;
};

}  // namespace deDazOdu
