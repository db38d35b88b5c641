#include "Events.h"

#include "Device.h"
#include "TextEscape.h"
#include "platform/network.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace mediahost::server {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::seconds TIMEOUT_DEFAULT{1800};
constexpr std::chrono::seconds TIMEOUT_LEAST{60};
constexpr auto INITIAL_EVENT_FALLBACK = 1s;
constexpr auto EVENT_SPACING = 2s;
constexpr std::size_t MAX_CALLBACKS = 4;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

std::chrono::seconds GrantedTimeout(std::optional<std::string_view> asked)
{
    if (!asked || !StartsWithNoCase(*asked, "Second-"))
        return TIMEOUT_DEFAULT;
    const std::string_view number = asked->substr(7);
    unsigned long long seconds = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), seconds);
    if (ec != std::errc() || end != number.data() + number.size())
        return TIMEOUT_DEFAULT;  // "infinite" and anything unreadable
    return std::clamp(std::chrono::seconds(static_cast<long long>(std::min<unsigned long long>(seconds, 86400))),
                      TIMEOUT_LEAST, TIMEOUT_DEFAULT);
}

SAnswer Refusal(unsigned status, std::string why)
{
    SAnswer answer;
    answer.status = status;
    answer.log = std::move(why);
    return answer;
}

// "http://1.2.3.4:5/path" -> the callback; nullopt when this server cannot
// call it.
std::optional<SCallback> ReadCallbackUrl(std::string_view url)
{
    if (!StartsWithNoCase(url, "http://"))
        return std::nullopt;
    url.remove_prefix(7);
    const auto slash = url.find('/');
    const std::string_view authority = url.substr(0, slash);
    SCallback callback;
    callback.path = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
    if (callback.path.find_first_of(" \t\r\n") != std::string::npos)
        return std::nullopt;
    const auto colon = authority.find(':');
    if (!platform::ParseIpv4(std::string(authority.substr(0, colon)), callback.address))
        return std::nullopt;
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
            return std::nullopt;
        callback.port = static_cast<std::uint16_t>(value);
    }
    return callback;
}

}  // namespace

std::optional<std::vector<SCallback>> ReadCallbacks(std::string_view value)
{
    std::vector<SCallback> callbacks;
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    if (value.empty())
        return std::nullopt;
    while (!value.empty()) {
        if (value.front() != '<')
            return std::nullopt;
        const auto close = value.find('>');
        if (close == std::string_view::npos)
            return std::nullopt;
        if (auto callback = ReadCallbackUrl(value.substr(1, close - 1)))
            callbacks.push_back(std::move(*callback));
        value.remove_prefix(close + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
    }
    return callbacks;
}

std::string EventRequest(const SCallback& callback, std::string_view sid, std::uint32_t seq,
                         const SVariables& variables)
{
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n";
    for (const auto& [name, value] : variables)
        body += "<e:property><" + name + ">" + EscapeMarkup(value) + "</" + name + "></e:property>\n";
    body += "</e:propertyset>\n";
    return "NOTIFY " + callback.path + " HTTP/1.1\r\nHOST: " + platform::FormatIpv4(callback.address) + ":" +
           std::to_string(callback.port) +
           "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\nSID: " +
           std::string(sid) + "\r\nSEQ: " + std::to_string(seq) + "\r\nCONTENT-LENGTH: " +
           std::to_string(body.size()) + "\r\nCONNECTION: close\r\n\r\n" + body;
}

void CContainerUpdates::Record(const std::vector<std::pair<std::string, std::uint32_t>>& containers)
{
    std::lock_guard guard(m_lock);
    for (const auto& change : containers) {
        std::erase_if(m_latest, [&](const auto& kept) { return kept.first == change.first; });
        m_latest.insert(m_latest.begin(), change);
    }
    if (m_latest.size() > CONTAINER_UPDATES_KEPT)
        m_latest.resize(CONTAINER_UPDATES_KEPT);
}

std::string CContainerUpdates::Value() const
{
    std::lock_guard guard(m_lock);
    std::string value;
    for (const auto& [id, updateId] : m_latest)
        value += (value.empty() ? "" : ",") + id + "," + std::to_string(updateId);
    return value;
}

CSubscriptions::CSubscriptions(std::function<bool(std::uint32_t, std::uint32_t)> callbackAllowed)
    : m_callbackAllowed(std::move(callbackAllowed))
{
}

SAnswer CSubscriptions::Handle(std::size_t service, const SRequest& request, Clock::time_point now,
                               const std::string& newSid)
{
    const auto sid = request.Header("SID");
    const auto nt = request.Header("NT");
    const auto callbackHeader = request.Header("CALLBACK");
    const bool subscribe = request.method == "SUBSCRIBE";
    if (!subscribe && request.method != "UNSUBSCRIBE") {
        SAnswer answer = Refusal(405, "events take SUBSCRIBE and UNSUBSCRIBE");
        answer.headers.emplace_back("Allow", "SUBSCRIBE, UNSUBSCRIBE");
        return answer;
    }
    if (sid && (nt || callbackHeader))
        return Refusal(400, "SID together with NT or CALLBACK");

    std::lock_guard guard(m_lock);
    Expire(now);
    if (sid) {
        const auto found = m_subscriptions.find(std::string(*sid));
        if (found == m_subscriptions.end() || found->second.service != service)
            return Refusal(412, "no subscription " + std::string(*sid));
        if (!subscribe) {
            m_subscriptions.erase(found);
            SAnswer answer;
            answer.log = "unsubscribed " + std::string(*sid);
            return answer;
        }
        const auto timeout = GrantedTimeout(request.Header("TIMEOUT"));
        found->second.expires = now + timeout;
        SAnswer answer;
        answer.headers = {{"SID", std::string(*sid)}, {"TIMEOUT", "Second-" + std::to_string(timeout.count())}};
        answer.log = "renewed " + std::string(*sid) + " for " + std::to_string(timeout.count()) + " s";
        return answer;
    }
    if (!subscribe)
        return Refusal(412, "UNSUBSCRIBE without SID");
    if (!nt || *nt != "upnp:event")
        return Refusal(412, "NT is not upnp:event");
    if (!callbackHeader)
        return Refusal(412, "no CALLBACK");
    auto callbacks = ReadCallbacks(*callbackHeader);
    if (!callbacks)
        return Refusal(412, "CALLBACK is not a list of <URL>s");
    // "ADDR:PORT"; a subscriber whose address is no IPv4 one is called back nowhere.
    std::uint32_t subscriber = 0;
    const bool knownSubscriber = platform::ParseIpv4(request.peer.substr(0, request.peer.rfind(':')), subscriber);
    callbacks->erase(std::remove_if(callbacks->begin(), callbacks->end(),
                                    [&](const SCallback& c) {
                                        return !knownSubscriber || !m_callbackAllowed(c.address, subscriber);
                                    }),
                     callbacks->end());
    if (callbacks->empty())
        return Refusal(412, "no CALLBACK URL on the subscriber's own network, served here");
    if (callbacks->size() > MAX_CALLBACKS)
        callbacks->resize(MAX_CALLBACKS);
    const auto count = std::count_if(m_subscriptions.begin(), m_subscriptions.end(),
                                     [&](const auto& entry) { return entry.second.service == service; });
    if (static_cast<std::size_t>(count) >= MAX_SUBSCRIPTIONS)
        return Refusal(503, "too many subscriptions to " + std::string(SERVICES[service].name));

    const auto timeout = GrantedTimeout(request.Header("TIMEOUT"));
    SSubscription subscription;
    subscription.service = service;
    subscription.callbacks = std::move(*callbacks);
    subscription.initialAt = now + INITIAL_EVENT_FALLBACK;
    subscription.expires = now + timeout;
    m_subscriptions[newSid] = std::move(subscription);
    SAnswer answer;
    answer.headers = {{"SID", newSid}, {"TIMEOUT", "Second-" + std::to_string(timeout.count())}};
    answer.log = "subscribed " + newSid + " to " + std::string(SERVICES[service].name) + " for " +
                 std::to_string(timeout.count()) + " s";
    return answer;
}

void CSubscriptions::Answered(const std::string& sid, Clock::time_point now)
{
    std::lock_guard guard(m_lock);
    const auto found = m_subscriptions.find(sid);
    if (found != m_subscriptions.end())
        found->second.initialAt = std::min(found->second.initialAt, now + INITIAL_EVENT_DELAY);
}

std::vector<CSubscriptions::SDelivery> CSubscriptions::Due(Clock::time_point now,
                                                           const std::vector<SVariables>& current)
{
    std::vector<SDelivery> due;
    std::lock_guard guard(m_lock);
    Expire(now);
    for (auto& [sid, s] : m_subscriptions) {
        if (s.service >= current.size())
            continue;
        const SVariables& values = current[s.service];
        SDelivery delivery;
        if (!s.initialSent) {
            if (now < s.initialAt)
                continue;
            delivery.variables = values;
            s.initialSent = true;
        } else {
            if (now < s.lastEvent + EVENT_SPACING)
                continue;
            for (const auto& variable : values) {
                const auto heard = std::find_if(s.sent.begin(), s.sent.end(),
                                                [&](const auto& v) { return v.first == variable.first; });
                if (heard == s.sent.end() || heard->second != variable.second)
                    delivery.variables.push_back(variable);
            }
            if (delivery.variables.empty())
                continue;
        }
        delivery.sid = sid;
        delivery.callbacks = s.callbacks;
        delivery.seq = s.seq;
        s.seq = s.seq == 0xFFFFFFFFu ? 1 : s.seq + 1;
        s.sent = values;
        s.lastEvent = now;
        due.push_back(std::move(delivery));
    }
    return due;
}

bool CSubscriptions::Any(std::size_t service) const
{
    std::lock_guard guard(m_lock);
    return std::any_of(m_subscriptions.begin(), m_subscriptions.end(),
                       [&](const auto& entry) { return entry.second.service == service; });
}

std::size_t CSubscriptions::Count() const
{
    std::lock_guard guard(m_lock);
    return m_subscriptions.size();
}

void CSubscriptions::Expire(Clock::time_point now)
{
    std::erase_if(m_subscriptions, [&](const auto& entry) { return entry.second.expires <= now; });
}

}  // namespace mediahost::server
