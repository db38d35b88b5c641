// The stream-probe target: the stream behind the control byte goes through
// the probe in memory, as ProbeStreamFile feeds it from a file: one head
// read of the whole stream, or (FUZZ_HEAD_AND_TAIL) a head read of its first
// half and a tail read of the rest, as for a file larger than both reads
// with 12 MiB unread between them. The control byte cuts the reads into
// pieces. The facts must hold together, and must be the same when each read
// is fed in one piece after the same first piece (detection looks at the
// first piece alone, so that one stays).
//
// In memory rather than through a file: the file reads of the probe are a
// few lines that the probe's own tests cover, and a file per input would
// cost most of the time of a run.
#include "FuzzSupport.h"

#include "StreamProbe.h"
#include "StreamReader.h"
#include "VskMpegParser.h"

#include <cstring>
#include <optional>
#include <span>

namespace vskfuzz {
namespace {

// What a file probed by head and tail has between the two reads.
constexpr std::int64_t UNREAD_BETWEEN_READS = 12 * 1024 * 1024;

using Pieces = std::vector<std::size_t>;

// Runs one read over `bytes` in the pieces given; false when the probe
// failed as ProbeStreamFile would report it.
bool Read(parser::CStreamProbe& probe, bool head, std::span<const std::uint8_t> bytes, const Pieces& pieces,
          bool endOfFile)
{
    if (probe.BeginRun(head) != parser::RESULT_OK)
        return false;
    std::size_t at = 0;
    for (const std::size_t length : pieces) {
        const parser::Result fed = probe.Feed(bytes.data() + at, static_cast<std::uint32_t>(length));
        at += length;
        if (fed == parser::ResultUnsupported && head)
            return false;
        if (fed != parser::RESULT_OK) {
            Fault("the probe's Feed failed with a code it does not give");
            return false;
        }
    }
    probe.EndRun(endOfFile);
    return true;
}

// The first piece of `pieces`, then the rest whole.
Pieces FirstThenRest(const Pieces& pieces, std::size_t length)
{
    if (pieces.size() <= 1)
        return pieces;
    return {pieces.front(), length - pieces.front()};
}

// The probe of the stream, the head read cut as `headPieces` and the tail
// read (when `split`) as `tailPieces`; nullopt where the probe fails.
std::optional<SVskStreamProbe> Probe(std::span<const std::uint8_t> stream, bool split, std::size_t headLength,
                                     const Pieces& headPieces, const Pieces& tailPieces, std::int64_t fileSize)
{
    parser::CStreamProbe probe;
    if (!Read(probe, true, stream.first(headLength), headPieces, !split))
        return std::nullopt;
    if (probe.Kind() == parser::STREAM_KIND_UNKNOWN)
        return std::nullopt;
    if (split && !Read(probe, false, stream.subspan(headLength), tailPieces, true))
        return std::nullopt;
    // Cleared whole, padding included, so two reports compare byte for byte.
    SVskStreamProbe report;
    std::memset(static_cast<void*>(&report), 0, sizeof report);
    probe.Report(fileSize, report);
    return report;
}

void CheckFacts(const SVskStreamProbe& probe, std::int64_t fileSize)
{
    if (probe.fileSize != fileSize || probe.streamKind < 1 || probe.streamKind > 3 ||
        probe.packetFormat > VSK_PROBE_FORMAT_192_STAMPED || probe.streamCount > VSK_PROBE_MAX_STREAMS ||
        (probe.durationMs == 0 && probe.bitRate != 0) ||
        (probe.streamKind != parser::STREAM_KIND_TS192 && probe.packetFormat > VSK_PROBE_FORMAT_188))
        Fault("the probe answered facts that do not hold together");
    for (std::uint32_t i = 0; i < probe.streamCount; ++i) {
        const SVskProbeStream& s = probe.streams[i];
        if ((s.frameRateNumerator == 0) != (s.frameRateDenominator == 0) ||
            (s.displayAspectNumerator == 0) != (s.displayAspectDenominator == 0) ||
            (s.sampleAspectNumerator == 0) != (s.sampleAspectDenominator == 0) || s.bitRateMeasured > 1 ||
            (s.category != VSK_PROBE_STREAM_VIDEO && s.width != 0) ||
            (s.category != VSK_PROBE_STREAM_AUDIO && s.channels != 0))
            Fault("the probe answered a stream whose facts do not hold together");
    }
}

int RunProbeInput(const std::uint8_t* data, std::size_t size) noexcept
{
    if (size < 2)
        return 0;
    try {
        const std::uint8_t control = data[0];
        const std::span<const std::uint8_t> stream(data + 1, size - 1);
        const bool split = (control & FUZZ_HEAD_AND_TAIL) != 0 && stream.size() >= 2;
        const std::size_t headLength = split ? stream.size() / 2 : stream.size();
        const std::size_t tailLength = stream.size() - headLength;
        const std::int64_t fileSize =
            static_cast<std::int64_t>(stream.size()) + (split ? UNREAD_BETWEEN_READS : 0);

        const Pieces headPieces = PlanPieces(control, headLength);
        const Pieces tailPieces = PlanPieces(control, tailLength);
        const std::optional<SVskStreamProbe> cut = Probe(stream, split, headLength, headPieces, tailPieces, fileSize);
        const std::optional<SVskStreamProbe> whole =
            Probe(stream, split, headLength, FirstThenRest(headPieces, headLength),
                  FirstThenRest(tailPieces, tailLength), fileSize);
        if (cut.has_value() != whole.has_value())
            Fault("the probe failed or not depending on how the reads were cut");
        if (!cut || !whole)
            return 0;
        CheckFacts(*cut, fileSize);
        if (std::memcmp(&*cut, &*whole, sizeof(SVskStreamProbe)) != 0)
            Fault("the probe's facts depend on how the reads were cut");
    } catch (...) {
        // The plan of pieces could not be allocated: nothing to probe.
    }
    return 0;
}

}  // namespace
}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return vskfuzz::RunProbeInput(data, size);
}
