// The front object: kind detection on the first Feed, the readers it hands
// data to, NextUnits, and positions that stay absolute however the data is
// cut into pieces.
#include "DemuxTestSupport.h"

#include "StreamReader.h"
#include "TransportStream.h"

#include "vsktest/ProgramStreamBuilder.h"
#include "vsktest/Recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

namespace parser {
namespace {

using demuxtest::Elementary;
using demuxtest::Pat;
using demuxtest::Pmt;
using demuxtest::PMT_PID;
using demuxtest::SimplePmt;
using demuxtest::VIDEO_PID;

constexpr std::uint32_t TIME_SEEK_BUFFER = 0x20000;
constexpr std::size_t PIECE = 65536;

void ConfigureForTimeSeek(CStreamReader& reader)
{
    ASSERT_EQ(reader.Initialize(), RESULT_OK);
    reader.Configure(2, 4, 0xFF, TIME_SEEK_BUFFER, 0);
}

Result FeedAll(CStreamReader& reader, const std::vector<std::uint8_t>& bytes)
{
    return reader.Feed(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// Calls NextUnits until it has nothing more to do with the bytes at hand.
std::int32_t DrainUnits(CStreamReader& reader)
{
    for (;;) {
        const CTransportStream* demux = reader.TransportStream();
        const std::uint64_t before = demux != nullptr ? demux->PacketReader().CursorPosition() : 0;
        const std::int32_t units = reader.NextUnits();
        if (units != 0)
            return units;
        if (demux == nullptr || demux->PacketReader().CursorPosition() == before)
            return 0;
    }
}

std::vector<std::uint8_t> SmallTransportStream(std::size_t unitSize)
{
    vsktest::CTsStreamBuilder b(unitSize);
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    for (int i = 0; i < 20; ++i)
        b.Add(Elementary(VIDEO_PID, 1000u + static_cast<unsigned>(i)));
    return b.Take();
}

std::vector<std::uint8_t> SmallProgramStream()
{
    vsktest::CProgramStreamBuilder ps;
    ps.AddPack({});
    vsktest::PesParams pes;
    pes.pts = 3600;
    pes.payload.assign(3000, 0x22);
    ps.AddPes(pes);
    ps.AddEnd();
    return ps.Take();
}

// ---------------------------------------------------------------------------
// Feed and the kind

TEST(StreamReaderTest, TheFirstFeedDecidesTheKindAndTheReader)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t kind;
    };
    // The tail of a packet in front, as in a file cut anywhere.
    std::vector<std::uint8_t> cut(138, 0xFF);
    const std::vector<std::uint8_t> stream = SmallTransportStream(188);
    cut.insert(cut.end(), stream.begin(), stream.end());
    const std::vector<Case> cases = {
        {"188-byte packets", SmallTransportStream(188), STREAM_KIND_TS188},
        {"188-byte packets cut mid-packet", cut, STREAM_KIND_TS188},
        {"192-byte units", SmallTransportStream(192), STREAM_KIND_TS192},
        {"program stream", SmallProgramStream(), STREAM_KIND_PROGRAM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CStreamReader reader;
        ConfigureForTimeSeek(reader);
        EXPECT_FALSE(reader.KindDecided());
        EXPECT_EQ(reader.FreeSpace(), TIME_SEEK_BUFFER);
        ASSERT_EQ(FeedAll(reader, c.bytes), RESULT_OK);
        EXPECT_TRUE(reader.KindDecided());
        EXPECT_EQ(reader.Kind(), c.kind);
        const CTransportStream* demux = reader.TransportStream();
        if (c.kind == STREAM_KIND_PROGRAM) {
            EXPECT_EQ(demux, nullptr);
            ASSERT_NE(reader.ProgramStream(), nullptr);
            EXPECT_EQ(reader.FreeSpace(), TIME_SEEK_BUFFER - c.bytes.size());
            // The pack header (14 bytes), then the video unit.
            ASSERT_EQ(reader.NextUnits(), 1);
            SUnitInfo unit;
            ASSERT_EQ(reader.TakeUnit(unit), RESULT_OK);
            EXPECT_EQ(unit.kind, STREAM_KIND_PROGRAM);
            EXPECT_EQ(unit.position, 14);
            EXPECT_EQ(unit.header.pts, 3600u);
            EXPECT_EQ(unit.payloadLength, 3000u);
            EXPECT_TRUE(unit.classified);
            EXPECT_EQ(unit.codec, CODEC_MPEG_VIDEO);
            reader.ReleaseUnit(unit);
            EXPECT_EQ(reader.NextUnits(), 0);
            EXPECT_EQ(reader.TakeUnit(unit), ResultNeedMoreData);
            continue;
        }
        ASSERT_NE(demux, nullptr);
        EXPECT_EQ(demux->Prefix(), c.kind == STREAM_KIND_TS192 ? 4u : 0u);
        EXPECT_EQ(demux->HistoryMode(), 2u);
        EXPECT_EQ(demux->SelectionMode(), 4u);
        EXPECT_EQ(demux->Capacity(), 2445312u);
        EXPECT_EQ(reader.FreeSpace(), 2445312u - c.bytes.size());
        EXPECT_EQ(DrainUnits(reader), 0);
        EXPECT_EQ(demux->State(), DEMUX_RUNNING);
        EXPECT_EQ(demux->Pcr(0)->base, 1019u);
        // The kind is never examined again, whatever follows.
        const std::vector<std::uint8_t> other = SmallProgramStream();
        EXPECT_EQ(FeedAll(reader, other), RESULT_OK);
        EXPECT_EQ(reader.Kind(), c.kind);
    }
}

// What the reader recognised of a program stream's private units decides
// their classification: a confirmed AC-3 sub-stream is AC-3 audio, a DSI
// packet private data of its own coding.
TEST(StreamReaderTest, ProgramStreamUnitsAreClassifiedByTheirSubStream)
{
    vsktest::CProgramStreamBuilder ps;
    ps.AddPack({});
    vsktest::PesParams ac3;
    ac3.streamId = 0xBD;
    ac3.payload = {0x82, 0x01, 0x00, 0x01, 0x0B, 0x77, 0x10, 0x20};
    ps.AddPes(ac3);
    vsktest::PesParams dsi;
    dsi.streamId = 0xBF;
    dsi.payload = {0x01, 0x10};
    ps.AddPes(dsi);
    ps.AddEnd();
    CStreamReader reader;
    ASSERT_EQ(reader.Initialize(), RESULT_OK);
    reader.Configure(2, 4, 0xFF, TIME_SEEK_BUFFER, STREAM_KIND_PROGRAM);
    ASSERT_EQ(FeedAll(reader, ps.Take()), RESULT_OK);
    struct SExpected {
        std::uint32_t category;
        std::uint32_t codec;
        std::uint32_t subIndex;
        std::uint32_t payloadLength;
    };
    for (const SExpected& e : {SExpected{0x20001, 0x3000A, 2, 4}, SExpected{0x20010, 0x30023, 0, 2}}) {
        ASSERT_EQ(reader.NextUnits(), 1);
        SUnitInfo unit;
        ASSERT_EQ(reader.TakeUnit(unit), RESULT_OK);
        EXPECT_TRUE(unit.classified);
        EXPECT_EQ(std::tuple(unit.category, unit.codec, unit.subIndex, unit.payloadLength),
                  std::tuple(e.category, e.codec, e.subIndex, e.payloadLength));
        reader.ReleaseUnit(unit);
    }
    EXPECT_EQ(reader.NextUnits(), 0);
}

TEST(StreamReaderTest, DataOfUnknownKindIsRefusedForGood)
{
    std::vector<std::uint8_t> noise(65536);
    std::uint32_t seed = 99;
    for (auto& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 23);
    }
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    EXPECT_EQ(FeedAll(reader, noise), ResultUnsupported);
    EXPECT_TRUE(reader.KindDecided());
    EXPECT_EQ(reader.Kind(), STREAM_KIND_UNKNOWN);
    EXPECT_EQ(reader.NextUnits(), -1);
    EXPECT_EQ(reader.FreeSpace(), TIME_SEEK_BUFFER);
    // Good data later changes nothing.
    EXPECT_EQ(FeedAll(reader, SmallTransportStream(188)), ResultUnsupported);
    EXPECT_EQ(reader.NextUnits(), -1);
}

TEST(StreamReaderTest, AForcedKindSkipsDetection)
{
    struct Case {
        std::uint32_t forced;
        std::uint32_t kind;
        Result result;
    };
    for (const Case& c : {Case{STREAM_KIND_TS188, STREAM_KIND_TS188, RESULT_OK},
                          Case{STREAM_KIND_TS192, STREAM_KIND_TS192, RESULT_OK},
                          Case{STREAM_KIND_PROGRAM, STREAM_KIND_PROGRAM, RESULT_OK},
                          Case{7, STREAM_KIND_UNKNOWN, ResultUnsupported}}) {
        SCOPED_TRACE(c.forced);
        CStreamReader reader;
        ASSERT_EQ(reader.Initialize(), RESULT_OK);
        reader.Configure(2, 4, 0xFF, TIME_SEEK_BUFFER, c.forced);
        // Two bytes are too few for any detection.
        const std::uint8_t bytes[2] = {0x47, 0x00};
        EXPECT_EQ(reader.Feed(bytes, 2), c.result);
        EXPECT_EQ(reader.Kind(), c.kind);
    }
}

TEST(StreamReaderTest, AFeedThatCannotBeExaminedLeavesTheKindOpen)
{
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    EXPECT_EQ(reader.Feed(nullptr, 0), ResultSetupFailed);
    EXPECT_EQ(reader.Feed(nullptr, 100), ResultAppendFailed);
    EXPECT_FALSE(reader.KindDecided());
    ASSERT_EQ(FeedAll(reader, SmallTransportStream(192)), RESULT_OK);
    EXPECT_EQ(reader.Kind(), STREAM_KIND_TS192);
    // Once decided, an empty Feed is nothing to do.
    EXPECT_EQ(reader.Feed(nullptr, 0), RESULT_OK);
    EXPECT_EQ(reader.Feed(nullptr, 5), ResultAppendFailed);
}

TEST(StreamReaderTest, InitializeAndShutdownStartAfresh)
{
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    ASSERT_EQ(FeedAll(reader, SmallTransportStream(188)), RESULT_OK);
    ASSERT_NE(reader.TransportStream(), nullptr);
    reader.Shutdown();
    EXPECT_EQ(reader.TransportStream(), nullptr);
    EXPECT_FALSE(reader.KindDecided());
    EXPECT_EQ(reader.NextUnits(), -1);

    ASSERT_EQ(reader.Initialize(), RESULT_OK);
    EXPECT_EQ(reader.BufferSize(), 0u);
    reader.Configure(1, 3, 0x48, 0x100000, 0);
    ASSERT_EQ(FeedAll(reader, SmallTransportStream(192)), RESULT_OK);
    EXPECT_EQ(reader.Kind(), STREAM_KIND_TS192);
    ASSERT_NE(reader.TransportStream(), nullptr);
    EXPECT_EQ(reader.TransportStream()->Capacity(), 0x100000u + 520);
    EXPECT_EQ(reader.TransportStream()->PacketReader().CursorPosition(), 0u);
}

// ---------------------------------------------------------------------------
// NextUnits

TEST(NextUnitsTest, WorksThroughAtMost10002PacketsACall)
{
    vsktest::CTsStreamBuilder b;
    b.AddNull(10010);
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    ASSERT_EQ(FeedAll(reader, b.Bytes()), RESULT_OK);
    const CTransportStream* demux = reader.TransportStream();
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(demux->PacketReader().CursorPosition(), 10002u * 188);
    EXPECT_EQ(demux->Buffered(), 8u * 188);
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(demux->Buffered(), 0u);
}

TEST(NextUnitsTest, LessThanAPacketIsNothingToDo)
{
    std::vector<std::uint8_t> bytes = SmallTransportStream(188);
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    ASSERT_EQ(reader.Feed(bytes.data(), 188 * 6 + 100), RESULT_OK);
    EXPECT_EQ(DrainUnits(reader), 0);
    const CTransportStream* demux = reader.TransportStream();
    EXPECT_EQ(demux->Buffered(), 100u);
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(demux->Buffered(), 100u);
    ASSERT_EQ(reader.Feed(bytes.data() + 188 * 6 + 100, 88), RESULT_OK);
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(demux->Buffered(), 0u);
}

TEST(NextUnitsTest, ADiscontinuityInformationPacketDoesNotEndTheScan)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    b.Add(Elementary(VIDEO_PID, 5));
    b.Add(Elementary(0x001E));
    b.Add(Elementary(VIDEO_PID, 6));
    CStreamReader reader;
    ConfigureForTimeSeek(reader);
    ASSERT_EQ(FeedAll(reader, b.Bytes()), RESULT_OK);
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(reader.TransportStream()->Pcr(0)->base, 6u);
}

// ---------------------------------------------------------------------------
// Positions across pieces

// A long recording with damage of every kind the packet reader meets, and
// what the demultiplexer must see of it: each PCR at the position of the
// packet that carried it, each anomaly at the position of its packet.
struct SDamagedStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::int64_t, std::uint64_t>> pcrs;     // position + 10, base
    std::vector<std::pair<std::uint32_t, std::int64_t>> anomalies;  // code, position
};

SDamagedStream MakeDamagedStream(std::size_t unitSize, std::size_t targetBytes)
{
    constexpr std::uint64_t PCR_LEAD = 9000;  // the recording's PCR runs this far ahead of the PTS
    vsktest::RecordingParams params;
    params.unitSize = unitSize;
    params.packetCount = 20000;
    params.audio = true;
    const vsktest::Recording block = vsktest::MakeRecording(params);
    const std::size_t packets = block.bytes.size() / unitSize;
    const std::size_t prefix = unitSize - 188;
    std::vector<std::uint64_t> pcrOf(packets, 0);
    std::vector<bool> hasPcr(packets, false);
    for (const vsktest::UnitMark& mark : block.video) {
        hasPcr[mark.packetIndex] = true;
        pcrOf[mark.packetIndex] = mark.pts - PCR_LEAD;
    }

    SDamagedStream out;
    out.bytes.reserve(targetBytes + block.bytes.size());
    const std::vector<std::uint8_t> junk(77, 0x33);
    for (std::size_t k = 0; out.bytes.size() < targetBytes; ++k) {
        // Damage moves through the block from one copy to the next, so it
        // falls on every kind of packet and on every piece boundary.
        const std::size_t lostSync = 1000 + 13 * k;
        const std::size_t transportError = 4000 + 7 * k;
        const std::size_t junkBefore = 9000 + 11 * k;
        for (std::size_t i = 0; i < packets; ++i) {
            if (i == junkBefore) {
                out.anomalies.emplace_back(AnomalyLostSync, static_cast<std::int64_t>(out.bytes.size()));
                out.bytes.insert(out.bytes.end(), junk.begin(), junk.end());
            }
            const std::size_t at = out.bytes.size();
            out.bytes.insert(out.bytes.end(), block.bytes.begin() + static_cast<std::ptrdiff_t>(i * unitSize),
                             block.bytes.begin() + static_cast<std::ptrdiff_t>((i + 1) * unitSize));
            if (i == lostSync) {
                out.bytes[at + prefix] = 0x00;
                out.anomalies.emplace_back(AnomalyLostSync, static_cast<std::int64_t>(at));
            } else if (i == transportError) {
                out.bytes[at + prefix + 1] |= 0x80;
                out.anomalies.emplace_back(AnomalyTransportError, static_cast<std::int64_t>(at));
            } else if (hasPcr[i]) {
                out.pcrs.emplace_back(static_cast<std::int64_t>(at) + 10, pcrOf[i]);
            }
        }
    }
    return out;
}

struct SObserved {
    std::vector<std::pair<std::int64_t, std::uint64_t>> pcrs;
    std::vector<std::pair<std::uint32_t, std::int64_t>> anomalies;
};

// Runs the demultiplexer packet by packet over the bytes, appended in pieces
// of `piece` bytes (all at once for 0), and notes every PCR and anomaly.
SObserved Observe(const std::vector<std::uint8_t>& bytes, std::uint32_t prefix, std::size_t piece)
{
    SObserved seen;
    CTransportStream demux;
    // No stream is assembled (selection mode 0): the packets lost to the
    // damage would add continuity gaps to the anomalies looked for here.
    EXPECT_EQ(demux.Prepare(2, 0, prefix), RESULT_OK);
    const std::size_t step = piece == 0 ? bytes.size() : piece;
    std::int64_t lastPcr = -1;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::size_t n = std::min(step, bytes.size() - at);
        EXPECT_EQ(demux.Append(bytes.data() + at, static_cast<std::uint32_t>(n)), RESULT_OK);
        for (;;) {
            const std::uint64_t before = demux.PacketReader().CursorPosition();
            const Result result = demux.ProcessPacket();
            const CTSHeader& reader = demux.PacketReader();
            if (reader.StatusCount() != 0) {
                EXPECT_EQ(reader.StatusCount(), 1u);
                seen.anomalies.emplace_back(reader.StatusCode(), reader.StatusPosition());
            }
            if (demux.ProgramCount() != 0 && demux.Pcr(0)->position != lastPcr) {
                lastPcr = demux.Pcr(0)->position;
                seen.pcrs.emplace_back(lastPcr, demux.Pcr(0)->base);
            }
            if (result != RESULT_OK && (result != ResultNeedMoreData || reader.CursorPosition() == before))
                break;
        }
    }
    EXPECT_LT(demux.Buffered(), demux.Stride());
    return seen;
}

TEST(PiecewiseFeedTest, PositionsInA50MegabyteStreamDoNotDependOnHowItIsFed)
{
    struct Case {
        std::size_t unitSize;
        std::size_t bytes;
    };
    for (const Case& c : {Case{188, 50u << 20}, Case{192, 12u << 20}}) {
        SCOPED_TRACE(c.unitSize);
        const SDamagedStream stream = MakeDamagedStream(c.unitSize, c.bytes);
        ASSERT_GT(stream.pcrs.size(), 1000u);
        ASSERT_GT(stream.anomalies.size(), 8u);
        const std::uint32_t prefix = static_cast<std::uint32_t>(c.unitSize - 188);

        const SObserved whole = Observe(stream.bytes, prefix, 0);
        EXPECT_TRUE(whole.pcrs == stream.pcrs);
        EXPECT_TRUE(whole.anomalies == stream.anomalies);
        for (std::size_t piece : {PIECE, std::size_t{1000}}) {
            if (piece < PIECE && c.unitSize == 188)
                continue;  // small pieces over the smaller stream only, for time
            SCOPED_TRACE(piece);
            const SObserved pieces = Observe(stream.bytes, prefix, piece);
            EXPECT_EQ(pieces.pcrs.size(), stream.pcrs.size());
            EXPECT_TRUE(pieces.pcrs == stream.pcrs);
            EXPECT_TRUE(pieces.anomalies == stream.anomalies);
        }
    }
}

TEST(PiecewiseFeedTest, TheFrontObjectGivesTheSameRecordsWholeOrInPieces)
{
    const SDamagedStream stream = MakeDamagedStream(192, 8u << 20);
    // What the time seek sees of each unit, and the anomalies reported with it.
    struct SSeen {
        std::uint32_t stream;
        std::int64_t position;
        std::uint64_t span;
        std::uint64_t pts;
        std::uint32_t payloadLength;
        std::uint32_t anomalies;
        bool operator==(const SSeen&) const = default;
    };
    auto run = [&](std::size_t piece, std::vector<SSeen>& seen, std::vector<std::int64_t>& pcrPositions) {
        CStreamReader reader;
        ConfigureForTimeSeek(reader);
        const std::size_t step = piece == 0 ? stream.bytes.size() : piece;
        for (std::size_t at = 0; at < stream.bytes.size(); at += step) {
            const std::size_t n = std::min(step, stream.bytes.size() - at);
            EXPECT_EQ(reader.Feed(stream.bytes.data() + at, static_cast<std::uint32_t>(n)), RESULT_OK);
            while (reader.NextUnits() > 0) {
                SUnitInfo unit;
                ASSERT_EQ(reader.TakeUnit(unit), RESULT_OK);
                seen.push_back({unit.streamIndex, unit.position, unit.spanLength, unit.header.pts, unit.payloadLength,
                                unit.status.count});
                reader.ReleaseUnit(unit);
            }
            pcrPositions.push_back(reader.TransportStream()->Pcr(0)->position);
        }
        EXPECT_EQ(reader.Kind(), STREAM_KIND_TS192);
        const CTransportStream* demux = reader.TransportStream();
        EXPECT_LT(demux->Buffered(), 192u);
        EXPECT_EQ(demux->Pcr(0)->position, stream.pcrs.back().first);
        EXPECT_EQ(demux->Pcr(0)->base, stream.pcrs.back().second);
        if (piece != 0) {
            // Fed in pieces, the buffer never grows beyond its first size.
            EXPECT_EQ(demux->Capacity(), 2445312u);
        }
    };
    std::vector<SSeen> wholeUnits;
    std::vector<SSeen> pieceUnits;
    std::vector<std::int64_t> whole;
    std::vector<std::int64_t> pieces;
    run(0, wholeUnits, whole);
    run(PIECE, pieceUnits, pieces);
    EXPECT_GT(wholeUnits.size(), 1000u);
    EXPECT_TRUE(wholeUnits == pieceUnits);
    // Every damaged packet is counted with some unit or is still pending.
    std::uint32_t reported = 0;
    for (const SSeen& unit : wholeUnits)
        reported += unit.anomalies;
    EXPECT_GE(reported + 64, stream.anomalies.size());
    // After each piece the record names a PCR the stream really carries.
    for (std::int64_t position : pieces) {
        if (position < 0)
            continue;
        EXPECT_TRUE(std::any_of(stream.pcrs.begin(), stream.pcrs.end(),
                                [&](const auto& pcr) { return pcr.first == position; }))
            << position;
    }
}

}  // namespace
}  // namespace parser
