// The demultiplexer: start-up, the life of the tables it applies, PID
// dispatch, PCR records and the anomaly record.
#include "DemuxTestSupport.h"

#include "TransportStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace parser {
namespace {

using demuxtest::AUDIO_PID;
using demuxtest::CDemuxRun;
using demuxtest::Elementary;
using demuxtest::Pat;
using demuxtest::PcrOnly;
using demuxtest::Pmt;
using demuxtest::PMT_PID;
using demuxtest::SimplePmt;
using demuxtest::Sit;
using demuxtest::VIDEO_PID;

// ---------------------------------------------------------------------------
// Buffer sizing

TEST(PacketBufferTest, VideoBufferSizeByProfileAndLevel)
{
    struct Case {
        std::uint32_t profileLevel;
        std::uint32_t bytes;
    };
    const std::vector<Case> cases = {
        {0x46, 0xE0000},   // main profile, high-1440 level
        {0x48, 0x38000},   // main profile, main level
        {0x4A, 0xE800},    // main profile, low level
        {0x58, 0x38000},   // simple profile, main level
        {0x00, 0x38000},
        {0x44, 0x12A800},  // main profile, high level
        {0x14, 0x12A800},  // high profile
        {0x7F, 0x12A800},
        {0xFF, 0x12A800},  // unknown
        {0xC8, 0x12A800},  // escape bit set: unknown, whatever follows
        {0x80, 0x12A800},
        {0x148, 0x38000},  // bits above the byte do not count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profileLevel);
        EXPECT_EQ(VideoBufferSize(c.profileLevel), c.bytes);
    }
}

TEST(PacketBufferTest, CapacityIsTwiceTheVideoBufferOrTheNominalSizeWithMargin)
{
    EXPECT_EQ(PacketBufferCapacity(0xFF, 0x20000), 2445312u);
    EXPECT_EQ(PacketBufferCapacity(0x4A, 0x20000), 0x20000u + 520);
    EXPECT_EQ(PacketBufferCapacity(0x4A, 0), 2u * 0xE800);
    EXPECT_EQ(PacketBufferCapacity(0xFF, 4u << 20), (4u << 20) + 520);
    EXPECT_EQ(PacketBufferCapacity(0xFF, UINT32_MAX - 100), UINT32_MAX);

    CTransportStream demux;
    ASSERT_EQ(demux.Prepare(2, 4, 0), RESULT_OK);
    EXPECT_EQ(demux.Capacity(), 2445312u);
    EXPECT_EQ(demux.VideoBufferBytes(), 0x12A800u);
    EXPECT_EQ(demux.Stride(), 188u);
    ASSERT_EQ(demux.Prepare(2, 4, 4, 0x48, 0x100000), RESULT_OK);
    EXPECT_EQ(demux.Capacity(), 0x100000u + 520);
    EXPECT_EQ(demux.Stride(), 192u);
    EXPECT_EQ(demux.Prepare(2, 4, 1), ResultSetupFailed);
}

TEST(PacketBufferTest, AppendCompactsInsteadOfGrowing)
{
    vsktest::CTsStreamBuilder builder;
    while (builder.Bytes().size() < (8u << 20))
        builder.AddNull(1000);
    const std::vector<std::uint8_t>& bytes = builder.Bytes();
    CDemuxRun run;
    const std::uint32_t capacity = run.demux.Capacity();
    for (std::size_t at = 0; at < bytes.size(); at += 65536) {
        const std::size_t n = std::min<std::size_t>(65536, bytes.size() - at);
        run.Append(std::span(bytes).subspan(at, n));
        ASSERT_EQ(run.Drain(), RESULT_OK);
        ASSERT_LT(run.demux.Buffered(), 188u);
    }
    EXPECT_EQ(run.demux.Capacity(), capacity);
    // Of the capacity only what the pieces need is ever held in memory.
    EXPECT_LE(run.demux.PacketReader().Capacity(), 2u * 65536);
    EXPECT_EQ(run.demux.PacketReader().CursorPosition(), bytes.size() / 188 * 188);
    EXPECT_EQ(run.demux.Append(nullptr, 10), ResultAppendFailed);
    EXPECT_EQ(run.demux.Append(nullptr, 0), RESULT_OK);
}

// ---------------------------------------------------------------------------
// Start-up

TEST(StartupTest, ElementaryPacketsBeforeTheTablesAreDropped)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Elementary(VIDEO_PID, 1000));
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Elementary(VIDEO_PID, 2000));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    const std::size_t first = b.Add(Elementary(VIDEO_PID, 3000, 17));
    b.Add(Elementary(VIDEO_PID));

    CDemuxRun run;
    run.Append(b.Bytes());
    const std::vector<std::uint32_t> states = {DEMUX_PAT_PENDING, DEMUX_PMTS_PENDING, DEMUX_PMTS_PENDING,
                                               DEMUX_RUNNING, DEMUX_RUNNING, DEMUX_RUNNING};
    for (std::size_t i = 0; i < states.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(run.Step(), RESULT_OK);
        EXPECT_EQ(run.demux.State(), states[i]);
        if (i == 3) {
            // The map is known, but no PCR has been taken yet.
            EXPECT_EQ(run.demux.Pcr(0)->position, -1);
        }
    }
    EXPECT_EQ(run.Step(), ResultNeedMoreData);
    const SPcrRecord* pcr = run.demux.Pcr(0);
    ASSERT_NE(pcr, nullptr);
    EXPECT_EQ(pcr->position, static_cast<std::int64_t>(b.UnitOffset(first)) + 10);
    EXPECT_EQ(pcr->base, 3000u);
    EXPECT_EQ(pcr->extension, 17u);
    EXPECT_EQ(run.demux.Anomalies().count, 0u);

    ASSERT_NE(run.demux.ActivePat(), nullptr);
    EXPECT_EQ(run.demux.ProgramCount(), 1u);
    const CPmapSection* pmt = run.demux.ActivePmt(0);
    ASSERT_NE(pmt, nullptr);
    EXPECT_EQ(pmt->StreamCount(), 2u);
    const CStreamSet* streams = run.demux.Streams(0);
    ASSERT_EQ(streams->StreamCount(), 2u);
    EXPECT_EQ(streams->Streams()[1].streamType, 0x04);
    EXPECT_EQ(streams->Streams()[1].elementaryPid, AUDIO_PID);
    EXPECT_EQ(streams->System(), SystemNone);
}

TEST(StartupTest, TheFirstPacketIsFoundWhereverTheDataBegins)
{
    for (std::uint32_t unit : {188u, 192u}) {
        SCOPED_TRACE(unit);
        vsktest::CTsStreamBuilder b(unit);
        b.AddNull(2);
        b.Add(Pat({{1, PMT_PID}}));
        b.Add(Pmt(PMT_PID, SimplePmt()));
        const std::size_t pcrPacket = b.Add(Elementary(VIDEO_PID, 4242));
        b.AddNull(3);
        // Cut into the first null packet, junk with stray sync bytes in front.
        std::vector<std::uint8_t> bytes = {0x47, 0x00, 0x47, 0x47, 0x12, 0x34, 0x47};
        const std::size_t cut = 90;
        bytes.insert(bytes.end(), b.Bytes().begin() + cut, b.Bytes().end());

        CDemuxRun run(unit - 188);
        run.Append(bytes);
        ASSERT_EQ(run.Drain(), RESULT_OK);
        EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
        EXPECT_EQ(run.demux.Pcr(0)->position,
                  static_cast<std::int64_t>(b.UnitOffset(pcrPacket) - cut + 7 + 10));
        // Junk before the first packet is not damage.
        EXPECT_EQ(run.demux.Anomalies().count, 0u);
    }
}

TEST(StartupTest, UnitsOnAPidWhoseLowByteIs0x47DoNotMoveTheStartIntoThePacket)
{
    // 192-byte units on PID 0x0047 or 0x1047 in front of the tables hold 0x47
    // two bytes behind every sync byte (with 0x1047 the byte before is 0x10). Taken for the sync byte, it would
    // misplace every unit up to the association, which would be lost.
    struct Case {
        std::uint16_t pid;
        std::size_t cut;
        // In the sixth unit: the reader looks for its footing again from the
        // byte behind, where the PID's low byte is the first 0x47.
        bool lostSync;
    };
    for (const Case& c : {Case{0x0047, 0, false}, Case{0x1047, 0, false}, Case{0x0047, 1, false},
                          Case{0x0047, 0, true}, Case{0x1047, 0, true}}) {
        SCOPED_TRACE(::testing::Message() << "PID " << c.pid << ", cut " << c.cut << ", lost sync " << c.lostSync);
        vsktest::CTsStreamBuilder b(192);
        for (int i = 0; i < 12; ++i)
            b.Add(Elementary(c.pid));
        if (c.lostSync)
            b.BreakSync(5);
        b.Add(Pat({{1, PMT_PID}}));
        b.Add(Pmt(PMT_PID, SimplePmt()));
        const std::size_t pcrPacket = b.Add(Elementary(VIDEO_PID, 4242));
        b.AddNull(4);
        const std::vector<std::uint8_t> bytes(b.Bytes().begin() + static_cast<std::ptrdiff_t>(c.cut), b.Bytes().end());

        CDemuxRun run(4);
        run.Append(bytes);
        ASSERT_EQ(run.Drain(), RESULT_OK);
        ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
        EXPECT_EQ(run.demux.Pcr(0)->position, static_cast<std::int64_t>(b.UnitOffset(pcrPacket) - c.cut + 10));
        EXPECT_EQ(run.demux.Anomalies().count, c.lostSync ? 1u : 0u);
    }
}

TEST(StartupTest, EveryProgramNeedsItsMapBeforeElementaryDataIsTaken)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, 0x100}, {2, 0x101}}));
    b.Add(Pmt(0x100, SimplePmt(1)));
    b.Add(Elementary(VIDEO_PID, 1111));
    vsktest::PmtParams second;
    second.programNumber = 2;
    second.pcrPid = 0x300;
    second.streams = {{0x1B, 0x300, {}}};
    b.Add(Pmt(0x101, second));
    b.Add(Elementary(0x300, 2222));

    CDemuxRun run;
    run.Append(b.Bytes());
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_PMTS_PENDING);
    EXPECT_EQ(run.demux.ActivePmt(0), nullptr);
    EXPECT_EQ(run.demux.Pcr(0)->position, -1);
    // The first program's stream set is built as its map arrives.
    EXPECT_EQ(run.demux.Streams(0)->StreamCount(), 2u);
    ASSERT_EQ(run.Drain(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.Pcr(0)->position, -1);
    EXPECT_EQ(run.demux.Pcr(1)->base, 2222u);
    std::uint32_t program = 9, stream = 9;
    ASSERT_TRUE(run.demux.FindElementaryStream(0x300, program, stream));
    EXPECT_EQ(program, 1u);
    EXPECT_EQ(stream, 0u);
}

TEST(StartupTest, MapPacketsOfAProgramThatHasItsMapAreNotTakenDuringStartup)
{
    // Program 1's map arrives twice, the second time with a new version and
    // other streams, before program 2's: the first one is kept.
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, 0x100}, {2, 0x101}}));
    b.Add(Pmt(0x100, SimplePmt(1, 0)));
    vsktest::PmtParams changed = SimplePmt(1, 1);
    changed.streams.pop_back();
    b.Add(Pmt(0x100, changed));
    b.Add(Pmt(0x101, SimplePmt(2)));

    b.AddNull(4);  // the first packet is only taken from a run of five
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.ActivePmt(0)->Version(), 0u);
    EXPECT_EQ(run.demux.ActivePmt(0)->StreamCount(), 2u);
    EXPECT_EQ(run.demux.Streams(0)->Generation(), 1u);
}

TEST(StartupTest, AMapWhoseStreamLoopOverrunsStillEndsStartup)
{
    // Good CRCs. The map's audio entry claims 9 descriptor bytes where the
    // loop has none: the video entry before it is kept and the map applied.
    // A selection information section whose service loop overruns is
    // refused, and holds up nothing.
    static_assert(VIDEO_PID == 0x200 && AUDIO_PID == 0x201);
    vsktest::LongSection pmt;
    pmt.tableId = vsktest::TABLE_ID_PMT;
    pmt.tableIdExtension = 1;
    pmt.body = {
        0xE2, 0x00, 0xF0, 0x00,        // PCR_PID 0x200, no program descriptors
        0x02, 0xE2, 0x00, 0xF0, 0x00,  // video on 0x200
        0x04, 0xE2, 0x01, 0xF0, 0x09,  // audio on 0x201, 9 descriptor bytes that are not there
    };
    vsktest::LongSection sit;
    sit.tableId = vsktest::TABLE_ID_SIT;
    sit.bitAfterSyntaxIndicator = true;
    sit.body = {0xF0, 0x00, 0x00, 0x64, 0xC0, 0x0A};  // service 100, 10 bytes of descriptors missing

    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    const std::size_t sitPacket = b.AddSection(vsktest::TS_PID_SIT, vsktest::MakeLongSection(sit));
    b.AddSection(PMT_PID, vsktest::MakeLongSection(pmt));
    b.Add(Elementary(VIDEO_PID, 5555));
    b.AddNull(4);
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    ASSERT_NE(run.demux.ActivePmt(0), nullptr);
    EXPECT_EQ(run.demux.ActivePmt(0)->StreamCount(), 1u);
    std::uint32_t program = 9, stream = 9;
    EXPECT_TRUE(run.demux.FindElementaryStream(VIDEO_PID, program, stream));
    EXPECT_FALSE(run.demux.FindElementaryStream(AUDIO_PID, program, stream));
    EXPECT_EQ(run.demux.Pcr(0)->base, 5555u);
    EXPECT_EQ(run.demux.ActiveSit(), nullptr);
    EXPECT_EQ(run.demux.Anomalies().count, 1u);
    EXPECT_EQ(run.demux.Anomalies().code, AnomalySitFailed);
    EXPECT_EQ(run.demux.Anomalies().position, static_cast<std::int64_t>(b.UnitOffset(sitPacket)));
}

TEST(StartupTest, NetworkEntriesWaitForNoMap)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{0, 0x0010}, {1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    // The network PID is dispatched as a map PID: the network information
    // section found there is no map section.
    vsktest::LongSection nit;
    nit.tableId = 0x40;
    nit.tableIdExtension = 1;
    nit.body = {0xF0, 0x00, 0xF0, 0x00};
    const std::size_t nitPacket = b.AddSection(0x0010, vsktest::MakeLongSection(nit));

    b.AddNull(4);  // the first packet is only taken from a run of five
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.ProgramCount(), 2u);
    // Programs first, the network entry behind them.
    ASSERT_NE(run.demux.ActivePmt(0), nullptr);
    EXPECT_EQ(run.demux.ActivePmt(1), nullptr);
    EXPECT_EQ(run.demux.Anomalies().count, 1u);
    EXPECT_EQ(run.demux.Anomalies().code, AnomalyPmtFailed);
    EXPECT_EQ(run.demux.Anomalies().position, static_cast<std::int64_t>(b.UnitOffset(nitPacket)));
}

TEST(StartupTest, AnAssociationWithoutProgramsEndsStartupAtOnce)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({}));
    b.Add(PcrOnly(0x300, 5));
    b.Add(Elementary(0x001E));
    b.AddNull(4);  // the first packet is only taken from a run of five
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.ProgramCount(), 0u);
    EXPECT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.Discontinuities(), 1u);
}

// Start-up waits for the maps the association section lists, but not for
// ever: it goes on at the first repeat of the association section, or after
// 16,384 packets (3 MB, over half a second at 40 Mbit/s) without one; a map
// that arrives later is taken as the program's new map.
TEST(StartupTest, MapsThatNeverComeAreNotWaitedForLong)
{
    struct SCase {
        const char* name;
        bool patRepeat;
        std::size_t nulls;
        bool runs;
    };
    const std::vector<SCase> cases = {
        {"the association section repeated", true, 10, true},
        {"16,384 packets without it", false, 16384, true},
        {"fewer packets without it", false, 16000, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        vsktest::CTsStreamBuilder b;
        b.Add(Pat({{1, PMT_PID}, {2, 0x1F00}}));
        b.Add(Pmt(PMT_PID, SimplePmt()));
        b.AddNull(c.nulls);
        if (c.patRepeat)
            b.Add(Pat({{1, PMT_PID}, {2, 0x1F00}}));
        b.Add(Elementary(VIDEO_PID, 5));
        b.AddNull(4);
        CDemuxRun run;
        run.Append(b.Bytes());
        ASSERT_EQ(run.Drain(), RESULT_OK);
        EXPECT_EQ(run.demux.State() == DEMUX_RUNNING, c.runs);
        if (!c.runs)
            continue;
        EXPECT_NE(run.demux.ActivePmt(0), nullptr);
        EXPECT_EQ(run.demux.ActivePmt(1), nullptr);
        // The packet behind the start-up is demultiplexed.
        EXPECT_EQ(run.demux.Pcr(0)->base, 5u);
        // The missing map, late: program 2 gets its streams then.
        vsktest::PmtParams late = SimplePmt(2);
        late.pcrPid = 0x0400;
        late.streams = {{0x02, 0x0400, {}}};
        vsktest::CTsStreamBuilder more;
        more.Add(Pmt(0x1F00, late));
        more.Add(Elementary(0x0400, 7));
        more.AddNull(4);
        run.Append(more.Bytes());
        ASSERT_EQ(run.Drain(), RESULT_OK);
        ASSERT_NE(run.demux.ActivePmt(1), nullptr);
        EXPECT_EQ(run.demux.Pcr(1)->base, 7u);
    }
}

TEST(StartupTest, ProgramsSharingAMapPidEachTakeTheSectionThatNamesThem)
{
    vsktest::PmtParams first;
    first.programNumber = 1;
    first.pcrPid = 0x201;
    first.streams = {{0x02, 0x201, {}}};
    vsktest::PmtParams second;
    second.programNumber = 2;
    second.pcrPid = 0x202;
    second.streams = {{0x1B, 0x202, {}}, {0x81, 0x203, {}}};

    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}, {2, PMT_PID}}));
    b.Add(Pmt(PMT_PID, second));
    b.Add(Pmt(PMT_PID, second));  // a repeat changes nothing
    b.Add(Pmt(PMT_PID, first));
    b.Add(Elementary(0x202, 22));

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    ASSERT_NE(run.demux.ActivePmt(0), nullptr);
    ASSERT_NE(run.demux.ActivePmt(1), nullptr);
    EXPECT_EQ(run.demux.ActivePmt(0)->ProgramNumber(), 1);
    EXPECT_EQ(run.demux.ActivePmt(1)->ProgramNumber(), 2);
    EXPECT_EQ(run.demux.Streams(1)->StreamCount(), 2u);
    std::uint32_t program = 9, stream = 9;
    ASSERT_TRUE(run.demux.FindElementaryStream(0x203, program, stream));
    EXPECT_EQ(program, 1u);
    EXPECT_EQ(stream, 1u);
    EXPECT_EQ(run.demux.Pcr(1)->base, 22u);
    EXPECT_EQ(run.demux.Pcr(0)->position, -1);
}

TEST(StartupTest, ADiscontinuityInformationPacketCountsOnlyOnceRunning)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Elementary(0x001E));
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Elementary(0x001E));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    b.Add(Elementary(VIDEO_PID, 77));
    b.Add(Elementary(0x001E));
    b.Add(Elementary(VIDEO_PID, 88));

    CDemuxRun run;
    run.Append(b.Bytes());
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.Discontinuities(), 0u);
    // Running, it is a discontinuity, and what follows is demultiplexed.
    EXPECT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.Discontinuities(), 1u);
    EXPECT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.Pcr(0)->base, 88u);
}

// ---------------------------------------------------------------------------
// Tables

TEST(TableTest, OnlyTheFirstAssociationIsApplied)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{5, 0x150}}, 0, false));  // not yet in force: ignored
    b.Add(Pat({{1, PMT_PID}}, 1));
    b.Add(Pat({{1, PMT_PID}, {2, 0x101}}, 2));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    b.Add(Pat({{3, 0x103}}, 3));

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_NE(run.demux.ActivePat(), nullptr);
    EXPECT_EQ(run.demux.ActivePat()->Version(), 1u);
    EXPECT_EQ(run.demux.ProgramCount(), 1u);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.Anomalies().count, 0u);
}

TEST(TableTest, AFailedSectionIsCountedAndTheNextOneAwaited)
{
    struct Case {
        const char* name;
        std::uint32_t code;
    };
    for (const Case& c : {Case{"association", AnomalyPatFailed}, Case{"map", AnomalyPmtFailed},
                          Case{"selection information", AnomalySitFailed}}) {
        SCOPED_TRACE(c.name);
        vsktest::SectionOptions bad;
        bad.badCrc = true;
        vsktest::SitParams sit;
        sit.services = {{7, 4, {}}};

        vsktest::CTsStreamBuilder b;
        std::size_t failed = 0;
        if (c.code == AnomalyPatFailed)
            failed = b.Add(Pat({{1, PMT_PID}}, 0, true, bad));
        b.Add(Pat({{1, PMT_PID}}));
        if (c.code == AnomalySitFailed)
            failed = b.Add(Sit(sit, bad));
        if (c.code == AnomalyPmtFailed)
            failed = b.Add(Pmt(PMT_PID, SimplePmt(), bad));
        b.Add(Sit(sit));
        b.Add(Pmt(PMT_PID, SimplePmt()));

        b.AddNull(4);  // the first packet is only taken from a run of five
        CDemuxRun run;
        run.Append(b.Bytes());
        ASSERT_EQ(run.Drain(), RESULT_OK);
        EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
        ASSERT_NE(run.demux.ActiveSit(), nullptr);
        EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 1u);
        const SAnomalyRecord& anomalies = run.demux.Anomalies();
        EXPECT_EQ(anomalies.count, 1u);
        EXPECT_EQ(anomalies.code, c.code);
        EXPECT_EQ(anomalies.severity, 1u);
        EXPECT_EQ(anomalies.position, static_cast<std::int64_t>(b.UnitOffset(failed)));
    }
}

TEST(TableTest, ABadPointerFieldCountsForThePacketAndForTheTable)
{
    vsktest::CTsStreamBuilder b;
    std::vector<vsktest::TsPacket> pat = Pat({{1, PMT_PID}});
    vsktest::TsPacket broken = pat[0];
    broken.payload[0] = 200;
    const std::size_t bad = b.Add(broken);
    b.Add(pat);
    b.Add(Pmt(PMT_PID, SimplePmt()));

    b.AddNull(4);  // the first packet is only taken from a run of five
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    const SAnomalyRecord& anomalies = run.demux.Anomalies();
    EXPECT_EQ(anomalies.count, 2u);
    EXPECT_EQ(anomalies.code, AnomalyPointerPastPayload);
    EXPECT_EQ(anomalies.position, static_cast<std::int64_t>(b.UnitOffset(bad)));
}

TEST(TableTest, AMapSpreadOverSeveralPacketsIsAssembled)
{
    vsktest::PmtParams params = SimplePmt();
    for (std::uint16_t i = 0; i < 30; ++i)
        params.streams.push_back({0x04, static_cast<std::uint16_t>(0x400 + i), {0x0A, 0x04, 'j', 'p', 'n', 0}});
    vsktest::SectionPacketOptions options;
    options.maxPayloadPerPacket = 100;
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    const std::size_t first = b.AddSection(PMT_PID, vsktest::MakePmt(params), options);
    ASSERT_GT(b.PacketCount() - first, 3u);

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_EQ(run.demux.Streams(0)->StreamCount(), 32u);
    std::uint32_t program = 9, stream = 9;
    ASSERT_TRUE(run.demux.FindElementaryStream(0x41D, program, stream));
    EXPECT_EQ(stream, 31u);
}

// Sections packed back to back: the packet that carries the end of one
// section also starts the next, behind its pointer field. Both count.
TEST(TableTest, ASectionEndingInThePacketThatStartsTheNextIsAssembled)
{
    std::vector<vsktest::PatEntry> programs;
    for (std::uint16_t i = 1; i <= 60; ++i)
        programs.push_back({i, PMT_PID});
    vsktest::PatParams pat;
    pat.entries = programs;
    const std::vector<std::uint8_t> patSection = vsktest::MakePat(pat);
    ASSERT_GT(patSection.size(), 184u);
    ASSERT_LT(patSection.size(), 2u * 183u);

    auto pmt = [](std::uint8_t version, std::uint16_t programNumber) {
        vsktest::PmtParams params = SimplePmt(programNumber, version);
        for (std::uint16_t i = 0; i < 22; ++i)
            params.streams.push_back(
                {0x04, static_cast<std::uint16_t>(0x400 + i + version), {0x0A, 0x04, 'j', 'p', 'n', 0}});
        return vsktest::MakePmt(params);
    };

    vsktest::CTsStreamBuilder b;
    // Two copies of the association: the first ends in the packet that
    // starts the second.
    const std::size_t patFirst = b.Add(vsktest::PacketizeSections(vsktest::TS_PID_PAT, {patSection, patSection}));
    b.AddNull(5);
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_PAT_PENDING);
    ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_PMTS_PENDING) << "the association ends in packet " << patFirst + 1;
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_EQ(run.demux.ProgramCount(), 60u);
    EXPECT_EQ(run.demux.Anomalies().count, 0u) << "the second copy is whole as well";

    // One program's map, version 0 then 1, packed the same way.
    vsktest::CTsStreamBuilder one;
    one.Add(Pat({{7, PMT_PID}}));
    const std::size_t mapFirst = one.Add(vsktest::PacketizeSections(PMT_PID, {pmt(0, 7), pmt(1, 7)}));
    one.AddNull(5);
    CDemuxRun map;
    map.Append(one.Bytes());
    while (map.demux.PacketReader().CursorPosition() < one.UnitOffset(mapFirst + 1) + 188)
        ASSERT_EQ(map.Step(), RESULT_OK);
    ASSERT_EQ(map.demux.State(), DEMUX_RUNNING);
    ASSERT_NE(map.demux.ActivePmt(0), nullptr);
    EXPECT_EQ(map.demux.ActivePmt(0)->Version(), 0u);
    ASSERT_EQ(map.Drain(), RESULT_OK);
    EXPECT_EQ(map.demux.ActivePmt(0)->Version(), 1u) << "the section that starts in the same packet is taken too";
    std::uint32_t program = 9, stream = 9;
    EXPECT_TRUE(map.demux.FindElementaryStream(0x401 + 21, program, stream));
    EXPECT_EQ(map.demux.Anomalies().count, 0u);
}

TEST(TableTest, EveryMapSectionPackedIntoAPacketIsTaken)
{
    // Map sections back to back behind one pointer field on PMT_PID, 0xFF
    // behind the last.
    auto pmt = [](std::uint16_t program, std::uint8_t version, std::size_t descriptorBytes = 0,
                  bool currentNext = true) {
        vsktest::PmtParams params = SimplePmt(program, version);
        params.currentNext = currentNext;
        params.streams[0].pid = static_cast<std::uint16_t>(0x200 + 0x10 * program + version);
        if (descriptorBytes != 0)
            params.programInfo = vsktest::MakeDescriptor(0x09, std::vector<std::uint8_t>(descriptorBytes - 2, 0x33));
        return vsktest::MakePmt(params);
    };
    struct Case {
        const char* name;
        std::vector<std::uint16_t> programs;
        std::vector<std::vector<std::uint8_t>> sections;
        // Of the map in force for each program.
        std::vector<std::uint8_t> versions;
    };
    const Case cases[] = {
        {"two programs", {1, 2}, {pmt(1, 0), pmt(2, 0)}, {0, 0}},
        {"two programs, the second one's map first", {1, 2}, {pmt(2, 0), pmt(1, 0)}, {0, 0}},
        {"the second map running on into the next packet", {1, 2}, {pmt(1, 0, 120), pmt(2, 0, 120)}, {0, 0}},
        {"three programs", {1, 2, 3}, {pmt(3, 0), pmt(1, 0), pmt(2, 0)}, {0, 0, 0}},
        // The second map is finished by the bytes ahead of the pointer field
        // of the packet in which the third begins.
        {"the second map finished ahead of the next pointer field", {1, 2, 3},
         {pmt(1, 0, 120), pmt(2, 0, 120), pmt(3, 0)}, {0, 0, 0}},
        // The first completes the start-up, the others are new versions.
        {"three versions of one map", {1}, {pmt(1, 0), pmt(1, 1), pmt(1, 2)}, {2}},
        {"a map not yet in force in between", {1, 2}, {pmt(1, 0), pmt(2, 1, 0, false), pmt(2, 0)}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<vsktest::PatEntry> entries;
        for (std::uint16_t program : c.programs)
            entries.push_back({program, PMT_PID});
        vsktest::CTsStreamBuilder b;
        b.Add(Pat(entries));
        const std::size_t first = b.Add(vsktest::PacketizeSections(PMT_PID, c.sections));
        std::size_t bytes = 1;  // pointer_field
        for (const auto& section : c.sections)
            bytes += section.size();
        ASSERT_EQ(b.PacketCount() - first, (bytes + 183) / 184) << "the sections share their packets";
        b.AddNull(5);

        CDemuxRun run;
        run.Append(b.Bytes());
        ASSERT_EQ(run.Drain(), RESULT_OK);
        ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
        for (std::uint32_t i = 0; i < c.programs.size(); ++i) {
            SCOPED_TRACE(i);
            const CPmapSection* map = run.demux.ActivePmt(i);
            ASSERT_NE(map, nullptr);
            EXPECT_EQ(map->ProgramNumber(), c.programs[i]);
            EXPECT_EQ(map->Version(), c.versions[i]);
            std::uint32_t program = 9, stream = 9;
            EXPECT_TRUE(run.demux.FindElementaryStream(
                static_cast<std::uint16_t>(0x200 + 0x10 * c.programs[i] + c.versions[i]), program, stream));
            EXPECT_EQ(program, i);
        }
        EXPECT_EQ(run.demux.Anomalies().count, 0u);
    }
}

TEST(TableTest, AnAssociationOrSelectionSectionFollowedByAnotherInItsPacketIsApplied)
{
    vsktest::PatParams pat;
    pat.entries = {{1, PMT_PID}};
    vsktest::LongSection other;  // not an association section
    other.tableId = 0x40;
    other.body = {0xF0, 0x00, 0xF0, 0x00};
    auto sit = [](std::uint8_t version, std::uint16_t service) {
        vsktest::SitParams params;
        params.version = version;
        params.services = {{service, 4, {}}};
        return vsktest::MakeSit(params);
    };

    vsktest::CTsStreamBuilder b;
    const std::size_t patPacket =
        b.Add(vsktest::PacketizeSections(vsktest::TS_PID_PAT, {vsktest::MakePat(pat), vsktest::MakeLongSection(other)}));
    b.Add(vsktest::PacketizeSections(vsktest::TS_PID_SIT, {sit(0, 100), sit(1, 101)}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    b.AddNull(5);

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_PMTS_PENDING);
    // The section behind the association is read, and fails as one.
    EXPECT_EQ(run.demux.Anomalies().count, 1u);
    EXPECT_EQ(run.demux.Anomalies().code, AnomalyPatFailed);
    EXPECT_EQ(run.demux.Anomalies().position, static_cast<std::int64_t>(b.UnitOffset(patPacket)));
    ASSERT_EQ(run.Drain(), RESULT_OK);
    EXPECT_EQ(run.demux.State(), DEMUX_RUNNING);
    ASSERT_NE(run.demux.ActiveSit(), nullptr);
    EXPECT_EQ(run.demux.ActiveSit()->Version(), 1u);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceId(0), 101);
}

TEST(TableTest, SelectionInformationIsAppliedByVersion)
{
    auto sit = [](std::uint8_t version, std::size_t services, bool currentNext = true) {
        vsktest::SitParams params;
        params.version = version;
        params.currentNext = currentNext;
        for (std::size_t i = 0; i < services; ++i)
            params.services.push_back({static_cast<std::uint16_t>(100 + i), 4, {}});
        return Sit(params);
    };
    vsktest::CTsStreamBuilder b;
    b.Add(sit(0, 9));  // before the association: not read
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(sit(0, 1));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    const std::size_t sameVersion = b.Add(sit(0, 2));
    const std::size_t newVersion = b.Add(sit(1, 3));
    const std::size_t notYet = b.Add(sit(2, 4, false));
    const std::size_t again = b.Add(sit(0, 5));

    CDemuxRun run;
    run.Append(b.Bytes());
    auto runTo = [&](std::size_t packet) {
        while (run.demux.PacketReader().CursorPosition() < b.UnitOffset(packet) + 188)
            ASSERT_EQ(run.Step(), RESULT_OK);
    };
    runTo(2);
    ASSERT_NE(run.demux.ActiveSit(), nullptr);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 1u);
    runTo(sameVersion);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 1u);
    runTo(newVersion);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 3u);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceId(2), 102);
    runTo(notYet);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 3u);
    // Any version other than the one in force is applied, a step back too.
    runTo(again);
    EXPECT_EQ(run.demux.ActiveSit()->ServiceCount(), 5u);
    EXPECT_EQ(run.demux.Anomalies().count, 0u);
}

TEST(TableTest, ANewMapVersionRedirectsPidsAndRebuildsOnlyChangedStreamSets)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt(1, 0)));
    // Version 1: audio moves to 0x202, which carries the PCR from now on.
    vsktest::PmtParams moved = SimplePmt(1, 1);
    moved.streams[1].pid = 0x202;
    moved.pcrPid = 0x202;
    const std::size_t v1 = b.Add(Pmt(PMT_PID, moved));
    const std::size_t oldPcr = b.Add(Elementary(VIDEO_PID, 1));
    const std::size_t newPcr = b.Add(Elementary(0x202, 2));
    // Version 2: the same streams with a descriptor added.
    vsktest::PmtParams described = moved;
    described.version = 2;
    described.streams[0].esInfo = {0x52, 0x01, 0x00};
    const std::size_t v2 = b.Add(Pmt(PMT_PID, described));
    // The same version again, whatever it lists, is a repeat.
    vsktest::PmtParams repeat = SimplePmt(1, 2);
    const std::size_t v2again = b.Add(Pmt(PMT_PID, repeat));

    CDemuxRun run;
    run.Append(b.Bytes());
    auto runTo = [&](std::size_t packet) {
        while (run.demux.PacketReader().CursorPosition() < b.UnitOffset(packet) + 188)
            ASSERT_EQ(run.Step(), RESULT_OK);
    };
    std::uint32_t program = 9, stream = 9;
    runTo(v1 - 1);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    EXPECT_TRUE(run.demux.FindElementaryStream(AUDIO_PID, program, stream));
    EXPECT_EQ(run.demux.Streams(0)->Generation(), 1u);

    runTo(v1);
    EXPECT_EQ(run.demux.ActivePmt(0)->Version(), 1u);
    EXPECT_FALSE(run.demux.FindElementaryStream(AUDIO_PID, program, stream));
    ASSERT_TRUE(run.demux.FindElementaryStream(0x202, program, stream));
    EXPECT_EQ(stream, 1u);
    EXPECT_EQ(run.demux.Streams(0)->Generation(), 2u);
    EXPECT_EQ(run.demux.Streams(0)->Streams()[1].elementaryPid, 0x202);

    runTo(oldPcr);
    EXPECT_EQ(run.demux.Pcr(0)->position, -1);
    runTo(newPcr);
    EXPECT_EQ(run.demux.Pcr(0)->base, 2u);
    EXPECT_EQ(run.demux.Pcr(0)->position, static_cast<std::int64_t>(b.UnitOffset(newPcr)) + 10);

    runTo(v2);
    EXPECT_EQ(run.demux.ActivePmt(0)->Version(), 2u);
    EXPECT_EQ(run.demux.ActivePmt(0)->EsInfoLength(0), 3u);
    EXPECT_EQ(run.demux.Streams(0)->Generation(), 2u);

    runTo(v2again);
    EXPECT_EQ(run.demux.ActivePmt(0)->EsInfoLength(0), 3u);
    EXPECT_TRUE(run.demux.FindElementaryStream(0x202, program, stream));
    EXPECT_EQ(run.demux.Anomalies().count, 0u);
}

// Version after version moves both streams and the clock reference to PIDs
// of their own: only those of the version in force lead anywhere.
TEST(TableTest, OnlyThePidsOfTheMapInForceAreRouted)
{
    constexpr std::uint16_t VERSIONS = 40;
    const auto map = [](std::uint16_t version) {
        vsktest::PmtParams pmt = SimplePmt(1, static_cast<std::uint8_t>(version % 32));
        pmt.streams[0].pid = static_cast<std::uint16_t>(0x300 + 3 * version);
        pmt.streams[1].pid = static_cast<std::uint16_t>(0x301 + 3 * version);
        pmt.pcrPid = static_cast<std::uint16_t>(0x302 + 3 * version);
        return pmt;
    };
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    std::vector<std::size_t> last;
    for (std::uint16_t v = 0; v < VERSIONS; ++v) {
        b.Add(Pmt(PMT_PID, map(v)));
        // A clock reference on this version's PCR PID and on the last one's.
        if (v > 0)
            b.Add(PcrOnly(map(v - 1).pcrPid, 1000 + v));
        last.push_back(b.Add(PcrOnly(map(v).pcrPid, 2000 + v)));
    }
    CDemuxRun run;
    run.Append(b.Bytes());
    std::uint32_t program = 0;
    std::uint32_t stream = 0;
    for (std::uint16_t v = 0; v < VERSIONS; ++v) {
        SCOPED_TRACE(v);
        while (run.demux.PacketReader().CursorPosition() < b.UnitOffset(last[v]) + 188)
            ASSERT_EQ(run.Step(), RESULT_OK);
        EXPECT_EQ(run.demux.Pcr(0)->base, 2000u + v);
        for (std::uint16_t u = 0; u < VERSIONS; ++u) {
            const vsktest::PmtParams other = map(u);
            EXPECT_EQ(run.demux.FindElementaryStream(other.streams[0].pid, program, stream), u == v);
            EXPECT_EQ(run.demux.FindElementaryStream(other.streams[1].pid, program, stream), u == v);
        }
        EXPECT_TRUE(run.demux.IsMapPid(PMT_PID));
    }
}

TEST(TableTest, TheAssemblerOfANewVersionStartsAfresh)
{
    // After a version change the object that held the old version assembles
    // again. Its continuity state is that of the packet it was parsed from:
    // the next map packet carries the same counter, and must be taken.
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.SetNextContinuity(PMT_PID, 5);
    b.Add(Pmt(PMT_PID, SimplePmt(1, 0)));  // counter 5, ends up in force
    b.Add(Pmt(PMT_PID, SimplePmt(1, 1)));  // counter 6: swaps
    b.SetNextContinuity(PMT_PID, 5);
    vsktest::PmtParams third = SimplePmt(1, 2);
    third.streams.pop_back();
    b.Add(Pmt(PMT_PID, third));  // counter 5 again, after a gap
    b.AddNull(4);

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    ASSERT_NE(run.demux.ActivePmt(0), nullptr);
    EXPECT_EQ(run.demux.ActivePmt(0)->Version(), 2u);
    EXPECT_EQ(run.demux.Streams(0)->StreamCount(), 1u);
}

// ---------------------------------------------------------------------------
// PCR records

TEST(PcrTest, EachProgramKeepsItsLastPcr)
{
    for (std::uint32_t unit : {188u, 192u}) {
        SCOPED_TRACE(unit);
        vsktest::PmtParams first = SimplePmt(1);
        vsktest::PmtParams second;
        second.programNumber = 2;
        second.pcrPid = 0x300;  // a PID of its own, carrying nothing else
        second.streams = {{0x02, 0x301, {}}};
        vsktest::PmtParams third;
        third.programNumber = 3;
        third.pcrPid = VIDEO_PID;  // shares program 1's PCR
        third.streams = {{0x04, 0x302, {}}};

        vsktest::CTsStreamBuilder b(unit);
        b.Add(Pat({{1, 0x100}, {2, 0x101}, {3, 0x102}}));
        b.Add(Pmt(0x100, first));
        b.Add(Pmt(0x101, second));
        b.Add(Pmt(0x102, third));
        const std::size_t video = b.Add(Elementary(VIDEO_PID, 0x1FFFFFFFFull, 0x1FF));
        const std::size_t pcrOnly = b.Add(PcrOnly(0x300, 300));
        b.Add(Elementary(0x301, 999));   // not program 2's PCR PID
        b.Add(Elementary(0x400, 999));   // nobody's PID
        b.Add(Elementary(VIDEO_PID));    // no PCR in this one

        CDemuxRun run(unit - 188);
        run.Append(b.Bytes());
        ASSERT_EQ(run.Drain(), RESULT_OK);
        const SPcrRecord* one = run.demux.Pcr(0);
        EXPECT_EQ(one->position, static_cast<std::int64_t>(b.UnitOffset(video)) + 10);
        EXPECT_EQ(one->base, 0x1FFFFFFFFull);
        EXPECT_EQ(one->extension, 0x1FF);
        EXPECT_EQ(run.demux.Pcr(1)->position, static_cast<std::int64_t>(b.UnitOffset(pcrOnly)) + 10);
        EXPECT_EQ(run.demux.Pcr(1)->base, 300u);
        EXPECT_EQ(run.demux.Pcr(2)->position, one->position);
        EXPECT_EQ(run.demux.Pcr(2)->base, one->base);
        EXPECT_EQ(run.demux.Pcr(3), nullptr);
    }
}

TEST(PcrTest, ADamagedPacketGivesNoPcr)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    const std::size_t good = b.Add(Elementary(VIDEO_PID, 10));
    const std::size_t damaged = b.Add(Elementary(VIDEO_PID, 20));
    b.SetTransportError(damaged);
    b.AddNull(4);
    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    EXPECT_EQ(run.demux.Pcr(0)->base, 10u);
    EXPECT_EQ(run.demux.Pcr(0)->position, static_cast<std::int64_t>(b.UnitOffset(good)) + 10);
    EXPECT_EQ(run.demux.Anomalies().code, AnomalyTransportError);
    EXPECT_EQ(run.demux.Anomalies().position, static_cast<std::int64_t>(b.UnitOffset(damaged)));
}

// ---------------------------------------------------------------------------
// Anomaly record

TEST(AnomalyRecordTest, CountsEveryAnomalyAndKeepsTheFirst)
{
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    for (int i = 0; i < 12; ++i)
        b.Add(Elementary(VIDEO_PID));
    b.SetTransportError(3);
    b.BreakSync(6);
    b.SetTransportError(10);

    CDemuxRun run;
    run.Append(b.Bytes());
    ASSERT_EQ(run.Drain(), RESULT_OK);
    const SAnomalyRecord& record = run.demux.Anomalies();
    // Each of the three damaged packets is lost to the video stream, so the
    // video packet after it also counts a continuity gap.
    EXPECT_EQ(record.count, 6u);
    EXPECT_EQ(record.code, AnomalyTransportError);
    EXPECT_EQ(record.position, static_cast<std::int64_t>(b.UnitOffset(3)));
    run.demux.ClearAnomalies();
    EXPECT_EQ(run.demux.Anomalies().count, 0u);
    EXPECT_EQ(run.demux.Anomalies().position, -1);

    SAnomalyRecord merged;
    CBuffer2 source;
    merged.Merge(source);
    EXPECT_EQ(merged.count, 0u);
    source.ReportStatus(0x10, 1, 5);
    source.ReportStatus(0x11, 2, 6);
    merged.Merge(source);
    source.ResetStatus();
    source.ReportStatus(0x12, 2, 7);
    merged.Merge(source);
    EXPECT_EQ(merged.count, 3u);
    EXPECT_EQ(merged.code, 0x11u);
    EXPECT_EQ(merged.severity, 2u);
    EXPECT_EQ(merged.position, 6);
}

}  // namespace
}  // namespace parser
