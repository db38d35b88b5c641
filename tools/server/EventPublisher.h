// The events at work: the SUBSCRIBE and UNSUBSCRIBE routes of both
// services, and a thread of its own that reads the evented variables from
// their providers and sends each subscriber its events. Every NOTIFY has a
// short time-out (NOTIFY_TIMEOUT for connecting, writing and the answer's
// status line together), so a subscriber that is gone costs this thread a
// few seconds and never holds a request thread.
//
// Providers are called on the publisher's thread, and only while a service
// has subscribers; they must be safe to call from it.
#pragma once

#include "Events.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <thread>

namespace mediahost::server {

inline constexpr std::chrono::seconds NOTIFY_TIMEOUT{3};

class CEventPublisher {
public:
    // Evented variable name ("SystemUpdateID") -> its current value.
    using SProviders = std::map<std::string, std::function<std::string()>, std::less<>>;

    CEventPublisher(SProviders providers, std::function<bool(std::uint32_t, std::uint32_t)> callbackAllowed,
                    std::function<void(const std::string&)> log);
    ~CEventPublisher();
    CEventPublisher(const CEventPublisher&) = delete;
    CEventPublisher& operator=(const CEventPublisher&) = delete;

    // A request to one of the event paths (EventPath of a service).
    SAnswer Handle(const SRequest& request);
    // Ends the thread; no event is sent after it returns.
    void Stop();

private:
    void Run();
    bool Deliver(const CSubscriptions::SDelivery& delivery);

    SProviders m_providers;
    std::function<void(const std::string&)> m_log;
    CSubscriptions m_subscriptions;
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace mediahost::server
