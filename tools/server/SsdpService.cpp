#include "SsdpService.h"

#include "HttpRules.h"
#include "platform/network.h"

#include <utility>  // Boost.Asio of Debian 12 uses std::exchange without it

#include <boost/asio.hpp>

#include <array>
#include <chrono>
#include <ctime>
#include <random>
#include <thread>

namespace mediahost::server {
namespace {

namespace net = boost::asio;
using udp = net::ip::udp;
using namespace std::chrono_literals;

constexpr std::chrono::seconds SSDP_REANNOUNCE{ssdp::SSDP_MAX_AGE / 3};
constexpr std::size_t MAX_PENDING_SEARCHES = 64;
constexpr auto REPEAT_SPACING = 150ms;  // between the two copies of an announcement
constexpr auto QUIET_LOG = 10s;         // least time between two lines about ignored searches

}  // namespace

struct CSsdpService::SImpl {
    struct SSender {
        ssdp::SServedAddress served;
        udp::socket socket;
        std::string location;
    };

    explicit SImpl(SOptions o) : options(std::move(o)), random(std::random_device{}()) {}

    void Log(const std::string& line) const
    {
        if (options.log)
            options.log("SSDP " + line);
    }

    // A line about searches this server does not answer: they can come in
    // floods, so at most one each QUIET_LOG, with the count of the others.
    void LogIgnored(const std::string& line)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastIgnoredLog < QUIET_LOG) {
            ++ignoredSinceLog;
            return;
        }
        Log(line + (ignoredSinceLog ? " (and " + std::to_string(ignoredSinceLog) + " more ignored)" : ""));
        lastIgnoredLog = now;
        ignoredSinceLog = 0;
    }

    bool Open(std::string& why)
    {
        boost::system::error_code ec;
        receiver.open(udp::v4(), ec);
        if (!ec)
            receiver.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            receiver.bind(udp::endpoint(net::ip::address_v4::any(), ssdp::SSDP_PORT), ec);
        if (ec) {
            why = "cannot receive on UDP port " + std::to_string(ssdp::SSDP_PORT) + ": " + ec.message();
            return false;
        }
        const auto group = net::ip::make_address_v4(ssdp::SSDP_GROUP);
        for (const ssdp::SServedAddress& served : options.served) {
            const auto outbound = net::ip::address_v4(served.interfaceAddress);
            receiver.set_option(net::ip::multicast::join_group(group, outbound), ec);
            // A second address of an interface already joined is no failure.
            if (ec && ec != net::error::address_in_use) {
                Log("not on " + outbound.to_string() + ": cannot join the group there: " + ec.message());
                continue;
            }
            auto sender = std::make_unique<SSender>(SSender{served, udp::socket(io), {}});
            sender->location = ssdp::Location(served.address, options.httpPort);
            udp::socket& socket = sender->socket;
            socket.open(udp::v4(), ec);
            if (!ec)
                socket.bind(udp::endpoint(net::ip::address_v4(served.address), 0), ec);
            // The interface must be set, or the system would pick one by its
            // routes: announcements go only where the server is served.
            if (!ec)
                socket.set_option(net::ip::multicast::outbound_interface(outbound), ec);
            if (!ec)
                socket.set_option(net::ip::multicast::hops(2), ec);
            if (!ec)
                socket.set_option(net::ip::multicast::enable_loopback(true), ec);
            if (ec) {
                Log("not on " + outbound.to_string() + ": " + ec.message());
                continue;
            }
            Log("on " + outbound.to_string() + ", LOCATION " + sender->location);
            senders.push_back(std::move(sender));
        }
        if (senders.empty()) {
            why = "no served address can take SSDP";
            return false;
        }
        return true;
    }

    void SendToGroup(SSender& sender, const std::string& message)
    {
        boost::system::error_code ec;
        sender.socket.send_to(net::buffer(message),
                              udp::endpoint(net::ip::make_address_v4(ssdp::SSDP_GROUP), ssdp::SSDP_PORT), 0, ec);
        if (ec)
            LogIgnored("announcement from " + net::ip::address_v4(sender.served.address).to_string() +
                       " not sent: " + ec.message());
    }

    void Announce(bool alive)
    {
        for (auto& sender : senders) {
            for (const ssdp::SNotificationRow& row : ssdp::NOTIFICATIONS)
                SendToGroup(*sender, alive ? ssdp::AliveMessage(row, options.device, sender->location)
                                           : ssdp::ByebyeMessage(row, options.device));
        }
    }

    // Alive now and once more shortly, then again each SSDP_REANNOUNCE with
    // up to a tenth of it at random, so servers started together spread out.
    void ScheduleAnnouncements(bool repeat)
    {
        Announce(true);
        std::uniform_int_distribution<long long> jitter(0, SSDP_REANNOUNCE.count() * 100);
        const auto next = repeat ? std::chrono::duration_cast<std::chrono::steady_clock::duration>(REPEAT_SPACING)
                                 : std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       SSDP_REANNOUNCE - std::chrono::milliseconds(jitter(random)));
        announceTimer.expires_after(next);
        announceTimer.async_wait([this](const boost::system::error_code& ec) {
            if (!ec)
                ScheduleAnnouncements(false);
        });
    }

    void Receive()
    {
        receiver.async_receive_from(net::buffer(buffer), from, [this](const boost::system::error_code& ec,
                                                                      std::size_t size) {
            if (ec == net::error::operation_aborted || !receiver.is_open())
                return;
            // Other errors belong to one datagram (too long, a port that
            // refused an earlier answer on Windows): the next one is read.
            if (!ec)
                OnDatagram(std::string_view(buffer.data(), size), from);
            Receive();
        });
    }

    void OnDatagram(std::string_view datagram, const udp::endpoint& asker)
    {
        const ssdp::SSearch search = ssdp::ReadSearch(datagram);
        if (search.kind == ssdp::SSearch::NOT_A_SEARCH || !asker.address().is_v4() || asker.port() == 0)
            return;
        const std::string who = asker.address().to_string() + ":" + std::to_string(asker.port());
        std::vector<ssdp::SServedAddress> served;
        for (const auto& sender : senders)
            served.push_back(sender->served);
        const auto answering = ssdp::AnsweringAddress(served, asker.address().to_v4().to_uint());
        if (!answering)
            return;  // not a network this server offers itself to
        if (search.kind == ssdp::SSearch::MALFORMED) {
            LogIgnored("malformed search from " + who + " not answered: " + search.why);
            return;
        }
        const std::vector<std::size_t> rows = ssdp::MatchingRows(search.target, options.device);
        if (rows.empty())
            return;
        if (pending >= MAX_PENDING_SEARCHES) {
            LogIgnored("search from " + who + " not answered: " + std::to_string(pending) + " answers wait already");
            return;
        }
        std::chrono::milliseconds delay{0};
        if (search.multicast && search.delayWindow > 0)
            delay = std::chrono::milliseconds(
                std::uniform_int_distribution<long long>(0, search.delayWindow * 1000LL - 1)(random));
        auto timer = std::make_shared<net::steady_timer>(io, delay);
        ++pending;
        timer->async_wait([this, timer, rows, asker, who, target = search.target, delay,
                           sender = senders[*answering].get()](const boost::system::error_code& ec) {
            --pending;
            if (ec)
                return;
            const std::string date = http::HttpDate(std::time(nullptr));
            std::size_t sent = 0;
            for (std::size_t row : rows) {
                boost::system::error_code error;
                sender->socket.send_to(
                    net::buffer(ssdp::SearchAnswer(ssdp::NOTIFICATIONS[row], options.device, sender->location, date)),
                    asker, 0, error);
                sent += error ? 0 : 1;
            }
            Log("search for " + target + " from " + who + ": " + std::to_string(sent) + " answer(s) after " +
                std::to_string(delay.count()) + " ms, LOCATION " + sender->location);
        });
    }

    void Close()
    {
        boost::system::error_code ignored;
        announceTimer.cancel();
        receiver.close(ignored);
        // Twice, as on the way up: a lost byebye leaves the device listed
        // until its announcement expires.
        Announce(false);
        std::this_thread::sleep_for(REPEAT_SPACING);
        Announce(false);
        for (auto& sender : senders)
            sender->socket.close(ignored);
        io.stop();
    }

    SOptions options;
    net::io_context io{1};
    udp::socket receiver{io};
    std::vector<std::unique_ptr<SSender>> senders;
    net::steady_timer announceTimer{io};
    std::array<char, 2048> buffer{};
    udp::endpoint from;
    std::mt19937 random;
    std::size_t pending = 0;
    std::chrono::steady_clock::time_point lastIgnoredLog{};
    std::size_t ignoredSinceLog = 0;
    std::thread thread;
};

CSsdpService::CSsdpService(SOptions options) : m_impl(std::make_unique<SImpl>(std::move(options))) {}

CSsdpService::~CSsdpService()
{
    Stop();
}

bool CSsdpService::Start(std::string& why)
{
    if (m_impl->thread.joinable())
        return true;
    if (!m_impl->Open(why))
        return false;
    m_impl->ScheduleAnnouncements(true);
    m_impl->Receive();
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->io.run(); });
    return true;
}

void CSsdpService::Stop()
{
    if (!m_impl->thread.joinable())
        return;
    net::post(m_impl->io, [impl = m_impl.get()] { impl->Close(); });
    m_impl->thread.join();
}

}  // namespace mediahost::server
