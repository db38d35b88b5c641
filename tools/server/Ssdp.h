// SSDP's messages, built and read with no socket in sight: the
// announcements (ssdp:alive, ssdp:byebye), the reading of an M-SEARCH, the
// answers it gets, and which of the served addresses an asker can reach.
// The sockets live in SsdpService; everything it sends is written here.
//
// Choices made here:
// - One row per notification type (the root device, the UUID, the device
//   type, each service type); an announcement sends each row, a search is
//   answered with the rows its target names, each with its own ST and USN.
// - A search is read as UDA 1.1 says: the request line "M-SEARCH * HTTP/1.1",
//   MAN "ssdp:discover" (quotes optional, as many control points forget
//   them), a HOST and an ST. A search sent to the multicast group must carry
//   MX: an integer of seconds, capped at 5; MX 0 is answered at once. A
//   search without MX, or with anything but digits in it, is malformed and
//   goes unanswered. A search sent to this host alone (HOST is not the
//   group) is answered at once and needs no MX.
// - A type is answered only for the version this device offers; the
//   templates have no earlier version, so the match is exact.
// - The messages carry BOOTID.UPNP.ORG and CONFIGID.UPNP.ORG for control
//   points of UDA 1.1 (UDA 1.0 readers ignore headers they do not know):
//   the boot id grows with every start, the configuration id changes with
//   the description.
// - An asker is answered only on a network the server serves: the first
//   served address whose subnet holds the asker. Anything else (a datagram
//   from another network that reached the port) is not answered: the
//   server offers itself only where --bind says.
#pragma once

#include "Device.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mediahost::server::ssdp {

inline constexpr const char* SSDP_GROUP = "239.255.255.250";
inline constexpr std::uint16_t SSDP_PORT = 1900;
inline constexpr unsigned SSDP_MAX_AGE = 1800;  // seconds an announcement holds
inline constexpr unsigned SSDP_MX_CAP = 5;

enum class ENotification { ROOT_DEVICE, DEVICE_UUID, TYPE };

struct SNotificationRow {
    ENotification kind;
    std::string_view type;  // the device or service type of a TYPE row
};

inline constexpr SNotificationRow NOTIFICATIONS[] = {
    {ENotification::ROOT_DEVICE, {}},
    {ENotification::DEVICE_UUID, {}},
    {ENotification::TYPE, DEVICE_TYPE},
    {ENotification::TYPE, SERVICES[0].type},
    {ENotification::TYPE, SERVICES[1].type},
};

// What every message of this device says about it.
struct SAdvertiser {
    std::string udn;     // "uuid:..."
    std::string server;  // SERVER
    std::uint32_t bootId = 1;
    std::uint32_t configId = 1;  // 0 to 16777215
};

// NT (or ST) and USN of a row.
std::string NotificationType(const SNotificationRow& row, const SAdvertiser& device);
std::string UniqueServiceName(const SNotificationRow& row, const SAdvertiser& device);

// "http://ADDR:PORT/upnp/description.xml".
std::string Location(std::uint32_t address, std::uint16_t httpPort);

std::string AliveMessage(const SNotificationRow& row, const SAdvertiser& device, std::string_view location);
std::string ByebyeMessage(const SNotificationRow& row, const SAdvertiser& device);
// The answer to a search for the row; `date` as HTTP writes it.
std::string SearchAnswer(const SNotificationRow& row, const SAdvertiser& device, std::string_view location,
                         std::string_view date);

struct SSearch {
    enum EKind { NOT_A_SEARCH, MALFORMED, VALID } kind = NOT_A_SEARCH;
    std::string target;           // ST
    bool multicast = true;        // sent to the group: answer after a random delay
    unsigned delayWindow = 0;     // seconds (MX, capped); 0: at once
    std::string why;              // MALFORMED: what is wrong
};
// NOTIFY and answers of other devices are NOT_A_SEARCH: no answer, no log.
SSearch ReadSearch(std::string_view datagram);

// Indices into NOTIFICATIONS of the rows a search target asks for.
std::vector<std::size_t> MatchingRows(std::string_view target, const SAdvertiser& device);

// A configuration id for a description document (a hash of its text,
// within 0 to 16777215 as UDA 1.1 wants it).
std::uint32_t ConfigId(std::string_view description);

// An address the server answers on, and the network it reaches.
struct SServedAddress {
    std::uint32_t address = 0;    // where HTTP listens: LOCATION's host
    std::uint32_t interfaceAddress = 0;  // the interface's own address: multicast goes out and is joined there
    std::uint32_t mask = 0;
    bool loopback = false;
};
// The one served address whose network holds the asker; nullopt: none.
std::optional<std::size_t> AnsweringAddress(const std::vector<SServedAddress>& served, std::uint32_t asker);

struct SInterfaceAddress {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    bool loopback = false;
    bool multicast = false;
};
// What --bind covers of the machine's addresses: 0.0.0.0 every one that
// takes multicast (loopback too, so programs on this machine find the
// server); any other address, the interface whose network holds it, with
// that address as LOCATION's host. Empty when none does.
std::vector<SServedAddress> ServedAddresses(const std::vector<SInterfaceAddress>& interfaces, std::uint32_t bind);

}  // namespace mediahost::server::ssdp
