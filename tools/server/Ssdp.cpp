#include "Ssdp.h"

#include "platform/network.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace mediahost::server::ssdp {
namespace {

constexpr std::string_view ROOT_DEVICE = "upnp:rootdevice";
constexpr std::string_view SEARCH_ALL = "ssdp:all";

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The headers every message of the device ends with.
std::string Trailer(const SAdvertiser& device)
{
    return "BOOTID.UPNP.ORG: " + std::to_string(device.bootId) + "\r\nCONFIGID.UPNP.ORG: " +
           std::to_string(device.configId) + "\r\n\r\n";
}

}  // namespace

std::string NotificationType(const SNotificationRow& row, const SAdvertiser& device)
{
    switch (row.kind) {
    case ENotification::ROOT_DEVICE:
        return std::string(ROOT_DEVICE);
    case ENotification::DEVICE_UUID:
        return device.udn;
    case ENotification::TYPE:
        break;
    }
    return std::string(row.type);
}

std::string UniqueServiceName(const SNotificationRow& row, const SAdvertiser& device)
{
    return row.kind == ENotification::DEVICE_UUID ? device.udn : device.udn + "::" + NotificationType(row, device);
}

std::string Location(std::uint32_t address, std::uint16_t httpPort)
{
    return "http://" + platform::FormatIpv4(address) + ":" + std::to_string(httpPort) + std::string(DESCRIPTION_PATH);
}

std::string AliveMessage(const SNotificationRow& row, const SAdvertiser& device, std::string_view location)
{
    return "NOTIFY * HTTP/1.1\r\nHOST: " + std::string(SSDP_GROUP) + ":" + std::to_string(SSDP_PORT) +
           "\r\nCACHE-CONTROL: max-age=" + std::to_string(SSDP_MAX_AGE) + "\r\nLOCATION: " + std::string(location) +
           "\r\nNT: " + NotificationType(row, device) + "\r\nNTS: ssdp:alive\r\nSERVER: " + device.server +
           "\r\nUSN: " + UniqueServiceName(row, device) + "\r\n" + Trailer(device);
}

std::string ByebyeMessage(const SNotificationRow& row, const SAdvertiser& device)
{
    return "NOTIFY * HTTP/1.1\r\nHOST: " + std::string(SSDP_GROUP) + ":" + std::to_string(SSDP_PORT) +
           "\r\nNT: " + NotificationType(row, device) + "\r\nNTS: ssdp:byebye\r\nUSN: " +
           UniqueServiceName(row, device) + "\r\n" + Trailer(device);
}

std::string SearchAnswer(const SNotificationRow& row, const SAdvertiser& device, std::string_view location,
                         std::string_view date)
{
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=" + std::to_string(SSDP_MAX_AGE) + "\r\nDATE: " +
           std::string(date) + "\r\nEXT:\r\nLOCATION: " + std::string(location) + "\r\nSERVER: " + device.server +
           "\r\nST: " + NotificationType(row, device) + "\r\nUSN: " + UniqueServiceName(row, device) + "\r\n" +
           Trailer(device);
}

SSearch ReadSearch(std::string_view datagram)
{
    SSearch search;
    const auto lineEnd = datagram.find('\n');
    const std::string_view requestLine = Trim(datagram.substr(0, lineEnd));
    if (requestLine.substr(0, requestLine.find(' ')) != "M-SEARCH")
        return search;
    search.kind = SSearch::MALFORMED;
    if (requestLine != "M-SEARCH * HTTP/1.1") {
        search.why = "request line is not \"M-SEARCH * HTTP/1.1\"";
        return search;
    }
    std::optional<std::string_view> host, man, mx, st;
    std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : datagram.substr(lineEnd + 1);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.empty())
            break;  // end of the headers
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            search.why = "a header line without a colon";
            return search;
        }
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        for (auto [key, slot] : {std::pair{"HOST", &host}, {"MAN", &man}, {"MX", &mx}, {"ST", &st}}) {
            if (SameText(name, key)) {
                if (*slot) {
                    search.why = std::string(key) + " twice";
                    return search;
                }
                *slot = value;
            }
        }
    }
    if (!host) {
        search.why = "no HOST";
        return search;
    }
    if (!man || (*man != "\"ssdp:discover\"" && *man != "ssdp:discover")) {
        search.why = "MAN is not \"ssdp:discover\"";
        return search;
    }
    if (!st || st->empty()) {
        search.why = "no ST";
        return search;
    }
    const std::string group = std::string(SSDP_GROUP);
    search.multicast = *host == group || *host == group + ":" + std::to_string(SSDP_PORT);
    if (search.multicast) {
        if (!mx) {
            search.why = "a multicast search without MX";
            return search;
        }
        unsigned long seconds = 0;
        const char* first = mx->data();
        const char* last = mx->data() + mx->size();
        const bool digits = !mx->empty() && std::all_of(first, last, [](char c) { return c >= '0' && c <= '9'; });
        // Digits beyond what an unsigned long holds still mean "long": the cap.
        if (!digits) {
            search.why = "MX is not a number of seconds";
            return search;
        }
        if (std::from_chars(first, last, seconds).ec != std::errc())
            seconds = SSDP_MX_CAP;
        search.delayWindow = static_cast<unsigned>(std::min<unsigned long>(seconds, SSDP_MX_CAP));
    }
    search.target = std::string(*st);
    search.kind = SSearch::VALID;
    return search;
}

std::vector<std::size_t> MatchingRows(std::string_view target, const SAdvertiser& device)
{
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < std::size(NOTIFICATIONS); ++i) {
        if (target == SEARCH_ALL || target == NotificationType(NOTIFICATIONS[i], device))
            rows.push_back(i);
    }
    return rows;
}

std::uint32_t ConfigId(std::string_view description)
{
    // FNV-1a, folded to 24 bits.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : description)
        hash = (hash ^ c) * 16777619u;
    return (hash ^ (hash >> 24)) & 0xFFFFFFu;
}

std::optional<std::size_t> AnsweringAddress(const std::vector<SServedAddress>& served, std::uint32_t asker)
{
    for (std::size_t i = 0; i < served.size(); ++i) {
        if ((served[i].interfaceAddress & served[i].mask) == (asker & served[i].mask))
            return i;
    }
    return std::nullopt;
}

std::vector<SServedAddress> ServedAddresses(const std::vector<SInterfaceAddress>& interfaces, std::uint32_t bind)
{
    std::vector<SServedAddress> served;
    if (bind == 0) {
        for (const SInterfaceAddress& i : interfaces) {
            if (i.multicast || i.loopback)
                served.push_back({i.address, i.address, i.mask, i.loopback});
        }
        return served;
    }
    // The interface that has the address itself, else the one whose network
    // holds it (127.0.0.2 is reached through loopback's 127.0.0.1).
    auto holder = std::find_if(interfaces.begin(), interfaces.end(),
                               [&](const SInterfaceAddress& i) { return i.address == bind; });
    if (holder == interfaces.end())
        holder = std::find_if(interfaces.begin(), interfaces.end(),
                              [&](const SInterfaceAddress& i) { return (i.address & i.mask) == (bind & i.mask); });
    if (holder != interfaces.end())
        served.push_back({bind, holder->address, holder->mask, holder->loopback});
    return served;
}

}  // namespace mediahost::server::ssdp
