// The play clock across the joins of recordings: units in decoding order,
// each a picture of a known place in its recording, and the join of two
// recordings where the clock jumps. What a picture must play at follows from
// the recordings alone: the second begins one frame after the last picture
// the first showed, so each lasts as long as its own pictures say.
#include "PlayClock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace parser {
namespace {

constexpr std::int64_t FRAME = 3600;  // 25 Hz
// Pictures of a recording: 1.6 s, so that starting again is a step back of
// more than a second.
constexpr int PICTURES = 40;

// A picture: the frame it is shown at in its recording, how many frames
// after its decoding, its recording (0 or 1) and whether a discontinuity
// indicator comes right before it.
struct SPicture {
    std::int64_t shown;
    std::int64_t delay;
    int recording;
    bool announced = false;
};

struct SJoinCase {
    const char* name;
    // Where each recording's clock starts, in ticks.
    std::int64_t clock[2];
    std::vector<SPicture> pictures;
    // The clock's frame as its owner knows it (0: not known).
    std::int64_t frameTicks;
    // Frames that the first recording lasts, by its own pictures, and
    // whether the clock jumps at the join (else it runs on).
    std::int64_t firstLasts;
    bool jumps;
};

// I P B B in decoding order: the P shown three frames after it is decoded.
std::vector<SPicture> Gop(int recording, std::int64_t from, int count)
{
    std::vector<SPicture> p{{from, 1, recording}};
    for (int i = 1; i + 2 < count; i += 3) {
        p.push_back({from + i + 2, 3, recording});
        p.push_back({from + i, 0, recording});
        p.push_back({from + i + 1, 0, recording});
    }
    return p;
}

std::vector<SPicture> Join(std::vector<SPicture> a, const std::vector<SPicture>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PlayClock, TheRecordingBehindAJumpStartsOneFrameAfterTheLastPictureShown)
{
    // A recording whose last decoded picture is a reference picture without
    // the B pictures it would have had: shown three frames after decoding,
    // while the next recording's first picture is shown one frame after.
    std::vector<SPicture> cutShort = Gop(0, 0, PICTURES);
    cutShort.push_back({PICTURES + 2, 3, 0});
    // Time stamps on the first picture of every six only, as a DVD
    // multiplexer writes them: the last stamp of the first recording is at
    // frame 72 of 75.
    std::vector<SPicture> sparse;
    for (int r = 0; r < 2; ++r) {
        for (std::int64_t f = 0; f <= 72; f += 6)
            sparse.push_back({f, 1, r});
    }
    const std::vector<SPicture> two = Join(Gop(0, 0, PICTURES), Gop(1, 0, PICTURES));
    std::vector<SPicture> announced = two;
    announced[PICTURES].announced = true;

    const std::int64_t wrapNear = (std::int64_t{1} << 33) - 10 * FRAME;
    const std::int64_t behindTheFirst = 900000 + PICTURES * FRAME;
    const SJoinCase cases[] = {
        {"the clock starting again", {900000, 900000}, two, FRAME, PICTURES, true},
        {"the clock starting again, the frame not known", {900000, 900000}, two, 0, PICTURES, true},
        {"the last picture decoded is not the last shown", {900000, 100}, Join(cutShort, Gop(1, 0, 7)), FRAME,
         PICTURES + 3, true},
        {"stamps on one picture in six", {900000, 900000}, sparse, FRAME, 73, true},
        {"thirty seconds on", {900000, behindTheFirst + 30 * 90000}, two, FRAME, PICTURES, true},
        {"a new time base announced two seconds on", {900000, behindTheFirst + 2 * 90000}, announced, FRAME,
         PICTURES, true},
        {"across the wrap of the clock", {wrapNear, 2000000}, two, FRAME, PICTURES, true},
        {"the clock running on two seconds later", {900000, behindTheFirst + 2 * 90000}, two, FRAME, PICTURES,
         false},
    };
    for (const SJoinCase& c : cases) {
        SCOPED_TRACE(c.name);
        CPlayClock clock;
        clock.SetFrameTicks(c.frameTicks);
        const SPicture& first = c.pictures.front();
        clock.Begin(static_cast<std::uint64_t>(c.clock[0] + first.shown * FRAME), 0);
        std::int64_t discontinuity = -1;
        for (std::size_t i = 0; i < c.pictures.size(); ++i) {
            const SPicture& p = c.pictures[i];
            const std::int64_t pts = c.clock[p.recording] + p.shown * FRAME;
            SPesHeader header;
            header.pts = static_cast<std::uint64_t>(pts) & ((std::uint64_t{1} << 33) - 1);
            header.dts = static_cast<std::uint64_t>(pts - p.delay * FRAME) & ((std::uint64_t{1} << 33) - 1);
            const auto position = static_cast<std::int64_t>(i) * 1000;
            if (p.announced)
                discontinuity = position - 10;
            const std::int64_t played = clock.Take(header, position, discontinuity);
            const std::int64_t second = c.jumps ? c.firstLasts * FRAME : c.clock[1] - c.clock[0];
            EXPECT_EQ(played, (p.recording == 0 ? 0 : second) + p.shown * FRAME) << "picture " << i;
        }
        EXPECT_EQ(clock.Jumps(), c.jumps ? 1u : 0u);
    }
}

TEST(PlayClock, AFrameIsItsRateInTicksRounded)
{
    EXPECT_EQ(FrameTicksOfRate(25, 1), 3600);
    EXPECT_EQ(FrameTicksOfRate(30000, 1001), 3003);
    EXPECT_EQ(FrameTicksOfRate(24000, 1001), 3754);  // 3753.75
    EXPECT_EQ(FrameTicksOfRate(0, 0), 0);
    EXPECT_EQ(FrameTicksOfRate(25, 0), 0);
}

}  // namespace
}  // namespace parser
