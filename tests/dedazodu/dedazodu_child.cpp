// Writes through the application log the way the component does, from
// wherever a test copied this program:
//   <program> <appName> <threads> <linesPerThread> <tag>
// Each thread writes, per index, one "[ERR]" line and one "[DBG]" line.
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dedazodu/AppLog.h"
#include "dedazodu/Levels.h"
#include "platform/xml.h"

int main(int argc, char** argv)
{
    if (argc < 5) {
        return 2;
    }
    const platform::CXmlThreadScope com;  // a host has COM running before it loads the component
    const std::wstring appName(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    const int threads = std::atoi(argv[2]);
    const int lines = std::atoi(argv[3]);
    const std::wstring tag(argv[4], argv[4] + std::char_traits<char>::length(argv[4]));

    deDazOdu::CAppLog* log = deDazOdu::CreateAppLog(L"Default", appName.c_str());
    if (log == nullptr) {
        return 3;
    }
    auto work = [&](int thread) {
        const platform::CXmlThreadScope threadCom;
        for (int i = 0; i < lines; ++i) {
            std::wostringstream error;
            error << L"[ERR] " << tag << L" t" << thread << L" n" << i;
            deDazOdu::WriteAppLog(log, error, deDazOdu::LOG_LEVEL_ERROR, "src\\child.cpp", 77);
            std::wostringstream debug;
            debug << L"[DBG] " << tag << L" t" << thread << L" n" << i;
            deDazOdu::WriteAppLog(log, debug, deDazOdu::LOG_LEVEL_DEBUG, "child.cpp", 78);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back(work, t);
    }
    work(0);
    for (std::thread& thread : pool) {
        thread.join();
    }
    deDazOdu::DestroyAppLog(log);
    return log == nullptr ? 0 : 4;
}
