// The order module's handlers, in-process, on a fresh seeded database per
// back end (SQLite always; PostgreSQL when OPD_TEST_PG_URL is set).
#include "DbOracle.h"
#include "RpcTestClient.h"

#include "appserver/ReplyWriter.h"
#include "db/DayCount.h"
#include "platform/ListText.h"
#include "tests/support/TestSupport.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using opd::db::Database;

class TestDescEmiPed : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<opd::test::PgTestDatabase> m_pg;
    std::unique_ptr<Database> m_sqlite, m_postgres;
    RpcTestClient m_client;
    long long m_today = 0;

    void addBackends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }
    Database *backend()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("postgresql")) {
            if (!m_postgres)
                return nullptr;
            return m_postgres.get();
        }
        return m_sqlite.get();
    }

    std::vector<OrderRow> allOrders(Database &db)
    {
        auto s = db.prepare("SELECT CDFILIAL, NRPEDIDO, CDCLIENTE, CDFILDEST, CDVENDEDOR, DTPEDIDO, DTENTPED,"
                            " CDSTATUS FROM PEDIDO");
        std::vector<OrderRow> out;
        while (s->step()) {
            OrderRow r{cellText(*s, 0), cellText(*s, 1), cellText(*s, 2), cellText(*s, 3), cellText(*s, 4)};
            opd::db::dayCountFromIso(s->text(5), &r.entry);
            if (!s->isNull(6))
                opd::db::dayCountFromIso(s->text(6), &r.delivery);
            r.status = int(s->number(7));
            out.push_back(r);
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_today = opd::test::pinToday();   // the handlers' today too, even across midnight
        const QString url = opd::test::makeSeededSqlite(m_dir.path(), 400, 11);
        m_sqlite = Database::open(url.toStdString());
        if (!opd::test::pgServerUrl().isEmpty()) {
            m_pg = std::make_unique<opd::test::PgTestDatabase>();
            QVERIFY2(m_pg->isValid(), qPrintable(m_pg->errorString()));
            opd::test::seedDatabase(m_pg->url(), 400, 11);
            m_postgres = Database::open(m_pg->url().toStdString());
        }
    }
    void cleanupTestCase()
    {
        m_postgres.reset();
        m_pg.reset();
    }

    void searchReturnsExactlyTheMatchingOrdersAndTheirItems_data() { addBackends(); }
    void searchReturnsExactlyTheMatchingOrdersAndTheirItems()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const std::vector<OrderRow> orders = allOrders(*db);

        // Keys for the lists come from the data, so each list matches something.
        QStringList someCustomers, someSellers, branchSellers;
        for (const OrderRow &o : orders) {
            if (o.branch == QLatin1String("0003") && o.status <= 3 && o.entry >= m_today - 40
                && branchSellers.size() < 2 && !branchSellers.contains(o.seller))
                branchSellers << o.seller;
            if (o.customer != QLatin1String("<null>") && someCustomers.size() < 3 && !someCustomers.contains(o.customer))
                someCustomers << o.customer;
            if (someSellers.size() < 2 && !someSellers.contains(o.seller))
                someSellers << o.seller;
        }
        const auto quoted = [](const QStringList &keys) {
            QStringList q;
            for (const QString &k : keys)
                q << QLatin1Char('\'') + QString(k).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
            return q.join(QLatin1Char(','));
        };

        struct Case
        {
            const char *name;
            std::function<void(PedidoArgs &)> set;
            std::function<bool(const OrderRow &)> wanted;
        };
        const long long today = m_today;
        const std::vector<Case> cases = {
            {"default screen filter", [&](PedidoArgs &a) {
                 a.statuses = QStringLiteral("12"); a.noEntryDates.clear();
                 a.entryFrom = double(today - 2); a.entryTo = double(today);
             }, [&](const OrderRow &o) { return (o.status == 1 || o.status == 2) && o.entry >= today - 2 && o.entry <= today; }},
            {"everything", [](PedidoArgs &a) { a.allStatuses = QStringLiteral("T"); },
             [](const OrderRow &) { return true; }},
            {"order-number range, unpadded ends", [](PedidoArgs &a) {
                 a.allNumbersNotRange.clear(); a.rangeFrom = QStringLiteral("25"); a.rangeTo = QStringLiteral(" 0000000060");
                 a.allStatuses = QStringLiteral("T");
             }, [](const OrderRow &o) { return o.number >= QLatin1String("0000000025") && o.number <= QLatin1String("0000000060"); }},
            {"order-number list", [](PedidoArgs &a) {
                 a.allNumbersNotList.clear(); a.numbers = QStringLiteral("'0000000003','0000000017','9999999999'");
             }, [](const OrderRow &o) { return o.number == QLatin1String("0000000003") || o.number == QLatin1String("0000000017"); }},
            {"customer list leaves orders to branches out", [&](PedidoArgs &a) {
                 a.allCustomers.clear(); a.customers = quoted(someCustomers);
             }, [&](const OrderRow &o) { return someCustomers.contains(o.customer); }},
            {"entry dates, time of day ignored", [&](PedidoArgs &a) {
                 a.noEntryDates.clear(); a.entryFrom = double(today - 20) + 0.75; a.entryTo = double(today - 10) + 0.25;
             }, [&](const OrderRow &o) { return o.entry >= today - 20 && o.entry <= today - 10; }},
            {"delivery dates leave orders without one out", [&](PedidoArgs &a) {
                 a.noDeliveryDates.clear(); a.deliveryFrom = double(today - 30); a.deliveryTo = double(today + 5);
             }, [&](const OrderRow &o) { return o.delivery >= today - 30 && o.delivery <= today + 5; }},
            {"destination branches", [](PedidoArgs &a) {
                 a.allDestinations.clear(); a.destinations = QStringLiteral("'0001','0003'");
             }, [](const OrderRow &o) { return o.destination == QLatin1String("0001") || o.destination == QLatin1String("0003"); }},
            {"salespeople", [&](PedidoArgs &a) { a.allSellers.clear(); a.sellers = quoted(someSellers); },
             [&](const OrderRow &o) { return someSellers.contains(o.seller); }},
            {"Liquidado stands for statuses 3 and 5", [](PedidoArgs &a) { a.statuses = QStringLiteral("35"); },
             [](const OrderRow &o) { return o.status == 3 || o.status == 5; }},
            {"all-status flag wins over the codes", [](PedidoArgs &a) { a.statuses = QStringLiteral("1"); a.allStatuses = QStringLiteral("T"); },
             [](const OrderRow &) { return true; }},
            {"issuing branch trimmed", [](PedidoArgs &a) { a.branch = QStringLiteral(" 0002 "); },
             [](const OrderRow &o) { return o.branch == QLatin1String("0002"); }},
            {"criteria combine", [&](PedidoArgs &a) {
                 a.branch = QStringLiteral("0003"); a.statuses = QStringLiteral("123"); a.allSellers.clear();
                 a.sellers = quoted(branchSellers); a.noEntryDates.clear(); a.entryFrom = double(today - 40); a.entryTo = double(today);
             }, [&](const OrderRow &o) { return o.branch == QLatin1String("0003") && o.status <= 3 && branchSellers.contains(o.seller)
                                                && o.entry >= today - 40 && o.entry <= today; }},
        };

        for (const Case &c : cases) {
            PedidoArgs args;
            c.set(args);
            const QJsonObject answer = m_client.call(*db, QStringLiteral("GetPedido"), args.toArgs());
            QVERIFY2(RpcTestClient::ok(answer), c.name);
            const QJsonArray payload = RpcTestClient::result(answer).value(QStringLiteral("payload")).toArray();
            QCOMPARE(payload.size(), 2);

            QStringList expected;
            for (const OrderRow &o : orders) {
                if (c.wanted(o))
                    expected << o.branch + QLatin1Char('|') + o.number;
            }
            expected.sort();
            QStringList got;
            for (const QString &row : RpcTestClient::rows(payload[0].toObject())) {
                const QStringList cells = row.split(QLatin1Char('|'));
                got << cells[4] + QLatin1Char('|') + cells[0];
            }
            // Sorted by the server already: compare without sorting.
            QVERIFY2(got == expected, qPrintable(QStringLiteral("%1: %2 orders, expected %3")
                                                     .arg(QLatin1String(c.name)).arg(got.size()).arg(expected.size())));
            QVERIFY2(!expected.isEmpty() || QByteArray(c.name) == "order-number list", c.name);

            // Items: exactly those of the returned orders, grouped by order, in item order.
            QStringList itemKeys;
            for (const QString &row : RpcTestClient::rows(payload[1].toObject())) {
                const QStringList cells = row.split(QLatin1Char('|'));
                itemKeys << cells[7] + QLatin1Char('|') + cells[0] + QLatin1Char('|') + cells[1];
            }
            QStringList sortedKeys = itemKeys;
            sortedKeys.sort();
            QVERIFY2(itemKeys == sortedKeys, c.name);
            const QStringList allItems = selectLines(*db, "SELECT CDFILIAL, NRPEDIDO, NRITEMPED FROM ITEMPEDIDO", 3);
            QStringList expectedItems;
            for (const QString &key : allItems) {
                if (expected.contains(key.section(QLatin1Char('|'), 0, 1)))
                    expectedItems << key;
            }
            expectedItems.sort();
            QVERIFY2(itemKeys == expectedItems, c.name);
        }
    }

    void ordersShowCustomerOrDestinationBranchName_data() { addBackends(); }
    void ordersShowCustomerOrDestinationBranchName()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        PedidoArgs args;
        args.allNumbersNotList.clear();
        args.numbers = QStringLiteral("'0000000007','0000000008'");   // seventh orders go to a branch
        const QJsonObject answer = m_client.call(*db, QStringLiteral("GetPedido"), args.toArgs());
        const QJsonObject orders = RpcTestClient::result(answer).value(QStringLiteral("payload")).toArray()[0].toObject();
        QStringList fieldsSeen;
        for (const QJsonValue &f : orders.value(QStringLiteral("fields")).toArray())
            fieldsSeen << f[QStringLiteral("name")].toString() + QLatin1Char(':') + f[QStringLiteral("type")].toString()
                              + QLatin1Char(':') + QString::number(f[QStringLiteral("size")].toInt());
        QCOMPARE(fieldsSeen, QStringList({"NRPEDIDO:string:10", "NMRAZSOCCLIE:string:50", "DTPEDIDO:datetime:8",
                                          "DTENTPED:datetime:8", "CDFILIAL:string:4"}));
        const QStringList expected = selectLines(*db,
            "SELECT P.NRPEDIDO, COALESCE(F.NMFILIAL, C.NMRAZSOCCLIE), P.DTPEDIDO, P.CDFILIAL FROM PEDIDO P"
            " LEFT JOIN FILIAL F ON F.CDFILIAL = P.CDFILDEST LEFT JOIN CLIENTE C ON C.CDCLIENTE = P.CDCLIENTE"
            " WHERE P.NRPEDIDO IN ('0000000007', '0000000008') ORDER BY P.CDFILIAL, P.NRPEDIDO", 4);
        const QStringList got = RpcTestClient::rows(orders);
        QCOMPARE(got.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QStringList e = expected[i].split(QLatin1Char('|')), g = got[i].split(QLatin1Char('|'));
            QCOMPARE(g[0], e[0]);
            QCOMPARE(g[1], e[1]);
            long long day = 0;
            QVERIFY(opd::db::dayCountFromIso(e[2].toUtf8().toStdString(), &day));
            QCOMPARE(g[2].toLongLong(), day);
            QCOMPARE(g[4], e[3]);
        }
        QVERIFY(got[0].startsWith(QLatin1String("0000000007|Filial")) || got[1].startsWith(QLatin1String("0000000007|")));
    }

    void cborAnswerIsStreamedInTheAgreedOrder()
    {
        PedidoArgs args;
        args.allStatuses = QStringLiteral("T");
        QJsonObject request = QJsonDocument::fromJson(RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs())).object();
        const QByteArray cbor = QCborValue::fromJsonValue(request).toCbor();
        const auto response = m_client.raw(*m_sqlite, cbor, "application/cbor");
        QVERIFY(response.streamed());
        QCOMPARE(QByteArray(response.contentType()), QByteArray("application/cbor"));
        const QByteArray bytes = response.collect();

        QCborStreamReader r(bytes);
        const auto nextKey = [&r]() { QString s; auto c = r.readString(); while (c.status == QCborStreamReader::Ok) { s += c.data; c = r.readString(); } return s; };
        QVERIFY(r.isMap() && r.isLengthKnown() && r.length() == 3);
        r.enterContainer();
        QCOMPARE(nextKey(), QStringLiteral("jsonrpc"));
        r.next();
        QCOMPARE(nextKey(), QStringLiteral("id"));
        QCOMPARE(r.toInteger(), 7);
        r.next();
        QCOMPARE(nextKey(), QStringLiteral("result"));
        r.enterContainer();
        QCOMPARE(nextKey(), QStringLiteral("ok"));
        QVERIFY(r.isTrue());
        r.next();
        QCOMPARE(nextKey(), QStringLiteral("payload"));
        QVERIFY(r.isArray() && r.length() == 2);
        r.enterContainer();
        for (int packet = 0; packet < 2; ++packet) {
            QVERIFY(r.isMap() && r.length() == 4);
            r.enterContainer();
            QCOMPARE(nextKey(), QStringLiteral("format"));
            r.next();
            QCOMPARE(nextKey(), QStringLiteral("fields"));
            r.next();
            QCOMPARE(nextKey(), QStringLiteral("rows"));
            QVERIFY(r.isArray() && !r.isLengthKnown());
            r.enterContainer();
            qint64 rows = 0;
            while (r.hasNext()) {
                r.next();
                ++rows;
            }
            r.leaveContainer();
            QCOMPARE(nextKey(), QStringLiteral("count"));
            QCOMPARE(qint64(r.toUnsignedInteger()), rows);
            QVERIFY(rows > 0);
            r.next();
            r.leaveContainer();
        }
        r.leaveContainer();
        r.leaveContainer();
        r.leaveContainer();
        QCOMPARE(r.lastError(), QCborError::NoError);
        QCOMPARE(r.currentOffset(), bytes.size());
    }

    void streamStopsWhenTheClientGoesAwayAndEndsItsRead()
    {
        PedidoArgs args;
        args.allStatuses = QStringLiteral("T");
        int pieces = 0;
        {
            const auto response = m_client.raw(*m_sqlite, RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs()));
            QVERIFY(response.streamed());
            auto writer = opd::appserver::ReplyWriter::create(
                false, [&pieces](std::string &) { return ++pieces < 2; }, 1024);
            QVERIFY(!response.write(*writer));
            QVERIFY(writer->aborted());
            // Stopped within a few hundred rows of the refusal, not at the end.
            QVERIFY2(pieces == 2, qPrintable(QString::number(pieces)));
        }
        // The read transaction ended with the answer: a write transaction can start.
        m_sqlite->begin(true);
        m_sqlite->rollback();
    }

    void badArgumentTextsFailWithAMessage_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("flag neither T nor empty") << 0 << QJsonValue("S") << "Indicador inválido";
        QTest::newRow("lower-case flag") << 5 << QJsonValue("t") << "Indicador inválido";
        QTest::newRow("status 7") << 18 << QJsonValue("127") << "Situação do pedido inválida";
        QTest::newRow("status letter") << 18 << QJsonValue("1a") << "Situação do pedido inválida";
        QTest::newRow("status separated") << 18 << QJsonValue("1,2") << "Situação do pedido inválida";
        QTest::newRow("status empty") << 18 << QJsonValue("") << "Situação do pedido deve ser informada";
        QTest::newRow("status with a blank") << 18 << QJsonValue(" 12") << "Situação do pedido inválida";
        QTest::newRow("status with a trailing blank") << 18 << QJsonValue("12 ") << "Situação do pedido inválida";
        QTest::newRow("branch of five characters") << 14 << QJsonValue("çãoçã") << "Código de filial inválido";
        QTest::newRow("branch too long") << 14 << QJsonValue("00012") << "Código de filial inválido";
    }
    void badArgumentTextsFailWithAMessage()
    {
        QFETCH(int, index);
        QFETCH(QJsonValue, value);
        QFETCH(QString, message);
        QList<Arg> args = PedidoArgs().toArgs();
        args[index].value = value;
        const QJsonObject answer = m_client.call(*m_sqlite, QStringLiteral("GetPedido"), args);
        QVERIFY(!RpcTestClient::ok(answer));
        QVERIFY2(RpcTestClient::message(answer).startsWith(message), qPrintable(RpcTestClient::message(answer)));
    }

    void malformedListsAndRangesAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("unterminated quote") << "'0001";
        QTest::newRow("dangling doubled quote") << "'0001''";
        QTest::newRow("missing comma") << "'0001' '0002'";
        QTest::newRow("text outside quotes") << "0001";
        QTest::newRow("trailing comma") << "'0001',";
        QTest::newRow("leading comma") << ",'0001'";
        QTest::newRow("injection") << "' OR 1=1 --";
        QTest::newRow("garbage after key") << "'0001'x";
    }
    void malformedListsAndRangesAreRefused()
    {
        QFETCH(QString, text);
        // The same text as every list argument (with its flag cleared) and as a range end.
        const struct { int flag, list; const char *what; } lists[] = {
            {3, 4, "pedidos"}, {5, 6, "clientes"}, {13, 15, "filiais de destino"}, {17, 16, "vendedores"}};
        for (const auto &l : lists) {
            QList<Arg> args = PedidoArgs().toArgs();
            args[l.flag].value = QString();
            args[l.list].value = text;
            const QJsonObject answer = m_client.call(*m_sqlite, QStringLiteral("GetPedido"), args);
            QVERIFY(!RpcTestClient::ok(answer));
            QCOMPARE(RpcTestClient::message(answer), QStringLiteral("Lista de %1 inválida.").arg(QLatin1String(l.what)));
        }
        if (QRegularExpression(QStringLiteral("^[0-9]+$")).match(text).hasMatch())
            return;   // a valid range end
        QList<Arg> args = PedidoArgs().toArgs();
        args[0].value = QString();
        args[1].value = text;
        args[2].value = QStringLiteral("10");
        QCOMPARE(RpcTestClient::message(m_client.call(*m_sqlite, QStringLiteral("GetPedido"), args)),
                 QStringLiteral("Intervalo de números de pedido inválido."));
    }

    void listKeysWithQuotesAreMatchedLiterally_data() { addBackends(); }
    void listKeysWithQuotesAreMatchedLiterally()
    {
        Database *db = backend();
        if (!db)
            QSKIP("OPD_TEST_PG_URL não definida");
        // The text the picker writes for these keys is what the server reads:
        // C'000001 matches nothing, and nothing breaks, nor do keys that mean
        // something inside an array or JSON literal; only C000001 matches.
        const QStringList keys{"C'000001", "C000001", "a\"b", "c\\d", "{x}", "NULL", "", " , ", "São"};
        PedidoArgs args;
        args.allCustomers.clear();
        args.customers = opd::listtext::join(keys);
        QCOMPARE(args.customers, QStringLiteral("'C''000001','C000001','a\"b','c\\d','{x}','NULL','',' , ','São'"));
        const QJsonObject answer = m_client.call(*db, QStringLiteral("GetPedido"), args.toArgs());
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        const QStringList expected = selectLines(*db, "SELECT NRPEDIDO FROM PEDIDO WHERE CDCLIENTE = 'C000001'", 1);
        QCOMPARE(RpcTestClient::rows(RpcTestClient::result(answer)[QStringLiteral("payload")].toArray()[0].toObject()).size(),
                 expected.size());
    }

    void pickerListsFollowBranchAndCompany_data() { addBackends(); }
    void pickerListsFollowBranchAndCompany()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        QJsonObject answer = m_client.call(*db, QStringLiteral("GetNrPedido"), {val(QStringLiteral("0004"))});
        QStringList numbers;
        for (const QString &row : RpcTestClient::rows(RpcTestClient::result(answer)[QStringLiteral("payload")].toObject()))
            numbers << row.section(QLatin1Char('|'), 1, 1);
        QCOMPARE(numbers, selectLines(*db, "SELECT NRPEDIDO FROM PEDIDO WHERE CDFILIAL = '0004' ORDER BY NRPEDIDO", 1));

        const auto branches = [&](const QString &company, const QString &flag) {
            const QJsonObject a = m_client.call(*db, QStringLiteral("getFilial"), {val(company), val(flag)});
            QStringList codes;
            for (const QString &row : RpcTestClient::rows(RpcTestClient::result(a)[QStringLiteral("payload")].toObject()))
                codes << row.section(QLatin1Char('|'), 0, 0);
            return codes;
        };
        QCOMPARE(branches(QStringLiteral("01"), QStringLiteral("T")),
                 selectLines(*db, "SELECT CDFILIAL FROM FILIAL WHERE CDEMPRESA = '01' ORDER BY 1", 1));
        QCOMPARE(branches(QStringLiteral("01"), QString()),
                 selectLines(*db, "SELECT CDFILIAL FROM FILIAL WHERE CDEMPRESA = '01' AND IDCNTRRESC = 'N' ORDER BY 1", 1));
        QVERIFY(branches(QStringLiteral("99"), QStringLiteral("T")).isEmpty());
    }

    void descriptionWriteIsStoredAndAudited_data() { addBackends(); }
    void descriptionWriteIsStoredAndAudited()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const char *readItem = "SELECT DSEMISSAOITPED FROM ITEMPEDIDO WHERE CDFILIAL = '0002' AND NRPEDIDO = '0000000002'"
                               " AND NRITEMPED = '0002'";
        const QString before = selectLines(*db, readItem, 1).value(0);
        const QString text = QString(400, QChar(u'ç'));   // 400 characters, 800 bytes
        QJsonObject answer = m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(text), val(QStringLiteral("0002")), val(QStringLiteral("0000000002")), val(QStringLiteral("0002"))},
            "maria");
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QVERIFY(RpcTestClient::result(answer).value(QStringLiteral("payload")).isNull());
        QCOMPARE(selectLines(*db, readItem, 1), QStringList{text});
        const QStringList audit = selectLines(*db,
            "SELECT CDFILIAL, NRPEDIDO, NRITEMPED, NMCAMPO, DSVALORANT, DSVALORNOV, CDUSUARIO FROM AUDITORIA"
            " WHERE NMCAMPO = 'DSEMISSAOITPED' ORDER BY IDAUDITORIA DESC", 7);
        QVERIFY(!audit.isEmpty());
        QCOMPARE(audit.first(), QStringList({"0002", "0000000002", "0002", "DSEMISSAOITPED", before, text, "maria"})
                                    .join(QLatin1Char('|')));

        // Too long, or no such item: refused, nothing written, nothing audited.
        const QByteArray digest = databaseDigest(*db);
        answer = m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(text + QLatin1Char('x')), val(QStringLiteral("0002")), val(QStringLiteral("0000000002")), val(QStringLiteral("0002"))});
        QVERIFY(!RpcTestClient::ok(answer));
        QVERIFY(RpcTestClient::message(answer).contains(QLatin1String("400")));
        answer = m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(QStringLiteral("x")), val(QStringLiteral("0001")), val(QStringLiteral("0000000002")), val(QStringLiteral("0002"))});
        QVERIFY(!RpcTestClient::ok(answer));
        QVERIFY(RpcTestClient::message(answer).contains(QStringLiteral("não encontrado")));
        QCOMPARE(databaseDigest(*db), digest);

        // The empty text clears the description.
        answer = m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(QString()), val(QStringLiteral("0002")), val(QStringLiteral("0000000002")), val(QStringLiteral("0002"))});
        QVERIFY(RpcTestClient::ok(answer));
        QCOMPARE(selectLines(*db, readItem, 1), QStringList{QStringLiteral("<null>")});
    }

    void codeLimitsCountCharactersNotBytes()
    {
        // Six bytes, three characters: a code that fits, and matches nothing.
        QJsonObject answer = m_client.call(*m_sqlite, QStringLiteral("GetNrPedido"), {val(QStringLiteral("ção"))});
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QCOMPARE(RpcTestClient::result(answer).value(QStringLiteral("payload")).toObject().value(QStringLiteral("count")).toInt(), 0);
        answer = m_client.call(*m_sqlite, QStringLiteral("getFilial"), {val(QStringLiteral("ção")), val(QStringLiteral("T"))});
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        answer = m_client.call(*m_sqlite, QStringLiteral("getFilial"), {val(QStringLiteral("çãoçã")), val(QStringLiteral("T"))});
        QVERIFY(!RpcTestClient::ok(answer));
        QCOMPARE(RpcTestClient::message(answer), QStringLiteral("Código de empresa inválido."));
    }

    void envelopeFaultsGetTheirCodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("code");
        const QByteArray call = RpcTestClient::body(QStringLiteral("GetNrPedido"), {val(QStringLiteral("0001"))});
        QByteArray lone = call;
        lone.replace("\"0001\"", "\"00\\ud8001\"");
        QByteArray loneLow = call;
        loneLow.replace("\"0001\"", "\"00\\udc001\"");
        QByteArray pair = call;
        pair.replace("\"0001\"", "\"\\ud83d\\ude00\"");
        QTest::newRow("lone high surrogate") << lone << QByteArray("application/json") << -32700;
        QTest::newRow("lone low surrogate") << loneLow << QByteArray("application/json") << -32700;
        QTest::newRow("surrogate pair is a character") << pair << QByteArray("application/json") << 0;
        QTest::newRow("escaped backslash before u") << QByteArray(call).replace("\"0001\"", "\"\\\\ud800\"")
                                                  << QByteArray("application/json") << 0;
        QTest::newRow("JSON number") << QByteArray("5") << QByteArray("application/json") << -32600;
        QTest::newRow("JSON text") << QByteArray("\"x\"") << QByteArray("application/json") << -32600;
        QTest::newRow("JSON null") << QByteArray(" null ") << QByteArray("application/json") << -32600;
        QTest::newRow("JSON array") << QByteArray("[1]") << QByteArray("application/json") << -32600;
        QTest::newRow("JSON cut short") << QByteArray("{\"jsonrpc\":") << QByteArray("application/json") << -32700;
        QTest::newRow("CBOR integer") << QCborValue(5).toCbor() << QByteArray("application/cbor") << -32600;
        QTest::newRow("CBOR text") << QCborValue(QStringLiteral("x")).toCbor() << QByteArray("application/cbor") << -32600;
    }
    void envelopeFaultsGetTheirCodes()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(int, code);
        const opd::appserver::RpcResponse r = m_client.raw(*m_sqlite, body, contentType);
        const QCborMap answer = (r.cbor ? QCborValue::fromCbor(r.collect())
                                        : QCborValue::fromJsonValue(QJsonDocument::fromJson(r.collect()).object())).toMap();
        const QCborMap error = answer.value(QStringLiteral("error")).toMap();
        if (code == 0) {
            QVERIFY2(error.isEmpty(), qPrintable(error.value(QStringLiteral("message")).toString()));
            QVERIFY(answer.value(QStringLiteral("result")).isMap());   // it ran
            return;
        }
        QCOMPARE(error.value(QStringLiteral("code")).toInteger(), code);
        QCOMPARE(r.httpStatus, code == -32700 ? 400 : 200);
    }

    void emptyStoredDescriptionGoesOutAsNull_data() { addBackends(); }
    void emptyStoredDescriptionGoesOutAsNull()
    {
        Database *db = backend();
        if (!db)
            QSKIP("PostgreSQL não configurado (OPD_TEST_PG_URL)");
        // Stored as '' by another program, not through SetDescEmi.
        db->execScript("UPDATE ITEMPEDIDO SET DSEMISSAOITPED = '' WHERE CDFILIAL = '0003' AND NRPEDIDO = '0000000003'"
                       " AND NRITEMPED = '0001'");
        PedidoArgs args;
        args.allNumbersNotList.clear();
        args.numbers = QStringLiteral("'0000000003'");
        args.allStatuses = QStringLiteral("T");
        const QJsonObject answer = m_client.call(*db, QStringLiteral("GetPedido"), args.toArgs());
        QVERIFY(RpcTestClient::ok(answer));
        const QJsonArray packets = RpcTestClient::result(answer).value(QStringLiteral("payload")).toArray();
        const QStringList items = RpcTestClient::rows(packets.at(1).toObject());
        QVERIFY(!items.isEmpty());
        QVERIFY2(items.first().startsWith(QLatin1String("0000000003|0001|")) && items.first().endsWith(QLatin1String("|<null>")),
                 qPrintable(items.first()));
    }

    void deliveryDateRulesCompareWholeDays_data() { addBackends(); }
    void deliveryDateRulesCompareWholeDays()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        // Order 0000000009 of branch 0009 gets an entry date five days ahead.
        auto future = db->prepare("UPDATE PEDIDO SET DTPEDIDO = ? WHERE CDFILIAL = '0009' AND NRPEDIDO = '0000000009'");
        future->bindText(1, opd::db::isoFromDayCount(m_today + 5));
        future->exec();
        const auto set = [&](double day, const QString &order) {
            return m_client.call(*db, QStringLiteral("SetDtEntregaPed"),
                                 {date(day), val(QStringLiteral("0009")), val(order)}, "jose");
        };
        const char *readDate = "SELECT DTENTPED FROM PEDIDO WHERE CDFILIAL = '0009' AND NRPEDIDO = '0000000009'";
        const QByteArray digest = databaseDigest(*db);
        QCOMPARE(RpcTestClient::message(set(double(m_today - 1) + 0.99, QStringLiteral("0000000009"))),
                 QStringLiteral("A data de entrega não pode ser anterior à data atual."));
        QCOMPARE(RpcTestClient::message(set(0, QStringLiteral("0000000009"))),
                 QStringLiteral("A data de entrega não pode ser anterior à data atual."));
        QCOMPARE(RpcTestClient::message(set(double(m_today + 4) + 0.5, QStringLiteral("0000000009"))),
                 QStringLiteral("A data de entrega não pode ser anterior à data do pedido."));
        QVERIFY(RpcTestClient::message(set(double(m_today + 7), QStringLiteral("0000099999"))).contains(QStringLiteral("não encontrado")));
        QVERIFY(!RpcTestClient::ok(set(-5, QStringLiteral("0000000009"))));
        QCOMPARE(databaseDigest(*db), digest);

        // The order's own day, late in the day, is accepted.
        QJsonObject answer = set(double(m_today + 5) + 0.9, QStringLiteral("0000000009"));
        QVERIFY2(RpcTestClient::ok(answer), qPrintable(RpcTestClient::message(answer)));
        QCOMPARE(selectLines(*db, readDate, 1).value(0).left(10), QString::fromStdString(opd::db::isoFromDayCount(m_today + 5)));
        const QStringList audit = selectLines(*db, "SELECT NMCAMPO, DSVALORNOV, CDUSUARIO FROM AUDITORIA"
                                                   " WHERE NRPEDIDO = '0000000009' ORDER BY IDAUDITORIA DESC", 3);
        QCOMPARE(audit.value(0), QStringLiteral("DTENTPED|%1|jose").arg(QString::fromStdString(opd::db::isoFromDayCount(m_today + 5))));
    }

    void hostileRequestsChangeNothingAndTheServerGoesOn_data() { addBackends(); }
    void hostileRequestsChangeNothingAndTheServerGoesOn()
    {
        Database *db = backend();
        OPD_PG_ROW_NEEDS(db, m_pg ? m_pg->errorString() : QString());
        const QByteArray digest = databaseDigest(*db);
        const QString injection = QStringLiteral("' OR 1=1 --");
        const QString dropper = QStringLiteral("0001'); DROP TABLE PEDIDO; --");

        // Injection texts in every text argument of every method.
        const QList<QPair<QString, QList<Arg>>> calls = {
            {QStringLiteral("GetPedido"), PedidoArgs().toArgs()},
            {QStringLiteral("GetNrPedido"), {val(QStringLiteral("0001"))}},
            {QStringLiteral("getFilial"), {val(QStringLiteral("01")), val(QStringLiteral("T"))}},
            {QStringLiteral("SetDescEmi"), {val(QStringLiteral("x")), val(QStringLiteral("0001")), val(QStringLiteral("0000000001")), val(QStringLiteral("0001"))}},
            {QStringLiteral("SetDtEntregaPed"), {date(double(m_today + 400)), val(QStringLiteral("0001")), val(QStringLiteral("0000000001"))}},
        };
        for (const auto &c : calls) {
            for (int i = 0; i < c.second.size(); ++i) {
                if (!c.second[i].value.isString())
                    continue;
                for (const QString &hostile : {injection, dropper}) {
                    if (c.first == QLatin1String("SetDescEmi") && i == 0)
                        continue;   // a description may hold any text: it is stored, see below
                    QList<Arg> args = c.second;
                    args[i].value = hostile;
                    const QJsonObject answer = m_client.call(*db, c.first, args);
                    QVERIFY2(!answer.contains(QStringLiteral("error")), qPrintable(c.first));
                    if (c.first == QLatin1String("GetPedido")) {
                        // With every flag "T" the range ends and the lists are not used, so the
                        // text is accepted there; everywhere else it is refused as a bad value.
                        const bool unused = QList<int>{1, 2, 4, 6, 15, 16}.contains(i);
                        QCOMPARE(RpcTestClient::ok(answer), unused);
                    } else {
                        // Too long for a code, not a flag, or naming no row.
                        QVERIFY2(!RpcTestClient::ok(answer), qPrintable(c.first + QString::number(i)));
                    }
                }
            }
        }

        // Envelope and dispatch faults.
        const struct { QByteArray body; QByteArray type; int code; int http; } faults[] = {
            {"{\"jsonrpc\":\"2.0\",\"id\":1,", "application/json", -32700, 400},
            {"[1,2]", "application/json", -32600, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.GetFilial\",\"params\":[]}", "application/json", -32601, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmOutro.getFilial\",\"params\":[]}", "application/json", -32601, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.getFilial\",\"params\":[{\"kind\":\"text\",\"value\":\"01\"}]}", "application/json", -32602, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.getFilial\",\"params\":[{\"kind\":\"text\",\"value\":\"01\"},{\"kind\":\"number&\",\"value\":1}]}", "application/json", -32602, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.getFilial\",\"params\":[{\"kind\":\"text\",\"value\":\"01\"},{\"kind\":\"text\",\"value\":5}]}", "application/json", -32602, 200},
            {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.getFilial\",\"params\":[{\"kind\":\"blob\",\"value\":\"01\"},{\"kind\":\"text\",\"value\":\"T\"}]}", "application/json", -32602, 200},
            {"{\"jsonrpc\":\"1.0\",\"id\":1,\"method\":\"OPD31000.rdmDescEmiPed.getFilial\",\"params\":[]}", "application/json", -32600, 200},
            {QByteArray::fromHex("a3676a736f6e7270"), "application/cbor", -32700, 400},        // truncated map
            {QByteArray::fromHex("ffffffff00"), "application/cbor", -32700, 400},              // garbage
            {QByteArray::fromHex("a0") + "x", "application/cbor", -32700, 400},                 // bytes after the end
            {QByteArray(2 * 1024 * 1024, ' '), "application/json", -32600, 413},
        };
        for (const auto &f : faults) {
            const auto response = m_client.raw(*db, f.body, f.type);
            QCOMPARE(response.httpStatus, f.http);
            const QByteArray bytes = response.collect();
            const QJsonObject answer = f.type == "application/cbor"
                ? QCborValue::fromCbor(bytes).toMap().toJsonObject()
                : QJsonDocument::fromJson(bytes).object();
            QCOMPARE(RpcTestClient::errorCode(answer), f.code);
            QVERIFY(!answer.contains(QStringLiteral("result")));
        }

        // A 60-entry request in which every value is the wrong kind, then wrong counts.
        QList<Arg> twenty = PedidoArgs().toArgs();
        twenty.removeLast();
        QCOMPARE(RpcTestClient::errorCode(m_client.call(*db, QStringLiteral("GetPedido"), twenty)), -32602);
        QList<Arg> kinds = PedidoArgs().toArgs();
        kinds[8] = ref(QStringLiteral("45000"));
        QCOMPARE(RpcTestClient::errorCode(m_client.call(*db, QStringLiteral("GetPedido"), kinds)), -32602);
        kinds = PedidoArgs().toArgs();
        kinds[14] = ref(QStringLiteral("0001"));   // the branch goes by value
        QCOMPARE(RpcTestClient::errorCode(m_client.call(*db, QStringLiteral("GetPedido"), kinds)), -32602);

        // A NUL character cannot reach the database (PostgreSQL would fail on it),
        // nor can other control characters in a description.
        QCOMPARE(RpcTestClient::errorCode(m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(QStringLiteral("a")), val(QStringLiteral("0001")), val(QStringLiteral("0000000001")), val(QStringLiteral("00\u00001"))})), -32602);
        QVERIFY(RpcTestClient::message(m_client.call(*db, QStringLiteral("SetDescEmi"),
            {val(QStringLiteral("bell\u0007")), val(QStringLiteral("0001")), val(QStringLiteral("0000000001")), val(QStringLiteral("0001"))}))
                    .contains(QStringLiteral("caracteres de controle")));

        QCOMPARE(databaseDigest(*db), digest);
        QVERIFY(RpcTestClient::ok(m_client.call(*db, QStringLiteral("getFilial"), {val(QStringLiteral("01")), val(QStringLiteral("T"))})));
    }

    void overlongStoredTextIsClippedToItsField()
    {
        // SQLite does not enforce VARCHAR sizes; a packet must still never
        // carry a text longer than its field, or the client refuses it whole.
        const QString name = QString(30, QChar(u'É')) + QString(30, QLatin1Char('x'));   // 60 characters
        auto update = m_sqlite->prepare("UPDATE CLIENTE SET NMRAZSOCCLIE = ? WHERE CDCLIENTE ="
                                        " (SELECT CDCLIENTE FROM PEDIDO WHERE NRPEDIDO = '0000000001')");
        update->bindText(1, name.toStdString());
        update->exec();
        PedidoArgs args;
        args.allNumbersNotList.clear();
        args.numbers = QStringLiteral("'0000000001'");
        const QJsonObject answer = m_client.call(*m_sqlite, QStringLiteral("GetPedido"), args.toArgs());
        const QStringList rows = RpcTestClient::rows(RpcTestClient::result(answer)[QStringLiteral("payload")].toArray()[0].toObject());
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].section(QLatin1Char('|'), 1, 1), name.left(50));
    }

    void hostileDescriptionIsStoredAsText()
    {
        const QString hostile = QStringLiteral("'); DELETE FROM PEDIDO; -- \"\\\n\t");
        const QStringList before = selectLines(*m_sqlite, "SELECT COUNT(*) FROM PEDIDO", 1);
        const QJsonObject answer = m_client.call(*m_sqlite, QStringLiteral("SetDescEmi"),
            {val(hostile), val(QStringLiteral("0003")), val(QStringLiteral("0000000003")), val(QStringLiteral("0001"))});
        QVERIFY(RpcTestClient::ok(answer));
        QCOMPARE(selectLines(*m_sqlite, "SELECT COUNT(*) FROM PEDIDO", 1), before);
        // It comes back intact through the JSON writer.
        PedidoArgs args;
        args.branch = QStringLiteral("0003");
        args.allNumbersNotList.clear();
        args.numbers = QStringLiteral("'0000000003'");
        const QJsonObject search = m_client.call(*m_sqlite, QStringLiteral("GetPedido"), args.toArgs());
        const QStringList items = RpcTestClient::rows(RpcTestClient::result(search)[QStringLiteral("payload")].toArray()[1].toObject());
        QVERIFY(!items.isEmpty());
        QVERIFY(items.first().endsWith(hostile));
    }
};

QTEST_GUILESS_MAIN(TestDescEmiPed)
#include "tst_descemiped.moc"
