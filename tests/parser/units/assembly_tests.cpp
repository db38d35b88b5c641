// PES assembly in transport streams: when units complete, what is dropped
// and with which anomaly, continuity, positions and packet lists, and the
// bound on what an assembler holds.
#include "UnitTestSupport.h"

#include "PESPacketTs.h"
#include "Results.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace parser {
namespace {

using namespace unittest;
using vsktest::CTsStreamBuilder;
using vsktest::PacketizePes;
using vsktest::TsPacket;

constexpr std::uint8_t VIDEO_ID = 0xE0;
constexpr std::uint8_t AUDIO_ID = 0xC0;

struct SExpectedUnit {
    std::uint32_t stream;        // 0 video (PID_A), 1 audio (PID_B)
    std::uint64_t pts;
    std::size_t payload;         // bytes, all of the fill byte
    std::size_t firstPacket;     // builder index of the unit's first packet
    std::size_t packets;
    // Builder packets from the first to the last of the unit, others'
    // packets between them included; 0: as many as it has.
    std::size_t spanPackets = 0;
};

struct SExpectedAnomaly {
    std::uint32_t count = 0;
    std::uint32_t code = 0;
    std::size_t packet = 0;  // builder index of the packet it names
};

struct SCase {
    std::string name;
    // Builds the stream after the tables and says what must come of it.
    std::function<void(CTsStreamBuilder&, std::vector<SExpectedUnit>&, SExpectedAnomaly&)> build;
};

std::size_t AddPackets(CTsStreamBuilder& b, std::vector<TsPacket> packets)
{
    return b.Add(packets);
}

void CheckCase(const SCase& c)
{
    CTsStreamBuilder b;
    // Null packets first, so the reader finds its footing however short
    // the rest is.
    b.AddNull(4);
    AddTables(b, {{0x02, PID_A, {}}, {0x04, PID_B, {}}});
    std::vector<SExpectedUnit> expected;
    SExpectedAnomaly anomaly;
    c.build(b, expected, anomaly);
    for (const std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{100}}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        const SRun run = ReadUnits(b.Bytes(), 188, piece);
        ASSERT_EQ(run.units.size(), expected.size());
        SAnomalyRecord seen = run.pending;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const SSeenUnit& u = run.units[i];
            const SExpectedUnit& e = expected[i];
            EXPECT_EQ(u.info.streamIndex, e.stream);
            EXPECT_EQ(u.info.header.pts, e.pts);
            EXPECT_EQ(u.payload, Bytes(e.payload, 0x5A));
            EXPECT_EQ(u.info.position, static_cast<std::int64_t>(b.UnitOffset(e.firstPacket)));
            const std::size_t span = e.spanPackets != 0 ? e.spanPackets : e.packets;
            EXPECT_EQ(u.info.spanLength, b.UnitOffset(e.firstPacket + span - 1) + 188 - b.UnitOffset(e.firstPacket));
            EXPECT_EQ(u.packets.size(), e.packets);
            if (seen.count == 0)
                seen = u.info.status;
            else
                seen.count += u.info.status.count;
        }
        if (seen.count == 0)
            seen = run.pending;
        else
            seen.count += expected.empty() ? 0 : run.pending.count;
        EXPECT_EQ(seen.count, anomaly.count);
        if (anomaly.count != 0) {
            EXPECT_EQ(seen.code, anomaly.code);
            EXPECT_EQ(seen.position, static_cast<std::int64_t>(b.UnitOffset(anomaly.packet)));
        }
    }
}

TEST(AssemblyTest, UnitsCompleteDropAndCountAsTheRulesSay)
{
    const std::vector<SCase> cases = {
        {"video units end where the next one starts; the last never completes",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             // 14 header bytes + 400 payload: packets of 184, 184 and 46 bytes.
             const std::size_t first = b.AddPes(PID_A, Pes(VIDEO_ID, 1000, 400, true));
             const std::size_t second = b.AddPes(PID_A, Pes(VIDEO_ID, 4000, 400, true));
             b.AddPes(PID_A, Pes(VIDEO_ID, 7000, 400, true));
             units = {{0, 1000, 400, first, 3}, {0, 4000, 400, second, 3}};
         }},
        {"an audio unit completes as soon as PES_packet_length + 6 bytes are in",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             // PES_packet_length 3 + 5 + 1992 = 2000: 2006 bytes in 11 packets.
             const std::size_t first = b.AddPes(PID_B, Pes(AUDIO_ID, 500, 1992));
             units = {{1, 500, 1992, first, 11}};
         }},
        {"an audio unit of PES_packet_length 0 ends where the next one starts",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             const std::size_t first = b.AddPes(PID_B, Pes(AUDIO_ID, 500, 300, true));
             b.AddPes(PID_B, Pes(AUDIO_ID, 800, 300, true));
             units = {{1, 500, 300, first, 2}};
         }},
        {"a bounded unit the next start cuts short is dropped at its first packet",
         [](CTsStreamBuilder& b, auto& units, auto& anomaly) {
             std::vector<TsPacket> cut = PacketizePes(PID_B, Pes(AUDIO_ID, 500, 1992));
             cut.erase(cut.begin() + 4);
             const std::size_t dropped = AddPackets(b, cut);
             const std::size_t next = b.AddPes(PID_B, Pes(AUDIO_ID, 800, 100));
             units = {{1, 800, 100, next, 1}};
             anomaly = {1, AnomalyPesMalformed, dropped};
         }},
        {"payload ahead of the first unit start is not kept",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             TsPacket tail;
             tail.pid = PID_B;
             tail.payload.assign(184, 0x00);
             b.Add(tail);
             const std::size_t first = b.AddPes(PID_B, Pes(AUDIO_ID, 500, 100));
             units = {{1, 500, 100, first, 1}};
         }},
        {"a padding stream_id in a transport stream is dropped with an anomaly",
         [](CTsStreamBuilder& b, auto& units, auto& anomaly) {
             const std::size_t padding = b.AddPes(PID_B, Pes(0xBE, std::nullopt, 100));
             const std::size_t next = b.AddPes(PID_B, Pes(AUDIO_ID, 800, 100));
             units = {{1, 800, 100, next, 1}};
             anomaly = {1, AnomalyPesMalformed, padding};
         }},
        {"a unit without a start code is dropped without an anomaly",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             TsPacket junk;
             junk.pid = PID_B;
             junk.payloadUnitStart = true;
             junk.payload.assign(184, 0x11);
             b.Add(junk);
             const std::size_t next = b.AddPes(PID_B, Pes(AUDIO_ID, 800, 100));
             units = {{1, 800, 100, next, 1}};
         }},
        {"an empty unit is passed over",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             b.AddPes(PID_B, Pes(AUDIO_ID, 500, 0));
             const std::size_t next = b.AddPes(PID_B, Pes(AUDIO_ID, 800, 100));
             units = {{1, 800, 100, next, 1}};
         }},
        {"a repeated packet that carries payload is ignored",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             std::vector<TsPacket> packets = PacketizePes(PID_B, Pes(AUDIO_ID, 500, 400));
             packets[1].continuityCounter = 1;
             packets.insert(packets.begin() + 2, packets[1]);
             packets[3].continuityCounter = 2;
             const std::size_t first = AddPackets(b, packets);
             // The repeat is no packet of the unit, but lies in its span.
             units = {{1, 500, 400, first, 3, 4}};
         }},
        {"packets without payload are neither repeats nor gaps",
         [](CTsStreamBuilder& b, auto& units, auto&) {
             std::vector<TsPacket> packets = PacketizePes(PID_A, Pes(VIDEO_ID, 1000, 400, true));
             TsPacket pcrOnly;
             pcrOnly.pid = PID_A;
             vsktest::AdaptationField field;
             field.pcrBase = 77;
             pcrOnly.adaptation = field;
             packets.insert(packets.begin() + 1, pcrOnly);
             packets.insert(packets.begin() + 1, pcrOnly);
             const std::size_t first = AddPackets(b, packets);
             b.AddPes(PID_A, Pes(VIDEO_ID, 4000, 400, true));
             units = {{0, 1000, 400, first, 3, 5}};
         }},
        {"a skipped counter is a gap at its packet; the unit is kept",
         [](CTsStreamBuilder& b, auto& units, auto& anomaly) {
             std::vector<TsPacket> packets = PacketizePes(PID_B, Pes(AUDIO_ID, 500, 400));
             packets[2].continuityCounter = 9;
             const std::size_t first = AddPackets(b, packets);
             units = {{1, 500, 400, first, 3}};
             anomaly = {1, AnomalyPesContinuity, first + 2};
         }},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CheckCase(c);
    }
}

// Positions, spans and packet lists of 192-byte units: the prefix counts,
// and the packet that starts the next video unit is not one of this unit's.
TEST(AssemblyTest, PacketListsOf192ByteUnits)
{
    CTsStreamBuilder b(192);
    b.SetArrivalTime(0x47474747u, 300);
    AddTables(b, {{0x1B, PID_A, {}}});
    vsktest::PesPacketOptions options;
    options.pcrBase = 1234;
    const std::size_t first = b.AddPes(PID_A, Pes(VIDEO_ID, 90000, 600, true), options);
    const std::size_t next = b.AddPes(PID_A, Pes(VIDEO_ID, 93003, 10, true));
    for (const std::uint32_t history : {2u, 1u}) {
        SCOPED_TRACE(history);
        const SRun run = ReadUnits(b.Bytes(), 192, 0, history);
        ASSERT_EQ(run.units.size(), 1u);
        const SSeenUnit& u = run.units[0];
        EXPECT_EQ(u.info.position, static_cast<std::int64_t>(b.UnitOffset(first)));
        EXPECT_EQ(u.info.spanLength, b.UnitOffset(next) - b.UnitOffset(first));
        EXPECT_EQ(u.info.pcr.base, 1234u);
        EXPECT_EQ(u.info.pcr.position, static_cast<std::int64_t>(b.UnitOffset(first)) + 10);
        if (history < 2) {
            EXPECT_TRUE(u.packets.empty());
            continue;
        }
        // 14 + 600 bytes: the first packet's adaptation field holds the
        // PCR (8 bytes), the last is stuffed to its 70 payload bytes.
        const std::vector<std::int64_t> positions = {static_cast<std::int64_t>(b.UnitOffset(first)),
                                                     static_cast<std::int64_t>(b.UnitOffset(first + 1)),
                                                     static_cast<std::int64_t>(b.UnitOffset(first + 2)),
                                                     static_cast<std::int64_t>(b.UnitOffset(first + 3))};
        EXPECT_EQ(u.packets, positions);
        EXPECT_EQ(u.headerLengths, (std::vector<std::uint32_t>{16, 8, 8, 192 - 70}));
    }
}

// A unit that never ends is dropped when it reaches the capacity, at the
// position of its first packet; the assembler then starts afresh at the next
// unit start instead of growing.
TEST(AssemblyTest, AUnitBeyondTheCapacityIsDroppedAndCollectionResumes)
{
    // Main profile at low level: a video assembler holds 2 x 0xE800 bytes.
    constexpr std::uint32_t LIMIT = 2 * 0xE800;
    CTsStreamBuilder b;
    AddTables(b, {{0x02, PID_A, {}}});
    const std::size_t endless = b.AddPes(PID_A, Pes(VIDEO_ID, 1000, LIMIT + 5000, true));
    const std::size_t good = b.AddPes(PID_A, Pes(VIDEO_ID, 4000, 1000, true));
    b.AddPes(PID_A, Pes(VIDEO_ID, 7000, 10, true));

    CStreamReader reader;
    StartReader(reader, b.Bytes(), 0x4A, STREAM_KIND_TS188);
    ASSERT_GT(reader.NextUnits(), 0);
    SUnitInfo unit;
    ASSERT_EQ(reader.TakeUnit(unit), RESULT_OK);
    EXPECT_EQ(unit.header.pts, 4000u);
    EXPECT_EQ(unit.position, static_cast<std::int64_t>(b.UnitOffset(good)));
    EXPECT_EQ(unit.payloadLength, 1000u);
    EXPECT_EQ(unit.status.code, AnomalyPesMalformed);
    EXPECT_EQ(unit.status.position, static_cast<std::int64_t>(b.UnitOffset(endless)));
    EXPECT_EQ(unit.status.count, 1u);
    const CPESPacketTs* assembler = reader.TransportStream()->Streams(0)->Stream(0).assembler.get();
    ASSERT_NE(assembler, nullptr);
    EXPECT_LE(assembler->Capacity(), LIMIT);
    reader.ReleaseUnit(unit);
    EXPECT_EQ(reader.NextUnits(), 0);
}

// NextUnits goes on through packets while a unit is being collected: a unit
// spread over many packets is reported by one call, not one packet per call.
TEST(AssemblyTest, NextUnitsDoesNotStopForAUnitUnderAssembly)
{
    CTsStreamBuilder b;
    AddTables(b, {{0x02, PID_A, {}}});
    b.AddPes(PID_A, Pes(VIDEO_ID, 1000, 50 * 184, true));
    b.AddPes(PID_A, Pes(VIDEO_ID, 4000, 10, true));
    CStreamReader reader;
    StartReader(reader, b.Bytes());
    EXPECT_EQ(reader.NextUnits(), 1);
}

}  // namespace
}  // namespace parser
