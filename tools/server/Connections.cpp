#include "Connections.h"

#include "ComponentHost.h"
#include "Log.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace mediahost::server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = net::ip::tcp;

// Room in the read buffer for a head at its limit and a read beyond it.
constexpr std::size_t BUFFER_LIMIT = 2 * REQUEST_HEAD_LIMIT;
constexpr std::chrono::seconds LINGER{2};
// Connections beyond the limit still answered 503 (and lingering) before
// further ones are closed without a word.
constexpr std::size_t REFUSING_RESERVE = 64;
constexpr const char* RETRY_AFTER_SECONDS = "2";

std::string Endpoint(const tcp::endpoint& endpoint)
{
    const net::ip::address address = endpoint.address();
    const std::string text = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return text + ":" + std::to_string(endpoint.port());
}

struct SConnection {
    explicit SConnection(tcp::socket socket) : stream(std::move(socket)) {}

    beast::tcp_stream stream;
    beast::flat_buffer buffer{BUFFER_LIMIT};
    std::optional<bhttp::request_parser<bhttp::string_body>> parser;
    net::ip::address address;
    std::string peer;
    std::string host;
    bool fresh = true;   // no request read yet
    bool closed = false;
};
using PConnection = std::shared_ptr<SConnection>;

struct SJob {
    PConnection connection;
    SRequest request;
};

// What becomes of a connection once its answer is written.
enum class EAfter {
    KEEP_OPEN,  // the next request
    END,        // the answer is complete and said Connection: close
    ABORT,      // the answer could not be completed
};

}  // namespace

class CConnections::CImpl {
public:
    CImpl(const SServeOptions& options, Handler handler)
        : m_options(options), m_handler(std::move(handler)), m_acceptor(m_ioc), m_signals(m_ioc, SIGINT, SIGTERM),
          m_retry(m_ioc), m_guard(net::make_work_guard(m_ioc))
    {
    }

    bool Listen(std::string& why)
    {
        beast::error_code ec;
        const net::ip::address address = net::ip::make_address(m_options.bind, ec);
        if (ec) {
            why = m_options.bind + " is not an IP address";
            return false;
        }
        const tcp::endpoint endpoint(address, m_options.port);
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
            why = "cannot listen on " + m_options.bind + " port " + std::to_string(m_options.port) + ": " + ec.message();
            return false;
        }
        return true;
    }

    tcp::endpoint LocalEndpoint() const
    {
        beast::error_code ec;
        return m_acceptor.local_endpoint(ec);
    }

    net::io_context& Context() { return m_ioc; }

    void Run(std::function<void()> stopping)
    {
        m_stoppingHook = std::move(stopping);
        for (unsigned i = 0; i < std::max(1u, m_options.maxClients); ++i)
            m_workers.emplace_back([this] { Work(); });
        m_signals.async_wait([this](const beast::error_code& error, int) {
            if (!error)
                BeginStop();
        });
        Accept();
        // A handler that throws must not end the thread every connection
        // depends on; what it was doing is lost, the rest goes on.
        for (;;) {
            try {
                m_ioc.run();
                break;
            } catch (const std::exception& e) {
                Log(std::string("connection thread: a failure was caught: ") + e.what());
            } catch (...) {
                Log("connection thread: an unknown failure was caught");
            }
        }
        if (m_joiner.joinable())
            m_joiner.join();
        Log("stopped");
    }

    void Stop()
    {
        net::post(m_ioc, [this] { BeginStop(); });
    }

    ~CImpl()
    {
        if (!m_stopping) {
            m_stopping = true;
            {
                std::lock_guard guard(m_jobsLock);
                m_quit = true;
            }
            m_jobsReady.notify_all();
        }
        if (m_joiner.joinable())
            m_joiner.join();
        for (std::thread& worker : m_workers)
            if (worker.joinable())
                worker.join();
    }

private:
    // ---- the connection thread --------------------------------------------

    void Accept()
    {
        m_acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (m_stopping)
                return;
            if (ec) {
                // Out of descriptors or the like: try again shortly rather
                // than spin.
                Log("accept failed: " + ec.message());
                m_retry.expires_after(std::chrono::milliseconds(200));
                m_retry.async_wait([this](const beast::error_code& error) {
                    if (!error && !m_stopping)
                        Accept();
                });
                return;
            }
            Accepted(std::move(socket));
            Accept();
        });
    }

    void Accepted(tcp::socket socket)
    {
        beast::error_code ec;
        const tcp::endpoint remote = socket.remote_endpoint(ec);
        const tcp::endpoint local = socket.local_endpoint(ec);
        if (ec)
            return;  // gone already
        auto c = std::make_shared<SConnection>(std::move(socket));
        c->address = remote.address();
        c->peer = Endpoint(remote);
        c->host = Endpoint(local);
        if (m_open.size() >= m_options.maxConnections + REFUSING_RESERVE) {
            Log(c->peer + " refused: " + std::to_string(m_open.size()) + " connections are open; closed unanswered");
            return;
        }
        m_open.insert(c);
        const unsigned fromAddress = ++m_openBy[c->address];
        if (m_open.size() > m_options.maxConnections) {
            Refuse(c, "-", Busy(std::to_string(m_options.maxConnections) + " connections are open"));
            return;
        }
        if (fromAddress > m_options.maxConnectionsPerClient) {
            Refuse(c, "-", Busy("this client has " + std::to_string(m_options.maxConnectionsPerClient) +
                                    " connections open"));
            return;
        }
        ReadRequest(c);
    }

    static SAnswer Busy(const std::string& why)
    {
        SAnswer answer = Refusal(503, why, {{"Retry-After", RETRY_AFTER_SECONDS}});
        answer.close = true;
        return answer;
    }

    void ReadRequest(const PConnection& c)
    {
        if (c->closed || m_stopping) {
            Close(c);
            return;
        }
        c->parser.emplace();
        c->parser->header_limit(REQUEST_HEAD_LIMIT);
        c->parser->body_limit(REQUEST_BODY_LIMIT);
        if (c->fresh || c->buffer.size() != 0) {
            c->stream.expires_after(m_options.headerTimeout);
            ReadHead(c);
            return;
        }
        // Idle between requests: the next one's head is timed from its
        // first byte.
        c->stream.expires_after(m_options.timeout);
        c->stream.async_read_some(c->buffer.prepare(REQUEST_HEAD_LIMIT), [this, c](beast::error_code ec, std::size_t n) {
            c->buffer.commit(n);
            if (ec) {
                ReadFailed(c, ec);
                return;
            }
            c->stream.expires_after(m_options.headerTimeout);
            ReadHead(c);
        });
    }

    void ReadHead(const PConnection& c)
    {
        bhttp::async_read_header(c->stream, c->buffer, *c->parser, [this, c](beast::error_code ec, std::size_t) {
            if (ec) {
                ReadFailed(c, ec);
                return;
            }
            if (c->parser->is_done()) {
                Arrived(c);
                return;
            }
            const auto expect = c->parser->get()[bhttp::field::expect];
            if (beast::iequals(expect, "100-continue")) {
                static const std::string CONTINUE = "HTTP/1.1 100 Continue\r\n\r\n";
                net::async_write(c->stream, net::buffer(CONTINUE), [this, c](beast::error_code error, std::size_t) {
                    if (error)
                        ReadFailed(c, error);
                    else
                        ReadBody(c);
                });
                return;
            }
            ReadBody(c);
        });
    }

    void ReadBody(const PConnection& c)
    {
        bhttp::async_read(c->stream, c->buffer, *c->parser, [this, c](beast::error_code ec, std::size_t) {
            if (ec)
                ReadFailed(c, ec);
            else
                Arrived(c);
        });
    }

    void ReadFailed(const PConnection& c, const beast::error_code& ec)
    {
        if (ec == beast::error::timeout) {
            const bool started = c->parser->got_some() || c->buffer.size() != 0;
            if (started)
                Log(c->peer + " refused: the request did not arrive within " +
                    std::to_string(m_options.headerTimeout.count()) + " s (slow client)");
            else
                Log(c->peer + (c->fresh ? " closed: no request within the time-out" : " closed: idle past the time-out"));
            Close(c);
        } else if (ec == bhttp::error::header_limit) {
            Refuse(c, "-", Refusal(431, "request headers over 8 KiB"));
        } else if (ec == bhttp::error::body_limit) {
            Refuse(c, "-", Refusal(413, "a request body over 64 KiB"));
        } else if (ec == bhttp::error::bad_version) {
            Refuse(c, "-", Refusal(505, "only HTTP/1.0 and HTTP/1.1"));
        } else if (ec == bhttp::error::end_of_stream || ec == bhttp::error::partial_message || ec == net::error::eof ||
                   ec == net::error::connection_reset || ec == net::error::operation_aborted || c->closed) {
            Close(c);
        } else if (c->parser->got_some() || c->buffer.size() != 0) {
            Refuse(c, "-", Refusal(400, "unreadable request: " + ec.message()));
        } else {
            Close(c);
        }
    }

    void Arrived(const PConnection& c)
    {
        c->fresh = false;
        SJob job{c, {}};
        SRequest& request = job.request;
        request.peer = c->peer;
        request.host = c->host;
        SAnswer refusal;
        const bool readable = ToRequest(c->parser->get(), request, refusal);
        c->parser.reset();
        if (!readable) {
            Refuse(c, request, refusal);
            return;
        }
        if (m_serving >= m_options.maxClients) {
            Refuse(c, request, Busy("all " + std::to_string(m_options.maxClients) + " serving threads are busy"));
            return;
        }
        unsigned& fromAddress = m_servingBy[c->address];
        if (fromAddress >= m_options.maxPerClient) {
            Refuse(c, request, Busy("this client has " + std::to_string(m_options.maxPerClient) + " requests in service"));
            return;
        }
        ++fromAddress;
        ++m_serving;
        {
            std::lock_guard guard(m_jobsLock);
            m_jobs.push_back(std::move(job));
        }
        m_jobsReady.notify_one();
    }

    // After a serving thread's answer.
    void Finished(const PConnection& c, EAfter after)
    {
        --m_serving;
        const auto from = m_servingBy.find(c->address);
        if (from != m_servingBy.end() && --from->second == 0)
            m_servingBy.erase(from);
        if (after == EAfter::KEEP_OPEN)
            ReadRequest(c);
        else if (after == EAfter::END)
            Linger(c);
        else
            Close(c);
    }

    // A refusal from this thread, then the connection ends.
    void Refuse(const PConnection& c, const SRequest& request, const SAnswer& answer)
    {
        Log(LogLine(request, answer));
        auto text = std::make_shared<std::string>(
            AnswerHead(answer, answer.body.size(), false, std::time(nullptr)) + (request.method == "HEAD" ? "" : answer.body));
        c->stream.expires_after(m_options.timeout);
        net::async_write(c->stream, net::buffer(*text), [this, c, text](beast::error_code ec, std::size_t) {
            if (ec)
                Close(c);
            else
                Linger(c);
        });
    }

    void Refuse(const PConnection& c, const char* target, const SAnswer& answer)
    {
        SRequest request;
        request.peer = c->peer;
        request.method = "-";
        request.path = target;
        Refuse(c, request, answer);
    }

    // Ends our side and drains the client's for a while, so an answer is not
    // lost to a reset for bytes it sent that were never read.
    void Linger(const PConnection& c)
    {
        if (c->closed)
            return;
        beast::error_code ignored;
        c->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        c->stream.expires_after(LINGER);
        Drain(c);
    }

    void Drain(const PConnection& c)
    {
        auto sink = std::make_shared<std::array<char, 4096>>();
        c->stream.async_read_some(net::buffer(*sink), [this, c, sink](beast::error_code ec, std::size_t) {
            if (ec || m_stopping)
                Close(c);
            else
                Drain(c);
        });
    }

    void Close(const PConnection& c)
    {
        if (!c->closed) {
            c->closed = true;
            beast::error_code ignored;
            c->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
            c->stream.socket().close(ignored);
        }
        if (m_open.erase(c) != 0) {
            const auto from = m_openBy.find(c->address);
            if (from != m_openBy.end() && --from->second == 0)
                m_openBy.erase(from);
        }
    }

    void BeginStop()
    {
        if (m_stopping)
            return;
        Log("stopping: closing the listening socket and " + std::to_string(m_open.size()) + " connection(s)");
        if (m_stoppingHook) {
            try {
                m_stoppingHook();
            } catch (const std::exception& e) {
                Log(std::string("stopping: ") + e.what());
            }
        }
        m_stopping = true;
        beast::error_code ignored;
        m_acceptor.close(ignored);
        m_signals.cancel(ignored);
        m_retry.cancel();
        const std::vector<PConnection> open(m_open.begin(), m_open.end());
        for (const PConnection& c : open)
            Close(c);
        {
            std::lock_guard guard(m_jobsLock);
            m_quit = true;
        }
        m_jobsReady.notify_all();
        // The serving threads may still wait for writes this thread runs:
        // the context keeps running until they are done.
        m_joiner = std::thread([this] {
            for (std::thread& worker : m_workers)
                worker.join();
            m_workers.clear();
            net::post(m_ioc, [this] { m_guard.reset(); });
        });
    }

    // ---- the serving threads ----------------------------------------------

    void Work()
    {
        CComThread com;
        if (FAILED(com.Result()))
            Log("serving thread: COM could not be initialised: " + HResultMessage(com.Result()));
        for (;;) {
            SJob job;
            {
                std::unique_lock lock(m_jobsLock);
                m_jobsReady.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
                if (m_quit)
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            EAfter after = EAfter::ABORT;
            try {
                after = Answer(job.connection, job.request);
            } catch (const std::exception& e) {
                Log(job.request.peer + " serving thread: a failure was caught: " + e.what());
            } catch (...) {
                Log(job.request.peer + " serving thread: an unknown failure was caught");
            }
            net::post(m_ioc, [this, c = job.connection, after] { Finished(c, after); });
        }
    }

    // Runs one write on the connection thread; the bytes must live until
    // the future is ready.
    std::future<beast::error_code> Write(const PConnection& c, net::const_buffer bytes, bool timed)
    {
        auto done = std::make_shared<std::promise<beast::error_code>>();
        std::future<beast::error_code> result = done->get_future();
        net::post(m_ioc, [this, c, bytes, timed, done] {
            if (c->closed) {
                done->set_value(net::error::operation_aborted);
                return;
            }
            if (timed)
                c->stream.expires_after(m_options.timeout);
            else
                c->stream.expires_never();
            net::async_write(c->stream, bytes,
                             [done](beast::error_code ec, std::size_t) { done->set_value(ec); });
        });
        return result;
    }

    // The dispatcher's answer, written.
    EAfter Answer(const PConnection& c, const SRequest& request)
    {
        SAnswer answer = m_handler(request);
        // However the write ends, the piece hears that the answer is done.
        struct SSentNotice {
            const std::function<void()>& sent;
            ~SSentNotice()
            {
                if (sent)
                    sent();
            }
        } notice{answer.sent};
        const bool keepAlive = KeepAlive(request, answer) && !m_stopping;
        const bool head = request.method == "HEAD";
        const std::uint64_t length =
            answer.streamed ? static_cast<std::uint64_t>(answer.streamed->length) : answer.body.size();
        const std::string text = AnswerHead(answer, length, keepAlive, std::time(nullptr));
        Log(LogLine(request, answer));
        const EAfter after = keepAlive ? EAfter::KEEP_OPEN : EAfter::END;
        if (head || !answer.streamed) {
            const std::string_view body = head ? std::string_view() : std::string_view(answer.body);
            if (Write(c, net::buffer(text), true).get())
                return EAfter::ABORT;
            if (!body.empty() && Write(c, net::buffer(body.data(), body.size()), true).get())
                return EAfter::ABORT;
            return after;
        }
        return Stream(c, request.peer, text, *answer.streamed) ? after : EAfter::ABORT;
    }

    // The head, then the body as its source gives it: the next piece is read
    // while the last one is being written.
    bool Stream(const PConnection& c, const std::string& peer, const std::string& head, const SStreamedBody& body)
    {
        std::future<beast::error_code> writing = Write(c, net::buffer(head), false);
        std::vector<std::uint8_t> chunks[2];
        std::int64_t sent = 0;
        for (int which = 0; sent < body.length; which ^= 1) {
            std::vector<std::uint8_t>& chunk = chunks[which];
            const bool read = body.next(chunk);
            if (const beast::error_code ec = writing.get()) {
                if (ec != net::error::operation_aborted)
                    Log(peer + " body cut after " + std::to_string(sent) + " bytes: " + ec.message());
                return false;
            }
            if (!read)
                return false;
            if (chunk.empty()) {
                Log(peer + " body cut: the recording ended " + std::to_string(body.length - sent) + " bytes early");
                return false;
            }
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(chunk.size(), body.length - sent));
            writing = Write(c, net::buffer(chunk.data(), n), false);
            sent += static_cast<std::int64_t>(n);
        }
        const beast::error_code ec = writing.get();
        if (ec && ec != net::error::operation_aborted)
            Log(peer + " body cut at its last piece: " + ec.message());
        return !ec;
    }

    const SServeOptions& m_options;
    Handler m_handler;
    net::io_context m_ioc{1};
    tcp::acceptor m_acceptor;
    net::signal_set m_signals;
    net::steady_timer m_retry;
    net::executor_work_guard<net::io_context::executor_type> m_guard;
    std::function<void()> m_stoppingHook;

    // Owned by the connection thread.
    std::unordered_set<PConnection> m_open;
    std::map<net::ip::address, unsigned> m_openBy;
    std::map<net::ip::address, unsigned> m_servingBy;
    unsigned m_serving = 0;

    std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_workers;
    std::thread m_joiner;
    std::mutex m_jobsLock;
    std::condition_variable m_jobsReady;
    std::deque<SJob> m_jobs;
    bool m_quit = false;
};

CConnections::CConnections(const SServeOptions& options, Handler handler)
    : m_impl(std::make_unique<CImpl>(options, std::move(handler)))
{
}

CConnections::~CConnections() = default;

bool CConnections::Listen(std::string& why)
{
    return m_impl->Listen(why);
}

boost::asio::ip::tcp::endpoint CConnections::LocalEndpoint() const
{
    return m_impl->LocalEndpoint();
}

boost::asio::io_context& CConnections::Context()
{
    return m_impl->Context();
}

void CConnections::Run(std::function<void()> stopping)
{
    m_impl->Run(std::move(stopping));
}

void CConnections::Stop()
{
    m_impl->Stop();
}

}  // namespace mediahost::server
