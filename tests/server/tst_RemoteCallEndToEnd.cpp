// The client against the real application server on a seeded SQLite
// database: every method in both encodings, call errors and the bearer
// token. What a write stores is checked against the server directly.

#include "TestPackets.h"
#include "server/RemoteResult.h"
#include "server/TNetConnection.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using opd::DataPacket;
using opd::RemoteArg;

namespace {

// The default filter with every status, for one issuing branch.
QList<RemoteArg> getPedidoArgs(const QString &branch, const QString &orderList = QString())
{
    const QString t = QStringLiteral("T");
    const bool list = !orderList.isEmpty();
    return {RemoteArg::textRef(t), RemoteArg::textRef(QString()), RemoteArg::textRef(QString()),
            RemoteArg::textRef(list ? QString() : t), RemoteArg::textRef(orderList),
            RemoteArg::textRef(t), RemoteArg::textRef(QString()),
            RemoteArg::textRef(t), RemoteArg::numberRef(0), RemoteArg::numberRef(0),
            RemoteArg::textRef(t), RemoteArg::numberRef(0), RemoteArg::numberRef(0),
            RemoteArg::textRef(t), RemoteArg::text(branch), RemoteArg::textRef(QString()),
            RemoteArg::textRef(QString()), RemoteArg::textRef(t),
            RemoteArg::textRef(QStringLiteral("123546")), RemoteArg::textRef(t)};
}

QString fieldsOf(const DataPacket &p)
{
    return TestPackets::rowsOf(p).first();
}

QVariant okPayload(const QVariant &result)
{
    if (!RemoteResult::isOk(result))
        qWarning("server refused: %s", qPrintable(RemoteResult::message(result)));
    return RemoteResult::isOk(result) ? RemoteResult::payload(result) : QVariant();
}

} // namespace

class TestRemoteCallEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString dbUrl;
    opd::test::AppServerProcess server;

    std::unique_ptr<TNetConnection> connectTo(int port, TNetConnection::Encoding encoding, const QString &token = {})
    {
        auto net = std::make_unique<TNetConnection>();
        net->ServerName = QStringLiteral("OPD31000.rdmDescEmiPed");
        net->setHost(QStringLiteral("127.0.0.1"));
        net->setPort(port);
        net->setToken(token);
        net->setEncoding(encoding);
        net->setConnected(true);
        return net;
    }

    QString callError(TNetConnection &net, const QString &method, const QList<RemoteArg> &args)
    {
        try {
            net.AppServer().call(method, args);
        } catch (const opd::RemoteCallError &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(opd::test::AppServerProcess::binary()))
            QSKIP("opd-appserver is not built in this build tree");
        QVERIFY(dir.isValid());
        dbUrl = opd::test::makeSeededSqlite(dir.path(), 300);
        QVERIFY2(server.start(dbUrl), qPrintable(server.errorString()));
    }

    void everyMethodAnswersTheSameInBothEncodings()
    {
        QMap<QString, QStringList> seen[2];
        const TNetConnection::Encoding encodings[2] = {TNetConnection::Encoding::Cbor, TNetConnection::Encoding::Json};
        for (int e = 0; e < 2; ++e) {
            auto net = connectTo(server.port(), encodings[e]);
            QVERIFY2(net->Connected(), qPrintable(net->lastError()));

            const DataPacket branches = okPayload(net->AppServer().call(
                QStringLiteral("getFilial"), {RemoteArg::text(QStringLiteral("01")), RemoteArg::text(QStringLiteral("T"))})).value<DataPacket>();
            QCOMPARE(fieldsOf(branches), QStringLiteral("CDFILIAL:string:4,NMFILIAL:string:30,CDSEGMER:string:5"));
            QVERIFY(branches.rowCount() > 0);
            seen[e][QStringLiteral("getFilial")] = TestPackets::rowsOf(branches);

            const QVariantList both = okPayload(net->AppServer().call(QStringLiteral("GetPedido"), getPedidoArgs(QStringLiteral("0001")))).toList();
            QCOMPARE(both.size(), 2);
            const DataPacket orders = both[0].value<DataPacket>();
            const DataPacket items = both[1].value<DataPacket>();
            QCOMPARE(fieldsOf(orders), QStringLiteral("NRPEDIDO:string:10,NMRAZSOCCLIE:string:50,DTPEDIDO:datetime:8,"
                                                      "DTENTPED:datetime:8,CDFILIAL:string:4"));
            QCOMPARE(fieldsOf(items), QStringLiteral("NRPEDIDO:string:10,NRITEMPED:string:10,CDPRODUTO:string:10,"
                                                     "CDARVPROD:string:20,QTITEMPED:float:8,NMPRODUTO:string:50,"
                                                     "CDPRODESTO:string:10,CDFILIAL:string:4,DSEMISSAOITPED:string:400"));
            QVERIFY(orders.rowCount() > 0);
            QVERIFY(items.rowCount() >= orders.rowCount());
            QSet<QByteArray> orderNumbers;
            for (qsizetype r = 0; r < orders.rowCount(); ++r)
                orderNumbers.insert(orders.text(0, r).toByteArray());
            for (qsizetype r = 0; r < items.rowCount(); ++r)
                QVERIFY(orderNumbers.contains(items.text(0, r).toByteArray()));
            seen[e][QStringLiteral("orders")] = TestPackets::rowsOf(orders);
            seen[e][QStringLiteral("items")] = TestPackets::rowsOf(items);

            const DataPacket numbers = okPayload(net->AppServer().call(
                QStringLiteral("GetNrPedido"), {RemoteArg::text(QStringLiteral("0001"))})).value<DataPacket>();
            QCOMPARE(fieldsOf(numbers), QStringLiteral("IDMARCADO:fixed:1,NRPEDIDO:string:10,NMFANTCLIE:string:50"));
            QCOMPARE(numbers.rowCount(), orders.rowCount());
            seen[e][QStringLiteral("GetNrPedido")] = TestPackets::rowsOf(numbers);
        }
        QCOMPARE(seen[1].keys(), seen[0].keys());
        for (const QString &key : seen[0].keys())
            QCOMPARE(seen[1][key], seen[0][key]);
    }

    void callsTheServerCannotRunThrow()
    {
        auto net = connectTo(server.port(), TNetConnection::Encoding::Cbor);
        QVERIFY(callError(*net, QStringLiteral("GetPedidos"), {})
                    .startsWith(QStringLiteral("Erro do servidor de aplicação (-32601): ")));
        QVERIFY(callError(*net, QStringLiteral("getfilial"), {RemoteArg::text(QStringLiteral("01")), RemoteArg::text(QStringLiteral("T"))})
                    .startsWith(QStringLiteral("Erro do servidor de aplicação (-32601): ")));
        QVERIFY(callError(*net, QStringLiteral("GetNrPedido"), {})
                    .startsWith(QStringLiteral("Erro do servidor de aplicação (-32602): ")));
        // Date where a text belongs.
        QVERIFY(callError(*net, QStringLiteral("GetNrPedido"), {RemoteArg::date(46000)})
                    .startsWith(QStringLiteral("Erro do servidor de aplicação (-32602): ")));

        // The connection serves on after all of these.
        QVERIFY(RemoteResult::isOk(net->AppServer().call(QStringLiteral("GetNrPedido"), {RemoteArg::text(QStringLiteral("0001"))})));
    }

    void aServerWithATokenFileWantsTheToken()
    {
        QFile tokens(dir.filePath(QStringLiteral("tokens")));
        QVERIFY(tokens.open(QIODevice::WriteOnly));
        tokens.write("segredo-de-teste-123 maria\n");
        tokens.close();
        opd::test::AppServerProcess guarded;
        QVERIFY2(guarded.start(dbUrl, {QStringLiteral("--token-file"), tokens.fileName()}), qPrintable(guarded.errorString()));

        auto anonymous = connectTo(guarded.port(), TNetConnection::Encoding::Cbor);
        QVERIFY(anonymous->Connected());   // the health check needs no token
        QVERIFY(callError(*anonymous, QStringLiteral("GetNrPedido"), {RemoteArg::text(QStringLiteral("0001"))})
                    .startsWith(QStringLiteral("Erro do servidor de aplicação (-32001): ")));

        auto known = connectTo(guarded.port(), TNetConnection::Encoding::Cbor, QStringLiteral("segredo-de-teste-123"));
        QVERIFY(RemoteResult::isOk(known->AppServer().call(QStringLiteral("GetNrPedido"), {RemoteArg::text(QStringLiteral("0001"))})));
    }
};

QTEST_GUILESS_MAIN(TestRemoteCallEndToEnd)
#include "tst_RemoteCallEndToEnd.moc"
