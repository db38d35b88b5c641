#include "platform/network.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <memory>

namespace platform {

namespace {

std::uint32_t MaskOfPrefix(unsigned prefix)
{
    if (prefix == 0 || prefix > 32)
        return 0xFFFFFFFFu;  // no usable mask: the address alone
    return prefix == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix);
}

}  // namespace

std::vector<SNetworkAddress> NetworkAddresses()
{
    std::vector<SNetworkAddress> out;
    constexpr ULONG FLAGS = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list grows between the call that sizes it and the one that fills
    // it when an adapter comes up at that moment: a few tries.
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<unsigned char[]>(size);
        result = ::GetAdaptersAddresses(AF_INET, FLAGS, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result != NO_ERROR)
        return out;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR* raw = unicast->Address.lpSockaddr;
            if (raw == nullptr || raw->sa_family != AF_INET)
                continue;
            SNetworkAddress address;
            address.interfaceName = adapter->FriendlyName != nullptr ? adapter->FriendlyName : L"";
            address.address = ntohl(reinterpret_cast<const sockaddr_in*>(raw)->sin_addr.s_addr);
            address.mask = MaskOfPrefix(unicast->OnLinkPrefixLength);
            address.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            address.multicast = (adapter->Flags & IP_ADAPTER_NO_MULTICAST) == 0;
            out.push_back(std::move(address));
        }
    }
    return out;
}

}  // namespace platform
