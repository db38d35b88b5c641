// The packet-run check and the stream-kind decision made from a file's first
// chunk.
#include "PacketTestSupport.h"

#include "CheckStream.h"
#include "StreamReader.h"

#include "vsktest/PesPacket.h"
#include "vsktest/ProgramStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace parser {
namespace {

using packettest::CView;
using packettest::PlainStream;
using packettest::Slice;

std::vector<std::uint8_t> ProgramStream(bool mpeg1 = false, std::uint8_t stuffing = 0)
{
    vsktest::CProgramStreamBuilder ps;
    vsktest::PackHeaderParams pack;
    pack.mpeg1 = mpeg1;
    pack.stuffing = stuffing;
    ps.AddPack(pack);
    vsktest::SystemHeaderParams system;
    system.streams.push_back({});
    ps.AddSystemHeader(system);
    vsktest::PesParams pes;
    pes.pts = 90000;
    pes.payload.assign(2000, 0x22);
    ps.AddPes(pes);
    ps.AddEnd();
    return ps.Take();
}

// A fixed pseudo-random sequence (no test depends on chance).
std::vector<std::uint8_t> NoiseBytes(std::size_t count, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

std::uint32_t DetectKind(const std::vector<std::uint8_t>& bytes)
{
    CCheckStream detector;
    EXPECT_EQ(detector.Prepare(static_cast<std::uint32_t>(bytes.size())), RESULT_OK);
    EXPECT_EQ(detector.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())), bytes.size());
    const std::uint32_t kind = detector.Detect();
    EXPECT_EQ(detector.Kind(), kind);
    return kind;
}

// ---------------------------------------------------------------------------
// CheckPacketRun

TEST(PacketRunTest, FindsTheFirstWholePacketOfAStreamCutAnywhere)
{
    const std::vector<std::uint8_t> stream = PlainStream(8);
    for (std::size_t cut : {0u, 1u, 100u, 187u, 188u, 189u}) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> bytes = Slice(stream, cut);
        CView view(bytes);
        ASSERT_EQ(CheckPacketRun(view, 0, 5), 0);
        EXPECT_EQ(view.Offset(), (188 - cut % 188) % 188);
    }
}

TEST(PacketRunTest, NeedsEveryUnitOfTheRunBuffered)
{
    // Cut 100 bytes in: the run starts at 88 and its fifth sync byte lies at
    // 88 + 4 * 188 = 840.
    const std::vector<std::uint8_t> stream = Slice(PlainStream(8), 100);
    for (const auto& [size, passes] : std::vector<std::pair<std::size_t, bool>>{{840, false}, {841, true}}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> bytes = Slice(stream, 0, size);
        CView view(bytes);
        EXPECT_EQ(CheckPacketRun(view, 0, 5) == 0, passes);
    }
}

TEST(PacketRunTest, SkipsSyncBytesThatDoNotRepeatAtTheStride)
{
    // Stray sync bytes in front of the stream and inside its first payload.
    std::vector<std::uint8_t> bytes = {0x47, 0x00, 0x47, 0x12};
    const std::vector<std::uint8_t> stream = PlainStream(6);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    bytes[4 + 50] = 0x47;
    CView view(bytes);
    ASSERT_EQ(CheckPacketRun(view, 0, 5), 0);
    EXPECT_EQ(view.Offset(), 4u);
}

TEST(PacketRunTest, A192ByteUnitStartsAtItsPrefix)
{
    const std::vector<std::uint8_t> stream = PlainStream(8, 192);
    for (std::size_t cut : {0u, 3u, 4u, 100u}) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> bytes = Slice(stream, cut);
        CView view(bytes);
        ASSERT_EQ(CheckPacketRun(view, 4, 5), 0);
        EXPECT_EQ(view.Offset(), (192 - cut % 192) % 192);
    }
}

TEST(PacketRunTest, APrefixByteEqualToTheSyncByteMovesTheStartOntoTheRealUnit)
{
    // Prefix byte k of every unit is 0x47. Cut 100 bytes in, the first sync
    // byte found is unit 1's prefix byte k at 92 + k, so the candidate unit
    // starts at 88 + k; the sync byte 4 - k bytes on repeats in every unit
    // and moves the start forward by 4 - k onto the true unit start, 92.
    for (std::uint32_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        std::array<std::uint8_t, 4> prefix{0x01, 0x02, 0x03, 0x04};
        prefix[k] = 0x47;
        const std::vector<std::uint8_t> bytes = Slice(PlainStream(8, 192, prefix), 100);
        CView view(bytes);
        ASSERT_EQ(CheckPacketRun(view, 4, 5), 0);
        EXPECT_EQ(view.Offset(), 92u);
    }
}

TEST(PacketRunTest, TheForwardMoveFailsWhenTheLastUnitsHeaderIsNotBuffered)
{
    // k = 0: the candidate starts at 88; the real sync byte 4 bytes on is
    // looked at in unit 4 (856), byte 856 + 4 + 4 = 864, and so is the
    // header behind it, up to byte 867. Without it the whole check fails.
    std::array<std::uint8_t, 4> prefix{0x47, 0x00, 0x00, 0x00};
    const std::vector<std::uint8_t> stream = Slice(PlainStream(8, 192, prefix), 100);
    for (const auto& [size, passes] : std::vector<std::pair<std::size_t, bool>>{{864, false}, {867, false}, {868, true}}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> bytes = Slice(stream, 0, size);
        CView view(bytes);
        const std::int32_t result = CheckPacketRun(view, 4, 5);
        EXPECT_EQ(result == 0, passes);
        if (passes) {
            EXPECT_EQ(view.Offset(), 92u);
        }
    }
}

// 192-byte units on `pid`, each with `prefix`: 184 bytes of payload, or a PCR
// alone (the continuity counter then stays put).
std::vector<std::uint8_t> UnitsOnPid(std::uint16_t pid, std::array<std::uint8_t, 4> prefix, bool payload,
                                     bool unitStart)
{
    vsktest::CTsStreamBuilder builder(192);
    builder.SetCustomPrefix(prefix);
    for (int i = 0; i < 10; ++i) {
        vsktest::TsPacket p = packettest::FilledPacket(0x11, pid);
        if (!payload) {
            p.payload.clear();
            vsktest::AdaptationField pcr;
            pcr.pcrBase = 90000u * static_cast<unsigned>(i);
            p.adaptation = pcr;
        }
        p.payloadUnitStart = unitStart;
        builder.Add(p);
    }
    return builder.Take();
}

TEST(PacketRunTest, SyncBytesRepeatedNextToTheRealOneLeaveTheStartOnTheRealUnit)
{
    // 0x47 in every unit in the prefix, in the header behind the sync byte,
    // or both: whichever of them the search meets first, the run starts on
    // the true unit.
    const std::array<std::uint8_t, 4> zero{0x00, 0x00, 0x00, 0x00};
    auto prefixWith = [](std::size_t k) {
        std::array<std::uint8_t, 4> prefix{0x01, 0x02, 0x03, 0x04};
        prefix[k] = 0x47;
        return prefix;
    };
    struct Case {
        const char* name;
        std::array<std::uint8_t, 4> prefix;
        std::uint16_t pid;
        bool payload;
        bool unitStart;
    };
    const Case cases[] = {
        {"PID 0x0047", zero, 0x0047, true, false},
        {"PID 0x1047", zero, 0x1047, true, false},
        {"PID 0x0047 starting units", zero, 0x0047, true, true},
        {"PID 0x0047 carrying PCRs alone", zero, 0x0047, false, false},
        // Header byte 1 is 0x47 as well.
        {"PID 0x0747 starting units", zero, 0x0747, true, true},
        // With PIDs from 0x1000 a prefix byte's candidate reads as a header
        // with payload too, and only the continuity counters tell.
        {"prefix byte 0, PID 0x1011", prefixWith(0), 0x1011, true, false},
        {"prefix byte 1, PID 0x1011", prefixWith(1), 0x1011, true, false},
        {"prefix byte 2, PID 0x1011", prefixWith(2), 0x1011, true, false},
        {"prefix byte 3, PID 0x1011", prefixWith(3), 0x1011, true, false},
        {"prefix byte 0 and PID 0x0047", prefixWith(0), 0x0047, true, false},
        {"prefix byte 2 and PID 0x0047", prefixWith(2), 0x0047, true, false},
        {"prefix byte 3 and PID 0x0047", prefixWith(3), 0x0047, true, false},
        {"prefix byte 3 and PID 0x0047 carrying PCRs alone", prefixWith(3), 0x0047, false, false},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> stream = UnitsOnPid(c.pid, c.prefix, c.payload, c.unitStart);
        for (std::size_t cut : {0u, 1u, 2u, 3u, 5u, 6u, 100u, 190u}) {
            SCOPED_TRACE(std::string(c.name) + ", cut " + std::to_string(cut));
            const std::vector<std::uint8_t> bytes = Slice(stream, cut);
            CView view(bytes);
            ASSERT_EQ(CheckPacketRun(view, 4, 5), 0);
            EXPECT_EQ(view.Offset(), (192 - cut % 192) % 192);
        }
    }
}

TEST(PacketRunTest, FailsWithoutAnySyncByteOrRun)
{
    const std::vector<std::uint8_t> none(2000, 0x11);
    CView empty(none);
    EXPECT_EQ(CheckPacketRun(empty, 0, 5), -1);

    // 188-byte packets do not make a run of 192-byte units, nor the reverse.
    const std::vector<std::uint8_t> plain = PlainStream(12);
    CView view188(plain);
    EXPECT_EQ(CheckPacketRun(view188, 4, 5), -1);
    const std::vector<std::uint8_t> units = PlainStream(12, 192);
    CView view192(units);
    EXPECT_EQ(CheckPacketRun(view192, 0, 5), -1);
}

TEST(PacketRunTest, AFailedSearchTellsWhereToGoOnOnceMoreBytesArrive)
{
    // The data arrives in two pieces; a search over the first piece, resumed
    // where it said after the second, must find what one search over all of
    // it finds.
    std::vector<std::uint8_t> all = {0x47, 0x47, 0x00};  // stray sync bytes
    std::vector<std::uint8_t> junk(57, 0x33);
    all.insert(all.end(), junk.begin(), junk.end());
    const std::vector<std::uint8_t> stream = PlainStream(7, 192);
    all.insert(all.end(), stream.begin(), stream.end());

    CView whole(all);
    ASSERT_EQ(CheckPacketRun(whole, 4, 5), 0);
    const std::size_t expected = whole.Offset();
    EXPECT_EQ(expected, 60u);

    for (std::size_t split : {1u, 2u, 61u, 63u, 64u, 65u, 300u, 700u, 832u}) {
        SCOPED_TRACE(split);
        const std::vector<std::uint8_t> first = Slice(all, 0, split);
        CView part(first);
        std::size_t resume = 12345;
        ASSERT_EQ(CheckPacketRun(part, 4, 5, &resume), -1);
        // Bytes before the cursor are never needed again, and the search goes
        // on from no earlier than where it keeps bytes.
        const std::size_t keep = part.Offset();
        EXPECT_LE(keep, resume);
        EXPECT_LE(resume, split);
        EXPECT_LE(keep, expected);

        // The caller drops the bytes before `keep`, appends the rest.
        const std::vector<std::uint8_t> rest = Slice(all, keep);
        CView again(rest);
        ASSERT_TRUE(again.SeekFromStart(resume - keep));
        ASSERT_EQ(CheckPacketRun(again, 4, 5), 0);
        EXPECT_EQ(keep + again.Offset(), expected);
    }
}

// ---------------------------------------------------------------------------
// Program-stream check

TEST(ProgramStreamCheckTest, PackAndSystemHeadersFollowedByAStartCode)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool found;
    };
    std::vector<Case> cases;
    cases.push_back({"mpeg-2 pack", ProgramStream(false), true});
    cases.push_back({"mpeg-2 pack with 7 stuffing bytes", ProgramStream(false, 7), true});
    cases.push_back({"mpeg-1 pack", ProgramStream(true), true});
    {
        vsktest::SystemHeaderParams system;
        system.streams.push_back({});
        std::vector<std::uint8_t> bytes = vsktest::MakeSystemHeader(system);
        const std::vector<std::uint8_t> pes = vsktest::MakePes({});
        bytes.insert(bytes.end(), pes.begin(), pes.end());
        cases.push_back({"system header alone", bytes, true});
    }
    {
        std::vector<std::uint8_t> bytes = vsktest::MakePackHeader({});
        bytes.insert(bytes.end(), {0x00, 0x00, 0x02, 0x00, 0x00, 0x00});
        cases.push_back({"pack not followed by a start code", bytes, false});
    }
    {
        std::vector<std::uint8_t> bytes = vsktest::MakePackHeader({});
        bytes[4] = static_cast<std::uint8_t>((bytes[4] & 0x3Fu) | 0x80u);  // '10' is neither form
        bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0xE0});
        cases.push_back({"pack with a bad marker", bytes, false});
    }
    {
        // 00 00 01 00 is a start code whose code byte begins the next one.
        std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x01, 0x00, 0x00, 0x01};
        const std::vector<std::uint8_t> pack = vsktest::MakePackHeader({});
        bytes.insert(bytes.end(), pack.begin() + 3, pack.end());
        bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0xE0});
        cases.push_back({"start code overlapping the pack's", bytes, true});
    }
    {
        std::vector<std::uint8_t> bytes = vsktest::MakePackHeader({});
        bytes.insert(bytes.end(), {0x00, 0x00});
        cases.push_back({"start code cut by the end", bytes, false});
    }
    cases.push_back({"no start code", std::vector<std::uint8_t>(500, 0x00), false});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCheckStream check;
        ASSERT_EQ(check.Prepare(static_cast<std::uint32_t>(c.bytes.size())), RESULT_OK);
        check.Append(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size()));
        EXPECT_EQ(check.CheckProgramStream(), c.found);
    }
}

// ---------------------------------------------------------------------------
// Detect

TEST(DetectTest, PrepareWantsRoomForTheChunk)
{
    CCheckStream detector;
    EXPECT_EQ(detector.Prepare(0), ResultNoMemory);
    EXPECT_EQ(detector.Prepare(UINT32_MAX), ResultNoMemory);
    ASSERT_EQ(detector.Prepare(10), RESULT_OK);
    EXPECT_EQ(detector.Capacity(), 14u);
    EXPECT_EQ(detector.Kind(), STREAM_KIND_UNKNOWN);
}

TEST(DetectTest, KindOfTheFirstChunk)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t kind;
    };
    std::vector<Case> cases;
    cases.push_back({"188-byte packets cut mid-packet", Slice(PlainStream(400), 1000, 65536), STREAM_KIND_TS188});
    cases.push_back({"188-byte packets, five of them", PlainStream(5), STREAM_KIND_TS188});
    cases.push_back({"192-byte units cut mid-unit", Slice(PlainStream(400, 192), 777, 65536), STREAM_KIND_TS192});
    {
        vsktest::CTsStreamBuilder builder(192);
        builder.SetArrivalTime(0x3FFFFF00u, 7520);
        for (int i = 0; i < 20; ++i)
            builder.Add(packettest::FilledPacket());
        cases.push_back({"192-byte units with arrival times", builder.Take(), STREAM_KIND_TS192});
    }
    for (std::uint8_t k = 0; k < 4; ++k) {
        std::array<std::uint8_t, 4> prefix{0x01, 0x02, 0x03, 0x04};
        prefix[k] = 0x47;
        cases.push_back({"192-byte units with a prefix byte 0x47", Slice(PlainStream(40, 192, prefix), 50),
                         STREAM_KIND_TS192});
    }
    cases.push_back({"mpeg-2 program stream", ProgramStream(false), STREAM_KIND_PROGRAM});
    cases.push_back({"mpeg-1 program stream", ProgramStream(true), STREAM_KIND_PROGRAM});
    cases.push_back({"noise", NoiseBytes(65536, 7), STREAM_KIND_UNKNOWN});
    cases.push_back({"four packets only", PlainStream(4), STREAM_KIND_UNKNOWN});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DetectKind(c.bytes), c.kind);
    }
}

// 192-byte units whose payload is all 0x47 hold runs of both strides: the
// 188-byte run drifts 4 bytes a unit through the payload, so it lasts some
// 46 units and no more.
std::vector<std::uint8_t> SyncPayloadUnits(std::size_t count)
{
    return PlainStream(count, 192, {0, 0, 0, 0}, 0x47);
}

TEST(DetectTest, WhenBothPacketSizesHoldAShortChunkIsTakenFor188Bytes)
{
    // 3,000 bytes: n = 7, below the 10 units a long run needs.
    const std::vector<std::uint8_t> bytes = Slice(SyncPayloadUnits(20), 0, 3000);
    CView view(bytes);
    ASSERT_EQ(CheckPacketRun(view, 0, 5), 0);
    CView view4(bytes);
    ASSERT_EQ(CheckPacketRun(view4, 4, 5), 0);
    EXPECT_EQ(DetectKind(bytes), STREAM_KIND_TS188);
}

TEST(DetectTest, WhenBothPacketSizesHoldLongRunsDecide)
{
    // 192-byte units, 64 KiB: n = 170, and only the 192-byte run lasts.
    EXPECT_EQ(DetectKind(Slice(SyncPayloadUnits(400), 0, 65536)), STREAM_KIND_TS192);
    // 188-byte packets with 0x47 payload hold a 192-byte run too, but the
    // long 188-byte run decides first.
    EXPECT_EQ(DetectKind(PlainStream(60, 188, {}, 0x47)), STREAM_KIND_TS188);
    // 3,840 bytes (n = 10) of the 192-byte units: the 188-byte run still
    // spans ten units and is taken.
    EXPECT_EQ(DetectKind(Slice(SyncPayloadUnits(40), 0, 3840)), STREAM_KIND_TS188);
}

TEST(DetectTest, RunsThatDoNotLastAreNoProgramStreamUnlessOneWasSeen)
{
    // Six units of both runs, then bytes without sync bytes or start codes:
    // n = 13 and neither long run holds. Without any program-stream header
    // the short-run answer stands; with one, the chunk is a program stream.
    std::vector<std::uint8_t> bytes = SyncPayloadUnits(6);
    bytes.resize(bytes.size() + 4000, 0x00);
    EXPECT_EQ(DetectKind(bytes), STREAM_KIND_TS188);

    const std::vector<std::uint8_t> ps = ProgramStream();
    bytes.insert(bytes.end(), ps.begin(), ps.end());
    EXPECT_EQ(DetectKind(bytes), STREAM_KIND_PROGRAM);
}

TEST(DetectTest, ATransportStreamCarryingProgramStreamHeadersIsSettledByLongRuns)
{
    // A program-stream pack inside the first packet's payload: both the
    // 188-byte run and the program-stream check hold.
    vsktest::CTsStreamBuilder builder;
    vsktest::TsPacket first;
    first.pid = packettest::TEST_PID;
    first.payload = ProgramStream();
    first.payload.resize(vsktest::TS_MAX_PAYLOAD);
    builder.Add(first);
    for (int i = 0; i < 30; ++i)
        builder.Add(packettest::FilledPacket());
    const std::vector<std::uint8_t> bytes = builder.Take();
    EXPECT_EQ(DetectKind(bytes), STREAM_KIND_TS188);
    // Short, the tie goes to 188 bytes as well.
    EXPECT_EQ(DetectKind(Slice(bytes, 0, 3000)), STREAM_KIND_TS188);
}

}  // namespace
}  // namespace parser
