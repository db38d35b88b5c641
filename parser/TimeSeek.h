// The time-seek search: the byte offset from which playback of a recording
// shows a requested moment, and the play time that belongs to that offset.
// The answer comes from the presentation time stamps of the video units:
// the search estimates an offset in proportion to the requested time, reads
// forward from a little before it, and answers with the video unit examined
// just before the first one whose time exceeds the request.
//
// Each call is self-contained: it opens the file itself (once per pass,
// read sharing only), builds its own stream readers, and keeps nothing.
//
// Times are compared as distances from the file's first video time stamp,
// modulo 2^33, so a recording that crosses the wrap of the 90 kHz clock is
// searched like any other; a unit up to 2^30 ticks (about 3.3 hours) before
// the first one counts as before it.
//
// A seek pass reads with the demultiplexer until it has found the programs;
// from then on, when one video stream is compared, it follows that stream by
// its packet headers alone (CSeekScan), which gives the same units at a small
// part of the cost. Wherever the two could part, the pass is read again with
// the demultiplexer alone.
//
// When the pass from the estimate already starts past the request (its
// first video unit is later), or finds no video unit at all, it is run
// again from further back: 5 MiB before the estimate, then 10, 20, ... and
// last from the start of the file. Each such pass ends where the pass after
// it began to examine units (its first unit of the compared stream; else
// the unit under way when it ended, or where its maps were known), having
// read on past that point at most one piece to complete the unit under way
// there: what lies behind was examined already.
//
// One clock. Only the video stream of the start pass's first unit is
// compared (its PID, or its stream id in a program stream): another
// programme's clock never enters a comparison.
//
// The start pass gives the answer for a file without video (0 ms at byte 0)
// once it has read TIME_SEEK_START_SPAN bytes without a unit that takes part.
//
// Play time and clock jumps. A unit's play time is its time stamp's
// distance from the first unit's, for as long as the clock runs on; across
// a jump between consecutive compared units it goes on as CPlayClock counts
// it (a step back of more than a second, forward of more than five, or a
// discontinuity_indicator on the program's PCR PID), one frame on, the frame
// as the sequence header or parameter set of the start pass's unit states
// it, as the probe takes it from the stream's headers. A seek pass that
// begins behind a jump it cannot see (the first unit it meets lies more
// than CLOCK_STEP_BACK_TICKS before the file's first unit, or its play time
// trails the proportional time of its position, size / duration, by more
// than CLOCK_STEP_FORWARD_TICKS and more than a quarter of the duration; a
// clock ahead of it is left to the passes from further back, as the video
// of a file may well end long before its bytes do)
// gives that unit the proportional time instead. So a request behind a
// jump lands near the proportional estimate, never at the end of the file,
// and the time answered is the play time so counted.
#pragma once

#include "PlayClock.h"

#include <cstdint>

namespace parser {

// How far before the proportional estimate a pass starts reading.
inline constexpr std::int64_t TIME_SEEK_LEAD_BYTES = 5 * 1024 * 1024;
inline constexpr std::uint32_t TIME_SEEK_READ_BUFFER = 0x20000;
inline constexpr std::uint32_t TIME_SEEK_READ_SIZE = 0x10000;
inline constexpr std::uint64_t PTS_TICKS_PER_MS = 90;
// Programs (in the order of the association section) whose video counts.
inline constexpr std::uint32_t TIME_SEEK_PROGRAMS = 20;
// A file whose first 32 MiB hold no video unit that takes part (a radio
// recording, scrambled or unknown video) has none for the search: even at
// 40 Mbit/s that is over six seconds of recording.
inline constexpr std::int64_t TIME_SEEK_START_SPAN = 32 * 1024 * 1024;


// What a call did, for measurements: how many passes it ran, what it read
// in all, and where each of the first passes began and how much it read.
struct STimeSeekStats {
    static constexpr std::uint32_t PASSES_NOTED = 8;
    struct SPassRead {
        std::int64_t offset = 0;
        std::uint64_t bytes = 0;
    };
    std::uint32_t passes = 0;
    std::uint64_t bytesRead = 0;
    // Seek passes that went on with the header scan, and passes read again
    // because the scan gave up.
    std::uint32_t scannedPasses = 0;
    std::uint32_t scansAbandoned = 0;
    SPassRead passReads[PASSES_NOTED];
};

// How a seek pass reads on once the demultiplexer has found the programs:
// by the headers of the compared stream's packets (the answer is the same,
// and the demultiplexer takes over again wherever the two could part), or
// with the demultiplexer throughout.
enum class ESeekReading
{
    HeaderScan,
    Demultiplex,
};

// The stream types whose units the search compares in a transport stream.
bool TimeSeekVideoType(std::uint32_t streamType) noexcept;

// The offset at which the seek pass starts reading for time t of a file of
// `size` bytes and `durationMs`: size / durationMs * t - 5 MiB, computed in
// double precision, truncated, 0 when negative and at most the size.
std::int64_t TimeSeekStartOffset(std::int64_t size, std::uint32_t durationMs, std::uint32_t timeMs) noexcept;


// The search. Results are HRESULT values (0, E_INVALIDARG, E_POINTER,
// E_OUTOFMEMORY, E_FAIL); the outputs are written on success only. `flag`
// must be false: no other search is offered, and true is refused with
// E_INVALIDARG. `stats` may be null.
std::int32_t FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                                  std::uint32_t* foundTimeMs, std::int64_t* bytePosition,
                                  STimeSeekStats* stats = nullptr,
                                  ESeekReading reading = ESeekReading::HeaderScan) noexcept;

}  // namespace parser
