// Helpers for the logging tests: private directories, files, a channel that
// records what it is given, and a configuration holding any factory.
#pragma once

#include "vsktest/TempDir.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "dedazodu/Factories.h"
#include "dedazodu/LogSysInfo.h"

namespace vsk_log_test {

using vsktest::CTempDir;

std::wstring UniqueName(const wchar_t* stem);
// Directory of the running test program.
inline std::filesystem::path ProgramDirectory()
{
    return vsktest::TestExecutableDirectory();
}
std::wstring ChildProgram();
void WriteFile(const std::wstring& path, const std::string& bytes);
std::string ReadFile(const std::wstring& path);
bool Exists(const std::wstring& path);
// Lines of text split at CR LF (a last piece without CR LF is kept as is).
std::vector<std::string> SplitLines(const std::string& text);
std::string Narrow(const std::wstring& text);  // the ANSI form the logs store

// Records every call; Write pieces are kept as given.
class CCaptureIO : public deDazOdu::Common::CReference<deDazOdu::ILogIO> {
public:
    int Lock() override;
    int Unlock() override;
    int WriteLine(const wchar_t* text) override;
    int Write(const wchar_t* text) override;
    void Flush() override;

    std::vector<std::wstring> Pieces();
    // Pieces joined and split at "\r\n".
    std::vector<std::wstring> Lines();
    int LockDepth();
    int Flushes();
    // While set, Write throws std::bad_alloc, as running out of memory would.
    void ThrowOnWrite(bool on);

private:
    std::recursive_mutex m_mutex;
    std::vector<std::wstring> m_pieces;
    int m_lockDepth = 0;
    int m_flushes = 0;
    bool m_throwOnWrite = false;
};

// A factory whose trace channel is one shared CCaptureIO.
class CCaptureFactory : public deDazOdu::Common::COutputLogSystemFactoryBase {
public:
    CCaptureFactory();
    deDazOdu::ILogIO* CreateIO(const wchar_t* name) override;
    CCaptureIO& Capture() { return *m_io.Get(); }

private:
    deDazOdu::Common::CRef<CCaptureIO> m_io;
};

// A configuration with the given factory and filters.
deDazOdu::Common::CRef<deDazOdu::CLogSysInfo> MakeInfo(deDazOdu::IOutputLogSystemFactory* factory);

// Trace line text without the CLog header "[key][date(time)]" (36 characters).
std::wstring WithoutTraceHeader(const std::wstring& line);

}  // namespace vsk_log_test
