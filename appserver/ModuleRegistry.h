#pragma once
// Module name -> method name -> handler with its declared argument kinds.
// Methods are found by name at every call (late binding); the argument count
// and kinds are checked here, before any handler runs.
//
// A handler decodes its arguments, calls its service and returns the payload
// as a function that writes it (null payload: an empty function). Business
// failures are thrown as ServiceError, database failures as db::DbError;
// RpcDispatcher turns both into the one answer shape.

#include "appserver/ReplyWriter.h"
#include "appserver/RpcCall.h"
#include "db/Database.h"

#include <QCborValue>
#include <QString>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace opd::appserver {

// A failure the module signals to the user ({"ok":false,"message":...}).
class ServiceError : public std::runtime_error
{
public:
    explicit ServiceError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A write refused because the stored value is not the one the client said it
// saw; nothing was written. Answered as a failure that also carries
// "conflict": {"value": stored, "user": ..., "when": ...}, so that a client
// can tell it from other refusals and show the stored value. `user` and
// `when` ("yyyy-MM-dd HH:mm:ss") are empty when no audit row explains the
// stored value.
class ConflictError : public ServiceError
{
public:
    ConflictError(const QString &message, QCborValue stored, QString user, QString when)
        : ServiceError(message), stored(std::move(stored)), user(std::move(user)), when(std::move(when)) {}
    QCborValue stored;   // in the method's own argument form (text, day count or null)
    QString user;
    QString when;
};

struct CallContext
{
    db::Database &db;
    std::string user;    // the authenticated user, for the audit trail
    // The request's optional "expect" member: its "value" (text, number or
    // null), or undefined when the request carried no expectation.
    QCborValue expect = QCborValue(QCborSimpleType::Undefined);
};

// Writes the payload; returns false when the client went away mid-stream.
using PayloadWriter = std::function<bool(ReplyWriter &)>;
using MethodHandler = std::function<PayloadWriter(CallContext &, const std::vector<RpcArg> &)>;

// Whether a method writes. A read that lost its connection is run again on
// a new one; a write is not, unless nothing of it reached the database.
enum class Access { Read, Write };

class ModuleRegistry
{
public:
    void add(const QString &module, const QString &method, std::vector<ArgKind> kinds,
             MethodHandler handler, Access access = Access::Write);
    QStringList modules() const;

    // Finds "Module.Method" and checks the arguments; on failure fills
    // *failure (-32601 or -32602) and returns nullptr.
    // *access, when given, is the method's.
    const MethodHandler *resolve(const QString &fullName, const std::vector<RpcArg> &args,
                                 RpcFailure *failure, Access *access = nullptr) const;

private:
    struct Method
    {
        std::vector<ArgKind> kinds;
        MethodHandler handler;
        Access access = Access::Write;
    };
    std::map<QString, std::map<QString, Method>> m_modules;
};

} // namespace opd::appserver
