#include "appserver/RpcServer.h"

#include "appserver/RpcDispatcher.h"
#include "appserver/SinkDevice.h"

#include <httplib.h>

#include <chrono>
#include <thread>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace opd::appserver {

struct RpcServer::Private
{
    ServerOptions options;
    const ModuleRegistry &registry;
    RpcDispatcher dispatcher;
    httplib::Server http;
    std::string healthBody;

    Private(ServerOptions o, const ModuleRegistry &r)
        : options(std::move(o)), registry(r), dispatcher(r) {}

    // One connection per worker thread, opened on first use. A failed open
    // is retried on the next request rather than poisoning the thread.
    db::Database *connection()
    {
        thread_local std::unique_ptr<db::Database> db;
        thread_local std::string url;
        if (!db || url != options.dbUrl) {
            try {
                db = db::Database::open(options.dbUrl);
                url = options.dbUrl;
            } catch (const db::DbError &e) {
                qWarning("banco de dados: %s", e.what());
                db.reset();
            }
        }
        return db.get();
    }

    void send(const RpcResponse &answer, httplib::Response &res)
    {
        res.status = answer.httpStatus;
        if (!answer.streamed()) {
            res.set_content(answer.body.constData(), size_t(answer.body.size()), answer.contentType());
            return;
        }
        auto shared = std::make_shared<RpcResponse>(answer);
        res.set_chunked_content_provider(answer.contentType(),
            [shared](size_t, httplib::DataSink &sink) {
                SinkDevice device([&sink](const char *data, size_t size) {
                    return sink.is_writable() && sink.write(data, size);
                });
                auto writer = ReplyWriter::create(shared->cbor, &device);
                writer->setAbortCheck([&device] { return device.failed(); });
                bool ok = false;
                try {
                    ok = shared->write(*writer) && device.flushPiece();
                } catch (const std::exception &e) {
                    // Headers are gone already: the only honest signal left is
                    // to cut the stream, which the client sees as truncated.
                    qWarning("resposta interrompida: %s", e.what());
                    ok = false;
                }
                writer.reset();
                if (ok)
                    sink.done();
                return ok;
            });
    }

    void handleRpc(const httplib::Request &req, httplib::Response &res)
    {
        const std::string contentType = req.get_header_value("Content-Type");
        const bool cbor = RpcDispatcher::wantsCbor(QByteArrayView(contentType.data(), qsizetype(contentType.size())));
        std::string user = "local";
        if (options.tokens) {
            user = options.tokens->userFor(req.get_header_value("Authorization"));
            if (user.empty()) {
                send(RpcDispatcher::error(cbor, QCborValue(nullptr), Unauthorized,
                                          QStringLiteral("não autorizado"), 401), res);
                return;
            }
        }
        const QByteArray body = QByteArray::fromRawData(req.body.data(), qsizetype(req.body.size()));
        send(dispatcher.dispatch(body, QByteArrayView(contentType.data(), qsizetype(contentType.size())),
                                 user, connection()), res);
    }
};

RpcServer::RpcServer(ServerOptions options, const ModuleRegistry &registry)
    : d(new Private(std::move(options), registry))
{
    // Written by hand: QJsonObject would sort "modules" before "status".
    const QByteArray modules = QJsonDocument(QJsonArray::fromStringList(registry.modules()))
                                   .toJson(QJsonDocument::Compact);
    d->healthBody = "{\"status\":\"ok\",\"modules\":" + modules.toStdString() + "}";

    auto &http = d->http;
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(100000);
    http.set_keep_alive_timeout(30);
    http.set_payload_max_length(size_t(RpcDispatcher::kMaxRequestBytes));
    const int workers = std::max(1, d->options.workers);
    http.new_task_queue = [workers] { return new httplib::ThreadPool(size_t(workers)); };

    http.Get("/health", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(d->healthBody, "application/json");
    });
    http.Post("/rpc", [this](const httplib::Request &req, httplib::Response &res) {
        d->handleRpc(req, res);
    });
    // httplib answers some faults itself (413 for an oversized body, 404);
    // give them the protocol's error body too.
    http.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return;
        const std::string contentType = req.get_header_value("Content-Type");
        const bool cbor = RpcDispatcher::wantsCbor(QByteArrayView(contentType.data(), qsizetype(contentType.size())));
        const QString message = res.status == 413 ? QStringLiteral("requisição maior que 1 MiB")
                                                  : QStringLiteral("recurso inexistente");
        const RpcResponse r = RpcDispatcher::error(cbor, QCborValue(nullptr), InvalidRequest, message, res.status);
        res.set_content(r.body.constData(), size_t(r.body.size()), r.contentType());
    });
}

RpcServer::~RpcServer() = default;

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
    int port = d->options.port;
    if (port == 0)
        port = d->http.bind_to_any_port(d->options.host);
    else if (!d->http.bind_to_port(d->options.host, port))
        port = -1;
    if (port <= 0) {
        *error = QStringLiteral("não foi possível escutar em %1:%2")
                     .arg(QString::fromStdString(d->options.host)).arg(d->options.port);
        return -1;
    }
    return port;
}

void RpcServer::run()
{
    d->http.listen_after_bind();
}

void RpcServer::stop()
{
    // The HTTP server ignores a stop that comes before its accept loop has
    // started (a signal right after start-up): wait for the loop first.
    for (int i = 0; i < 2000 && !d->http.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->http.stop();
}

} // namespace opd::appserver
