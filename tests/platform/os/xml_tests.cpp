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

namespace {

// The text of an element as a reader of the DOM takes it: its text and CDATA
// children joined.
std::wstring ElementText(const platform::CXmlNode& element)
{
    std::wstring text;
    for (const platform::CXmlNode& child : element.Children()) {
        if (child.Name() == L"#text" || child.Name() == L"#cdata-section") {
            text += child.Value();
        }
    }
    return text;
}

}  // namespace

TEST_F(SXmlFixture, DocumentsHeldInMemory)
{
    struct SRow {
        const char* what;
        std::string bytes;
        const wchar_t* text;  // the root's text; nullptr: the document is refused
    };
    const std::string utf16 = std::string("\xFF\xFE<\0r\0>\0\xE9\0\x20\x26<\0/\0r\0>\0", 20);
    const SRow rows[] = {
        {"plain", "<r>abc</r>", L"abc"},
        {"declared UTF-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><r>\xC3\xA9t\xC3\xA9</r>", L"\u00E9t\u00E9"},
        {"UTF-16 with its byte-order mark", utf16, L"\u00E9\u2620"},
        {"entities and a character reference", "<r>&lt;a&amp;b&gt; &quot;&apos; &#x263A;</r>", L"<a&b> \"' \u263A"},
        {"CDATA beside text", "<r>x<![CDATA[<y>]]>z</r>", L"x<y>z"},
        {"comment is no text", "<r>a<!--c-->b</r>", L"ab"},
        {"not closed", "<r>abc", nullptr},
        {"two roots", "<r/><s/>", nullptr},
        {"no element", "just text", nullptr},
        {"empty", "", nullptr},
    };
    for (const SRow& row : rows) {
        platform::CXmlDocument document;
        const bool loaded = document.LoadText(row.bytes);
        EXPECT_EQ(loaded, row.text != nullptr) << row.what;
        if (loaded && row.text != nullptr) {
            EXPECT_EQ(ElementText(document.DocumentElement()), row.text) << row.what;
        }
    }
    // An element's own value is empty; its text is its children's.
    platform::CXmlDocument document;
    ASSERT_TRUE(document.LoadText("<r><!--note-->t</r>"));
    EXPECT_EQ(document.DocumentElement().Value(), L"");
    EXPECT_EQ(document.DocumentElement().Children().at(0).Value(), L"note");
}

TEST_F(SXmlFixture, InMemoryDocumentsFetchNothing)
{
    // An external entity naming a file that exists: whether the reader
    // refuses the document or loads it, the file's text never appears.
    const std::wstring secret = m_dir.File(L"secret.txt");
    WriteFile(secret, "SECRET");
    std::string uri = "file://";
    for (wchar_t c : secret) {
        uri += c == L'\\' ? '/' : static_cast<char>(c);
    }
    const std::string text = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + uri +
                             "\">]><r>&x;</r>";
    platform::CXmlDocument document;
    if (document.LoadText(text)) {
        EXPECT_EQ(ElementText(document.DocumentElement()).find(L"SECRET"), std::wstring::npos);
    }
}

TEST_F(SXmlFixture, NamespacesAsDeclaredWhereTheElementIs)
{
    platform::CXmlDocument document;
    ASSERT_TRUE(document.LoadText("<a:root xmlns:a=\"urn:a\" xmlns=\"urn:default\">"
                                  "<plain/><a:prefixed/><inner xmlns=\"urn:inner\"><deep/></inner>"
                                  "<b:other xmlns:b=\"urn:b\"/><none xmlns=\"\"/></a:root>"));
    const platform::CXmlNode root = document.DocumentElement();
    EXPECT_EQ(root.NamespaceUri(), L"urn:a");
    std::vector<std::wstring> uris;
    for (const platform::CXmlNode& child : root.Children()) {
        uris.push_back(child.NamespaceUri());
        for (const platform::CXmlNode& grandchild : child.Children()) {
            uris.push_back(grandchild.NamespaceUri());
        }
    }
    EXPECT_EQ(uris, (std::vector<std::wstring>{L"urn:default", L"urn:a", L"urn:inner", L"urn:inner", L"urn:b", L""}));
    EXPECT_EQ(platform::CXmlNode().NamespaceUri(), L"");
}
