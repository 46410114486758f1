#pragma once
// Encodes one remote call as a JSON-RPC 2.0 request body:
//   {"jsonrpc":"2.0","id":N,"method":"<module>.<method>",
//    "params":[{"kind":"text"|"text&"|"number&"|"date","value":...}, ...]}
// in CBOR (the default on the wire) or JSON (for diagnosis).

#include "platform/Variant.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace RpcRequest {

enum class Format { Cbor, Json };

// The wire name of an argument kind ("text", "text&", "number&", "date").
QString kindName(opd::RemoteArg::Kind kind);

// Throws RemoteCallError when an argument cannot travel: a text kind whose
// value is not text, a number kind whose value is not a finite number.
// Nothing is sent in that case.
QByteArray encode(Format format, qint64 id, const QString &method,
                  const QList<opd::RemoteArg> &args);

} // namespace RpcRequest
