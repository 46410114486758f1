#pragma once
// The words of a remote call as they travel, shared by the client's request
// encoder and the application server's decoder (docs/protocol.md): the
// JSON-RPC members and the kinds of the positional arguments.
//
// Header only: the application server uses these without linking the
// client's libraries.

#include <QByteArrayView>

namespace opd {

// How an argument of a remote call travels: by value or by reference, as
// text, number or day count.
enum class ArgKind { Text, TextRef, NumberRef, Date };

inline constexpr const char *argKindName(ArgKind kind)
{
    switch (kind) {
    case ArgKind::Text: return "text";
    case ArgKind::TextRef: return "text&";
    case ArgKind::NumberRef: return "number&";
    case ArgKind::Date: return "date";
    }
    return "?";
}

inline bool argKindFromName(QByteArrayView name, ArgKind *kind)
{
    for (ArgKind k : {ArgKind::Text, ArgKind::TextRef, ArgKind::NumberRef, ArgKind::Date}) {
        if (name == QByteArrayView(argKindName(k))) {
            *kind = k;
            return true;
        }
    }
    return false;
}

inline constexpr bool isTextKind(ArgKind kind)
{
    return kind == ArgKind::Text || kind == ArgKind::TextRef;
}

// Members of requests and answers.
namespace rpc {
inline constexpr char Version[] = "2.0";
inline constexpr char JsonRpc[] = "jsonrpc";
inline constexpr char Id[] = "id";
inline constexpr char Method[] = "method";
inline constexpr char Params[] = "params";
inline constexpr char Kind[] = "kind";
inline constexpr char Value[] = "value";
inline constexpr char Expect[] = "expect";
inline constexpr char Result[] = "result";
inline constexpr char Error[] = "error";
inline constexpr char Code[] = "code";
inline constexpr char Message[] = "message";
inline constexpr char Payload[] = "payload";
inline constexpr char Ok[] = "ok";
} // namespace rpc

} // namespace opd
