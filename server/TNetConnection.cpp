#include "TNetConnection.h"

#include "RpcAnswer.h"
#include "RpcAnswerReader.h"
#include "RpcRequest.h"
#include "HttpClient.h"
#include "RpcTransport.h"
#include "server/Log.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStringList>


#include <chrono>
#include <thread>

namespace {

// A health answer is a few dozen bytes; anything far larger is not ours.
constexpr size_t MaxHealthBytes = 64 * 1024;
// A balancer's 502/504 to a health check: tried again this many times,
// after this pause and then twice it.
constexpr int HealthRepeats = 2;
constexpr std::chrono::milliseconds HealthRepeatPause(100);
// Bodies that are read whole rather than streamed (JSON for diagnosis,
// unexpected content types) are capped so that a wrong answer cannot eat
// the memory.
constexpr size_t MaxJsonBytes = 512ull * 1024 * 1024;
constexpr size_t MaxOtherBytes = 4 * 1024;

enum class BodyKind { Unknown, Cbor, Json, Other };

BodyKind kindOf(const std::string &contentType)
{
    auto starts = [&](const char *prefix) { return contentType.rfind(prefix, 0) == 0; };
    if (starts("application/cbor"))
        return BodyKind::Cbor;
    if (starts("application/json"))
        return BodyKind::Json;
    return BodyKind::Other;
}

// Everything a call touches on the worker thread, owned by the call itself
// so that nothing of the connection object is needed there.
struct CallState
{
    int status = 0;
    BodyKind kind = BodyKind::Unknown;
    std::string contentType;
    RpcAnswerReader reader;
    std::string body;                 // JSON or unexpected bodies only
    qint64 bytes = 0;
    bool overflow = false;
};

} // namespace

struct TNetConnection::Private
{
    QString host;
    int port = 0;
    QString token;
    bool connected = false;
    bool busy = false;
    // Closed by the application (or never opened): calls are refused. A
    // connection that failed to open or broke is opened again by a call.
    bool closedByCaller = true;
    // Closing was asked while a call was awaited: done when it ends.
    bool closeAfterCall = false;
    QString lastError;
    Encoding encoding = Encoding::Cbor;
    qint64 nextId = 1;
    int connectTimeoutMs = 5000;
    int readTimeoutMs = 60000;
    QString endpoint;                 // "host:port" of the open connection, for messages
    std::shared_ptr<RpcTransport> transport;

    HttpClient::Headers headers(const char *accept) const
    {
        HttpClient::Headers h{{"Accept", accept}, {"Accept-Encoding", "identity"}};
        if (!token.isEmpty())
            h.emplace_back("Authorization", "Bearer " + token.toStdString());
        return h;
    }
};

// Marks the connection busy for the duration of one exchange. The connection
// may be deleted while the caller waits in the event loop; then there is
// nothing left to unmark.
class BusyScope
{
public:
    BusyScope(TNetConnection *owner, bool *flag) : m_owner(owner), m_flag(flag) { *m_flag = true; }
    ~BusyScope() { if (m_owner) *m_flag = false; }
    bool ownerAlive() const { return !m_owner.isNull(); }

private:
    QPointer<TNetConnection> m_owner;
    bool *m_flag;
};

TNetConnection::TNetConnection(QObject *parent) : QObject(parent), d(std::make_unique<Private>()) {}

TNetConnection::~TNetConnection() = default;

void TNetConnection::setHost(const QString &host) { d->host = host; }
QString TNetConnection::host() const { return d->host; }
void TNetConnection::setPort(int port) { d->port = port; }
int TNetConnection::port() const { return d->port; }
void TNetConnection::setToken(const QString &token) { d->token = token; }
bool TNetConnection::Connected() const { return d->connected; }
QString TNetConnection::lastError() const { return d->lastError; }
void TNetConnection::setEncoding(Encoding encoding) { d->encoding = encoding; }
TNetConnection::Encoding TNetConnection::encoding() const { return d->encoding; }

void TNetConnection::setTimeouts(int connectMs, int readMs)
{
    d->connectTimeoutMs = qMax(1, connectMs);
    d->readTimeoutMs = qMax(1, readMs);
}

AppServerDispatch TNetConnection::AppServer() { return AppServerDispatch(this); }

QVariant AppServerDispatch::call(const QString &method, const QList<opd::RemoteArg> &args) const
{
    if (!m_connection)
        throw opd::RemoteCallError(QStringLiteral("Não há conexão com o servidor de aplicação."));
    return m_connection->invoke(method, args);
}

QVariant AppServerDispatch::call(const QString &method, const QList<opd::RemoteArg> &args,
                                 const QVariant &expect) const
{
    if (!m_connection)
        throw opd::RemoteCallError(QStringLiteral("Não há conexão com o servidor de aplicação."));
    return m_connection->invoke(method, args, expect);
}

void TNetConnection::setConnected(bool connected)
{
    if (connected == d->connected) {
        if (!connected)
            d->closedByCaller = true;
        return;
    }
    if (!connected) {
        d->closedByCaller = true;
        d->connected = false;
        if (d->busy) {
            // Never throws: a screen closes its connection in its destructor,
            // also while one of its calls is awaited. The socket is dropped
            // when that call ends.
            d->closeAfterCall = true;
            emit connectedChanged(false);
            return;
        }
        if (d->transport) {
            BusyScope busy(this, &d->busy);
            auto transport = d->transport;
            transport->close();
            if (!busy.ownerAlive())
                return;
        }
        emit connectedChanged(false);
        return;
    }
    if (d->busy)
        throw opd::RemoteCallError(QStringLiteral("Já existe uma chamada em andamento ao servidor de aplicação."));

    d->closedByCaller = false;
    bool alive = true;
    if (!open(&alive) && alive && ThrowException)
        throw opd::RemoteCallError(d->lastError);
}

bool TNetConnection::open(bool *alive)
{
    // The handler sets host and port; they are read after it, at every connect.
    if (OnBeforeConnect)
        OnBeforeConnect(this);

    const QString error = openAndCheck(alive);
    if (!*alive)
        return false;
    if (!error.isEmpty()) {
        d->lastError = error;
        return false;
    }
    if (d->closeAfterCall || d->closedByCaller) {
        // Closed by the application while the health answer was awaited.
        d->closeAfterCall = false;
        dropSocket(alive);
        d->lastError = QStringLiteral("Não há conexão com o servidor de aplicação.");
        return false;
    }
    d->lastError.clear();
    d->connected = true;
    emit connectedChanged(true);
    return true;
}

void TNetConnection::dropSocket(bool *alive)
{
    if (!d->transport)
        return;
    BusyScope busy(this, &d->busy);
    auto transport = d->transport;
    transport->close();
    *alive = busy.ownerAlive();
}

QString TNetConnection::openAndCheck(bool *alive)
{
    const QString host = d->host.trimmed();
    const int port = d->port;
    if (ServerName.isEmpty())
        return QStringLiteral("Nome do módulo do servidor de aplicação não informado.");
    if (host.isEmpty())
        return QStringLiteral("Endereço do servidor de aplicação não informado.");
    if (port < 1 || port > 65535)
        return QStringLiteral("Porta do servidor de aplicação inválida: %1.").arg(port);
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);

    if (!d->transport)
        d->transport = std::make_shared<RpcTransport>();
    auto transport = d->transport;
    RpcTransport::Endpoint endpoint;
    endpoint.host = host.toStdString();
    endpoint.port = port;
    endpoint.connectTimeout = std::chrono::milliseconds(d->connectTimeoutMs);
    endpoint.readTimeout = std::chrono::milliseconds(d->readTimeoutMs);
    const HttpClient::Headers headers = d->headers("application/json");

    BusyScope busy(this, &d->busy);
    HttpClient::Error error = HttpClient::Error::Success;
    int status = 0;
    std::string body;
    bool overflow = false;
    transport->open(endpoint);
    transport->run([&](HttpClient *client) {
        // A balancer answers 502 or 504 for a server that has just died
        // until its own checks take that server out, and it may choose that
        // server for a new connection meanwhile. A health check is always
        // safe to repeat: a moment later it reaches one of the others.
        for (int attempt = 0;; ++attempt) {
            body.clear();
            status = 0;
            overflow = false;
            error = client->exchange(
                "GET", "/health", headers, {}, {},
                [&](int code, const std::string &) {
                    status = code;
                    return true;
                },
                [&](const char *data, size_t size) {
                    if (body.size() + size > MaxHealthBytes) {
                        overflow = true;
                        return false;
                    }
                    body.append(data, size);
                    return true;
                });
            if (error != HttpClient::Error::Success)
                status = 0;
            if ((status != 502 && status != 504) || attempt == HealthRepeats)
                break;
            std::this_thread::sleep_for(HealthRepeatPause * (attempt + 1));
        }
    });
    if (!busy.ownerAlive()) {
        *alive = false;
        return QString();
    }

    auto fail = [&](const QString &text) {
        transport->close();
        return text;
    };
    if (overflow)
        return fail(QStringLiteral("Resposta inválida do servidor de aplicação em %1 ao verificar o estado.").arg(where));
    if (error == HttpClient::Error::InvalidRequest)
        return fail(QStringLiteral("O token de acesso ao servidor de aplicação contém caracteres inválidos."));
    if (error != HttpClient::Error::Success)
        return fail(QStringLiteral("Servidor de aplicação inacessível em %1.").arg(where));
    if (status != 200)
        return fail(QStringLiteral("O servidor de aplicação em %1 não está disponível (HTTP %2).").arg(where).arg(status));

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &parseError);
    const QJsonObject health = doc.object();
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()
        || !health.value(QLatin1String("modules")).isArray())
        return fail(QStringLiteral("Resposta inválida do servidor de aplicação em %1 ao verificar o estado.").arg(where));
    if (health.value(QLatin1String("status")).toString() != QLatin1String("ok"))
        return fail(QStringLiteral("O servidor de aplicação em %1 não está pronto.").arg(where));
    if (!health.value(QLatin1String("modules")).toArray().contains(QJsonValue(ServerName)))
        return fail(QStringLiteral("O servidor de aplicação em %1 não oferece o módulo %2.").arg(where, ServerName));

    d->endpoint = where;
    return QString();
}

namespace {

// What one exchange of a call left behind.
struct Attempt
{
    std::shared_ptr<CallState> state = std::make_shared<CallState>();
    HttpClient::Error error = HttpClient::Error::Success;
    QVariant answer;
    QString failure;

    // No byte of an answer of ours arrived: the connection broke (or the
    // balancer in front answered for a server that gave no answer).
    bool brokeBeforeAnswer() const
    {
        if (failure.isEmpty())
            return false;
        if (error != HttpClient::Error::Success)
            return state->status == 0 && state->bytes == 0;
        return isBalancerStatus() && state->kind == BodyKind::Other;
    }
    // Whether the request may have reached an application server: not when
    // the socket could not even be opened, nor when the balancer had no
    // server to send it to (its 503).
    bool mayHaveReachedServer() const
    {
        if (error == HttpClient::Error::Connection || error == HttpClient::Error::ConnectionTimeout)
            return false;
        return !(state->status == 503 && state->kind == BodyKind::Other);
    }
    bool isBalancerStatus() const
    {
        return state->status == 502 || state->status == 503 || state->status == 504;
    }
};

// One exchange on the transport's current client; never throws.
Attempt exchange(RpcTransport &transport, HttpClient::Headers headers, const char *contentType,
                 const QByteArray &request, const QString &where)
{
    Attempt attempt;
    auto state = attempt.state;

    const auto onHeader = [state](int status, const std::string &type) {
        state->status = status;
        state->contentType = type;
        state->kind = kindOf(state->contentType);
        return true;
    };
    const auto onBody = [state](const char *data, size_t size) {
        state->bytes += qint64(size);
        switch (state->kind) {
        case BodyKind::Cbor:
            return state->reader.feed(QByteArrayView(data, qsizetype(size))) != RpcAnswerReader::Error;
        case BodyKind::Json:
        case BodyKind::Unknown:
            if (state->body.size() + size > MaxJsonBytes) {
                state->overflow = true;
                return false;
            }
            state->body.append(data, size);
            return true;
        case BodyKind::Other:
            // Only the start is kept for the message; the rest is drained
            // so that the keep-alive socket stays usable.
            if (state->body.size() < MaxOtherBytes)
                state->body.append(data, qMin(size, MaxOtherBytes - state->body.size()));
            return true;
        }
        return false;
    };

    QString &failure = attempt.failure;
    HttpClient::Error &error = attempt.error;
    QVariant &answer = attempt.answer;
    try {
        RpcTransport::Exchange ex;
        ex.method = "POST";
        ex.target = "/rpc";
        ex.headers = std::move(headers);
        ex.contentType = contentType;
        ex.body = std::string_view(request.constData(), size_t(request.size()));
        ex.onHeader = onHeader;
        ex.onBody = onBody;
        ex.then = [&](HttpClient *client, HttpClient::Error result) {
            if (!client) {
                failure = QStringLiteral("Não há conexão com o servidor de aplicação.");
                return;
            }
            error = result;
            if (state->kind == BodyKind::Cbor && state->reader.status() == RpcAnswerReader::Error) {
                failure = state->reader.errorString();
                return;
            }
            if (error == HttpClient::Error::Connection || error == HttpClient::Error::ConnectionTimeout) {
                failure = QStringLiteral("Servidor de aplicação inacessível em %1.").arg(where);
                return;
            }
            if (error == HttpClient::Error::InvalidRequest) {
                failure = QStringLiteral("O token de acesso ao servidor de aplicação contém caracteres inválidos.");
                return;
            }
            if (error != HttpClient::Error::Success) {
                failure = state->bytes > 0
                    ? QStringLiteral("Resposta incompleta do servidor de aplicação em %1: a conexão foi interrompida após %2 bytes.")
                          .arg(where).arg(state->bytes)
                    : QStringLiteral("Conexão com o servidor de aplicação em %1 perdida ou sem resposta.").arg(where);
                if (state->overflow)
                    failure = QStringLiteral("Resposta do servidor de aplicação grande demais.");
                return;
            }
            // Decoding (and, for JSON, parsing the whole body) stays on the
            // thread that read the answer: the worker, for any answer long in
            // coming, while the caller's window keeps painting.
            try {
                switch (state->kind) {
                case BodyKind::Cbor:
                    if (state->reader.finish() == RpcAnswerReader::Error) {
                        failure = state->reader.errorString();
                        return;
                    }
                    answer = state->reader.take();
                    break;
                case BodyKind::Json:
                    answer = RpcAnswer::decodeJson(QByteArrayView(state->body.data(), qsizetype(state->body.size())));
                    break;
                case BodyKind::Unknown:
                case BodyKind::Other:
                    failure = QStringLiteral("Resposta inesperada do servidor de aplicação (HTTP %1, tipo \"%2\").")
                                  .arg(state->status).arg(QString::fromStdString(state->contentType));
                    return;
                }
            } catch (const opd::RemoteCallError &e) {
                failure = e.message();
            }
        };
        transport.exchange(ex);
    } catch (const std::exception &e) {
        failure = QStringLiteral("Falha na chamada ao servidor de aplicação: %1").arg(QString::fromLocal8Bit(e.what()));
    }
    return attempt;
}

const QStringList &readMethods()
{
    static const QStringList reads{QStringLiteral("GetPedido"), QStringLiteral("GetNrPedido"),
                                   QStringLiteral("getFilial"), QStringLiteral("GetHistorico")};
    return reads;
}

} // namespace

bool isSafeToRetry(const QString &method, bool carriesExpectation, bool mayHaveReachedServer)
{
    if (!mayHaveReachedServer)
        return true;
    return readMethods().contains(method) || carriesExpectation;
}

QVariant TNetConnection::invoke(const QString &method, const QList<opd::RemoteArg> &args,
                                const std::optional<QVariant> &expect)
{
    const bool carriesExpectation = expect.has_value();
    if (d->busy)
        throw opd::RemoteCallError(QStringLiteral("Já existe uma chamada em andamento ao servidor de aplicação."));
    if (method.isEmpty())
        throw opd::RemoteCallError(QStringLiteral("Nome do método remoto não informado."));
    if (!d->connected && d->closedByCaller)
        throw opd::RemoteCallError(QStringLiteral("Não há conexão com o servidor de aplicação."));

    const qint64 id = d->nextId++;
    const bool json = d->encoding == Encoding::Json;
    const QByteArray request = RpcRequest::encode(json ? RpcRequest::Format::Json : RpcRequest::Format::Cbor,
                                                  id, ServerName + QLatin1Char('.') + method, args, expect);
    const char *contentType = json ? "application/json" : "application/cbor";

    QElapsedTimer clock;
    clock.start();
    Attempt attempt;
    for (int round = 0;; ++round) {
        if (!d->connected) {
            // Failed to open earlier (the server was down) or broke in the
            // previous round: open it once more, with the address of now.
            bool alive = true;
            if (!open(&alive)) {
                if (!alive)
                    throw opd::RemoteCallError(QStringLiteral("Não há conexão com o servidor de aplicação."));
                throw opd::RemoteCallError(d->lastError);
            }
        }
        auto transport = d->transport;
        const QString where = d->endpoint;
        bool ownerAlive = true;
        {
            BusyScope busy(this, &d->busy);
            attempt = exchange(*transport, d->headers(contentType), contentType, request, where);
            ownerAlive = busy.ownerAlive();
        }
        if (!ownerAlive)
            break;   // nothing of this object may be touched any more
        if (d->closeAfterCall) {
            d->closeAfterCall = false;
            bool alive = true;
            dropSocket(&alive);
            if (!alive)
                break;
        }
        if (round == 0 && !d->closedByCaller && attempt.brokeBeforeAnswer()
            && isSafeToRetry(method, carriesExpectation, attempt.mayHaveReachedServer())) {
            // The call is sent once more on a new connection.
            qCInfo(opd::lcNet, "%s: a conexão com %s caiu antes da resposta; a chamada vai de novo por outra",
                   qPrintable(method), qPrintable(where));
            d->connected = false;
            bool alive = true;
            dropSocket(&alive);
            if (!alive)
                break;
            emit connectedChanged(false);
            continue;
        }
        break;
    }
    if (!attempt.failure.isEmpty()) {
        qCDebug(opd::lcNet, "%s: falhou em %lld ms: %s", qPrintable(method), (long long)clock.elapsed(),
                qPrintable(attempt.failure));
        throw opd::RemoteCallError(attempt.failure);
    }
    qCDebug(opd::lcNet, "%s: HTTP %d, %lld bytes em %lld ms", qPrintable(method), attempt.state->status,
            (long long)attempt.state->bytes, (long long)clock.elapsed());

    // 401, 400 and 413 carry an error answer, which interpret() turns into
    // the server's own message; any other status without one is reported as such.
    const QVariant result = RpcAnswer::interpret(attempt.answer, id);
    if (attempt.state->status != 200)
        throw opd::RemoteCallError(QStringLiteral("Resposta inesperada do servidor de aplicação (HTTP %1).")
                                  .arg(attempt.state->status));
    return result;
}
