#include "ContentDirectory.h"

#include "Didl.h"
#include "Soap.h"

namespace mediahost::server {
namespace {

using soap::CArguments;
using soap::CUpnpFault;
using soap::SValues;

SValues Browse(const CContentDirectory& directory, const CArguments& arguments, const SRequest& request)
{
    const std::string& id = arguments.Text("ObjectID");
    const std::string& flag = arguments.Text("BrowseFlag");
    const std::uint32_t start = arguments.UInt32("StartingIndex");
    const std::uint32_t count = arguments.UInt32("RequestedCount");
    CLibrary& library = directory.Library();
    if (flag == "BrowseMetadata") {
        const std::optional<SObject> object = library.Object(id);
        if (!object)
            throw CUpnpFault(soap::UPNP_NO_SUCH_OBJECT, "No such object");
        const std::uint32_t updateId = object->container ? object->updateId : library.SystemUpdateId();
        return {DidlDocument({*object}, request.host), "1", "1", std::to_string(updateId)};
    }
    if (flag == "BrowseDirectChildren") {
        const std::optional<SChildren> children = library.Children(id, start, count);
        if (!children)
            throw CUpnpFault(soap::UPNP_NO_SUCH_OBJECT, "No such object");
        return {DidlDocument(children->objects, request.host), std::to_string(children->objects.size()),
                std::to_string(children->totalMatches), std::to_string(children->updateId)};
    }
    throw CUpnpFault(soap::UPNP_INVALID_ARGS, "Invalid Args: BrowseFlag " + flag);
}

SValues SearchCapabilities(const CContentDirectory&, const CArguments&, const SRequest&)
{
    return {""};
}

SValues SortCapabilities(const CContentDirectory&, const CArguments&, const SRequest&)
{
    return {""};
}

SValues SystemUpdateId(const CContentDirectory& directory, const CArguments&, const SRequest&)
{
    return {std::to_string(directory.Library().SystemUpdateId())};
}

//  action                   in arguments (required)                                    out arguments
constexpr std::array<soap::SActionRow<CContentDirectory>, 4> ACTIONS{{
    {"Browse", {"ObjectID", "BrowseFlag", "StartingIndex", "RequestedCount"},
     {"Result", "NumberReturned", "TotalMatches", "UpdateID"}, &Browse},
    {"GetSearchCapabilities", {}, {"SearchCaps"}, &SearchCapabilities},
    {"GetSortCapabilities", {}, {"SortCaps"}, &SortCapabilities},
    {"GetSystemUpdateID", {}, {"Id"}, &SystemUpdateId},
}};

}  // namespace

SAnswer CContentDirectory::Handle(const SRequest& request) const
{
    return soap::Serve(request, CONTENT_DIRECTORY_TYPE, ACTIONS, *this);
}

}  // namespace mediahost::server
