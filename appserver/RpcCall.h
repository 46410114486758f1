#pragma once
// One decoded request: id, method and positional arguments with their kinds.
// decode() checks the envelope only; the registry checks the arguments
// against the method's declaration.

#include "platform/RpcWords.h"

#include <QByteArray>
#include <QCborValue>
#include <QString>
#include <vector>

namespace opd::appserver {

struct RpcArg
{
    ArgKind kind = ArgKind::Text;
    QByteArray text;     // UTF-8, for the text kinds
    double number = 0;   // for number& and date
};

// JSON-RPC error codes of the protocol.
enum RpcCode {
    ParseError = -32700,
    InvalidRequest = -32600,
    MethodNotFound = -32601,
    InvalidParams = -32602,
    InternalError = -32603,
    Unauthorized = -32001,
};

struct RpcFailure
{
    int code = InternalError;
    QString message;
};

struct RpcCall
{
    QCborValue id;            // integer, string or null
    QString method;           // "Module.Method"
    std::vector<RpcArg> args;
    // The optional member "expect": {"value": V} beside "params", V a text,
    // a number or null: what the client saw of the value a write replaces.
    // Undefined when the request has none.
    QCborValue expect = QCborValue(QCborSimpleType::Undefined);

    // Parses a request body. On failure fills *failure (and *id when the
    // envelope got far enough to have one) and returns false.
    static bool decode(const QByteArray &body, bool cbor, RpcCall *call, RpcFailure *failure);
};

} // namespace opd::appserver
