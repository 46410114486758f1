#pragma once
// Calls the real dispatcher and handlers in-process, in JSON or CBOR, and
// turns answers into plain values for the assertions.

#include "appserver/DescEmiPedModule.h"
#include "appserver/RpcDispatcher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

struct Arg
{
    QString kind;
    QJsonValue value;
};
inline Arg ref(const QString &text) { return {QStringLiteral("text&"), text}; }
inline Arg val(const QString &text) { return {QStringLiteral("text"), text}; }
inline Arg num(double value) { return {QStringLiteral("number&"), value}; }
inline Arg date(double value) { return {QStringLiteral("date"), value}; }

// GetPedido's 20 arguments by meaning, defaulting to "everything".
struct PedidoArgs
{
    QString allNumbersNotRange = QStringLiteral("T"), rangeFrom, rangeTo;
    QString allNumbersNotList = QStringLiteral("T"), numbers;
    QString allCustomers = QStringLiteral("T"), customers;
    QString noEntryDates = QStringLiteral("T");
    double entryFrom = 0, entryTo = 0;
    QString noDeliveryDates = QStringLiteral("T");
    double deliveryFrom = 0, deliveryTo = 0;
    QString allDestinations = QStringLiteral("T"), branch, destinations, sellers;
    QString allSellers = QStringLiteral("T"), statuses = QStringLiteral("123456"), allStatuses;

    QList<Arg> toArgs() const
    {
        return {ref(allNumbersNotRange), ref(rangeFrom), ref(rangeTo), ref(allNumbersNotList), ref(numbers),
                ref(allCustomers), ref(customers), ref(noEntryDates), num(entryFrom), num(entryTo),
                ref(noDeliveryDates), num(deliveryFrom), num(deliveryTo), ref(allDestinations), val(branch),
                ref(destinations), ref(sellers), ref(allSellers), ref(statuses), ref(allStatuses)};
    }
};

class RpcTestClient
{
public:
    RpcTestClient() { opd::appserver::DescEmiPedModule::registerIn(m_registry); }

    static QByteArray body(const QString &method, const QList<Arg> &args, const QJsonValue &id = 7)
    {
        QJsonArray params;
        for (const Arg &a : args)
            params.append(QJsonObject{{QStringLiteral("kind"), a.kind}, {QStringLiteral("value"), a.value}});
        const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                  {QStringLiteral("id"), id},
                                  {QStringLiteral("method"), QStringLiteral("OPD31000.rdmDescEmiPed.") + method},
                                  {QStringLiteral("params"), params}};
        return QJsonDocument(request).toJson(QJsonDocument::Compact);
    }

    opd::appserver::RpcResponse raw(opd::db::Database &db, const QByteArray &body,
                                    QByteArrayView contentType = "application/json",
                                    const std::string &user = "tester")
    {
        opd::appserver::RpcDispatcher dispatcher(m_registry);
        return dispatcher.dispatch(body, contentType, user, &db);
    }

    // The whole JSON answer.
    QJsonObject call(opd::db::Database &db, const QString &method, const QList<Arg> &args,
                     const std::string &user = "tester")
    {
        const QByteArray bytes = raw(db, body(method, args), "application/json", user).collect();
        return QJsonDocument::fromJson(bytes).object();
    }

    static QJsonObject result(const QJsonObject &answer) { return answer.value(QStringLiteral("result")).toObject(); }
    static QString message(const QJsonObject &answer) { return result(answer).value(QStringLiteral("message")).toString(); }
    static bool ok(const QJsonObject &answer) { return result(answer).value(QStringLiteral("ok")).toBool(); }
    static int errorCode(const QJsonObject &answer)
    {
        return answer.value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt();
    }

    // A packet's rows as "cell|cell|..." lines (null as "<null>").
    static QStringList rows(const QJsonObject &packet)
    {
        QStringList out;
        for (const QJsonValue &row : packet.value(QStringLiteral("rows")).toArray()) {
            QStringList cells;
            for (const QJsonValue &c : row.toArray())
                cells << (c.isNull() ? QStringLiteral("<null>")
                          : c.isDouble() ? QString::number(c.toDouble(), 'g', 15) : c.toString());
            out << cells.join(QLatin1Char('|'));
        }
        return out;
    }

private:
    opd::appserver::ModuleRegistry m_registry;
};
