#include "appserver/RpcServer.h"

#include "appserver/AccessLog.h"
#include "appserver/Log.h"
#include "appserver/RpcDispatcher.h"
#include "appserver/WorkerPool.h"
#include "db/Log.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QJsonArray>
#include <QJsonDocument>

namespace opd::appserver {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

double elapsedMs(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

constexpr std::size_t kHeaderLimit = 16 * 1024;

// Answer bytes handed to connections and not yet taken by their clients,
// counted for the whole server. A producer that would pass the cap gets a
// refusal and cuts its answer instead of waiting for a slow reader.
class OutputBudget
{
public:
    explicit OutputBudget(long long cap) : m_cap(cap) {}
    bool take(long long bytes)
    {
        long long used = m_used.load();
        do {
            if (used + bytes > m_cap && used > 0)
                return false;
        } while (!m_used.compare_exchange_weak(used, used + bytes));
        return true;
    }
    void give(long long bytes) { m_used -= bytes; }
    // Small answers made on the event loop itself (errors, health) are
    // counted but never refused.
    void add(long long bytes) { m_used += bytes; }
    long long used() const { return m_used.load(); }

private:
    const long long m_cap;
    std::atomic<long long> m_used{0};
};

// A worker's own connection: opened on first use, dropped when lost and
// opened again at the next call. Every failure to open is logged.
class WorkerConnection : public ConnectionSource
{
public:
    explicit WorkerConnection(const std::string &url) : m_url(url) {}
    db::Database *connection() override
    {
        if (!m_db) {
            try {
                m_db = db::Database::open(m_url);
            } catch (const db::DbError &e) {
                qCWarning(db::lcDb, "banco de dados: %s", e.what());
            }
        }
        return m_db.get();
    }
    void lost() override { m_db.reset(); }

private:
    std::string m_url;
    std::unique_ptr<db::Database> m_db;
};

std::string statusLine(int status)
{
    const auto reason = http::obsolete_reason(http::int_to_status(unsigned(status)));
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason.data(), reason.size()) + "\r\n";
}

std::string completeAnswer(int status, const char *contentType, std::string_view body, bool close)
{
    std::string out = statusLine(status);
    out += "Content-Type: ";
    out += contentType;
    out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    out.append(body.data(), body.size());
    return out;
}

std::string completeAnswer(const RpcResponse &r, bool close)
{
    return completeAnswer(r.httpStatus, r.contentType(), std::string_view(r.body.constData(), size_t(r.body.size())),
                          close);
}

} // namespace

struct Session;

// Bytes waiting for the socket: a streamed piece keeps the string its writer
// filled and goes out in one gather write with its HTTP header (first piece)
// or chunk-size line before it and the chunk's CRLF after it.
struct OutPiece
{
    std::string head;
    std::string body;
    bool crlf = false;
    long long size() const { return (long long)(head.size() + body.size() + (crlf ? 2 : 0)); }
};

struct RpcServer::Private
{
    ServerOptions options;
    const ModuleRegistry &registry;
    RpcDispatcher dispatcher;
    std::string healthBody;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    WorkerPool<std::function<void(ConnectionSource &)>> workers;
    OutputBudget budget;
    std::atomic<int> connections{0};

    Private(ServerOptions o, const ModuleRegistry &r)
        : options(std::move(o)), registry(r), dispatcher(r), io(std::max(1, options.ioThreads)),
          budget(options.maxBufferedBytes) {}

    void accept();
    void refuse(tcp::socket socket);
    void workerMain(int worker);
    void runCall(const std::shared_ptr<Session> &session, const QByteArray &body, const std::string &contentType,
                 const std::string &user, ConnectionSource &source, Clock::time_point received);
};

// One client connection. Everything but push() runs on its strand.
struct Session : std::enable_shared_from_this<Session>
{
    RpcServer::Private &server;
    tcp::socket socket;
    asio::steady_timer timer;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    // The time limit of the phase now running (waiting for a request, its
    // header, its body, the answer's bytes), max() when none runs. The
    // timer's wait is moved only when a phase must end sooner than it: a
    // request passes through four phases, and moving the wait for each
    // cost a system call and a cancelled handler. A wait that comes too
    // early goes on to the limit of whatever phase runs then.
    Clock::time_point deadline = Clock::time_point::max();
    Clock::time_point waitEnds = Clock::time_point::max();   // the pending wait's, max() when none
    unsigned waits = 0;              // bumped for each new wait: older handlers do nothing
    bool http10 = false;
    bool closeAfter = false;         // close once the current answer is out
    bool answerDone = false;         // the current answer's last bytes are queued
    bool writing = false;
    bool closed = false;
    bool draining = false;           // the last answer is out; waiting for the client to close
    std::deque<OutPiece> out;        // bytes waiting for the socket, in order
    std::atomic<bool> failed{false}; // the client is gone: producers stop

    Session(RpcServer::Private &s, tcp::socket sock)
        : server(s), socket(std::move(sock)), timer(socket.get_executor())
    {
        ++server.connections;
    }
    ~Session()
    {
        for (const OutPiece &piece : out)
            server.budget.give(piece.size());
        --server.connections;
    }

    void start()
    {
        beast::error_code ec;
        socket.set_option(tcp::no_delay(true), ec);
        readNext();
    }

    void arm(int seconds)
    {
        deadline = Clock::now() + std::chrono::seconds(seconds);
        if (waitEnds > deadline)
            waitUntil(deadline);
    }
    void disarm() { deadline = Clock::time_point::max(); }

    void waitUntil(Clock::time_point until)
    {
        waitEnds = until;
        const unsigned mine = ++waits;
        timer.expires_at(until);
        timer.async_wait([self = shared_from_this(), mine](beast::error_code ec) {
            if (!ec && self->waits == mine)
                self->onWaitEnded();
        });
    }
    void onWaitEnded()
    {
        waitEnds = Clock::time_point::max();
        if (closed || deadline == Clock::time_point::max())
            return;
        if (Clock::now() >= deadline)
            return close();
        waitUntil(deadline);
    }

    void close()
    {
        if (closed)
            return;
        closed = true;
        failed = true;
        disarm();
        timer.cancel();   // its handler holds the session
        beast::error_code ec;
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
    }

    // The next request: wait for its first byte (idle), then its header.
    void readNext()
    {
        if (closed)
            return;
        parser.emplace();
        parser->header_limit(kHeaderLimit);
        parser->body_limit(std::uint64_t(RpcDispatcher::kMaxRequestBytes));
        answerDone = false;
        if (buffer.size() > 0) {
            readHeader();
            return;
        }
        arm(server.options.idleTimeoutSeconds);
        socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
            if (ec)
                return self->close();
            self->readHeader();
        });
    }

    void readHeader()
    {
        if (closed)
            return;
        arm(server.options.headerTimeoutSeconds);
        http::async_read_header(socket, buffer, *parser,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->onHeader(ec);
                                });
    }

    // A fault in the request's framing: answered, then the connection closed,
    // since what follows on it cannot be trusted.
    void refuse(int status, const QString &message)
    {
        const RpcResponse r = RpcDispatcher::error(wantsCbor(), QCborValue(nullptr), InvalidRequest, message, status);
        closeAfter = true;
        queue(completeAnswer(r, true), true);
    }

    bool wantsCbor() const
    {
        if (!parser)
            return true;
        const auto type = parser->get()[http::field::content_type];
        return RpcDispatcher::wantsCbor(QByteArrayView(type.data(), qsizetype(type.size())));
    }

    void onHeader(beast::error_code ec)
    {
        disarm();
        if (closed)
            return;
        if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset
            || ec == asio::error::operation_aborted) {
            return close();
        }
        if (ec == http::error::header_limit)
            return refuse(431, QStringLiteral("cabeçalho da requisição grande demais"));
        if (ec == http::error::body_limit)   // a Content-Length over the limit, known from the header
            return refuse(413, QStringLiteral("requisição maior que 1 MiB"));
        if (ec) {
            // Among them a Content-Length together with Transfer-Encoding, and
            // two different Content-Length values.
            return refuse(400, QStringLiteral("requisição HTTP malformada: ") + QString::fromStdString(ec.message()));
        }
        const auto &req = parser->get();
        http10 = req.version() == 10;
        if (req.version() != 10 && req.version() != 11)
            return refuse(505, QStringLiteral("versão de HTTP não suportada"));
        int lengths = 0;
        bool transferEncoding = false;
        for (const auto &field : req) {
            if (field.name() == http::field::content_length) {
                ++lengths;
                if (field.value().find(',') != beast::string_view::npos)
                    ++lengths;   // "5, 5": a list is a duplicate too
            } else if (field.name() == http::field::transfer_encoding) {
                if (transferEncoding || !beast::iequals(field.value(), "chunked"))
                    return refuse(400, QStringLiteral("Transfer-Encoding não suportado"));
                transferEncoding = true;
            }
        }
        if (lengths > 1 || (lengths && transferEncoding))
            return refuse(400, QStringLiteral("Content-Length repetido ou junto com Transfer-Encoding"));
        if (http10 && transferEncoding)
            return refuse(400, QStringLiteral("Transfer-Encoding em HTTP/1.0"));
        closeAfter = http10 || !req.keep_alive();
        if (const auto length = parser->content_length();
            length && *length > std::uint64_t(RpcDispatcher::kMaxRequestBytes)) {
            // Answered now: the body is never read, so the connection ends.
            return refuse(413, QStringLiteral("requisição maior que 1 MiB"));
        }
        if (beast::iequals(req[http::field::expect], "100-continue") && !http10) {
            auto note = std::make_shared<std::string>("HTTP/1.1 100 Continue\r\n\r\n");
            arm(server.options.writeTimeoutSeconds);
            asio::async_write(socket, asio::buffer(*note), [self = shared_from_this(), note](beast::error_code ec, std::size_t) {
                self->disarm();
                if (ec)
                    return self->close();
                self->readBody();
            });
            return;
        }
        readBody();
    }

    void readBody()
    {
        if (parser->is_done())
            return onRequest();
        arm(server.options.bodyTimeoutSeconds);
        http::async_read(socket, buffer, *parser, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->disarm();
            if (self->closed)
                return;
            if (ec == http::error::body_limit)
                return self->refuse(413, QStringLiteral("requisição maior que 1 MiB"));
            if (ec == asio::error::eof || ec == asio::error::connection_reset || ec == asio::error::operation_aborted
                || ec == http::error::end_of_stream || ec == http::error::partial_message)
                return self->close();
            if (ec)
                return self->refuse(400, QStringLiteral("requisição HTTP malformada: ") + QString::fromStdString(ec.message()));
            self->onRequest();
        });
    }

    void onRequest()
    {
        const Clock::time_point received = Clock::now();
        const auto &req = parser->get();
        const bool cbor = wantsCbor();
        const beast::string_view target = req.target();
        if (target == "/health" && req.method() == http::verb::get) {
            queue(completeAnswer(200, "application/json", server.healthBody, closeAfter), true);
            return;
        }
        if (target != "/rpc" || req.method() != http::verb::post) {
            const RpcResponse r = RpcDispatcher::error(cbor, QCborValue(nullptr), InvalidRequest,
                                                       QStringLiteral("recurso inexistente"), 404);
            queue(completeAnswer(r, closeAfter), true);
            return;
        }
        std::string user = "local";
        if (server.options.tokens) {
            const auto authorization = req[http::field::authorization];
            user = server.options.tokens->userFor(std::string(authorization.data(), authorization.size()));
            if (user.empty()) {
                const RpcResponse r = RpcDispatcher::error(cbor, QCborValue(nullptr), Unauthorized,
                                                           QStringLiteral("não autorizado"), 401);
                std::string bytes = completeAnswer(r, closeAfter);
                logAccess({{}, r.outcome, elapsedMs(received), (long long)bytes.size(), {}});
                queue(std::move(bytes), true);
                return;
            }
        }
        // Copied before the message is released: the header's view points into it.
        const auto type = req[http::field::content_type];
        std::string contentType(type.data(), type.size());
        auto body = std::make_shared<std::string>(parser->release().body());
        server.workers.post([self = shared_from_this(), body, contentType = std::move(contentType),
                             user = std::move(user), received](ConnectionSource &source) {
            self->server.runCall(self, QByteArray::fromRawData(body->data(), qsizetype(body->size())),
                                 contentType, user, source, received);
        });
    }

    // From a worker: hands bytes to the connection. False when the client is
    // gone or the server's answer buffer is full (the answer is then cut).
    bool push(std::string bytes, bool last)
    {
        OutPiece piece;
        piece.body = std::move(bytes);
        return push(std::move(piece), last);
    }
    bool push(OutPiece bytes, bool last)
    {
        if (failed)
            return false;
        if (!server.budget.take(bytes.size())) {
            qCWarning(lcServer, "resposta interrompida: mais de %lld bytes de respostas esperando clientes lentos",
                     server.options.maxBufferedBytes);
            return false;
        }
        asio::post(socket.get_executor(), [self = shared_from_this(), bytes = std::move(bytes), last]() mutable {
            self->queueTaken(std::move(bytes), last);
        });
        return true;
    }

    // From a worker, for a whole answer. The connection reads its next
    // request only once the answer is out, and no phase is timed during a
    // call (a wait that ends meanwhile finds no limit and does nothing), so
    // nothing on the strand touches the socket now: the worker sends the
    // bytes itself, without waking the event loop first, and hands the loop
    // only what the socket did not take (and the next request). A small
    // answer reaches its client one thread hand-over sooner.
    void pushWhole(std::string bytes)
    {
        std::size_t sent = 0;
        if (!failed) {
            const ssize_t n = ::send(socket.native_handle(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent = std::size_t(n);
        }
        if (sent < bytes.size()) {
            // A full socket buffer or an error: the loop writes the rest
            // (and sees the error there, as for any answer).
            bytes.erase(0, sent);
            push(std::move(bytes), true);
            return;
        }
        asio::post(socket.get_executor(), [self = shared_from_this()] {
            self->answerDone = true;
            self->afterWrite();
        });
    }

    // From a worker: the answer ends without its last bytes; the client
    // sees a truncated answer.
    void cut()
    {
        asio::post(socket.get_executor(), [self = shared_from_this()] {
            self->closeAfter = true;
            self->answerDone = true;
            self->afterWrite();
        });
    }

    // On the strand: bytes not yet counted in the budget.
    void queue(std::string bytes, bool last)
    {
        OutPiece piece;
        piece.body = std::move(bytes);
        server.budget.add(piece.size());
        queueTaken(std::move(piece), last);
    }

    void queueTaken(OutPiece bytes, bool last)
    {
        if (closed) {
            server.budget.give(bytes.size());
            return;
        }
        out.push_back(std::move(bytes));
        answerDone = answerDone || last;
        writeMore();
    }

    void writeMore()
    {
        if (writing || closed)
            return;
        if (out.empty())
            return afterWrite();
        writing = true;
        arm(server.options.writeTimeoutSeconds);
        static constexpr char crlf[] = "\r\n";
        const OutPiece &piece = out.front();
        const std::array<asio::const_buffer, 3> buffers{asio::buffer(piece.head), asio::buffer(piece.body),
                                                        asio::buffer(crlf, piece.crlf ? 2 : 0)};
        asio::async_write(socket, buffers, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->writing = false;
            self->disarm();
            self->server.budget.give(self->out.front().size());
            self->out.pop_front();
            if (ec || self->closed)
                return self->close();
            self->writeMore();
        });
    }

    // Everything queued is written: next request, or the end.
    void afterWrite()
    {
        if (writing || closed || draining || !out.empty() || !answerDone)
            return;
        if (closeAfter) {
            // Let the client read what was sent before the socket goes.
            beast::error_code ec;
            socket.shutdown(tcp::socket::shutdown_send, ec);
            draining = true;
            failed = true;
            arm(2);
            drain(std::make_shared<std::array<char, 4096>>());
            return;
        }
        readNext();
    }

    // After a close-delimited answer: reads until the client closes (or the
    // timer fires), so unread request bytes do not turn into a reset.
    void drain(std::shared_ptr<std::array<char, 4096>> sink)
    {
        socket.async_read_some(asio::buffer(*sink), [self = shared_from_this(), sink](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->drain(sink);
        });
    }
};

void RpcServer::Private::accept()
{
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors, most likely: try again shortly rather than spin.
            qCWarning(lcServer, "aceitar conexão: %s", ec.message().c_str());
            acceptRetry.expires_after(std::chrono::milliseconds(100));
            acceptRetry.async_wait([this](beast::error_code e) {
                if (!e)
                    accept();
            });
            return;
        }
        if (connections.load() >= options.maxConnections)
            refuse(std::move(socket));
        else
            std::make_shared<Session>(*this, std::move(socket))->start();
        accept();
    });
}

void RpcServer::Private::refuse(tcp::socket socket)
{
    const RpcResponse r = RpcDispatcher::error(false, QCborValue(nullptr), InternalError,
                                               QStringLiteral("servidor com conexões demais; tente mais tarde"), 503);
    auto bytes = std::make_shared<std::string>(completeAnswer(r, true));
    auto sock = std::make_shared<tcp::socket>(std::move(socket));
    asio::async_write(*sock, asio::buffer(*bytes), [sock, bytes](beast::error_code, std::size_t) {
        beast::error_code ec;
        sock->shutdown(tcp::socket::shutdown_both, ec);
        sock->close(ec);
    });
}

void RpcServer::Private::workerMain(int worker)
{
    WorkerConnection source(options.dbUrl);
    while (auto job = workers.next(worker))
        job(source);
}

void RpcServer::Private::runCall(const std::shared_ptr<Session> &session, const QByteArray &body,
                                 const std::string &contentType, const std::string &user, ConnectionSource &source,
                                 Clock::time_point received)
{
    const bool close = session->closeAfter;
    const bool chunked = !session->http10;
    const QByteArrayView type(contentType.data(), qsizetype(contentType.size()));
    long long sent = 0;
    // The line is written just before the last bytes are handed over,
    // whichever way the call ends: a client that has its answer finds the
    // call's line already there, so the log keeps each client's order.
    const auto answered = [&](const RpcResponse &r, QByteArrayView outcome) {
        logAccess({r.method, outcome, elapsedMs(received), sent, user});
    };
    for (int attempt = 0;; ++attempt) {
        RpcResponse answer = dispatcher.dispatch(body, type, user, source);
        if (!answer.streamed()) {
            std::string bytes = completeAnswer(answer, close);
            sent = (long long)bytes.size();
            answered(answer, answer.outcome);
            session->pushWhole(std::move(bytes));
            return;
        }
        // The header goes out with the first piece, so that a failure before
        // it (the whole answer of a small read) still gets a proper answer.
        bool started = false;
        bool ok = false;
        std::string error;
        bool lost = false;
        {
            // The writer's piece is moved into the queue as it is: the
            // header and the chunk framing go beside it in the same write.
            // A refused piece makes the writer report itself aborted.
            auto writer = ReplyWriter::create(answer.cbor, [&](std::string &data) {
                OutPiece piece;
                if (!started) {
                    piece.head = statusLine(answer.httpStatus) + "Content-Type: " + answer.contentType() + "\r\n"
                        + (chunked ? "Transfer-Encoding: chunked\r\n" : "Connection: close\r\n")
                        + (close && chunked ? "Connection: close\r\n" : "") + "\r\n";
                    started = true;
                }
                if (chunked) {
                    char line[20];
                    std::snprintf(line, sizeof line, "%zx\r\n", data.size());
                    piece.head += line;
                    piece.crlf = true;
                }
                piece.body = std::move(data);
                const long long pieceBytes = piece.size();
                if (!session->push(std::move(piece), false))
                    return false;
                sent += pieceBytes;
                return true;
            });
            try {
                ok = answer.write(*writer) && writer->flush();
            } catch (const db::ConnectionLost &e) {
                error = e.what();
                lost = true;
            } catch (const std::exception &e) {
                error = e.what();
            }
            writer.reset();
        }
        // Statements and the read transaction go before the connection may.
        answer.payload = nullptr;
        if (ok) {
            std::string tail = chunked ? std::string("0\r\n\r\n") : std::string();
            sent += (long long)tail.size();
            answered(answer, answer.outcome);
            session->push(std::move(tail), true);
            return;
        }
        if (!error.empty())
            qCWarning(lcServer, "resposta interrompida: %s", error.c_str());
        if (lost)
            source.lost();
        if (started || session->failed) {
            // Bytes are gone already: the only honest signal left is to cut
            // the stream, which the client sees as truncated.
            answered(answer, "cut");
            session->cut();
            return;
        }
        if (lost && answer.readOnly && attempt == 0)
            continue;
        const RpcResponse r = lost ? RpcDispatcher::connectionLost(answer.cbor, answer.id, false)
                                   : RpcDispatcher::error(answer.cbor, answer.id, InternalError,
                                                          QStringLiteral("erro interno do banco de dados"));
        std::string bytes = completeAnswer(r, close);
        sent = (long long)bytes.size();
        answered(answer, r.outcome);
        session->push(std::move(bytes), true);
        return;
    }
}

RpcServer::RpcServer(ServerOptions options, const ModuleRegistry &registry)
    : d(new Private(std::move(options), registry))
{
    // Written by hand: QJsonObject would sort "modules" before "status".
    const QByteArray modules = QJsonDocument(QJsonArray::fromStringList(registry.modules()))
                                   .toJson(QJsonDocument::Compact);
    d->healthBody = "{\"status\":\"ok\",\"modules\":" + modules.toStdString() + "}";
}

RpcServer::~RpcServer() = default;

long long RpcServer::bufferedBytes() const
{
    return d->budget.used();
}

bool RpcServer::isLoopback(const std::string &host)
{
    return host == "127.0.0.1" || host == "localhost" || host == "::1";
}

int RpcServer::bind(QString *error)
{
    if (!isLoopback(d->options.host) && !d->options.tokens) {
        *error = QStringLiteral("escutar fora do loopback exige --token-file");
        return -1;
    }
    beast::error_code ec;
    tcp::resolver resolver(d->io);
    const auto endpoints = resolver.resolve(d->options.host, std::to_string(d->options.port), ec);
    if (!ec && !endpoints.empty()) {
        const tcp::endpoint endpoint = endpoints.begin()->endpoint();
        d->acceptor.open(endpoint.protocol(), ec);
        if (!ec)
            d->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec)
            d->acceptor.bind(endpoint, ec);
        if (!ec)
            d->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec || !d->acceptor.is_open()) {
        *error = QStringLiteral("não foi possível escutar em %1:%2: %3")
                     .arg(QString::fromStdString(d->options.host)).arg(d->options.port)
                     .arg(QString::fromStdString(ec.message()));
        beast::error_code ignored;
        d->acceptor.close(ignored);
        return -1;
    }
    return d->acceptor.local_endpoint().port();
}

void RpcServer::run()
{
    d->workers.start(std::max(1, d->options.workers), [this](int worker) { d->workerMain(worker); });
    d->accept();
    std::vector<std::thread> extra;
    for (int i = 1; i < d->options.ioThreads; ++i)
        extra.emplace_back([this] { d->io.run(); });
    d->io.run();
    for (auto &t : extra)
        t.join();
    d->workers.stop();
}

void RpcServer::stop()
{
    // io_context::stop() before run() makes run() return at once.
    d->io.stop();
}

} // namespace opd::appserver
