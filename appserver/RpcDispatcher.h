#pragma once
// One request in, one answer out: decodes the body, resolves the method,
// runs the handler and shapes the answer. This is the one place where
// failures become the protocol's error shape:
//   ServiceError -> {"result":{"ok":false,"message":...}}
//   decoding     -> {"error":{"code":-32700|-32600|-32602,...}}
//   unknown name -> -32601, database failure -> -32603.
// No HTTP here, so tests drive the real handlers in-process.
//
// A connection found lost is dropped and the call tried once more on a new
// one when that is safe: a read, or a write that failed before anything of
// it reached the database. A write whose outcome is unknown is never
// repeated; the clerk is told to look before trying again.

#include "appserver/ModuleRegistry.h"

#include <QByteArray>
#include <QCborValue>

namespace opd::appserver {

struct RpcResponse
{
    int httpStatus = 200;
    bool cbor = false;
    QByteArray body;            // complete answer when payload is empty
    QCborValue id;
    PayloadWriter payload;      // set: the answer is streamed by write()
    bool readOnly = false;      // the method only reads: safe to run again
    // For the access log: the method as the request named it (empty before
    // one was decoded) and the outcome, "ok", "failed", "conflict" or the
    // error code.
    QByteArray method;
    QByteArray outcome = "ok";

    bool streamed() const { return bool(payload); }
    const char *contentType() const { return cbor ? "application/cbor" : "application/json"; }
    // Writes a streamed answer (envelope and payload); false when aborted.
    bool write(ReplyWriter &writer) const;
    // The whole answer as bytes, streaming into memory when needed.
    QByteArray collect() const;
};

// Where a call gets its database connection: a worker's own, opened on
// demand and dropped when found lost.
class ConnectionSource
{
public:
    virtual ~ConnectionSource() = default;
    // The connection, opened when there is none; null when it cannot be
    // opened (the reason is logged).
    virtual db::Database *connection() = 0;
    // Discards the connection after db::ConnectionLost; the next
    // connection() opens a new one.
    virtual void lost() = 0;
};

class RpcDispatcher
{
public:
    static constexpr qsizetype kMaxRequestBytes = 1024 * 1024;

    explicit RpcDispatcher(const ModuleRegistry &registry) : m_registry(registry) {}

    // `db` may be null when the worker has no connection (answers -32603).
    RpcResponse dispatch(const QByteArray &body, QByteArrayView contentType, const std::string &user,
                         db::Database *db) const;
    RpcResponse dispatch(const QByteArray &body, QByteArrayView contentType, const std::string &user,
                         ConnectionSource &source) const;

    // An error answer in the given encoding.
    static RpcResponse error(bool cbor, const QCborValue &id, int code, const QString &message,
                             int httpStatus = 200);
    // The encoding a Content-Type asks for: CBOR unless it names JSON.
    static bool wantsCbor(QByteArrayView contentType);
    // The answer to a call whose connection was lost: `write` says whether
    // the call was a write (its outcome then unknown).
    static RpcResponse connectionLost(bool cbor, const QCborValue &id, bool write);

private:
    RpcResponse run(const QByteArray &body, bool cbor, const std::string &user, ConnectionSource &source,
                    RpcCall &call) const;

    const ModuleRegistry &m_registry;
};

} // namespace opd::appserver
