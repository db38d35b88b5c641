#include "PmapSection.h"

#include "SectionTestSupport.h"

#include "vsktest/PsiSections.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace parser {
namespace {

using sectiontest::AppendAndParse;
using sectiontest::Concat;
using vsktest::MakeDescriptor;
using vsktest::MakePmt;
using vsktest::MakeRegistrationDescriptor;
using vsktest::PmtParams;
using vsktest::PmtStream;
using Bytes = std::vector<std::uint8_t>;

Bytes Registration(const char* id, std::size_t additional = 0)
{
    return MakeRegistrationDescriptor(id, Bytes(additional, 0x00));
}

// The descriptor layout that marks the MTRM family: a ten-byte registration
// body followed by a tag 0x0E descriptor whose fourth body byte is 0x88,
// padded by a further descriptor so more than 22 bytes follow the tag.
Bytes MtrmDescriptors(std::uint8_t tag12 = 0x0E, std::uint8_t byte17 = 0x88, std::size_t padding = 5)
{
    Bytes d = Registration("MTRM", 6);
    const Bytes next = MakeDescriptor(tag12, Bytes{0x01, 0x02, 0x03, byte17});
    d.insert(d.end(), next.begin(), next.end());
    if (padding >= 2) {
        const Bytes pad = MakeDescriptor(0x48, Bytes(padding - 2, 0x20));
        d.insert(d.end(), pad.begin(), pad.end());
    }
    return d;
}

class PmtTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(m_pmt.Prepare(PMT_CAPACITY), RESULT_OK); }

    std::vector<std::uint8_t> KeptTypes() const
    {
        std::vector<std::uint8_t> types;
        for (const SPmtStream& s : m_pmt.Streams())
            types.push_back(s.streamType);
        return types;
    }

    CPmapSection m_pmt;
};

TEST_F(PmtTest, ProgramFieldsAndDescriptorsAreCopied)
{
    PmtParams p;
    p.programNumber = 0x0203;
    p.version = 30;
    p.pcrPid = 0x1ABC;
    p.programInfo = MakeDescriptor(0x09, Bytes{1, 2, 3, 4});
    p.streams = {{0x02, 0x0100, MakeDescriptor(0x52, Bytes{0x11})},
                 {0x0F, 0x0101, MakeDescriptor(0x0A, Bytes{'j', 'p', 'n', 0})},
                 {0x81, 0x0102, {}},
                 {0x1B, 0x1FFE, Concat({MakeDescriptor(0x28, Bytes{1, 2, 3, 4}), MakeDescriptor(0x2A, Bytes{5})})}};
    ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(p)), RESULT_OK);

    EXPECT_EQ(m_pmt.ProgramNumber(), 0x0203u);
    EXPECT_EQ(m_pmt.Version(), 30u);
    EXPECT_EQ(m_pmt.PcrPid(), 0x1ABCu);
    EXPECT_EQ(m_pmt.ProgramInfoLength(), 6u);
    EXPECT_EQ(Bytes(m_pmt.ProgramDescriptors().begin(), m_pmt.ProgramDescriptors().end()), p.programInfo);
    EXPECT_EQ(m_pmt.System(), SystemNone);

    // The 0x0F stream is dropped together with its descriptors.
    ASSERT_EQ(m_pmt.StreamCount(), 3u);
    const std::size_t kept[] = {0, 2, 3};
    for (std::uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const PmtStream& expected = p.streams[kept[i]];
        EXPECT_EQ(m_pmt.StreamType(i), expected.streamType);
        EXPECT_EQ(m_pmt.ElementaryPid(i), expected.pid);
        EXPECT_EQ(m_pmt.EsInfoLength(i), expected.esInfo.size());
        EXPECT_EQ(Bytes(m_pmt.EsDescriptors(i).begin(), m_pmt.EsDescriptors(i).end()), expected.esInfo);
    }
    EXPECT_EQ(m_pmt.StreamType(3), 0u);
    EXPECT_TRUE(m_pmt.EsDescriptors(3).empty());
}

TEST_F(PmtTest, RegistrationDecidesWhichPrivateStreamTypesAreKept)
{
    struct Case {
        const char* name;
        Bytes programInfo;
        std::uint32_t system;
        std::vector<std::uint8_t> kept;
    };
    // Offered in every case; the common types come first.
    const std::vector<std::uint8_t> offered = {0x01, 0x02, 0x03, 0x04, 0x1B, 0x81, 0x82, 0xB0, 0xB1, 0x06,
                                               0x0F, 0x11, 0x80, 0x90, 0x91, 0x92, 0xA0, 0xA1, 0xA2, 0x24};
    const std::vector<std::uint8_t> common = {0x01, 0x02, 0x03, 0x04, 0x1B, 0x81, 0x82, 0xB0, 0xB1};
    auto with = [&](std::vector<std::uint8_t> extra) {
        std::vector<std::uint8_t> kept;
        for (std::uint8_t t : offered) {
            bool isCommon = false;
            for (std::uint8_t c : common)
                isCommon = isCommon || c == t;
            bool isExtra = false;
            for (std::uint8_t e : extra)
                isExtra = isExtra || e == t;
            if (isCommon || isExtra)
                kept.push_back(t);
        }
        return kept;
    };
    const Case cases[] = {
        {"none", {}, SystemNone, with({})},
        {"TSMV", Registration("TSMV"), SystemTSMV, with({0xA0})},
        {"MTRM", MtrmDescriptors(), SystemMTRM, with({})},
        {"TSHV", Registration("TSHV", 7), SystemTSHV, with({0xA0, 0xA1})},
        {"SESF", Registration("SESF"), SystemSESF, with({0x06, 0x80})},
        {"HDMV", Registration("HDMV"), SystemHDMV, with({0x90, 0x91})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PmtParams p;
        p.programInfo = c.programInfo;
        std::uint16_t pid = 0x100;
        for (std::uint8_t t : offered)
            p.streams.push_back({t, pid++, {}});
        ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(p)), RESULT_OK);
        EXPECT_EQ(m_pmt.System(), c.system);
        EXPECT_EQ(KeptTypes(), c.kept);
    }
}

TEST_F(PmtTest, NoRegistrationKeepsOnlyTheVideoStream)
{
    PmtParams p;
    p.streams = {{0x02, 0x100, {}}, {0x06, 0x101, {}}, {0x0F, 0x102, {}}};
    ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(p)), RESULT_OK);
    EXPECT_EQ(m_pmt.StreamCount(), 1u);
    EXPECT_EQ(m_pmt.ElementaryPid(0), 0x100u);

    p.programInfo = Registration("HDMV");
    p.streams.push_back({0x90, 0x103, {}});
    ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(p)), RESULT_OK);
    EXPECT_EQ(m_pmt.System(), SystemHDMV);
    EXPECT_EQ(KeptTypes(), (std::vector<std::uint8_t>{0x02, 0x90}));
}

TEST(RegistrationTest, ClassifiesByIdentifierAndLayout)
{
    const Bytes maxBitrate = MakeDescriptor(0x0E, Bytes{0xC0, 0x12, 0x34});
    const Bytes copyControl = MakeDescriptor(0x88, Bytes{0x01, 0x02});
    struct Case {
        const char* name;
        Bytes descriptors;
        std::uint32_t system;
    };
    const Case cases[] = {
        {"empty", {}, SystemNone},
        {"TSMV bare", Registration("TSMV"), SystemTSMV},
        {"TSMV with more", Registration("TSMV", 8), SystemTSMV},
        {"HDMV", Registration("HDMV"), SystemHDMV},
        {"HDMV length 5", Registration("HDMV", 1), SystemNone},
        {"SESF", Registration("SESF"), SystemSESF},
        {"SESF length 6", Registration("SESF", 2), SystemNone},
        {"TSHV length 11", Registration("TSHV", 7), SystemTSHV},
        {"TSHV length 10", Registration("TSHV", 6), SystemNone},
        {"TSHV length 12", Registration("TSHV", 8), SystemNone},
        {"MTRM", MtrmDescriptors(), SystemMTRM},
        {"MTRM byte 12 not 0x0E", MtrmDescriptors(0x0F), SystemNone},
        {"MTRM byte 17 not 0x88", MtrmDescriptors(0x0E, 0x87), SystemNone},
        {"MTRM exactly 22 bytes", MtrmDescriptors(0x0E, 0x88, 4), SystemNone},
        {"MTRM 23 bytes", MtrmDescriptors(0x0E, 0x88, 5), SystemMTRM},
        {"MTRM length 9", Concat({Registration("MTRM", 5), Bytes(12, 0x0E)}), SystemNone},
        {"identifier is case sensitive", Registration("hdmv"), SystemNone},
        {"other identifier", Registration("CUEI"), SystemNone},
        {"walked past other descriptors", Concat({maxBitrate, copyControl, Registration("HDMV")}), SystemHDMV},
        {"past a non-matching registration", Concat({Registration("CUEI"), Registration("SESF")}), SystemSESF},
        {"past a registration of the wrong length", Concat({Registration("HDMV", 2), Registration("TSMV")}),
         SystemTSMV},
        {"first match wins", Concat({Registration("HDMV"), Registration("SESF")}), SystemHDMV},
        {"MTRM after another descriptor", Concat({copyControl, MtrmDescriptors()}), SystemMTRM},
        {"registration too short for an identifier", Bytes{0x05, 0x02, 'H', 'D', 0x05, 0x04, 'H', 'D', 'M', 'V'},
         SystemHDMV},
        {"registration running past the end", Bytes{0x05, 0x04, 'H', 'D', 'M'}, SystemNone},
        {"descriptor running past the end hides what follows", Bytes{0x0E, 0x20, 0x05, 0x04, 'H', 'D', 'M', 'V'},
         SystemNone},
        {"lone tag byte", Bytes{0x05}, SystemNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An exact-size copy, so a read past the end is caught by the sanitizers.
        const Bytes exact(c.descriptors);
        EXPECT_EQ(CMediaCoreDecSysRegDesc::Classify(exact.data(), exact.size()), c.system);
    }
    EXPECT_EQ(CMediaCoreDecSysRegDesc::Classify(nullptr, 10), SystemNone);

    // The length given is the limit, whatever lies in memory behind it.
    const Bytes hdmv = Registration("HDMV");
    EXPECT_EQ(CMediaCoreDecSysRegDesc::Classify(hdmv.data(), hdmv.size()), SystemHDMV);
    EXPECT_EQ(CMediaCoreDecSysRegDesc::Classify(hdmv.data(), hdmv.size() - 1), SystemNone);
    const Bytes mtrm = MtrmDescriptors(0x0E, 0x88, 5);
    EXPECT_EQ(CMediaCoreDecSysRegDesc::Classify(mtrm.data(), 22), SystemNone);
}

// Program part of a hand-made PMT body: PCR_PID 0x100 and program_info_length.
Bytes ProgramPart(std::uint16_t programInfoLength, const Bytes& programInfo = {})
{
    Bytes b{0xE1, 0x00, static_cast<std::uint8_t>(0xF0 | (programInfoLength >> 8)),
            static_cast<std::uint8_t>(programInfoLength)};
    b.insert(b.end(), programInfo.begin(), programInfo.end());
    return b;
}

Bytes StreamEntry(std::uint8_t type, std::uint16_t pid, std::uint16_t esInfoLength, const Bytes& descriptors = {})
{
    Bytes b{type, static_cast<std::uint8_t>(0xE0 | (pid >> 8)), static_cast<std::uint8_t>(pid),
            static_cast<std::uint8_t>(0xF0 | (esInfoLength >> 8)), static_cast<std::uint8_t>(esInfoLength)};
    b.insert(b.end(), descriptors.begin(), descriptors.end());
    return b;
}

TEST_F(PmtTest, AnEntryOverrunningTheStreamLoopEndsItAndTheProgramInfoMustFit)
{
    // The entries before an overrunning one are kept and the map stands; a
    // program_info_length that overruns refuses the section.
    struct Case {
        const char* name;
        Bytes body;
        Result result;
        std::vector<std::uint16_t> kept;  // elementary PIDs
    };
    const Bytes info = MakeDescriptor(0x09, Bytes{1, 2, 3, 4});
    const Bytes language = MakeDescriptor(0x0A, Bytes{'j', 'p', 'n', 0});
    const Case cases[] = {
        {"no streams", ProgramPart(0), RESULT_OK, {}},
        {"exact fit", Concat({ProgramPart(6, info), StreamEntry(0x02, 0x101, 3, Bytes{0x52, 0x01, 0x07})}),
         RESULT_OK, {0x101}},
        {"program_info_length past the section", Concat({ProgramPart(7, info)}), ResultSectionMalformed, {}},
        {"program_info_length past the section behind streams",
         Concat({ProgramPart(12, info), StreamEntry(0x02, 0x101, 0)}), ResultSectionMalformed, {}},
        {"ES_info_length past the section", Concat({ProgramPart(0), StreamEntry(0x02, 0x101, 4, Bytes{0x52, 0x01, 0x07})}),
         RESULT_OK, {}},
        // Within the section as a whole, but reaching into the CRC field.
        {"ES_info_length past the loop",
         Concat({ProgramPart(0), StreamEntry(0x02, 0x101, 0), StreamEntry(0x1B, 0x102, 6, language),
                 StreamEntry(0x03, 0x103, 4)}),
         RESULT_OK, {0x101, 0x102}},
        // 12 descriptor bytes where 11 are left: the entry after is lost too.
        {"an overrunning entry takes those behind it along",
         Concat({ProgramPart(0), StreamEntry(0x02, 0x101, 0), StreamEntry(0x04, 0x102, 12), language,
                 StreamEntry(0x03, 0x103, 0)}),
         RESULT_OK, {0x101}},
        {"dropped stream overrunning", Concat({ProgramPart(0), StreamEntry(0x0F, 0x101, 1)}), RESULT_OK, {}},
        {"loop leaves four bytes", Concat({ProgramPart(0), StreamEntry(0x02, 0x101, 0), Bytes{0x02, 0xE1, 0x02, 0xF0}}),
         RESULT_OK, {0x101}},
        {"loop leaves one byte", Concat({ProgramPart(0), Bytes{0x02}}), RESULT_OK, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A map with one stream first, so a refused section shows by leaving it.
        PmtParams before;
        before.streams = {{0x02, 0x1FF, {}}};
        ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(before)), RESULT_OK);
        EXPECT_EQ(AppendAndParse(m_pmt, sectiontest::HandMadeSection(vsktest::TABLE_ID_PMT, 1, c.body)), c.result);
        EXPECT_EQ(m_pmt.Used(), 0u);
        std::vector<std::uint16_t> pids;
        for (const SPmtStream& s : m_pmt.Streams())
            pids.push_back(s.elementaryPid);
        EXPECT_EQ(pids, c.result == RESULT_OK ? c.kept : std::vector<std::uint16_t>{0x1FF});
    }
    // The descriptors of the kept entries are whole.
    ASSERT_EQ(AppendAndParse(m_pmt, sectiontest::HandMadeSection(vsktest::TABLE_ID_PMT, 1, cases[5].body)), RESULT_OK);
    EXPECT_EQ(Bytes(m_pmt.EsDescriptors(1).begin(), m_pmt.EsDescriptors(1).end()), language);
}

TEST_F(PmtTest, SectionLengthLimitsAndTableId)
{
    PmtParams p;
    const auto shortest = MakePmt(p);
    ASSERT_EQ(shortest.size(), 16u);
    ASSERT_EQ(AppendAndParse(m_pmt, shortest), RESULT_OK);
    EXPECT_EQ(m_pmt.StreamCount(), 0u);
    EXPECT_EQ(m_pmt.ProgramInfoLength(), 0u);

    for (const std::uint16_t length : {std::uint16_t{12}, std::uint16_t{1025}, std::uint16_t{0xFFF}}) {
        SCOPED_TRACE(length);
        vsktest::SectionOptions o;
        o.sectionLength = length;
        EXPECT_EQ(AppendAndParse(m_pmt, MakePmt(p, o)), ResultSectionMalformed);
    }
    vsktest::SectionOptions o;
    o.tableId = 0x00;
    EXPECT_EQ(AppendAndParse(m_pmt, MakePmt(p, o)), ResultWrongTableId);
}

TEST_F(PmtTest, FailedParseLeavesThePublishedMapAlone)
{
    PmtParams p;
    p.programInfo = Registration("HDMV");
    p.pcrPid = 0x1011;
    p.streams = {{0x1B, 0x1011, MakeDescriptor(0x28, Bytes{1, 2, 3, 4})}, {0x90, 0x1200, {}}};
    ASSERT_EQ(AppendAndParse(m_pmt, MakePmt(p)), RESULT_OK);

    PmtParams q;
    q.programNumber = 9;
    q.streams = {{0x02, 0x300, {}}};
    vsktest::SectionOptions bad;
    bad.badCrc = true;
    EXPECT_EQ(AppendAndParse(m_pmt, MakePmt(q, bad)), ResultCrcMismatch);
    EXPECT_EQ(AppendAndParse(m_pmt, sectiontest::HandMadeSection(vsktest::TABLE_ID_PMT, 9, ProgramPart(1))),
              ResultSectionMalformed);

    EXPECT_EQ(m_pmt.ProgramNumber(), 1u);
    EXPECT_EQ(m_pmt.PcrPid(), 0x1011u);
    EXPECT_EQ(m_pmt.System(), SystemHDMV);
    ASSERT_EQ(m_pmt.StreamCount(), 2u);
    EXPECT_EQ(Bytes(m_pmt.EsDescriptors(0).begin(), m_pmt.EsDescriptors(0).end()), p.streams[0].esInfo);
    EXPECT_EQ(m_pmt.ElementaryPid(1), 0x1200u);
}

TEST_F(PmtTest, LargestSectionWithManyStreams)
{
    // 202 five-byte entries and a six-byte program descriptor: section_length 1,029
    // would be too long, so drop to 201 entries (1,024).
    PmtParams p;
    p.programInfo = MakeDescriptor(0x09, Bytes{1, 2, 3, 4});
    for (std::uint16_t i = 0; i < 201; ++i)
        p.streams.push_back({static_cast<std::uint8_t>(i % 2 == 0 ? 0x02 : 0x0F), static_cast<std::uint16_t>(0x100 + i), {}});
    const auto section = MakePmt(p);
    ASSERT_EQ(section.size(), 1024u + 3u);
    ASSERT_EQ(AppendAndParse(m_pmt, section), RESULT_OK);
    EXPECT_EQ(m_pmt.StreamCount(), 101u);
    EXPECT_EQ(m_pmt.ElementaryPid(100), 0x100u + 200u);
}

}  // namespace
}  // namespace parser
