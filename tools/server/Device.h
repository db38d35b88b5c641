// The media server as UPnP describes it: its device type, its two services
// with the actions and state variables of their standard templates, the
// paths each is reached at, and the identity of this device (its UUID and
// the names it shows). The description documents, SSDP and the events all
// read these rows, so a service is named, typed and evented in one place.
//
// Choices made here:
// - The UUID is name-based (SHA-1, RFC 4122 version 5) on the machine's own
//   identifier and the served folder's full path: the same machine serving
//   the same folder is the same device after every restart, so a TV keeps
//   its place in it; two folders, or two machines that happen to share a
//   host name, are two devices. Without a machine identifier the host name
//   stands in.
// - Only the templates' required actions are offered (ContentDirectory:
//   Browse and the three Get actions; ConnectionManager: all three), with
//   ContentDirectory's optional ContainerUpdateIDs evented, so a client
//   learns which container changed and not just that something did.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace mediahost::server {

inline constexpr std::string_view DEVICE_TYPE = "urn:schemas-upnp-org:device:MediaServer:1";

struct SStateVariable {
    std::string_view name;
    std::string_view dataType;  // "string", "ui4", "i4"
    bool sendEvents;
    std::span<const std::string_view> allowedValues;  // empty: any value of the type
};

// (Not IN and OUT: Windows headers define both as macros.)
enum class EDirection { ARGUMENT_IN, ARGUMENT_OUT };

struct SArgument {
    std::string_view name;
    EDirection direction;
    std::string_view relatedStateVariable;
};

struct SAction {
    std::string_view name;
    std::span<const SArgument> arguments;  // every "in" before the first "out"
};

struct SServiceRow {
    std::string_view name;  // names its paths: /upnp/NAME.xml, /upnp/control/NAME, /upnp/event/NAME
    std::string_view type;
    std::string_view id;
    std::span<const SAction> actions;
    std::span<const SStateVariable> variables;
};

namespace detail {

inline constexpr std::string_view BROWSE_FLAGS[] = {"BrowseMetadata", "BrowseDirectChildren"};
inline constexpr std::string_view CONNECTION_STATUSES[] = {"OK", "ContentFormatMismatch", "InsufficientBandwidth",
                                                           "UnreliableChannel", "Unknown"};
inline constexpr std::string_view DIRECTIONS[] = {"Input", "Output"};

inline constexpr SStateVariable CONTENT_DIRECTORY_VARIABLES[] = {
    // name                       type      evented allowed
    {"SearchCapabilities",        "string", false,  {}},
    {"SortCapabilities",          "string", false,  {}},
    {"SystemUpdateID",            "ui4",    true,   {}},
    {"ContainerUpdateIDs",        "string", true,   {}},
    {"A_ARG_TYPE_ObjectID",       "string", false,  {}},
    {"A_ARG_TYPE_Result",         "string", false,  {}},
    {"A_ARG_TYPE_BrowseFlag",     "string", false,  BROWSE_FLAGS},
    {"A_ARG_TYPE_Filter",         "string", false,  {}},
    {"A_ARG_TYPE_SortCriteria",   "string", false,  {}},
    {"A_ARG_TYPE_Index",          "ui4",    false,  {}},
    {"A_ARG_TYPE_Count",          "ui4",    false,  {}},
    {"A_ARG_TYPE_UpdateID",       "ui4",    false,  {}},
};

inline constexpr SArgument BROWSE_ARGUMENTS[] = {
    {"ObjectID",       EDirection::ARGUMENT_IN,  "A_ARG_TYPE_ObjectID"},
    {"BrowseFlag",     EDirection::ARGUMENT_IN,  "A_ARG_TYPE_BrowseFlag"},
    {"Filter",         EDirection::ARGUMENT_IN,  "A_ARG_TYPE_Filter"},
    {"StartingIndex",  EDirection::ARGUMENT_IN,  "A_ARG_TYPE_Index"},
    {"RequestedCount", EDirection::ARGUMENT_IN,  "A_ARG_TYPE_Count"},
    {"SortCriteria",   EDirection::ARGUMENT_IN,  "A_ARG_TYPE_SortCriteria"},
    {"Result",         EDirection::ARGUMENT_OUT, "A_ARG_TYPE_Result"},
    {"NumberReturned", EDirection::ARGUMENT_OUT, "A_ARG_TYPE_Count"},
    {"TotalMatches",   EDirection::ARGUMENT_OUT, "A_ARG_TYPE_Count"},
    {"UpdateID",       EDirection::ARGUMENT_OUT, "A_ARG_TYPE_UpdateID"},
};
inline constexpr SArgument SEARCH_CAPABILITIES_ARGUMENTS[] = {{"SearchCaps", EDirection::ARGUMENT_OUT, "SearchCapabilities"}};
inline constexpr SArgument SORT_CAPABILITIES_ARGUMENTS[] = {{"SortCaps", EDirection::ARGUMENT_OUT, "SortCapabilities"}};
inline constexpr SArgument SYSTEM_UPDATE_ID_ARGUMENTS[] = {{"Id", EDirection::ARGUMENT_OUT, "SystemUpdateID"}};

inline constexpr SAction CONTENT_DIRECTORY_ACTIONS[] = {
    {"Browse",                BROWSE_ARGUMENTS},
    {"GetSearchCapabilities", SEARCH_CAPABILITIES_ARGUMENTS},
    {"GetSortCapabilities",   SORT_CAPABILITIES_ARGUMENTS},
    {"GetSystemUpdateID",     SYSTEM_UPDATE_ID_ARGUMENTS},
};

inline constexpr SStateVariable CONNECTION_MANAGER_VARIABLES[] = {
    // name                            type      evented allowed
    {"SourceProtocolInfo",             "string", true,   {}},
    {"SinkProtocolInfo",               "string", true,   {}},
    {"CurrentConnectionIDs",           "string", true,   {}},
    {"A_ARG_TYPE_ConnectionStatus",    "string", false,  CONNECTION_STATUSES},
    {"A_ARG_TYPE_ConnectionManager",   "string", false,  {}},
    {"A_ARG_TYPE_Direction",           "string", false,  DIRECTIONS},
    {"A_ARG_TYPE_ProtocolInfo",        "string", false,  {}},
    {"A_ARG_TYPE_ConnectionID",        "i4",     false,  {}},
    {"A_ARG_TYPE_AVTransportID",       "i4",     false,  {}},
    {"A_ARG_TYPE_RcsID",               "i4",     false,  {}},
};

inline constexpr SArgument PROTOCOL_INFO_ARGUMENTS[] = {
    {"Source", EDirection::ARGUMENT_OUT, "SourceProtocolInfo"},
    {"Sink",   EDirection::ARGUMENT_OUT, "SinkProtocolInfo"},
};
inline constexpr SArgument CONNECTION_IDS_ARGUMENTS[] = {{"ConnectionIDs", EDirection::ARGUMENT_OUT, "CurrentConnectionIDs"}};
inline constexpr SArgument CONNECTION_INFO_ARGUMENTS[] = {
    {"ConnectionID",          EDirection::ARGUMENT_IN,  "A_ARG_TYPE_ConnectionID"},
    {"RcsID",                 EDirection::ARGUMENT_OUT, "A_ARG_TYPE_RcsID"},
    {"AVTransportID",         EDirection::ARGUMENT_OUT, "A_ARG_TYPE_AVTransportID"},
    {"ProtocolInfo",          EDirection::ARGUMENT_OUT, "A_ARG_TYPE_ProtocolInfo"},
    {"PeerConnectionManager", EDirection::ARGUMENT_OUT, "A_ARG_TYPE_ConnectionManager"},
    {"PeerConnectionID",      EDirection::ARGUMENT_OUT, "A_ARG_TYPE_ConnectionID"},
    {"Direction",             EDirection::ARGUMENT_OUT, "A_ARG_TYPE_Direction"},
    {"Status",                EDirection::ARGUMENT_OUT, "A_ARG_TYPE_ConnectionStatus"},
};

inline constexpr SAction CONNECTION_MANAGER_ACTIONS[] = {
    {"GetProtocolInfo",          PROTOCOL_INFO_ARGUMENTS},
    {"GetCurrentConnectionIDs",  CONNECTION_IDS_ARGUMENTS},
    {"GetCurrentConnectionInfo", CONNECTION_INFO_ARGUMENTS},
};

}  // namespace detail

inline constexpr SServiceRow SERVICES[] = {
    {"ContentDirectory", "urn:schemas-upnp-org:service:ContentDirectory:1", "urn:upnp-org:serviceId:ContentDirectory",
     detail::CONTENT_DIRECTORY_ACTIONS, detail::CONTENT_DIRECTORY_VARIABLES},
    {"ConnectionManager", "urn:schemas-upnp-org:service:ConnectionManager:1",
     "urn:upnp-org:serviceId:ConnectionManager", detail::CONNECTION_MANAGER_ACTIONS,
     detail::CONNECTION_MANAGER_VARIABLES},
};

inline constexpr std::string_view DESCRIPTION_PATH = "/upnp/description.xml";
std::string ScpdPath(const SServiceRow& service);
std::string ControlPath(const SServiceRow& service);
std::string EventPath(const SServiceRow& service);

// Who this device is, as its description, SSDP and event answers say.
struct SDeviceIdentity {
    std::string udn;           // "uuid:4a99844f-..."
    std::string friendlyName;  // UTF-8
    std::string manufacturer;
    std::string modelName;
    std::string modelNumber;
    std::string modelDescription;
    std::string server;  // SSDP's SERVER: "Linux/6.1 VskMediaHost/1.0 UPnP/1.0 DLNADOC/1.50"
};

// The device UUID (no "uuid:" prefix) for a machine identifier and the
// served folder's full path (UTF-8); lower-case hex, as RFC 4122 writes it.
std::string DeviceUuid(std::string_view machine, std::string_view folder);

// `friendlyName` empty: "VskMediaHost on HOSTNAME". `machine` empty: the
// host name identifies the machine.
SDeviceIdentity MakeDeviceIdentity(std::string_view machine, std::string_view hostName, std::string_view folder,
                                   std::string_view friendlyName, std::string_view systemVersion);

}  // namespace mediahost::server
