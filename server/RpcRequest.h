#pragma once
// Encodes one remote call as a JSON-RPC 2.0 request body:
//   {"jsonrpc":"2.0","id":N,"method":"<module>.<method>",
//    "params":[{"kind":"text"|"text&"|"number&"|"date","value":...}, ...],
//    "expect":{"value":V}}
// in CBOR (the default on the wire) or JSON (for diagnosis). "expect" is
// optional: what the caller saw of the value a write replaces (a text, a
// number or null), for the server's stale-write check.

#include "platform/Variant.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace RpcRequest {

enum class Format { Cbor, Json };

// Throws opd::RemoteCallError when an argument cannot travel: a text kind whose
// value is not text, a number kind whose value is not a finite number.
// Nothing is sent in that case. `expect`, when given, is a QString, a finite
// number or an invalid QVariant (null); anything else throws the same way.
QByteArray encode(Format format, qint64 id, const QString &method,
                  const QList<opd::RemoteArg> &args,
                  const std::optional<QVariant> &expect = std::nullopt);

} // namespace RpcRequest
