// Child program for the cross-process mutex tests.
//   exists <name>                      exit 10 if the name existed, 11 if not
//   keep <name> <ready> <go>           create, signal ready, stay until go exists
//   hold <name> <ready> <go>           also own the mutex while staying
//   die <name> <ready>                 own the mutex and exit without releasing
//   count <name> <file> <n>            n times: own, read-increment-write file, release
//   create-exit <name>                 create, exit 12 without closing
//   check-arg <name> <text>            exit 20 if text arrived exactly as CHECK_ARG_TEXT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/sync.h"

namespace {

namespace fs = std::filesystem;

void Touch(const std::wstring& path)
{
    std::ofstream out(fs::path(path), std::ios::binary);
    out << "ready";
}

bool WaitFor(const std::wstring& path)
{
    for (int i = 0; i < 6000; ++i) {
        std::error_code ignored;
        if (fs::exists(fs::path(path), ignored)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::wstring Widen(const char* text)
{
    return fs::path(text).wstring();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return 2;
    }
    const std::string command = argv[1];
    const std::wstring name = Widen(argv[2]);
    platform::CNamedMutex mutex;
    bool existed = false;
    if (!mutex.Create(name.c_str(), &existed)) {
        return 3;
    }
    if (command == "exists") {
        return existed ? 10 : 11;
    }
    if (command == "check-arg" && argc >= 4) {
        return std::string(argv[3]) == "tricky \"quoted\" \\ value\\" ? 20 : 21;
    }
    if (command == "create-exit") {
        std::fflush(nullptr);
        std::_Exit(12);
    }
    if ((command == "keep" || command == "hold") && argc >= 5) {
        if (command == "hold" && mutex.Wait() == platform::EWaitResult::FAILED) {
            return 4;
        }
        Touch(Widen(argv[3]));
        const bool go = WaitFor(Widen(argv[4]));
        if (command == "hold") {
            mutex.Release();
        }
        return go ? 0 : 5;
    }
    if (command == "die" && argc >= 4) {
        if (mutex.Wait() == platform::EWaitResult::FAILED) {
            return 4;
        }
        Touch(Widen(argv[3]));
        std::_Exit(13);  // still owning the mutex
    }
    if (command == "count" && argc >= 5) {
        const std::wstring file = Widen(argv[3]);
        const int rounds = std::atoi(argv[4]);
        for (int i = 0; i < rounds; ++i) {
            if (mutex.Wait() == platform::EWaitResult::FAILED) {
                return 4;
            }
            long value = 0;
            {
                std::ifstream in {fs::path(file)};
                in >> value;
            }
            // Give a competitor every chance to interleave if the lock were broken.
            std::this_thread::yield();
            {
                std::ofstream out {fs::path(file), std::ios::trunc};
                out << value + 1;
            }
            if (!mutex.Release()) {
                return 6;
            }
        }
        return 0;
    }
    return 2;
}
