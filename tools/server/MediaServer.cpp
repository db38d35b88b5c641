#include "MediaServer.h"

#include "Connections.h"
#include "Dispatcher.h"
#include "FolderRules.h"
#include "HttpRules.h"
#include "Listing.h"
#include "Log.h"
#include "MediaResource.h"
#include "ConnectionManager.h"
#include "ContentDirectory.h"
#include "Library.h"
#include "UpnpDevice.h"
#include "Utf8.h"
#include "platform/paths.h"

#include <cstdio>
#include <system_error>

namespace mediahost {
namespace {

namespace fs = std::filesystem;

// A file as the cache's context names it: path, size and modification time.
std::string Stamp(const fs::path& file)
{
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    const auto time = fs::last_write_time(file, ec).time_since_epoch().count();
    return Utf8FromPath(file) + " " + std::to_string(size) + " " + std::to_string(time) + "\n";
}

// The cache file of a served folder, in the user's cache folder: one per
// folder, named by the hash of the folder's path that ids use.
fs::path CacheFile(const fs::path& folder)
{
    const std::wstring base = platform::UserCacheFolder();
    if (base.empty())
        return {};
    const std::string name = "library-" + server::ObjectId(Utf8FromPath(folder)) + ".cache";
    return PathFromUtf8(ToUtf8(base)) / "VskMediaHost" / name;
}

}  // namespace

int Serve(const CComponentHost& host, const SServeOptions& options)
{
    boost::system::error_code ec;
    boost::asio::ip::make_address(options.bind, ec);
    if (ec) {
        std::fprintf(stderr, "error: %s is not an IP address\n", options.bind.c_str());
        return 2;
    }
    server::CFolderRules rules;
    std::string why;
    if (!rules.Open(options.folder, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 2;
    }
    // The facts of a recording depend on the component, the parser and the
    // profile mode besides the file: the catalogue names the mode.
    std::vector<STarget> catalogue;
    const HRESULT listed = host.SupportedProfiles(catalogue);
    if (FAILED(listed)) {
        std::fprintf(stderr, "error: the component lists no catalogue: %s\n", HResultMessage(listed).c_str());
        return 1;
    }
    const std::string sourceProtocolInfo = server::SourceProtocolInfo(catalogue);
    server::SLibraryOptions indexOptions;
    indexOptions.folder = rules.Root();
    indexOptions.cacheFile = CacheFile(rules.Root());
    indexOptions.cacheContext = Stamp(PathFromUtf8(ToUtf8(platform::ExecutablePath()))) + Stamp(host.ComponentPath()) +
                                Stamp(host.ParserDirectory() / ("VskMpegParser" + host.ComponentPath().extension().string())) +
                                sourceProtocolInfo;
    indexOptions.served = rules.Predicate();
    indexOptions.describe = [&host](const fs::path& path) { return server::DescribeWithComponent(host, path); };
    indexOptions.threadScope = [] { return std::make_shared<CComThread>(); };
    const auto started = std::chrono::steady_clock::now();
    indexOptions.scanned = [started](std::size_t recordings) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        server::Log("library ready: " + std::to_string(recordings) + " recording(s) described " +
                    std::to_string(ms.count()) + " ms after the start");
    };
    // What changed, for the events (the listener hears it on a library
    // thread, so it outlives the index).
    server::CContainerUpdates containerUpdates;
    server::CLibrary index(indexOptions);
    index.SetChangeListener([&containerUpdates](std::uint32_t, const server::SContainerUpdates& containers) {
        containerUpdates.Record(containers);
    });
    index.Start();
    const server::SLibrary library{host, rules, index};
    const server::CContentDirectory contentDirectory(index);
    const server::CConnectionManager connectionManager(sourceProtocolInfo);

    server::SUpnpDeviceOptions upnp;
    upnp.folder = rules.Root();
    upnp.friendlyName = options.friendlyName;
    upnp.bind = options.bind;
    upnp.discovery = options.discovery;
    upnp.log = server::Log;
    upnp.providers = {
        {"SystemUpdateID", [&index] { return std::to_string(index.SystemUpdateId()); }},
        {"ContainerUpdateIDs", [&containerUpdates] { return containerUpdates.Value(); }},
        {"SourceProtocolInfo", [&sourceProtocolInfo] { return sourceProtocolInfo; }},
        {"SinkProtocolInfo", [] { return std::string(); }},
        {"CurrentConnectionIDs", [] { return std::string("0"); }},
    };
    server::CUpnpDevice device(std::move(upnp));

    // The route table: each piece's pure handler by method and path.
    server::CDispatcher dispatcher;
    dispatcher.Add("GET", "/", [&](const server::SRequest& request) { return server::Listing(library, request); });
    dispatcher.AddPrefix("GET", std::string(http::MEDIA_PREFIX),
                         [&](const server::SRequest& request) { return server::Media(library, request); });
    dispatcher.Add("POST", "/upnp/control/ContentDirectory",
                   [&](const server::SRequest& request) { return contentDirectory.Handle(request); });
    dispatcher.Add("POST", "/upnp/control/ConnectionManager",
                   [&](const server::SRequest& request) { return connectionManager.Handle(request); });
    dispatcher.Add("GET", std::string(server::DESCRIPTION_PATH),
                   [&](const server::SRequest& request) { return device.Description(request); });
    for (const server::SServiceRow& service : server::SERVICES) {
        dispatcher.Add("GET", server::ScpdPath(service),
                       [&](const server::SRequest& request) { return device.Description(request); });
        for (const char* method : {"SUBSCRIBE", "UNSUBSCRIBE"})
            dispatcher.Add(method, server::EventPath(service),
                           [&](const server::SRequest& request) { return device.Event(request); });
    }

    server::CConnections connections(options,
                                     [&](const server::SRequest& request) { return dispatcher.Dispatch(request); });
    if (!connections.Listen(why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    const auto local = connections.LocalEndpoint();
    const auto address = local.address();
    const std::string shown = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    std::printf("listening on http://%s:%u/ serving %s\n", shown.c_str(), static_cast<unsigned>(local.port()),
                Utf8FromPath(rules.Root()).c_str());
    std::fflush(stdout);
    device.StartDiscovery(local.port());
    // Byebye before the connections close: a control point that hears it
    // stops asking at once.
    connections.Run([&] { device.Stop(); });
    return 0;
}

}  // namespace mediahost
