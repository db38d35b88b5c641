// The transport packet reader: header fields, adaptation fields, damage and
// re-synchronisation, pointer fields, and positions across compaction.
#include "PacketTestSupport.h"

#include "TSHeader.h"

#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace parser {
namespace {

using packettest::CTestReader;
using packettest::FilledPacket;
using packettest::PlainStream;
using packettest::Slice;
using packettest::TEST_PID;

std::vector<std::uint8_t> OnePacket(const vsktest::TsPacket& packet, std::uint8_t continuity = 0)
{
    const auto encoded = vsktest::EncodeTsPacket(packet, continuity);
    return std::vector<std::uint8_t>(encoded.begin(), encoded.end());
}

TEST(PacketReaderTest, PrepareTakesOnlyThePrefixLengthsOfTheTwoUnitForms)
{
    CTSHeader reader;
    EXPECT_EQ(reader.Prepare(4096, 0), RESULT_OK);
    EXPECT_EQ(reader.Stride(), 188u);
    EXPECT_EQ(reader.Prepare(4096, 4), RESULT_OK);
    EXPECT_EQ(reader.Stride(), 192u);
    EXPECT_EQ(reader.Capacity(), 4096u);
    EXPECT_EQ(reader.Prepare(4096, 2), ResultSetupFailed);
    EXPECT_EQ(reader.Prepare(0, 0), ResultNoMemory);
}

TEST(PacketReaderTest, ReadsEveryHeaderFieldAndStampsThePosition)
{
    vsktest::TsPacket p;
    p.pid = 0x1ABC;
    p.payloadUnitStart = true;
    p.transportPriority = true;
    p.scrambling = 2;
    p.payload.assign(184, 0x5A);
    vsktest::CTsStreamBuilder builder(192);
    builder.SetCustomPrefix({0xAA, 0xBB, 0xCC, 0xDD});
    builder.Add(FilledPacket());
    p.continuityCounter = 9;
    builder.Add(p);

    CTestReader reader;
    reader.Load(builder.Bytes(), 4);
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    EXPECT_EQ(reader.PacketPosition(), 0);
    reader.SkipPayload();
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    const STsPacketHeader& h = reader.Header();
    EXPECT_EQ(reader.PacketPosition(), 192);
    EXPECT_EQ(h.transportErrorIndicator, 0);
    EXPECT_EQ(h.payloadUnitStartIndicator, 1);
    EXPECT_EQ(h.transportPriority, 1);
    EXPECT_EQ(h.pid, 0x1ABC);
    EXPECT_EQ(h.transportScramblingControl, 2);
    EXPECT_EQ(h.adaptationFieldControl, 1);
    EXPECT_EQ(h.continuityCounter, 9);
    EXPECT_EQ(reader.PayloadLeft(), 184u);
    EXPECT_EQ(reader.Offset(), 192u + 4 + 4);
    EXPECT_EQ(*reader.Cursor(), 0x5A);
    EXPECT_EQ(reader.StatusCount(), 0u);
    reader.SkipPayload();
    EXPECT_EQ(reader.Offset(), 384u);
    EXPECT_EQ(reader.ReadPacketHeader(), ResultNeedMoreData);
}

TEST(PacketReaderTest, WaitsForAWholeUnit)
{
    const std::vector<std::uint8_t> bytes = PlainStream(2, 192);
    for (std::size_t size : {0u, 1u, 191u}) {
        SCOPED_TRACE(size);
        CTestReader reader;
        reader.Load(Slice(bytes, 0, size), 4);
        EXPECT_EQ(reader.ReadPacketHeader(), ResultNeedMoreData);
        EXPECT_EQ(reader.Offset(), 0u);
        EXPECT_EQ(reader.StatusCount(), 0u);
    }
}

// ---------------------------------------------------------------------------
// Adaptation fields

struct AdaptationCase {
    const char* name;
    vsktest::TsPacket packet;
    bool malformed;
    std::uint32_t payload;  // payload bytes left after the header
};

vsktest::TsPacket WithField(const vsktest::AdaptationField& field, std::size_t payload,
                            std::optional<std::uint8_t> control = std::nullopt)
{
    vsktest::TsPacket p;
    p.pid = TEST_PID;
    p.adaptation = field;
    p.payload.assign(payload, 0x5A);
    p.adaptationFieldControl = control;
    return p;
}

TEST(AdaptationFieldTest, LengthsAndPayload)
{
    std::vector<AdaptationCase> cases;
    {
        vsktest::AdaptationField f;
        f.lengthOnly = true;
        cases.push_back({"length 0", WithField(f, 183), false, 183});
    }
    {
        vsktest::AdaptationField f;
        f.stuffing = 181;  // flags byte + 181 = 182
        cases.push_back({"length 182", WithField(f, 1), false, 1});
    }
    {
        vsktest::AdaptationField f;
        f.stuffing = 182;  // 183: the whole packet
        cases.push_back({"length 183, no payload", WithField(f, 0, 2), false, 0});
        cases.push_back({"length 183 with control 11", WithField(f, 0, 3), false, 0});
    }
    {
        vsktest::AdaptationField f;
        f.stuffing = 182;
        f.lengthOverride = 184;
        cases.push_back({"length 184", WithField(f, 0, 3), true, 0});
        f.lengthOverride = 255;
        cases.push_back({"length 255", WithField(f, 0, 2), true, 0});
    }
    {
        // Control 10 says there is no payload: a short field leaves stuffing,
        // not data, behind it.
        vsktest::AdaptationField f;
        f.stuffing = 99;
        f.lengthOverride = 100;
        cases.push_back({"length 100 with control 10", WithField(f, 0, 2), false, 0});
    }
    {
        vsktest::AdaptationField f;
        f.pcrBase = 1;
        f.lengthOverride = 3;  // the PCR would reach into the payload
        cases.push_back({"PCR longer than the field", WithField(f, 100, 3), true, 0});
    }
    {
        vsktest::AdaptationField f;
        f.privateData = std::vector<std::uint8_t>(181, 0x77);
        cases.push_back({"181 bytes of private data", WithField(f, 0, 2), false, 0});
    }
    {
        vsktest::AdaptationField f;
        f.privateData = std::vector<std::uint8_t>(10, 0x77);
        f.lengthOverride = 8;  // flags, length byte, 6 of the 10 bytes
        cases.push_back({"private data longer than the field", WithField(f, 150, 3), true, 0});
    }
    {
        vsktest::AdaptationField f;
        f.extension = std::vector<std::uint8_t>{0x80};  // ltw_flag, but no ltw bytes
        cases.push_back({"extension part longer than the extension", WithField(f, 100), true, 0});
        f.extension = std::vector<std::uint8_t>{0x00, 0x01, 0x02};
        f.lengthOverride = 4;  // the extension claims 3 bytes, the field holds 2
        cases.push_back({"extension longer than the field", WithField(f, 100, 3), true, 0});
    }

    for (const AdaptationCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = OnePacket(c.packet);
        const std::vector<std::uint8_t> next = OnePacket(FilledPacket(), 1);
        bytes.insert(bytes.end(), next.begin(), next.end());
        CTestReader reader;
        reader.Load(bytes);
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        if (c.malformed) {
            EXPECT_EQ(reader.StatusCount(), 1u);
            EXPECT_EQ(reader.StatusCode(), AnomalyAdaptationMalformed);
            EXPECT_EQ(reader.StatusPosition(), 0);
            EXPECT_EQ(reader.Header().pid, PID_NULL);
            EXPECT_EQ(reader.PayloadLeft(), 0u);
            EXPECT_EQ(reader.Offset(), 188u);
        } else {
            EXPECT_EQ(reader.StatusCount(), 0u);
            EXPECT_EQ(reader.Header().pid, TEST_PID);
            EXPECT_EQ(reader.PayloadLeft(), c.payload);
            if (c.packet.adaptationFieldControl.value_or(3) == 3) {
                EXPECT_EQ(reader.Offset(), 188u - c.payload);
            }
        }
        // Whatever the field, the next packet is read where it begins.
        reader.SkipPayload();
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.PacketPosition(), 188);
        EXPECT_EQ(reader.Header().pid, TEST_PID);
        EXPECT_EQ(reader.StatusCount(), 0u);
    }
}

TEST(AdaptationFieldTest, ReadsEveryOptionalPart)
{
    vsktest::AdaptationField f;
    f.discontinuity = true;
    f.randomAccess = true;
    f.esPriority = true;
    f.pcrBase = 0x1FFFFFFFFull;
    f.pcrExtension = 0x1FF;
    f.opcrBase = 0x123456789ull;
    f.opcrExtension = 0x0AB;
    f.spliceCountdown = -5;
    f.privateData = std::vector<std::uint8_t>{1, 2, 3};
    // ltw (valid, offset 0x1234), piecewise rate 0x2ABCDE, seamless splice
    // (5 bytes), one reserved byte.
    f.extension = std::vector<std::uint8_t>{0xE0, 0x92, 0x34, 0xEA, 0xBC, 0xDE, 1, 2, 3, 4, 5, 0xFF};
    f.stuffing = 2;
    CTestReader reader;
    reader.Load(OnePacket(WithField(f, 100)));
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    ASSERT_EQ(reader.StatusCount(), 0u);
    const SAdaptationField& a = reader.Adaptation();
    const std::uint32_t length = 1 + 6 + 6 + 1 + 4 + 13 + 2;
    EXPECT_EQ(a.adaptationFieldLength, length);
    EXPECT_EQ(reader.PayloadLeft(), 183u - length);
    EXPECT_EQ(reader.Offset(), 4u + 1 + length);
    EXPECT_EQ(a.discontinuityIndicator, 1);
    EXPECT_EQ(a.randomAccessIndicator, 1);
    EXPECT_EQ(a.elementaryStreamPriorityIndicator, 1);
    EXPECT_EQ(a.pcrFlag, 1);
    EXPECT_EQ(a.pcrBase, 0x1FFFFFFFFull);
    EXPECT_EQ(a.pcrExtension, 0x1FF);
    EXPECT_EQ(a.opcrFlag, 1);
    EXPECT_EQ(a.opcrBase, 0x123456789ull);
    EXPECT_EQ(a.opcrExtension, 0x0AB);
    EXPECT_EQ(a.splicingPointFlag, 1);
    EXPECT_EQ(a.spliceCountdown, -5);
    EXPECT_EQ(a.transportPrivateDataFlag, 1);
    EXPECT_EQ(a.transportPrivateDataLength, 3);
    EXPECT_EQ(a.privateData[0], 1);
    EXPECT_EQ(a.privateData[2], 3);
    EXPECT_EQ(a.adaptationFieldExtensionFlag, 1);
    EXPECT_EQ(a.adaptationFieldExtensionLength, 12);
    EXPECT_EQ(a.ltwFlag, 1);
    EXPECT_EQ(a.ltwValidFlag, 1);
    EXPECT_EQ(a.ltwOffset, 0x1234);
    EXPECT_EQ(a.piecewiseRateFlag, 1);
    EXPECT_EQ(a.piecewiseRate, 0x2ABCDEu);
    EXPECT_EQ(a.seamlessSpliceFlag, 1);
}

TEST(AdaptationFieldTest, EachPacketStartsWithAClearedFieldButKeepsThePrivateBytes)
{
    vsktest::AdaptationField f;
    f.pcrBase = 12345;
    f.privateData = std::vector<std::uint8_t>{9, 8, 7};
    std::vector<std::uint8_t> bytes = OnePacket(WithField(f, 50));
    const std::vector<std::uint8_t> plain = OnePacket(FilledPacket(), 1);
    bytes.insert(bytes.end(), plain.begin(), plain.end());
    CTestReader reader;
    reader.Load(bytes);
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    EXPECT_EQ(reader.Adaptation().pcrBase, 12345u);
    reader.SkipPayload();
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    EXPECT_EQ(reader.Adaptation().pcrFlag, 0);
    EXPECT_EQ(reader.Adaptation().pcrBase, 0u);
    EXPECT_EQ(reader.Adaptation().transportPrivateDataLength, 0);
    EXPECT_EQ(reader.Adaptation().privateData[0], 9);
}

// ---------------------------------------------------------------------------
// Damaged packets

TEST(PacketDamageTest, DamagedPacketsAreSkippedAndCountedOnePerPacket)
{
    struct Case {
        const char* name;
        std::uint32_t code;
    };
    for (const Case& c : {Case{"transport error", AnomalyTransportError},
                          Case{"adaptation field control 00", AnomalyNoAdaptationNoPayload}}) {
        SCOPED_TRACE(c.name);
        vsktest::CTsStreamBuilder builder(192);
        for (int i = 0; i < 4; ++i)
            builder.Add(FilledPacket());
        if (c.code == AnomalyTransportError) {
            builder.SetTransportError(1);
        } else {
            std::vector<std::uint8_t> bytes = builder.Take();
            bytes[192 + 4 + 3] &= 0xCF;
            builder.AddRaw(bytes);
        }
        CTestReader reader;
        reader.Load(builder.Bytes(), 4);
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.StatusCount(), 0u);
        reader.SkipPayload();

        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.StatusCount(), 1u);
        EXPECT_EQ(reader.StatusCode(), c.code);
        EXPECT_EQ(reader.StatusPosition(), 192);
        EXPECT_EQ(reader.PacketPosition(), 192);
        EXPECT_EQ(reader.Header().pid, PID_NULL);
        EXPECT_EQ(reader.PayloadLeft(), 0u);
        EXPECT_EQ(reader.Offset(), 384u);

        // The record holds one packet's anomalies.
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.StatusCount(), 0u);
        EXPECT_EQ(reader.StatusPosition(), -1);
        EXPECT_EQ(reader.Header().pid, TEST_PID);
        EXPECT_EQ(reader.PacketPosition(), 384);
    }
}

TEST(PacketDamageTest, ALostSyncByteIsReportedAndTheNextRunOfPacketsTaken)
{
    struct Case {
        const char* name;
        std::size_t unitSize;
        std::size_t junk;  // bytes inserted before packet 3 instead of breaking it
    };
    for (const Case& c : {Case{"188, broken sync byte", 188, 0}, Case{"192, broken sync byte", 192, 0},
                          Case{"188, junk between packets", 188, 77}, Case{"192, junk between units", 192, 5}}) {
        SCOPED_TRACE(c.name);
        const std::uint32_t prefix = static_cast<std::uint32_t>(c.unitSize - 188);
        vsktest::CTsStreamBuilder builder(c.unitSize);
        for (int i = 0; i < 3; ++i)
            builder.Add(FilledPacket());
        if (c.junk != 0)
            builder.AddRaw(std::vector<std::uint8_t>(c.junk, 0x33));
        for (int i = 0; i < 8; ++i)
            builder.Add(FilledPacket(0x11, static_cast<std::uint16_t>(0x200 + i)));
        if (c.junk == 0)
            builder.BreakSync(3);
        const std::int64_t damaged = static_cast<std::int64_t>(3 * c.unitSize);
        // A broken packet is lost; junk is stepped over to the packet behind it.
        const std::size_t resumed = c.junk != 0 ? 3 : 4;

        CTestReader reader;
        reader.Load(builder.Bytes(), prefix);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
            reader.SkipPayload();
        }
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.StatusCount(), 1u);
        EXPECT_EQ(reader.StatusCode(), AnomalyLostSync);
        EXPECT_EQ(reader.StatusPosition(), damaged);
        EXPECT_EQ(reader.PacketPosition(), static_cast<std::int64_t>(builder.UnitOffset(resumed)));
        EXPECT_EQ(reader.Header().pid, 0x200 + resumed - 3);
        EXPECT_FALSE(reader.ResyncPending());
    }
}

TEST(PacketDamageTest, AResynchronisationShortOfDataGoesOnOnceMoreArrives)
{
    // Packet 2's sync byte is broken; six packets follow. The search needs
    // five whole units behind packet 3's start; it gets them in pieces.
    vsktest::CTsStreamBuilder builder(192);
    builder.SetCustomPrefix({0x47, 0x47, 0x00, 0x47});  // prefix bytes that look like sync bytes
    for (int i = 0; i < 9; ++i)
        builder.Add(FilledPacket(0x11, static_cast<std::uint16_t>(0x100 + i)));
    builder.BreakSync(2);
    const std::vector<std::uint8_t> all = builder.Bytes();

    // The run found starts on unit 3's first prefix byte (572 + 4); its last
    // step and the check that moves it onto the unit want bytes up to 1,348.
    for (std::size_t firstPiece : {576u, 586u, 960u, 1345u, 1348u}) {
        SCOPED_TRACE(firstPiece);
        CTestReader reader;
        // A small buffer, so the second piece only fits after compaction.
        reader.Prepare(static_cast<std::uint32_t>(firstPiece), 4);
        reader.Feed(Slice(all, 0, firstPiece));
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
            reader.SkipPayload();
        }
        ASSERT_EQ(reader.ReadPacketHeader(), ResultNeedMoreData);
        EXPECT_EQ(reader.StatusCode(), AnomalyLostSync);
        EXPECT_EQ(reader.StatusPosition(), 384);
        EXPECT_TRUE(reader.ResyncPending());
        // Asking again without new bytes finds nothing and reports nothing.
        ASSERT_EQ(reader.ReadPacketHeader(), ResultNeedMoreData);
        EXPECT_EQ(reader.StatusCount(), 0u);

        reader.Feed(Slice(all, firstPiece));
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.StatusCount(), 0u);
        EXPECT_EQ(reader.PacketPosition(), 3 * 192);
        EXPECT_EQ(reader.Header().pid, 0x103);
    }
}

TEST(PacketDamageTest, ADataStartWithoutARunWaits)
{
    // Before the first run of five packets is found nothing is read; the
    // search resumes as bytes arrive and lands on the first whole unit.
    const std::vector<std::uint8_t> all = Slice(PlainStream(12, 192), 500);
    CTestReader reader;
    reader.Prepare(1000, 4);
    reader.RequireResync();
    std::size_t fed = 0;
    for (std::size_t piece : {100u, 300u, 200u}) {
        reader.Feed(Slice(all, fed, piece));
        fed += piece;
        EXPECT_EQ(reader.ReadPacketHeader(), ResultNeedMoreData);
        EXPECT_EQ(reader.StatusCount(), 0u);
    }
    reader.Feed(Slice(all, fed));
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    EXPECT_EQ(reader.PacketPosition(), 3 * 192 - 500);
}

TEST(PacketDamageTest, SkippingAPacketWhoseEndIsNotBufferedIsReported)
{
    std::vector<std::uint8_t> bytes = PlainStream(2);
    bytes[1] |= 0x80;  // transport error
    CTestReader reader;
    reader.Load(bytes);
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    ASSERT_EQ(reader.StatusCode(), AnomalyTransportError);
    reader.Rewind();
    reader.SkipBits(8 * 4);
    reader.EndAfterCursor(100);
    reader.SkipPacket();
    EXPECT_EQ(reader.StatusCount(), 2u);
    EXPECT_EQ(reader.Offset(), 4u);
    EXPECT_EQ(reader.Header().pid, PID_NULL);
}

// ---------------------------------------------------------------------------
// Pointer fields

TEST(PointerFieldTest, StepsToTheSectionOrRejectsAPointerOutsideThePayload)
{
    struct Case {
        const char* name;
        bool unitStart;
        std::uint8_t pointer;
        std::uint32_t adaptationStuffing;  // shrinks the payload
        Result result;
        std::uint32_t code;  // anomaly, 0 for none
        std::uint32_t offset;  // cursor after the call
    };
    const std::vector<Case> cases = {
        {"no unit start", false, 0, 0, RESULT_OK, 0, 4},
        {"pointer 0", true, 0, 0, RESULT_OK, 0, 5},
        {"pointer to the last byte", true, 182, 0, RESULT_OK, 0, 187},
        {"pointer past the payload", true, 183, 0, ResultSectionMalformed, AnomalyPointerPastPayload, 188},
        {"pointer 255", true, 255, 0, ResultSectionMalformed, AnomalyPointerPastPayload, 188},
        // 20 bytes of adaptation field: 164 payload bytes, 163 after the
        // pointer.
        {"pointer to the last byte of a short payload", true, 162, 18, RESULT_OK, 0, 187},
        {"pointer past a short payload", true, 163, 18, ResultSectionMalformed, AnomalyPointerPastPayload, 188},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vsktest::TsPacket p;
        p.pid = 0x0000;
        p.payloadUnitStart = c.unitStart;
        std::size_t room = 184;
        if (c.adaptationStuffing != 0) {
            vsktest::AdaptationField f;
            f.stuffing = c.adaptationStuffing;
            p.adaptation = f;
            room -= 2 + c.adaptationStuffing;
        }
        p.payload.assign(room, 0x00);
        p.payload[0] = c.pointer;
        CTestReader reader;
        reader.Load(OnePacket(p));
        ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
        EXPECT_EQ(reader.ReadPointerField(), c.result);
        EXPECT_EQ(reader.StatusCount(), c.code == 0 ? 0u : 1u);
        if (c.code != 0) {
            EXPECT_EQ(reader.StatusCode(), c.code);
            EXPECT_EQ(reader.PayloadLeft(), 0u);
        } else {
            EXPECT_EQ(reader.PayloadLeft(), 188u - c.offset);
        }
        EXPECT_EQ(reader.Offset(), c.offset);
    }
}

TEST(PointerFieldTest, APointerPastTheBufferedDataIsRejected)
{
    // A packet is read only once it is buffered whole, so only a buffer that
    // ends early shows this guard at work.
    vsktest::TsPacket p;
    p.pid = 0x0000;
    p.payloadUnitStart = true;
    p.payload.assign(184, 0x00);
    p.payload[0] = 50;
    CTestReader reader;
    reader.Load(OnePacket(p));
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    reader.EndAfterCursor(30);
    EXPECT_EQ(reader.ReadPointerField(), ResultSectionMalformed);
    EXPECT_EQ(reader.StatusCode(), AnomalyPointerPastBuffer);
    EXPECT_EQ(reader.PayloadLeft(), 0u);
}

TEST(PointerFieldTest, APacketWithoutPayloadHasNoPointerField)
{
    vsktest::AdaptationField f;
    f.stuffing = 182;
    vsktest::TsPacket p = WithField(f, 0, 2);
    p.pid = 0;
    p.payloadUnitStart = true;
    CTestReader reader;
    reader.Load(OnePacket(p));
    ASSERT_EQ(reader.ReadPacketHeader(), RESULT_OK);
    EXPECT_EQ(reader.ReadPointerField(), ResultSectionMalformed);
    EXPECT_EQ(reader.StatusCode(), AnomalyPointerPastPayload);
    EXPECT_EQ(reader.Offset(), 188u);
}

// ---------------------------------------------------------------------------
// Positions

TEST(PacketPositionTest, PositionsStayAbsoluteWhenTheBufferIsCompacted)
{
    const std::vector<std::uint8_t> all = PlainStream(40, 192);
    CTestReader reader;
    reader.Prepare(1000, 4);
    std::size_t fed = 0;
    std::int64_t expected = 0;
    for (std::size_t piece : {1000u, 333u, 1u, 700u, 999u, 5000u}) {
        reader.Feed(Slice(all, fed, piece));
        fed += piece;
        while (reader.ReadPacketHeader() == RESULT_OK) {
            EXPECT_EQ(reader.PacketPosition(), expected);
            reader.SkipPayload();
            expected += 192;
        }
    }
    EXPECT_EQ(expected, 40 * 192);
    EXPECT_GT(reader.DiscardedBytes64(), 0u);
}

}  // namespace
}  // namespace parser
