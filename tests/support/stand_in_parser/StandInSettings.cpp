#include "StandInSettings.h"

#include <cerrno>
#include <cstdlib>

namespace standin {

std::optional<std::uint64_t> ParseNumber(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    const bool negative = text[0] == '-';
    const char* digits = text.c_str() + (negative ? 1 : 0);
    if (*digits == '\0' || *digits == '-' || *digits == '+' || *digits == ' ')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(digits, &end, 0);
    if (errno != 0 || end == digits || *end != '\0')
        return std::nullopt;
    return negative ? static_cast<std::uint64_t>(0) - v : static_cast<std::uint64_t>(v);
}

std::uint64_t NumberSetting(const char* name, std::uint64_t fallback)
{
    const std::optional<std::string> text = ReadSetting(name);
    if (!text)
        return fallback;
    return ParseNumber(*text).value_or(fallback);
}

std::string ToUtf8(const wchar_t* text)
{
    std::string out;
    if (!text)
        return out;
    for (const wchar_t* p = text; *p; ++p) {
        std::uint32_t cp = static_cast<std::uint32_t>(*p);
        if (sizeof(wchar_t) == 2) {
            cp &= 0xFFFFu;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                const std::uint32_t low = static_cast<std::uint32_t>(p[1]) & 0xFFFFu;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++p;
                } else {
                    cp = 0xFFFD;
                }
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
        }
        if (cp > 0x10FFFF)
            cp = 0xFFFD;
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
    return out;
}

}  // namespace standin
