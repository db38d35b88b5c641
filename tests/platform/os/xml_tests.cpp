#include <gtest/gtest.h>

#include "os_test_support.h"
#include "platform/xml.h"

using namespace vsk_os_test;

namespace {

struct SXmlFixture : ::testing::Test {
    platform::CXmlThreadScope m_com;
    CTempDir m_dir;
};

}  // namespace

TEST_F(SXmlFixture, WalksChildrenInOrderAndReadsAttributes)
{
    const std::wstring path = m_dir.File(L"config.xml");
    WriteFile(path,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<root>\n"
              "  <!-- a comment -->\n"
              "  <FACTORY name=\"IOutputLogSystemFactory\" empty=\"\" autoflush=\"true\"/>\n"
              "  text between\n"
              "  <FILTERLIST><FILTER subject=\"Default\" minLevel=\" 1\" maxLevel=\"4\"/></FILTERLIST>\n"
              "  <filterlist/>\n"
              "</root>\n");
    platform::CXmlDocument document;
    ASSERT_TRUE(document.Load(path.c_str()));
    const platform::CXmlNode root = document.DocumentElement();
    ASSERT_TRUE(root.IsValid());
    EXPECT_TRUE(root.IsElement());
    EXPECT_EQ(root.Name(), L"root");

    std::vector<std::wstring> elements;
    std::vector<std::wstring> others;
    for (const platform::CXmlNode& child : root.Children()) {
        (child.IsElement() ? elements : others).push_back(child.Name());
    }
    EXPECT_EQ(elements, (std::vector<std::wstring> {L"FACTORY", L"FILTERLIST", L"filterlist"}));
    EXPECT_EQ(others, (std::vector<std::wstring> {L"#comment", L"#text"}));

    const platform::CXmlNode factory = root.Children()[1];
    std::wstring value = L"stale";
    EXPECT_TRUE(factory.Attribute(L"name", value));
    EXPECT_EQ(value, L"IOutputLogSystemFactory");
    EXPECT_TRUE(factory.Attribute(L"empty", value));
    EXPECT_EQ(value, L"");
    EXPECT_FALSE(factory.Attribute(L"NAME", value));  // names are case-sensitive
    EXPECT_FALSE(factory.Attribute(L"location", value));
    EXPECT_TRUE(value.empty());

    const platform::CXmlNode filter = root.Children()[3].Children().at(0);
    EXPECT_EQ(filter.Name(), L"FILTER");
    EXPECT_TRUE(filter.Attribute(L"minLevel", value));
    EXPECT_EQ(value, L" 1");
    // A text node has no attributes; a default node is invalid.
    EXPECT_FALSE(root.Children()[2].Attribute(L"name", value));
    EXPECT_FALSE(platform::CXmlNode().IsValid());
    EXPECT_TRUE(platform::CXmlNode().Children().empty());
}

TEST_F(SXmlFixture, UnreadableDocumentsFail)
{
    const std::wstring broken = m_dir.File(L"broken.xml");
    WriteFile(broken, "<root><FACTORY></root>");
    const std::wstring empty = m_dir.File(L"empty.xml");
    WriteFile(empty, "");
    platform::CXmlDocument document;
    EXPECT_FALSE(document.Load(broken.c_str()));
    EXPECT_FALSE(document.DocumentElement().IsValid());
    EXPECT_FALSE(document.Load(empty.c_str()));
    EXPECT_FALSE(document.Load(m_dir.File(L"missing.xml").c_str()));
    EXPECT_FALSE(document.Load(L""));
    EXPECT_FALSE(document.Load(m_dir.Path().wstring().c_str()));  // a directory
}

TEST_F(SXmlFixture, NodesOutliveTheirDocument)
{
    const std::wstring path = m_dir.File(L"small.xml");
    WriteFile(path, "<a><b x=\"1\"/></a>");
    platform::CXmlNode b;
    {
        platform::CXmlDocument document;
        ASSERT_TRUE(document.Load(path.c_str()));
        b = document.DocumentElement().Children().at(0);
    }
    std::wstring value;
    EXPECT_TRUE(b.Attribute(L"x", value));
    EXPECT_EQ(value, L"1");
}
