#pragma once
// The raw result of a remote call, as AppServerDispatch::call returns it and
// Consiste::CheckResultServ reads it:
//   {"ok": true,  "payload": P}    the method ran; P is null, a text, a
//                                  double, a QVariantList or an
//                                  opd::DataPacket (lists nest)
//   {"ok": false, "message": M}    the module refused (business rule, bad
//                                  list text, no such row); M is Portuguese
//   {"ok": false, "message": M, "conflict": C}
//                                  a stale write refused: C is a map with
//                                  "value" (the value stored now), "user" and
//                                  "when" (who stored it)
// A call that could not run at all never produces a raw result: it throws
// opd::RemoteCallError instead.

#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace RemoteResult {

inline QVariant success(const QVariant &payload)
{
    return QVariantMap{{QStringLiteral("ok"), true}, {QStringLiteral("payload"), payload}};
}

inline QVariant failure(const QString &message)
{
    return QVariantMap{{QStringLiteral("ok"), false}, {QStringLiteral("message"), message}};
}

inline QVariant failure(const QString &message, const QVariantMap &conflict)
{
    return QVariantMap{{QStringLiteral("ok"), false}, {QStringLiteral("message"), message},
                       {QStringLiteral("conflict"), conflict}};
}

inline bool isConflict(const QVariant &result)
{
    return result.toMap().value(QStringLiteral("conflict")).typeId() == QMetaType::QVariantMap;
}

// The conflict's "value" (QString, double or an invalid QVariant for none).
inline QVariant conflictValue(const QVariant &result)
{
    return result.toMap().value(QStringLiteral("conflict")).toMap().value(QStringLiteral("value"));
}

inline bool isOk(const QVariant &result)
{
    return result.toMap().value(QStringLiteral("ok")).toBool();
}

inline QVariant payload(const QVariant &result)
{
    return result.toMap().value(QStringLiteral("payload"));
}

inline QString message(const QVariant &result)
{
    return result.toMap().value(QStringLiteral("message")).toString();
}

} // namespace RemoteResult
