#include "platform/machine.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <fstream>

#include "utf8.h"

namespace platform {

std::wstring HostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return detail::FromUtf8(name);
}

std::wstring MachineId()
{
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream file(path);
        std::string id;
        if (file >> id && !id.empty())
            return detail::FromUtf8(id);
    }
    return {};
}

std::wstring SystemVersion()
{
    utsname names{};
    if (::uname(&names) != 0)
        return L"Linux/0";
    // "6.1.0-18-amd64" -> "6.1.0": the release as a version, without the
    // build's own suffix, which may hold characters a header token may not.
    std::string release = names.release;
    const auto end = release.find_first_not_of("0123456789.");
    release = release.substr(0, end);
    return detail::FromUtf8(std::string(names.sysname) + "/" + (release.empty() ? "0" : release));
}

}  // namespace platform
