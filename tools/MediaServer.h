// The media server: HTTP/1.1 over one folder of recordings, each served
// through a converter of the component, with byte ranges and DLNA time seek.
//
//   GET /                      an HTML page: the folder's recordings, their
//                              facts, one link per profile offered
//   GET|HEAD /NAME[?profile=P] the recording as profile P (default: the
//                              first the component offers); P matches a
//                              profile name or an alternative name
//
// Every body byte comes from the converter's Read; each request opens its
// own converter. Answers:
//   200 whole file; 206 Range; 200 with TimeSeekRange.dlna.org for a time
//   seek (body from the byte the component found to the end of the file);
//   400 malformed Range or TimeSeekRange, an end before the start,
//       getcontentFeatures.dlna.org other than 1, an unknown transfer mode,
//       or Range and TimeSeekRange together (the two would ask for two
//       different starts, and which one a client meant cannot be told; it
//       is told to ask for one);
//   404 no such recording in the folder (also every path that would leave
//       it), or a profile the component does not offer for it;
//   405 methods other than GET and HEAD; 406 a time seek on a profile
//       without time seek or with an unknown duration, transferMode
//       Interactive; 416 a range past the end, a time past the duration;
//   431 request headers over 8 KiB; 500 the component refused to open or
//       seek what it offered.
//
// Connections: one thread each (at most 32 at once; more are closed at
// once), keep-alive, and a time-out for every read and write (a request
// must arrive, and every 64 KiB of a body must be taken, within it).
// Ctrl-C or SIGTERM closes the listening socket and every connection and
// returns once their threads are done. One line on standard error per
// request: its answer, or why it was refused.
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
    std::chrono::seconds timeout{30};
    unsigned maxClients = 32;
};

// Runs until Ctrl-C or SIGTERM. Prints "listening on http://ADDR:PORT/" on
// standard output once the socket listens. Exit code for the process.
int Serve(const CComponentHost& host, const SServeOptions& options);

}  // namespace mediahost
