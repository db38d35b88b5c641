#include "HttpRules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace mediahost::http {
namespace {

// Large enough for any real value, small enough that arithmetic on it never
// overflows; a number above it is past every file and every duration.
constexpr std::uint64_t SATURATED = std::uint64_t{1} << 52;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool IsDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digits, saturating.
std::uint64_t Number(std::string_view digits)
{
    std::uint64_t value = 0;
    for (char c : digits)
        value = std::min(SATURATED, value * 10 + static_cast<std::uint64_t>(c - '0'));
    return value;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// "SS[.fff]" into milliseconds.
bool SecondsWithFraction(std::string_view text, std::uint64_t& ms)
{
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    if (!IsDigits(whole))
        return false;
    std::uint64_t fraction = 0;
    if (dot != std::string_view::npos) {
        const std::string_view digits = text.substr(dot + 1);
        if (!IsDigits(digits))
            return false;
        for (std::size_t i = 0; i < 3; ++i)
            fraction = fraction * 10 + (i < digits.size() ? static_cast<std::uint64_t>(digits[i] - '0') : 0);
    }
    ms = std::min(SATURATED, Number(whole) * 1000 + fraction);
    return true;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string& out, bool plusIsSpace)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            const char decoded = static_cast<char>(high * 16 + low);
            if (decoded == '\0')
                return false;
            out += decoded;
            i += 2;
        } else {
            out += plusIsSpace && c == '+' ? ' ' : c;
        }
    }
    return true;
}

std::string PercentEncode(std::string_view text)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += HEX[u >> 4];
            out += HEX[u & 15];
        }
    }
    return out;
}

bool IsSafeFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            return false;
    }
    if (name.back() == '.' || name.back() == ' ')
        return false;
    // Windows opens its devices under these names in every folder, with any
    // extension.
    const std::string_view stem = name.substr(0, name.find('.'));
    static constexpr std::string_view DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : DEVICES) {
        if (EqualsNoCase(Trim(stem), device))
            return false;
    }
    if (stem.size() == 4 && (EqualsNoCase(stem.substr(0, 3), "COM") || EqualsNoCase(stem.substr(0, 3), "LPT")) &&
        stem[3] >= '0' && stem[3] <= '9')
        return false;
    return true;
}

bool RequestedFile(std::string_view target, std::string& name, std::string& query)
{
    name.clear();
    query.clear();
    const std::size_t mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    if (mark != std::string_view::npos)
        query = std::string(target.substr(mark + 1));
    if (path.size() < 2 || path.front() != '/' || path.find('/', 1) != std::string_view::npos)
        return false;
    std::string decoded;
    if (!PercentDecode(path.substr(1), decoded) || !IsSafeFileName(decoded))
        return false;
    name = std::move(decoded);
    return true;
}

std::optional<std::string> QueryValue(std::string_view query, std::string_view key)
{
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        std::string decodedKey;
        if (!PercentDecode(pair.substr(0, eq), decodedKey, true) || decodedKey != key)
            continue;
        std::string value;
        if (eq != std::string_view::npos && !PercentDecode(pair.substr(eq + 1), value, true))
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

SByteRange ParseRange(std::string_view value, std::int64_t size)
{
    SByteRange range;
    value = Trim(value);
    const std::size_t eq = value.find('=');
    if (eq == std::string_view::npos || !EqualsNoCase(Trim(value.substr(0, eq)), "bytes"))
        return range;
    const std::string_view bytes = Trim(value.substr(eq + 1));
    const std::size_t dash = bytes.find('-');
    if (dash == std::string_view::npos || bytes.find(',') != std::string_view::npos)
        return range;
    const std::string_view a = Trim(bytes.substr(0, dash));
    const std::string_view b = Trim(bytes.substr(dash + 1));
    const auto fileSize = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
    if (a.empty()) {
        if (!IsDigits(b))
            return range;
        const std::uint64_t n = Number(b);
        if (n == 0 || fileSize == 0) {
            range.kind = SByteRange::UNSATISFIABLE;
            return range;
        }
        range.kind = SByteRange::VALID;
        range.first = static_cast<std::int64_t>(n >= fileSize ? 0 : fileSize - n);
        range.last = static_cast<std::int64_t>(fileSize - 1);
        return range;
    }
    if (!IsDigits(a) || (!b.empty() && !IsDigits(b)))
        return range;
    const std::uint64_t first = Number(a);
    const std::uint64_t last = b.empty() ? std::numeric_limits<std::uint64_t>::max() : Number(b);
    if (last < first)
        return range;
    if (first >= fileSize) {
        range.kind = SByteRange::UNSATISFIABLE;
        return range;
    }
    range.kind = SByteRange::VALID;
    range.first = static_cast<std::int64_t>(first);
    range.last = static_cast<std::int64_t>(std::min(last, fileSize - 1));
    return range;
}

bool ParseNptTime(std::string_view text, std::uint64_t& ms)
{
    const std::size_t firstColon = text.find(':');
    if (firstColon == std::string_view::npos)
        return SecondsWithFraction(text, ms);
    const std::size_t secondColon = text.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return false;
    const std::string_view hours = text.substr(0, firstColon);
    const std::string_view minutes = text.substr(firstColon + 1, secondColon - firstColon - 1);
    const std::string_view seconds = text.substr(secondColon + 1);
    std::uint64_t secondsMs = 0;
    if (!IsDigits(hours) || minutes.size() != 2 || !IsDigits(minutes) || seconds.size() < 2 ||
        !IsDigits(seconds.substr(0, 2)) || (seconds.size() > 2 && seconds[2] != '.') ||
        !SecondsWithFraction(seconds, secondsMs))
        return false;
    const std::uint64_t m = Number(minutes);
    if (m >= 60 || secondsMs >= 60000)
        return false;
    ms = std::min(SATURATED, Number(hours) * 3600000 + m * 60000 + secondsMs);
    return true;
}

STimeRange ParseTimeSeekRange(std::string_view value)
{
    STimeRange range;
    value = Trim(value);
    const std::size_t eq = value.find('=');
    if (eq == std::string_view::npos || !EqualsNoCase(Trim(value.substr(0, eq)), "npt"))
        return range;
    const std::string_view times = Trim(value.substr(eq + 1));
    const std::size_t dash = times.find('-');
    if (dash == std::string_view::npos)
        return range;
    if (!ParseNptTime(Trim(times.substr(0, dash)), range.startMs))
        return range;
    const std::string_view end = Trim(times.substr(dash + 1));
    if (!end.empty()) {
        std::uint64_t endMs = 0;
        if (!ParseNptTime(end, endMs))
            return range;
        range.endMs = endMs;
    }
    range.valid = true;
    return range;
}

std::string FormatNpt(std::uint64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

std::string ContentFeatures(std::string_view profileName, bool timeSeek)
{
    std::string features;
    if (!profileName.empty())
        features.append("DLNA.ORG_PN=").append(profileName).append(";");
    features.append(timeSeek ? "DLNA.ORG_OP=11" : "DLNA.ORG_OP=01");
    features.append(";DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000");
    return features;
}

}  // namespace mediahost::http
