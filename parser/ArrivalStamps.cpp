#include "ArrivalStamps.h"

#include "Bitstream.h"
#include "VskMpegParser.h"

#include <algorithm>
#include <cstring>

namespace parser {
namespace {

constexpr std::size_t SYNC_OFFSET = 4;

bool InPlace(const std::uint8_t* unit) noexcept
{
    return unit[SYNC_OFFSET] == TS_SYNC_BYTE;
}

}  // namespace

void CArrivalStamps::BeginRun() noexcept
{
    m_held = 0;
    m_locked = false;
    m_havePrevious = false;
}

void CArrivalStamps::Feed(const std::uint8_t* bytes, std::size_t length) noexcept
{
    if (bytes == nullptr)
        return;
    while (length > 0) {
        const std::size_t piece = std::min(length, m_buffer.size() - m_held);
        std::memcpy(m_buffer.data() + m_held, bytes, piece);
        m_held += piece;
        bytes += piece;
        length -= piece;
        Process();
    }
}

void CArrivalStamps::Process() noexcept
{
    const std::uint8_t* const data = m_buffer.data();
    std::size_t at = 0;
    for (;;) {
        if (!m_locked) {
            while (at + LOCK_BYTES <= m_held &&
                   !(InPlace(data + at) && InPlace(data + at + ARRIVAL_UNIT_BYTES) &&
                     InPlace(data + at + 2 * ARRIVAL_UNIT_BYTES)))
                ++at;
            if (at + LOCK_BYTES > m_held)
                break;
            m_locked = true;
            m_havePrevious = false;
        }
        while (at + ARRIVAL_UNIT_BYTES <= m_held && InPlace(data + at)) {
            TakeStamp(data + at);
            at += ARRIVAL_UNIT_BYTES;
        }
        if (at + ARRIVAL_UNIT_BYTES > m_held)
            break;
        // A unit out of place: the run of stamps ends, and the search for
        // units in place starts again one byte further on.
        m_locked = false;
        ++at;
    }
    // At most LOCK_BYTES - 1 bytes remain (fewer than a unit while locked).
    m_held -= at;
    std::memmove(m_buffer.data(), data + at, m_held);
}

void CArrivalStamps::TakeStamp(const std::uint8_t* unit) noexcept
{
    const std::uint32_t stamp =
        ((std::uint32_t{unit[0]} << 24) | (std::uint32_t{unit[1]} << 16) | (std::uint32_t{unit[2]} << 8) | unit[3]) &
        ARRIVAL_STAMP_MASK;
    ++m_units;
    if (stamp != 0)
        ++m_nonZero;
    if (m_havePrevious) {
        ++m_steps;
        const std::uint32_t step = (stamp - m_previous) & ARRIVAL_STAMP_MASK;
        if (step >= ARRIVAL_MIN_STEP && step <= ARRIVAL_MAX_STEP)
            ++m_rising;
    }
    m_previous = stamp;
    m_havePrevious = true;
}

std::uint32_t CArrivalStamps::Format() const noexcept
{
    if (m_nonZero == 0 || m_steps < ARRIVAL_MIN_STEPS)
        return VSK_PROBE_FORMAT_192_ZERO;
    return m_rising * 100 >= m_steps * ARRIVAL_RISING_PERCENT ? VSK_PROBE_FORMAT_192_STAMPED
                                                              : VSK_PROBE_FORMAT_192_ZERO;
}

}  // namespace parser
