#include "StreamReaderFuzzBody.h"

#include "StreamReader.h"
#include "StreamProbe.h"
#include "TimeSeek.h"
#include "VskMpegParser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>

namespace vskfuzz {
namespace {

// Single bytes and odd lengths split packets and start codes anywhere; 188
// and 192 keep whole units; 64 KiB is what the time seek reads at once.
constexpr std::array<std::size_t, 8> PIECE_SIZES{1, 7, 64, 188, 192, 1000, 4096, 65536};
// Detection looks at the first piece alone: the time seek's 64 KiB, a chunk
// too short for the long runs, one that just holds them, or the piece size.
constexpr std::array<std::size_t, 4> FIRST_PIECE_SIZES{65536, 1000, 4000, 0};
constexpr std::size_t IRREGULAR_STEP = 61;

void AbortOnFault(const char* what)
{
    std::fprintf(stderr, "stream reader fault: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

FaultHandler g_faultHandler = AbortOnFault;

// The rules every result must keep, whatever the bytes were.
class CReaderCheck
{
public:
    CReaderCheck(const parser::CStreamReader& reader, std::uint32_t largestBuffer)
        : m_reader(reader), m_largestBuffer(largestBuffer)
    {
    }

    void AfterFeed(parser::Result result, std::uint32_t length)
    {
        const std::uint32_t kind = m_reader.Kind();
        const bool first = !m_fed;
        if (first) {
            m_fed = true;
            m_kind = kind;
        } else if (kind != m_kind) {
            g_faultHandler("the stream kind changed after the first Feed");
        }
        if (kind > parser::STREAM_KIND_TS192)
            g_faultHandler("Feed set a stream kind that does not exist");
        if (kind == parser::STREAM_KIND_UNKNOWN) {
            if (result == parser::RESULT_OK)
                g_faultHandler("Feed of a stream of unknown kind reported success");
            if (!first && result != parser::ResultUnsupported)
                g_faultHandler("Feed after detection found no kind did not answer ResultUnsupported");
        }
        if (result == parser::RESULT_OK && (kind == parser::STREAM_KIND_TS188 || kind == parser::STREAM_KIND_TS192)) {
            if (m_reader.TransportStream() == nullptr)
                g_faultHandler("a transport stream was fed without a demultiplexer");
            // The bytes just fed are still held, so at most capacity - length is free.
            if (length > m_largestBuffer || m_reader.FreeSpace() > m_largestBuffer - length)
                g_faultHandler("FreeSpace counts bytes that were just fed as free");
        }
        CheckFreeSpace();
    }

    void AfterNextUnits(std::int32_t units)
    {
        if (units < -1)
            g_faultHandler("NextUnits returned a value below -1");
        if (m_reader.Kind() == parser::STREAM_KIND_UNKNOWN && units != -1)
            g_faultHandler("NextUnits on a stream of unknown kind did not fail");
        CheckFreeSpace();
    }

    // The rules of a unit record, whatever the bytes were.
    void CheckUnit(const parser::SUnitInfo& unit, std::uint64_t fed)
    {
        if (unit.kind != m_reader.Kind())
            g_faultHandler("a unit record names another stream kind");
        if (unit.payload == nullptr || unit.payloadLength == 0)
            g_faultHandler("a unit was reported without payload");
        if (unit.position < 0 || unit.spanLength == 0 ||
            static_cast<std::uint64_t>(unit.position) + unit.spanLength > fed)
            g_faultHandler("a unit lies outside the bytes fed");
        if (unit.payloadLength > unit.spanLength)
            g_faultHandler("a unit carries more payload than it spans");
        // Every payload byte is read, so a payload outside the reader's
        // memory is caught by the sanitizers.
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; unit.payload != nullptr && i < unit.payloadLength; ++i)
            sum += unit.payload[i];
        m_payloadSum += sum;
        if (unit.packetCount != 0) {
            if (unit.packetPositions == nullptr || unit.packetHeaderLengths == nullptr ||
                unit.packetPositions[0] != unit.position)
                g_faultHandler("a unit's first packet is not where the unit begins");
            for (std::uint32_t i = 1; i < unit.packetCount; ++i) {
                if (unit.packetPositions[i] <= unit.packetPositions[i - 1])
                    g_faultHandler("a unit's packets are not in stream order");
            }
            const std::uint64_t last = static_cast<std::uint64_t>(unit.packetPositions[unit.packetCount - 1]);
            if (last >= static_cast<std::uint64_t>(unit.position) + unit.spanLength)
                g_faultHandler("a unit's last packet lies beyond its span");
        }
        // Units of one stream come in stream order.
        const auto key = std::make_pair(unit.programIndex, unit.streamIndex);
        const auto previous = m_lastPositions.find(key);
        if (previous != m_lastPositions.end() && unit.position <= previous->second)
            g_faultHandler("a stream's units do not come in stream order");
        m_lastPositions[key] = unit.position;
    }

private:
    void CheckFreeSpace()
    {
        if (m_reader.FreeSpace() > m_largestBuffer)
            g_faultHandler("FreeSpace exceeds the largest buffer the reader can have");
    }

    const parser::CStreamReader& m_reader;
    const std::uint32_t m_largestBuffer;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::int64_t> m_lastPositions;
    std::uint32_t m_payloadSum = 0;
    bool m_fed = false;
    std::uint32_t m_kind = parser::STREAM_KIND_UNKNOWN;
};

}  // namespace

std::vector<std::size_t> PlanPieces(std::uint8_t control, std::size_t streamLength)
{
    const std::size_t pieceSize = PIECE_SIZES[control & FUZZ_PIECE_SIZE_MASK];
    std::size_t firstSize = FIRST_PIECE_SIZES[(control & FUZZ_FIRST_PIECE_MASK) >> FUZZ_FIRST_PIECE_SHIFT];
    if (firstSize == 0)
        firstSize = pieceSize;
    std::vector<std::size_t> pieces;
    std::size_t done = 0;
    for (std::size_t k = 0; done < streamLength; ++k) {
        std::size_t size = pieceSize;
        if (k == 0)
            size = firstSize;
        else if (control & FUZZ_IRREGULAR)
            size = pieceSize + (k % 3) * IRREGULAR_STEP;
        size = std::min(size, streamLength - done);
        pieces.push_back(size);
        done += size;
    }
    return pieces;
}

void SetFaultHandler(FaultHandler handler) noexcept
{
    g_faultHandler = handler != nullptr ? handler : AbortOnFault;
}

namespace {

// Feeds one piece and works through it as the time seek does; false when
// the reader failed and the input says not to go on.
bool FeedPiece(parser::CStreamReader& reader, CReaderCheck& check, const std::uint8_t* bytes, std::size_t length,
               std::size_t& fed, bool goOn)
{
    const parser::Result result = reader.Feed(bytes, static_cast<std::uint32_t>(length));
    check.AfterFeed(result, static_cast<std::uint32_t>(length));
    fed += length;
    if (result != parser::RESULT_OK && !goOn)
        return false;
    // A reader that reports units but never consumes a byte would keep this
    // loop going; every real step consumes at least one of the bytes fed so
    // far, which bounds it.
    std::int32_t units = 1;
    for (std::size_t calls = 0; units > 0 && calls <= fed + 16; ++calls) {
        units = reader.NextUnits();
        check.AfterNextUnits(units);
        if (units > 0) {
            parser::SUnitInfo unit;
            if (reader.TakeUnit(unit) != parser::RESULT_OK) {
                g_faultHandler("NextUnits reported a unit that TakeUnit did not find");
                break;
            }
            check.CheckUnit(unit, fed);
            reader.ReleaseUnit(unit);
        }
    }
    return units >= 0 || goOn;
}

// The file the time seek searches: one per process, named at random so
// fuzzing processes running side by side do not share it, removed at exit.
class CSeekFile
{
public:
    CSeekFile()
        : m_path(std::filesystem::temp_directory_path() /
                 ("vsk-fuzz-seek-" + std::to_string(std::random_device{}()) + ".bin"))
    {
    }
    ~CSeekFile()
    {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    const std::filesystem::path& Path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

// The stream probe of the same file: it answers with facts that hold
// together or fails with one of its codes, writing nothing then.
void ProbeFile(const std::filesystem::path& file, std::size_t size) noexcept
{
    SVskStreamProbe probe;
    probe.streamCount = 0xFFFFFFFFu;
    const std::int32_t result = parser::ProbeStreamFile(file.wstring().c_str(), &probe);
    if (result != VSK_PARSER_RESULT_OK) {
        if (result != VSK_PARSER_RESULT_FAIL && result != VSK_PARSER_RESULT_INVALIDARG &&
            result != VSK_PARSER_RESULT_OUTOFMEMORY)
            g_faultHandler("the probe returned a code it does not have");
        if (probe.streamCount != 0xFFFFFFFFu)
            g_faultHandler("a failed probe wrote its structure");
        return;
    }
    if (probe.fileSize != static_cast<std::int64_t>(size) || probe.streamKind < 1 || probe.streamKind > 3 ||
        probe.packetFormat > VSK_PROBE_FORMAT_192_STAMPED || probe.streamCount > VSK_PROBE_MAX_STREAMS ||
        (probe.durationMs == 0 && probe.bitRate != 0))
        g_faultHandler("the probe answered facts that do not hold together");
    for (std::uint32_t i = 0; i < probe.streamCount; ++i) {
        const SVskProbeStream& s = probe.streams[i];
        if ((s.frameRateNumerator == 0) != (s.frameRateDenominator == 0) ||
            (s.displayAspectNumerator == 0) != (s.displayAspectDenominator == 0) ||
            (s.sampleAspectNumerator == 0) != (s.sampleAspectDenominator == 0) || s.bitRateMeasured > 1 ||
            (s.category != VSK_PROBE_STREAM_VIDEO && s.width != 0) ||
            (s.category != VSK_PROBE_STREAM_AUDIO && s.channels != 0))
            g_faultHandler("the probe answered a stream whose facts do not hold together");
    }
}

// The input repeated (whole 188-byte units of it, so its packets stay in
// step) into a file long enough for a seek pass to hand over to the header
// scan: the scan must answer exactly as the demultiplexer alone does.
void CompareSeekReadings(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size,
                         std::uint32_t durationMs, std::uint32_t timeMs)
{
    constexpr std::size_t TILED_BYTES = 0x1C000;
    const std::size_t piece = size >= 4 * 188 ? size / 188 * 188 : size;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (std::size_t written = 0; written < TILED_BYTES; written += piece)
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(piece));
        if (!out)
            return;
    }
    std::uint32_t found[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    std::int64_t position[2] = {-2, -2};
    std::int32_t result[2] = {};
    const parser::ESeekReading readings[2] = {parser::ESeekReading::HeaderScan, parser::ESeekReading::Demultiplex};
    for (int i = 0; i < 2; ++i)
        result[i] = parser::FindTimeSeekPosition(file.wstring().c_str(), durationMs, timeMs, false, &found[i],
                                                 &position[i], nullptr, readings[i]);
    if (result[0] != result[1] || found[0] != found[1] || position[0] != position[1])
        g_faultHandler("the header scan answered otherwise than the demultiplexer");
}

// The whole input as a file, searched for a time it chooses: the search
// must answer within the file or fail with one of its codes.
void SeekInFile(const std::uint8_t* data, std::size_t size) noexcept
{
    if (size < 10)
        return;
    try {
        static const CSeekFile seekFile;
        const std::filesystem::path& file = seekFile.Path();
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
            if (!out)
                return;
        }
        auto word = [&](std::size_t at) {
            return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
                   std::uint32_t{data[at + 3]} << 24;
        };
        const std::uint32_t durationMs = word(size - 8);
        const std::uint32_t timeMs = durationMs == 0 ? word(size - 4) : word(size - 4) % (durationMs + 1000u);
        std::uint32_t found = 0xFFFFFFFFu;
        std::int64_t position = -2;
        const std::int32_t result =
            parser::FindTimeSeekPosition(file.wstring().c_str(), durationMs, timeMs, false, &found, &position);
        switch (result) {
        case VSK_PARSER_RESULT_OK:
            if (position < 0 || static_cast<std::uint64_t>(position) > size)
                g_faultHandler("the time seek answered a position outside the file");
            if (timeMs == 0 && (position != 0 || found != 0))
                g_faultHandler("the time seek did not answer time 0 with the start of the file");
            break;
        case VSK_PARSER_RESULT_FAIL:
        case VSK_PARSER_RESULT_INVALIDARG:
        case VSK_PARSER_RESULT_OUTOFMEMORY:
            if (position != -2 || found != 0xFFFFFFFFu)
                g_faultHandler("a failed time seek wrote its outputs");
            if (durationMs == 0 && result != VSK_PARSER_RESULT_INVALIDARG)
                g_faultHandler("a duration of 0 was not refused");
            break;
        default:
            g_faultHandler("the time seek returned a code it does not have");
        }
        ProbeFile(file, size);
        CompareSeekReadings(file, data, size, durationMs, timeMs);
    } catch (...) {
        // The file could not be written: nothing to search.
    }
}

}  // namespace

int RunStreamReaderInput(const std::uint8_t* data, std::size_t size) noexcept
{
    if (size < 2)
        return 0;
    const std::uint8_t control = data[0];
    const std::uint8_t* stream = data + 1;
    const std::size_t streamLength = size - 1;
    const bool smallBuffer = (control & FUZZ_SMALL_BUFFER) != 0;
    const bool goOn = (control & FUZZ_GO_ON_AFTER_FAILURE) != 0;

    parser::CStreamReader reader;
    if (reader.Initialize() != parser::RESULT_OK) {
        reader.Shutdown();
        return 0;
    }
    reader.Configure(FUZZ_HISTORY_MODE, FUZZ_SELECTION_MODE, smallBuffer ? FUZZ_SMALL_PROFILE_LEVEL : FUZZ_PROFILE_LEVEL,
                     FUZZ_BUFFER_SIZE, 0);
    CReaderCheck check(reader, smallBuffer ? FUZZ_SMALL_BUFFER_SIZE : FUZZ_LARGEST_BUFFER);

    std::vector<std::size_t> pieces;
    try {
        pieces = PlanPieces(control, streamLength);
    } catch (...) {
        reader.Shutdown();
        return 0;
    }

    // The first pass cuts the stream as planned; with the small buffer the
    // stream then goes in again whole, until the buffer has been compacted.
    std::size_t fed = 0;
    std::size_t offset = 0;
    bool going = true;
    for (std::size_t k = 0; going && k < pieces.size(); ++k) {
        going = FeedPiece(reader, check, stream + offset, pieces[k], fed, goOn);
        offset += pieces[k];
    }
    while (going && smallBuffer && fed < FUZZ_SMALL_BUFFER_FEED)
        going = FeedPiece(reader, check, stream, streamLength, fed, goOn);
    reader.Shutdown();
    SeekInFile(stream, streamLength);
    return 0;
}

}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return vskfuzz::RunStreamReaderInput(data, size);
}
