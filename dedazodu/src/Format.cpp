#include "dedazodu/Format.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace deDazOdu {

std::wstring FormatV(std::size_t maxChars, const wchar_t* format, va_list arguments)
{
    if (format == nullptr) {
        return {};
    }
    // Runtimes disagree on what vswprintf leaves in a buffer that is too
    // small, so format into one that is large enough and cut afterwards.
    std::vector<wchar_t> buffer(maxChars + 2);
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<std::size_t>(n) < buffer.size()) {
            return std::wstring(buffer.data(), std::min(static_cast<std::size_t>(n), maxChars));
        }
        if (buffer.size() >= (std::size_t {1} << 24)) {
            return {};  // an argument the runtime cannot format at all
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring Format(std::size_t maxChars, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::wstring text = FormatV(maxChars, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace deDazOdu
