// CPlayClock: the play time of a stream's units read in decoding order,
// across jumps of their clock. A time stamp x plays at anchorPlay +
// PtsDistance(x, anchorStamp). Between two consecutive units the clock
// jumps when the decoding time steps back by more than CLOCK_STEP_BACK_TICKS
// or forward by more than CLOCK_STEP_FORWARD_TICKS, or when a time-base
// discontinuity of the program lies after the earlier unit's start and no
// later than the later one's; play time does not jump with it: the unit
// behind a jump is shown one frame after the latest picture of the part
// before it. So each continuous part lasts as long as it would alone, and
// parts end to end last their sum. The frame is the owner's (SetFrameTicks:
// the probe and the seek read it from the stream's headers); without one,
// the last regular step between units stands for it, which is a frame
// wherever every picture carries a time stamp.
//
// The unit behind a jump is taken to be the first picture of its part that
// is shown: a recording starts at a picture that needs no other, and one
// that starts with pictures shown before it is not shown from them anyway.
//
// The time seek and the stream probe count play time this way, so a seek's
// answers and the probe's duration agree.
#pragma once

#include "PesHeader.h"

#include <cstdint>

namespace parser {

inline constexpr std::uint64_t PTS_CLOCK_HZ = 90000;

// Steps of the decoding time between consecutive units that count as a jump
// of the clock. Back: decoding times never fall, but some streams carry
// presentation times only, which fall by a few pictures after a reference
// picture; a second is far beyond that. Forward: a few seconds without any
// picture is no recording any more, but a new clock.
inline constexpr std::int64_t CLOCK_STEP_BACK_TICKS = static_cast<std::int64_t>(PTS_CLOCK_HZ);
inline constexpr std::int64_t CLOCK_STEP_FORWARD_TICKS = 5 * CLOCK_STEP_BACK_TICKS;

// The distance of a time stamp from the first one, in ticks: negative for up
// to 2^30 ticks before it, positive otherwise (modulo 2^33).
std::int64_t PtsDistance(std::uint64_t pts, std::uint64_t firstPts) noexcept;

// Ticks of one frame at numerator/denominator frames a second, rounded; 0
// when the rate is unknown.
std::int64_t FrameTicksOfRate(std::uint32_t numerator, std::uint32_t denominator) noexcept;

// Whether a decoding time `step` ticks after the last one's is on another
// clock.
inline constexpr bool ClockStepJumps(std::int64_t step) noexcept
{
    return step < -CLOCK_STEP_BACK_TICKS || step > CLOCK_STEP_FORWARD_TICKS;
}

class CPlayClock
{
public:
    // The next unit taken, the first, has no unit before it: its time stamp
    // `anchorStamp` plays at `anchorPlay`. The frame set is kept.
    void Begin(std::uint64_t anchorStamp, std::int64_t anchorPlay) noexcept;
    // One frame of the stream, in ticks; 0 when unknown.
    void SetFrameTicks(std::int64_t ticks) noexcept { m_frameTicks = ticks > 0 ? ticks : 0; }
    // The play time of the unit's presentation time. `position` orders the
    // units; `discontinuity` is the position of the program's last time-base
    // discontinuity (-1: none).
    std::int64_t Take(const SPesHeader& header, std::int64_t position, std::int64_t discontinuity) noexcept;

    bool Started() const noexcept { return m_started; }
    std::uint64_t LastDts() const noexcept { return m_lastDts; }
    std::int64_t LastPlayDts() const noexcept { return m_lastPlayDts; }
    std::int64_t LastPosition() const noexcept { return m_lastPosition; }
    std::uint32_t Jumps() const noexcept { return m_jumps; }

private:
    bool m_started = false;
    std::uint64_t m_anchorStamp = 0;
    std::int64_t m_anchorPlay = 0;
    std::uint64_t m_lastDts = 0;
    std::int64_t m_lastPlayDts = 0;
    std::int64_t m_lastPosition = 0;
    // The latest presentation since the last jump, and the last positive
    // step of the decoding time.
    std::int64_t m_partLatest = 0;
    std::int64_t m_step = 0;
    std::int64_t m_frameTicks = 0;
    std::int64_t m_discontinuityTaken = -1;
    std::uint32_t m_jumps = 0;
};

}  // namespace parser
