// SSDP's messages and rules, read back the way a control point reads them:
// as a start line and headers.
#include "Ssdp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace {

using namespace mediahost::server;
using namespace mediahost::server::ssdp;

constexpr const char* UDN = "uuid:adb7d5ed-ccbe-5dc9-a8e9-36862e74dbdc";

SAdvertiser Device()
{
    SAdvertiser device;
    device.udn = UDN;
    device.server = "Linux/6.1 UPnP/1.0 DLNADOC/1.50 VskMediaHost/1.0";
    device.bootId = 1700000000;
    device.configId = 4242;
    return device;
}

struct SMessage {
    std::string startLine;
    std::multimap<std::string, std::string> headers;  // upper-case names
    bool complete = false;                            // ends with an empty line
};

// A reader of its own: CRLF lines, "NAME: value", names without case.
SMessage Read(const std::string& text)
{
    SMessage message;
    std::size_t at = text.find("\r\n");
    message.startLine = text.substr(0, at);
    while (at != std::string::npos) {
        const std::size_t next = text.find("\r\n", at + 2);
        const std::string line = text.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        if (line.empty()) {
            message.complete = text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0;
            break;
        }
        const std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        message.headers.emplace(name, value);
        at = next;
    }
    return message;
}

std::string One(const SMessage& message, const std::string& name)
{
    EXPECT_EQ(message.headers.count(name), 1u) << name << " in " << message.startLine;
    const auto found = message.headers.find(name);
    return found == message.headers.end() ? std::string() : found->second;
}

std::uint32_t Ip(const char* text)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(SsdpSearch, IsReadAsUdaSaysOrLeftUnanswered)
{
    const std::string group = "HOST: 239.255.255.250:1900\r\n";
    const std::string man = "MAN: \"ssdp:discover\"\r\n";
    const std::string st = "ST: ssdp:all\r\n";
    struct SCase {
        std::string datagram;
        SSearch::EKind kind;
        bool multicast;
        unsigned window;
    };
    const SCase cases[] = {
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 3\r\n" + st + "\r\n", SSearch::VALID, true, 3},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 1\r\n" + st + "\r\n", SSearch::VALID, true, 1},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 120\r\n" + st + "\r\n", SSearch::VALID, true, 5},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 99999999999999999999999\r\n" + st + "\r\n", SSearch::VALID,
         true, 5},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 0\r\n" + st + "\r\n", SSearch::VALID, true, 0},
        // Header names in any case, bare LF line ends, no quotes on MAN.
        {"M-SEARCH * HTTP/1.1\nhost: 239.255.255.250:1900\nman: ssdp:discover\nmx: 2\nst: ssdp:all\n\n",
         SSearch::VALID, true, 2},
        {"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250\r\n" + man + "MX: 2\r\n" + st + "\r\n", SSearch::VALID, true,
         2},
        // To this host alone: no MX needed, answered at once.
        {"M-SEARCH * HTTP/1.1\r\nHOST: 127.0.0.1:1900\r\n" + man + st + "\r\n", SSearch::VALID, false, 0},
        {"M-SEARCH * HTTP/1.1\r\nHOST: 127.0.0.1:1900\r\n" + man + "MX: 4\r\n" + st + "\r\n", SSearch::VALID, false,
         0},
        // Multicast without a usable MX.
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: \r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: -1\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 2.5\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: three\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 3\r\nMX: 1\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        // What every search needs.
        {"M-SEARCH * HTTP/1.1\r\n" + group + "MX: 3\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + "MAN: \"ssdp:alive\"\r\nMX: 3\r\n" + st + "\r\n", SSearch::MALFORMED,
         true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 3\r\n\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 3\r\nST:\r\n\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + man + "MX: 3\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.1\r\n" + group + man + "MX: 3\r\nbroken line\r\n" + st + "\r\n", SSearch::MALFORMED,
         true, 0},
        {"M-SEARCH / HTTP/1.1\r\n" + group + man + "MX: 3\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        {"M-SEARCH * HTTP/1.0\r\n" + group + man + "MX: 3\r\n" + st + "\r\n", SSearch::MALFORMED, true, 0},
        // Other devices' traffic: no answer and no complaint.
        {"NOTIFY * HTTP/1.1\r\n" + group + "NT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n\r\n", SSearch::NOT_A_SEARCH,
         true, 0},
        {"HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\n\r\n", SSearch::NOT_A_SEARCH, true, 0},
        {"", SSearch::NOT_A_SEARCH, true, 0},
        {std::string("M-SEARCH * HTTP/1.1\0\r\n", 22) + group + man + "MX: 3\r\n" + st + "\r\n", SSearch::MALFORMED,
         true, 0},
    };
    for (const SCase& c : cases) {
        const SSearch search = ReadSearch(c.datagram);
        EXPECT_EQ(search.kind, c.kind) << c.datagram << search.why;
        if (search.kind == SSearch::MALFORMED) {
            EXPECT_FALSE(search.why.empty()) << c.datagram;
        }
        if (search.kind != SSearch::VALID || c.kind != SSearch::VALID)
            continue;
        EXPECT_EQ(search.target, "ssdp:all") << c.datagram;
        EXPECT_EQ(search.multicast, c.multicast) << c.datagram;
        EXPECT_EQ(search.delayWindow, c.window) << c.datagram;
    }
}

TEST(SsdpSearch, EachTargetGetsItsOwnAnswers)
{
    const SAdvertiser device = Device();
    const std::string cd = "urn:schemas-upnp-org:service:ContentDirectory:1";
    const std::string cm = "urn:schemas-upnp-org:service:ConnectionManager:1";
    const std::string ms = "urn:schemas-upnp-org:device:MediaServer:1";
    const std::string udn = UDN;
    // Target -> the (ST, USN) pairs UDA wants in answer.
    const std::map<std::string, std::set<std::pair<std::string, std::string>>> cases = {
        {"ssdp:all",
         {{"upnp:rootdevice", udn + "::upnp:rootdevice"},
          {udn, udn},
          {ms, udn + "::" + ms},
          {cd, udn + "::" + cd},
          {cm, udn + "::" + cm}}},
        {"upnp:rootdevice", {{"upnp:rootdevice", udn + "::upnp:rootdevice"}}},
        {udn, {{udn, udn}}},
        {ms, {{ms, udn + "::" + ms}}},
        {cd, {{cd, udn + "::" + cd}}},
        {cm, {{cm, udn + "::" + cm}}},
        {"urn:schemas-upnp-org:device:MediaServer:2", {}},
        {"urn:schemas-upnp-org:device:MediaRenderer:1", {}},
        {"urn:schemas-upnp-org:service:AVTransport:1", {}},
        {"uuid:00000000-0000-0000-0000-000000000000", {}},
        {"URN:SCHEMAS-UPNP-ORG:DEVICE:MEDIASERVER:1", {}},
        {"ssdp:al", {}},
    };
    const std::string location = "http://192.168.1.20:8280/upnp/description.xml";
    const std::string date = "Sun, 06 Nov 1994 08:49:37 GMT";
    for (const auto& [target, expected] : cases) {
        std::set<std::pair<std::string, std::string>> answered;
        for (std::size_t row : MatchingRows(target, device)) {
            const SMessage answer = Read(SearchAnswer(NOTIFICATIONS[row], device, location, date));
            EXPECT_EQ(answer.startLine, "HTTP/1.1 200 OK");
            EXPECT_TRUE(answer.complete) << target;
            EXPECT_EQ(One(answer, "CACHE-CONTROL"), "max-age=1800");
            EXPECT_EQ(One(answer, "EXT"), "");
            EXPECT_EQ(One(answer, "LOCATION"), location);
            EXPECT_EQ(One(answer, "DATE"), date);
            EXPECT_EQ(One(answer, "SERVER"), device.server);
            EXPECT_EQ(One(answer, "BOOTID.UPNP.ORG"), "1700000000");
            EXPECT_EQ(One(answer, "CONFIGID.UPNP.ORG"), "4242");
            answered.insert({One(answer, "ST"), One(answer, "USN")});
        }
        EXPECT_EQ(answered, expected) << target;
    }
}

TEST(SsdpAnnouncements, NameEveryTypeAliveAndGoneAgain)
{
    const SAdvertiser device = Device();
    const std::string location = "http://127.0.0.1:8280/upnp/description.xml";
    std::set<std::string> alive;
    std::set<std::string> gone;
    for (const SNotificationRow& row : NOTIFICATIONS) {
        const SMessage hello = Read(AliveMessage(row, device, location));
        EXPECT_EQ(hello.startLine, "NOTIFY * HTTP/1.1");
        EXPECT_TRUE(hello.complete);
        EXPECT_EQ(One(hello, "HOST"), "239.255.255.250:1900");
        EXPECT_EQ(One(hello, "NTS"), "ssdp:alive");
        EXPECT_EQ(One(hello, "LOCATION"), location);
        EXPECT_EQ(One(hello, "CACHE-CONTROL"), "max-age=1800");
        EXPECT_EQ(One(hello, "SERVER"), device.server);
        alive.insert(One(hello, "NT") + " " + One(hello, "USN"));

        const SMessage bye = Read(ByebyeMessage(row, device));
        EXPECT_EQ(bye.startLine, "NOTIFY * HTTP/1.1");
        EXPECT_TRUE(bye.complete);
        EXPECT_EQ(One(bye, "NTS"), "ssdp:byebye");
        EXPECT_EQ(bye.headers.count("LOCATION"), 0u);
        EXPECT_EQ(bye.headers.count("CACHE-CONTROL"), 0u);
        EXPECT_EQ(One(bye, "BOOTID.UPNP.ORG"), "1700000000");
        gone.insert(One(bye, "NT") + " " + One(bye, "USN"));
    }
    // The same types as the answers to ssdp:all.
    std::set<std::string> searched;
    for (std::size_t row : MatchingRows("ssdp:all", device)) {
        const SMessage answer = Read(SearchAnswer(NOTIFICATIONS[row], device, location, "-"));
        searched.insert(One(answer, "ST") + " " + One(answer, "USN"));
    }
    EXPECT_EQ(alive.size(), 5u);
    EXPECT_EQ(alive, searched);
    EXPECT_EQ(gone, searched);
}

TEST(SsdpAddresses, AnswerEachAskerWithTheAddressItCanReach)
{
    const std::vector<SInterfaceAddress> machine = {
        {Ip("127.0.0.1"), Ip("255.0.0.0"), true, false},  // loopback without the multicast flag, as Linux has it
        {Ip("192.168.1.20"), Ip("255.255.255.0"), false, true},
        {Ip("192.168.1.21"), Ip("255.255.255.0"), false, true},  // a second address on the same network
        {Ip("10.8.0.5"), Ip("255.255.0.0"), false, true},
        {Ip("172.16.9.9"), Ip("255.255.255.0"), false, false},  // no multicast: a tunnel
    };
    struct SCase {
        const char* bind;
        const char* asker;
        const char* location;  // nullptr: not answered
    };
    const SCase cases[] = {
        {"0.0.0.0", "127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "127.0.0.53", "127.0.0.1"},
        {"0.0.0.0", "192.168.1.77", "192.168.1.20"},
        {"0.0.0.0", "192.168.1.21", "192.168.1.20"},
        {"0.0.0.0", "10.8.200.1", "10.8.0.5"},
        {"0.0.0.0", "10.9.0.1", nullptr},
        {"0.0.0.0", "172.16.9.1", nullptr},
        {"0.0.0.0", "8.8.8.8", nullptr},
        {"127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"127.0.0.1", "192.168.1.77", nullptr},
        {"127.0.0.2", "127.0.0.1", "127.0.0.2"},
        {"192.168.1.21", "192.168.1.77", "192.168.1.21"},
        {"192.168.1.21", "127.0.0.1", nullptr},
        {"10.8.0.5", "192.168.1.77", nullptr},
        {"172.31.0.1", "172.31.0.2", nullptr},  // no interface holds the address
    };
    for (const SCase& c : cases) {
        const std::vector<SServedAddress> served = ServedAddresses(machine, Ip(c.bind));
        const auto answering = AnsweringAddress(served, Ip(c.asker));
        ASSERT_EQ(answering.has_value(), c.location != nullptr) << c.bind << " asked by " << c.asker;
        if (!answering)
            continue;
        EXPECT_EQ(Location(served[*answering].address, 8280),
                  std::string("http://") + c.location + ":8280/upnp/description.xml")
            << c.bind << " asked by " << c.asker;
    }
    // Multicast goes out of, and is joined on, the interface's own address.
    const auto loopbackAlias = ServedAddresses(machine, Ip("127.0.0.2"));
    ASSERT_EQ(loopbackAlias.size(), 1u);
    EXPECT_EQ(loopbackAlias[0].interfaceAddress, Ip("127.0.0.1"));
    EXPECT_EQ(ServedAddresses(machine, 0).size(), 4u);
}

TEST(SsdpConfigId, StaysInRangeAndFollowsTheDescription)
{
    std::set<std::uint32_t> ids;
    for (const char* text : {"", "<root/>", "<root>a</root>", "<root>b</root>"}) {
        const std::uint32_t id = ConfigId(text);
        EXPECT_LE(id, 16777215u);
        ids.insert(id);
        EXPECT_EQ(ConfigId(text), id);
    }
    EXPECT_EQ(ids.size(), 4u);
}

}  // namespace
