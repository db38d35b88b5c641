// The media server's connections: listening, reading requests, handing them
// to the dispatcher on a pool of threads, writing the answers, the limits
// and the time-outs.
//
// One thread (the one that calls Run) does every socket operation, all of
// them asynchronous: accepting, reading each request's head and body,
// refusals, and the writes a serving thread asks for. A fixed pool of
// `maxClients` threads, each with COM initialised, runs the handlers and
// streams bodies, so only a request that has fully arrived holds one. So
// slow or half-sent heads cost a socket and a buffer, not a slot: a request's
// head (and POST body, up to 64 KiB) must arrive within `headerTimeout` of
// the connection's opening or of its first byte, and an idle connection is
// closed after `timeout`.
//
// Limits: a request that finds every serving thread busy, or its client's
// address already at `maxPerClient` requests in service, is answered 503 with
// Retry-After and the connection closed. A connection beyond
// `maxConnections` open ones, or beyond `maxConnectionsPerClient` from its
// address, is answered 503 at once, before its request is read. Refusals
// written here are followed by a short lingering close (the client's unread
// bytes drained for up to 2 s), so the client reads the answer instead of a
// reset.
//
// Writes: an answer held in memory must be taken within `timeout`; a
// streamed body has no write time-out at all, so a client may pause (DLNA
// http-stalling) as long as it keeps the connection. A peer that vanished is
// left to TCP's own retransmission limits.
//
// Stop: Ctrl-C, SIGTERM or Stop() closes the listening socket and every
// connection, lets the serving threads finish, and Run returns.
#pragma once

#include "Dispatcher.h"
#include "MediaServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <functional>
#include <memory>
#include <string>

namespace mediahost::server {

class CConnections {
public:
    CConnections(const SServeOptions& options, Handler handler);
    ~CConnections();
    CConnections(const CConnections&) = delete;
    CConnections& operator=(const CConnections&) = delete;

    // Opens the listening socket; false with the reason.
    bool Listen(std::string& why);
    boost::asio::ip::tcp::endpoint LocalEndpoint() const;
    // The context of the connection thread, for other sockets of the server
    // that should run beside these.
    boost::asio::io_context& Context();

    // Serves until stopped; `stopping` runs on the connection thread as the
    // stop begins, before any connection is closed.
    void Run(std::function<void()> stopping = {});
    // From any thread.
    void Stop();

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};

}  // namespace mediahost::server
