// ContentDirectory and ConnectionManager as a control point reaches them:
// SOAP requests written here by hand, answers read back with the XML reader
// of the platform layer and checked against the folder the test made.
#include "ConnectionManager.h"
#include "ContentDirectory.h"
#include "Didl.h"
#include "HttpRules.h"
#include "Soap.h"
#include "Utf8.h"
#include "library_fixture.h"
#include "platform/xml.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace librarytest;
using namespace mediahost::server;
using mediahost::FromUtf8;
using mediahost::ToUtf8;
using soap::ElementChildren;
using soap::TextOf;

constexpr const char* CD = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr const char* CM = "urn:schemas-upnp-org:service:ConnectionManager:1";

std::string Envelope(const std::string& service, const std::string& action, const std::string& arguments)
{
    return "<?xml version=\"1.0\"?>\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
           action + " xmlns:u=\"" + service + "\">" + arguments + "</u:" + action + "></s:Body></s:Envelope>";
}

SRequest Post(const std::string& body, const char* soapAction)
{
    SRequest request;
    request.method = "POST";
    request.body = body;
    request.host = "192.0.2.7:8280";
    if (soapAction != nullptr)
        request.headers.emplace_back("SOAPAction", soapAction);
    return request;
}

// Local name of an element.
std::string Local(const platform::CXmlNode& node)
{
    const std::string name = ToUtf8(node.Name());
    return name.substr(name.find(':') + 1);
}

std::string Attr(const platform::CXmlNode& node, const wchar_t* name)
{
    std::wstring value;
    return node.Attribute(name, value) ? ToUtf8(value) : std::string("(none)");
}

// An answer read: the fault code (0 for none) and the out arguments.
struct SRead {
    bool xml = false;
    int fault = 0;
    std::vector<std::pair<std::string, std::string>> out;
    std::string Get(const std::string& name) const
    {
        for (const auto& [key, value] : out)
            if (key == name)
                return value;
        return "(absent)";
    }
};

SRead ReadAnswer(const SAnswer& answer)
{
    SRead read;
    platform::CXmlDocument document;
    if (!document.LoadText(answer.body))
        return read;
    read.xml = true;
    const std::vector<platform::CXmlNode> body = ElementChildren(ElementChildren(document.DocumentElement()).at(0));
    const platform::CXmlNode action = body.at(0);
    if (Local(action) == "Fault") {
        for (const platform::CXmlNode& part : ElementChildren(action))
            if (Local(part) == "detail")
                for (const platform::CXmlNode& field : ElementChildren(ElementChildren(part).at(0)))
                    if (Local(field) == "errorCode")
                        read.fault = std::stoi(TextOf(field));
        return read;
    }
    for (const platform::CXmlNode& argument : ElementChildren(action))
        read.out.emplace_back(Local(argument), TextOf(argument));
    return read;
}

struct SDirectoryFixture : ::testing::Test {
    platform::CXmlThreadScope m_com;
    vsktest::CTempDir m_root;
    fs::path m_folder = m_root / "served";
    SCountingDescriber m_describer;
    std::unique_ptr<CLibrary> m_library;

    void Make()
    {
        SLibraryOptions options;
        options.folder = m_folder;
        options.served = [folder = m_folder](const fs::path& entry) { return Served(folder, entry); };
        options.describe = [this](const fs::path& path) { return m_describer(path); };
        options.rescanInterval = std::chrono::milliseconds(0);
        m_library = std::make_unique<CLibrary>(options);
        m_library->Start();
        m_library->WaitUntilDescribed();
    }

    SRead Browse(const std::string& id, const std::string& flag, const std::string& start = "0",
                 const std::string& count = "0")
    {
        const std::string arguments = "<ObjectID>" + id + "</ObjectID><BrowseFlag>" + flag +
                                      "</BrowseFlag><Filter>*</Filter><StartingIndex>" + start +
                                      "</StartingIndex><RequestedCount>" + count +
                                      "</RequestedCount><SortCriteria></SortCriteria>";
        const std::string action = std::string("\"") + CD + "#Browse\"";
        return ReadAnswer(CContentDirectory(*m_library).Handle(Post(Envelope(CD, "Browse", arguments), action.c_str())));
    }
};

TEST_F(SDirectoryFixture, ControlRequestsAreReadOrRefused)
{
    Write(m_folder / "a.ts", 10);
    Make();
    const CContentDirectory directory(*m_library);
    const CConnectionManager manager("http-get:*:video/mpeg:*");
    const std::string browse = std::string(CD) + "#Browse";
    const std::string info = std::string(CM) + "#GetCurrentConnectionInfo";
    auto browseArgs = [](const std::string& start, const std::string& count, const std::string& id = "0",
                         const std::string& flag = "BrowseDirectChildren") {
        return Envelope(CD, "Browse",
                        "<ObjectID>" + id + "</ObjectID><BrowseFlag>" + flag +
                            "</BrowseFlag><Filter>*</Filter><StartingIndex>" + start +
                            "</StartingIndex><RequestedCount>" + count + "</RequestedCount><SortCriteria/>");
    };
    auto infoArgs = [](const std::string& id) {
        return Envelope(CM, "GetCurrentConnectionInfo", "<ConnectionID>" + id + "</ConnectionID>");
    };
    struct SRow {
        const char* what;
        bool toDirectory;
        std::string body;
        std::string soapAction;  // "-": no header
        unsigned status;
        int fault;
    };
    const SRow rows[] = {
        {"browse", true, browseArgs("0", "0"), "\"" + browse + "\"", 200, 0},
        {"header without quotes", true, browseArgs("0", "0"), browse, 200, 0},
        {"arguments in another order, one more", true,
         Envelope(CD, "Browse", "<RequestedCount>5</RequestedCount><Extra>1</Extra><StartingIndex>0</StartingIndex>"
                                "<BrowseFlag>BrowseMetadata</BrowseFlag><ObjectID>0</ObjectID>"),
         browse, 200, 0},
        {"an id as a character reference", true, browseArgs("0", "0", "&#48;"), browse, 200, 0},
        {"the largest ui4", true, browseArgs("4294967295", "4294967295"), browse, 200, 0},
        {"blanks around a number", true, browseArgs(" 1\n", "\t2 "), browse, 200, 0},
        {"StartingIndex past ui4", true, browseArgs("4294967296", "0"), browse, 500, 402},
        {"a huge count", true, browseArgs("0", "99999999999999999999999999"), browse, 500, 402},
        {"a negative count", true, browseArgs("0", "-1"), browse, 500, 402},
        {"a signed count", true, browseArgs("0", "+1"), browse, 500, 402},
        {"an empty index", true, browseArgs("", "0"), browse, 500, 402},
        {"no such browse flag", true, browseArgs("0", "0", "0", "BrowseEverything"), browse, 500, 402},
        {"no such object", true, browseArgs("0", "0", "ffffffffffffffff"), browse, 500, 701},
        {"a missing argument", true,
         Envelope(CD, "Browse", "<ObjectID>0</ObjectID><BrowseFlag>BrowseMetadata</BrowseFlag>"), browse, 500, 402},
        {"header names another action", true, browseArgs("0", "0"), std::string(CD) + "#GetSystemUpdateID", 500, 401},
        {"header names another service", true, browseArgs("0", "0"), std::string(CM) + "#Browse", 500, 401},
        {"no header", true, browseArgs("0", "0"), "-", 500, 401},
        {"an action the service lacks", true, Envelope(CD, "Search", ""), std::string(CD) + "#Search", 500, 401},
        {"the other service's action", false, browseArgs("0", "0"), browse, 500, 401},
        {"connection 0", false, infoArgs("0"), info, 200, 0},
        {"connection 1", false, infoArgs("1"), info, 500, 706},
        {"connection -1", false, infoArgs("-1"), info, 500, 706},
        {"connection beyond i4", false, infoArgs("2147483648"), info, 500, 402},
        {"connection as a word", false, infoArgs("zero"), info, 500, 402},
        {"not XML", true, "Browse me", browse, 400, 0},
        {"not closed", true, browseArgs("0", "0").substr(0, 120), browse, 400, 0},
        {"no SOAP envelope", true, "<Envelope><Body><u:Browse xmlns:u=\"" + std::string(CD) + "\"/></Body></Envelope>",
         browse, 400, 0},
        {"two actions in the body", true,
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><u:Browse xmlns:u=\"" +
             std::string(CD) + "\"/><u:Browse xmlns:u=\"" + CD + "\"/></s:Body></s:Envelope>",
         browse, 400, 0},
        {"a document type", true,
         "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY a \"aaaaaaaaaa\">]>" + browseArgs("0", "0").substr(22), browse,
         400, 0},
        {"empty", true, "", browse, 400, 0},
    };
    for (const SRow& row : rows) {
        const SRequest request = Post(row.body, row.soapAction == "-" ? nullptr : row.soapAction.c_str());
        const SAnswer answer = row.toDirectory ? directory.Handle(request) : manager.Handle(request);
        EXPECT_EQ(answer.status, row.status) << row.what;
        if (row.status == 400)
            continue;
        EXPECT_EQ(answer.contentType.find("text/xml"), 0u) << row.what;
        const SRead read = ReadAnswer(answer);
        ASSERT_TRUE(read.xml) << row.what;
        EXPECT_EQ(read.fault, row.fault) << row.what;
    }
    SRequest get = Post("", nullptr);
    get.method = "GET";
    EXPECT_EQ(directory.Handle(get).status, 405u);
}

TEST_F(SDirectoryFixture, TheSimpleActionsAnswer)
{
    Make();
    const CContentDirectory directory(*m_library);
    struct SRow {
        bool toDirectory;
        const char* action;
        std::map<std::string, std::string> out;
    };
    const CConnectionManager manager("SOURCE & LIST");
    const SRow rows[] = {
        {true, "GetSearchCapabilities", {{"SearchCaps", ""}}},
        {true, "GetSortCapabilities", {{"SortCaps", ""}}},
        {true, "GetSystemUpdateID", {{"Id", std::to_string(m_library->SystemUpdateId())}}},
        {false, "GetProtocolInfo", {{"Source", "SOURCE & LIST"}, {"Sink", ""}}},
        {false, "GetCurrentConnectionIDs", {{"ConnectionIDs", "0"}}},
    };
    for (const SRow& row : rows) {
        const char* service = row.toDirectory ? CD : CM;
        const std::string header = std::string(service) + "#" + row.action;
        const SRequest request = Post(Envelope(service, row.action, ""), header.c_str());
        const SRead read = ReadAnswer(row.toDirectory ? directory.Handle(request) : manager.Handle(request));
        ASSERT_TRUE(read.xml) << row.action;
        EXPECT_EQ(read.fault, 0) << row.action;
        const std::map<std::string, std::string> out(read.out.begin(), read.out.end());
        EXPECT_EQ(out, row.out) << row.action;
    }
    const std::string header = std::string(CM) + "#GetCurrentConnectionInfo";
    const SRead info = ReadAnswer(
        manager.Handle(Post(Envelope(CM, "GetCurrentConnectionInfo", "<ConnectionID>0</ConnectionID>"), header.c_str())));
    EXPECT_EQ(info.Get("Direction"), "Output");
    EXPECT_EQ(info.Get("Status"), "OK");
    EXPECT_EQ(info.Get("PeerConnectionID"), "-1");
}

TEST_F(SDirectoryFixture, DidlIsWellFormedAndCarriesNamesAsTheyAre)
{
    // Names a writer could break a document with, and names beyond ASCII.
    // Windows refuses some of them as file names: those are left out.
    std::vector<std::string> names;
    std::string folderName = "F&<\"'";
    std::error_code ec;
    if (!fs::create_directories(m_folder / folderName, ec))
        folderName = "F&'";
    for (const std::string name : {"Tom & Jerry", "<script>", "say \"hi\"", "it's",
                                   "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "plain 100%"}) {
        const fs::path path = m_folder / folderName / mediahost::PathFromUtf8(std::string(name) + ".ts");
        Write(path, 17);
        if (fs::exists(path, ec))
            names.push_back(name);
    }
    ASSERT_GE(names.size(), 4u);
    Make();
    const SRead root = Browse("0", "BrowseDirectChildren");
    ASSERT_EQ(root.fault, 0);
    EXPECT_EQ(root.Get("NumberReturned"), "1");
    EXPECT_EQ(root.Get("TotalMatches"), "1");
    platform::CXmlDocument rootDidl;
    ASSERT_TRUE(rootDidl.LoadText(root.Get("Result")));
    const platform::CXmlNode folder = ElementChildren(rootDidl.DocumentElement()).at(0);
    EXPECT_EQ(Local(folder), "container");
    EXPECT_EQ(Attr(folder, L"childCount"), std::to_string(names.size()));
    EXPECT_EQ(Attr(folder, L"parentID"), "0");
    const std::string folderId = Attr(folder, L"id");

    const SRead children = Browse(folderId, "BrowseDirectChildren");
    platform::CXmlDocument didl;
    ASSERT_TRUE(didl.LoadText(children.Get("Result"))) << children.Get("Result");
    EXPECT_EQ(ToUtf8(didl.DocumentElement().Name()), "DIDL-Lite");
    std::vector<std::string> titles;
    for (const platform::CXmlNode& item : ElementChildren(didl.DocumentElement())) {
        EXPECT_EQ(Local(item), "item");
        EXPECT_EQ(Attr(item, L"parentID"), folderId);
        std::map<std::string, std::string> fields;
        std::vector<platform::CXmlNode> resources;
        for (const platform::CXmlNode& field : ElementChildren(item)) {
            if (Local(field) == "res")
                resources.push_back(field);
            else
                fields[ToUtf8(field.Name())] = TextOf(field);
        }
        titles.push_back(fields["dc:title"]);
        EXPECT_EQ(fields["upnp:class"], "object.item.videoItem");
        EXPECT_EQ(fields["dc:date"].size(), 19u) << fields["dc:date"];
        const bool plain = fields["dc:title"].find("plain") != std::string::npos;
        ASSERT_EQ(resources.size(), plain ? 1u : 2u) << fields["dc:title"];
        for (std::size_t i = 0; i < resources.size(); ++i) {
            // The URL leads back to the file, on the host the request reached.
            const std::string url = TextOf(resources[i]);
            const std::string prefix = "http://192.0.2.7:8280/media/";
            ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
            const std::string path = url.substr(prefix.size(), url.find('?') - prefix.size());
            std::string folderInUrl;
            std::string fileName;
            ASSERT_TRUE(mediahost::http::PercentDecode(path.substr(0, path.find('/')), folderInUrl));
            ASSERT_TRUE(mediahost::http::PercentDecode(path.substr(path.find('/') + 1), fileName));
            EXPECT_EQ(folderInUrl, folderName);
            EXPECT_EQ(fileName, fields["dc:title"] + ".ts");
            const std::string protocol = Attr(resources[i], L"protocolInfo");
            EXPECT_EQ(Attr(resources[i], L"size"), "17");
            if (plain) {
                EXPECT_EQ(url.find('?'), std::string::npos);
                EXPECT_EQ(protocol.rfind("http-get:*:video/mp2t:", 0), 0u) << protocol;
                EXPECT_EQ(protocol.find("DLNA.ORG_PN"), std::string::npos);
                EXPECT_EQ(Attr(resources[i], L"duration"), "(none)");
                continue;
            }
            // The fake describer's offers, as it stated them.
            const SOffer offer = FakeDescription(m_folder / "x.ts").offers[i];
            EXPECT_EQ(protocol, "http-get:*:" + offer.mimeType + ":" +
                                    mediahost::http::ContentFeatures(offer.DlnaName(), offer.timeSeek));
            EXPECT_EQ(url.substr(url.find('?')), "?profile=" + offer.DlnaName());
            EXPECT_EQ(Attr(resources[i], L"duration"), i == 0 ? "0:00:08.000" : "(none)");
            EXPECT_EQ(Attr(resources[i], L"resolution"), i == 0 ? "1920x1080" : "(none)");
        }
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        std::string x = a;
        std::string y = b;
        for (char& c : x)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : y)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return x < y;
    });
    EXPECT_EQ(titles, expected);

    // Metadata of an item: one object, and the system's update id.
    const std::string itemId = Attr(ElementChildren(didl.DocumentElement()).at(0), L"id");
    const SRead metadata = Browse(itemId, "BrowseMetadata");
    EXPECT_EQ(metadata.Get("NumberReturned"), "1");
    EXPECT_EQ(metadata.Get("UpdateID"), std::to_string(m_library->SystemUpdateId()));
    platform::CXmlDocument one;
    ASSERT_TRUE(one.LoadText(metadata.Get("Result")));
    EXPECT_EQ(ElementChildren(one.DocumentElement()).size(), 1u);
    EXPECT_EQ(Attr(ElementChildren(one.DocumentElement()).at(0), L"id"), itemId);
}

TEST_F(SDirectoryFixture, PagesAnswerWhatWasAskedFor)
{
    for (int i = 0; i < 7; ++i)
        Write(m_folder / ("r" + std::to_string(i) + ".ts"), 5);
    Make();
    struct SRow {
        const char* start;
        const char* count;
        std::size_t returned;
    };
    const SRow rows[] = {{"0", "0", 7}, {"0", "3", 3}, {"5", "3", 2}, {"7", "1", 0}, {"6", "0", 1}};
    for (const SRow& row : rows) {
        const SRead read = Browse("0", "BrowseDirectChildren", row.start, row.count);
        ASSERT_EQ(read.fault, 0);
        EXPECT_EQ(read.Get("NumberReturned"), std::to_string(row.returned)) << row.start << "+" << row.count;
        EXPECT_EQ(read.Get("TotalMatches"), "7");
        platform::CXmlDocument didl;
        ASSERT_TRUE(didl.LoadText(read.Get("Result")));
        EXPECT_EQ(ElementChildren(didl.DocumentElement()).size(), row.returned);
    }
}

TEST_F(SDirectoryFixture, AThousandRecordingsArePagedWhole)
{
    for (int i = 0; i < 1000; ++i)
        Write(m_folder / ("r" + std::to_string(10000 + i) + ".ts"), 1);
    Make();
    // A control point's paging, 50 at a time, then everything at once.
    std::vector<std::string> ids;
    for (std::uint32_t start = 0; start < 1000; start += 50) {
        const SRead page = Browse("0", "BrowseDirectChildren", std::to_string(start), "50");
        ASSERT_EQ(page.Get("NumberReturned"), "50");
        ASSERT_EQ(page.Get("TotalMatches"), "1000");
        platform::CXmlDocument didl;
        ASSERT_TRUE(didl.LoadText(page.Get("Result")));
        for (const platform::CXmlNode& item : ElementChildren(didl.DocumentElement()))
            ids.push_back(Attr(item, L"id"));
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.size(), 1000u);
    EXPECT_EQ(Browse("0", "BrowseDirectChildren").Get("NumberReturned"), "1000");
    EXPECT_EQ(m_describer.calls.load(), 1000);
}

TEST(Didl, Durations)
{
    struct SRow {
        const char* component;
        const char* didl;
    };
    const SRow rows[] = {
        {"00:00:08.000", "0:00:08.000"}, {"01:02:05.042", "1:02:05.042"}, {"123:59:59.999", "123:59:59.999"},
        {"10:00:00.000", "10:00:00.000"}, {"1:02:05.042", "1:02:05.042"}, {"00:00:08", ""},
        {"00:0a:08.000", ""}, {"", ""}, {"00:00:08.0000", ""}, {":00:08.000", ""},
    };
    for (const SRow& row : rows)
        EXPECT_EQ(DidlDuration(row.component), row.didl) << row.component;
}

TEST(Soap, BodiesRoundTrip)
{
    platform::CXmlThreadScope com;
    const std::string bodies[] = {
        Envelope(CD, "Browse", "<ObjectID>a&amp;b&lt;c&gt;\"'</ObjectID><X><![CDATA[<raw>]]></X>"),
        Envelope(CD, "Browse", "<A>line\r\nbreak\rand&#13;more</A><B>&#x263A;\xC3\xA9</B><C/>"),
        Envelope(CM, "GetProtocolInfo", ""),
        "not xml at all",
    };
    for (const std::string& body : bodies)
        EXPECT_TRUE(soap::RoundTripsBody(body)) << body;
}

}  // namespace
