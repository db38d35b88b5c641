// UTF-32 wide text <-> UTF-8 bytes for handing paths to the POSIX system.
// Bytes that are not valid UTF-8 decode to U+DC80..U+DCFF and encode back to
// the same byte, so any name the system gives round-trips.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

// False when text holds a code point that has no UTF-8 form.
bool ToUtf8(std::wstring_view text, std::string& out);
std::wstring FromUtf8(std::string_view text);

}  // namespace platform::detail
