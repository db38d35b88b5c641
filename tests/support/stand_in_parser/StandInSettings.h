// What the stand-in parser library reads from its environment at each call,
// and where it records calls. The operating-system part lives in posix/ and
// win32/; on Windows the process environment block is read, so a test that
// sets a variable with either the C runtime or the Win32 call is seen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace standin {

// The variable's value as UTF-8, or nothing when it is not set.
std::optional<std::string> ReadSetting(const char* name);

// Appends `line` to the file named by the variable `name`; false when the
// variable is not set or the file cannot be written.
bool AppendToFileNamedBy(const char* name, const std::string& line);

// A number in decimal, or hexadecimal with 0x; a leading minus is allowed.
// Values beyond 64 bits and text that is not a number give nothing.
std::optional<std::uint64_t> ParseNumber(const std::string& text);

// The variable read as a number, or `fallback` when unset or not a number.
std::uint64_t NumberSetting(const char* name, std::uint64_t fallback);

// UTF-8 form of wchar_t text (UTF-16 or UTF-32 by the width of wchar_t);
// unpaired surrogates become U+FFFD.
std::string ToUtf8(const wchar_t* text);

}  // namespace standin
