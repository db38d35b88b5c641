#include "../StandInSettings.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace standin {
namespace {

std::optional<std::wstring> ReadWide(const char* name)
{
    std::wstring wname;
    for (const char* p = name; *p; ++p)
        wname.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    std::vector<wchar_t> buffer(128);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::wstring();
        }
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(n);
    }
}

}  // namespace

std::optional<std::string> ReadSetting(const char* name)
{
    const std::optional<std::wstring> v = ReadWide(name);
    if (!v)
        return std::nullopt;
    return ToUtf8(v->c_str());
}

bool AppendToFileNamedBy(const char* name, const std::string& line)
{
    const std::optional<std::wstring> path = ReadWide(name);
    if (!path || path->empty())
        return false;
    std::FILE* f = ::_wfopen(path->c_str(), L"ab");
    if (!f)
        return false;
    const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace standin
