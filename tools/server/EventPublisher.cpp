#include "EventPublisher.h"

#include "Device.h"
#include "platform/network.h"

#include <utility>  // Boost.Asio of Debian 12 uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace mediahost::server {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr auto ROUND = std::chrono::milliseconds(250);

// One NOTIFY, whole, to one callback; true for a 2xx answer.
bool Send(const SCallback& callback, const std::string& message)
{
    net::io_context io;
    tcp::socket socket(io);
    std::string answer;
    bool accepted = false;
    socket.async_connect(tcp::endpoint(net::ip::address_v4(callback.address), callback.port),
                         [&](const boost::system::error_code& ec) {
        if (ec)
            return;
        net::async_write(socket, net::buffer(message), [&](const boost::system::error_code& ec, std::size_t) {
            if (ec)
                return;
            net::async_read_until(socket, net::dynamic_buffer(answer, 4096), "\r\n",
                                  [&](const boost::system::error_code& ec, std::size_t) {
                // "HTTP/1.1 200 OK"
                accepted = !ec && answer.rfind("HTTP/1.", 0) == 0 && answer.size() > 9 && answer[9] == '2';
            });
        });
    });
    io.run_for(NOTIFY_TIMEOUT);
    return accepted;
}

}  // namespace

CEventPublisher::CEventPublisher(SProviders providers, std::function<bool(std::uint32_t, std::uint32_t)> callbackAllowed,
                                 std::function<void(const std::string&)> log)
    : m_providers(std::move(providers)),
      m_log(std::move(log)),
      m_subscriptions(std::move(callbackAllowed)),
      m_thread([this] { Run(); })
{
}

CEventPublisher::~CEventPublisher()
{
    Stop();
}

void CEventPublisher::Stop()
{
    {
        std::lock_guard guard(m_wakeLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

SAnswer CEventPublisher::Handle(const SRequest& request)
{
    for (std::size_t service = 0; service < std::size(SERVICES); ++service) {
        if (request.path != EventPath(SERVICES[service]))
            continue;
        const std::string sid = "uuid:" + boost::uuids::to_string(boost::uuids::random_generator()());
        SAnswer answer = m_subscriptions.Handle(service, request, CSubscriptions::Clock::now(), sid);
        if (answer.status == 200 && !request.Header("SID")) {
            answer.sent = [this, sid] {
                m_subscriptions.Answered(sid, CSubscriptions::Clock::now());
            };
        }
        return answer;
    }
    SAnswer answer;
    answer.status = 404;
    answer.log = "no such event path";
    return answer;
}

void CEventPublisher::Run()
{
    for (;;) {
        {
            std::unique_lock lock(m_wakeLock);
            m_wake.wait_for(lock, ROUND, [this] { return m_stopping; });
            if (m_stopping)
                return;
        }
        std::vector<SVariables> current(std::size(SERVICES));
        for (std::size_t service = 0; service < std::size(SERVICES); ++service) {
            if (!m_subscriptions.Any(service))
                continue;
            for (const SStateVariable& variable : SERVICES[service].variables) {
                if (!variable.sendEvents)
                    continue;
                const auto provider = m_providers.find(variable.name);
                current[service].emplace_back(std::string(variable.name),
                                              provider != m_providers.end() && provider->second ? provider->second()
                                                                                                : std::string());
            }
        }
        for (const CSubscriptions::SDelivery& delivery : m_subscriptions.Due(CSubscriptions::Clock::now(), current)) {
            {
                std::lock_guard guard(m_wakeLock);
                if (m_stopping)
                    return;
            }
            Deliver(delivery);
        }
    }
}

bool CEventPublisher::Deliver(const CSubscriptions::SDelivery& delivery)
{
    for (const SCallback& callback : delivery.callbacks) {
        if (Send(callback, EventRequest(callback, delivery.sid, delivery.seq, delivery.variables))) {
            m_log("event " + std::to_string(delivery.seq) + " to " + delivery.sid + " at " +
                  platform::FormatIpv4(callback.address) + ":" + std::to_string(callback.port));
            return true;
        }
    }
    m_log("event " + std::to_string(delivery.seq) + " to " + delivery.sid + " not delivered: no callback answered within " +
          std::to_string(NOTIFY_TIMEOUT.count()) + " s");
    return false;
}

}  // namespace mediahost::server
