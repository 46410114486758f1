#pragma once
// Typed arguments of late-bound remote calls.

#include "platform/RpcWords.h"

#include <QVariant>

namespace opd {

struct RemoteArg
{
    using Kind = ArgKind;
    Kind kind;
    QVariant value;   // QString for the text kinds, double for NumberRef and Date (day count)

    static RemoteArg text(const QString &v) { return {Kind::Text, v}; }
    static RemoteArg textRef(const QString &v) { return {Kind::TextRef, v}; }
    static RemoteArg numberRef(double v) { return {Kind::NumberRef, v}; }
    static RemoteArg date(double dayCount) { return {Kind::Date, dayCount}; }
};

} // namespace opd
