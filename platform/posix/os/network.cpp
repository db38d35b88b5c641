#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

#include "utf8.h"

namespace platform {

namespace {

struct SFreeAddresses {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

// A mask whose ones are not contiguous describes no subnet.
std::uint32_t UsableMask(std::uint32_t mask)
{
    const std::uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0 && mask != 0 ? mask : 0xFFFFFFFFu;
}

}  // namespace

std::vector<SNetworkAddress> NetworkAddresses()
{
    std::vector<SNetworkAddress> out;
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0)
        return out;
    const std::unique_ptr<ifaddrs, SFreeAddresses> list(raw);
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0)
            continue;
        SNetworkAddress address;
        address.interfaceName = detail::FromUtf8(entry->ifa_name != nullptr ? entry->ifa_name : "");
        address.address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        const std::uint32_t mask =
            entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET
                ? ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr)
                : 0;
        address.mask = UsableMask(mask);
        address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        address.multicast = (entry->ifa_flags & IFF_MULTICAST) != 0;
        out.push_back(std::move(address));
    }
    return out;
}

}  // namespace platform
