// Sections assembled from transport packets the way the demultiplexer feeds
// them: packet header, pointer field, Collect, Parse.
#include "PASection.h"
#include "PmapSection.h"
#include "SISection.h"
#include "TSHeader.h"

#include "vsktest/PsiSections.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <vector>

namespace parser {
namespace {

using vsktest::CTsStreamBuilder;
using vsktest::MakeDescriptor;
using vsktest::MakePat;
using vsktest::MakePmt;
using vsktest::MakeSit;
using vsktest::PacketizeSections;
using vsktest::SectionPacketOptions;
using vsktest::TsPacket;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t PMT_PID = 0x0100;

// A PMT of about 400 bytes: three packets.
Bytes LargePmt(std::uint16_t programNumber = 1)
{
    vsktest::PmtParams p;
    p.programNumber = programNumber;
    p.programInfo = MakeDescriptor(0x09, Bytes(200, 0x11));
    p.streams = {{0x02, 0x101, MakeDescriptor(0x52, Bytes(190, 0x22))}, {0x04, 0x102, {}}};
    return MakePmt(p);
}

Bytes SmallPmt(std::uint16_t programNumber)
{
    vsktest::PmtParams p;
    p.programNumber = programNumber;
    p.streams = {{0x02, 0x101, {}}};
    return MakePmt(p);
}

class CollectTest : public ::testing::Test
{
protected:
    void Load(const Bytes& stream)
    {
        ASSERT_EQ(m_reader.Prepare(static_cast<std::uint32_t>(stream.size()) + 188, 0), RESULT_OK);
        ASSERT_EQ(m_reader.Append(stream.data(), static_cast<std::uint32_t>(stream.size())), stream.size());
    }

    // Loads packets[i] for each i of `order`; their continuity counters are
    // their indexes, so an index given twice is a repeated packet.
    void LoadNumbered(std::vector<TsPacket> packets, std::initializer_list<std::size_t> order)
    {
        for (std::size_t i = 0; i < packets.size(); ++i)
            packets[i].continuityCounter = static_cast<std::uint8_t>(i);
        CTsStreamBuilder b;
        for (std::size_t i : order)
            b.Add(packets.at(i));
        Load(b.Bytes());
    }

    // Reads the next packet; one of `pid` goes through the pointer field into
    // `section`, any other is stepped over. Gives Collect's result.
    Result Next(CSection& section, std::uint16_t pid = PMT_PID)
    {
        const Result read = m_reader.ReadPacketHeader();
        if (read != RESULT_OK)
            return read;
        if (m_reader.Header().pid != pid) {
            m_reader.SkipPayload();
            return RESULT_OK;
        }
        const Result pointer = m_reader.ReadPointerField();
        if (pointer != RESULT_OK)
            return pointer;
        const Result collected = section.Collect(m_reader);
        EXPECT_EQ(m_reader.PayloadLeft(), 0u) << "Collect leaves the reader past the payload";
        return collected;
    }

    CTSHeader m_reader;
};

TEST_F(CollectTest, SectionSpreadOverSeveralPackets)
{
    const Bytes section = LargePmt();
    const auto packets = PacketizeSections(PMT_PID, {section});
    ASSERT_EQ(packets.size(), 3u);
    CTsStreamBuilder b;
    b.Add(packets[0]);
    b.AddNull();
    b.Add(packets[1]);
    b.AddNull(2);
    b.Add(packets[2]);
    Load(b.Bytes());

    CPmapSection pmt;
    ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
    // Packets 0, 2 and 5 carry the section; the others are null packets.
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Next(pmt), RESULT_OK);
        if (i == 0 || i == 2) {
            EXPECT_EQ(pmt.Parse(), ResultNeedMoreData);
        }
    }
    ASSERT_EQ(pmt.Parse(), RESULT_OK);

    EXPECT_EQ(pmt.SectionBytes(), section.size());
    EXPECT_EQ(pmt.StreamCount(), 2u);
    EXPECT_EQ(pmt.ProgramDescriptors().size(), 202u);
    const std::vector<std::int64_t> positions(pmt.PacketPositions().begin(), pmt.PacketPositions().end());
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 2 * 188, 5 * 188}));
    EXPECT_EQ(pmt.FirstPacketHeader().pid, PMT_PID);
    EXPECT_EQ(pmt.FirstPacketHeader().payloadUnitStartIndicator, 1u);
    EXPECT_EQ(pmt.FirstPacketHeader().continuityCounter, 0u);
}

TEST_F(CollectTest, ContinuityCounters)
{
    struct Case {
        std::uint8_t first;
        std::uint8_t second;
        Result result;  // of the second Collect
        bool completes;
    };
    const Case cases[] = {
        {0, 1, RESULT_OK, true},          {14, 15, RESULT_OK, true},
        {15, 0, RESULT_OK, true},         {0, 2, ResultDiscontinuity, true},
        {5, 4, ResultDiscontinuity, true}, {15, 1, ResultDiscontinuity, true},
        // The same counter again: a repeat, nothing taken.
        {7, 7, RESULT_OK, false},
    };
    vsktest::PmtParams p;
    p.programInfo = MakeDescriptor(0x09, Bytes(250, 0x33));
    const Bytes section = MakePmt(p);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.first) << " -> " << int(c.second));
        auto packets = PacketizeSections(PMT_PID, {section});
        ASSERT_EQ(packets.size(), 2u);
        packets[0].continuityCounter = c.first;
        packets[1].continuityCounter = c.second;
        CTsStreamBuilder b;
        b.Add(packets);
        Load(b.Bytes());

        CPmapSection pmt;
        ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
        ASSERT_EQ(Next(pmt), RESULT_OK) << "the first packet has nothing to follow";
        const std::uint32_t held = pmt.Used();
        EXPECT_EQ(Next(pmt), c.result);
        if (c.completes) {
            EXPECT_GT(pmt.Used(), held) << "the payload is taken even across a gap";
            EXPECT_EQ(pmt.Parse(), RESULT_OK);
        } else {
            EXPECT_EQ(pmt.Used(), held);
            EXPECT_EQ(pmt.Parse(), ResultNeedMoreData);
        }
    }
}

TEST_F(CollectTest, RepeatedPacketAddsNothing)
{
    LoadNumbered(PacketizeSections(PMT_PID, {LargePmt()}), {0, 0, 1, 1, 2});

    CPmapSection pmt;
    ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
    std::vector<std::uint32_t> held;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Next(pmt), RESULT_OK) << i;
        held.push_back(pmt.Used());
    }
    EXPECT_EQ(held[1], held[0]);
    EXPECT_EQ(held[3], held[2]);
    ASSERT_EQ(pmt.Parse(), RESULT_OK);
    const std::vector<std::int64_t> positions(pmt.PacketPositions().begin(), pmt.PacketPositions().end());
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 2 * 188, 4 * 188})) << "repeats are not counted";
}

TEST_F(CollectTest, SectionStartDropsTheHeadOfAnUnfinishedOne)
{
    // The second packet of the first section is lost; the next packet starts
    // a complete section of its own.
    const auto first = PacketizeSections(PMT_PID, {LargePmt(1)});
    auto second = PacketizeSections(PMT_PID, {SmallPmt(2)});
    ASSERT_EQ(second.size(), 1u);
    CTsStreamBuilder b;
    b.Add(first[0]);
    b.SetNextContinuity(PMT_PID, 1);
    b.Add(second[0]);
    Load(b.Bytes());

    CPmapSection pmt;
    ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
    ASSERT_EQ(Next(pmt), RESULT_OK);
    EXPECT_EQ(pmt.Parse(), ResultNeedMoreData);
    ASSERT_EQ(Next(pmt), RESULT_OK);
    ASSERT_EQ(pmt.Parse(), RESULT_OK);
    EXPECT_EQ(pmt.ProgramNumber(), 2u);
    ASSERT_EQ(pmt.PacketPositions().size(), 1u);
    EXPECT_EQ(pmt.PacketPositions()[0], 188);
    EXPECT_EQ(pmt.FirstPacketHeader().continuityCounter, 1u);
}

TEST_F(CollectTest, EachSectionReportsItsOwnPackets)
{
    CTsStreamBuilder b;
    for (std::uint16_t ts = 1; ts <= 3; ++ts) {
        vsktest::PatParams p;
        p.transportStreamId = ts;
        p.entries = {{1, PMT_PID}};
        b.AddSection(vsktest::TS_PID_PAT, MakePat(p));
        b.AddNull();
    }
    Load(b.Bytes());

    CPASection pat;
    ASSERT_EQ(pat.Prepare(PAT_CAPACITY), RESULT_OK);
    for (std::uint16_t ts = 1; ts <= 3; ++ts) {
        SCOPED_TRACE(ts);
        ASSERT_EQ(Next(pat, vsktest::TS_PID_PAT), RESULT_OK);
        ASSERT_EQ(pat.Parse(), RESULT_OK);
        ASSERT_EQ(Next(pat, vsktest::TS_PID_PAT), RESULT_OK);  // the null packet
        EXPECT_EQ(pat.TransportStreamId(), ts);
        ASSERT_EQ(pat.PacketPositions().size(), 1u);
        EXPECT_EQ(pat.PacketPositions()[0], (ts - 1) * 2 * 188);
        EXPECT_EQ(pat.FirstPacketHeader().continuityCounter, ts - 1);
    }
}

TEST_F(CollectTest, SectionBehindTheTailOfAnEarlierOne)
{
    SectionPacketOptions o;
    o.leadingBytes = Bytes(30, 0x5A);
    CTsStreamBuilder b;
    b.AddSection(PMT_PID, SmallPmt(4), o);
    Load(b.Bytes());

    CPmapSection pmt;
    ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
    ASSERT_EQ(Next(pmt), RESULT_OK);
    ASSERT_EQ(pmt.Parse(), RESULT_OK);
    EXPECT_EQ(pmt.ProgramNumber(), 4u);
}

TEST_F(CollectTest, ASectionBegunBehindAnotherStartsInThatPacketAndCanChangeHands)
{
    // Two small maps and the head of a large one in packet 0, its rest in
    // packets 1 and 2.
    const auto packets = PacketizeSections(PMT_PID, {SmallPmt(1), SmallPmt(2), LargePmt(3)});
    ASSERT_EQ(packets.size(), 3u);
    LoadNumbered(packets, {0, 1, 1, 2});

    CPmapSection pmt;
    CPmapSection other;
    ASSERT_EQ(pmt.Prepare(PMT_CAPACITY), RESULT_OK);
    ASSERT_EQ(other.Prepare(PMT_CAPACITY), RESULT_OK);
    ASSERT_EQ(Next(pmt), RESULT_OK);
    for (std::uint16_t program : {1, 2}) {
        SCOPED_TRACE(program);
        ASSERT_EQ(pmt.Parse(), RESULT_OK);
        EXPECT_EQ(pmt.ProgramNumber(), program);
        const std::vector<std::int64_t> positions(pmt.PacketPositions().begin(), pmt.PacketPositions().end());
        EXPECT_EQ(positions, std::vector<std::int64_t>{0});
        EXPECT_EQ(pmt.FirstPacketHeader().payloadUnitStartIndicator, 1u);
    }
    EXPECT_EQ(pmt.Parse(), ResultNeedMoreData);

    // The large one goes on in another object, with its packets and the
    // continuity state: the repeated packet adds nothing there either.
    const std::uint32_t held = pmt.Used();
    ASSERT_EQ(other.TakeHeldSection(pmt), RESULT_OK);
    EXPECT_EQ(pmt.Used(), 0u);
    EXPECT_EQ(other.Used(), held);
    EXPECT_EQ(other.TakeHeldSection(other), RESULT_OK);
    EXPECT_EQ(other.TakeHeldSection(pmt), RESULT_OK) << "nothing held, nothing taken";
    EXPECT_EQ(other.Used(), held);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Next(other), RESULT_OK) << i;
    ASSERT_EQ(other.Parse(), RESULT_OK);
    EXPECT_EQ(other.ProgramNumber(), 3u);
    EXPECT_EQ(other.SectionBytes(), LargePmt(3).size());
    const std::vector<std::int64_t> positions(other.PacketPositions().begin(), other.PacketPositions().end());
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 188, 3 * 188}));
    EXPECT_EQ(other.FirstPacketHeader().continuityCounter, 0u);
}

TEST_F(CollectTest, SectionOverMoreThanTwentyThreePackets)
{
    vsktest::SitParams p;
    for (std::uint16_t i = 0; i < 14; ++i)
        p.services.push_back({i, 4, MakeDescriptor(0x4D, Bytes(200, static_cast<std::uint8_t>(i)))});
    const Bytes section = MakeSit(p);
    SectionPacketOptions o;
    o.maxPayloadPerPacket = 100;
    CTsStreamBuilder b;
    b.AddSection(vsktest::TS_PID_SIT, section, o);
    const std::size_t count = b.PacketCount();
    ASSERT_GT(count, 23u);
    Load(b.Bytes());

    CSISection sit;
    ASSERT_EQ(sit.Prepare(SIT_CAPACITY), RESULT_OK);
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(Next(sit, vsktest::TS_PID_SIT), RESULT_OK) << i;
    ASSERT_EQ(sit.Parse(), RESULT_OK);
    EXPECT_EQ(sit.ServiceCount(), 14u);
    // The last 23 in order; the first packet header is still the first's.
    ASSERT_EQ(sit.PacketPositions().size(), 23u);
    for (std::size_t i = 0; i < 23; ++i)
        EXPECT_EQ(sit.PacketPositions()[i], static_cast<std::int64_t>((count - 23 + i) * 188)) << i;
    EXPECT_EQ(sit.FirstPacketHeader().payloadUnitStartIndicator, 1u);
    EXPECT_EQ(sit.FirstPacketHeader().continuityCounter, 0u);
}

TEST_F(CollectTest, UnpreparedSectionFailsToAppend)
{
    CTsStreamBuilder b;
    b.AddSection(PMT_PID, SmallPmt(1));
    Load(b.Bytes());
    CPmapSection pmt;
    EXPECT_EQ(Next(pmt), ResultAppendFailed);
}

}  // namespace
}  // namespace parser
