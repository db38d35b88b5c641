// Recordings as receivers write them, made from clean recordings for the
// time seek's tests and benchmark: a broadcast association section listing
// services that were filtered out, a second programme on a clock of its own,
// recordings end to end, clock steps and a new time base, discontinuity
// information packets, and a long tail without video. Each comes with the
// video units a search can examine: where they lie and when they play, by
// the play-time rule (a jump of the clock plays one regular step, 3003 ticks
// here, after the unit before it), from what the builder wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vsktest {

struct ReceiverUnit
{
    std::int64_t position = 0;
    std::int64_t playTicks = 0;
};

struct ReceiverRecording
{
    const char* name = "";
    std::vector<std::uint8_t> bytes;
    std::vector<ReceiverUnit> units;
    // How far an answer may lie from the model's, in play time, for a pass
    // that begins at or behind `estimatedFrom` (a jump it cannot see); 0
    // elsewhere, unless `estimatedFrom` is 0.
    std::int64_t toleranceTicks = 0;
    std::int64_t estimatedFrom = 0;
    // The step of the clock at a join that only a discontinuity_indicator
    // makes a jump (a few seconds): a reader that never meets the indicator
    // counts the step as the clock says.
    std::int64_t announcedStepTicks = 0;
};

// Every kind, from clean recordings of `packetCount` 188-byte packets each.
std::vector<ReceiverRecording> MakeReceiverRecordings(std::size_t packetCount = 40000);

}  // namespace vsktest
