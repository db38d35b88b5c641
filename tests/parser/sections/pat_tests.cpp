#include "PASection.h"

#include "SectionTestSupport.h"

#include "vsktest/PsiSections.h"

#include <gtest/gtest.h>

#include <span>
#include <vector>

namespace parser {
namespace {

using sectiontest::AppendAndParse;
using vsktest::MakePat;
using vsktest::PatParams;
using vsktest::SectionOptions;

class PatTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(m_pat.Prepare(PAT_CAPACITY), RESULT_OK); }

    CPASection m_pat;
};

TEST_F(PatTest, OneProgramSection)
{
    PatParams p;
    p.transportStreamId = 0x1234;
    p.version = 17;
    p.sectionNumber = 0;
    p.lastSectionNumber = 0;
    p.entries = {{0x0101, 0x1FC8}};
    const auto section = MakePat(p);
    ASSERT_EQ(section.size(), 16u);  // section_length 13

    EXPECT_TRUE(m_pat.AwaitingSection());
    ASSERT_EQ(AppendAndParse(m_pat, section), RESULT_OK);
    EXPECT_FALSE(m_pat.AwaitingSection());
    EXPECT_EQ(m_pat.Header().sectionLength, 13u);
    EXPECT_EQ(m_pat.SectionBytes(), 16u);
    EXPECT_EQ(m_pat.Header().sectionSyntaxIndicator, 1u);
    EXPECT_EQ(m_pat.Version(), 17u);
    EXPECT_EQ(m_pat.CurrentNext(), 1u);
    EXPECT_EQ(m_pat.TransportStreamId(), 0x1234u);
    EXPECT_EQ(m_pat.EntryCount(), 1u);
    EXPECT_EQ(m_pat.ProgramCount(), 1u);
    EXPECT_EQ(m_pat.NetworkCount(), 0u);
    EXPECT_EQ(m_pat.ProgramNumber(0), 0x0101u);
    EXPECT_EQ(m_pat.Pid(0), 0x1FC8u);
    const std::uint32_t crcField = (std::uint32_t{section[12]} << 24) | (section[13] << 16) | (section[14] << 8) | section[15];
    EXPECT_EQ(m_pat.Crc(), crcField);
    EXPECT_EQ(m_pat.Used(), 0u) << "a published section leaves the buffer empty";
}

TEST_F(PatTest, ProgramsFromTheFrontNetworkEntriesFromTheBack)
{
    struct Case {
        const char* name;
        std::vector<vsktest::PatEntry> entries;
        std::vector<std::uint16_t> programNumbers;  // as stored
        std::vector<std::uint16_t> pids;
        std::uint32_t programs;
    };
    const Case cases[] = {
        {"network first", {{0, 0x10}, {1, 0x100}, {2, 0x200}}, {1, 2, 0}, {0x100, 0x200, 0x10}, 2},
        {"networks interleaved", {{0, 0x10}, {5, 0x500}, {0, 0x11}}, {5, 0, 0}, {0x500, 0x11, 0x10}, 1},
        {"networks only", {{0, 0x10}, {0, 0x11}}, {0, 0}, {0x11, 0x10}, 0},
        {"no entries", {}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PatParams p;
        p.entries = c.entries;
        ASSERT_EQ(AppendAndParse(m_pat, MakePat(p)), RESULT_OK);
        EXPECT_EQ(m_pat.EntryCount(), c.entries.size());
        EXPECT_EQ(m_pat.ProgramCount(), c.programs);
        EXPECT_EQ(m_pat.NetworkCount(), c.entries.size() - c.programs);
        EXPECT_EQ(std::vector<std::uint16_t>(m_pat.ProgramNumbers().begin(), m_pat.ProgramNumbers().end()),
                  c.programNumbers);
        EXPECT_EQ(std::vector<std::uint16_t>(m_pat.Pids().begin(), m_pat.Pids().end()), c.pids);
    }
    EXPECT_EQ(m_pat.ProgramNumber(5), 0u);
    EXPECT_EQ(m_pat.Pid(5), 0u);
}

TEST_F(PatTest, SectionLengthLimits)
{
    struct Case {
        std::uint16_t sectionLength;
        Result result;
    };
    // The bytes are those of a one-entry PAT; only the length field lies.
    const Case cases[] = {
        {0, ResultSectionMalformed},    {8, ResultSectionMalformed},    {1025, ResultSectionMalformed},
        {4095, ResultSectionMalformed}, {9, ResultCrcMismatch},         {12, ResultCrcMismatch},
        {14, ResultNeedMoreData},       {1024, ResultNeedMoreData},
    };
    PatParams p;
    p.entries = {{1, 0x100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectionLength);
        SectionOptions o;
        o.sectionLength = c.sectionLength;
        EXPECT_EQ(AppendAndParse(m_pat, MakePat(p, o)), c.result);
        const std::uint32_t held = c.result == ResultNeedMoreData ? 16u : 0u;
        EXPECT_EQ(m_pat.Used(), held) << "an incomplete section is kept, a rejected one dropped";
        m_pat.Clear();
    }
}

TEST_F(PatTest, LongestSectionIsAccepted)
{
    // 253 entries and three bytes that make no whole entry: the CRC field is
    // found at the end of the section all the same.
    std::vector<std::uint8_t> body;
    for (std::uint16_t i = 0; i < 253; ++i) {
        const std::uint16_t number = static_cast<std::uint16_t>(i + 1);
        const std::uint16_t pid = static_cast<std::uint16_t>(0x20 + i);
        body.insert(body.end(), {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number),
                                 static_cast<std::uint8_t>(0xE0 | (pid >> 8)), static_cast<std::uint8_t>(pid)});
    }
    body.insert(body.end(), {0xAA, 0xBB, 0xCC});
    const auto section = sectiontest::HandMadeSection(vsktest::TABLE_ID_PAT, 7, body);
    ASSERT_EQ(section.size(), 1027u);

    ASSERT_EQ(AppendAndParse(m_pat, section), RESULT_OK);
    EXPECT_EQ(m_pat.Header().sectionLength, 1024u);
    EXPECT_EQ(m_pat.EntryCount(), 253u);
    EXPECT_EQ(m_pat.ProgramCount(), 253u);
    EXPECT_EQ(m_pat.ProgramNumber(252), 253u);
    EXPECT_EQ(m_pat.Pid(252), 0x20u + 252u);
    EXPECT_EQ(m_pat.Crc() >> 8, (std::uint32_t{section[1023]} << 16) | (section[1024] << 8) | section[1025]);
}

TEST_F(PatTest, CrcMismatchKeepsThePublishedTable)
{
    PatParams good;
    good.transportStreamId = 1;
    good.version = 3;
    good.entries = {{1, 0x100}};
    ASSERT_EQ(AppendAndParse(m_pat, MakePat(good)), RESULT_OK);

    PatParams other = good;
    other.transportStreamId = 2;
    other.version = 4;
    other.entries = {{9, 0x900}, {10, 0xA00}};
    auto damaged = MakePat(other);
    damaged[9] ^= 0x40;  // inside an entry: still well formed, only the CRC can tell

    EXPECT_EQ(AppendAndParse(m_pat, damaged), ResultCrcMismatch);
    EXPECT_TRUE(m_pat.AwaitingSection());
    EXPECT_EQ(m_pat.Used(), 0u);
    EXPECT_EQ(m_pat.TransportStreamId(), 1u);
    EXPECT_EQ(m_pat.Version(), 3u);
    EXPECT_EQ(m_pat.EntryCount(), 1u);
    EXPECT_EQ(m_pat.Pid(0), 0x100u);

    // The CRC field itself damaged.
    SectionOptions bad;
    bad.badCrc = true;
    EXPECT_EQ(AppendAndParse(m_pat, MakePat(other, bad)), ResultCrcMismatch);

    ASSERT_EQ(AppendAndParse(m_pat, MakePat(other)), RESULT_OK);
    EXPECT_FALSE(m_pat.AwaitingSection());
    EXPECT_EQ(m_pat.TransportStreamId(), 2u);
    EXPECT_EQ(m_pat.Version(), 4u);
    EXPECT_EQ(m_pat.ProgramCount(), 2u);
}

TEST_F(PatTest, WrongTableIdEmptiesTheBuffer)
{
    PatParams p;
    p.entries = {{1, 0x100}};
    for (const std::uint8_t tableId : {std::uint8_t{0x02}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
        SCOPED_TRACE(static_cast<int>(tableId));
        SectionOptions o;
        o.tableId = tableId;
        EXPECT_EQ(AppendAndParse(m_pat, MakePat(p, o)), ResultWrongTableId);
        EXPECT_EQ(m_pat.Used(), 0u);
    }
    // Stuffing alone (a packet continuing nothing) is rejected at its first byte.
    const std::uint8_t stuffing = 0xFF;
    EXPECT_EQ(AppendAndParse(m_pat, {&stuffing, 1}), ResultWrongTableId);
    EXPECT_EQ(m_pat.Version(), 0xFFu) << "nothing was published";
}

TEST_F(PatTest, ByteByByteNeedsMoreDataUntilTheLastByte)
{
    PatParams p;
    p.entries = {{1, 0x100}, {2, 0x200}};
    const auto section = MakePat(p);
    EXPECT_EQ(m_pat.Parse(), ResultNeedMoreData) << "empty buffer";
    for (std::size_t i = 0; i + 1 < section.size(); ++i) {
        ASSERT_EQ(AppendAndParse(m_pat, {&section[i], 1}), ResultNeedMoreData) << "after byte " << i;
        ASSERT_EQ(m_pat.Used(), i + 1);
    }
    ASSERT_EQ(AppendAndParse(m_pat, {&section.back(), 1}), RESULT_OK);
    EXPECT_EQ(m_pat.ProgramCount(), 2u);
}

TEST_F(PatTest, BytesBehindTheSectionBeginTheNextOneUnlessTheyAreStuffing)
{
    auto pat = [](std::uint16_t transportStreamId) {
        PatParams p;
        p.transportStreamId = transportStreamId;
        p.entries = {{1, 0x100}};
        return MakePat(p);
    };
    const auto first = pat(1);
    const auto second = pat(2);
    const std::vector<std::uint8_t> stuffing(20, 0xFF);

    // A second section and stuffing behind it: it is kept, the stuffing not.
    ASSERT_EQ(AppendAndParse(m_pat, sectiontest::Concat({first, second, stuffing})), RESULT_OK);
    EXPECT_EQ(m_pat.TransportStreamId(), 1u);
    EXPECT_EQ(m_pat.Used(), second.size() + stuffing.size());
    ASSERT_EQ(m_pat.Parse(), RESULT_OK);
    EXPECT_EQ(m_pat.TransportStreamId(), 2u);
    EXPECT_EQ(m_pat.Used(), 0u);
    EXPECT_EQ(m_pat.Parse(), ResultNeedMoreData);

    // The head of the next section waits for the rest of it.
    ASSERT_EQ(AppendAndParse(m_pat, sectiontest::Concat({first, std::span(second).first(2)})), RESULT_OK);
    EXPECT_EQ(m_pat.Used(), 2u);
    EXPECT_EQ(m_pat.Parse(), ResultNeedMoreData);
    ASSERT_EQ(AppendAndParse(m_pat, std::span(second).subspan(2)), RESULT_OK);
    EXPECT_EQ(m_pat.TransportStreamId(), 2u);

    // Stuffing right behind the section ends the packet's sections.
    ASSERT_EQ(AppendAndParse(m_pat, sectiontest::Concat({first, stuffing, second})), RESULT_OK);
    EXPECT_EQ(m_pat.Used(), 0u);
}

TEST_F(PatTest, PrepareStartsOverAndRefusesNoCapacity)
{
    PatParams p;
    p.version = 9;
    p.entries = {{1, 0x100}};
    ASSERT_EQ(AppendAndParse(m_pat, MakePat(p)), RESULT_OK);
    ASSERT_EQ(m_pat.Prepare(PAT_CAPACITY), RESULT_OK);
    EXPECT_TRUE(m_pat.AwaitingSection());
    EXPECT_EQ(m_pat.Version(), 0xFFu);
    EXPECT_EQ(m_pat.CurrentNext(), 0u);
    EXPECT_EQ(m_pat.EntryCount(), 0u);
    EXPECT_EQ(m_pat.Capacity(), PAT_CAPACITY);

    ASSERT_EQ(AppendAndParse(m_pat, MakePat(p)), RESULT_OK);
    m_pat.FreeRecords();
    EXPECT_EQ(m_pat.EntryCount(), 0u);
    EXPECT_EQ(m_pat.Version(), 0xFFu);
    ASSERT_EQ(AppendAndParse(m_pat, MakePat(p)), RESULT_OK) << "records come back after FreeRecords";
    EXPECT_EQ(m_pat.EntryCount(), 1u);

    CPASection none;
    EXPECT_EQ(none.Prepare(0), ResultNoMemory);
    EXPECT_EQ(none.Parse(), ResultNeedMoreData);
}

TEST_F(PatTest, BeginSectionRewindsAndWaits)
{
    PatParams p;
    p.entries = {{1, 0x100}};
    ASSERT_EQ(AppendAndParse(m_pat, MakePat(p)), RESULT_OK);
    const auto section = MakePat(p);
    m_pat.Append(section.data(), 5);
    m_pat.Advance(2);
    m_pat.BeginSection();
    EXPECT_TRUE(m_pat.AwaitingSection());
    EXPECT_EQ(m_pat.Offset(), 0u);
    EXPECT_EQ(AppendAndParse(m_pat, std::span(section).subspan(5)), RESULT_OK);
}

}  // namespace
}  // namespace parser
