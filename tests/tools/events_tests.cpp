// Event subscriptions under the GENA rules, their events over time, and the
// publisher delivering to a real callback on loopback.
#include "EventPublisher.h"

#include <boost/asio.hpp>

#include <gtest/gtest.h>

#include <future>
#include <regex>

namespace {

using namespace mediahost::server;
using namespace std::chrono_literals;
using Clock = CSubscriptions::Clock;

constexpr std::size_t CONTENT_DIRECTORY = 0;
constexpr std::size_t CONNECTION_MANAGER = 1;

// Callbacks go to loopback only, as a server bound to 127.0.0.1 has it.
bool Loopback(std::uint32_t callback, std::uint32_t subscriber)
{
    return (callback >> 24) == 127 && (subscriber >> 24) == 127;
}

// A server on loopback and 192.168.1.0/24: a callback on the subscriber's
// own network.
bool SameServedNetwork(std::uint32_t callback, std::uint32_t subscriber)
{
    for (const std::uint32_t network : {0x7F000000u, 0xC0A80100u}) {
        const std::uint32_t mask = network == 0x7F000000u ? 0xFF000000u : 0xFFFFFF00u;
        if ((callback & mask) == network && (subscriber & mask) == network)
            return true;
    }
    return false;
}

SRequest Request(const std::string& method, mediahost::server::SHeaders headers)
{
    SRequest request;
    request.method = method;
    request.path = "/upnp/event/ContentDirectory";
    request.headers = std::move(headers);
    request.peer = "127.0.0.1:5555";
    return request;
}

std::string HeaderOf(const SAnswer& answer, const std::string& name)
{
    for (const auto& [key, value] : answer.headers) {
        if (key == name)
            return value;
    }
    return "(none)";
}

TEST(EventSubscriptions, FollowTheGenaRules)
{
    const std::string cb = "<http://127.0.0.1:4004/event>";
    const std::string nt = "upnp:event";
    // Each row runs against a fresh table holding one live subscription,
    // "uuid:live", of ContentDirectory.
    struct SCase {
        const char* what;
        std::string method;
        mediahost::server::SHeaders headers;
        unsigned status;
        const char* timeout;  // the TIMEOUT answered; nullptr: none
        const char* peer = "127.0.0.1:5555";
    };
    const SCase cases[] = {
        {"new", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "Second-300"}}, 200, "Second-300"},
        {"new, header names in any case", "SUBSCRIBE", {{"callback", cb}, {"nt", nt}}, 200, "Second-1800"},
        {"short timeout", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "Second-5"}}, 200, "Second-60"},
        {"long timeout", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "Second-86400"}}, 200,
         "Second-1800"},
        {"infinite", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "Second-infinite"}}, 200, "Second-1800"},
        {"unreadable timeout", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "soon"}}, 200, "Second-1800"},
        {"huge timeout", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}, {"TIMEOUT", "Second-99999999999999999999999"}},
         200, "Second-1800"},
        {"second URL usable", "SUBSCRIBE",
         {{"CALLBACK", "<http://192.168.1.9:4004/e><http://127.0.0.1:4004/e>"}, {"NT", nt}}, 200, "Second-1800"},
        {"no NT", "SUBSCRIBE", {{"CALLBACK", cb}}, 412, nullptr},
        {"other NT", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", "upnp:propchange"}}, 412, nullptr},
        {"no CALLBACK", "SUBSCRIBE", {{"NT", nt}}, 412, nullptr},
        {"CALLBACK without brackets", "SUBSCRIBE", {{"CALLBACK", "http://127.0.0.1:4004/e"}, {"NT", nt}}, 412,
         nullptr},
        {"CALLBACK unclosed", "SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:4004/e"}, {"NT", nt}}, 412, nullptr},
        {"CALLBACK by name", "SUBSCRIBE", {{"CALLBACK", "<http://localhost:4004/e>"}, {"NT", nt}}, 412, nullptr},
        {"CALLBACK https", "SUBSCRIBE", {{"CALLBACK", "<https://127.0.0.1:4004/e>"}, {"NT", nt}}, 412, nullptr},
        {"CALLBACK port 0", "SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:0/e>"}, {"NT", nt}}, 412, nullptr},
        {"CALLBACK port too big", "SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:65536/e>"}, {"NT", nt}}, 412,
         nullptr},
        {"CALLBACK on the subscriber's network, which is not served", "SUBSCRIBE",
         {{"CALLBACK", "<http://10.1.2.9:4004/e>"}, {"NT", nt}}, 412, nullptr, "10.1.2.7:5555"},
        {"CALLBACK to another host of the subscriber's network", "SUBSCRIBE",
         {{"CALLBACK", "<http://192.168.1.9:4004/e>"}, {"NT", nt}}, 200, "Second-1800", "192.168.1.7:5555"},
        {"CALLBACK from the network to this machine's loopback", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}}, 412,
         nullptr, "192.168.1.7:5555"},
        {"CALLBACK to a served network not the subscriber's", "SUBSCRIBE",
         {{"CALLBACK", "<http://192.168.1.9:4004/e>"}, {"NT", nt}}, 412, nullptr},
        {"subscriber of another family", "SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}}, 412, nullptr, "[::1]:5555"},
        {"CALLBACK octal address", "SUBSCRIBE", {{"CALLBACK", "<http://0177.0.0.1:4004/e>"}, {"NT", nt}}, 412,
         nullptr},
        {"renewal", "SUBSCRIBE", {{"SID", "uuid:live"}, {"TIMEOUT", "Second-600"}}, 200, "Second-600"},
        {"renewal of nothing", "SUBSCRIBE", {{"SID", "uuid:gone"}}, 412, nullptr},
        {"renewal with NT", "SUBSCRIBE", {{"SID", "uuid:live"}, {"NT", nt}}, 400, nullptr},
        {"renewal with CALLBACK", "SUBSCRIBE", {{"SID", "uuid:live"}, {"CALLBACK", cb}}, 400, nullptr},
        {"unsubscribe", "UNSUBSCRIBE", {{"SID", "uuid:live"}}, 200, nullptr},
        {"unsubscribe nothing", "UNSUBSCRIBE", {{"SID", "uuid:gone"}}, 412, nullptr},
        {"unsubscribe without SID", "UNSUBSCRIBE", {}, 412, nullptr},
        {"unsubscribe with NT", "UNSUBSCRIBE", {{"SID", "uuid:live"}, {"NT", nt}}, 400, nullptr},
        {"unsubscribe with CALLBACK", "UNSUBSCRIBE", {{"SID", "uuid:live"}, {"CALLBACK", cb}}, 400, nullptr},
        {"other method", "GET", {}, 405, nullptr},
    };
    const Clock::time_point now{};
    for (const SCase& c : cases) {
        CSubscriptions table(SameServedNetwork);
        ASSERT_EQ(table.Handle(CONTENT_DIRECTORY, Request("SUBSCRIBE", {{"CALLBACK", cb}, {"NT", nt}}), now, "uuid:live")
                      .status,
                  200u);
        SRequest request = Request(c.method, c.headers);
        request.peer = c.peer;
        const SAnswer answer = table.Handle(CONTENT_DIRECTORY, request, now, "uuid:new");
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.log;
        EXPECT_FALSE(answer.log.empty()) << c.what;
        EXPECT_EQ(HeaderOf(answer, "TIMEOUT"), c.timeout ? c.timeout : "(none)") << c.what;
        const bool made = c.status == 200 && c.method == "SUBSCRIBE";
        const bool renewal = made && c.headers[0].first == "SID";
        EXPECT_EQ(HeaderOf(answer, "SID"), made ? (renewal ? "uuid:live" : "uuid:new") : "(none)") << c.what;
        const std::size_t expected = c.method == "UNSUBSCRIBE" && c.status == 200 ? 0 : made && !renewal ? 2 : 1;
        EXPECT_EQ(table.Count(), expected) << c.what;
    }
}

TEST(EventSubscriptions, BelongToTheirServiceAndExpire)
{
    CSubscriptions table(Loopback);
    const Clock::time_point start{};
    const mediahost::server::SHeaders subscribe = {
        {"CALLBACK", "<http://127.0.0.1:4004/e>"}, {"NT", "upnp:event"}, {"TIMEOUT", "Second-60"}};
    ASSERT_EQ(table.Handle(CONNECTION_MANAGER, Request("SUBSCRIBE", subscribe), start, "uuid:cm").status, 200u);
    // Another service's path does not know the SID.
    EXPECT_EQ(table.Handle(CONTENT_DIRECTORY, Request("SUBSCRIBE", {{"SID", "uuid:cm"}}), start, "-").status, 412u);
    EXPECT_EQ(table.Handle(CONTENT_DIRECTORY, Request("UNSUBSCRIBE", {{"SID", "uuid:cm"}}), start, "-").status, 412u);
    EXPECT_TRUE(table.Any(CONNECTION_MANAGER));
    EXPECT_FALSE(table.Any(CONTENT_DIRECTORY));
    // Renewed just in time, then left to run out.
    EXPECT_EQ(table.Handle(CONNECTION_MANAGER, Request("SUBSCRIBE", {{"SID", "uuid:cm"}, {"TIMEOUT", "Second-60"}}),
                           start + 59s, "-")
                  .status,
              200u);
    EXPECT_EQ(table.Handle(CONNECTION_MANAGER, Request("SUBSCRIBE", {{"SID", "uuid:cm"}}), start + 118s + 999ms, "-")
                  .status,
              200u);
    EXPECT_EQ(table.Due(start + 118s + 999ms + 1800s, {{}, {}}).size(), 0u);
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_EQ(table.Handle(CONNECTION_MANAGER, Request("SUBSCRIBE", {{"SID", "uuid:cm"}}), start + 2000s, "-").status,
              412u);

    // The cap per service; the other service still takes subscriptions.
    for (std::size_t i = 0; i < MAX_SUBSCRIPTIONS; ++i)
        ASSERT_EQ(table.Handle(CONTENT_DIRECTORY, Request("SUBSCRIBE", subscribe), start, "uuid:" + std::to_string(i))
                      .status,
                  200u);
    EXPECT_EQ(table.Handle(CONTENT_DIRECTORY, Request("SUBSCRIBE", subscribe), start, "uuid:over").status, 503u);
    EXPECT_EQ(table.Handle(CONNECTION_MANAGER, Request("SUBSCRIBE", subscribe), start, "uuid:cm2").status, 200u);
}

TEST(EventSubscriptions, GetTheInitialEventAfterTheAnswerThenOnlyChanges)
{
    CSubscriptions table(Loopback);
    const Clock::time_point t0{};
    ASSERT_EQ(table.Handle(CONTENT_DIRECTORY,
                           Request("SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:4004/a><http://127.0.0.1:4005/b>"},
                                                 {"NT", "upnp:event"}}),
                           t0, "uuid:s")
                  .status,
              200u);
    SVariables values = {{"SystemUpdateID", "7"}, {"ContainerUpdateIDs", ""}};
    EXPECT_TRUE(table.Due(t0, {values, {}}).empty()) << "before the SUBSCRIBE answer went out";
    table.Answered("uuid:s", t0 + 10ms);
    EXPECT_TRUE(table.Due(t0 + 200ms, {values, {}}).empty()) << "the subscriber may not have read its SID yet";
    auto due = table.Due(t0 + 310ms, {values, {}});
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].seq, 0u);
    EXPECT_EQ(due[0].variables, values);
    ASSERT_EQ(due[0].callbacks.size(), 2u);
    EXPECT_EQ(due[0].callbacks[1].port, 4005);
    EXPECT_EQ(due[0].callbacks[1].path, "/b");
    EXPECT_TRUE(table.Due(t0 + 5s, {values, {}}).empty()) << "nothing changed";

    values[0].second = "8";
    EXPECT_TRUE(table.Due(t0 + 1s, {values, {}}).empty()) << "within two seconds of the last event";
    due = table.Due(t0 + 6s, {values, {}});
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].seq, 1u);
    EXPECT_EQ(due[0].variables, (SVariables{{"SystemUpdateID", "8"}}));
    values[1].second = "1,8";
    due = table.Due(t0 + 9s, {values, {}});
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].seq, 2u);
    EXPECT_EQ(due[0].variables, (SVariables{{"ContainerUpdateIDs", "1,8"}}));

    // A subscriber whose answer was never confirmed still gets its event.
    ASSERT_EQ(table.Handle(CONTENT_DIRECTORY,
                           Request("SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:4004/c>"}, {"NT", "upnp:event"}}),
                           t0 + 10s, "uuid:t")
                  .status,
              200u);
    EXPECT_TRUE(table.Due(t0 + 10s + 500ms, {values, {}}).empty());
    due = table.Due(t0 + 11s, {values, {}});
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].sid, "uuid:t");
    EXPECT_EQ(due[0].seq, 0u);
}

TEST(ContainerUpdates, NameEachChangedContainerOnceWithItsNewestId)
{
    CContainerUpdates updates;
    EXPECT_EQ(updates.Value(), "");
    updates.Record({{"0", 4}, {"a1", 4}});
    EXPECT_EQ(updates.Value(), "a1,4,0,4");
    updates.Record({{"0", 5}});
    EXPECT_EQ(updates.Value(), "0,5,a1,4");
    // Many changes: the newest are kept, never without bound.
    for (unsigned i = 0; i < 100; ++i)
        updates.Record({{"c" + std::to_string(i), 6 + i}});
    const std::string value = updates.Value();
    EXPECT_EQ(value.rfind("c99,105,c98,104,", 0), 0u) << value;
    EXPECT_EQ(std::count(value.begin(), value.end(), ','), 2 * 32 - 1) << value;
    EXPECT_EQ(value.find("a1"), std::string::npos);
}

TEST(EventMessages, AreNotifyRequestsWithAnEscapedPropertySet)
{
    SCallback callback;
    callback.address = 0x7F000001;
    callback.port = 4004;
    callback.path = "/GUPnP/3/event?x=1";
    const std::string message = EventRequest(callback, "uuid:s", 17, {{"SourceProtocolInfo", "a<b>&\"c\""}, {"X", ""}});
    const auto split = message.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    const std::string head = message.substr(0, split + 2);
    const std::string body = message.substr(split + 4);
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "NOTIFY /GUPnP/3/event?x=1 HTTP/1.1");
    for (const char* line : {"\r\nHOST: 127.0.0.1:4004\r\n", "\r\nNT: upnp:event\r\n", "\r\nNTS: upnp:propchange\r\n",
                             "\r\nSID: uuid:s\r\n", "\r\nSEQ: 17\r\n"})
        EXPECT_NE(head.find(line), std::string::npos) << line;
    EXPECT_NE(head.find("\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_NE(body.find("<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">"), std::string::npos);
    EXPECT_NE(body.find("<e:property><SourceProtocolInfo>a&lt;b&gt;&amp;&quot;c&quot;</SourceProtocolInfo></e:property>"),
              std::string::npos);
    EXPECT_NE(body.find("<e:property><X></X></e:property>"), std::string::npos);
}

// A callback on loopback that records each NOTIFY and answers 200, or
// (silent) takes the connection and never answers.
class CCallbackServer {
public:
    explicit CCallbackServer(bool silent) : m_silent(silent)
    {
        m_acceptor.open(tcp::v4());
        m_acceptor.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        m_acceptor.listen();
        Accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~CCallbackServer()
    {
        boost::asio::post(m_io, [this] { m_io.stop(); });
        m_thread.join();
    }
    std::uint16_t Port() const { return m_acceptor.local_endpoint().port(); }
    // The next NOTIFY received whole, or "" after a time.
    std::string Next()
    {
        std::unique_lock lock(m_lock);
        if (!m_arrived.wait_for(lock, 20s, [this] { return !m_messages.empty(); }))
            return "";
        std::string message = m_messages.front();
        m_messages.erase(m_messages.begin());
        return message;
    }

private:
    using tcp = boost::asio::ip::tcp;
    struct SPeer {
        tcp::socket socket;
        std::string data;
    };

    void Accept()
    {
        m_acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec)
                return;
            auto peer = std::make_shared<SPeer>(SPeer{std::move(socket), {}});
            m_peers.push_back(peer);
            if (!m_silent)
                ReadSome(peer);
            Accept();
        });
    }
    void ReadSome(std::shared_ptr<SPeer> peer)
    {
        auto buffer = std::make_shared<std::array<char, 4096>>();
        peer->socket.async_read_some(boost::asio::buffer(*buffer), [this, peer, buffer](
                                                                       const boost::system::error_code& ec,
                                                                       std::size_t n) {
            peer->data.append(buffer->data(), n);
            const auto head = peer->data.find("\r\n\r\n");
            std::smatch length;
            const std::string headers = head == std::string::npos ? "" : peer->data.substr(0, head);
            if (head != std::string::npos && std::regex_search(headers, length, std::regex("CONTENT-LENGTH: (\\d+)")) &&
                peer->data.size() >= head + 4 + std::stoul(length[1].str())) {
                static const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                boost::asio::async_write(peer->socket, boost::asio::buffer(ok),
                                         [](const boost::system::error_code&, std::size_t) {});
                std::lock_guard guard(m_lock);
                m_messages.push_back(peer->data);
                m_arrived.notify_all();
                return;
            }
            if (!ec)
                ReadSome(peer);
        });
    }

    bool m_silent;
    boost::asio::io_context m_io;
    tcp::acceptor m_acceptor{m_io};
    std::vector<std::shared_ptr<SPeer>> m_peers;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<std::string> m_messages;
};

TEST(EventPublisher, DeliversTheInitialEventAndLaterChangesPastADeadSubscriber)
{
    CCallbackServer dead(true);
    CCallbackServer live(false);
    std::atomic<unsigned> updateId{3};
    CEventPublisher publisher(
        {{"SystemUpdateID", [&] { return std::to_string(updateId.load()); }},
         {"ContainerUpdateIDs", [] { return std::string("0,3"); }}},
        Loopback, [](const std::string&) {});
    auto subscribe = [&](std::uint16_t port) {
        SRequest request = Request("SUBSCRIBE", {{"CALLBACK", "<http://127.0.0.1:" + std::to_string(port) + "/cb>"},
                                                 {"NT", "upnp:event"}});
        SAnswer answer = publisher.Handle(request);
        EXPECT_EQ(answer.status, 200u) << answer.log;
        if (answer.sent)
            answer.sent();
        return HeaderOf(answer, "SID");
    };
    // The dead one first: its time-out must not keep the live one waiting
    // for ever, nor the request that subscribed.
    subscribe(dead.Port());
    const std::string sid = subscribe(live.Port());

    const std::string first = live.Next();
    ASSERT_FALSE(first.empty()) << "no initial event";
    EXPECT_NE(first.find("\r\nSID: " + sid + "\r\n"), std::string::npos);
    EXPECT_NE(first.find("\r\nSEQ: 0\r\n"), std::string::npos);
    EXPECT_NE(first.find("<SystemUpdateID>3</SystemUpdateID>"), std::string::npos);
    EXPECT_NE(first.find("<ContainerUpdateIDs>0,3</ContainerUpdateIDs>"), std::string::npos);

    updateId = 4;
    const std::string second = live.Next();
    ASSERT_FALSE(second.empty()) << "no event for the change";
    EXPECT_NE(second.find("\r\nSEQ: 1\r\n"), std::string::npos);
    EXPECT_NE(second.find("<SystemUpdateID>4</SystemUpdateID>"), std::string::npos);
    EXPECT_EQ(second.find("ContainerUpdateIDs"), std::string::npos) << "it did not change";

    SRequest other = Request("SUBSCRIBE", {});
    other.path = "/upnp/event/AVTransport";
    EXPECT_EQ(publisher.Handle(other).status, 404u);
    publisher.Stop();
}

}  // namespace
