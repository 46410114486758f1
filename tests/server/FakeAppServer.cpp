#include "FakeAppServer.h"

#include "server/TNetConnection.h"

#include <QCborStreamWriter>
#include <QCborValue>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <mutex>
#include <thread>

qint64 FakeAppServer::Received::id() const
{
    return request.value(QLatin1String("id")).toInteger(-1);
}

struct FakeAppServer::Private
{
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    int healthStatus = 200;
    QByteArray healthBody = R"({"status":"ok","modules":["OPD31000.rdmDescEmiPed"]})";
    int healthHits = 0;
    int healthFailures = 0;
    int healthFailureStatus = 0;
    std::function<QByteArray(const Received &)> answer;
    std::function<void(const httplib::Request &, httplib::Response &)> raw;
    QList<Received> received;
};

FakeAppServer::FakeAppServer() : d(std::make_unique<Private>())
{
    Private *p = d.get();
    p->server.set_tcp_nodelay(true);
    p->server.set_keep_alive_max_count(1000);
    // Stopping waits for idle keep-alive connections to time out.
    p->server.set_keep_alive_timeout(1);
    p->server.Get("/health", [p](const httplib::Request &, httplib::Response &res) {
        std::lock_guard lock(p->mutex);
        ++p->healthHits;
        if (p->healthFailures > 0) {
            --p->healthFailures;
            res.status = p->healthFailureStatus;
            res.set_content("<html><body>balancer</body></html>", "text/html");
            return;
        }
        res.status = p->healthStatus;
        res.set_content(p->healthBody.toStdString(), "application/json");
    });
    p->server.Post("/rpc", [p](const httplib::Request &req, httplib::Response &res) {
        Received r;
        r.contentType = req.get_header_value("Content-Type");
        r.authorization = req.get_header_value("Authorization");
        r.body = QByteArray::fromStdString(req.body);
        if (r.contentType == "application/json")
            r.request = QCborValue::fromJsonValue(QJsonDocument::fromJson(r.body).object()).toMap();
        else
            r.request = QCborValue::fromCbor(r.body).toMap();
        std::function<QByteArray(const Received &)> answer;
        std::function<void(const httplib::Request &, httplib::Response &)> raw;
        {
            std::lock_guard lock(p->mutex);
            p->received.append(r);
            answer = p->answer;
            raw = p->raw;
        }
        if (raw)
            return raw(req, res);
        const QByteArray body = answer ? answer(r) : cborOk(r.id(), [](QCborStreamWriter &w) { w.appendNull(); });
        res.set_content(body.toStdString(), r.contentType);
    });
    p->port = p->server.bind_to_any_port("127.0.0.1");
    p->thread = std::thread([p] { p->server.listen_after_bind(); });
    // The socket listens from bind on; early connections wait in its backlog.
}

FakeAppServer::~FakeAppServer()
{
    // stop() only acts on a server that is already running: one stopped
    // before its thread reached the accept loop would block there for ever.
    for (int i = 0; i < 5000 && !d->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->server.stop();
    d->thread.join();
}

int FakeAppServer::port() const { return d->port; }

void FakeAppServer::aim(TNetConnection &net) const
{
    net.ServerName = QStringLiteral("OPD31000.rdmDescEmiPed");
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(d->port);
}

void FakeAppServer::setHealth(int status, const QByteArray &json)
{
    std::lock_guard lock(d->mutex);
    d->healthStatus = status;
    d->healthBody = json;
}

void FakeAppServer::failHealth(int times, int status)
{
    std::lock_guard lock(d->mutex);
    d->healthFailures = times;
    d->healthFailureStatus = status;
}

int FakeAppServer::healthHits() const
{
    std::lock_guard lock(d->mutex);
    return d->healthHits;
}

void FakeAppServer::setAnswer(std::function<QByteArray(const Received &)> answer)
{
    std::lock_guard lock(d->mutex);
    d->answer = std::move(answer);
    d->raw = nullptr;
}

void FakeAppServer::setRawRpc(std::function<void(const httplib::Request &, httplib::Response &)> handler)
{
    std::lock_guard lock(d->mutex);
    d->raw = std::move(handler);
}

void FakeAppServer::dropConnection(const httplib::Request &req) const
{
    // Client and server share this process: the server's socket is the one
    // whose local port is ours and whose peer port is the request's.
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &name : fds) {
        const int fd = name.toInt();
        sockaddr_in local{}, peer{};
        socklen_t n1 = sizeof local, n2 = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &n1) != 0 || local.sin_family != AF_INET
            || getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &n2) != 0)
            continue;
        if (ntohs(local.sin_port) == d->port && ntohs(peer.sin_port) == req.remote_port)
            ::shutdown(fd, SHUT_RDWR);
    }
}

QList<FakeAppServer::Received> FakeAppServer::received() const
{
    std::lock_guard lock(d->mutex);
    return d->received;
}

// The envelope every answer shares; `key` names its one member after the id
// ("result" or "error"), whose two-member map `body` writes.
static QByteArray envelope(qint64 id, QLatin1String key, const std::function<void(QCborStreamWriter &)> &body)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    w.startMap(3);
    w.append(QLatin1String("jsonrpc"));
    w.append(QLatin1String("2.0"));
    w.append(QLatin1String("id"));
    if (id < 0)
        w.appendNull();
    else
        w.append(id);
    w.append(key);
    w.startMap(2);
    body(w);
    w.endMap();
    w.endMap();
    return out;
}

QByteArray FakeAppServer::cborOk(qint64 id, const std::function<void(QCborStreamWriter &)> &payload)
{
    return envelope(id, QLatin1String("result"), [&](QCborStreamWriter &w) {
        w.append(QLatin1String("ok"));
        w.append(true);
        w.append(QLatin1String("payload"));
        payload(w);
    });
}

QByteArray FakeAppServer::cborFailure(qint64 id, const QString &message)
{
    return envelope(id, QLatin1String("result"), [&](QCborStreamWriter &w) {
        w.append(QLatin1String("ok"));
        w.append(false);
        w.append(QLatin1String("message"));
        w.append(message);
    });
}

QByteArray FakeAppServer::cborError(qint64 id, int code, const QString &message)
{
    return envelope(id, QLatin1String("error"), [&](QCborStreamWriter &w) {
        w.append(QLatin1String("code"));
        w.append(code);
        w.append(QLatin1String("message"));
        w.append(message);
    });
}
