// The demultiplexing target's corpus beyond its replay as committed: each
// file cut into Feed pieces in several other ways; each seed the stream kind
// its name claims; a transport stream seed leaving the demultiplexer in the
// same state however it is cut and however often the packet buffer is
// compacted on the way. And the cut itself, which decides what the fuzzer
// can reach.
#include "FuzzReplay.h"
#include "FuzzSupport.h"

#include "PASection.h"
#include "PmapSection.h"
#include "StreamReader.h"
#include "TransportStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <numeric>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vskfuzz::CorpusFiles;
using vskfuzz::PlanPieces;

std::uint32_t ClaimedTransportKind(const fs::path& file)
{
    const std::string name = file.stem().string();
    if (name.rfind("ts188-", 0) == 0)
        return parser::STREAM_KIND_TS188;
    if (name.rfind("ts192-", 0) == 0)
        return parser::STREAM_KIND_TS192;
    return parser::STREAM_KIND_UNKNOWN;
}

std::vector<fs::path> TransportStreamSeeds()
{
    std::vector<fs::path> files = CorpusFiles();
    std::erase_if(files, [](const fs::path& f) { return ClaimedTransportKind(f) == parser::STREAM_KIND_UNKNOWN; });
    return files;
}

class CorpusReplay : public testing::TestWithParam<fs::path>
{
protected:
    void SetUp() override { m_input = vsktest::ReadFileBytes(GetParam()); }

    // The file with another control byte in front of the same stream.
    void Replay(std::uint8_t control)
    {
        SCOPED_TRACE("control byte " + std::to_string(control));
        std::vector<std::uint8_t> input = m_input;
        input[0] = control;
        for (const std::string& fault : vskfuzz::ReplayInput(input))
            ADD_FAILURE() << fault;
    }

    std::vector<std::uint8_t> m_input;
};

TEST_P(CorpusReplay, RunsWithoutFaultInEveryCut)
{
    ASSERT_FALSE(m_input.empty());
    // Whole, byte by byte after a short first chunk, odd irregular pieces,
    // the smallest buffer, that buffer filled and compacted, and on after
    // failures.
    for (std::uint8_t control : {0x00, 0x08, 0x21, 0x3D, 0x45, 0x5D, 0x93, 0xFF})
        Replay(control);
}

// What detection must make of each seed fed in one piece, by the first word
// of its name; regression cases the fuzzer found carry no such claim.
TEST_P(CorpusReplay, SeedIsTheKindItsNameSays)
{
    const std::string name = GetParam().stem().string();
    const std::string word = name.substr(0, name.find('-'));
    struct SClaim
    {
        const char* word;
        std::uint32_t kind;
    };
    static const SClaim CLAIMS[] = {
        {"ts188", parser::STREAM_KIND_TS188},
        {"ts192", parser::STREAM_KIND_TS192},
        {"ps", parser::STREAM_KIND_PROGRAM},
        {"junk", parser::STREAM_KIND_UNKNOWN},
    };
    const auto claim = std::find_if(std::begin(CLAIMS), std::end(CLAIMS),
                                    [&](const SClaim& c) { return word == c.word; });
    if (claim == std::end(CLAIMS))
        GTEST_SKIP() << "no kind claimed by " << name;
    ASSERT_GT(m_input.size(), 1u);

    parser::CStreamReader reader;
    ASSERT_EQ(reader.Initialize(), parser::RESULT_OK);
    reader.Configure(vskfuzz::FUZZ_HISTORY_MODE, vskfuzz::FUZZ_SELECTION_MODE, vskfuzz::FUZZ_PROFILE_LEVEL,
                     vskfuzz::FUZZ_BUFFER_SIZE, 0);
    const parser::Result result = reader.Feed(m_input.data() + 1, static_cast<std::uint32_t>(m_input.size() - 1));
    EXPECT_EQ(reader.Kind(), claim->kind);
    if (claim->kind == parser::STREAM_KIND_UNKNOWN)
        EXPECT_EQ(result, parser::ResultUnsupported);
    else
        EXPECT_EQ(result, parser::RESULT_OK);
    reader.Shutdown();
}

// What the demultiplexer knows at the end of the data.
struct SDemuxSummary
{
    std::uint32_t state = 0;
    bool stopped = false;
    std::uint32_t anomalyCount = 0;
    std::uint32_t anomalyCode = 0;
    std::int64_t anomalyPosition = -1;
    std::uint32_t buffered = 0;  // only compared while the demultiplexer runs
    std::uint16_t transportStreamId = 0;
    // Per program: PCR_PID, kept streams, registration class, PCR position and base.
    std::vector<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t, std::int64_t, std::uint64_t>> programs;
    // Per unit taken: program, stream, position, span, PTS, payload length, anomalies.
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::int64_t, std::uint64_t, std::uint64_t, std::uint32_t,
                           std::uint32_t>>
        units;

    bool operator==(const SDemuxSummary& other) const
    {
        return state == other.state && stopped == other.stopped && anomalyCount == other.anomalyCount &&
               anomalyCode == other.anomalyCode && anomalyPosition == other.anomalyPosition &&
               (stopped || buffered == other.buffered) && transportStreamId == other.transportStreamId &&
               programs == other.programs && units == other.units;
    }
};

std::ostream& operator<<(std::ostream& out, const SDemuxSummary& s)
{
    out << "state " << s.state << (s.stopped ? " stopped" : "") << ", anomalies " << s.anomalyCount << " first 0x"
        << std::hex << s.anomalyCode << std::dec << " at " << s.anomalyPosition << ", buffered " << s.buffered
        << ", ts id " << s.transportStreamId;
    for (const auto& [pcrPid, streams, system, pcrPosition, pcrBase] : s.programs)
        out << "; program: PCR PID " << pcrPid << ", " << streams << " streams, class 0x" << std::hex << system
            << std::dec << ", PCR " << pcrBase << " at " << pcrPosition;
    out << "; " << s.units.size() << " units";
    for (const auto& [program, stream, position, span, pts, length, anomalies] : s.units)
        out << " [" << program << "/" << stream << " at " << position << "+" << span << " pts " << pts << ", "
            << length << " bytes, " << anomalies << " anomalies]";
    return out;
}

// MPEG-2 Main profile at Low level: the smallest packet buffer a
// demultiplexer can have (twice 0xE800 is below 0x20000 + 520 bytes).
constexpr std::uint32_t PROFILE_LEVEL_SMALL_BUFFER = vskfuzz::FUZZ_SMALL_PROFILE_LEVEL;
constexpr std::size_t SMALL_BUFFER = vskfuzz::FUZZ_SMALL_BUFFER_SIZE;

// Feeds the stream in pieces of `piece` bytes (0: whole) with the kind given
// (0: detected), working through each piece as the time seek does.
SDemuxSummary Demultiplex(const std::vector<std::uint8_t>& stream, std::size_t piece, std::uint32_t forcedKind,
                          std::uint32_t profileLevel = vskfuzz::FUZZ_PROFILE_LEVEL)
{
    parser::CStreamReader reader;
    EXPECT_EQ(reader.Initialize(), parser::RESULT_OK);
    reader.Configure(vskfuzz::FUZZ_HISTORY_MODE, vskfuzz::FUZZ_SELECTION_MODE, profileLevel,
                     vskfuzz::FUZZ_BUFFER_SIZE, forcedKind);
    SDemuxSummary summary;
    const std::size_t step = piece == 0 ? stream.size() : piece;
    for (std::size_t at = 0; at < stream.size(); at += step) {
        const std::size_t length = std::min(step, stream.size() - at);
        if (reader.Feed(stream.data() + at, static_cast<std::uint32_t>(length)) != parser::RESULT_OK)
            break;
        std::int32_t units = 0;
        while ((units = reader.NextUnits()) > 0) {
            parser::SUnitInfo unit;
            EXPECT_EQ(reader.TakeUnit(unit), parser::RESULT_OK);
            summary.units.emplace_back(unit.programIndex, unit.streamIndex, unit.position, unit.spanLength,
                                       unit.header.pts, unit.payloadLength, unit.status.count);
            reader.ReleaseUnit(unit);
        }
        if (units < 0)
            break;
    }
    const parser::CTransportStream* demux = reader.TransportStream();
    if (demux == nullptr) {
        ADD_FAILURE() << "no demultiplexer";
        return summary;
    }
    summary.state = demux->State();
    summary.stopped = demux->Discontinuities() != 0;
    summary.anomalyCount = demux->Anomalies().count;
    summary.anomalyCode = demux->Anomalies().code;
    summary.anomalyPosition = demux->Anomalies().position;
    summary.buffered = demux->Buffered();
    if (const parser::CPASection* pat = demux->ActivePat())
        summary.transportStreamId = pat->TransportStreamId();
    for (std::uint32_t program = 0; program < demux->ProgramCount(); ++program) {
        const parser::CPmapSection* pmt = demux->ActivePmt(program);
        const parser::SPcrRecord* pcr = demux->Pcr(program);
        summary.programs.emplace_back(pmt ? pmt->PcrPid() : 0xFFFF, pmt ? pmt->StreamCount() : 0,
                                      pmt ? pmt->System() : 0, pcr ? pcr->position : -2, pcr ? pcr->base : 0);
    }
    reader.Shutdown();
    return summary;
}

// Every unit record of a stream fed in pieces of `piece` bytes (0: whole):
// stream, position, span, time stamps, payload length and a checksum of the
// payload.
using SUnitRow = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::int64_t, std::uint64_t, std::uint64_t,
                            std::uint64_t, std::uint32_t, std::uint32_t>;

std::vector<SUnitRow> UnitRecords(const std::vector<std::uint8_t>& stream, std::size_t piece)
{
    std::vector<SUnitRow> rows;
    parser::CStreamReader reader;
    EXPECT_EQ(reader.Initialize(), parser::RESULT_OK);
    reader.Configure(vskfuzz::FUZZ_HISTORY_MODE, vskfuzz::FUZZ_SELECTION_MODE, vskfuzz::FUZZ_PROFILE_LEVEL,
                     vskfuzz::FUZZ_BUFFER_SIZE, 0);
    // The first piece is whole-sized for detection, as the time seek's is.
    const std::size_t first = std::min<std::size_t>(stream.size(), 65536);
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t n = at == 0 ? (piece == 0 ? stream.size() : first) : std::min(piece, stream.size() - at);
        if (reader.Feed(stream.data() + at, static_cast<std::uint32_t>(n)) != parser::RESULT_OK)
            break;
        at += n;
        std::int32_t units = 0;
        while ((units = reader.NextUnits()) > 0) {
            parser::SUnitInfo u;
            EXPECT_EQ(reader.TakeUnit(u), parser::RESULT_OK);
            std::uint32_t sum = 0;
            for (std::uint32_t i = 0; i < u.payloadLength; ++i)
                sum = sum * 31 + u.payload[i];
            rows.emplace_back(u.programIndex, u.streamIndex, u.streamType, u.position, u.spanLength, u.header.pts,
                              u.header.dts, u.payloadLength, sum);
            reader.ReleaseUnit(u);
        }
        if (units < 0)
            break;
    }
    return rows;
}

// However a seed is cut after its first chunk, the reader hands out the
// same units.
TEST_P(CorpusReplay, UnitRecordsDoNotDependOnTheCut)
{
    ASSERT_GT(m_input.size(), 1u);
    const std::vector<std::uint8_t> stream(m_input.begin() + 1, m_input.end());
    const std::vector<SUnitRow> whole = UnitRecords(stream, 0);
    for (std::size_t piece : {1, 7, 188, 192, 1000}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_TRUE(UnitRecords(stream, piece) == whole);
    }
}

// The transport stream seeds alone.
class TransportSeed : public CorpusReplay
{
};

// A packet split between two Feed calls is read as if it had come whole:
// however a damaged stream is cut, the demultiplexer ends with the same
// tables, PCRs and anomaly record.
TEST_P(TransportSeed, EndsTheSameHoweverItIsCut)
{
    const std::uint32_t kind = ClaimedTransportKind(GetParam());
    ASSERT_GT(m_input.size(), 1u);
    const std::vector<std::uint8_t> stream(m_input.begin() + 1, m_input.end());

    const SDemuxSummary whole = Demultiplex(stream, 0, 0);
    for (std::size_t piece : {1, 7, 64, 187, 188, 189, 192, 1000}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_EQ(Demultiplex(stream, piece, kind), whole);
    }
}

// The seed again and again, several times the smallest packet buffer, fed
// in pieces into that buffer, so it is compacted over and over: positions
// stay absolute from the first byte, as with a buffer that never compacts.
TEST_P(TransportSeed, PositionsSurviveCompaction)
{
    const std::uint32_t kind = ClaimedTransportKind(GetParam());
    ASSERT_GT(m_input.size(), 1u);
    std::vector<std::uint8_t> stream;
    while (stream.size() < 2 * SMALL_BUFFER)
        stream.insert(stream.end(), m_input.begin() + 1, m_input.end());

    const SDemuxSummary uncompacted = Demultiplex(stream, 0x10000, kind);
    for (std::size_t piece : {7, 189, 4096, 0x10000}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_EQ(Demultiplex(stream, piece, kind, PROFILE_LEVEL_SMALL_BUFFER), uncompacted);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReplay, testing::ValuesIn(CorpusFiles()), vskfuzz::CorpusTestName);
INSTANTIATE_TEST_SUITE_P(Corpus, TransportSeed, testing::ValuesIn(TransportStreamSeeds()), vskfuzz::CorpusTestName);

TEST(CorpusFolder, HoldsSeedsOfEveryKind)
{
    const std::vector<fs::path> files = CorpusFiles();
    ASSERT_GE(files.size(), 20u) << "corpus not found in " << vskfuzz::CorpusDirectory().string();
    std::size_t ts188 = 0, ts192 = 0, ps = 0, junk = 0;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        ts188 += name.rfind("ts188-", 0) == 0;
        ts192 += name.rfind("ts192-", 0) == 0;
        ps += name.rfind("ps-", 0) == 0;
        junk += name.rfind("junk-", 0) == 0;
    }
    EXPECT_GT(ts188, 0u);
    EXPECT_GT(ts192, 0u);
    EXPECT_GT(ps, 0u);
    EXPECT_GT(junk, 0u);
}

// The cut decides what the fuzzer can reach, so it must hand over every
// byte exactly once, with the first piece and the piece sizes the control
// byte names.
TEST(PlanPieces, CoversTheStreamExactlyOnceInTheNamedSizes)
{
    struct SCase
    {
        std::uint8_t control;
        std::size_t length;
        std::vector<std::size_t> expectedPrefix;
    };
    const SCase cases[] = {
        {0x18, 5, {1, 1, 1, 1, 1}},                 // first piece the piece size: 1
        {0x08, 1003, {1000, 1, 1, 1}},              // 1000 first, then single bytes
        {0x03, 70000, {65536, 188, 188}},           // the time seek's first read, then packets
        {0x14, 10000, {4000, 192, 192}},            // 4000 first, then 192-byte units
        {0x1D, 2500, {1000, 1000, 500}},            // pieces of 1000, the last one short
        {0x3A, 500, {64, 64 + 61, 64 + 122, 64, 61}},  // irregular pieces, the last one short
        {0x07, 100, {100}},                         // a stream shorter than one piece
        {0x00, 0, {}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE("control " + std::to_string(c.control) + ", length " + std::to_string(c.length));
        const std::vector<std::size_t> pieces = PlanPieces(c.control, c.length);
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::size_t{0}), c.length);
        EXPECT_TRUE(std::none_of(pieces.begin(), pieces.end(), [](std::size_t n) { return n == 0; }));
        ASSERT_GE(pieces.size(), c.expectedPrefix.size());
        EXPECT_TRUE(std::equal(c.expectedPrefix.begin(), c.expectedPrefix.end(), pieces.begin()));
    }
}

// Inputs too short to hold a control byte and a stream byte do nothing, and
// a stream too short for detection is refused without a fault.
TEST(FuzzBody, ShortInputsAreHandledQuietly)
{
    EXPECT_EQ(LLVMFuzzerTestOneInput(nullptr, 0), 0);
    for (const std::vector<std::uint8_t>& input : {std::vector<std::uint8_t>{0x00}, {0x00, 0x47, 0x00}, {0x80, 0x00, 0x00}}) {
        const std::vector<std::string> faults = vskfuzz::ReplayInput(input);
        EXPECT_TRUE(faults.empty()) << faults.front();
    }
}

}  // namespace
