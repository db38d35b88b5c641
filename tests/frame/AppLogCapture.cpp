#include "AppLogCapture.h"

#include "frame/AppLog.h"
#include "platform/com.h"
#include "vsktest/TempDir.h"

#include <fstream>
#include <sstream>

namespace vsktest {
namespace {

constexpr char CONFIG_NAME[] = "vesk.middle.VeskMpeg2Transcoder.applog.xml";

}  // namespace

CAppLogCapture::CAppLogCapture(int minLevel, int maxLevel) : m_directory(TestExecutableDirectory())
{
    // The configuration is read through the platform's XML reader, which needs
    // COM on this thread in the Windows build.
    m_comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    std::ofstream config(m_directory / CONFIG_NAME, std::ios::binary | std::ios::trunc);
    config << "<?xml version=\"1.0\"?>\r\n<LOGCONFIG>\r\n  <FILTERLIST>\r\n    <FILTER subject=\"Default\" minLevel=\""
           << minLevel << "\" maxLevel=\"" << maxLevel << "\"/>\r\n  </FILTERLIST>\r\n</LOGCONFIG>\r\n";
    config.close();
    Clear();
    deDazOdu::DestroyAppLog(g_appLog);
    g_appLog = deDazOdu::CreateAppLog(L"Default", L"vesk.middle.VeskMpeg2Transcoder");
}

CAppLogCapture::~CAppLogCapture()
{
    deDazOdu::DestroyAppLog(g_appLog);
    std::error_code ec;
    std::filesystem::remove(m_directory / CONFIG_NAME, ec);
    Clear();
    if (m_comInitialised)
        CoUninitialize();
}

std::filesystem::path CAppLogCapture::LogPath() const
{
    return m_directory / "vesk.log";
}

void CAppLogCapture::Clear() const
{
    std::error_code ec;
    std::filesystem::remove(LogPath(), ec);
}

std::vector<std::string> CAppLogCapture::Lines() const
{
    std::vector<std::string> lines;
    std::ifstream in(LogPath(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> CAppLogCapture::Messages() const
{
    std::vector<std::string> messages;
    for (const std::string& line : Lines()) {
        // "[date time][pid][tid] text": the text starts after the third "] ".
        std::size_t pos = 0;
        for (int i = 0; i < 3 && pos != std::string::npos; ++i) {
            pos = line.find(']', pos);
            if (pos != std::string::npos)
                ++pos;
        }
        if (pos != std::string::npos && pos < line.size() && line[pos] == ' ')
            messages.push_back(line.substr(pos + 1));
    }
    return messages;
}

std::vector<std::string> CAppLogCapture::MessagesContaining(const std::string& text) const
{
    std::vector<std::string> found;
    for (const std::string& m : Messages()) {
        if (m.find(text) != std::string::npos)
            found.push_back(m);
    }
    return found;
}

}  // namespace vsktest
