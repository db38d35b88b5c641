// SSDP at work: the sockets, the timers and the thread that announce the
// device and answer searches, with every message text from Ssdp.h.
//
// One socket receives on UDP 1900 of every address (shared with other SSDP
// programs of the machine) and joins the group on each served interface;
// each served address has a socket of its own that sends: its
// announcements go out of its interface with its LOCATION, and the answers
// to askers on its network come from it. Announcements: on start (twice, as
// UDP may lose one), then every SSDP_REANNOUNCE give or take a little, well
// within SSDP_MAX_AGE; ssdp:byebye (twice) on Stop. Search answers wait a
// random time within the search's MX; at most MAX_PENDING_SEARCHES wait at
// once, so a flood of searches cannot queue without bound.
#pragma once

#include "Ssdp.h"

#include <functional>
#include <memory>
#include <string>

namespace mediahost::server {

class CSsdpService {
public:
    struct SOptions {
        std::vector<ssdp::SServedAddress> served;
        std::uint16_t httpPort = 0;
        ssdp::SAdvertiser device;
        std::function<void(const std::string&)> log;
    };

    explicit CSsdpService(SOptions options);
    ~CSsdpService();  // Stop
    CSsdpService(const CSsdpService&) = delete;
    CSsdpService& operator=(const CSsdpService&) = delete;

    // Opens the sockets, sends the first announcements and starts the
    // thread. False with the reason when no served address could be used.
    bool Start(std::string& why);
    // Sends ssdp:byebye on every served address and ends the thread.
    void Stop();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_impl;
};

}  // namespace mediahost::server
