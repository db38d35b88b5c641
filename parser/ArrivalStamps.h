// CArrivalStamps: tells whether the 4-byte prefixes of 192-byte units carry
// arrival time stamps. A prefix holds 2 bits of copy permission and a 30-bit
// arrival time stamp, a 27 MHz clock modulo 2^30 that marks when the packet
// behind it arrived. Recorders that do not keep that clock write zeros, and
// some write whatever was in memory.
//
// The rule. Stamps are taken from units whose sync byte lies where it
// belongs, in runs of consecutive units (a unit out of place ends the run, as
// does BeginRun for bytes read from elsewhere in the file). A step from one
// stamp to the next, modulo 2^30, rises plausibly when it lies between 40
// ticks (188 bytes at just over 1 Gbit/s) and 27,000,000 ticks (one second).
// The prefixes carry stamps (VSK_PROBE_FORMAT_192_STAMPED) when at least 8
// steps were seen and at least 90 % of them rise plausibly, so the wrap of
// the clock, a lost packet or a splice here and there does not matter (a
// damaged stamp spoils two steps: up to about one stamp in twenty may be
// damaged), while zeros, a constant, a counter or random bytes never pass.
// Everything else is VSK_PROBE_FORMAT_192_ZERO: the prefixes hold no usable
// clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t ARRIVAL_UNIT_BYTES = 192;
inline constexpr std::uint32_t ARRIVAL_STAMP_MASK = 0x3FFFFFFF;
inline constexpr std::uint32_t ARRIVAL_MIN_STEP = 40;
inline constexpr std::uint32_t ARRIVAL_MAX_STEP = 27000000;
inline constexpr std::uint32_t ARRIVAL_MIN_STEPS = 8;
inline constexpr std::uint32_t ARRIVAL_RISING_PERCENT = 90;

class CArrivalStamps
{
public:
    CArrivalStamps() = default;

    // The bytes fed next do not continue those fed so far.
    void BeginRun() noexcept;
    void Feed(const std::uint8_t* bytes, std::size_t length) noexcept;
    // VSK_PROBE_FORMAT_192_STAMPED or VSK_PROBE_FORMAT_192_ZERO.
    std::uint32_t Format() const noexcept;

    std::uint64_t Units() const noexcept { return m_units; }
    std::uint64_t NonZeroStamps() const noexcept { return m_nonZero; }
    std::uint64_t Steps() const noexcept { return m_steps; }
    std::uint64_t RisingSteps() const noexcept { return m_rising; }

private:
    // Three units in place in a row lock the reading onto them.
    static constexpr std::size_t LOCK_BYTES = 3 * ARRIVAL_UNIT_BYTES;
    static constexpr std::size_t PIECE_BYTES = 0x10000;

    // Works through m_buffer[0, m_held) and keeps what it could not use yet.
    void Process() noexcept;
    void TakeStamp(const std::uint8_t* unit) noexcept;

    std::array<std::uint8_t, LOCK_BYTES + PIECE_BYTES> m_buffer{};
    std::size_t m_held = 0;
    bool m_locked = false;
    bool m_havePrevious = false;
    std::uint32_t m_previous = 0;
    std::uint64_t m_units = 0;
    std::uint64_t m_nonZero = 0;
    std::uint64_t m_steps = 0;
    std::uint64_t m_rising = 0;
};

}  // namespace parser
