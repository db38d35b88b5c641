// Wall-clock time in the local zone, as the logs stamp their lines.
#pragma once

#include <cstdint>

namespace platform {

// The fields of a Win32 SYSTEMTIME (day of week omitted).
struct SLocalTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

SLocalTime LocalTimeNow();

// Creation time of the current process in local time. Linux: boot time from
// /proc/stat plus the start time from /proc/self/stat (clock-tick precision),
// so repeated calls give the same answer.
bool ProcessCreationLocalTime(SLocalTime& time);

}  // namespace platform
