#pragma once
// An in-process stand-in for the application server: an HTTP server on a
// free loopback port that answers /health and /rpc as each test tells it,
// including with malformed, truncated, slow or dropped answers, and keeps
// what it received.

#include <QByteArray>
#include <QCborMap>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace httplib { struct Request; struct Response; }
class QCborStreamWriter;
class TNetConnection;

class FakeAppServer
{
public:
    struct Received
    {
        std::string contentType;
        std::string authorization;
        QByteArray body;
        QCborMap request;      // the body decoded (CBOR or JSON), empty when undecodable
        qint64 id() const;
    };

    FakeAppServer();
    ~FakeAppServer();

    int port() const;
    // Points `net` (module OPD31000.rdmDescEmiPed) at this server; does not connect.
    void aim(TNetConnection &net) const;

    // /health answers this status and JSON body (default 200, status ok,
    // the module OPD31000.rdmDescEmiPed).
    void setHealth(int status, const QByteArray &json);
    // The next `times` health checks get `status` with a balancer's HTML
    // page, as HAProxy answers for a server that has just died.
    void failHealth(int times, int status);
    int healthHits() const;

    // /rpc answers body bytes built from the request's id, with the
    // request's content type.
    void setAnswer(std::function<QByteArray(const Received &)> answer);
    // Full control of the /rpc exchange (streaming, delays, dropping).
    void setRawRpc(std::function<void(const httplib::Request &, httplib::Response &)> handler);

    QList<Received> received() const;

    // From a raw /rpc handler: shuts the socket the request came on, so the
    // client sees the connection break before any byte of an answer.
    void dropConnection(const httplib::Request &req) const;

    // Answer builders (CBOR): a result with the payload written by `payload`,
    // a failure the module signals, a call error.
    static QByteArray cborOk(qint64 id, const std::function<void(QCborStreamWriter &)> &payload);
    static QByteArray cborFailure(qint64 id, const QString &message);
    static QByteArray cborError(qint64 id, int code, const QString &message);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
