#include "ConnectionManager.h"

#include "Didl.h"
#include "Soap.h"

namespace mediahost::server {
namespace {

using soap::CArguments;
using soap::SValues;

SValues ProtocolInfo(const CConnectionManager& manager, const CArguments&, const SRequest&)
{
    return {manager.Source(), ""};
}

SValues ConnectionIds(const CConnectionManager&, const CArguments&, const SRequest&)
{
    return {"0"};
}

SValues ConnectionInfo(const CConnectionManager&, const CArguments& arguments, const SRequest&)
{
    if (arguments.Int32("ConnectionID") != 0)
        throw soap::CUpnpFault(soap::UPNP_INVALID_CONNECTION_REFERENCE, "Invalid connection reference");
    return {"-1", "-1", "", "", "-1", "Output", "OK"};
}

//  action                      in arguments      out arguments
constexpr std::array<soap::SActionRow<CConnectionManager>, 3> ACTIONS{{
    {"GetProtocolInfo", {}, {"Source", "Sink"}, &ProtocolInfo},
    {"GetCurrentConnectionIDs", {}, {"ConnectionIDs"}, &ConnectionIds},
    {"GetCurrentConnectionInfo", {"ConnectionID"},
     {"RcsID", "AVTransportID", "ProtocolInfo", "PeerConnectionManager", "PeerConnectionID", "Direction", "Status"},
     &ConnectionInfo},
}};

}  // namespace

std::string SourceProtocolInfo(const std::vector<STarget>& catalogue)
{
    std::string list;
    for (const STarget& target : catalogue) {
        if (!list.empty())
            list += ",";
        list += server::ProtocolInfo(target.mimeType, target.DlnaName(), target.flag2);
    }
    return list;
}

SAnswer CConnectionManager::Handle(const SRequest& request) const
{
    return soap::Serve(request, CONNECTION_MANAGER_TYPE, ACTIONS, *this);
}

}  // namespace mediahost::server
