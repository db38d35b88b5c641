#include "MediaCoreDecSysRegDesc.h"

#include <cstring>

namespace parser {
namespace {

// Offsets count from the registration descriptor's tag byte.
constexpr std::size_t FORMAT_IDENTIFIER_OFFSET = 2;
constexpr std::size_t DESCRIPTOR_HEAD = 2;
// Tag, length and a four-byte format_identifier.
constexpr std::size_t REGISTRATION_MIN_TOTAL = 6;

bool IdentifierIs(const std::uint8_t* descriptor, const char (&identifier)[5]) noexcept
{
    return std::memcmp(descriptor + FORMAT_IDENTIFIER_OFFSET, identifier, 4) == 0;
}

// The system a registration descriptor names, or SystemNone. `left` counts the
// program descriptor bytes from the descriptor's tag byte to their end; the
// caller has checked that the whole descriptor lies inside them.
std::uint32_t Match(const std::uint8_t* d, std::size_t left) noexcept
{
    const std::uint8_t length = d[1];
    if (IdentifierIs(d, "TSMV"))
        return SystemTSMV;
    // This family follows its registration with a descriptor of tag 0x0E
    // whose fourth body byte is 0x88; the registration alone does not tell it
    // from others using the same identifier.
    if (IdentifierIs(d, "MTRM") && length == 10 && left > 22 && d[12] == 0x0E && d[17] == 0x88)
        return SystemMTRM;
    if (IdentifierIs(d, "TSHV") && length == 11 && left > 12)
        return SystemTSHV;
    if (IdentifierIs(d, "SESF") && length == 4)
        return SystemSESF;
    if (IdentifierIs(d, "HDMV") && length == 4)
        return SystemHDMV;
    return SystemNone;
}

}  // namespace

std::uint32_t CMediaCoreDecSysRegDesc::Classify(const std::uint8_t* descriptors, std::size_t length) noexcept
{
    if (descriptors == nullptr)
        return SystemNone;
    const std::uint8_t* d = descriptors;
    std::size_t left = length;
    while (left >= DESCRIPTOR_HEAD) {
        const std::size_t total = DESCRIPTOR_HEAD + d[1];
        // A registration descriptor too short to hold its identifier, or one
        // that runs past the descriptor bytes, is not looked into.
        if (d[0] == DESCRIPTOR_TAG_REGISTRATION && total >= REGISTRATION_MIN_TOTAL && total <= left) {
            const std::uint32_t system = Match(d, left);
            if (system != SystemNone)
                return system;
        }
        if (total >= left)
            break;
        d += total;
        left -= total;
    }
    return SystemNone;
}

}  // namespace parser
