#include "RpcRequest.h"

#include "TNetConnection.h"
#include "platform/Exceptions.h"

#include <QCborStreamWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace RpcRequest {

namespace {

// A null QVariant stands for the empty text, like an unassigned string
// variable of the screen; anything that is not a string is a caller's fault
// we would rather report than send as its QVariant::toString() spelling.
QString textOf(const opd::RemoteArg &arg, int position)
{
    if (!arg.value.isValid())
        return QString();
    if (arg.value.typeId() == QMetaType::QString)
        return arg.value.toString();
    throw opd::RemoteCallError(QStringLiteral("Argumento %1 da chamada inválido: era esperado um texto.")
                              .arg(position));
}

double numberOf(const opd::RemoteArg &arg, int position)
{
    bool numeric = false;
    switch (arg.value.typeId()) {
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Int: case QMetaType::UInt:
    case QMetaType::LongLong: case QMetaType::ULongLong:
        numeric = true;
        break;
    default:
        break;
    }
    const double value = arg.value.toDouble();
    if (!numeric || !std::isfinite(value))
        throw opd::RemoteCallError(QStringLiteral("Argumento %1 da chamada inválido: era esperado um número finito.")
                                  .arg(position));
    return value;
}

// The expectation as it travels: null, a text or a number.
QVariant checkedExpect(const QVariant &value)
{
    if (!value.isValid() || value.typeId() == QMetaType::QString)
        return value;
    try {
        return numberOf({opd::RemoteArg::Kind::NumberRef, value}, 0);
    } catch (const opd::RemoteCallError &) {
        throw opd::RemoteCallError(QStringLiteral("Valor esperado da chamada inválido: era esperado um texto, "
                                             "um número finito ou nada."));
    }
}

} // namespace

QByteArray encode(Format format, qint64 id, const QString &method,
                  const QList<opd::RemoteArg> &args, const std::optional<QVariant> &expect)
{
    // Values are checked before anything is written, so a refused call
    // leaves no partial body behind.
    struct Checked { QString kind; QString text; double number = 0; bool isText = true; };
    QList<Checked> checked;
    checked.reserve(args.size());
    for (int i = 0; i < args.size(); ++i) {
        const opd::RemoteArg &arg = args.at(i);
        Checked c;
        c.kind = QLatin1String(opd::argKindName(arg.kind));
        c.isText = opd::isTextKind(arg.kind);
        if (c.isText)
            c.text = textOf(arg, i + 1);
        else
            c.number = numberOf(arg, i + 1);
        checked.append(c);
    }
    const QVariant expected = expect ? checkedExpect(*expect) : QVariant();

    if (format == Format::Json) {
        QJsonArray params;
        for (const Checked &c : checked) {
            QJsonObject p;
            p.insert(QLatin1String(opd::rpc::Kind), c.kind);
            p.insert(QLatin1String(opd::rpc::Value), c.isText ? QJsonValue(c.text) : QJsonValue(c.number));
            params.append(p);
        }
        QJsonObject request;
        request.insert(QLatin1String(opd::rpc::JsonRpc), QLatin1String(opd::rpc::Version));
        request.insert(QLatin1String(opd::rpc::Id), id);
        request.insert(QLatin1String(opd::rpc::Method), method);
        request.insert(QLatin1String(opd::rpc::Params), params);
        if (expect)
            request.insert(QLatin1String(opd::rpc::Expect),
                           QJsonObject{{QLatin1String(opd::rpc::Value), !expected.isValid() ? QJsonValue(QJsonValue::Null)
                                        : expected.typeId() == QMetaType::QString ? QJsonValue(expected.toString())
                                                                                  : QJsonValue(expected.toDouble())}});
        return QJsonDocument(request).toJson(QJsonDocument::Compact);
    }

    QByteArray body;
    QCborStreamWriter w(&body);
    w.startMap(expect ? 5 : 4);
    w.append(QLatin1String(opd::rpc::JsonRpc));
    w.append(QLatin1String(opd::rpc::Version));
    w.append(QLatin1String(opd::rpc::Id));
    w.append(id);
    w.append(QLatin1String(opd::rpc::Method));
    w.append(method);
    w.append(QLatin1String(opd::rpc::Params));
    w.startArray(quint64(checked.size()));
    for (const Checked &c : checked) {
        w.startMap(2);
        w.append(QLatin1String(opd::rpc::Kind));
        w.append(c.kind);
        w.append(QLatin1String(opd::rpc::Value));
        if (c.isText)
            w.append(c.text);
        else
            w.append(c.number);
        w.endMap();
    }
    w.endArray();
    if (expect) {
        w.append(QLatin1String(opd::rpc::Expect));
        w.startMap(1);
        w.append(QLatin1String(opd::rpc::Value));
        if (!expected.isValid())
            w.append(nullptr);
        else if (expected.typeId() == QMetaType::QString)
            w.append(expected.toString());
        else
            w.append(expected.toDouble());
        w.endMap();
    }
    w.endMap();
    return body;
}

} // namespace RpcRequest
