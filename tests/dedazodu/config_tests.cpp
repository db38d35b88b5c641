#include <gtest/gtest.h>

#include <climits>

#include "dedazodu/Factories.h"
#include "dedazodu/Levels.h"
#include "dedazodu/LogSysInfo.h"
#include "log_test_support.h"
#include "platform/hresult_text.h"
#include "platform/xml.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

using SFilter = CLogSysInfo::COutputLogState::SFilter;

class Config : public ::testing::Test {
protected:
    // Reads a configuration from a real file holding body inside <LOG>.
    Common::CRef<CLogSysInfoFromXML> Read(const std::string& body)
    {
        const std::wstring path = m_dir.File(UniqueName(L"config") + L".xml");
        WriteFile(path, "<?xml version=\"1.0\"?>\r\n<LOG>\r\n" + body + "\r\n</LOG>\r\n");
        return Common::CRef<CLogSysInfoFromXML>::Attach(Common::New<CLogSysInfoFromXML>(path.c_str()));
    }

    static std::vector<SFilter> Filters(const Common::CRef<CLogSysInfoFromXML>& info)
    {
        return info->Info()->State()->Filters();
    }

    static Common::CRef<IOutputLogSystemFactory> Factory(const Common::CRef<CLogSysInfoFromXML>& info)
    {
        return Common::CRef<IOutputLogSystemFactory>::Attach(info->GetFactory());
    }

    static bool Passes(const Common::CRef<CLogSysInfoFromXML>& info, const wchar_t* subject, int level)
    {
        auto filter = Common::CRef<ILogFilter>::Attach(info->GetLogFilter());
        return filter->IsOutput(subject, level) == 0;
    }

    platform::CXmlThreadScope m_com;
    CTempDir m_dir;
};

}  // namespace

TEST_F(Config, MissingEmptyOrBrokenFilesKeepTheDefaults)
{
    const std::wstring broken = m_dir.File(L"broken.xml");
    WriteFile(broken, "<LOG><FILTERLIST><FILTER subject=\"Default\" minLevel=\"0\" maxLevel=\"4\"/></LOG>");
    for (const std::wstring& name : {std::wstring(), m_dir.File(L"missing.xml"), broken, m_dir.Path().wstring()}) {
        auto info = Common::CRef<CLogSysInfoFromXML>::Attach(Common::New<CLogSysInfoFromXML>(name.c_str()));
        EXPECT_NE(dynamic_cast<Null::COutputLogSystemFactory*>(Factory(info).Get()), nullptr);
        auto filter = Common::CRef<ILogFilter>::Attach(info->GetLogFilter());
        EXPECT_EQ(filter->HasFilter(), LOG_E_FAIL);
        EXPECT_EQ(filter->IsOutput(L"Default", 1), LOG_E_FAIL);
        EXPECT_EQ(filter->IsOutput(nullptr, 1), LOG_E_FAIL);  // empty list: an answer, not a throw
    }
}

TEST_F(Config, FiltersCountOnlyInsideFilterListsWithExactNames)
{
    auto info = Read(
        "<FILTER subject=\"Outside\" minLevel=\"0\" maxLevel=\"4\"/>\r\n"
        "<FILTERLIST>\r\n"
        "  <!-- comment --> text\r\n"
        "  <FILTER subject=\"Default\" minLevel=\"1\" maxLevel=\"4\"/>\r\n"
        "  <filter subject=\"Lower\" minLevel=\"0\" maxLevel=\"4\"/>\r\n"
        "  <FILTER Subject=\"WrongAttribute\" minLevel=\"0\" maxLevel=\"4\"/>\r\n"
        "  <FILTERLIST><FILTER subject=\"Nested\" minLevel=\"0\" maxLevel=\"4\"/></FILTERLIST>\r\n"
        "</FILTERLIST>\r\n"
        "<filterlist><FILTER subject=\"LowerList\" minLevel=\"0\" maxLevel=\"4\"/></filterlist>\r\n"
        "<FilterList><FILTER subject=\"MixedList\" minLevel=\"0\" maxLevel=\"4\"/></FilterList>\r\n"
        "<FILTERLIST><FILTER subject=\"Second\" minLevel=\"2\" maxLevel=\"2\"/></FILTERLIST>");
    EXPECT_EQ(Filters(info), (std::vector<SFilter> {{L"Default", 1, 4}, {L"", 0, 4}, {L"Second", 2, 2}}));
    EXPECT_FALSE(Passes(info, L"Default", 0));
    for (int level = 1; level <= 4; ++level) {
        EXPECT_TRUE(Passes(info, L"Default", level)) << level;
    }
    EXPECT_FALSE(Passes(info, L"Default", 5));
    EXPECT_FALSE(Passes(info, L"DEFAULT", 1));
    EXPECT_FALSE(Passes(info, L"Outside", 1));
    EXPECT_TRUE(Passes(info, L"Second", 2));
    // A null subject against a non-empty list is a programming error.
    auto filter = Common::CRef<ILogFilter>::Attach(info->GetLogFilter());
    EXPECT_THROW(filter->IsOutput(nullptr, 1), platform::HRESULT_CODE);
    EXPECT_EQ(filter->HasFilter(), 0);
}

TEST_F(Config, LevelsAreReadLikeWtoi)
{
    struct SCase {
        const char* text;
        int value;
    };
    const SCase cases[] = {{"3", 3},    {" 2", 2},     {"\t-1", -1}, {"+4", 4},          {"4x", 4},
                           {"abc", 0},  {"", 0},       {"- 1", 0},   {"99999999999", INT_MAX},
                           {"-99999999999", INT_MIN}, {"0x10", 0}, {"007", 7}};
    for (const SCase& c : cases) {
        EXPECT_EQ(ReadLevel(std::wstring(c.text, c.text + std::char_traits<char>::length(c.text))), c.value) << c.text;
    }
    auto info = Read("<FILTERLIST><FILTER subject=\"s\" minLevel=\" -2\" maxLevel=\"abc\"/><FILTER/></FILTERLIST>");
    EXPECT_EQ(Filters(info), (std::vector<SFilter> {{L"s", -2, 0}, {L"", 0, 0}}));
}

TEST_F(Config, LaterFiltersOverwriteOnlyWhenTheirUpperBoundFallsInAnEarlierRange)
{
    auto both = Read(
        "<FILTERLIST>"
        "<FILTER subject=\"Default\" minLevel=\"0\" maxLevel=\"1\"/>"
        "<FILTER subject=\"Default\" minLevel=\"3\" maxLevel=\"4\"/>"
        "</FILTERLIST>");
    EXPECT_EQ(Filters(both), (std::vector<SFilter> {{L"Default", 0, 1}, {L"Default", 3, 4}}));
    for (int level = 0; level <= 4; ++level) {
        EXPECT_EQ(Passes(both, L"Default", level), level != 2) << level;
    }

    auto replaced = Read(
        "<FILTERLIST>"
        "<FILTER subject=\"Default\" minLevel=\"0\" maxLevel=\"4\"/>"
        "<FILTER subject=\"Default\" minLevel=\"2\" maxLevel=\"3\"/>"
        "</FILTERLIST>");
    EXPECT_EQ(Filters(replaced), (std::vector<SFilter> {{L"Default", 2, 3}}));
    for (int level = 0; level <= 4; ++level) {
        EXPECT_EQ(Passes(replaced, L"Default", level), level == 2 || level == 3) << level;
    }

    // An inverted range never matches, and is itself never a match for overwriting.
    auto inverted = Read(
        "<FILTERLIST>"
        "<FILTER subject=\"Default\" minLevel=\"4\" maxLevel=\"1\"/>"
        "<FILTER subject=\"Default\" minLevel=\"1\" maxLevel=\"1\"/>"
        "</FILTERLIST>");
    EXPECT_EQ(Filters(inverted), (std::vector<SFilter> {{L"Default", 4, 1}, {L"Default", 1, 1}}));
    EXPECT_TRUE(Passes(inverted, L"Default", 1));
    EXPECT_FALSE(Passes(inverted, L"Default", 4));
}

TEST_F(Config, FactoryTable)
{
    struct SCase {
        const char* attributes;
        char kind;  // 'F' file, 'O' debugger output, 'N' null
        bool autoflush;
        const wchar_t* location;
    };
    const SCase cases[] = {
        {"name=\"IOutputLogSystemFactory\" class=\"deDazOdu::File::COutputLogSystemFactory\" autoflush=\"true\" "
         "location=\"desktop\"",
         'F', true, L"desktop"},
        {"name=\"IOutputLogSystemFactory\" class=\"deDazOdu::File::COutputLogSystemFactory\" autoflush=\"TRUE\"",
         'F', false, L""},
        {"name=\"IOutputLogSystemFactory\" class=\"deDazOdu::File::COutputLogSystemFactory\" autoflush=\"1\"", 'F',
         false, L""},
        {"name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Ods::COutputLogSystemFactory\"", 'O', false, nullptr},
        {"name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Null::COutputLogSystemFactory\"", 'N', false, nullptr},
        {"name=\"ioutputlogsystemfactory\" class=\"deDazOdu::File::COutputLogSystemFactory\"", 'N', false, nullptr},
        {"name=\"Other\" class=\"deDazOdu::File::COutputLogSystemFactory\"", 'N', false, nullptr},
        {"name=\"IOutputLogSystemFactory\" class=\"dedazodu::file::coutputlogsystemfactory\"", 'N', false, nullptr},
        {"", 'N', false, nullptr},
    };
    for (const SCase& c : cases) {
        auto info = Read(std::string("<FACTORY ") + c.attributes + "/>");
        const auto factory = Factory(info);
        if (c.kind == 'F') {
            auto* file = dynamic_cast<File::COutputLogSystemFactory*>(factory.Get());
            ASSERT_NE(file, nullptr) << c.attributes;
            EXPECT_EQ(file->Autoflush(), c.autoflush) << c.attributes;
            EXPECT_EQ(file->Location(), c.location) << c.attributes;
        } else if (c.kind == 'O') {
            EXPECT_NE(dynamic_cast<Ods::COutputLogSystemFactory*>(factory.Get()), nullptr) << c.attributes;
        } else {
            EXPECT_NE(dynamic_cast<Null::COutputLogSystemFactory*>(factory.Get()), nullptr) << c.attributes;
        }
    }
}

TEST_F(Config, LastFactoryWinsAndWrongCaseElementsAreIgnored)
{
    auto info = Read(
        "<FACTORY name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Ods::COutputLogSystemFactory\"/>"
        "<FACTORY name=\"IOutputLogSystemFactory\" class=\"deDazOdu::File::COutputLogSystemFactory\" location=\"x\"/>"
        "<factory name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Ods::COutputLogSystemFactory\"/>"
        "<Factory name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Ods::COutputLogSystemFactory\"/>");
    auto* file = dynamic_cast<File::COutputLogSystemFactory*>(Factory(info).Get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Location(), L"x");
}

TEST_F(Config, ReadOperationsAnswerAsDocumented)
{
    const std::wstring path = m_dir.File(L"ops.xml");
    WriteFile(path,
              "<LOG><FACTORY name=\"IOutputLogSystemFactory\" location=\"here\"/><FACTORY/><OTHER/>"
              "<FILTERLIST><FILTER subject=\"a\"/><NOTAFILTER/></FILTERLIST></LOG>");
    auto info = Common::CRef<CLogSysInfoFromXML>::Attach(Common::New<CLogSysInfoFromXML>(L""));
    platform::CXmlDocument document;
    ASSERT_TRUE(document.Load(path.c_str()));
    const std::vector<platform::CXmlNode> nodes = document.DocumentElement().Children();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(info->ReadFactory(nodes[0]), 0);  // the last lookup ("location") found its attribute
    EXPECT_EQ(info->ReadFactory(nodes[1]), 1);
    EXPECT_EQ(info->ReadElement(nodes[2]), 1);
    EXPECT_EQ(info->ReadFilter(nodes[3].Children()[1]), LOG_E_FAIL);
    EXPECT_EQ(info->ReadFilter(nodes[3].Children()[0]), 0);
    EXPECT_EQ(info->ReadFilterList(nodes[3]), 1);
    EXPECT_EQ(info->ReadElement(platform::CXmlNode()), LOG_E_FAIL);
}
