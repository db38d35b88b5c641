#include "../StandInSettings.h"

#include <cstdio>
#include <cstdlib>

namespace standin {

std::optional<std::string> ReadSetting(const char* name)
{
    const char* v = std::getenv(name);
    if (!v)
        return std::nullopt;
    return std::string(v);
}

bool AppendToFileNamedBy(const char* name, const std::string& line)
{
    const char* path = std::getenv(name);
    if (!path || !*path)
        return false;
    std::FILE* f = std::fopen(path, "ab");
    if (!f)
        return false;
    const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace standin
