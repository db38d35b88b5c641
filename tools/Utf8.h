// Text between the component (wide text: UTF-16 on Windows, UTF-32 on Linux),
// the command line and the network (UTF-8), and paths. std::filesystem's own
// wide conversion goes through the C locale on Linux, which knows no
// character beyond ASCII by default; these go through UTF-8 on both.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mediahost {

std::string ToUtf8(std::wstring_view text);
// Malformed bytes become U+FFFD.
std::wstring FromUtf8(std::string_view text);
// False for any broken, overlong or surrogate sequence.
bool IsValidUtf8(std::string_view text);

std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);
std::wstring WideFromPath(const std::filesystem::path& path);

}  // namespace mediahost
