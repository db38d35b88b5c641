#include "platform/network.h"

#include <charconv>

namespace platform {

std::string FormatIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool ParseIpv4(const std::string& text, std::uint32_t& address)
{
    std::uint32_t value = 0;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at == end || *at != '.')
                return false;
            ++at;
        }
        // Decimal digits only, at most three and no leading zero: no sign,
        // no blank, and no octal ("010") or hex form that other readers
        // would take for another address.
        const char* digits = at;
        while (at != end && *at >= '0' && *at <= '9' && at - digits < 4)
            ++at;
        unsigned byte = 0;
        if (at == digits || at - digits > 3 || (at - digits > 1 && *digits == '0') ||
            std::from_chars(digits, at, byte).ec != std::errc() || byte > 255)
            return false;
        value = (value << 8) | byte;
    }
    if (at != end)
        return false;
    address = value;
    return true;
}

}  // namespace platform
