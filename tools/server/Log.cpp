#include "Log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace mediahost::server {
namespace {

std::mutex g_logLock;

}  // namespace

void Log(const std::string& line)
{
    std::string text = line;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    std::lock_guard guard(g_logLock);
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", local);
    std::fprintf(stderr, "%s %s\n", stamp, text.c_str());
    std::fflush(stderr);
}

}  // namespace mediahost::server
