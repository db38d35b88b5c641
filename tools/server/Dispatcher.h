// The media server's route table: which piece answers a request, by method
// and path; the one boundary where a piece's failure becomes an answer; and
// the wire form of every answer's head, with the headers all of them carry
// (Server, Date, Content-Length, Connection).
//
// A GET route answers HEAD as well: the piece sees the method and may skip
// the work of a body, and no body is sent either way. A path no route names
// is 404; a path with routes but none for the method is 405 with Allow.
//
// Failures: a piece answers, it does not throw. If one throws anyway, the
// request is answered 400 when the request itself could not be read
// (CBadRequest, or text of the client's that no path can hold), else 500,
// and the connection is closed; the failure is one log line. Nothing a
// request sends ends the server or a thread.
#pragma once

#include "Exchange.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mediahost::server {

// What a request may bring: its head (request line and headers), and a body
// (a SOAP action's; larger ones are refused 413).
inline constexpr std::size_t REQUEST_HEAD_LIMIT = 8 * 1024;
inline constexpr std::size_t REQUEST_BODY_LIMIT = 64 * 1024;

// Server: of every answer: the product and the protocols it follows.
inline constexpr std::string_view SERVER_NAME = "VskMediaHost/" VSK_VERSION " UPnP/1.0 DLNADOC/1.50";

// Thrown by a piece when the request itself cannot be read (answered 400).
class CBadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Handler = std::function<SAnswer(const SRequest&)>;

class CDispatcher {
public:
    // Requests for exactly `path`.
    void Add(std::string method, std::string path, Handler handler);
    // Requests for every path that starts with `prefix` (the longest wins).
    void AddPrefix(std::string method, std::string prefix, Handler handler);

    SAnswer Dispatch(const SRequest& request) const noexcept;

private:
    struct SRoute {
        std::string method;
        std::string path;
        bool prefix = false;
        Handler handler;
    };
    std::vector<SRoute> m_routes;
};

// A short answer whose text body says why; its log tail is "refused: why".
SAnswer Refusal(unsigned status, const std::string& why, SHeaders headers = {});

// What a piece sees of a request the parser read; false with the refusal
// (400 a target in no form this server takes, 505 a version other than 1.0
// and 1.1) in `refusal`. host and peer are the caller's to fill.
bool ToRequest(const boost::beast::http::request<boost::beast::http::string_body>& message, SRequest& request,
               SAnswer& refusal);

// Whether the connection stays open after the answer: HTTP/1.1 unless the
// client or the answer closes it. An HTTP/1.0 client is answered in
// HTTP/1.1 and the connection closed, whatever it asked.
bool KeepAlive(const SRequest& request, const SAnswer& answer);

// The head as sent: the status line, Server, Date (of `unixSeconds`),
// Content-Type, Content-Length, Connection, then the piece's headers. CR, LF
// and NUL in a name or value become blanks, so no text of a client's that a
// piece echoes can add a header.
std::string AnswerHead(const SAnswer& answer, std::uint64_t contentLength, bool keepAlive, std::int64_t unixSeconds);

// "PEER METHOD TARGET -> STATUS tail", the request's one log line.
std::string LogLine(const SRequest& request, const SAnswer& answer);

}  // namespace mediahost::server
