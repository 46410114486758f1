#include "appserver/RpcCall.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace opd::appserver {

namespace {

bool fail(RpcFailure *failure, int code, const QString &message)
{
    failure->code = code;
    failure->message = message;
    return false;
}

// A \uD800-\uDFFF escape that is not half of a pair: such a text is no
// Unicode at all, and the parser would quietly replace it.
bool hasLoneSurrogate(const QByteArray &json)
{
    const auto unit = [&](qsizetype at, unsigned *value) {
        if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u')
            return false;
        bool ok = false;
        *value = QByteArray(json.constData() + at + 2, 4).toUInt(&ok, 16);
        return ok;
    };
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (c == '\\') {
            unsigned u = 0;
            if (unit(i, &u)) {
                if (u >= 0xDC00 && u <= 0xDFFF)
                    return true;
                if (u >= 0xD800 && u <= 0xDBFF) {
                    unsigned low = 0;
                    if (!unit(i + 6, &low) || low < 0xDC00 || low > 0xDFFF)
                        return true;
                    i += 6;
                }
                i += 5;
            } else {
                ++i;   // the escaped character
            }
        }
    }
    return false;
}

} // namespace

bool RpcCall::decode(const QByteArray &body, bool cbor, RpcCall *call, RpcFailure *failure)
{
    QCborValue root;
    if (cbor) {
        QCborStreamReader reader(body);
        root = QCborValue::fromCbor(reader);
        if (reader.lastError() != QCborError::NoError)
            return fail(failure, ParseError, QStringLiteral("CBOR malformado: ") + reader.lastError().toString());
        if (reader.currentOffset() != body.size())
            return fail(failure, ParseError, QStringLiteral("CBOR malformado: bytes após o fim da requisição"));
    } else {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError) {
            // A lone number, text, true, false or null is JSON, just not a request.
            QJsonParseError inArray;
            QJsonDocument::fromJson("[" + body + "]", &inArray);
            if (inArray.error == QJsonParseError::NoError)
                return fail(failure, InvalidRequest, QStringLiteral("a requisição deve ser um objeto"));
            return fail(failure, ParseError, QStringLiteral("JSON malformado: ") + error.errorString());
        }
        if (hasLoneSurrogate(body))
            return fail(failure, ParseError, QStringLiteral("JSON malformado: surrogate UTF-16 isolado num texto"));
        if (!doc.isObject())
            return fail(failure, InvalidRequest, QStringLiteral("a requisição deve ser um objeto"));
        root = QCborValue::fromJsonValue(QJsonValue(doc.object()));
    }
    if (!root.isMap())
        return fail(failure, InvalidRequest, QStringLiteral("a requisição deve ser um objeto"));
    const QCborMap map = root.toMap();

    const QCborValue id = map.value(QLatin1String(rpc::Id));
    if (id.isInteger() || id.isString() || id.isNull()) {
        call->id = id;
    } else if (id.isDouble() && std::trunc(id.toDouble()) == id.toDouble() && std::fabs(id.toDouble()) < 9e15) {
        call->id = QCborValue(qint64(id.toDouble()));
    } else if (id.isUndefined()) {
        call->id = QCborValue(nullptr);
    } else {
        call->id = QCborValue(nullptr);
        return fail(failure, InvalidRequest, QStringLiteral("\"id\" deve ser número inteiro, texto ou null"));
    }
    if (map.value(QLatin1String(rpc::JsonRpc)).toString() != QLatin1String(rpc::Version))
        return fail(failure, InvalidRequest, QStringLiteral("\"jsonrpc\" deve ser \"2.0\""));
    const QCborValue method = map.value(QLatin1String(rpc::Method));
    if (!method.isString() || method.toString().isEmpty())
        return fail(failure, InvalidRequest, QStringLiteral("\"method\" deve ser um texto"));
    call->method = method.toString();

    const QCborValue params = map.value(QLatin1String(rpc::Params));
    if (!params.isArray())
        return fail(failure, InvalidRequest, QStringLiteral("\"params\" deve ser uma lista"));
    const QCborArray list = params.toArray();
    call->args.clear();
    call->args.reserve(size_t(list.size()));
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("argumento %1: ").arg(i + 1);
        const QCborValue item = list.at(i);
        if (!item.isMap())
            return fail(failure, InvalidParams, where + QStringLiteral("deve ser {\"kind\",\"value\"}"));
        const QCborMap arg = item.toMap();
        RpcArg out;
        const QCborValue kind = arg.value(QLatin1String(rpc::Kind));
        if (!kind.isString() || !argKindFromName(kind.toString().toUtf8(), &out.kind))
            return fail(failure, InvalidParams, where + QStringLiteral("tipo desconhecido"));
        const QCborValue value = arg.value(QLatin1String(rpc::Value));
        if (isTextKind(out.kind)) {
            if (!value.isString())
                return fail(failure, InvalidParams, where + QStringLiteral("o valor deve ser um texto"));
            out.text = value.toString().toUtf8();
            // PostgreSQL cannot store U+0000 and no key or description holds it.
            if (out.text.contains('\0'))
                return fail(failure, InvalidParams, where + QStringLiteral("o texto contém o caractere nulo"));
        } else {
            if (!value.isInteger() && !value.isDouble())
                return fail(failure, InvalidParams, where + QStringLiteral("o valor deve ser um número"));
            out.number = value.isInteger() ? double(value.toInteger()) : value.toDouble();
            if (!std::isfinite(out.number))
                return fail(failure, InvalidParams, where + QStringLiteral("o número deve ser finito"));
        }
        call->args.push_back(std::move(out));
    }

    call->expect = QCborValue(QCborSimpleType::Undefined);
    if (map.contains(QLatin1String(rpc::Expect))) {
        const QCborValue expect = map.value(QLatin1String(rpc::Expect));
        const QCborValue value = expect.isMap() ? expect.toMap().value(QLatin1String(rpc::Value)) : QCborValue();
        if (!expect.isMap() || expect.toMap().size() != 1
            || !(value.isString() || value.isNull() || value.isInteger()
                 || (value.isDouble() && std::isfinite(value.toDouble()))))
            return fail(failure, InvalidParams,
                        QStringLiteral("\"expect\" deve ser {\"value\": texto, número ou null}"));
        if (value.isString() && value.toString().contains(QChar(0)))
            return fail(failure, InvalidParams, QStringLiteral("\"expect\": o texto contém o caractere nulo"));
        call->expect = value;
    }
    return true;
}

} // namespace opd::appserver
