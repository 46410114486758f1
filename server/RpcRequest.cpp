#include "RpcRequest.h"

#include "TNetConnection.h"
#include "platform/Exceptions.h"

#include <QCborStreamWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace RpcRequest {

QString kindName(opd::RemoteArg::Kind kind)
{
    switch (kind) {
    case opd::RemoteArg::Kind::Text: return QStringLiteral("text");
    case opd::RemoteArg::Kind::TextRef: return QStringLiteral("text&");
    case opd::RemoteArg::Kind::NumberRef: return QStringLiteral("number&");
    case opd::RemoteArg::Kind::Date: return QStringLiteral("date");
    }
    return QString();
}

namespace {

bool isTextKind(opd::RemoteArg::Kind kind)
{
    return kind == opd::RemoteArg::Kind::Text || kind == opd::RemoteArg::Kind::TextRef;
}

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
        c.kind = kindName(arg.kind);
        c.isText = isTextKind(arg.kind);
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
            p.insert(QStringLiteral("kind"), c.kind);
            p.insert(QStringLiteral("value"), c.isText ? QJsonValue(c.text) : QJsonValue(c.number));
            params.append(p);
        }
        QJsonObject request;
        request.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
        request.insert(QStringLiteral("id"), id);
        request.insert(QStringLiteral("method"), method);
        request.insert(QStringLiteral("params"), params);
        if (expect)
            request.insert(QStringLiteral("expect"),
                           QJsonObject{{QStringLiteral("value"), !expected.isValid() ? QJsonValue(QJsonValue::Null)
                                        : expected.typeId() == QMetaType::QString ? QJsonValue(expected.toString())
                                                                                  : QJsonValue(expected.toDouble())}});
        return QJsonDocument(request).toJson(QJsonDocument::Compact);
    }

    QByteArray body;
    QCborStreamWriter w(&body);
    w.startMap(expect ? 5 : 4);
    w.append(QLatin1String("jsonrpc"));
    w.append(QLatin1String("2.0"));
    w.append(QLatin1String("id"));
    w.append(id);
    w.append(QLatin1String("method"));
    w.append(method);
    w.append(QLatin1String("params"));
    w.startArray(quint64(checked.size()));
    for (const Checked &c : checked) {
        w.startMap(2);
        w.append(QLatin1String("kind"));
        w.append(c.kind);
        w.append(QLatin1String("value"));
        if (c.isText)
            w.append(c.text);
        else
            w.append(c.number);
        w.endMap();
    }
    w.endArray();
    if (expect) {
        w.append(QLatin1String("expect"));
        w.startMap(1);
        w.append(QLatin1String("value"));
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
