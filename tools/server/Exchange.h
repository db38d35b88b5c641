// What a protocol piece of the media server sees of one HTTP request, and
// what it answers: plain values, no socket. The dispatcher reads a request
// off its connection, hands it to the piece its path names, and writes the
// answer; so every piece can be tested, and fuzzed, without a network.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mediahost::server {

using SHeaders = std::vector<std::pair<std::string, std::string>>;

struct SRequest {
    std::string method;  // as sent: "GET", "HEAD", "POST", "SUBSCRIBE", ...
    std::string path;    // the target's path, still percent-encoded ("/upnp/control/ContentDirectory")
    std::string query;   // after '?', without it
    SHeaders headers;    // as sent, in order
    std::string body;    // the body of a POST (SOAP); empty otherwise
    std::string host;    // "ADDR:PORT" the client reached this server at, for URLs in answers
    std::string peer;    // "ADDR:PORT" of the client
    unsigned version = 11;  // 10 or 11

    // The first header of that name (names compare without regard to case).
    std::optional<std::string_view> Header(std::string_view name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                }))
                return std::string_view(value);
        }
        return std::nullopt;
    }
};

// A body too large to hold, written as the client takes it: `length` bytes
// (the Content-Length), handed over piece by piece by `next`, which replaces
// the chunk's contents with the following bytes and answers false when they
// cannot be had (the head is out by then, so the answer is cut short and the
// connection closed). It is written without a time-out: a client may pause
// mid-body (DLNA http-stalling) for as long as it keeps the connection.
struct SStreamedBody {
    std::int64_t length = 0;
    std::function<bool(std::vector<std::uint8_t>& chunk)> next;
};

struct SAnswer {
    unsigned status = 200;
    std::string contentType;  // empty: no Content-Type
    SHeaders headers;         // besides Content-Type, Content-Length, Server, Date and Connection
    std::string body;         // not sent for HEAD; Content-Length is its size either way
    std::string log;          // the one log line's tail: what was answered, or why refused ("refused: ...")
    bool close = false;       // the connection ends after this answer (a failure that leaves it unusable)
    std::optional<SStreamedBody> streamed;  // instead of body; never run for HEAD
};

}  // namespace mediahost::server
