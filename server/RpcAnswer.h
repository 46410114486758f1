#pragma once
// Meaning of a decoded answer: turns the tree that RpcAnswerReader (CBOR) or
// decodeJson (JSON) produced into the raw result of RemoteResult.h, or
// throws opd::RemoteCallError for an answer that is an error or is not an answer
// to this request. Never returns a partly checked result.

#include <QByteArrayView>
#include <QVariant>

namespace RpcAnswer {

// Whole JSON body to the same tree the CBOR reader builds; objects where a
// payload value is expected become opd::DataPacket through DataPacket::fromJson.
// Throws opd::RemoteCallError on malformed JSON or a malformed packet.
QVariant decodeJson(QByteArrayView body);

// Checks "jsonrpc", "id" (must be expectedId; an error answer may carry
// null when the server could not read the request) and exactly one of
// "result"/"error". Payload integers become doubles.
QVariant interpret(const QVariant &answer, qint64 expectedId);

} // namespace RpcAnswer
