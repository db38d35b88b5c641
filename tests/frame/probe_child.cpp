// Runs the parser-library probe in a process of its own, since the probe's
// answer is fixed for the life of a process. Arguments: one or two directory
// texts, each given to one probe call in turn. The exit code has bit 0 set
// when the first call answered true and bit 1 for the second; 100 means the
// child could not set itself up. Log lines go to "vesk.log" beside the child,
// through the configuration the child writes there.
#include "frame/AppLog.h"
#include "frame/ParserLibrary.h"
#include "platform/com.h"
#include "platform/paths.h"

#include <fstream>
#include <string>

namespace {

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (; *text != '\0'; ++text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 100;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const platform::SPathParts self = platform::SplitPath(platform::ExecutablePath().c_str());
    const std::wstring directory = self.drive + self.directory;
    {
        std::ofstream config(std::string(directory.begin(), directory.end()) + "vesk.middle.VeskMpeg2Transcoder.applog.xml",
                             std::ios::binary);
        config << "<LOGCONFIG><FILTERLIST><FILTER subject=\"Default\" minLevel=\"0\" maxLevel=\"4\"/></FILTERLIST></LOGCONFIG>";
        if (!config)
            return 100;
    }
    g_appLog = deDazOdu::CreateAppLog(L"Default", L"vesk.middle.VeskMpeg2Transcoder");
    int result = 0;
    if (frame::IsParserLibraryAvailable(Widen(argv[1])))
        result |= 1;
    if (argc > 2 && frame::IsParserLibraryAvailable(Widen(argv[2])))
        result |= 2;
    deDazOdu::DestroyAppLog(g_appLog);
    CoUninitialize();
    return result;
}
