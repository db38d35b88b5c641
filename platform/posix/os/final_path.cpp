#include "platform/final_path.h"

#include <cstdlib>
#include <memory>

namespace platform {

std::filesystem::path FinalPath(const std::filesystem::path& path)
{
    if (path.empty())
        return {};
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::filesystem::path(resolved.get()) : std::filesystem::path();
}

bool IsHiddenBySystem(const std::filesystem::path&)
{
    return false;
}

}  // namespace platform
