#include "platform/time.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

namespace {

SLocalTime FromEpoch(std::time_t seconds, long milliseconds)
{
    std::tm tm {};
    ::localtime_r(&seconds, &tm);
    SLocalTime t;
    t.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.day = static_cast<std::uint16_t>(tm.tm_mday);
    t.hour = static_cast<std::uint16_t>(tm.tm_hour);
    t.minute = static_cast<std::uint16_t>(tm.tm_min);
    t.second = static_cast<std::uint16_t>(tm.tm_sec);
    t.milliseconds = static_cast<std::uint16_t>(milliseconds);
    return t;
}

}  // namespace

SLocalTime LocalTimeNow()
{
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return FromEpoch(ts.tv_sec, ts.tv_nsec / 1000000);
}

bool ProcessCreationLocalTime(SLocalTime& time)
{
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses: fields follow the last ')'.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long startTicks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 22) {
            startTicks = std::stoull(field);
            break;
        }
    }
    std::ifstream bootFile("/proc/stat");
    std::string line;
    long long bootSeconds = -1;
    while (std::getline(bootFile, line)) {
        if (line.rfind("btime ", 0) == 0) {
            bootSeconds = std::stoll(line.substr(6));
            break;
        }
    }
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (bootSeconds < 0 || ticksPerSecond <= 0) {
        return false;
    }
    const auto tps = static_cast<unsigned long long>(ticksPerSecond);
    const auto seconds = static_cast<std::time_t>(bootSeconds + static_cast<long long>(startTicks / tps));
    const auto milliseconds = static_cast<long>((startTicks % tps) * 1000 / tps);
    time = FromEpoch(seconds, milliseconds);
    return true;
}

}  // namespace platform
