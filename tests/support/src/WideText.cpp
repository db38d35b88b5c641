#include "vsktest/WideText.h"

#include <cstdint>
#include <type_traits>

namespace vsktest {
namespace {

constexpr bool WIDE_IS_UTF16 = sizeof(wchar_t) == 2;

void PutUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = static_cast<std::uint32_t>(text[i]);
        if (WIDE_IS_UTF16) {
            cp &= 0xFFFFu;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
                (static_cast<std::uint32_t>(text[i + 1]) & 0xFFFFu) >= 0xDC00 &&
                (static_cast<std::uint32_t>(text[i + 1]) & 0xFFFFu) <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + ((static_cast<std::uint32_t>(text[i + 1]) & 0xFFFFu) - 0xDC00);
                ++i;
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
        }
        if (cp > 0x10FFFF)
            cp = 0xFFFD;
        PutUtf8(out, cp);
    }
    return out;
}

std::wstring FromUtf8(const std::string& s)
{
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && cont(1)) {
            cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            n = 2;
        } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            n = 3;
        } else if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
            n = 4;
        }
        i += n;
        if (WIDE_IS_UTF16 && cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    }
    return out;
}

std::filesystem::path PathFromWide(const std::wstring& text)
{
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
        return std::filesystem::path(text);
    } else {
        const std::string utf8 = ToUtf8(text);
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    }
}

std::wstring WideFromPath(const std::filesystem::path& path)
{
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
        return path.wstring();
    } else {
        const std::u8string utf8 = path.u8string();
        return FromUtf8(std::string(utf8.begin(), utf8.end()));
    }
}

}  // namespace vsktest
