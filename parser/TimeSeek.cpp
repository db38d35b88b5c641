#include "TimeSeek.h"

#include "SeekScan.h"
#include "StreamReader.h"
#include "StreamSet.h"
#include "TransportStream.h"
#include "UnitInfo.h"
#include "VideoHeaders.h"
#include "VskMpegParser.h"

#include "platform/file.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace parser {
namespace {

constexpr std::uint32_t SEEK_HISTORY_MODE = 2;
constexpr std::uint32_t SEEK_SELECTION_MODE = 4;
constexpr std::uint32_t SEEK_PROFILE_LEVEL = 0xFF;
constexpr std::uint32_t SEEK_BUFFER_SIZE = 0x20000;


// A unit that the search compares: video with a time stamp and data, in one
// of the first programs.
bool TakesPart(const SUnitInfo& unit) noexcept
{
    if (!HasPts(unit.header.ptsDtsFlags) || unit.payloadLength == 0 || unit.programIndex >= TIME_SEEK_PROGRAMS)
        return false;
    if (unit.kind == STREAM_KIND_PROGRAM)
        return unit.header.streamId >= STREAM_ID_VIDEO_FIRST && unit.header.streamId <= STREAM_ID_VIDEO_LAST;
    return TimeSeekVideoType(unit.streamType);
}

// The stream a unit belongs to, as the search names it: its PID in a
// transport stream, its stream id in a program stream.
std::uint32_t StreamOf(const SUnitInfo& unit) noexcept
{
    return unit.kind == STREAM_KIND_PROGRAM ? unit.header.streamId : unit.elementaryPid;
}

// One frame of a video unit's stream, from the sequence header or parameter
// set it carries; 0 without one.
std::int64_t FrameTicksOfUnit(const SUnitInfo& unit) noexcept
{
    const bool programStream = unit.kind == STREAM_KIND_PROGRAM;
    SVideoFacts facts;
    if ((programStream || unit.streamType != 0x1B) &&
        FindMpegVideoFacts(unit.payload, unit.payloadLength, facts) != EVideoSearch::None)
        return FrameTicksOfRate(facts.frameRateNumerator, facts.frameRateDenominator);
    if ((programStream || unit.streamType == 0x1B) && FindAvcVideoFacts(unit.payload, unit.payloadLength, facts))
        return FrameTicksOfRate(facts.frameRateNumerator, facts.frameRateDenominator);
    return 0;
}

struct SPassRequest {
    // The start pass takes the first unit; a seek pass the unit before the
    // first one beyond targetTicks of play time.
    bool startPass = true;
    std::uint64_t firstPts = 0;
    // One frame of the compared stream, as its first unit tells it (0:
    // unknown): the play time across a jump of the clock.
    std::int64_t frameTicks = 0;
    std::int64_t targetTicks = 0;
    // The compared stream (StreamOf), set for seek passes.
    std::uint32_t stream = 0;
    // Seek passes: 0 reads from the estimate, k from 5 MiB * 2^(k-1) before
    // it.
    std::uint32_t backoff = 0;
    std::uint32_t durationMs = 0;
    std::uint32_t timeMs = 0;
    // Where a back-off pass ends: from there on the pass after it examined
    // every unit; -1 for none.
    std::int64_t endPosition = -1;
    // A seek pass goes on with the header scan once the demultiplexer runs.
    bool scan = true;
};

struct SPassOutcome {
    // Where the pass began reading, and its size.
    std::int64_t offset = 0;
    std::int64_t fileSize = 0;
    // A unit answers the pass.
    bool found = false;
    std::uint64_t pts = 0;
    std::int64_t playTicks = 0;
    std::int64_t position = 0;
    std::uint32_t stream = 0;
    std::int64_t frameTicks = 0;
    // The first unit of a seek pass was already beyond the target.
    bool overshot = false;
    // The data read could not be told to be any kind of stream.
    bool undetected = false;
    // The header scan gave up: the pass must be read again without it.
    bool scanAbandoned = false;
    // From where on the pass examined every unit of the compared stream
    // (absolute); -1 when it never ran.
    std::int64_t coveredFrom = -1;
    CPlayClock clock;
};

bool OffTheStartClock(std::int64_t clockTicks, std::int64_t proportionalTicks, std::uint32_t durationMs) noexcept
{
    const std::int64_t quarter = static_cast<std::int64_t>(std::uint64_t{durationMs} * PTS_TICKS_PER_MS / 4);
    return clockTicks < -CLOCK_STEP_BACK_TICKS ||
           proportionalTicks - clockTicks > std::max(CLOCK_STEP_FORWARD_TICKS, quarter);
}

// The play time of a seek pass's unit at `position` (from the pass's first
// byte), moving the clock on: the first unit of a pass that began behind a
// jump it could not see plays at the proportional time of its position.
std::int64_t PlayTime(const SPassRequest& request, const SUnitInfo& unit, std::int64_t position,
                      SPassOutcome& out) noexcept
{
    if (!out.clock.Started()) {
        out.clock.SetFrameTicks(request.frameTicks);
        out.clock.Begin(request.firstPts, 0);
        if (out.offset > 0 && out.fileSize > 0) {
            const double share = static_cast<double>(out.offset + position) / static_cast<double>(out.fileSize);
            const std::int64_t proportional =
                static_cast<std::int64_t>(share * static_cast<double>(request.durationMs) * PTS_TICKS_PER_MS);
            if (OffTheStartClock(PtsDistance(unit.header.pts, request.firstPts), proportional, request.durationMs))
                out.clock.Begin(unit.header.pts, proportional);
        }
    }
    return out.clock.Take(unit.header, position, unit.pcr.discontinuityPosition);
}

// Compares one taking-part unit at `position` (from the pass's first byte);
// true when the pass has its answer or has reached its end.
bool Compare(const SPassRequest& request, const SUnitInfo& unit, std::int64_t position, SPassOutcome& out) noexcept
{
    const std::int64_t absolute = out.offset + position;
    if (request.startPass) {
        out.found = true;
        out.pts = unit.header.pts;
        out.position = absolute;
        out.stream = StreamOf(unit);
        out.frameTicks = FrameTicksOfUnit(unit);
        return true;
    }
    if (StreamOf(unit) != request.stream)
        return false;
    if (out.coveredFrom < 0)
        out.coveredFrom = absolute;
    // The pass begun later examined this unit and all after it.
    if (request.endPosition >= 0 && absolute >= request.endPosition)
        return true;
    const std::int64_t play = PlayTime(request, unit, position, out);
    if (play > request.targetTicks) {
        // The unit examined before this one answers; without one the pass
        // began too late.
        if (!out.found)
            out.overshot = true;
        return true;
    }
    out.found = true;
    out.pts = unit.header.pts;
    out.playTicks = play;
    out.position = absolute;
    return false;
}

// Follows the header scan to the end of the bytes given: true when the pass
// has its answer or the scan gave up (out.scanAbandoned).
bool ScanUnits(CSeekScan& scan, const SPassRequest& request, SPassOutcome& out) noexcept
{
    SUnitInfo unit;
    for (;;) {
        switch (scan.Next(unit)) {
        case EScan::Unit:
            if (TakesPart(unit) && Compare(request, unit, unit.position, out))
                return true;
            break;
        case EScan::NeedMoreData:
            return false;
        case EScan::Abandoned:
            out.scanAbandoned = true;
            return true;
        }
    }
}

// Where a pass that examined no unit still covered everything: from the unit
// of the compared stream under way when it ended, or else from where its
// demultiplexer began to run.
std::int64_t UncoveredEnd(const CStreamReader& reader, const CSeekScan* scan, std::uint32_t stream,
                          std::int64_t runningFrom) noexcept
{
    if (scan != nullptr && scan->UnitUnderWay() >= 0)
        return scan->UnitUnderWay();
    const CTransportStream* demux = reader.TransportStream();
    std::uint32_t program = 0;
    std::uint32_t index = 0;
    if (scan == nullptr && demux != nullptr &&
        demux->FindElementaryStream(static_cast<std::uint16_t>(stream), program, index)) {
        const CStreamSet* set = demux->Streams(program);
        CPESPacketTs::SOpenUnit open;
        if (set != nullptr && index < set->StreamCount() && set->Stream(index).assembler &&
            set->Stream(index).assembler->OpenUnit(open) && open.started)
            return open.position;
    }
    return runningFrom;
}

std::int32_t RunPassOnce(const wchar_t* path, const SPassRequest& request, SPassOutcome& out,
                         STimeSeekStats& stats) noexcept
{
    STimeSeekStats::SPassRead unused;
    STimeSeekStats::SPassRead& noted =
        stats.passes < STimeSeekStats::PASSES_NOTED ? stats.passReads[stats.passes] : unused;
    ++stats.passes;
    platform::CFile file;
    if (!file.Open(path, platform::EFileMode::READ_SHARED))
        return VSK_PARSER_RESULT_INVALIDARG;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[TIME_SEEK_READ_BUFFER]);
    std::unique_ptr<CStreamReader> reader(new (std::nothrow) CStreamReader);
    if (!buffer || !reader)
        return VSK_PARSER_RESULT_OUTOFMEMORY;
    if (reader->Initialize() != RESULT_OK)
        return VSK_PARSER_RESULT_FAIL;
    reader->Configure(SEEK_HISTORY_MODE, SEEK_SELECTION_MODE, SEEK_PROFILE_LEVEL, SEEK_BUFFER_SIZE, 0);

    const std::int64_t size = file.Size();
    if (size < 0)
        return VSK_PARSER_RESULT_FAIL;
    std::int64_t offset = 0;
    if (!request.startPass) {
        offset = TimeSeekStartOffset(size, request.durationMs, request.timeMs);
        if (request.backoff != 0) {
            const std::uint32_t shift = request.backoff - 1 < 40 ? request.backoff - 1 : 40;
            const std::int64_t back = TIME_SEEK_LEAD_BYTES << shift;
            offset = offset > back ? offset - back : 0;
        }
    }
    if (!file.Seek(offset))
        return VSK_PARSER_RESULT_INVALIDARG;
    out.offset = offset;
    out.fileSize = size;
    noted.offset = offset;
    // A back-off pass reads on past its end only far enough to complete the
    // unit under way there; the start pass gives up on video after its span.
    std::int64_t readLimit = std::numeric_limits<std::int64_t>::max();
    if (request.startPass)
        readLimit = TIME_SEEK_START_SPAN;
    else if (request.endPosition >= 0)
        readLimit = std::max<std::int64_t>(0, request.endPosition - offset) + TIME_SEEK_READ_SIZE;

    // Once the demultiplexer runs plainly, a seek pass follows the compared
    // stream by its headers alone.
    std::unique_ptr<CSeekScan> scan;
    bool scanning = false;
    bool fed = false;
    std::int64_t consumed = 0;
    std::int64_t runningFrom = -1;
    const auto ended = [&]() noexcept {
        if (!request.startPass && out.coveredFrom < 0 && runningFrom >= 0)
            out.coveredFrom =
                offset + UncoveredEnd(*reader, scanning ? scan.get() : nullptr, request.stream, runningFrom);
        return VSK_PARSER_RESULT_OK;
    };
    while (consumed < readLimit) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(TIME_SEEK_READ_SIZE, readLimit - consumed));
        const std::int64_t got = file.Read(buffer.get(), want);
        if (got < 0)
            return VSK_PARSER_RESULT_FAIL;
        if (got == 0)
            break;
        consumed += got;
        stats.bytesRead += static_cast<std::uint64_t>(got);
        noted.bytes += static_cast<std::uint64_t>(got);
        if (scanning) {
            scan->Append(buffer.get(), static_cast<std::size_t>(got));
            if (ScanUnits(*scan, request, out))
                return VSK_PARSER_RESULT_OK;
            continue;
        }
        const Result fedResult = reader->Feed(buffer.get(), static_cast<std::uint32_t>(got));
        if (fedResult != RESULT_OK) {
            out.undetected = !fed && fedResult == ResultUnsupported;
            return fedResult == ResultNoMemory ? VSK_PARSER_RESULT_OUTOFMEMORY : VSK_PARSER_RESULT_FAIL;
        }
        fed = true;
        std::int32_t units = 0;
        while ((units = reader->NextUnits()) > 0) {
            SUnitInfo unit;
            if (reader->TakeUnit(unit) != RESULT_OK)
                return VSK_PARSER_RESULT_FAIL;
            const bool done = TakesPart(unit) && Compare(request, unit, unit.position, out);
            reader->ReleaseUnit(unit);
            if (done)
                return VSK_PARSER_RESULT_OK;
        }
        if (units < 0)
            return VSK_PARSER_RESULT_FAIL;
        // Everything behind this piece is examined: a program stream's from
        // its first byte, a transport stream's from where the maps are known.
        const CTransportStream* demux = reader->TransportStream();
        if (runningFrom < 0 && (reader->Kind() == STREAM_KIND_PROGRAM ||
                                (demux != nullptr && demux->State() == DEMUX_RUNNING)))
            runningFrom = reader->Kind() == STREAM_KIND_PROGRAM ? 0 : consumed;
        if (request.scan && !request.startPass) {
            if (!scan)
                scan.reset(new (std::nothrow) CSeekScan);
            if (scan && scan->Begin(*reader, static_cast<std::uint16_t>(request.stream))) {
                scanning = true;
                ++stats.scannedPasses;
                if (ScanUnits(*scan, request, out))
                    return VSK_PARSER_RESULT_OK;
            }
        }
    }
    // The end of the file, of the span, or of a back-off pass: the last unit
    // examined answers. Units still waiting in the reader are not examined.
    return ended();
}

// A pass; one the header scan gave up on is read again with the
// demultiplexer alone.
std::int32_t RunPass(const wchar_t* path, const SPassRequest& request, SPassOutcome& out,
                     STimeSeekStats& stats) noexcept
{
    const std::int32_t result = RunPassOnce(path, request, out, stats);
    if (result != VSK_PARSER_RESULT_OK || !out.scanAbandoned)
        return result;
    ++stats.scansAbandoned;
    SPassRequest plain = request;
    plain.scan = false;
    out = SPassOutcome{};
    return RunPassOnce(path, plain, out, stats);
}

}  // namespace

bool TimeSeekVideoType(std::uint32_t streamType) noexcept
{
    return streamType == 0x01 || streamType == 0x02 || streamType == 0x1B;
}

std::int64_t TimeSeekStartOffset(std::int64_t size, std::uint32_t durationMs, std::uint32_t timeMs) noexcept
{
    if (size <= 0 || durationMs == 0)
        return 0;
    // Plain double arithmetic (SSE2 on x86-64): the estimate is a proportion,
    // and the same expression gives the same offset in every build.
    const double estimate =
        static_cast<double>(size) / static_cast<double>(durationMs) * static_cast<double>(timeMs) -
        static_cast<double>(TIME_SEEK_LEAD_BYTES);
    if (!(estimate > 0.0))
        return 0;
    if (estimate >= static_cast<double>(size))
        return size;
    return static_cast<std::int64_t>(estimate);
}

std::int32_t FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                                  std::uint32_t* foundTimeMs, std::int64_t* bytePosition,
                                  STimeSeekStats* stats, ESeekReading reading) noexcept
{
    if (durationMs == 0)
        return VSK_PARSER_RESULT_INVALIDARG;
    if (foundTimeMs == nullptr || bytePosition == nullptr)
        return VSK_PARSER_RESULT_POINTER;
    if (flag)
        return VSK_PARSER_RESULT_INVALIDARG;
    if (timeMs == 0) {
        *foundTimeMs = 0;
        *bytePosition = 0;
        return VSK_PARSER_RESULT_OK;
    }
    STimeSeekStats local;
    STimeSeekStats& counted = stats != nullptr ? *stats : local;
    counted = STimeSeekStats{};
    try {
        SPassRequest request;
        request.scan = reading == ESeekReading::HeaderScan;
        SPassOutcome first;
        std::int32_t result = RunPass(path, request, first, counted);
        if (result != VSK_PARSER_RESULT_OK)
            return result;
        if (!first.found) {
            // No video unit in the whole file: the only answer is its start.
            *foundTimeMs = 0;
            *bytePosition = 0;
            return VSK_PARSER_RESULT_OK;
        }

        request.startPass = false;
        request.firstPts = first.pts;
        request.stream = first.stream;
        request.frameTicks = first.frameTicks;
        request.targetTicks = static_cast<std::int64_t>(std::uint64_t{timeMs} * PTS_TICKS_PER_MS);
        request.durationMs = durationMs;
        request.timeMs = timeMs;
        SPassOutcome seek;
        for (request.backoff = 0;; ++request.backoff) {
            seek = SPassOutcome{};
            result = RunPass(path, request, seek, counted);
            if (result != VSK_PARSER_RESULT_OK && !seek.undetected)
                return result;
            if (result == VSK_PARSER_RESULT_OK && seek.found && !seek.overshot)
                break;
            // Begun past the request, or nothing to compare: further back,
            // down to the start of the file, where the first unit answers.
            if (seek.offset == 0) {
                seek.found = true;
                seek.playTicks = 0;
                seek.position = first.position;
                break;
            }
            // The next pass need not read again what this one examined.
            if (seek.coveredFrom >= 0)
                request.endPosition = request.endPosition >= 0 ? std::min(request.endPosition, seek.coveredFrom)
                                                               : seek.coveredFrom;
        }
        *foundTimeMs =
            seek.playTicks > 0
                ? static_cast<std::uint32_t>(std::min<std::int64_t>(
                      seek.playTicks / static_cast<std::int64_t>(PTS_TICKS_PER_MS), std::numeric_limits<std::uint32_t>::max()))
                : 0;
        *bytePosition = seek.position;
        return VSK_PARSER_RESULT_OK;
    } catch (const std::bad_alloc&) {
        return VSK_PARSER_RESULT_OUTOFMEMORY;
    } catch (...) {
        return VSK_PARSER_RESULT_FAIL;
    }
}

}  // namespace parser
