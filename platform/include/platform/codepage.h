// Conversion between wide text and the system's ANSI code page, as the log
// files store text. Windows: CP_ACP through WideCharToMultiByte /
// MultiByteToWideChar; characters without a mapping become the code page's
// default character. Linux has no ANSI code page: the character set of the
// current C locale stands in (wcrtomb / mbrtowc; the "C" locale is ASCII),
// and unmapped characters become '?'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string WideToAnsi(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);

// Converts into out (capacity outSize, at least 1), never splitting a
// character, always NUL-terminated; returns the number of bytes stored before
// the NUL. What does not fit is cut.
std::size_t WideToAnsiBuffer(std::wstring_view text, char* out, std::size_t outSize);

// IsDBCSLeadByte for the ANSI code page (Linux: the byte starts a multi-byte
// character of the locale's character set).
bool IsAnsiLeadByte(unsigned char byte);

// Bytes of the character that starts at text: 2 for a lead byte followed by
// a trail byte on Windows; on Linux the length of a complete multi-byte
// character; 1 otherwise (also for a lead byte at the end).
std::size_t AnsiCharLength(const char* text, std::size_t available);

// Converts the one character of `length` bytes (as AnsiCharLength measures
// it) that starts at text into out, which has room for two units (a UTF-16
// surrogate pair); returns the units stored. A character the code page
// cannot convert becomes one U+FFFD, so a caller that converts text piece by
// piece keeps whatever follows a bad byte.
std::size_t AnsiCharToWide(const char* text, std::size_t length, wchar_t* out);

}  // namespace platform
