// The stream probe: the facts of a recording that a host needs to describe
// it to clients (kind and packet format, size, duration, overall bit rate,
// and per program and stream the codec with the facts of its headers), read
// with the library's own stream reader.
//
// What it reads. The first PROBE_HEAD_BYTES of the file and, when the file
// is larger than head and tail together, the last PROBE_TAIL_BYTES with a
// reader of its own (the kind is the head's); a file up to both together is
// read whole. Nothing in between is touched, however large the file.
//
// What comes from where:
// - the streams: the program map sections (transport streams) or the stream
//   ids and private sub-streams met (program streams), as the head read
//   finds them. A map section keeps the stream types the library reads
//   (MPEG video and audio, AVC, AC-3 as 0x81, LPCM as 0x82, and the private
//   types of the programs whose registration it knows); other streams, such
//   as AAC or AC-3 under stream_type 0x06 with a descriptor, are not listed;
// - the stream facts: the first sequence header with its extension, AVC
//   sequence parameter set, AC-3 sync frame or MPEG audio header found in a
//   stream's units (head first, then tail). MPEG-2 video counts as
//   progressive when its sequence says so, or when every picture coding
//   extension read (head and tail) marks a progressive frame: DVD encoders
//   mark the sequence interlaced whatever they code;
// - bit rates: what the headers state (MPEG video bit_rate_value x 400
//   unless 0x3FFFF, which states none; the AVC VUI's HRD bit rate; the audio
//   frame header's rate), else the rate measured over the head read: the
//   payload bytes of the stream's units from the first one with a time
//   stamp up to, not including, the last one with a time stamp, over the
//   distance of their decoding times (bitRateMeasured 1);
// - the duration: the earliest to the latest play time of the first video
//   stream (in the order of the listing; the first audio stream when there
//   is none), from the head and the tail, plus one frame. Play time is the
//   PTS's distance from the stream's first PTS in the file (wrap-aware, see
//   PtsDistance, so up to about 23 hours) for as long as its clock runs on,
//   and goes on across a jump of the clock as CPlayClock counts it, so the
//   duration is the sum of the continuous parts. Earliest and latest rather
//   than first and last in the file: in decoding order the last unit is
//   often not the last picture shown, and pictures before the first one may
//   be shown before it. The last unit of a video stream never completes in
//   the reader; its PTS is read from its header where the data ends;
//
//   between the head and the tail, where nothing is read, the clock is taken
//   to run on when the decoding times of the head's last and the tail's
//   first unit lie as far apart as the bytes between them at the head's
//   rate (within a factor of 1.5, or a second). Otherwise the part between
//   is looked into: the first unit behind its middle is sampled (at most
//   PROBE_SAMPLE_BYTES read from there), and each half that does not fit is
//   halved again, at most PROBE_SAMPLES times in all, down to halves of
//   PROBE_SHORTEST_SPAN bytes. A shortest half whose clock steps
//   back more than a second, or forward more than four times its bytes'
//   time and five seconds, holds a jump. It is read through, from
//   PROBE_BRIDGE_LEAD_BYTES before where the read that found its first unit
//   began, and counts as the play clock counts it there, as if the whole
//   file had been read. Through, because a new reader of a transport stream
//   meets no unit before the maps, which may come a megabyte behind a
//   recording's start: only a reader that crosses the jump sees the first
//   pictures behind it, and the bytes' time of a recording's start, with
//   its large pictures, is far from its play time. From before the first
//   unit, so the pictures decoded before it but shown after it are seen.
//   At most PROBE_BRIDGES halves are read through, each at most
//   PROBE_BRIDGE_BYTES long; one that cannot be (too long, one too many,
//   or no unit before the jump seen) counts as its bytes' time at the
//   head's rate. Every other
//   half counts as its clock says. So recordings end to end last as long as
//   all of them together, and a clean recording whose rate varies only
//   costs the samples. A step of the clock too small to tell from the bytes
//   (under five seconds) in the part not read, or a discontinuity_indicator
//   there, counts as the clock says.
#pragma once

#include "ArrivalStamps.h"
#include "AudioHeaders.h"
#include "PlayClock.h"
#include "Results.h"
#include "UnitInfo.h"
#include "VideoHeaders.h"
#include "VskMpegParser.h"

#include <array>
#include <cstdint>
#include <memory>

namespace parser {

class CStreamReader;

inline constexpr std::uint32_t PROBE_HEAD_BYTES = 4 * 1024 * 1024;
inline constexpr std::uint32_t PROBE_TAIL_BYTES = 4 * 1024 * 1024;
inline constexpr std::uint32_t PROBE_READ_SIZE = 0x10000;
inline constexpr std::uint32_t PROBE_SAMPLE_BYTES = 2 * 1024 * 1024;
inline constexpr std::uint32_t PROBE_SAMPLES = 24;
inline constexpr std::uint32_t PROBE_SHORTEST_SPAN = 256 * 1024;
inline constexpr std::uint32_t PROBE_BRIDGES = 4;
inline constexpr std::uint32_t PROBE_BRIDGE_BYTES = 4 * 1024 * 1024;
inline constexpr std::int64_t PROBE_BRIDGE_LEAD_BYTES = 1024 * 1024;
// Streams followed in all; the report holds the first VSK_PROBE_MAX_STREAMS.
inline constexpr std::uint32_t PROBE_STREAMS_FOLLOWED = 2 * VSK_PROBE_MAX_STREAMS;

// What a probe of a file did, for tests and measurements.
struct SProbeStats {
    std::uint64_t bytesRead = 0;
    std::uint64_t headBytes = 0;
    // Where the tail read began; -1 when there was none.
    std::int64_t tailOffset = -1;
    // Samples read between the head and the tail, and reads across a jump
    // there.
    std::uint32_t samples = 0;
    std::uint32_t bridges = 0;
};

// A unit of the stream the duration is taken from: where it starts, its
// decoding time, and where the read that found it began (a read from there
// meets it again).
struct SProbePoint {
    std::int64_t position = 0;
    std::uint64_t dts = 0;
    std::int64_t origin = 0;
};

class CStreamProbe
{
public:
    CStreamProbe();
    ~CStreamProbe();
    CStreamProbe(const CStreamProbe&) = delete;
    CStreamProbe& operator=(const CStreamProbe&) = delete;

    // Starts a read: the head from the start of the file, or the tail from
    // `offset` behind it. ResultNoMemory, or ResultSetupFailed for a tail
    // before any head.
    Result BeginRun(bool head, std::int64_t offset = 0) noexcept;
    // The next bytes of the read. ResultUnsupported when the head's first
    // bytes are of no known kind, ResultNoMemory; damage or a reader that
    // stopped ends the read quietly (later bytes are ignored).
    Result Feed(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    // Ends the read; `endOfFile` when it reached the end of the file, so the
    // unfinished units there count.
    void EndRun(bool endOfFile) noexcept;

    std::uint32_t Kind() const noexcept { return m_kind; }

    // What joining the tail to the head needs: the last unit of the head and
    // the first of the tail of the stream the duration is taken from, and
    // the head's bytes per tick. False when there is nothing to join.
    struct SJoin {
        SProbePoint headLast;
        SProbePoint tailFirst;
        double bytesPerTick = 0;
        // The stream: TS program number and PID, PS stream id and sub-stream.
        std::uint32_t programNumber = 0;
        std::uint32_t pid = 0;
        std::uint32_t streamId = 0;
        std::uint32_t subStreamId = 0;
    };
    bool JoinPoints(SJoin& join) const noexcept;
    // The play time between those two decoding times; unless set, the clock
    // between them.
    void SetMiddleTicks(std::int64_t ticks) noexcept;
    // Looks into the part between the head and the tail at JoinPoints'
    // stream, after BeginRun(false, offset): a sample finds the first unit
    // at or behind the reader's start; a bridge the play time from `from`'s
    // decoding time to `to`'s over the units between them, read from
    // from.origin. Feed until LookEnded; false while nothing was found.
    void BeginSample(const SJoin& join) noexcept;
    void BeginBridge(const SJoin& join, const SProbePoint& from, const SProbePoint& to) noexcept;
    bool LookEnded() const noexcept { return m_runStopped; }
    bool Sampled(SProbePoint& point) const noexcept;
    bool Bridged(std::int64_t& ticks) const noexcept;
    // The facts gathered, for a file of fileSize bytes.
    void Report(std::int64_t fileSize, SVskStreamProbe& probe) const noexcept;

private:
    struct SEntry {
        // TS: program number and PID; PS: stream_id and sub-stream id.
        std::uint32_t programIndex = 0;
        std::uint32_t programNumber = 0;
        std::uint32_t pid = 0;
        std::uint32_t streamType = 0;
        std::uint32_t streamId = 0;
        std::uint32_t subStreamId = 0;
        std::uint32_t order = 0;
        std::uint32_t category = VSK_PROBE_STREAM_OTHER;
        std::uint32_t codec = VSK_PROBE_CODEC_UNKNOWN;
        EVideoSearch videoSearch = EVideoSearch::None;
        SVideoFacts video;
        SMpegPictureCount pictures;
        bool audioFound = false;
        SAudioFacts audio;
        // Rate measurement (head read): bytes up to the last timed unit and
        // of the units from it on, and the decoding-time distance covered.
        bool timed = false;
        std::uint64_t firstDts = 0;
        std::int64_t dtsSpan = 0;
        std::uint64_t bytesCounted = 0;
        std::uint64_t bytesPending = 0;
        // Play times of the head (from the first PTS in the file) and of
        // the tail (from its first decoding time).
        bool ptsSeen = false;
        CPlayClock headClock;
        std::int64_t earliest = 0;
        std::int64_t latest = 0;
        std::int64_t headFirstPosition = 0;
        std::int64_t headFirstPlayDts = 0;
        bool tailSeen = false;
        CPlayClock tailClock;
        SProbePoint tailFirst;
        std::int64_t tailEarliest = 0;
        std::int64_t tailLatest = 0;
    };

    void TakeUnit(const SUnitInfo& unit) noexcept;
    // A unit met while looking into the part between; false ends the look.
    bool LookAt(const SUnitInfo& unit) noexcept;
    SEntry* FindTransportEntry(std::uint32_t programNumber, std::uint32_t pid) noexcept;
    SEntry* FindProgramStreamEntry(std::uint32_t streamId, std::uint32_t subStreamId) noexcept;
    SEntry* AddEntry() noexcept;
    // Adds the streams of the map sections that gave no unit.
    void ListMappedStreams() noexcept;
    // The time stamps of the units the data ended in.
    void TakeUnfinishedUnits() noexcept;
    void ReadHeaders(SEntry& entry, const SUnitInfo& unit) noexcept;
    void ReadVideoFacts(SEntry& entry, const SUnitInfo& unit) noexcept;
    void ReadPictures(SEntry& entry, const SUnitInfo& unit) noexcept;
    void NotePts(SEntry& entry, const SPesHeader& header, std::int64_t position, std::int64_t discontinuity) noexcept;
    // The entry the duration is taken from, or null.
    const SEntry* Reference() const noexcept;
    void FillStream(const SEntry& entry, SVskProbeStream& out) const noexcept;
    // Ticks of one frame of the entry: from the video frame rate or the
    // audio frame; 0 when unknown.
    static std::uint64_t FrameTicks(const SEntry& entry) noexcept;

    std::unique_ptr<CStreamReader> m_reader;
    bool m_head = true;
    std::int64_t m_runOffset = 0;
    // The play time between the head's last and the tail's first unit of
    // the reference stream, when looked into.
    bool m_middleSet = false;
    std::int64_t m_middleTicks = 0;
    // A look into the part between: the stream it looks at and what it
    // found.
    enum class ELook { None, Sample, Bridge };
    ELook m_look = ELook::None;
    SJoin m_lookOf;
    bool m_sampled = false;
    SProbePoint m_sample;
    struct SBridge {
        SProbePoint from;
        SProbePoint to;
        CPlayClock clock;
        // `from` or the first unit behind it was met: the play time there.
        bool reached = false;
        std::int64_t base = 0;
        bool done = false;
        std::int64_t ticks = 0;
    };
    SBridge m_bridge;
    bool m_runStopped = false;
    bool m_headDone = false;
    std::uint32_t m_kind = 0;
    std::uint32_t m_programCount = 0;
    std::uint32_t m_entryCount = 0;
    std::uint32_t m_nextOrder = 0;
    std::array<SEntry, PROBE_STREAMS_FOLLOWED> m_entries{};
    CArrivalStamps m_stamps;
};

// The probe of a file: the checks of the exported operation, the reads, the
// report. `stats` may be null.
std::int32_t ProbeStreamFile(const wchar_t* path, SVskStreamProbe* probe, SProbeStats* stats = nullptr) noexcept;

}  // namespace parser
