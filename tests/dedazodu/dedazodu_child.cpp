// Writes through the application log the way the component does, from
// wherever a test copied this program:
//   <program> <appName> <threads> <linesPerThread> <tag> [exit]
// Each thread writes, per index, one "[ERR]" line and one "[DBG]" line.
// With "exit" the threads then go on writing trace and error lines while the
// program returns from main: the process exits under them.
#include <atomic>
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
    // What the threads use lives in storage nothing destroys: with "exit"
    // they go on after main has returned, when its locals are gone, and
    // while static objects are destroyed. The tag stays where the program
    // got it.
    static int lines = 0;
    static const char* tag = nullptr;
    static std::atomic<int> written {0};
    static bool exitUnderThreads = false;
    static deDazOdu::CAppLog* log = nullptr;
    lines = std::atoi(argv[3]);
    tag = argv[4];

    log = deDazOdu::CreateAppLog(L"Default", appName.c_str());
    if (log == nullptr) {
        return 3;
    }
    exitUnderThreads = argc > 5 && std::string(argv[5]) == "exit";
    auto work = [](int thread) {
        const platform::CXmlThreadScope threadCom;
        for (int i = 0; i < lines || exitUnderThreads; ++i) {
            if (i == lines) {
                ++written;
            }
            std::wostringstream error;
            error << L"[ERR] " << tag << L" t" << thread << L" n" << i;
            deDazOdu::WriteAppLog(log, error, deDazOdu::LOG_LEVEL_ERROR, "src\\child.cpp", 77);
            std::wostringstream debug;
            debug << L"[DBG] " << tag << L" t" << thread << L" n" << i;
            deDazOdu::WriteAppLog(log, debug, deDazOdu::LOG_LEVEL_DEBUG, "child.cpp", 78);
            if (i >= lines) {
                log->GetOutputLogSystem()->Write(L"trace");
            }
        }
    };
    if (exitUnderThreads) {
        for (int t = 0; t < threads; ++t) {
            std::thread(work, t).detach();
        }
        while (written < threads) {
            std::this_thread::yield();
        }
        return 0;  // the application log stays, as a host's does at exit
    }
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
