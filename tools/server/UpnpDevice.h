// The UPnP device the media server is, put together: its identity, the
// description documents, the event publisher and SSDP, over the networks
// --bind covers. The server registers Description and Event as the
// handlers of their paths (Device.h), starts discovery once its HTTP
// listener has a port, and stops the device before it returns.
//
// Choices made here:
// - The served networks are read once, at the start: an interface that
//   comes up later is served after a restart. 0.0.0.0 serves every IPv4
//   interface that takes multicast, and loopback.
// - An IPv6 --bind gets no discovery (SSDP here is IPv4) and no event
//   callbacks, which must be of the listener's address family.
// - When SSDP cannot start (UDP 1900 taken without sharing, no interface
//   that takes multicast) the server goes on without it and says why: a TV
//   cannot find it, but an address typed in still works.
#pragma once

#include "Description.h"
#include "EventPublisher.h"
#include "SsdpService.h"

#include <filesystem>
#include <memory>

namespace mediahost::server {

struct SUpnpDeviceOptions {
    std::filesystem::path folder;  // the served folder, as the server resolved it
    std::string friendlyName;      // empty: "VskMediaHost on HOSTNAME"
    std::string bind;              // the HTTP listener's address
    bool discovery = true;
    CEventPublisher::SProviders providers;  // the evented variables' values
    std::function<void(const std::string&)> log;
};

class CUpnpDevice {
public:
    explicit CUpnpDevice(SUpnpDeviceOptions options);
    ~CUpnpDevice();  // Stop
    CUpnpDevice(const CUpnpDevice&) = delete;
    CUpnpDevice& operator=(const CUpnpDevice&) = delete;

    const SDeviceIdentity& Identity() const { return m_identity; }

    SAnswer Description(const SRequest& request) const { return m_descriptions.Handle(request); }
    SAnswer Event(const SRequest& request) { return m_events.Handle(request); }

    // Announces the device with LOCATIONs on `httpPort`, unless discovery is off.
    void StartDiscovery(std::uint16_t httpPort);
    // ssdp:byebye, and no event after it.
    void Stop();

private:
    SUpnpDeviceOptions m_options;
    std::vector<ssdp::SServedAddress> m_served;
    SDeviceIdentity m_identity;
    CDescriptions m_descriptions;
    CEventPublisher m_events;
    std::unique_ptr<CSsdpService> m_ssdp;
};

}  // namespace mediahost::server
