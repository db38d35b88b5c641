// GENA events of both services: SUBSCRIBE, its renewal and UNSUBSCRIBE read
// with no socket, the subscriptions kept, and the events each is due; the
// messages those events are sent as. CEventPublisher (EventPublisher.h)
// sends them from a thread of its own.
//
// Choices made here:
// - Status codes as UDA 1.1 lists them: SID together with NT or CALLBACK is
//   400; a new subscription without NT "upnp:event" or without a usable
//   CALLBACK is 412, and so is a renewal or UNSUBSCRIBE with no SID or one
//   that names no live subscription. More than MAX_SUBSCRIPTIONS per service
//   is 503.
// - TIMEOUT: "Second-N" is granted as asked between 60 s and 1800 s (a
//   shorter wish gets 60 s, so a subscriber is not chased by its own
//   expiry; a longer one or "infinite" gets 1800 s); a missing or unreadable
//   one gets 1800 s rather than a refusal.
// - CALLBACK URLs: "http://" with an IPv4 address (no host names: a request
//   never makes this server look a name up), a port, a path. A callback is
//   made only to the network the subscriber itself is on, and only where
//   that is a network the server listens on (callbackAllowed(callback,
//   subscriber); the networks SSDP answers on): a subscriber cannot make
//   the server send requests to another network, nor, from the network, to
//   programs of this machine that listen on loopback. URLs that fail that
//   are left out; a subscription needs one that passes. At most four are
//   kept, tried in order.
// - The initial event (SEQ 0, every evented variable) goes a moment
//   (INITIAL_EVENT_DELAY) after the SUBSCRIBE answer has been written
//   (Answered), or a second after the subscription when the caller never
//   says so. Not at once: a subscriber reads the SID from that answer, and
//   one that takes the event first drops it as nobody's (GUPnP answers
//   such an event 200 and forgets it). Later events carry the
//   variables whose value changed, at most one each two seconds per
//   subscription (the moderated rate of SystemUpdateID and
//   ContainerUpdateIDs); SEQ counts on and wraps to 1. A failed delivery
//   keeps the subscription: its SEQ still counts, so the subscriber can
//   tell it missed one.
// - Expired subscriptions are dropped as soon as a request or the
//   publisher's next round sees them.
#pragma once

#include "Exchange.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mediahost::server {

inline constexpr std::size_t MAX_SUBSCRIPTIONS = 64;  // per service
inline constexpr std::chrono::milliseconds INITIAL_EVENT_DELAY{300};

// One CALLBACK URL, read.
struct SCallback {
    std::uint32_t address = 0;  // IPv4, host byte order
    std::uint16_t port = 80;
    std::string path = "/";
};
// The URLs of a CALLBACK value ("<http://a/b><http://c/d>"); nullopt when
// the value is not a list of bracketed URLs. URLs this server cannot call
// (another scheme, a host name) are left out of the list.
std::optional<std::vector<SCallback>> ReadCallbacks(std::string_view value);

// name -> value of the evented variables, in the order of the SCPD.
using SVariables = std::vector<std::pair<std::string, std::string>>;

// The NOTIFY of one event, whole.
std::string EventRequest(const SCallback& callback, std::string_view sid, std::uint32_t seq,
                         const SVariables& variables);

// ContentDirectory's ContainerUpdateIDs: "id,updateId,id,updateId" of the
// containers that changed, the latest first, each once with its newest id.
// The last CONTAINER_UPDATES_KEPT are kept, so an event a subscriber
// receives names every container that changed since the one before it,
// unless more changed in between than that; and a subscriber that missed
// an event still reads, from SystemUpdateID, that it must look again.
// Safe from any thread.
inline constexpr std::size_t CONTAINER_UPDATES_KEPT = 32;

class CContainerUpdates {
public:
    void Record(const std::vector<std::pair<std::string, std::uint32_t>>& containers);
    std::string Value() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::pair<std::string, std::uint32_t>> m_latest;  // latest first
};

class CSubscriptions {
public:
    using Clock = std::chrono::steady_clock;

    // callbackAllowed(callback, subscriber), IPv4 addresses in host order.
    explicit CSubscriptions(std::function<bool(std::uint32_t, std::uint32_t)> callbackAllowed);

    // SUBSCRIBE or UNSUBSCRIBE for service `service` (an index into
    // SERVICES); `newSid` ("uuid:...") names the subscription if one is made.
    SAnswer Handle(std::size_t service, const SRequest& request, Clock::time_point now, const std::string& newSid);
    // The SUBSCRIBE answer of `sid` has gone out at `now`: its initial
    // event may follow.
    void Answered(const std::string& sid, Clock::time_point now);

    struct SDelivery {
        std::string sid;
        std::vector<SCallback> callbacks;
        std::uint32_t seq = 0;
        SVariables variables;
    };
    // The events due at `now`, given each service's current values, and
    // counted as sent. Drops the expired subscriptions first.
    std::vector<SDelivery> Due(Clock::time_point now, const std::vector<SVariables>& current);

    bool Any(std::size_t service) const;
    std::size_t Count() const;

private:
    struct SSubscription {
        std::size_t service = 0;
        std::vector<SCallback> callbacks;
        Clock::time_point initialAt;  // when the initial event may go
        Clock::time_point expires;
        Clock::time_point lastEvent;
        bool initialSent = false;
        std::uint32_t seq = 0;  // of the next event
        SVariables sent;        // the values as the subscriber last heard them
    };

    void Expire(Clock::time_point now);

    std::function<bool(std::uint32_t, std::uint32_t)> m_callbackAllowed;
    mutable std::mutex m_lock;
    std::map<std::string, SSubscription> m_subscriptions;
};

}  // namespace mediahost::server
