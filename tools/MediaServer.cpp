#include "MediaServer.h"

#include "HttpRules.h"
#include "TextEscape.h"
#include "Utf8.h"
#include "platform/com_holders.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace mediahost {
namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = net::ip::tcp;

constexpr std::size_t HEADER_LIMIT = 8 * 1024;
constexpr ULONG UNKNOWN_DURATION = 0xFFFFFFFFu;

std::mutex g_logLock;

std::string_view View(beast::string_view text)
{
    return std::string_view(text.data(), text.size());
}

void Log(const std::string& line)
{
    // One line each: what a client sent (a decoded name) cannot start another.
    std::string text = line;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    std::lock_guard guard(g_logLock);
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", local);
    std::fprintf(stderr, "%s %s\n", stamp, text.c_str());
    std::fflush(stderr);
}

// Probe facts per file, kept while the file's size and time stay the same.
class CRecordingCache {
public:
    SRecording Get(const CComponentHost& host, const fs::path& path)
    {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        const auto time = fs::last_write_time(path, ec);
        const std::string key = Utf8FromPath(path);
        {
            std::lock_guard guard(m_lock);
            const auto found = m_entries.find(key);
            if (found != m_entries.end() && found->second.size == size && found->second.time == time)
                return found->second.recording;
        }
        SRecording recording = host.Describe(path);
        std::lock_guard guard(m_lock);
        if (m_entries.size() >= 1024)
            m_entries.clear();
        m_entries[key] = SEntry{size, time, recording};
        return recording;
    }

private:
    struct SEntry {
        std::uintmax_t size = 0;
        fs::file_time_type time{};
        SRecording recording;
    };
    std::mutex m_lock;
    std::map<std::string, SEntry> m_entries;
};

struct SConnection {
    net::io_context ioc{1};
    std::optional<beast::tcp_stream> stream;  // destroyed before ioc
    std::thread thread;
    std::atomic<bool> done{false};
    std::string peer;
};

struct SContext {
    const CComponentHost& host;
    const SServeOptions& options;
    fs::path folder;  // canonical
    CRecordingCache cache;
    std::atomic<bool> stopping{false};
};

std::string DescribeFacts(const SRecording& recording)
{
    if (recording.probeResult != VSK_PARSER_RESULT_OK)
        return "no probe facts (" + HResultMessage(recording.probeResult) + ")";
    const SVskStreamProbe& p = recording.probe;
    std::ostringstream out;
    out << (p.durationMs / 1000) << "." << (p.durationMs % 1000) / 100 << " s";
    const std::uint32_t count = std::min(p.streamCount, VSK_PROBE_MAX_STREAMS);
    for (std::uint32_t i = 0; i < count; ++i) {
        const SVskProbeStream& s = p.streams[i];
        if (s.category == VSK_PROBE_STREAM_VIDEO) {
            out << ", " << CodecName(s.codec) << " " << s.width << "x" << s.height;
            if (s.frameRateDenominator != 0)
                out << " " << static_cast<double>(s.frameRateNumerator) / s.frameRateDenominator << " fps";
        } else if (s.category == VSK_PROBE_STREAM_AUDIO) {
            out << ", " << CodecName(s.codec) << " " << s.channels << " ch " << s.samplingRate << " Hz";
        }
    }
    return out.str();
}

class CSession {
public:
    CSession(SContext& context, SConnection& connection) : m_context(context), m_connection(connection) {}

    void Run()
    {
        CComThread com;
        if (FAILED(com.Result())) {
            Log(m_connection.peer + " closed: COM could not be initialised on its thread");
            return;
        }
        while (!m_context.stopping.load()) {
            bhttp::request_parser<bhttp::empty_body> parser;
            parser.header_limit(HEADER_LIMIT);
            const beast::error_code ec = Await([&](auto handler) {
                bhttp::async_read(*m_connection.stream, m_buffer, parser, std::move(handler));
            });
            if (ec == bhttp::error::end_of_stream || ec == net::error::connection_reset ||
                ec == net::error::operation_aborted)
                break;
            if (ec == beast::error::timeout) {
                if (parser.got_some() || m_buffer.size() != 0)
                    Log(m_connection.peer + " refused: the request did not arrive within the time-out (slow client)");
                else
                    Log(m_connection.peer + " closed: idle past the time-out");
                break;
            }
            if (ec == bhttp::error::header_limit) {
                Refuse(bhttp::verb::get, "-", 11, bhttp::status::request_header_fields_too_large,
                       "request headers over 8 KiB", false);
                break;
            }
            if (ec) {
                Refuse(bhttp::verb::get, "-", 11, bhttp::status::bad_request, "unreadable request: " + ec.message(),
                       false);
                break;
            }
            if (!Handle(parser.get()) || !parser.get().keep_alive())
                break;
        }
        beast::error_code ignored;
        m_connection.stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
        m_connection.stream->socket().close(ignored);
    }

private:
    using Request = bhttp::request<bhttp::empty_body>;

    // Runs one asynchronous operation on this connection's own context, with
    // the time-out. The server's stop closes the socket through the same
    // context, which ends the operation.
    template <class Start>
    beast::error_code Await(Start&& start)
    {
        beast::error_code result = net::error::operation_aborted;
        bool finished = false;
        m_connection.stream->expires_after(m_context.options.timeout);
        start([&](beast::error_code ec, std::size_t) {
            result = ec;
            finished = true;
        });
        m_connection.ioc.restart();
        m_connection.ioc.run();
        return finished ? result : beast::error_code(net::error::operation_aborted);
    }

    std::string Describe(bhttp::verb method, std::string_view target) const
    {
        return m_connection.peer + " " + std::string(View(bhttp::to_string(method))) + " " + std::string(target);
    }

    // A short answer with a text body (none for HEAD); false when the
    // connection is to be closed.
    bool Refuse(bhttp::verb method, std::string_view target, unsigned version, bhttp::status status,
                const std::string& why, bool keepAlive,
                const std::vector<std::pair<std::string, std::string>>& headers = {})
    {
        Log(Describe(method, target) + " -> " + std::to_string(static_cast<unsigned>(status)) + " refused: " + why);
        bhttp::response<bhttp::string_body> response{status, version};
        response.set(bhttp::field::server, "VskMediaHost");
        response.set(bhttp::field::content_type, "text/plain; charset=utf-8");
        for (const auto& [name, value] : headers)
            response.set(name, value);
        const std::string body = std::to_string(static_cast<unsigned>(status)) + " " +
                                 std::string(View(bhttp::obsolete_reason(status))) + ": " + why + "\n";
        if (method != bhttp::verb::head)
            response.body() = body;
        response.content_length(body.size());
        response.keep_alive(keepAlive);
        const beast::error_code ec = Await([&](auto handler) {
            bhttp::async_write(*m_connection.stream, response, std::move(handler));
        });
        return !ec && keepAlive;
    }

    bool Handle(const Request& request)
    {
        const std::string_view target = View(request.target());
        const bool keepAlive = request.keep_alive();
        if (request.method() != bhttp::verb::get && request.method() != bhttp::verb::head)
            return Refuse(request.method(), target, request.version(), bhttp::status::method_not_allowed,
                          "only GET and HEAD", keepAlive, {{"Allow", "GET, HEAD"}});
        const std::string_view path = target.substr(0, target.find('?'));
        if (path == "/")
            return Listing(request);
        return Media(request);
    }

    // The folder's files the component serves, sorted by name.
    std::vector<fs::path> Recordings()
    {
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(m_context.folder, ec), end; !ec && it != end; it.increment(ec)) {
            fs::path resolved;
            if (Resolve(Utf8FromPath(it->path().filename()), resolved))
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    bool Listing(const Request& request)
    {
        std::string html =
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Recordings</title></head><body>\n"
            "<h1>Recordings</h1>\n<table border=\"1\" cellpadding=\"4\">\n"
            "<tr><th>file</th><th>size</th><th>facts</th><th>profiles</th></tr>\n";
        for (const fs::path& file : Recordings()) {
            const SRecording recording = m_context.cache.Get(m_context.host, file);
            std::vector<STarget> targets;
            if (FAILED(m_context.host.SourceProfiles(recording, targets)) || targets.empty())
                continue;
            const std::string name = Utf8FromPath(file.filename());
            std::error_code ec;
            html += "<tr><td>" + EscapeMarkup(name) + "</td><td>" + std::to_string(fs::file_size(file, ec)) +
                    "</td><td>" + EscapeMarkup(DescribeFacts(recording)) + "</td><td>";
            for (const STarget& t : targets) {
                const std::string href = "/" + http::PercentEncode(name) +
                                         (t.DlnaName().empty() ? "" : "?profile=" + http::PercentEncode(t.DlnaName()));
                html += "<a href=\"" + EscapeMarkup(href) + "\">" +
                        EscapeMarkup(t.DlnaName().empty() ? "(no profile name)" : t.DlnaName()) + "</a> " +
                        EscapeMarkup(t.mimeType) + (t.flag2 ? ", time seek" : "") + "<br>";
            }
            html += "</td></tr>\n";
        }
        html += "</table>\n</body></html>\n";

        bhttp::response<bhttp::string_body> response{bhttp::status::ok, request.version()};
        response.set(bhttp::field::server, "VskMediaHost");
        response.set(bhttp::field::content_type, "text/html; charset=utf-8");
        response.content_length(html.size());
        if (request.method() != bhttp::verb::head)
            response.body() = std::move(html);
        response.keep_alive(request.keep_alive());
        Log(Describe(request.method(), View(request.target())) + " -> 200 listing");
        const beast::error_code ec = Await([&](auto handler) {
            bhttp::async_write(*m_connection.stream, response, std::move(handler));
        });
        return !ec;
    }

    // The file `name` names inside the folder, links resolved; false when it
    // is no regular file there or a link leads out of the folder.
    bool Resolve(const std::string& name, fs::path& resolved) const
    {
        if (!http::IsSafeFileName(name))
            return false;
        std::error_code ec;
        const fs::path candidate = m_context.folder / PathFromUtf8(name);
        resolved = fs::canonical(candidate, ec);
        return !ec && resolved.parent_path() == m_context.folder && fs::is_regular_file(resolved, ec);
    }

    bool Media(const Request& request)
    {
        const bhttp::verb method = request.method();
        const std::string_view target = View(request.target());
        const unsigned version = request.version();
        const bool keepAlive = request.keep_alive();
        auto refuse = [&](bhttp::status status, const std::string& why,
                          const std::vector<std::pair<std::string, std::string>>& headers = {}) {
            return Refuse(method, target, version, status, why, keepAlive, headers);
        };

        std::string name;
        std::string query;
        fs::path path;
        if (!http::RequestedFile(target, name, query))
            return refuse(bhttp::status::not_found, "not a file name of the folder");
        if (!Resolve(name, path))
            return refuse(bhttp::status::not_found, "no such file in the folder");

        const SRecording recording = m_context.cache.Get(m_context.host, path);
        std::vector<STarget> targets;
        const HRESULT listed = m_context.host.SourceProfiles(recording, targets);
        if (FAILED(listed) || targets.empty())
            return refuse(bhttp::status::not_found,
                          "the component serves no profile of it" + (FAILED(listed) ? ": " + HResultMessage(listed) : ""));
        const std::optional<std::string> wanted = http::QueryValue(query, "profile");
        const auto chosen = std::find_if(targets.begin(), targets.end(), [&](const STarget& t) {
            return !wanted || (wanted->empty() ? t.DlnaName().empty() : t.Answers(*wanted));
        });
        if (chosen == targets.end())
            return refuse(bhttp::status::not_found, "profile " + *wanted + " is not offered for this file");

        // DLNA request headers.
        std::string mode = "Streaming";
        if (request.count("getcontentFeatures.dlna.org") != 0 && View(request["getcontentFeatures.dlna.org"]) != "1")
            return refuse(bhttp::status::bad_request, "getcontentFeatures.dlna.org other than 1");
        if (request.count("transferMode.dlna.org") != 0) {
            const std::string_view asked = View(request["transferMode.dlna.org"]);
            if (beast::iequals(beast::string_view(asked.data(), asked.size()), "Interactive"))
                return refuse(bhttp::status::not_acceptable, "transfer mode Interactive for a video");
            if (beast::iequals(beast::string_view(asked.data(), asked.size()), "Background"))
                mode = "Background";
            else if (!beast::iequals(beast::string_view(asked.data(), asked.size()), "Streaming"))
                return refuse(bhttp::status::bad_request, "unknown transfer mode " + std::string(asked));
        }
        const bool hasRange = request.count(bhttp::field::range) != 0;
        const bool hasTimeSeek = request.count("TimeSeekRange.dlna.org") != 0;
        if (request.count(bhttp::field::range) > 1 || request.count("TimeSeekRange.dlna.org") > 1)
            return refuse(bhttp::status::bad_request, "the same range header twice");
        if (hasRange && hasTimeSeek)
            return refuse(bhttp::status::bad_request, "Range and TimeSeekRange.dlna.org together; ask for one");

        CComPtr<IVskMediaTranscoder> converter;
        HRESULT hr = m_context.host.OpenConverter(recording, *chosen, converter);
        if (FAILED(hr))
            return refuse(bhttp::status::internal_server_error, "the converter refused to open it: " + HResultMessage(hr));
        LONGLONG size = -1;
        ULONG duration = UNKNOWN_DURATION;
        converter->GetSize(&size);
        converter->GetDuration(&duration);
        const bool timeSeek = chosen->flag2 && duration != UNKNOWN_DURATION;

        bhttp::response<bhttp::empty_body> response{bhttp::status::ok, version};
        response.set(bhttp::field::server, "VskMediaHost");
        response.set(bhttp::field::content_type, chosen->mimeType);
        response.set("contentFeatures.dlna.org", http::ContentFeatures(chosen->DlnaName(), timeSeek));
        response.set("transferMode.dlna.org", mode);
        response.set(bhttp::field::accept_ranges, "bytes");

        std::int64_t first = 0;
        std::int64_t length = size;
        std::string outcome;
        if (hasTimeSeek) {
            if (!timeSeek)
                return refuse(bhttp::status::not_acceptable,
                              chosen->flag2 ? "time seek with an unknown duration" : "this profile has no time seek");
            const http::STimeRange range = http::ParseTimeSeekRange(View(request["TimeSeekRange.dlna.org"]));
            if (!range.valid)
                return refuse(bhttp::status::bad_request, "malformed TimeSeekRange.dlna.org");
            if (range.startMs > duration || (range.endMs && *range.endMs > duration))
                return refuse(bhttp::status::range_not_satisfiable, "time past the duration of " +
                                                                       http::FormatNpt(duration) + " s");
            if (range.endMs && *range.endMs < range.startMs)
                return refuse(bhttp::status::bad_request, "time seek end before its start");
            ULONG found = 0;
            LONGLONG position = -1;
            hr = converter->SeekByTime(static_cast<ULONG>(range.startMs), &found, &position);
            // The body starts exactly at the byte the header names: a seek
            // to that (whole-unit) byte drops any part of a unit the time
            // seek would skip at the next read.
            if (SUCCEEDED(hr))
                hr = converter->SeekByBytes(position);
            if (FAILED(hr))
                return refuse(hr == E_INVALIDARG ? bhttp::status::range_not_satisfiable
                                                 : bhttp::status::internal_server_error,
                              "the converter's time seek failed: " + HResultMessage(hr));
            first = position;
            length = std::max<std::int64_t>(0, size - position);
            const std::string value = "npt=" + http::FormatNpt(found) + "-" +
                                      http::FormatNpt(range.endMs ? *range.endMs : duration) + "/" +
                                      http::FormatNpt(duration) + " bytes=" + std::to_string(first) + "-" +
                                      std::to_string(size - 1) + "/" + std::to_string(size);
            response.set("TimeSeekRange.dlna.org", value);
            outcome = "200 " + value;
        } else if (hasRange) {
            const http::SByteRange range = http::ParseRange(View(request[bhttp::field::range]), size);
            if (range.kind == http::SByteRange::MALFORMED)
                return refuse(bhttp::status::bad_request, "malformed or multiple Range");
            if (range.kind == http::SByteRange::UNSATISFIABLE)
                return refuse(bhttp::status::range_not_satisfiable, "range past the end",
                              {{"Content-Range", "bytes */" + std::to_string(size)}});
            hr = converter->SeekByBytes(range.first);
            if (FAILED(hr))
                return refuse(bhttp::status::internal_server_error, "the converter's seek failed: " + HResultMessage(hr));
            first = range.first;
            length = range.last - range.first + 1;
            const std::string value = "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
                                      std::to_string(size);
            response.result(bhttp::status::partial_content);
            response.set(bhttp::field::content_range, value);
            outcome = "206 " + value;
        } else {
            outcome = "200 " + std::to_string(size) + " bytes";
        }
        response.content_length(static_cast<std::uint64_t>(length));
        response.keep_alive(keepAlive);
        Log(Describe(method, target) + " -> " + outcome + " as " +
            (chosen->DlnaName().empty() ? chosen->mimeType : chosen->DlnaName()));

        bhttp::response_serializer<bhttp::empty_body> serializer{response};
        beast::error_code ec = Await([&](auto handler) {
            bhttp::async_write_header(*m_connection.stream, serializer, std::move(handler));
        });
        if (ec)
            return false;
        if (method == bhttp::verb::head)
            return true;
        if (FAILED(converter->Start()))
            return false;
        const bool sent = Body(converter, first, length, size, recording.facts.packetFormat >= 2);
        converter->Close();
        return sent;
    }

    // `length` bytes from the converter, which stands at `first`.
    bool Body(IVskMediaTranscoder* converter, std::int64_t first, std::int64_t length, std::int64_t size,
              bool units192)
    {
        std::int64_t sent = 0;
        while (sent < length) {
            if (m_context.stopping.load())
                return false;
            const LONG count = NextReadCount(first + sent, size, units192);
            SAFEARRAY* data = nullptr;
            VARIANT_BOOL end = VARIANT_FALSE;
            const HRESULT hr = converter->Read(count, &data, &end);
            if (FAILED(hr)) {
                Log(m_connection.peer + " body cut: Read failed: " + HResultMessage(hr));
                return false;
            }
            CComSafeArray<BYTE> bytes;
            try {
                bytes.Attach(data);
            } catch (const CAtlException&) {
                SafeArrayDestroy(data);
                return false;
            }
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(bytes.GetCount(), length - sent));
            if (n == 0) {
                Log(m_connection.peer + " body cut: the file ended " + std::to_string(length - sent) + " bytes early");
                return false;
            }
            const beast::error_code ec = Await([&](auto handler) {
                net::async_write(*m_connection.stream, net::buffer(bytes.GetData(), n), std::move(handler));
            });
            if (ec) {
                if (ec == beast::error::timeout)
                    Log(m_connection.peer + " closed: the client took no data within the time-out (slow client)");
                return false;
            }
            sent += static_cast<std::int64_t>(n);
        }
        return true;
    }

    SContext& m_context;
    SConnection& m_connection;
    beast::flat_buffer m_buffer{HEADER_LIMIT};
};

class CServer {
public:
    CServer(SContext& context) : m_context(context), m_acceptor(m_ioc), m_signals(m_ioc, SIGINT, SIGTERM) {}

    int Run()
    {
        beast::error_code ec;
        const net::ip::address address = net::ip::make_address(m_context.options.bind, ec);
        if (ec) {
            std::fprintf(stderr, "error: %s is not an IP address\n", m_context.options.bind.c_str());
            return 2;
        }
        const tcp::endpoint endpoint(address, m_context.options.port);
        m_acceptor.open(endpoint.protocol(), ec);
#if VSK_HOST_REUSE_ADDRESS
        // Lets a restarted server listen while old connections linger.
        if (!ec)
            m_acceptor.set_option(net::socket_base::reuse_address(true), ec);
#endif
        if (!ec)
            m_acceptor.bind(endpoint, ec);
        if (!ec)
            m_acceptor.listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            std::fprintf(stderr, "error: cannot listen on %s port %u: %s\n", m_context.options.bind.c_str(),
                         static_cast<unsigned>(m_context.options.port), ec.message().c_str());
            return 1;
        }
        const tcp::endpoint local = m_acceptor.local_endpoint(ec);
        const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
        std::printf("listening on http://%s:%u/ serving %s\n", host.c_str(), static_cast<unsigned>(local.port()),
                    Utf8FromPath(m_context.folder).c_str());
        std::fflush(stdout);

        m_signals.async_wait([this](const beast::error_code& error, int) {
            if (!error)
                Stop();
        });
        Accept();
        m_ioc.run();
        for (auto& connection : m_connections)
            if (connection->thread.joinable())
                connection->thread.join();
        m_connections.clear();
        Log("stopped");
        return 0;
    }

private:
    void Accept()
    {
        auto connection = std::make_shared<SConnection>();
        m_acceptor.async_accept(connection->ioc, [this, connection](beast::error_code ec, tcp::socket socket) {
            if (m_context.stopping.load())
                return;
            Reap();
            if (ec) {
                // Out of descriptors or the like: try again shortly rather
                // than spin.
                Log("accept failed: " + ec.message());
                m_retry.expires_after(std::chrono::milliseconds(200));
                m_retry.async_wait([this](const beast::error_code& error) {
                    if (!error && !m_context.stopping.load())
                        Accept();
                });
                return;
            } else {
                beast::error_code ignored;
                const tcp::endpoint peer = socket.remote_endpoint(ignored);
                connection->peer = peer.address().to_string() + ":" + std::to_string(peer.port());
                if (m_connections.size() >= m_context.options.maxClients) {
                    Log(connection->peer + " refused: " + std::to_string(m_connections.size()) +
                        " clients are being served already");
                } else {
                    connection->stream.emplace(std::move(socket));
                    SConnection* raw = connection.get();
                    raw->thread = std::thread([this, raw] {
                        CSession(m_context, *raw).Run();
                        raw->done = true;
                    });
                    m_connections.push_back(connection);
                }
            }
            Accept();
        });
    }

    // Joins the threads of connections that have ended.
    void Reap()
    {
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->done.load()) {
                (*it)->thread.join();
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Stop()
    {
        Log("stopping: closing the listening socket and " + std::to_string(m_connections.size()) + " connection(s)");
        m_context.stopping = true;
        beast::error_code ignored;
        m_acceptor.close(ignored);
        m_retry.cancel();
        for (auto& connection : m_connections) {
            SConnection* raw = connection.get();
            net::post(raw->ioc, [raw] {
                beast::error_code ec;
                raw->stream->socket().shutdown(tcp::socket::shutdown_both, ec);
                raw->stream->socket().close(ec);
            });
        }
    }

    SContext& m_context;
    net::io_context m_ioc{1};
    tcp::acceptor m_acceptor;
    net::signal_set m_signals;
    net::steady_timer m_retry{m_ioc};
    std::list<std::shared_ptr<SConnection>> m_connections;
};

}  // namespace

int Serve(const CComponentHost& host, const SServeOptions& options)
{
    std::error_code ec;
    const fs::path folder = fs::canonical(options.folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "error: %s is not a folder\n", Utf8FromPath(options.folder).c_str());
        return 2;
    }
    SContext context{host, options, folder, {}, {}};
    CServer server(context);
    return server.Run();
}

}  // namespace mediahost
