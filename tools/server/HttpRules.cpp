#include "HttpRules.h"

#include "Utf8.h"

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

// What follows "KEY=" (blanks around either allowed, the key in any case);
// nullopt for another key.
std::optional<std::string_view> AfterKey(std::string_view value, std::string_view key)
{
    value = Trim(value);
    const std::size_t eq = value.find('=');
    if (eq == std::string_view::npos || !EqualsNoCase(Trim(value.substr(0, eq)), key))
        return std::nullopt;
    return Trim(value.substr(eq + 1));
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

bool SplitTarget(std::string_view target, std::string& path, std::string& query)
{
    path.clear();
    query.clear();
    if (target == "*") {
        path = "*";
        return true;
    }
    const std::size_t scheme = target.find("://");
    if (scheme != std::string_view::npos && (EqualsNoCase(target.substr(0, scheme), "http") ||
                                             EqualsNoCase(target.substr(0, scheme), "https"))) {
        const std::string_view rest = target.substr(scheme + 3);
        const std::size_t pathStart = rest.find_first_of("/?");
        if (pathStart == 0)
            return false;  // no authority
        target = pathStart == std::string_view::npos ? std::string_view("/") : rest.substr(pathStart);
        if (target.front() == '?') {
            query = std::string(target.substr(1));
            path = "/";
            return true;
        }
    }
    if (target.empty() || target.front() != '/')
        return false;
    const std::size_t mark = target.find('?');
    path = std::string(target.substr(0, mark));
    if (mark != std::string_view::npos)
        query = std::string(target.substr(mark + 1));
    return true;
}

bool IsServableName(std::string_view name)
{
    if (name.empty() || name.front() == '.' || name.size() > 255 || !IsValidUtf8(name))
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

bool MediaSegments(std::string_view path, std::vector<std::string>& segments)
{
    segments.clear();
    if (path.substr(0, MEDIA_PREFIX.size()) != MEDIA_PREFIX)
        return false;
    std::string_view rest = path.substr(MEDIA_PREFIX.size());
    while (true) {
        const std::size_t slash = rest.find('/');
        std::string decoded;
        if (segments.size() == MAX_SEGMENTS || !PercentDecode(rest.substr(0, slash), decoded) ||
            !IsServableName(decoded)) {
            segments.clear();
            return false;
        }
        segments.push_back(std::move(decoded));
        if (slash == std::string_view::npos)
            return true;
        rest = rest.substr(slash + 1);
    }
}

std::string MediaPath(const std::vector<std::string>& segments)
{
    std::string path(MEDIA_PREFIX);
    for (std::size_t i = 0; i < segments.size(); ++i)
        path.append(i ? "/" : "").append(PercentEncode(segments[i]));
    return path;
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
    const std::optional<std::string_view> after = AfterKey(value, "bytes");
    if (!after)
        return range;
    const std::string_view bytes = *after;
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
    // Capped first: 2^52 hours in milliseconds would wrap past 2^64.
    const std::uint64_t h = std::min(Number(hours), SATURATED / 3600000);
    ms = std::min(SATURATED, h * 3600000 + m * 60000 + secondsMs);
    return true;
}

STimeRange ParseTimeSeekRange(std::string_view value)
{
    STimeRange range;
    const std::optional<std::string_view> after = AfterKey(value, "npt");
    if (!after)
        return range;
    const std::string_view times = *after;
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

SPlaySpeed ParsePlaySpeed(std::string_view value)
{
    SPlaySpeed speed;
    const std::optional<std::string_view> after = AfterKey(value, "speed");
    if (!after)
        return speed;
    std::string_view rate = *after;
    const bool negative = !rate.empty() && rate.front() == '-';
    if (negative)
        rate.remove_prefix(1);
    const std::size_t slash = rate.find('/');
    const std::string_view numerator = rate.substr(0, slash);
    const std::string_view denominator = slash == std::string_view::npos ? "1" : rate.substr(slash + 1);
    if (!IsDigits(numerator) || !IsDigits(denominator) || Number(denominator) == 0)
        return speed;
    speed.valid = true;
    speed.normal = !negative && Number(numerator) == Number(denominator) && Number(numerator) < SATURATED;
    return speed;
}

ETransferMode ParseTransferMode(std::string_view value)
{
    value = Trim(value);
    if (EqualsNoCase(value, "Streaming"))
        return ETransferMode::STREAMING;
    if (EqualsNoCase(value, "Interactive"))
        return ETransferMode::INTERACTIVE;
    if (EqualsNoCase(value, "Background"))
        return ETransferMode::BACKGROUND;
    return ETransferMode::UNKNOWN;
}

std::string DlnaFlags(std::uint32_t primary)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(primary));
    return std::string(text) + std::string(24, '0');
}

std::string ContentFeatures(std::string_view profileName, bool timeSeek)
{
    std::string features;
    if (!profileName.empty())
        features.append("DLNA.ORG_PN=").append(profileName).append(";");
    // OP: time seek, then byte ranges, which every resource answers.
    features.append(timeSeek ? "DLNA.ORG_OP=11" : "DLNA.ORG_OP=01");
    features.append(";DLNA.ORG_CI=0;DLNA.ORG_FLAGS=").append(DlnaFlags(dlna::SERVED_FLAGS));
    return features;
}

std::string HttpDate(std::int64_t unixSeconds)
{
    static constexpr const char* DAYS[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::int64_t seconds = std::max<std::int64_t>(unixSeconds, 0);
    const std::int64_t days = seconds / 86400;
    const std::int64_t inDay = seconds % 86400;
    // The civil date of a day count (proleptic Gregorian calendar, eras of
    // 400 years), so no C library time function and its shared state is
    // needed on the server's threads.
    const std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", DAYS[days % 7], static_cast<int>(day),
                  MONTHS[month - 1], static_cast<long long>(year), static_cast<int>(inDay / 3600),
                  static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return text;
}

}  // namespace mediahost::http
