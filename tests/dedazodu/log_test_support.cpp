#include "log_test_support.h"

#include <new>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vsk_log_test {

namespace fs = std::filesystem;
using namespace deDazOdu;

std::wstring UniqueName(const wchar_t* stem)
{
    static std::atomic<unsigned> counter {0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::wstring(stem) + L"-" + std::to_wstring(platform::CurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L"-" + std::to_wstring(ticks % 1000000007);
}

std::wstring ChildProgram()
{
    return (ProgramDirectory() / VSK_DEDAZODU_CHILD_NAME).wstring();
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path)
{
    std::error_code ignored;
    return fs::exists(fs::path(path), ignored);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Narrow(const std::wstring& text)
{
    return platform::WideToAnsi(text);
}

int CCaptureIO::Lock()
{
    m_mutex.lock();
    ++m_lockDepth;
    return 1;
}

int CCaptureIO::Unlock()
{
    --m_lockDepth;
    m_mutex.unlock();
    return 0;
}

int CCaptureIO::WriteLine(const wchar_t* text)
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_pieces.emplace_back(std::wstring(text) + L"\r\n");
    return 0;
}

void CCaptureIO::ThrowOnWrite(bool on)
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_throwOnWrite = on;
}

int CCaptureIO::Write(const wchar_t* text)
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    if (m_throwOnWrite) {
        throw std::bad_alloc();
    }
    m_pieces.emplace_back(text);
    return 0;
}

void CCaptureIO::Flush()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    ++m_flushes;
}

std::vector<std::wstring> CCaptureIO::Pieces()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_pieces;
}

std::vector<std::wstring> CCaptureIO::Lines()
{
    std::wstring all;
    for (const std::wstring& piece : Pieces()) {
        all += piece;
    }
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(all.substr(start));
            break;
        }
        lines.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int CCaptureIO::LockDepth()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_lockDepth;
}

int CCaptureIO::Flushes()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_flushes;
}

CCaptureFactory::CCaptureFactory() : m_io(Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>())) {}

ILogIO* CCaptureFactory::CreateIO(const wchar_t*)
{
    return Common::CRef<ILogIO>::Share(m_io.Get()).Detach();
}

Common::CRef<CLogSysInfo> MakeInfo(IOutputLogSystemFactory* factory)
{
    auto info = Common::CRef<CLogSysInfo>::Attach(Common::New<CLogSysInfo>());
    info->SetFactory(Common::CRef<IOutputLogSystemFactory>::Share(factory));
    return info;
}

std::wstring WithoutTraceHeader(const std::wstring& line)
{
    return line.size() >= 36 ? line.substr(36) : std::wstring();
}

}  // namespace vsk_log_test
