#include "UpnpDevice.h"

#include "Utf8.h"
#include "platform/machine.h"
#include "platform/network.h"

#include <ctime>

namespace mediahost::server {
namespace {

std::vector<ssdp::SServedAddress> Served(const std::string& bind)
{
    std::uint32_t address = 0;
    if (!platform::ParseIpv4(bind, address))
        return {};  // IPv6: neither SSDP nor callbacks
    std::vector<ssdp::SInterfaceAddress> interfaces;
    for (const platform::SNetworkAddress& a : platform::NetworkAddresses())
        interfaces.push_back({a.address, a.mask, a.loopback, a.multicast});
    return ssdp::ServedAddresses(interfaces, address);
}

}  // namespace

CUpnpDevice::CUpnpDevice(SUpnpDeviceOptions options)
    : m_options(std::move(options)),
      m_served(Served(m_options.bind)),
      m_identity(MakeDeviceIdentity(ToUtf8(platform::MachineId()), ToUtf8(platform::HostName()),
                                    Utf8FromPath(m_options.folder), m_options.friendlyName,
                                    ToUtf8(platform::SystemVersion()))),
      m_descriptions(m_identity),
      m_events(m_options.providers,
               [served = m_served](std::uint32_t callback, std::uint32_t subscriber) {
                   const auto network = ssdp::AnsweringAddress(served, callback);
                   return network && network == ssdp::AnsweringAddress(served, subscriber);
               },
               m_options.log)
{
}

CUpnpDevice::~CUpnpDevice()
{
    Stop();
}

void CUpnpDevice::StartDiscovery(std::uint16_t httpPort)
{
    if (!m_options.discovery) {
        m_options.log("SSDP off (--no-discovery): found only at its address");
        return;
    }
    if (m_served.empty()) {
        m_options.log("SSDP off: no IPv4 interface holds " + m_options.bind);
        return;
    }
    CSsdpService::SOptions ssdpOptions;
    ssdpOptions.served = m_served;
    ssdpOptions.httpPort = httpPort;
    ssdpOptions.device.udn = m_identity.udn;
    ssdpOptions.device.server = m_identity.server;
    // Seconds since 1970 grow with every start, as a boot id must (within
    // the 31 bits UDA allows, until 2038).
    ssdpOptions.device.bootId = static_cast<std::uint32_t>(std::time(nullptr)) & 0x7FFFFFFFu;
    ssdpOptions.device.configId = ssdp::ConfigId(m_descriptions.Device());
    ssdpOptions.log = m_options.log;
    m_ssdp = std::make_unique<CSsdpService>(std::move(ssdpOptions));
    std::string why;
    if (!m_ssdp->Start(why)) {
        m_options.log("SSDP off: " + why);
        m_ssdp.reset();
        return;
    }
    m_options.log("SSDP announces " + m_identity.udn + " \"" + m_identity.friendlyName + "\"");
}

void CUpnpDevice::Stop()
{
    if (m_ssdp) {
        m_ssdp->Stop();
        m_ssdp.reset();
    }
    m_events.Stop();
}

}  // namespace mediahost::server
