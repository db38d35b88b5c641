// CMediaCoreDecSysRegDesc: classifies a program by the registration
// descriptor among its program descriptors. The classification decides which
// of the private stream types of a program map the parser accepts (a recorder
// family marks its programs with its own format_identifier and carries audio
// or video in stream types that mean something else elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t SystemNone = 0x40000;
inline constexpr std::uint32_t SystemTSMV = 0x40007;
inline constexpr std::uint32_t SystemMTRM = 0x40009;
inline constexpr std::uint32_t SystemTSHV = 0x4000a;
inline constexpr std::uint32_t SystemSESF = 0x4000e;
inline constexpr std::uint32_t SystemHDMV = 0x4000f;

inline constexpr std::uint8_t DESCRIPTOR_TAG_REGISTRATION = 0x05;

class CMediaCoreDecSysRegDesc
{
public:
    // Walks the descriptors from the first; the first registration descriptor
    // whose format_identifier and layout match a known system decides.
    // SystemNone when none does. Reads nothing outside [descriptors,
    // descriptors + length).
    static std::uint32_t Classify(const std::uint8_t* descriptors, std::size_t length) noexcept;
};

}  // namespace parser
