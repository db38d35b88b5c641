// printf-style formatting into the library's fixed line buffers: the result
// is cut to the buffer's capacity (1023 units for messages, 255 for headers)
// and never fails. Wide text is formatted with %ls in both builds.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace deDazOdu {

constexpr std::size_t LOG_MESSAGE_CHARS = 1023;
constexpr std::size_t LOG_HEADER_CHARS = 255;

std::wstring FormatV(std::size_t maxChars, const wchar_t* format, va_list arguments);
std::wstring Format(std::size_t maxChars, const wchar_t* format, ...);

}  // namespace deDazOdu
