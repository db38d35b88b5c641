// The HTTP fuzz target (fuzz_http): the server's request rules, apart from
// any socket.
//
// One input is taken two ways:
// - as what a client sends on a connection: read by the HTTP parser with the
//   server's limits, turned into the request a piece sees, and dispatched
//   through a route table of the server's shape (the listing, the media
//   resource's decisions for a recording whose size, duration and time seek
//   the input's hash chooses, a POST route); the answer's head is written;
// - line by line, each line handed to every request rule on its own
//   (request target, media path, Range, TimeSeekRange, PlaySpeed, transfer
//   mode, query value), so the rules are reached also where the parser
//   would refuse the framing.
// Every result must keep the rules the server relies on: a range inside the
// file, a time inside the duration, a media path whose names are servable and
// read back from their URL form, a head whose lines no value can add to, no
// status outside the server's set, no failure caught at the boundary. A
// SOAP body, the POST's and the whole input taken as one, must read back the
// same from the answer that echoes its arguments (the escaping of both ways).
#include "FuzzSupport.h"

#include "Dispatcher.h"
#include "HttpRules.h"
#include "MediaRequest.h"
#include "Soap.h"

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace vskfuzz {
namespace {

using namespace mediahost;
using namespace mediahost::server;
namespace bhttp = boost::beast::http;

void Require(bool condition, const char* what)
{
    if (!condition)
        Fault(what);
}

std::uint64_t Hash(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

// The recording the media route answers for: size, duration and time seek
// chosen by the input, small and empty files and unknown durations included.
SMediaFacts FactsFor(std::uint64_t hash)
{
    SMediaFacts facts;
    static constexpr std::int64_t SIZES[] = {0, 1, 188, 1000000, 5915420, std::int64_t{1} << 40};
    facts.size = SIZES[hash % std::size(SIZES)];
    if ((hash >> 8) % 4 != 0)
        facts.durationMs = static_cast<std::uint32_t>((hash >> 16) % 7200000 + 1);
    facts.timeSeek = (hash >> 40) % 3 != 0;
    facts.mimeType = "video/mpeg";
    facts.profileName = (hash >> 48) % 2 ? "MPEG_TS_HD_NA_ISO" : "";
    return facts;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string HeaderOf(const SAnswer& answer, std::string_view name)
{
    for (const auto& [key, value] : answer.headers)
        if (key == name)
            return value;
    return "";
}

// The media resource's decisions, with seeks that land where a file of
// constant rate would put them.
SAnswer Media(const SRequest& request, const SMediaFacts& facts)
{
    std::vector<std::string> segments;
    if (http::MediaSegments(request.path, segments)) {
        Require(!segments.empty() && segments.size() <= http::MAX_SEGMENTS, "segment count");
        for (const std::string& segment : segments)
            Require(http::IsServableName(segment) && segment.find('/') == std::string::npos, "unservable segment");
        std::vector<std::string> again;
        Require(http::MediaSegments(http::MediaPath(segments), again) && again == segments, "URL form round trip");
    }

    const SMediaPlan plan = PlanMedia(request, facts);
    if (plan.refusal) {
        const unsigned status = plan.refusal->status;
        Require(status == 400 || status == 406 || status == 416, "media refusal status");
        Require(!plan.refusal->body.empty() && StartsWith(plan.refusal->log, "refused: "), "refusal text");
        return *plan.refusal;
    }
    STimeSeekFound found;
    if (plan.kind == SMediaPlan::TIME) {
        Require(facts.durationMs && facts.timeSeek, "time seek without one");
        const std::uint32_t duration = *facts.durationMs;
        Require(plan.startMs <= duration && (!plan.endMs || (*plan.endMs >= plan.startMs && *plan.endMs <= duration)),
                "time range outside the duration");
        auto at = [&](std::uint32_t ms) {
            return static_cast<std::int64_t>(static_cast<long double>(facts.size) * ms / duration);
        };
        found.foundMs = plan.startMs / 40 * 40;
        found.first = at(found.foundMs);
        if (plan.endMs && *plan.endMs < duration)
            found.end = at(*plan.endMs);
    }
    if (plan.kind == SMediaPlan::BYTES)
        Require(plan.first >= 0 && plan.first <= plan.last && plan.last < facts.size, "byte range outside the file");
    const SMediaHead head = MediaHead(plan, facts, found);
    if (!head.length) {
        Require(head.answer.status == 416 && plan.kind == SMediaPlan::TIME, "a head refused but for an empty range");
        return head.answer;
    }
    Require(head.first >= 0 && *head.length >= 0 && head.first + *head.length <= facts.size, "body outside the file");
    const std::string size = std::to_string(facts.size);
    const std::string last = std::to_string(head.first + *head.length - 1);
    if (head.answer.status == 206)
        Require(HeaderOf(head.answer, "Content-Range") == "bytes " + std::to_string(head.first) + "-" + last + "/" + size,
                "Content-Range and body differ");
    if (plan.kind == SMediaPlan::TIME) {
        const std::string range = HeaderOf(head.answer, "TimeSeekRange.dlna.org");
        const std::string bytes = " bytes=" + std::to_string(head.first) + "-" + last + "/" + size;
        Require(range.size() > bytes.size() && range.compare(range.size() - bytes.size(), bytes.size(), bytes) == 0,
                "TimeSeekRange bytes and body differ");
        Require(*head.length > 0, "an empty time range served");
    }
    SAnswer answer = head.answer;
    answer.streamed = SStreamedBody{*head.length, nullptr};
    return answer;
}

// The head as written: every line ends in CR LF and no value adds one.
void CheckHead(const SAnswer& answer)
{
    const std::string head = AnswerHead(answer, answer.body.size(), false, 0);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\n')
            Require(i > 0 && head[i - 1] == '\r', "a bare line feed in the head");
        else if (head[i] == '\r')
            Require(i + 1 < head.size() && head[i + 1] == '\n', "a bare carriage return in the head");
        else
            Require(head[i] != '\0', "a NUL in the head");
        lines += head[i] == '\n';
    }
    // Status line, Server, Date, Content-Length, Connection, the empty line.
    const std::size_t expected = 6 + answer.headers.size() + (answer.contentType.empty() ? 0 : 1);
    Require(lines == expected, "a value added a line to the head");
}

void DispatchMessage(const std::uint8_t* data, std::size_t size, const SMediaFacts& facts)
{
    bhttp::request_parser<bhttp::string_body> parser;
    parser.header_limit(REQUEST_HEAD_LIMIT);
    parser.body_limit(REQUEST_BODY_LIMIT);
    parser.eager(true);
    boost::beast::error_code ec;
    std::size_t used = 0;
    while (used < size && !parser.is_done()) {
        const std::size_t n = parser.put(boost::asio::buffer(data + used, size - used), ec);
        if (ec == bhttp::error::need_more) {
            ec = {};
            if (n == 0)
                break;
        } else if (ec) {
            break;
        }
        used += n;
    }
    if (ec || !parser.is_done())
        return;

    SRequest request;
    SAnswer refusal;
    if (!ToRequest(parser.get(), request, refusal)) {
        Require(refusal.status == 400 || refusal.status == 505, "request refusal status");
        CheckHead(refusal);
        return;
    }
    Require(request.path == "*" || StartsWith(request.path, "/"), "a path in no form");
    Require(request.body.size() <= REQUEST_BODY_LIMIT, "a body past its limit");

    CDispatcher dispatcher;
    dispatcher.Add("GET", "/", [](const SRequest&) {
        SAnswer answer;
        answer.contentType = "text/html; charset=utf-8";
        answer.body = "<html></html>";
        return answer;
    });
    dispatcher.AddPrefix("GET", std::string(http::MEDIA_PREFIX), [&](const SRequest& r) { return Media(r, facts); });
    dispatcher.Add("POST", "/upnp/control/ContentDirectory", [](const SRequest& r) {
        Require(soap::RoundTripsBody(r.body), "a SOAP request body whose echoed answer reads back otherwise");
        SAnswer answer;
        answer.contentType = "text/xml; charset=\"utf-8\"";
        answer.body = r.body;
        return answer;
    });
    const SAnswer answer = dispatcher.Dispatch(request);
    static constexpr unsigned STATUSES[] = {200, 206, 400, 404, 405, 406, 416};
    Require(std::find(std::begin(STATUSES), std::end(STATUSES), answer.status) != std::end(STATUSES),
            "a status outside the server's set (a failure caught at the boundary?)");
    CheckHead(answer);
    static_cast<void>(KeepAlive(request, answer));
}

// Each line of the input through each rule on its own.
void EachRule(std::string_view line, const SMediaFacts& facts)
{
    std::string path;
    std::string query;
    if (http::SplitTarget(line, path, query))
        Require(path == "*" || StartsWith(path, "/"), "a split target without a path");
    static_cast<void>(http::QueryValue(line, "profile"));

    std::vector<std::string> segments;
    if (http::MediaSegments(line, segments)) {
        std::vector<std::string> again;
        Require(http::MediaSegments(http::MediaPath(segments), again) && again == segments, "URL form round trip");
    }

    const http::SByteRange range = http::ParseRange(line, facts.size);
    if (range.kind == http::SByteRange::VALID)
        Require(range.first >= 0 && range.first <= range.last && range.last < facts.size, "a range outside the file");

    const http::STimeRange times = http::ParseTimeSeekRange(line);
    if (times.valid) {
        for (const std::uint64_t ms : {times.startMs, times.endMs.value_or(0)}) {
            std::uint64_t again = 0;
            Require(http::ParseNptTime(http::FormatNpt(ms), again) && again == ms, "npt round trip");
        }
    }
    const http::SPlaySpeed speed = http::ParsePlaySpeed(line);
    Require(speed.valid || !speed.normal, "a normal speed that is no speed");
    static_cast<void>(http::ParseTransferMode(line));
}

}  // namespace
}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vskfuzz;
    if (size == 0)
        return 0;
    try {
        const SMediaFacts facts = FactsFor(Hash(data, size));
        DispatchMessage(data, size, facts);
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        // The input as a SOAP body of its own, where no HTTP framing would
        // let it through.
        Require(soap::RoundTripsBody(text), "a SOAP body whose echoed answer reads back otherwise");
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            EachRule(line, facts);
            start = end + 1;
        }
    } catch (const std::exception& e) {
        Fault((std::string("thrown: ") + e.what()).c_str());
    }
    return 0;
}
