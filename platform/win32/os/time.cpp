#include "platform/time.h"

#include <windows.h>

namespace platform {

namespace {
SLocalTime FromSystemTime(const SYSTEMTIME& st)
{
    SLocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
}
}  // namespace

SLocalTime LocalTimeNow()
{
    SYSTEMTIME st {};
    ::GetLocalTime(&st);
    return FromSystemTime(st);
}

bool ProcessCreationLocalTime(SLocalTime& time)
{
    FILETIME creation {};
    FILETIME exitTime {};
    FILETIME kernel {};
    FILETIME user {};
    FILETIME local {};
    SYSTEMTIME st {};
    if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exitTime, &kernel, &user) ||
        !::FileTimeToLocalFileTime(&creation, &local) || !::FileTimeToSystemTime(&local, &st)) {
        return false;
    }
    time = FromSystemTime(st);
    return true;
}

}  // namespace platform
