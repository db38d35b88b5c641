// The media server: a DLNA media server over one folder of recordings, its
// sub-folders included. The routes (tools/server/MediaServer.cpp):
//
//   GET|HEAD /                     an HTML page of the recordings, one link
//                                  per profile (Listing.h)
//   GET|HEAD /media/PATH[?profile=P]  a recording as profile P, or as it is
//                                  when the component offers none
//                                  (MediaResource.h, MediaRequest.h)
//
// How connections are taken, limited and timed is Connections.h; the route
// table and what every answer carries, Dispatcher.h; which files are
// offered, FolderRules.h.
#pragma once

#include "ComponentHost.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace mediahost {

struct SServeOptions {
    std::filesystem::path folder;
    std::string bind = "127.0.0.1";
    std::uint16_t port = 8280;  // 0: any free port (the line printed says which)
    // How long an open connection may wait idle for its next request, and
    // the writing of an answer held in memory may take.
    std::chrono::seconds timeout{30};
    // How long a request's head (and a POST body) may take to arrive once a
    // connection is open or the first byte of a later request came.
    std::chrono::seconds headerTimeout{10};
    unsigned maxClients = 32;               // requests in service at once
    unsigned maxPerClient = 8;              // of those, from one client address
    unsigned maxConnections = 256;          // open connections, idle ones included
    unsigned maxConnectionsPerClient = 32;  // of those, from one client address
    std::string friendlyName;               // empty: "VskMediaHost on HOSTNAME"
    bool discovery = true;                  // announce the server on the network (SSDP)
};

// Runs until Ctrl-C or SIGTERM. Prints "listening on http://ADDR:PORT/" on
// standard output once the socket listens. Exit code for the process.
int Serve(const CComponentHost& host, const SServeOptions& options);

}  // namespace mediahost
