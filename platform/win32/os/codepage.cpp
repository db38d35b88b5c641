#include "platform/codepage.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace platform {

std::string WideToAnsi(std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

std::wstring AnsiToWide(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
    return out;
}

std::size_t WideToAnsiBuffer(std::wstring_view text, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0) {
        return 0;
    }
    const std::string converted = WideToAnsi(text);
    std::size_t used = 0;
    // Whole characters only: a lead byte whose trail byte does not fit is dropped.
    while (used < converted.size()) {
        const std::size_t n = AnsiCharLength(converted.data() + used, converted.size() - used);
        if (used + n > outSize - 1) {
            break;
        }
        used += n;
    }
    std::memcpy(out, converted.data(), used);
    out[used] = '\0';
    return used;
}

bool IsAnsiLeadByte(unsigned char byte)
{
    return ::IsDBCSLeadByte(byte) != FALSE;
}

std::size_t AnsiCharLength(const char* text, std::size_t available)
{
    if (text == nullptr || available == 0) {
        return 0;
    }
    return available >= 2 && IsAnsiLeadByte(static_cast<unsigned char>(text[0])) ? 2 : 1;
}

std::size_t AnsiCharToWide(const char* text, std::size_t length, wchar_t* out)
{
    const int n = length == 0 ? 0
                              : ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                                      out, 2);
    if (n <= 0) {
        out[0] = L'\xFFFD';
        return 1;
    }
    return static_cast<std::size_t>(n);
}

}  // namespace platform
