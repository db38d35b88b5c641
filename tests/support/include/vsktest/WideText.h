// Conversions between wchar_t text (UTF-16 on Windows, UTF-32 elsewhere),
// UTF-8 and paths. std::filesystem converts wide text through the C locale on
// POSIX, which fails for anything beyond ASCII in the default "C" locale;
// these go through UTF-8 explicitly so non-ASCII paths work in both builds.
#pragma once

#include <filesystem>
#include <string>

namespace vsktest {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

std::filesystem::path PathFromWide(const std::wstring& text);
std::wstring WideFromPath(const std::filesystem::path& path);

}  // namespace vsktest
