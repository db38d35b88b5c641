#include "platform/codepage.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace platform {

std::string WideToAnsi(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    std::mbstate_t state {};
    char piece[MB_LEN_MAX];
    for (wchar_t wc : text) {
        const std::size_t n = std::wcrtomb(piece, wc, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t {};
            out.push_back('?');
        } else {
            out.append(piece, n);
        }
    }
    return out;
}

std::wstring AnsiToWide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    std::mbstate_t state {};
    std::size_t i = 0;
    while (i < text.size()) {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            // Like MultiByteToWideChar without MB_ERR_INVALID_CHARS: one
            // replacement per bad byte, then carry on.
            state = std::mbstate_t {};
            out.push_back(L'\xFFFD');
            ++i;
        } else if (n == 0) {
            out.push_back(L'\0');
            ++i;
        } else {
            out.push_back(wc);
            i += n;
        }
    }
    return out;
}

std::size_t WideToAnsiBuffer(std::wstring_view text, char* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0) {
        return 0;
    }
    std::size_t used = 0;
    std::mbstate_t state {};
    char piece[MB_LEN_MAX];
    for (wchar_t wc : text) {
        std::size_t n = std::wcrtomb(piece, wc, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t {};
            piece[0] = '?';
            n = 1;
        }
        if (used + n > outSize - 1) {
            break;
        }
        std::memcpy(out + used, piece, n);
        used += n;
    }
    out[used] = '\0';
    return used;
}

bool IsAnsiLeadByte(unsigned char byte)
{
    if (MB_CUR_MAX == 1) {
        return false;
    }
    std::mbstate_t state {};
    const char c = static_cast<char>(byte);
    return std::mbrlen(&c, 1, &state) == static_cast<std::size_t>(-2);
}

std::size_t AnsiCharLength(const char* text, std::size_t available)
{
    if (text == nullptr || available == 0) {
        return 0;
    }
    if (MB_CUR_MAX == 1) {
        return 1;
    }
    std::mbstate_t state {};
    const std::size_t n = std::mbrlen(text, available, &state);
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
        return 1;
    }
    return n;
}

std::size_t AnsiCharToWide(const char* text, std::size_t length, wchar_t* out)
{
    std::mbstate_t state {};
    wchar_t wc = 0;
    const std::size_t n = length == 0 ? 0 : std::mbrtowc(&wc, text, length, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n != length) {
        out[0] = L'\xFFFD';
    } else {
        out[0] = wc;  // 0 for a NUL byte
    }
    return 1;
}

}  // namespace platform
