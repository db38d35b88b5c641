// The device's identity and its description documents, read back with the
// platform's XML reader.
#include "Description.h"

#include "platform/xml.h"
#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

namespace {

using namespace mediahost::server;

TEST(DeviceIdentity, UuidIsNameBasedOnMachineAndFolder)
{
    // Expected values from Python's uuid.uuid5 over the same namespace and
    // "MACHINE\nFOLDER".
    struct SCase {
        const char* machine;
        const char* folder;
        const char* uuid;
    };
    const SCase cases[] = {
        {"3d1219c7c4c5404aaa1f6d2a48adfda4", "/srv/recordings", "adb7d5ed-ccbe-5dc9-a8e9-36862e74dbdc"},
        {"3d1219c7c4c5404aaa1f6d2a48adfda4", "/srv/recordings/", "06c85cc6-3245-585b-9ac5-1e3433a6f6c9"},
        {"{0A8E2E3A-1111-4222-8333-944455556666}", "Z:\\Recordings\\Fr\xC3\xA9" "d\xC3\xA9ric",
         "2cb507c1-22c7-5a1a-aa23-7140a3d00cff"},
        {"kitchen", "/home/pi/Videos", "acc062db-0fc4-5912-8b6b-b75afb1979b1"},
    };
    for (const SCase& c : cases)
        EXPECT_EQ(DeviceUuid(c.machine, c.folder), c.uuid) << c.machine << " " << c.folder;

    const SDeviceIdentity named = MakeDeviceIdentity("", "kitchen", "/home/pi/Videos", "", "Linux/6.1");
    EXPECT_EQ(named.udn, "uuid:acc062db-0fc4-5912-8b6b-b75afb1979b1");  // the host name stands in
    EXPECT_EQ(named.friendlyName, "VskMediaHost on kitchen");
    EXPECT_TRUE(std::regex_match(named.server, std::regex(R"(Linux/6\.1 .*UPnP/1\.0.*)")))
        << named.server;
    const SDeviceIdentity chosen =
        MakeDeviceIdentity("3d1219c7c4c5404aaa1f6d2a48adfda4", "kitchen", "/srv/recordings", "Films", "Linux/6.1");
    EXPECT_EQ(chosen.udn, "uuid:adb7d5ed-ccbe-5dc9-a8e9-36862e74dbdc");
    EXPECT_EQ(chosen.friendlyName, "Films");
}

// An element's child elements by name, in order.
std::vector<platform::CXmlNode> Elements(const platform::CXmlNode& node, const wchar_t* name)
{
    std::vector<platform::CXmlNode> found;
    for (const platform::CXmlNode& child : node.Children()) {
        if (child.IsElement() && child.Name() == name)
            found.push_back(child);
    }
    return found;
}

class Descriptions : public ::testing::Test {
protected:
    // Loads the document through a file, as the reader takes it.
    bool Load(const std::string& text, platform::CXmlDocument& document)
    {
        const std::filesystem::path file = m_dir.Path() / ("document" + std::to_string(m_count++) + ".xml");
        std::ofstream(file, std::ios::binary) << text;
        return document.Load(file.wstring().c_str());
    }

    platform::CXmlThreadScope m_com;
    vsktest::CTempDir m_dir;
    int m_count = 0;
};

SRequest Get(const std::string& path, const char* method = "GET")
{
    SRequest request;
    request.method = method;
    request.path = path;
    return request;
}

TEST_F(Descriptions, AreWellFormedWithEveryServiceAndItsUrls)
{
    // A name that would break the document if any text went unescaped.
    SDeviceIdentity identity = MakeDeviceIdentity("m", "h", "/f", "Tom & Jerry's <Films> \"4K\" ]]>", "Linux/6.1");
    const CDescriptions documents(identity);

    const SAnswer device = documents.Handle(Get("/upnp/description.xml"));
    ASSERT_EQ(device.status, 200u);
    EXPECT_EQ(device.contentType.rfind("text/xml", 0), 0u);
    platform::CXmlDocument xml;
    ASSERT_TRUE(Load(device.body, xml)) << device.body;
    const platform::CXmlNode root = xml.DocumentElement();
    EXPECT_EQ(root.Name(), L"root");
    // (MSXML does not list namespace declarations as attributes: the
    // namespaces are checked where Python's reader resolves them, end to
    // end.)
    const auto devices = Elements(root, L"device");
    ASSERT_EQ(devices.size(), 1u);
    for (const wchar_t* required : {L"deviceType", L"friendlyName", L"manufacturer", L"modelName", L"UDN",
                                    L"dlna:X_DLNADOC", L"serviceList"})
        EXPECT_EQ(Elements(devices[0], required).size(), 1u) << std::string(required, required + wcslen(required));
    const auto services = Elements(Elements(devices[0], L"serviceList")[0], L"service");
    EXPECT_EQ(services.size(), 2u);
    for (const platform::CXmlNode& service : services) {
        for (const wchar_t* required : {L"serviceType", L"serviceId", L"SCPDURL", L"controlURL", L"eventSubURL"})
            EXPECT_EQ(Elements(service, required).size(), 1u);
    }

    // Each SCPD: every argument names a declared variable, every "in" comes
    // before the first "out", every evented variable says so.
    for (const SServiceRow& row : SERVICES) {
        const SAnswer scpd = documents.Handle(Get(ScpdPath(row), "HEAD"));
        ASSERT_EQ(scpd.status, 200u) << ScpdPath(row);
        platform::CXmlDocument doc;
        ASSERT_TRUE(Load(scpd.body, doc)) << scpd.body;
        const platform::CXmlNode scpdRoot = doc.DocumentElement();
        EXPECT_EQ(scpdRoot.Name(), L"scpd");
        const auto actions = Elements(Elements(scpdRoot, L"actionList")[0], L"action");
        EXPECT_EQ(actions.size(), row.actions.size());
        const auto variables = Elements(Elements(scpdRoot, L"serviceStateTable")[0], L"stateVariable");
        EXPECT_EQ(variables.size(), row.variables.size());
        std::size_t evented = 0;
        for (const platform::CXmlNode& variable : variables) {
            std::wstring sendEvents;
            ASSERT_TRUE(variable.Attribute(L"sendEvents", sendEvents));
            EXPECT_TRUE(sendEvents == L"yes" || sendEvents == L"no");
            evented += sendEvents == L"yes";
            EXPECT_EQ(Elements(variable, L"name").size(), 1u);
            EXPECT_EQ(Elements(variable, L"dataType").size(), 1u);
        }
        EXPECT_GE(evented, 2u);
    }
}

TEST_F(Descriptions, AnswerOnlyTheirPathsAndMethods)
{
    const CDescriptions documents(MakeDeviceIdentity("m", "h", "/f", "", "Linux/6.1"));
    EXPECT_EQ(documents.Handle(Get("/upnp/description.xml")).status, 200u);
    EXPECT_EQ(documents.Handle(Get("/upnp/ContentDirectory.xml")).status, 200u);
    EXPECT_EQ(documents.Handle(Get("/upnp/ConnectionManager.xml")).status, 200u);
    EXPECT_EQ(documents.Handle(Get("/upnp/AVTransport.xml")).status, 404u);
    EXPECT_EQ(documents.Handle(Get("/upnp/description.xml/")).status, 404u);
    EXPECT_EQ(documents.Handle(Get("/UPNP/description.xml")).status, 404u);
    const SAnswer post = documents.Handle(Get("/upnp/description.xml", "POST"));
    EXPECT_EQ(post.status, 405u);
    ASSERT_EQ(post.headers.size(), 1u);
    EXPECT_EQ(post.headers[0].first, "Allow");
}

// The rows themselves hold together: what an SCPD reader would trip over.
TEST(ServiceRows, ArgumentsNameDeclaredVariablesInBeforeOut)
{
    for (const SServiceRow& service : SERVICES) {
        std::set<std::string_view> declared;
        for (const SStateVariable& variable : service.variables)
            EXPECT_TRUE(declared.insert(variable.name).second) << variable.name;
        std::set<std::string_view> actions;
        for (const SAction& action : service.actions) {
            EXPECT_TRUE(actions.insert(action.name).second) << action.name;
            bool out = false;
            for (const SArgument& argument : action.arguments) {
                EXPECT_TRUE(declared.count(argument.relatedStateVariable)) << action.name << " " << argument.name;
                EXPECT_FALSE(out && argument.direction == EDirection::ARGUMENT_IN ) << action.name << " " << argument.name;
                out = out || argument.direction == EDirection::ARGUMENT_OUT;
            }
        }
    }
}

}  // namespace
