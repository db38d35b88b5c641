#include "PlayClock.h"

#include <algorithm>

namespace parser {
namespace {

constexpr std::uint64_t PTS_MODULUS = std::uint64_t{1} << 33;
// How far before the first time stamp a time stamp may lie and still count
// as before it rather than as late in a wrapped clock.
constexpr std::uint64_t PTS_BEFORE_WINDOW = std::uint64_t{1} << 30;

}  // namespace

std::int64_t PtsDistance(std::uint64_t pts, std::uint64_t firstPts) noexcept
{
    const std::uint64_t d = (pts - firstPts) & (PTS_MODULUS - 1);
    if (d >= PTS_MODULUS - PTS_BEFORE_WINDOW)
        return static_cast<std::int64_t>(d) - static_cast<std::int64_t>(PTS_MODULUS);
    return static_cast<std::int64_t>(d);
}

std::int64_t FrameTicksOfRate(std::uint32_t numerator, std::uint32_t denominator) noexcept
{
    if (numerator == 0 || denominator == 0)
        return 0;
    const std::uint64_t n = numerator;
    return static_cast<std::int64_t>((PTS_CLOCK_HZ * denominator + n / 2) / n);
}

void CPlayClock::Begin(std::uint64_t anchorStamp, std::int64_t anchorPlay) noexcept
{
    const std::int64_t frame = m_frameTicks;
    *this = CPlayClock{};
    m_frameTicks = frame;
    m_anchorStamp = anchorStamp;
    m_anchorPlay = anchorPlay;
}

std::int64_t CPlayClock::Take(const SPesHeader& header, std::int64_t position, std::int64_t discontinuity) noexcept
{
    // The record holds the presentation time as decoding time when there is
    // none.
    const std::uint64_t dts = header.dts;
    bool jumped = false;
    if (m_started) {
        const std::int64_t step = PtsDistance(dts, m_lastDts);
        const bool newTimeBase =
            discontinuity > m_discontinuityTaken && discontinuity > m_lastPosition && discontinuity <= position;
        if (newTimeBase || ClockStepJumps(step)) {
            m_anchorStamp = header.pts;
            m_anchorPlay = m_partLatest + (m_frameTicks != 0 ? m_frameTicks : m_step);
            ++m_jumps;
            jumped = true;
        } else if (step > 0) {
            m_step = step;
        }
    }
    if (discontinuity <= position)
        m_discontinuityTaken = std::max(m_discontinuityTaken, discontinuity);
    m_lastDts = dts;
    m_lastPlayDts = m_anchorPlay + PtsDistance(dts, m_anchorStamp);
    m_lastPosition = position;
    const std::int64_t play = m_anchorPlay + PtsDistance(header.pts, m_anchorStamp);
    m_partLatest = m_started && !jumped ? std::max(m_partLatest, play) : play;
    m_started = true;
    return play;
}

}  // namespace parser
