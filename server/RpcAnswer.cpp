#include "RpcAnswer.h"

#include "RemoteResult.h"
#include "TNetConnection.h"
#include "platform/DataPacket.h"
#include "platform/Exceptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariantList>
#include <QVariantMap>
#include <cmath>

namespace RpcAnswer {

namespace {

[[noreturn]] void invalid(const QString &detail)
{
    throw opd::RemoteCallError(QStringLiteral("Resposta inválida do servidor de aplicação: %1.").arg(detail));
}

QVariant jsonPayload(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Object: {
        opd::DataPacket packet;
        QString error;
        if (!opd::DataPacket::fromJson(value.toObject(), &packet, &error))
            invalid(QStringLiteral("pacote de dados inválido (%1)").arg(error));
        return QVariant::fromValue(packet);
    }
    case QJsonValue::Array: {
        QVariantList list;
        const QJsonArray array = value.toArray();
        list.reserve(array.size());
        for (const QJsonValue &element : array)
            list.append(jsonPayload(element));
        return list;
    }
    case QJsonValue::Null:
        return QVariant();
    default:
        return value.toVariant();
    }
}

// True for a whole number held either as an integer (CBOR) or as a double (JSON).
bool integerOf(const QVariant &v, qint64 *out)
{
    if (v.typeId() == QMetaType::LongLong) {
        *out = v.toLongLong();
        return true;
    }
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) {
            *out = qint64(d);
            return true;
        }
    }
    return false;
}

QString describeId(const QVariant &v)
{
    qint64 id = 0;
    if (!v.isValid())
        return QStringLiteral("nulo");
    if (integerOf(v, &id))
        return QString::number(id);
    return QStringLiteral("não numérico");
}

// Only what the protocol can carry reaches the caller.
QVariant normalisePayload(const QVariant &v)
{
    if (!v.isValid())
        return QVariant();
    switch (v.typeId()) {
    case QMetaType::QString:
        return v;
    case QMetaType::Double:
        return v;
    case QMetaType::LongLong:
        return double(v.toLongLong());
    case QMetaType::QVariantList: {
        QVariantList out;
        const QVariantList in = v.toList();
        out.reserve(in.size());
        for (const QVariant &element : in)
            out.append(normalisePayload(element));
        return out;
    }
    default:
        if (v.metaType() == QMetaType::fromType<opd::DataPacket>())
            return v;
        invalid(QStringLiteral("valor de tipo não suportado no resultado (%1)")
                    .arg(QString::fromLatin1(v.typeName())));
    }
}

} // namespace

QVariant decodeJson(QByteArrayView body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        invalid(QStringLiteral("JSON malformado (%1, posição %2)").arg(error.errorString()).arg(error.offset));
    if (!doc.isObject())
        invalid(QStringLiteral("a resposta não é um objeto"));

    QVariantMap top;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() == QLatin1String("result") && it.value().isObject()) {
            QVariantMap result;
            const QJsonObject r = it.value().toObject();
            for (auto jt = r.begin(); jt != r.end(); ++jt) {
                if (jt.key() == QLatin1String("payload"))
                    result.insert(jt.key(), jsonPayload(jt.value()));
                else
                    result.insert(jt.key(), jt.value().isNull() ? QVariant() : jt.value().toVariant());
            }
            top.insert(it.key(), result);
        } else {
            top.insert(it.key(), it.value().isNull() ? QVariant() : it.value().toVariant());
        }
    }
    return top;
}

QVariant interpret(const QVariant &answer, qint64 expectedId)
{
    if (answer.typeId() != QMetaType::QVariantMap)
        invalid(QStringLiteral("a resposta não é um objeto"));
    const QVariantMap m = answer.toMap();
    const QVariant version = m.value(QStringLiteral("jsonrpc"));
    if (version.typeId() != QMetaType::QString || version.toString() != QLatin1String("2.0"))
        invalid(QStringLiteral("versão do protocolo ausente ou diferente de 2.0"));

    const bool hasResult = m.contains(QStringLiteral("result"));
    const bool hasError = m.contains(QStringLiteral("error"));
    if (hasResult == hasError)
        invalid(QStringLiteral("deve haver exatamente um de \"result\" e \"error\""));
    if (!m.contains(QStringLiteral("id")))
        invalid(QStringLiteral("identificador ausente"));

    const QVariant idValue = m.value(QStringLiteral("id"));
    qint64 id = 0;
    const bool idMatches = integerOf(idValue, &id) && id == expectedId;

    if (hasError) {
        // A server that could not read the request cannot know its id.
        if (idValue.isValid() && !idMatches)
            invalid(QStringLiteral("identificador %1 em vez de %2").arg(describeId(idValue)).arg(expectedId));
        const QVariant e = m.value(QStringLiteral("error"));
        if (e.typeId() != QMetaType::QVariantMap)
            invalid(QStringLiteral("\"error\" não é um objeto"));
        const QVariantMap error = e.toMap();
        qint64 code = 0;
        const QVariant message = error.value(QStringLiteral("message"));
        if (!integerOf(error.value(QStringLiteral("code")), &code) || message.typeId() != QMetaType::QString)
            invalid(QStringLiteral("erro sem código ou sem mensagem"));
        throw opd::RemoteCallError(QStringLiteral("Erro do servidor de aplicação (%1): %2")
                                  .arg(code).arg(message.toString()));
    }

    if (!idMatches)
        invalid(QStringLiteral("identificador %1 em vez de %2").arg(describeId(idValue)).arg(expectedId));
    const QVariant r = m.value(QStringLiteral("result"));
    if (r.typeId() != QMetaType::QVariantMap)
        invalid(QStringLiteral("\"result\" não é um objeto"));
    const QVariantMap result = r.toMap();
    const QVariant ok = result.value(QStringLiteral("ok"));
    if (ok.typeId() != QMetaType::Bool)
        invalid(QStringLiteral("\"ok\" ausente ou não booleano"));
    if (ok.toBool()) {
        if (!result.contains(QStringLiteral("payload")))
            invalid(QStringLiteral("resultado sem \"payload\""));
        return RemoteResult::success(normalisePayload(result.value(QStringLiteral("payload"))));
    }
    const QVariant message = result.value(QStringLiteral("message"));
    if (message.typeId() != QMetaType::QString)
        invalid(QStringLiteral("falha sem mensagem"));
    if (result.contains(QStringLiteral("conflict"))) {
        const QVariant c = result.value(QStringLiteral("conflict"));
        const QVariant value = c.toMap().value(QStringLiteral("value"));
        if (c.typeId() != QMetaType::QVariantMap || !c.toMap().contains(QStringLiteral("value"))
            || !(value.isNull() || value.typeId() == QMetaType::QString || value.canConvert<double>()))
            invalid(QStringLiteral("\"conflict\" sem valor"));
        QVariantMap conflict = c.toMap();
        // Integers become doubles, as in payloads; null stays invalid.
        if (!value.isValid() || value.isNull())
            conflict.insert(QStringLiteral("value"), QVariant());
        else if (value.typeId() != QMetaType::QString)
            conflict.insert(QStringLiteral("value"), value.toDouble());
        return RemoteResult::failure(message.toString(), conflict);
    }
    return RemoteResult::failure(message.toString());
}

} // namespace RpcAnswer
