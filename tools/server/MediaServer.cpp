#include "MediaServer.h"

#include "Connections.h"
#include "Dispatcher.h"
#include "FolderRules.h"
#include "HttpRules.h"
#include "Listing.h"
#include "MediaResource.h"
#include "RecordingCache.h"
#include "Utf8.h"

#include <cstdio>

namespace mediahost {

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
    server::CRecordingCache cache(host);
    const server::SLibrary library{host, rules, cache};

    // The route table: each piece's pure handler by method and path.
    server::CDispatcher dispatcher;
    dispatcher.Add("GET", "/", [&](const server::SRequest& request) { return server::Listing(library, request); });
    dispatcher.AddPrefix("GET", std::string(http::MEDIA_PREFIX),
                         [&](const server::SRequest& request) { return server::Media(library, request); });

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
    connections.Run();
    return 0;
}

}  // namespace mediahost
