// The rule that tells arrival time stamps from prefixes that carry none, on
// 192-byte units whose prefixes the test writes: clocks at real and extreme
// rates, across the wrap at 2^30, with the copy-permission bits set, with
// some damage; zeros, constants, counters, steps too long and random bytes;
// too few units to tell; runs broken by misplaced units or by a read that
// starts elsewhere; and any way of cutting the bytes fed.
#include "ArrivalStamps.h"
#include "VskMpegParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t TWO_TO_30 = 1u << 30;

// Units whose prefix is prefix(i) and whose packet is a null packet.
Bytes Units(std::size_t count, const std::function<std::uint32_t(std::size_t)>& prefix)
{
    Bytes out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = prefix(i);
        out.insert(out.end(), {static_cast<std::uint8_t>(p >> 24), static_cast<std::uint8_t>(p >> 16),
                               static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p)});
        out.insert(out.end(), {0x47, 0x1F, 0xFF, 0x10});
        out.insert(out.end(), 184, 0xFF);
    }
    return out;
}

// A clock: first + i x step, modulo 2^30.
std::function<std::uint32_t(std::size_t)> Clock(std::uint32_t first, std::uint32_t step)
{
    return [=](std::size_t i) { return (first + static_cast<std::uint32_t>(i) * step) % TWO_TO_30; };
}

std::uint32_t Format(const Bytes& bytes)
{
    CArrivalStamps stamps;
    stamps.Feed(bytes.data(), bytes.size());
    return stamps.Format();
}

TEST(ArrivalStamps, OnlyAClockThatRisesSteadilyCounts)
{
    constexpr std::uint32_t STAMPED = VSK_PROBE_FORMAT_192_STAMPED;
    constexpr std::uint32_t ZERO = VSK_PROBE_FORMAT_192_ZERO;
    // A 12 Mbit/s multiplex: 188 bytes take 3384 ticks of 27 MHz.
    constexpr std::uint32_t STEP = 3384;
    std::uint32_t seed = 12345;
    auto random = [&seed](std::size_t) {
        seed = seed * 1103515245u + 12345u;
        return seed;
    };
    struct SCase {
        const char* name;
        std::size_t units;
        std::function<std::uint32_t(std::size_t)> prefix;
        std::uint32_t expected;
    };
    const std::vector<SCase> cases = {
        {"a 12 Mbit/s clock", 100, Clock(1000, STEP), STAMPED},
        {"across the wrap of the clock", 100, Clock(TWO_TO_30 - 50 * STEP, STEP), STAMPED},
        {"copy-permission bits set", 100, [](std::size_t i) { return 0xC0000000u | Clock(77, STEP)(i); }, STAMPED},
        {"the slowest step: one second", 100, Clock(0, 27000000), STAMPED},
        {"the fastest step: 40 ticks", 100, Clock(5, 40), STAMPED},
        {"a step of just over a second", 100, Clock(0, 27000001), ZERO},
        {"a step of 39 ticks", 100, Clock(5, 39), ZERO},
        {"zeros", 100, [](std::size_t) { return 0u; }, ZERO},
        {"zero stamps behind copy-permission bits", 100, [](std::size_t) { return 0xC0000000u; }, ZERO},
        {"a constant", 100, [](std::size_t) { return 0x12345678u; }, ZERO},
        {"a counter", 100, [](std::size_t i) { return static_cast<std::uint32_t>(i); }, ZERO},
        {"random bytes", 100, random, ZERO},
        // A damaged stamp spoils the step into it and the one out of it.
        {"a clock with 4 of 100 stamps damaged", 100,
         [](std::size_t i) { return i % 25 == 5 ? 0x0ABCDEF0u : Clock(1000, STEP)(i); }, STAMPED},
        {"a clock with 6 of 100 stamps damaged", 100,
         [](std::size_t i) { return i % 17 == 2 ? 0x0ABCDEF0u : Clock(1000, STEP)(i); }, ZERO},
        {"8 units: 7 steps are too few", 8, Clock(1000, STEP), ZERO},
        {"9 units: 8 steps", 9, Clock(1000, STEP), STAMPED},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Format(Units(c.units, c.prefix)), c.expected);
    }
    EXPECT_EQ(CArrivalStamps().Format(), ZERO);
}

TEST(ArrivalStamps, RunsEndAtMisplacedUnitsAndNewReads)
{
    // Two runs of a clock far apart, with bytes out of place between them:
    // the jump between the runs is no step.
    const Bytes first = Units(10, Clock(1000, 3384));
    const Bytes second = Units(10, Clock(500000000, 3384));
    Bytes joined = first;
    joined.insert(joined.end(), {0x00, 0x11, 0x22});  // three bytes out of place
    joined.insert(joined.end(), second.begin(), second.end());
    CArrivalStamps stamps;
    stamps.Feed(joined.data(), joined.size());
    EXPECT_EQ(stamps.Units(), 20u);
    EXPECT_EQ(stamps.Steps(), 18u);
    EXPECT_EQ(stamps.RisingSteps(), 18u);
    EXPECT_EQ(stamps.Format(), VSK_PROBE_FORMAT_192_STAMPED);

    // A read from elsewhere in the file: no step across.
    CArrivalStamps reads;
    reads.Feed(first.data(), first.size());
    reads.BeginRun();
    reads.Feed(second.data(), second.size());
    EXPECT_EQ(reads.Steps(), 18u);
    EXPECT_EQ(reads.RisingSteps(), 18u);
    // Without it, the jump is one step that does not rise plausibly.
    CArrivalStamps glued;
    glued.Feed(first.data(), first.size());
    glued.Feed(second.data(), second.size());
    EXPECT_EQ(glued.Steps(), 19u);
    EXPECT_EQ(glued.RisingSteps(), 18u);
}

TEST(ArrivalStamps, TheBytesMayBeCutAnywhere)
{
    Bytes bytes = {0x47, 0x47, 0x00, 0x01, 0x02};  // not a unit, some of it 0x47
    const Bytes units = Units(300, Clock(123, 5414));
    bytes.insert(bytes.end(), units.begin(), units.end());
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{191}, std::size_t{192},
                                    std::size_t{193}, std::size_t{0x10000}, bytes.size()}) {
        SCOPED_TRACE(piece);
        CArrivalStamps stamps;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            stamps.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(stamps.Units(), 300u);
        EXPECT_EQ(stamps.Steps(), 299u);
        EXPECT_EQ(stamps.RisingSteps(), 299u);
    }
}

}  // namespace
}  // namespace parser
