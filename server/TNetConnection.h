#pragma once
// Connection to the application server's remote data module.
//
// Setting Connected to true runs OnBeforeConnect (which sets host and port),
// opens a keep-alive connection and checks that the module ServerName
// answers; false closes it. With ThrowException false a failed connect
// leaves Connected false and keeps the reason in lastError().
//
// AppServer() gives a late-bound dispatch: call(method, args) sends the call
// and returns the raw result: a QVariantMap {"ok": true, "payload": ...} or
// {"ok": false, "message": "..."} (what Consiste::CheckResultServ reads).
// Data packets in a payload arrive as opd::DataPacket values. A failure of
// the call itself (connection lost, unknown method, wrong arguments) throws
// opd::RemoteCallError. Closing (false) never throws; while a call is awaited the
// socket is dropped when that call ends. A connection that failed to open
// or broke is opened once more by the next call, after OnBeforeConnect. Calls are synchronous for the caller, but the Qt event
// loop keeps painting (user input excluded) while an answer is awaited.

#include "platform/Exceptions.h"
#include "platform/Variant.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

class TNetConnection;

// Whether a call whose connection broke before any byte of its answer
// arrived may be sent once more on a new connection: always when the
// request cannot have reached a server; otherwise only a read (GetPedido,
// GetNrPedido, getFilial, GetHistorico) or a write carrying a stale-write
// expectation, which a second arrival cannot apply twice.
bool isSafeToRetry(const QString &method, bool carriesExpectation, bool mayHaveReachedServer);

class AppServerDispatch
{
public:
    explicit AppServerDispatch(TNetConnection *connection) : m_connection(connection) {}
    QVariant call(const QString &method, const QList<opd::RemoteArg> &args) const;
    // The same with the request's "expect" member: the value the caller saw
    // (QString, number, or an invalid QVariant for none). A write the server
    // finds stale answers {"ok": false, "message": M, "conflict": {...}}.
    QVariant call(const QString &method, const QList<opd::RemoteArg> &args, const QVariant &expect) const;

private:
    TNetConnection *m_connection;
};

class TNetConnection : public QObject
{
    Q_OBJECT
public:
    explicit TNetConnection(QObject *parent = nullptr);
    ~TNetConnection() override;

    QString ServerName;
    bool ThrowException = false;
    std::function<void(QObject *sender)> OnBeforeConnect;

    void setHost(const QString &host);
    QString host() const;
    void setPort(int port);
    int port() const;
    void setToken(const QString &token);

    bool Connected() const;
    void setConnected(bool connected);
    QString lastError() const;

    AppServerDispatch AppServer();

    // Encoding used on the wire (CBOR by default; JSON for diagnosis).
    enum class Encoding { Cbor, Json };
    void setEncoding(Encoding encoding);
    Encoding encoding() const;

    // Time allowed to open the socket and, once a request is sent, between
    // two reads of its answer (defaults 5 s and 60 s). Taken at each connect.
    void setTimeouts(int connectMs, int readMs);

    // Internal: one call. A connection that failed to open or broke is
    // opened once more first; a call whose connection broke before any
    // answer byte arrived is sent once more when isSafeToRetry allows it
    // (a request with an expectation counts as carrying one).
    QVariant invoke(const QString &method, const QList<opd::RemoteArg> &args,
                    const std::optional<QVariant> &expect = std::nullopt);

signals:
    void connectedChanged(bool connected);

private:
    // Opens the client and checks the health answer; returns the error text
    // (empty on success). *alive turns false when this object was deleted
    // while the check was awaited.
    QString openAndCheck(bool *alive);
    // OnBeforeConnect, then openAndCheck; on success Connected turns true.
    bool open(bool *alive);
    void dropSocket(bool *alive);

    struct Private;
    std::unique_ptr<Private> d;
};
