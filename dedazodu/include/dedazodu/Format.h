// printf-style formatting into the library's fixed line buffers: the result
// is cut to the buffer's capacity (1023 units for messages, 255 for headers)
// and never fails; nothing is allocated for an argument, however long it is.
//
// A format means in both builds what it means to the Windows runtime's wide
// formatting (_vsnwprintf_s), so a caller's text prints the same everywhere:
// - %s and %c take wide text; %hs, %S, %hc and %C narrow text in the ANSI
//   code page; %ls, %ws, %lc and %wc wide text; a null string prints "(null)";
// - narrow text is converted one character at a time: a byte the code page
//   cannot convert shows as U+FFFD and the rest of the text is kept;
// - integer sizes hh, h, l, ll, L, I32, I64, I, z, j and t; %p prints every
//   hexadecimal digit of the pointer in upper case;
// - %n ends the text where it stands (the Windows runtime refuses it), and an
//   unknown conversion is copied as it is written.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace deDazOdu {

constexpr std::size_t LOG_MESSAGE_CHARS = 1023;
constexpr std::size_t LOG_HEADER_CHARS = 255;

// maxChars above LOG_MESSAGE_CHARS counts as LOG_MESSAGE_CHARS.
std::wstring FormatV(std::size_t maxChars, const wchar_t* format, va_list arguments);
std::wstring Format(std::size_t maxChars, const wchar_t* format, ...);

}  // namespace deDazOdu
