#include "dedazodu/Format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/codepage.h"

namespace deDazOdu {

namespace {

// Widths and precisions beyond this change nothing that fits in a line.
constexpr int FIELD_MAX = static_cast<int>(LOG_MESSAGE_CHARS) + 1;
const wchar_t NULL_TEXT[] = L"(null)";

// The line being formatted: characters past the capacity are dropped.
class CLine {
public:
    CLine(wchar_t* out, std::size_t capacity) : m_out(out), m_capacity(capacity) {}
    bool Full() const { return m_length >= m_capacity; }
    std::size_t Length() const { return m_length; }
    void Put(wchar_t c)
    {
        if (!Full()) {
            m_out[m_length++] = c;
        }
    }
    void Pad(int count)
    {
        for (int i = 0; i < count && !Full(); ++i) {
            Put(L' ');
        }
    }
    void PutAscii(const char* text, std::size_t n)
    {
        for (std::size_t i = 0; i < n && !Full(); ++i) {
            Put(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
        }
    }

private:
    wchar_t* m_out;
    std::size_t m_capacity;
    std::size_t m_length = 0;
};

enum class ESize { DEFAULT, CHAR, SHORT, LONG, LONG_LONG, SIZE, INTMAX, PTRDIFF, LONG_DOUBLE, WIDE, NARROW };

struct SSpec {
    std::string flags;  // as written, for the runtime's numeric formatting
    bool left = false;
    int width = 0;
    int precision = -1;  // none
    ESize size = ESize::DEFAULT;
    wchar_t conversion = 0;
};

// Reads a decimal field or '*' (taken from the arguments).
int ReadField(const wchar_t*& p, va_list* arguments, bool& fromArgument)
{
    fromArgument = false;
    if (*p == L'*') {
        ++p;
        fromArgument = true;
        return va_arg(*arguments, int);
    }
    int value = 0;
    while (*p >= L'0' && *p <= L'9') {
        value = std::min(value * 10 + (*p - L'0'), FIELD_MAX);
        ++p;
    }
    return value;
}

// Parses what follows a '%'; p ends on the character after the conversion.
SSpec ParseSpec(const wchar_t*& p, va_list* arguments)
{
    SSpec spec;
    for (; *p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0'; ++p) {
        spec.flags += static_cast<char>(*p);
        spec.left = spec.left || *p == L'-';
    }
    bool fromArgument = false;
    const int width = ReadField(p, arguments, fromArgument);
    if (width < 0) {  // a negative width from the arguments means '-'
        spec.left = true;
        spec.flags += '-';
    }
    spec.width = std::min(width < 0 ? -width : width, FIELD_MAX);
    if (*p == L'.') {
        ++p;
        const int precision = ReadField(p, arguments, fromArgument);
        spec.precision = precision < 0 ? -1 : std::min(precision, FIELD_MAX);
    }
    if (p[0] == L'h' && p[1] == L'h') {
        spec.size = ESize::CHAR, p += 2;
    } else if (p[0] == L'l' && p[1] == L'l') {
        spec.size = ESize::LONG_LONG, p += 2;
    } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
        spec.size = ESize::LONG_LONG, p += 3;
    } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
        spec.size = ESize::DEFAULT, p += 3;
    } else {
        switch (*p) {
        case L'h': spec.size = ESize::SHORT, ++p; break;
        case L'l': spec.size = ESize::LONG, ++p; break;
        case L'w': spec.size = ESize::WIDE, ++p; break;
        case L'L': spec.size = ESize::LONG_DOUBLE, ++p; break;
        case L'I': spec.size = ESize::PTRDIFF, ++p; break;
        case L't': spec.size = ESize::PTRDIFF, ++p; break;
        case L'z': spec.size = ESize::SIZE, ++p; break;
        case L'j': spec.size = ESize::INTMAX, ++p; break;
        default: break;
        }
    }
    spec.conversion = *p;
    if (*p != L'\0') {
        ++p;
    }
    return spec;
}

// The runtime's narrow formatting of one number, which gives the same
// digits in both builds; spec holds "%", flags, width, precision and size.
template <typename T>
void PutNumber(CLine& line, const SSpec& s, const char* size, T value)
{
    std::string spec = "%" + s.flags;
    if (s.width > 0) {
        spec += std::to_string(s.width);
    }
    if (s.precision >= 0) {
        spec += "." + std::to_string(s.precision);
    }
    spec += size;
    spec += static_cast<char>(s.conversion);
    char digits[FIELD_MAX + 400];
    const int n = std::snprintf(digits, sizeof digits, spec.c_str(), value);
    if (n > 0) {
        line.PutAscii(digits, std::min(static_cast<std::size_t>(n), sizeof digits - 1));
    }
}

void PutSigned(CLine& line, const SSpec& spec, va_list* arguments)
{
    long long value = 0;
    switch (spec.size) {
    case ESize::CHAR: value = static_cast<signed char>(va_arg(*arguments, int)); break;
    case ESize::SHORT: value = static_cast<short>(va_arg(*arguments, int)); break;
    case ESize::LONG: value = va_arg(*arguments, long); break;
    case ESize::LONG_LONG: value = va_arg(*arguments, long long); break;
    case ESize::SIZE: value = static_cast<long long>(va_arg(*arguments, std::size_t)); break;
    case ESize::INTMAX: value = va_arg(*arguments, std::intmax_t); break;
    case ESize::PTRDIFF: value = va_arg(*arguments, std::ptrdiff_t); break;
    default: value = va_arg(*arguments, int); break;
    }
    PutNumber(line, spec, "ll", value);
}

void PutUnsigned(CLine& line, const SSpec& spec, va_list* arguments)
{
    unsigned long long value = 0;
    switch (spec.size) {
    case ESize::CHAR: value = static_cast<unsigned char>(va_arg(*arguments, unsigned)); break;
    case ESize::SHORT: value = static_cast<unsigned short>(va_arg(*arguments, unsigned)); break;
    case ESize::LONG: value = va_arg(*arguments, unsigned long); break;
    case ESize::LONG_LONG: value = va_arg(*arguments, unsigned long long); break;
    case ESize::SIZE: value = va_arg(*arguments, std::size_t); break;
    case ESize::INTMAX: value = va_arg(*arguments, std::uintmax_t); break;
    case ESize::PTRDIFF: value = static_cast<std::size_t>(va_arg(*arguments, std::ptrdiff_t)); break;
    default: value = va_arg(*arguments, unsigned); break;
    }
    PutNumber(line, spec, "ll", value);
}

// Text of either width, read one character at a time, so neither its length
// nor its conversion needs memory of its own.
class CTextReader {
public:
    CTextReader(const wchar_t* wide, const char* narrow) : m_wide(wide), m_narrow(narrow) {}
    // The next character's units (one or two), or 0 at the end.
    std::size_t Next(wchar_t* units)
    {
        if (m_wide != nullptr) {
            if (*m_wide == L'\0') {
                return 0;
            }
            units[0] = *m_wide++;
            return 1;
        }
        std::size_t available = 0;
        while (available < 4 && m_narrow[available] != '\0') {
            ++available;
        }
        if (available == 0) {
            return 0;
        }
        const std::size_t length = platform::AnsiCharLength(m_narrow, available);
        const std::size_t n = platform::AnsiCharToWide(m_narrow, length, units);
        m_narrow += length;
        return n;
    }

private:
    const wchar_t* m_wide;
    const char* m_narrow;
};

// Units of the text up to the precision, counted no further than `limit`.
int CountUnits(CTextReader reader, int precision, int limit)
{
    int count = 0;
    wchar_t units[2];
    while (count < limit && (precision < 0 || count < precision)) {
        const std::size_t n = reader.Next(units);
        if (n == 0) {
            break;
        }
        count += static_cast<int>(n);
    }
    return count;
}

void PutText(CLine& line, const SSpec& spec, const wchar_t* wide, const char* narrow)
{
    if (wide == nullptr && narrow == nullptr) {
        wide = NULL_TEXT;
    }
    const CTextReader reader(wide, narrow);
    const int shown = spec.width > 0 ? CountUnits(reader, spec.precision, spec.width) : 0;
    if (!spec.left) {
        line.Pad(spec.width - shown);
    }
    CTextReader text = reader;
    int written = 0;
    wchar_t units[2];
    while (!line.Full() && (spec.precision < 0 || written < spec.precision)) {
        const std::size_t n = text.Next(units);
        if (n == 0) {
            break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            line.Put(units[i]);
        }
        written += static_cast<int>(n);
    }
    if (spec.left) {
        line.Pad(spec.width - written);
    }
}

bool IsNarrow(const SSpec& spec)
{
    const bool upper = spec.conversion == L'S' || spec.conversion == L'C';
    return spec.size == ESize::SHORT || (upper && spec.size != ESize::LONG && spec.size != ESize::WIDE);
}

void PutCharacter(CLine& line, const SSpec& spec, va_list* arguments)
{
    const int value = va_arg(*arguments, int);
    wchar_t wide[2] = {static_cast<wchar_t>(value), L'\0'};
    char narrow[2] = {static_cast<char>(value), '\0'};
    if (IsNarrow(spec)) {
        PutText(line, spec, nullptr, narrow);
    } else {
        PutText(line, spec, wide, nullptr);
    }
}

void PutPointer(CLine& line, const SSpec& spec, va_list* arguments)
{
    const auto value = reinterpret_cast<std::uintptr_t>(va_arg(*arguments, void*));
    wchar_t digits[2 * sizeof value + 1] = {};
    for (std::size_t i = 0; i < 2 * sizeof value; ++i) {
        digits[i] = L"0123456789ABCDEF"[(value >> (4 * (2 * sizeof value - 1 - i))) & 0xF];
    }
    SSpec text = spec;
    text.precision = -1;
    PutText(line, text, digits, nullptr);
}

}  // namespace

std::wstring FormatV(std::size_t maxChars, const wchar_t* format, va_list arguments)
{
    if (format == nullptr) {
        return {};
    }
    wchar_t buffer[LOG_MESSAGE_CHARS + 1];
    CLine line(buffer, std::min(maxChars, LOG_MESSAGE_CHARS));
    va_list copy;
    va_copy(copy, arguments);
    for (const wchar_t* p = format; *p != L'\0' && !line.Full();) {
        if (*p != L'%') {
            line.Put(*p++);
            continue;
        }
        const wchar_t* start = p++;
        const SSpec spec = ParseSpec(p, &copy);
        switch (spec.conversion) {
        case L'%': line.Put(L'%'); break;
        case L'd':
        case L'i': PutSigned(line, spec, &copy); break;
        case L'u':
        case L'o':
        case L'x':
        case L'X': PutUnsigned(line, spec, &copy); break;
        case L'e':
        case L'E':
        case L'f':
        case L'F':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            if (spec.size == ESize::LONG_DOUBLE) {
                PutNumber(line, spec, "L", va_arg(copy, long double));
            } else {
                PutNumber(line, spec, "", va_arg(copy, double));
            }
            break;
        case L'c':
        case L'C': PutCharacter(line, spec, &copy); break;
        case L's':
        case L'S': {
            if (IsNarrow(spec)) {
                const char* text = va_arg(copy, const char*);
                PutText(line, spec, text == nullptr ? NULL_TEXT : nullptr, text);
            } else {
                PutText(line, spec, va_arg(copy, const wchar_t*), nullptr);
            }
            break;
        }
        case L'p': PutPointer(line, spec, &copy); break;
        case L'n':
            va_end(copy);
            return std::wstring(buffer, line.Length());
        default:
            for (const wchar_t* q = start; q < p; ++q) {
                line.Put(*q);
            }
            break;
        }
    }
    va_end(copy);
    return std::wstring(buffer, line.Length());
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
