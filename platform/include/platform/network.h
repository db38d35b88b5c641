// The machine's IPv4 addresses, one entry per address of an interface that
// is up: what a server needs to listen on every network it offers itself to
// and to tell an asker the address it can reach. Windows:
// GetAdaptersAddresses; Linux: getifaddrs. Both lists are released before
// the call returns, whatever happens on the way.
//
// Addresses and masks are in host byte order (127.0.0.1 is 0x7F000001), so
// a subnet test is (a & mask) == (b & mask). An interface with no usable
// mask (none reported, or a prefix that is not contiguous) gets the host
// mask 255.255.255.255: a subnet of itself, never the whole network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct SNetworkAddress {
    std::wstring interfaceName;  // "lo", "eth0"; on Windows the adapter's friendly name
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    bool loopback = false;
    bool multicast = false;  // the interface takes multicast (on Linux loopback only once told so)
};

// Empty when the system's list cannot be had.
std::vector<SNetworkAddress> NetworkAddresses();

// "192.168.1.20".
std::string FormatIpv4(std::uint32_t address);
// False for anything but four decimal numbers 0-255 separated by dots, each
// without a leading zero (which some readers take for octal).
bool ParseIpv4(const std::string& text, std::uint32_t& address);

}  // namespace platform
