#include "vsktest/Crc32Mpeg2.h"
#include "vsktest/PsiSections.h"

#include <gtest/gtest.h>

namespace {

using namespace vsktest;
using Bytes = std::vector<std::uint8_t>;

std::uint16_t SectionLengthField(const Bytes& s)
{
    return static_cast<std::uint16_t>(((s[1] & 0x0Fu) << 8) | s[2]);
}

TEST(PsiSections, PatForOneProgramMatchesHandEncodedBytes)
{
    // table_id 00; '1' '0' '11' and section_length 13; transport_stream_id 1;
    // '11' version 0 current_next 1; section 0 of 0; program 1 -> '111' PID
    // 0x1000; CRC_32 worked out separately.
    PatParams pat;
    pat.transportStreamId = 1;
    pat.entries = {{1, 0x1000}};
    const Bytes expected{0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00,
                         0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2};
    EXPECT_EQ(MakePat(pat), expected);
    EXPECT_TRUE(SectionCrcValid(expected));
}

TEST(PsiSections, PatKeepsEntryOrderAndEncodesNetworkPid)
{
    PatParams pat;
    pat.transportStreamId = 0xABCD;
    pat.version = 7;
    pat.entries = {{0, 0x0010}, {2, 0x0101}, {0xFFFF, 0x1FFE}};
    const Bytes s = MakePat(pat);
    ASSERT_EQ(s.size(), 3u + 5u + 12u + 4u);
    EXPECT_EQ(SectionLengthField(s), 5 + 12 + 4);
    EXPECT_EQ(s[3], 0xAB);
    EXPECT_EQ(s[4], 0xCD);
    EXPECT_EQ(s[5], 0xC0 | (7 << 1) | 1);
    const Bytes entries(s.begin() + 8, s.begin() + 20);
    EXPECT_EQ(entries, (Bytes{0x00, 0x00, 0xE0, 0x10, 0x00, 0x02, 0xE1, 0x01, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_TRUE(SectionCrcValid(s));
}

TEST(PsiSections, PmtLaysOutProgramInfoAndStreamLoop)
{
    PmtParams pmt;
    pmt.programNumber = 0x0102;
    pmt.version = 3;
    pmt.pcrPid = 0x1011;
    pmt.programInfo = MakeRegistrationDescriptor("HDMV", Bytes{0xFF, 0x1B, 0x44, 0x3F});
    pmt.streams = {{0x1B, 0x1011, {}}, {0x81, 0x1100, MakeDescriptor(0x0A, Bytes{'e', 'n', 'g', 0})}};
    const Bytes s = MakePmt(pmt);

    const Bytes expected_head{0x02, 0xB0, 0x00, 0x01, 0x02, 0xC0 | (3 << 1) | 1, 0x00, 0x00,
                              0xF0, 0x11, 0xF0, 0x0A};
    ASSERT_EQ(s.size(), 12u + 10u + 5u + 5u + 6u + 4u);
    Bytes head(s.begin(), s.begin() + 12);
    head[2] = 0x00;  // length checked below
    EXPECT_EQ(head, expected_head);
    EXPECT_EQ(SectionLengthField(s), s.size() - 3);
    EXPECT_EQ(Bytes(s.begin() + 12, s.begin() + 22),
              (Bytes{0x05, 0x08, 'H', 'D', 'M', 'V', 0xFF, 0x1B, 0x44, 0x3F}));
    EXPECT_EQ(Bytes(s.begin() + 22, s.begin() + 27), (Bytes{0x1B, 0xF0, 0x11, 0xF0, 0x00}));
    EXPECT_EQ(Bytes(s.begin() + 27, s.begin() + 38),
              (Bytes{0x81, 0xF1, 0x00, 0xF0, 0x06, 0x0A, 0x04, 'e', 'n', 'g', 0x00}));
    EXPECT_TRUE(SectionCrcValid(s));
}

TEST(PsiSections, SitUsesTableId7FAndReservedBits)
{
    SitParams sit;
    sit.version = 1;
    sit.transmissionInfo = MakeDescriptor(0x63, Bytes{0xC0, 0x12, 0x34});
    sit.services = {{0x0101, 4, MakeDescriptor(0x48, Bytes{0x01})}, {0x0202, 0, {}}};
    const Bytes s = MakeSit(sit);
    ASSERT_EQ(s.size(), 3u + 5u + 2u + 5u + 4u + 3u + 4u + 4u);
    EXPECT_EQ(s[0], 0x7F);
    EXPECT_EQ(s[1] & 0xF0u, 0xF0u);  // section_syntax_indicator and three reserved ones
    EXPECT_EQ(SectionLengthField(s), s.size() - 3);
    EXPECT_EQ(Bytes(s.begin() + 3, s.begin() + 8), (Bytes{0xFF, 0xFF, 0xC3, 0x00, 0x00}));
    EXPECT_EQ(Bytes(s.begin() + 8, s.begin() + 15), (Bytes{0xF0, 0x05, 0x63, 0x03, 0xC0, 0x12, 0x34}));
    EXPECT_EQ(Bytes(s.begin() + 15, s.begin() + 22), (Bytes{0x01, 0x01, 0xC0, 0x03, 0x48, 0x01, 0x01}));
    EXPECT_EQ(Bytes(s.begin() + 22, s.begin() + 26), (Bytes{0x02, 0x02, 0x80, 0x00}));
    EXPECT_TRUE(SectionCrcValid(s));
}

TEST(PsiSections, DamageOptionsChangeOnlyWhatTheyName)
{
    PatParams pat;
    pat.entries = {{1, 0x100}};
    const Bytes good = MakePat(pat);

    SectionOptions badCrc;
    badCrc.badCrc = true;
    Bytes bad = MakePat(pat, badCrc);
    EXPECT_FALSE(SectionCrcValid(bad));
    EXPECT_EQ(Bytes(bad.begin(), bad.end() - 1), Bytes(good.begin(), good.end() - 1));

    SectionOptions longLength;
    longLength.sectionLength = 1025;
    const Bytes tooLong = MakePat(pat, longLength);
    EXPECT_EQ(tooLong.size(), good.size());
    EXPECT_EQ(SectionLengthField(tooLong), 1025);
    EXPECT_TRUE(SectionCrcValid(tooLong)) << "the CRC covers the bytes as written";

    SectionOptions otherTable;
    otherTable.tableId = 0xFF;
    EXPECT_EQ(MakePat(pat, otherTable)[0], 0xFF);

    Bytes corrupted = good;
    corrupted[9] ^= 0x01;
    EXPECT_FALSE(SectionCrcValid(corrupted));
    DamageCrc(bad);
    EXPECT_EQ(bad, good) << "damaging twice restores the section";
}

TEST(PsiSections, RejectsWhatTheSyntaxCannotExpress)
{
    EXPECT_THROW(MakeRegistrationDescriptor("HDM"), std::invalid_argument);
    EXPECT_THROW(MakeDescriptor(1, Bytes(256)), std::invalid_argument);
    LongSection huge;
    huge.body.resize(0x1000);
    EXPECT_THROW(MakeLongSection(huge), std::invalid_argument);
    EXPECT_FALSE(SectionCrcValid(Bytes{0x00, 0x01}));
}

}  // namespace
