#include "SISection.h"

#include "SectionTestSupport.h"

#include "vsktest/PsiSections.h"

#include <gtest/gtest.h>

#include <vector>

namespace parser {
namespace {

using sectiontest::AppendAndParse;
using sectiontest::Concat;
using vsktest::MakeDescriptor;
using vsktest::MakeSit;
using vsktest::SitParams;
using Bytes = std::vector<std::uint8_t>;

class SitTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(m_sit.Prepare(SIT_CAPACITY), RESULT_OK); }

    CSISection m_sit;
};

TEST_F(SitTest, ServicesAndDescriptors)
{
    SitParams p;
    p.version = 5;
    p.transmissionInfo = Concat({MakeDescriptor(0x63, Bytes{0xC0, 0x12, 0x34}), MakeDescriptor(0xC2, Bytes{1, 2})});
    p.services = {{0x0400, 4, MakeDescriptor(0x48, Bytes{0x01, 0x00, 0x02, 'N', 'H'})},
                  {0x0401, 1, {}},
                  {0xFFFF, 7, Concat({MakeDescriptor(0x4D, Bytes{'j', 'p', 'n'}), MakeDescriptor(0xC4, Bytes{})})}};
    ASSERT_EQ(AppendAndParse(m_sit, MakeSit(p)), RESULT_OK);

    EXPECT_EQ(m_sit.Version(), 5u);
    EXPECT_EQ(m_sit.CurrentNext(), 1u);
    EXPECT_EQ(m_sit.TransmissionInfoLoopLength(), p.transmissionInfo.size());
    EXPECT_EQ(Bytes(m_sit.TransmissionInfo().begin(), m_sit.TransmissionInfo().end()), p.transmissionInfo);
    ASSERT_EQ(m_sit.ServiceCount(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m_sit.ServiceId(i), p.services[i].serviceId);
        EXPECT_EQ(m_sit.RunningStatus(i), p.services[i].runningStatus);
        EXPECT_EQ(m_sit.ServiceLoopLength(i), p.services[i].descriptors.size());
        EXPECT_EQ(Bytes(m_sit.ServiceDescriptors(i).begin(), m_sit.ServiceDescriptors(i).end()),
                  p.services[i].descriptors);
    }
    EXPECT_EQ(m_sit.ServiceId(3), 0u);
    EXPECT_TRUE(m_sit.ServiceDescriptors(3).empty());
}

// Body of a hand-made SIT: reserved bits and transmission_info_loop_length.
Bytes InfoPart(std::uint16_t length, const Bytes& descriptors = {})
{
    Bytes b{static_cast<std::uint8_t>(0xF0 | (length >> 8)), static_cast<std::uint8_t>(length)};
    b.insert(b.end(), descriptors.begin(), descriptors.end());
    return b;
}

Bytes Service(std::uint16_t id, std::uint16_t loopLength, const Bytes& descriptors = {})
{
    Bytes b{static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
            static_cast<std::uint8_t>(0x80 | 0x40 | (loopLength >> 8)), static_cast<std::uint8_t>(loopLength)};
    b.insert(b.end(), descriptors.begin(), descriptors.end());
    return b;
}

TEST_F(SitTest, LengthsThatDoNotFitAreMalformed)
{
    struct Case {
        const char* name;
        Bytes body;
        Result result;
    };
    const Case cases[] = {
        {"empty loops", InfoPart(0), RESULT_OK},
        {"exact fit", Concat({InfoPart(2, Bytes{0x63, 0x00}), Service(1, 2, Bytes{0x48, 0x00})}), RESULT_OK},
        {"transmission info past the section", InfoPart(3, Bytes{0x63, 0x00}), ResultSectionMalformed},
        {"service loop past the section", Concat({InfoPart(0), Service(1, 3, Bytes{0x48, 0x00})}),
         ResultSectionMalformed},
        {"service loop reaching into the CRC field", Concat({InfoPart(0), Service(1, 0), Service(2, 4)}),
         ResultSectionMalformed},
        {"loop leaves three bytes", Concat({InfoPart(0), Service(1, 0), Bytes{0, 2, 0xC0}}),
         ResultSectionMalformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AppendAndParse(m_sit, sectiontest::HandMadeSection(vsktest::TABLE_ID_SIT, 0xFFFF, c.body)),
                  c.result);
        EXPECT_EQ(m_sit.Used(), 0u);
    }
}

TEST_F(SitTest, SectionLengthLimitsTableIdAndCrc)
{
    SitParams p;
    const auto shortest = MakeSit(p);
    ASSERT_EQ(shortest.size(), 14u);
    ASSERT_EQ(AppendAndParse(m_sit, shortest), RESULT_OK);
    EXPECT_EQ(m_sit.ServiceCount(), 0u);

    vsktest::SectionOptions o;
    o.sectionLength = 10;
    EXPECT_EQ(AppendAndParse(m_sit, MakeSit(p, o)), ResultSectionMalformed);
    o = {};
    o.tableId = 0x00;
    EXPECT_EQ(AppendAndParse(m_sit, MakeSit(p, o)), ResultWrongTableId);
    o = {};
    o.badCrc = true;
    EXPECT_EQ(AppendAndParse(m_sit, MakeSit(p, o)), ResultCrcMismatch);
    EXPECT_TRUE(m_sit.AwaitingSection());
}

TEST_F(SitTest, SectionFarLongerThanItsInitialCapacity)
{
    // About 4,000 bytes: a recorder's SIT with many event descriptors.
    SitParams p;
    for (std::uint16_t i = 0; i < 20; ++i)
        p.services.push_back({static_cast<std::uint16_t>(0x100 + i), 4, MakeDescriptor(0x4D, Bytes(190, static_cast<std::uint8_t>(i)))});
    const auto section = MakeSit(p);
    ASSERT_GT(section.size(), 3900u);
    ASSERT_EQ(AppendAndParse(m_sit, section), RESULT_OK);
    ASSERT_EQ(m_sit.ServiceCount(), 20u);
    EXPECT_EQ(m_sit.ServiceDescriptors(19)[2], 19u);
    EXPECT_EQ(m_sit.ServiceDescriptors(19).size(), 192u);
}

}  // namespace
}  // namespace parser
