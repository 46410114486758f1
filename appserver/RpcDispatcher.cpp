#include "appserver/RpcDispatcher.h"

#include "appserver/Log.h"

#include <QBuffer>

namespace opd::appserver {

namespace {

void writeId(ReplyWriter &w, const QCborValue &id)
{
    if (id.isInteger())
        w.integer(id.toInteger());
    else if (id.isString())
        w.text(id.toString().toUtf8());
    else
        w.null();
}

void beginEnvelope(ReplyWriter &w, const QCborValue &id)
{
    w.beginMap(3);
    w.key("jsonrpc");
    w.text("2.0");
    w.key("id");
    writeId(w, id);
}

QByteArray render(bool cbor, const std::function<void(ReplyWriter &)> &body)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    auto writer = ReplyWriter::create(cbor, &buffer);
    body(*writer);
    writer.reset();
    return bytes;
}

// The failure shape {"ok":false,"message":...}; a stale write adds the
// "conflict" marker after the message, carrying the stored value and who
// stored it.
RpcResponse failure(bool cbor, const QCborValue &id, const QString &message,
                    const ConflictError *conflict = nullptr)
{
    RpcResponse r;
    r.cbor = cbor;
    r.id = id;
    r.outcome = conflict ? "conflict" : "failed";
    r.body = render(cbor, [&](ReplyWriter &w) {
        beginEnvelope(w, id);
        w.key("result");
        w.beginMap(conflict ? 3 : 2);
        w.key("ok");
        w.boolean(false);
        w.key("message");
        w.text(message.toUtf8());
        if (conflict) {
            w.key("conflict");
            w.beginMap(3);
            w.key("value");
            if (conflict->stored.isString())
                w.text(conflict->stored.toString().toUtf8());
            else if (conflict->stored.isDouble() || conflict->stored.isInteger())
                w.number(conflict->stored.toDouble());
            else
                w.null();
            w.key("user");
            w.text(conflict->user.toUtf8());
            w.key("when");
            w.text(conflict->when.toUtf8());
            w.endMap();
        }
        w.endMap();
        w.endMap();
    });
    return r;
}

} // namespace

bool RpcDispatcher::wantsCbor(QByteArrayView contentType)
{
    return !QByteArray(contentType.data(), contentType.size()).trimmed().toLower().startsWith("application/json");
}

RpcResponse RpcDispatcher::error(bool cbor, const QCborValue &id, int code, const QString &message,
                                 int httpStatus)
{
    RpcResponse r;
    r.cbor = cbor;
    r.id = id;
    r.httpStatus = httpStatus;
    r.outcome = QByteArray::number(code);
    r.body = render(cbor, [&](ReplyWriter &w) {
        beginEnvelope(w, id);
        w.key("error");
        w.beginMap(2);
        w.key("code");
        w.integer(code);
        w.key("message");
        w.text(message.toUtf8());
        w.endMap();
        w.endMap();
    });
    return r;
}

RpcResponse RpcDispatcher::connectionLost(bool cbor, const QCborValue &id, bool write)
{
    return error(cbor, id, InternalError,
                 write ? QStringLiteral("A conexão com o banco de dados caiu durante a gravação: não se sabe se "
                                        "a alteração foi gravada. Consulte os dados antes de repetir.")
                       : QStringLiteral("A conexão com o banco de dados caiu. Tente novamente."));
}

namespace {

// A connection that is there or not; a lost one stays lost.
class FixedSource : public ConnectionSource
{
public:
    explicit FixedSource(db::Database *db) : m_db(db) {}
    db::Database *connection() override { return m_db; }
    void lost() override { m_db = nullptr; }

private:
    db::Database *m_db;
};

} // namespace

RpcResponse RpcDispatcher::dispatch(const QByteArray &body, QByteArrayView contentType,
                                    const std::string &user, db::Database *db) const
{
    FixedSource source(db);
    return dispatch(body, contentType, user, source);
}

RpcResponse RpcDispatcher::dispatch(const QByteArray &body, QByteArrayView contentType,
                                    const std::string &user, ConnectionSource &source) const
{
    const bool cbor = wantsCbor(contentType);
    if (body.size() > kMaxRequestBytes)
        return error(cbor, QCborValue(nullptr), InvalidRequest,
                     QStringLiteral("requisição maior que 1 MiB"), 413);
    RpcCall call;
    RpcResponse r = run(body, cbor, user, source, call);
    r.method = call.method.toUtf8();
    return r;
}

RpcResponse RpcDispatcher::run(const QByteArray &body, bool cbor, const std::string &user,
                               ConnectionSource &source, RpcCall &call) const
{
    RpcFailure fail;
    if (!RpcCall::decode(body, cbor, &call, &fail))
        return error(cbor, call.id, fail.code, fail.message, fail.code == ParseError ? 400 : 200);
    Access access = Access::Write;
    const MethodHandler *handler = m_registry.resolve(call.method, call.args, &fail, &access);
    if (!handler)
        return error(cbor, call.id, fail.code, fail.message);

    for (int attempt = 0;; ++attempt) {
        db::Database *db = source.connection();
        if (!db)
            return error(cbor, call.id, InternalError, QStringLiteral("banco de dados indisponível"));
        CallContext context{*db, user, call.expect};
        try {
            RpcResponse r;
            r.cbor = cbor;
            r.id = call.id;
            r.readOnly = access == Access::Read;
            PayloadWriter payload = (*handler)(context, call.args);
            if (payload) {
                r.payload = std::move(payload);
            } else {
                r.body = render(cbor, [&](ReplyWriter &w) {
                    beginEnvelope(w, call.id);
                    w.key("result");
                    w.beginMap(2);
                    w.key("ok");
                    w.boolean(true);
                    w.key("payload");
                    w.null();
                    w.endMap();
                    w.endMap();
                });
            }
            return r;
        } catch (const ConflictError &e) {
            return failure(cbor, call.id, e.message(), &e);
        } catch (const ServiceError &e) {
            return failure(cbor, call.id, e.message());
        } catch (const db::ConnectionLost &e) {
            qCWarning(lcServer, "%s: conexão perdida (tentativa %d): %s", qPrintable(call.method), attempt + 1,
                      e.what());
            source.lost();
            const bool write = access == Access::Write;
            if (attempt == 0 && (!write || e.nothingSent()))
                continue;
            return connectionLost(cbor, call.id, write && !e.nothingSent());
        } catch (const db::DbError &e) {
            // The details go to the log, not to the client.
            qCWarning(lcServer, "%s: %s", qPrintable(call.method), e.what());
            return error(cbor, call.id, InternalError, QStringLiteral("erro interno do banco de dados"));
        } catch (const std::exception &e) {
            qCWarning(lcServer, "%s: %s", qPrintable(call.method), e.what());
            return error(cbor, call.id, InternalError, QStringLiteral("erro interno"));
        }
    }
}

bool RpcResponse::write(ReplyWriter &w) const
{
    beginEnvelope(w, id);
    w.key("result");
    w.beginMap(2);
    w.key("ok");
    w.boolean(true);
    w.key("payload");
    if (!payload(w))
        return false;
    w.endMap();
    w.endMap();
    return true;
}

QByteArray RpcResponse::collect() const
{
    if (!streamed())
        return body;
    return render(cbor, [&](ReplyWriter &w) { write(w); });
}

} // namespace opd::appserver
