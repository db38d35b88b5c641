#include "Dispatcher.h"

#include "HttpRules.h"

#include <boost/beast/http/status.hpp>

#include <filesystem>
#include <system_error>

namespace mediahost::server {
namespace {

namespace bhttp = boost::beast::http;

std::string Reason(unsigned status)
{
    const auto text = bhttp::obsolete_reason(static_cast<bhttp::status>(status));
    return std::string(text.data(), text.size());
}

// A header name or value as it may go on the wire.
std::string OneLine(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return out;
}

bool HasToken(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (item.size() == token.size() &&
            std::equal(item.begin(), item.end(), token.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return true;
    }
    return false;
}

SAnswer Failed(unsigned status, const std::string& why)
{
    SAnswer answer = Refusal(status, why);
    answer.log = "failed: " + why;
    answer.close = true;
    return answer;
}

}  // namespace

void CDispatcher::Add(std::string method, std::string path, Handler handler)
{
    m_routes.push_back(SRoute{std::move(method), std::move(path), false, std::move(handler)});
}

void CDispatcher::AddPrefix(std::string method, std::string prefix, Handler handler)
{
    m_routes.push_back(SRoute{std::move(method), std::move(prefix), true, std::move(handler)});
}

SAnswer CDispatcher::Dispatch(const SRequest& request) const noexcept
{
    try {
        // The routes of the path: its exact ones, else those of its longest
        // prefix.
        std::vector<const SRoute*> routes;
        for (const SRoute& route : m_routes) {
            if (!route.prefix && route.path == request.path)
                routes.push_back(&route);
        }
        const bool exact = !routes.empty();
        std::size_t longest = 0;
        for (const SRoute& route : m_routes) {
            if (exact || !route.prefix || request.path.compare(0, route.path.size(), route.path) != 0 ||
                route.path.size() < longest)
                continue;
            if (route.path.size() > longest)
                routes.clear();
            longest = route.path.size();
            routes.push_back(&route);
        }
        if (routes.empty())
            return Refusal(404, "no such resource");
        const SRoute* chosen = nullptr;
        for (const SRoute* route : routes) {
            if (route->method == request.method)
                chosen = route;
        }
        for (const SRoute* route : routes) {
            if (!chosen && request.method == "HEAD" && route->method == "GET")
                chosen = route;
        }
        if (!chosen) {
            std::string allow;
            for (const SRoute* route : routes) {
                allow += (allow.empty() ? "" : ", ") + route->method;
                if (route->method == "GET")
                    allow += ", HEAD";
            }
            return Refusal(405, "not a method of this resource", {{"Allow", allow}});
        }
        return chosen->handler(request);
    } catch (const CBadRequest& e) {
        return Failed(400, e.what());
    } catch (const std::filesystem::filesystem_error& e) {
        // A name of the client's that no path of this system can hold.
        if (e.code() == std::errc::illegal_byte_sequence)
            return Failed(400, std::string("unreadable name: ") + e.what());
        return Failed(500, e.what());
    } catch (const std::exception& e) {
        return Failed(500, e.what());
    } catch (...) {
        return Failed(500, "an unknown failure");
    }
}

SAnswer Refusal(unsigned status, const std::string& why, SHeaders headers)
{
    SAnswer answer;
    answer.status = status;
    answer.contentType = "text/plain; charset=utf-8";
    answer.headers = std::move(headers);
    answer.body = std::to_string(status) + " " + Reason(status) + ": " + why + "\n";
    answer.log = "refused: " + why;
    return answer;
}

bool ToRequest(const bhttp::request<bhttp::string_body>& message, SRequest& request, SAnswer& refusal)
{
    const auto method = message.method_string();
    request.method.assign(method.data(), method.size());
    const auto target = message.target();
    request.version = message.version();
    request.headers.clear();
    for (const auto& field : message) {
        const auto name = field.name_string();
        const auto value = field.value();
        request.headers.emplace_back(std::string(name.data(), name.size()), std::string(value.data(), value.size()));
    }
    request.body = message.body();
    if (!http::SplitTarget(std::string_view(target.data(), target.size()), request.path, request.query)) {
        request.path.assign(target.data(), target.size());
        refusal = Refusal(400, "a request target in no form this server takes");
        return false;
    }
    if (request.version != 10 && request.version != 11) {
        refusal = Refusal(505, "only HTTP/1.0 and HTTP/1.1");
        refusal.close = true;
        return false;
    }
    return true;
}

bool KeepAlive(const SRequest& request, const SAnswer& answer)
{
    if (answer.close || request.version != 11)
        return false;
    const auto connection = request.Header("Connection");
    return !connection || !HasToken(*connection, "close");
}

std::string AnswerHead(const SAnswer& answer, std::uint64_t contentLength, bool keepAlive, std::int64_t unixSeconds)
{
    std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) + "\r\n";
    head.append("Server: ").append(SERVER_NAME).append("\r\n");
    head.append("Date: ").append(http::HttpDate(unixSeconds)).append("\r\n");
    if (!answer.contentType.empty())
        head.append("Content-Type: ").append(OneLine(answer.contentType)).append("\r\n");
    head.append("Content-Length: ").append(std::to_string(contentLength)).append("\r\n");
    head.append(keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n");
    for (const auto& [name, value] : answer.headers)
        head.append(OneLine(name)).append(": ").append(OneLine(value)).append("\r\n");
    head.append("\r\n");
    return head;
}

std::string LogLine(const SRequest& request, const SAnswer& answer)
{
    return request.peer + " " + request.method + " " + request.path + (request.query.empty() ? "" : "?" + request.query) +
           " -> " + std::to_string(answer.status) + " " + answer.log;
}

}  // namespace mediahost::server
