#include "Device.h"

#include "Dispatcher.h"

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace mediahost::server {
namespace {

// This program's own namespace for name-based device UUIDs: any fixed value
// does, so long as it never changes (every device UUID would change with it).
constexpr const char* DEVICE_NAMESPACE = "4a99844f-0250-4937-b5a1-17b418fb3f4e";

}  // namespace

std::string ScpdPath(const SServiceRow& service)
{
    return "/upnp/" + std::string(service.name) + ".xml";
}

std::string ControlPath(const SServiceRow& service)
{
    return "/upnp/control/" + std::string(service.name);
}

std::string EventPath(const SServiceRow& service)
{
    return "/upnp/event/" + std::string(service.name);
}

std::string DeviceUuid(std::string_view machine, std::string_view folder)
{
    const boost::uuids::uuid space = boost::uuids::string_generator()(DEVICE_NAMESPACE);
    // A line break cannot be part of a machine identifier, so no two pairs
    // give the same name.
    const std::string name = std::string(machine) + "\n" + std::string(folder);
    return boost::uuids::to_string(boost::uuids::name_generator_sha1(space)(name.data(), name.size()));
}

SDeviceIdentity MakeDeviceIdentity(std::string_view machine, std::string_view hostName, std::string_view folder,
                                   std::string_view friendlyName, std::string_view systemVersion)
{
    SDeviceIdentity identity;
    identity.udn = "uuid:" + DeviceUuid(machine.empty() ? hostName : machine, folder);
    identity.friendlyName =
        friendlyName.empty() ? "VskMediaHost on " + std::string(hostName.empty() ? "this machine" : hostName)
                             : std::string(friendlyName);
    identity.manufacturer = "Vsk";
    identity.modelName = "VskMediaHost";
    identity.modelNumber = VSK_VERSION;
    identity.modelDescription = "DLNA media server for MPEG transport-stream recordings";
    // UDA's "OS/version UPnP/1.0 product/version", with the tokens of the
    // HTTP answers' Server: UDA 1.0 on the wire, which every DLNA 1.5 client
    // reads (the 1.1 headers the SSDP messages carry are ignored by 1.0
    // readers).
    identity.server = std::string(systemVersion) + " " + std::string(SERVER_NAME);
    return identity;
}

}  // namespace mediahost::server
