#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/network.h"

namespace {

TEST(NetworkText, Ipv4TextIsReadOnlyInItsPlainDecimalForm)
{
    struct SCase {
        const char* text;
        bool valid;
        unsigned char bytes[4];
    };
    const SCase cases[] = {
        {"127.0.0.1", true, {127, 0, 0, 1}},
        {"0.0.0.0", true, {0, 0, 0, 0}},
        {"255.255.255.255", true, {255, 255, 255, 255}},
        {"192.168.100.9", true, {192, 168, 100, 9}},
        {"256.0.0.1", false, {}},
        {"1.2.3", false, {}},
        {"1.2.3.4.", false, {}},
        {".1.2.3.4", false, {}},
        {"1..2.3", false, {}},
        {"1.2.3.4 ", false, {}},
        {" 1.2.3.4", false, {}},
        {"+1.2.3.4", false, {}},
        {"010.0.0.1", false, {}},   // octal to inet_aton: 8.0.0.1
        {"0x7f.0.0.1", false, {}},  // hex to inet_aton
        {"1.2.3.0004", false, {}},
        {"", false, {}},
        {"localhost", false, {}},
    };
    for (const SCase& c : cases) {
        std::uint32_t address = 0xDEADBEEF;
        EXPECT_EQ(platform::ParseIpv4(c.text, address), c.valid) << c.text;
        if (!c.valid)
            continue;
        const std::uint32_t expected = (std::uint32_t{c.bytes[0]} << 24) | (std::uint32_t{c.bytes[1]} << 16) |
                                       (std::uint32_t{c.bytes[2]} << 8) | c.bytes[3];
        EXPECT_EQ(address, expected) << c.text;
        EXPECT_EQ(platform::FormatIpv4(address), c.text);
    }
}

// What `ip` printed for the same machine just before the test ran: the
// addresses of the interfaces that are up, and each interface's flags.
struct SIpReading {
    std::map<std::string, std::string> flags;  // interface -> "LOOPBACK,UP,LOWER_UP"
    std::set<std::pair<std::uint32_t, unsigned>> addresses;
    std::map<std::uint32_t, std::string> interfaceOf;
    std::string hostName;
};

bool ReadIpReading(SIpReading& reading)
{
    const char* path = std::getenv("VSK_IP_READING");
    if (path == nullptr)
        return false;
    std::ifstream file(path);
    const std::regex address(R"(^\d+: (\S+)\s+inet (\d+\.\d+\.\d+\.\d+)/(\d+) )");
    const std::regex link(R"(^\d+: ([^:@]+)(@\S+)?: <([^>]*)>)");
    const std::regex host(R"(^host (\S+))");
    std::string line;
    bool any = false;
    while (std::getline(file, line)) {
        std::smatch m;
        if (std::regex_search(line, m, address)) {
            std::uint32_t value = 0;
            std::istringstream parts(m[2].str());
            for (std::string part; std::getline(parts, part, '.');)
                value = (value << 8) | static_cast<std::uint32_t>(std::stoul(part));
            reading.addresses.insert({value, static_cast<unsigned>(std::stoul(m[3].str()))});
            reading.interfaceOf[value] = m[1].str();
            any = true;
        } else if (std::regex_search(line, m, link)) {
            reading.flags[m[1].str()] = "," + m[3].str() + ",";
        } else if (std::regex_search(line, m, host)) {
            reading.hostName = m[1].str();
        }
    }
    return any;
}

unsigned PrefixLength(std::uint32_t mask)
{
    unsigned n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0)
        ++n;
    return n;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

TEST(NetworkAddresses, AreTheAddressesIpReadsWithTheirMasksAndFlags)
{
    const std::vector<platform::SNetworkAddress> found = platform::NetworkAddresses();
    const auto loopback = std::find_if(found.begin(), found.end(),
                                       [](const platform::SNetworkAddress& a) { return a.address == 0x7F000001u; });
    ASSERT_NE(loopback, found.end()) << "no 127.0.0.1 among " << found.size() << " addresses";
    EXPECT_TRUE(loopback->loopback);
    EXPECT_EQ(loopback->mask, 0xFF000000u);
    for (const platform::SNetworkAddress& a : found) {
        // Contiguous ones, the address inside its own subnet.
        EXPECT_EQ(a.mask, a.mask == 0 ? 0u : ~(0xFFFFFFFFu >> PrefixLength(a.mask))) << platform::FormatIpv4(a.address);
        EXPECT_EQ(a.loopback, (a.address >> 24) == 127) << platform::FormatIpv4(a.address);
    }

    SIpReading reading;
    if (!ReadIpReading(reading))
        GTEST_SKIP() << "no reading of `ip` to compare with (VSK_IP_READING)";
    std::set<std::pair<std::uint32_t, unsigned>> ours;
    for (const platform::SNetworkAddress& a : found)
        ours.insert({a.address, PrefixLength(a.mask)});
    EXPECT_EQ(ours, reading.addresses);
    // Windows (and so Wine) takes multicast on loopback whatever Linux's
    // flag says; every other interface has the flag Linux gives it.
    for (const platform::SNetworkAddress& a : found) {
        if (a.loopback)
            continue;
        const std::string& flags = reading.flags[reading.interfaceOf[a.address]];
        EXPECT_EQ(a.multicast, flags.find(",MULTICAST,") != std::string::npos) << platform::FormatIpv4(a.address) << flags;
    }
}

TEST(Machine, NamesItselfTheSameWayEachTime)
{
    const std::wstring host = platform::HostName();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(platform::HostName(), host);
    const std::wstring id = platform::MachineId();
    ASSERT_FALSE(id.empty()) << "neither a machine-id file nor a MachineGuid";
    EXPECT_EQ(platform::MachineId(), id);
    const std::string version = Narrow(platform::SystemVersion());
    EXPECT_TRUE(std::regex_match(version, std::regex(R"((Linux|Windows)/\d+(\.\d+)*)"))) << version;

    SIpReading reading;
    if (ReadIpReading(reading) && !reading.hostName.empty()) {
        // Windows keeps the case of the DNS host name but no domain.
        std::string ours = Narrow(host);
        std::string theirs = reading.hostName.substr(0, reading.hostName.find('.'));
        auto lower = [](std::string s) {
            std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            return s;
        };
        EXPECT_EQ(lower(ours.substr(0, ours.find('.'))), lower(theirs));
    }
}

}  // namespace
