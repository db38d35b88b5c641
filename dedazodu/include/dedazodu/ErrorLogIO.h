// The error-log channel: one shared text file written one line at a time by
// every process and library instance that logs to it. Each outermost Lock
// takes the file mutex ("COutputErrorLogIO::" + file title) and opens the
// file without sharing; the matching Unlock applies the size rule (move to
// ".bak", or cut whole lines from the front when keepTail is set), closes
// the file and releases the mutex.
//
// Text is stored in the ANSI code page (on Linux the current C locale's
// character set, see platform/codepage.h), and keep-tail trimming steps over
// multi-byte characters of that character set as units. A trim that cannot
// read the whole file leaves it untouched (and open) for the next close to
// retry; the next line is appended at the end all the same.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Interfaces.h"
#include "Locks.h"
#include "platform/file.h"

namespace deDazOdu {

class COutputErrorLogIO : public Common::CReference<ILogIO> {
public:
    COutputErrorLogIO(const wchar_t* path, std::uint32_t maxSize, bool keepTail);
    ~COutputErrorLogIO() override;

    int Lock() override;
    int Unlock() override;
    int WriteLine(const wchar_t* text) override;
    int Write(const wchar_t* text) override;
    void Flush() override {}

    static std::wstring FileMutexName(const std::wstring& path);

private:
    void Open();
    void Close();

    std::wstring m_path;
    std::unique_ptr<Common::CMutex> m_mutex;
    platform::CFile m_file;
    int m_holdCount = 0;
    std::uint32_t m_maxSize;
    bool m_keepTail;
};

}  // namespace deDazOdu
