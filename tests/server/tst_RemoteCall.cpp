// Remote calls over a live loopback connection: what goes on the wire, what
// comes back, and every way an answer can be wrong.

#include "FakeAppServer.h"
#include "TestPackets.h"
#include "platform/DataPacket.h"
#include "server/RemoteResult.h"
#include "server/TNetConnection.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QCborMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <httplib.h>

#include <atomic>

using opd::DataPacket;
using opd::RemoteArg;

Q_DECLARE_METATYPE(std::function<QByteArray(qint64)>)
Q_DECLARE_METATYPE(opd::RemoteArg)

namespace {

QByteArray okWith(qint64 id, const std::function<void(QCborStreamWriter &)> &payload)
{
    return FakeAppServer::cborOk(id, payload);
}

QByteArray jsonAnswer(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// A successful answer in the request's own encoding.
QByteArray okIn(const FakeAppServer::Received &r, const QJsonValue &json,
                const std::function<void(QCborStreamWriter &)> &cbor)
{
    if (r.contentType == "application/json")
        return jsonAnswer({{"jsonrpc", "2.0"}, {"id", r.id()}, {"result", QJsonObject{{"ok", true}, {"payload", json}}}});
    return okWith(r.id(), cbor);
}

} // namespace

class TestRemoteCall : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeAppServer> server;
    std::unique_ptr<TNetConnection> net;

    QVariant call(const QString &method, const QList<RemoteArg> &args = {})
    {
        return net->AppServer().call(method, args);
    }

    QString callError(const QString &method = QStringLiteral("GetPedido"))
    {
        try {
            call(method);
        } catch (const opd::RemoteCallError &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeAppServer>();
        net = std::make_unique<TNetConnection>();
        server->aim(*net);
        net->setConnected(true);
        QVERIFY2(net->Connected(), qPrintable(net->lastError()));
    }

    void cleanup()
    {
        net.reset();
        server.reset();
    }

    void argumentsOfEveryKindArriveInOrder_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::newRow("cbor") << int(TNetConnection::Encoding::Cbor);
        QTest::newRow("json") << int(TNetConnection::Encoding::Json);
    }

    void argumentsOfEveryKindArriveInOrder()
    {
        QFETCH(int, encoding);
        net->setEncoding(TNetConnection::Encoding(encoding));
        server->setAnswer([](const FakeAppServer::Received &r) {
            return okIn(r, QJsonValue(), [](QCborStreamWriter &w) { w.appendNull(); });
        });

        const QList<RemoteArg> args{RemoteArg::textRef(QStringLiteral("T")), RemoteArg::textRef(QString()),
                                    RemoteArg::text(QStringLiteral("Açaí 'D''Ávila'")), RemoteArg::numberRef(45993.0),
                                    RemoteArg::numberRef(0), RemoteArg::date(46010.75)};
        const QVariant first = call(QStringLiteral("GetPedido"), args);
        call(QStringLiteral("getFilial"), {RemoteArg::text(QStringLiteral("01")), RemoteArg::text(QStringLiteral("T"))});

        QVERIFY(RemoteResult::isOk(first));
        QVERIFY(!RemoteResult::payload(first).isValid());

        const auto got = server->received();
        QCOMPARE(got.size(), 2);
        const char *expectedType = encoding == int(TNetConnection::Encoding::Json) ? "application/json" : "application/cbor";
        QCOMPARE(got[0].contentType, std::string(expectedType));
        const QCborMap req = got[0].request;
        QCOMPARE(req.value(QLatin1String("jsonrpc")).toString(), QStringLiteral("2.0"));
        QCOMPARE(req.value(QLatin1String("method")).toString(), QStringLiteral("OPD31000.rdmDescEmiPed.GetPedido"));
        QCOMPARE(got[1].request.value(QLatin1String("method")).toString(), QStringLiteral("OPD31000.rdmDescEmiPed.getFilial"));
        QVERIFY(got[1].id() > got[0].id());

        const QCborArray params = req.value(QLatin1String("params")).toArray();
        QStringList seen;
        for (const QCborValue &p : params) {
            const QCborValue v = p.toMap().value(QLatin1String("value"));
            const QString kind = p.toMap().value(QLatin1String("kind")).toString();
            // Text kinds must travel as strings, number kinds as numbers.
            const QString shown = v.isString() ? QLatin1Char('"') + v.toString() + QLatin1Char('"')
                                  : (v.isDouble() || v.isInteger()) ? QString::number(v.toDouble(), 'g', 17)
                                                                   : QStringLiteral("<other>");
            seen << kind + QLatin1Char('=') + shown;
        }
        QCOMPARE(seen, (QStringList{QStringLiteral("text&=\"T\""), QStringLiteral("text&=\"\""),
                                    QStringLiteral("text=\"Açaí 'D''Ávila'\""), QStringLiteral("number&=45993"),
                                    QStringLiteral("number&=0"), QStringLiteral("date=46010.75")}));
    }

    void argumentsThatCannotTravelAreRefusedUnsent_data()
    {
        QTest::addColumn<RemoteArg>("arg");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text kind holding a number") << RemoteArg{RemoteArg::Kind::Text, 12.0}
            << QStringLiteral("Argumento 2 da chamada inválido: era esperado um texto.");
        QTest::newRow("number kind holding text") << RemoteArg{RemoteArg::Kind::NumberRef, QStringLiteral("12")}
            << QStringLiteral("Argumento 2 da chamada inválido: era esperado um número finito.");
        QTest::newRow("date that is not a number") << RemoteArg::date(std::numeric_limits<double>::quiet_NaN())
            << QStringLiteral("Argumento 2 da chamada inválido: era esperado um número finito.");
        QTest::newRow("infinite number") << RemoteArg::numberRef(std::numeric_limits<double>::infinity())
            << QStringLiteral("Argumento 2 da chamada inválido: era esperado um número finito.");
    }

    void argumentsThatCannotTravelAreRefusedUnsent()
    {
        QFETCH(RemoteArg, arg);
        QFETCH(QString, expected);
        try {
            call(QStringLiteral("SetDtEntregaPed"), {RemoteArg::text(QStringLiteral("0001")), arg});
            QFAIL("bad argument sent");
        } catch (const opd::RemoteCallError &e) {
            QCOMPARE(e.message(), expected);
        }
        QCOMPARE(server->received().size(), 0);
    }

    void scalarAndListPayloadsComeBackAsVariants_data()
    {
        QTest::addColumn<std::function<QByteArray(qint64)>>("answer");
        QTest::addColumn<QVariant>("expected");
        auto ok = [](auto writer) { return std::function<QByteArray(qint64)>([writer](qint64 id) { return okWith(id, writer); }); };
        QTest::newRow("null") << ok([](QCborStreamWriter &w) { w.appendNull(); }) << QVariant();
        QTest::newRow("text") << ok([](QCborStreamWriter &w) { w.append(QStringLiteral("Filial São Paulo")); })
                              << QVariant(QStringLiteral("Filial São Paulo"));
        QTest::newRow("double") << ok([](QCborStreamWriter &w) { w.append(1.25); }) << QVariant(1.25);
        QTest::newRow("integer becomes double") << ok([](QCborStreamWriter &w) { w.append(qint64(-7)); }) << QVariant(-7.0);
        QTest::newRow("half float") << ok([](QCborStreamWriter &w) { w.append(qfloat16(0.5f)); }) << QVariant(0.5);
        QTest::newRow("nested list") << ok([](QCborStreamWriter &w) {
            w.startArray();   // indefinite, as a streaming writer may send it
            w.append(qint64(1)); w.append(QLatin1String("a")); w.appendNull();
            w.startArray(1); w.append(2.5); w.endArray();
            w.endArray();
        }) << QVariant(QVariantList{1.0, QStringLiteral("a"), QVariant(), QVariantList{2.5}});
        QTest::newRow("failure signalled by the module")
            << std::function<QByteArray(qint64)>([](qint64 id) { return FakeAppServer::cborFailure(id, QStringLiteral("Lista de clientes inválida.")); })
            << QVariant();
    }

    void scalarAndListPayloadsComeBackAsVariants()
    {
        QFETCH(std::function<QByteArray(qint64)>, answer);
        QFETCH(QVariant, expected);
        server->setAnswer([answer](const FakeAppServer::Received &r) { return answer(r.id()); });
        const QVariant result = call(QStringLiteral("GetPedido"));
        if (QByteArray(QTest::currentDataTag()) == "failure signalled by the module") {
            QCOMPARE(result.toMap().keys(), (QStringList{QStringLiteral("message"), QStringLiteral("ok")}));
            QCOMPARE(RemoteResult::isOk(result), false);
            QCOMPARE(RemoteResult::message(result), QStringLiteral("Lista de clientes inválida."));
            return;
        }
        QCOMPARE(result.toMap().keys(), (QStringList{QStringLiteral("ok"), QStringLiteral("payload")}));
        QVERIFY(RemoteResult::isOk(result));
        QCOMPARE(RemoteResult::payload(result), expected);
    }

    void packetsComeBackWhole_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::newRow("cbor") << int(TNetConnection::Encoding::Cbor);
        QTest::newRow("json") << int(TNetConnection::Encoding::Json);
    }

    void packetsComeBackWhole()
    {
        QFETCH(int, encoding);
        net->setEncoding(TNetConnection::Encoding(encoding));
        const DataPacket orders = TestPackets::orders();
        const DataPacket items = TestPackets::items();
        server->setAnswer([&](const FakeAppServer::Received &r) {
            return okIn(r, QJsonArray{orders.toJson(), items.toJson()}, [&](QCborStreamWriter &w) {
                w.startArray(2);
                orders.writeCbor(w);
                items.writeCbor(w);
                w.endArray();
            });
        });

        const QVariantList payload = RemoteResult::payload(call(QStringLiteral("GetPedido"))).toList();
        QCOMPARE(payload.size(), 2);
        QVERIFY(payload[0].canConvert<DataPacket>());
        QCOMPARE(TestPackets::rowsOf(payload[0].value<DataPacket>()), TestPackets::rowsOf(orders));
        QCOMPARE(TestPackets::rowsOf(payload[1].value<DataPacket>()), TestPackets::rowsOf(items));

        // A single packet as the whole payload (GetNrPedido, getFilial).
        server->setAnswer([&](const FakeAppServer::Received &r) {
            return okIn(r, items.toJson(), [&](QCborStreamWriter &w) { items.writeCbor(w); });
        });
        QCOMPARE(TestPackets::rowsOf(RemoteResult::payload(call(QStringLiteral("GetNrPedido"))).value<DataPacket>()), TestPackets::rowsOf(items));
    }

    void callErrorsThrowTheServersMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown method") << 200 << QByteArray("application/cbor")
            << FakeAppServer::cborError(1, -32601, QStringLiteral("Método desconhecido: OPD31000.rdmDescEmiPed.GetPedidos"))
            << QStringLiteral("Erro do servidor de aplicação (-32601): Método desconhecido: OPD31000.rdmDescEmiPed.GetPedidos");
        QTest::newRow("parse error without id") << 400 << QByteArray("application/cbor")
            << FakeAppServer::cborError(-1, -32700, QStringLiteral("CBOR malformado."))
            << QStringLiteral("Erro do servidor de aplicação (-32700): CBOR malformado.");
        QTest::newRow("unauthorized in json") << 401 << QByteArray("application/json")
            << QByteArray(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32001,"message":"Não autorizado."}})")
            << QStringLiteral("Erro do servidor de aplicação (-32001): Não autorizado.");
        QTest::newRow("plain text failure") << 500 << QByteArray("text/plain") << QByteArray("boom")
            << QStringLiteral("Resposta inesperada do servidor de aplicação (HTTP 500, tipo \"text/plain\").");
        QTest::newRow("ok answer under an error status") << 500 << QByteArray("application/cbor")
            << FakeAppServer::cborOk(1, [](QCborStreamWriter &w) { w.appendNull(); })
            << QStringLiteral("Resposta inesperada do servidor de aplicação (HTTP 500).");
        QTest::newRow("error answering another request") << 200 << QByteArray("application/cbor")
            << FakeAppServer::cborError(99, -32603, QStringLiteral("Erro interno."))
            << QStringLiteral("Resposta inválida do servidor de aplicação: identificador 99 em vez de 1.");
    }

    void callErrorsThrowTheServersMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        server->setRawRpc([=](const httplib::Request &, httplib::Response &res) {
            res.status = status;
            res.set_content(body.toStdString(), contentType.toStdString());
        });
        QCOMPARE(callError(), expected);   // the first call of a connection has id 1
    }

    void truncatedAnswersAreRefusedAtEveryCut()
    {
        const DataPacket orders = TestPackets::orders();
        const DataPacket items = TestPackets::items();
        QByteArray full;
        server->setAnswer([&](const FakeAppServer::Received &r) {
            full = okWith(r.id(), [&](QCborStreamWriter &w) {
                w.startArray(2); orders.writeCbor(w); items.writeCbor(w); w.endArray();
            });
            return full;
        });
        call(QStringLiteral("GetPedido"));
        QVERIFY(full.size() > 100);

        // Every prefix, including the empty body, sent as a complete HTTP body.
        int cut = 0;
        server->setAnswer([&](const FakeAppServer::Received &r) {
            return okWith(r.id(), [&](QCborStreamWriter &w) {
                w.startArray(2); orders.writeCbor(w); items.writeCbor(w); w.endArray();
            }).left(cut);
        });
        for (cut = 0; cut < full.size(); ++cut) {
            const QString expected = QStringLiteral("Resposta incompleta do servidor de aplicação (%1 bytes recebidos).").arg(cut);
            QCOMPARE(callError(), expected);
        }

        // The connection stays usable after all of them.
        server->setAnswer([&](const FakeAppServer::Received &r) {
            return okWith(r.id(), [&](QCborStreamWriter &w) { items.writeCbor(w); });
        });
        QCOMPARE(TestPackets::rowsOf(RemoteResult::payload(call(QStringLiteral("GetNrPedido"))).value<DataPacket>()), TestPackets::rowsOf(items));
    }

    void answerCutByADroppedConnectionIsRefused()
    {
        const DataPacket items = TestPackets::items();
        const QByteArray full = okWith(1, [&](QCborStreamWriter &w) { items.writeCbor(w); });
        for (const int cut : {1, int(full.size()) / 2, int(full.size()) - 1}) {
            server->setRawRpc([=](const httplib::Request &, httplib::Response &res) {
                res.set_chunked_content_provider("application/cbor", [=](size_t offset, httplib::DataSink &sink) {
                    if (offset == 0) {
                        sink.write(full.constData(), size_t(cut));
                        return true;
                    }
                    return false;   // drops the connection mid-answer
                });
            });
            const QString error = callError();
            QVERIFY2(error.startsWith(QStringLiteral("Resposta incompleta do servidor de aplicação")), qPrintable(error));
        }
    }

    void brokenConnectionIsRetriedOnlyWhenSafe_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("expectation");
        QTest::addColumn<QString>("how");       // drop, 502, 503, cut
        QTest::addColumn<int>("failures");      // how many requests fail that way first
        QTest::addColumn<int>("sends");
        QTest::addColumn<bool>("ok");
        QTest::newRow("read, dropped") << "GetPedido" << false << "drop" << 1 << 2 << true;
        QTest::newRow("read, balancer 502") << "getFilial" << false << "502" << 1 << 2 << true;
        QTest::newRow("history read, dropped") << "GetHistorico" << false << "drop" << 1 << 2 << true;
        QTest::newRow("read, dropped twice: one error") << "GetNrPedido" << false << "drop" << 2 << 2 << false;
        QTest::newRow("read, cut after answer bytes") << "GetPedido" << false << "cut" << 1 << 1 << false;
        QTest::newRow("write, dropped") << "SetDescEmi" << false << "drop" << 1 << 1 << false;
        QTest::newRow("write, balancer 502") << "SetDtEntregaPed" << false << "502" << 1 << 1 << false;
        QTest::newRow("write, balancer had no server") << "SetDescEmi" << false << "503" << 1 << 2 << true;
        QTest::newRow("write with expectation, dropped") << "SetDescEmi" << true << "drop" << 1 << 2 << true;
        QTest::newRow("name differs in case: a write") << "getpedido" << false << "drop" << 1 << 1 << false;
    }

    void brokenConnectionIsRetriedOnlyWhenSafe()
    {
        QFETCH(QString, method);
        QFETCH(bool, expectation);
        QFETCH(QString, how);
        QFETCH(int, failures);
        QFETCH(int, sends);
        QFETCH(bool, ok);
        auto count = std::make_shared<std::atomic<int>>(0);
        FakeAppServer *fake = server.get();
        server->setRawRpc([=](const httplib::Request &req, httplib::Response &res) {
            const qint64 id = QCborValue::fromCbor(QByteArray::fromStdString(req.body)).toMap()
                                  .value(QLatin1String("id")).toInteger();
            const QByteArray good = okWith(id, [](QCborStreamWriter &w) { w.append(QLatin1String("feito")); });
            if (count->fetch_add(1) >= failures) {
                res.set_content(good.toStdString(), "application/cbor");
            } else if (how == QLatin1String("drop")) {
                fake->dropConnection(req);
            } else if (how == QLatin1String("cut")) {
                res.set_chunked_content_provider("application/cbor", [=](size_t offset, httplib::DataSink &sink) {
                    if (offset == 0)
                        return sink.write(good.constData(), 5);
                    return false;
                });
            } else {
                res.status = how.toInt();
                res.set_content("<html><body>balancer</body></html>", "text/html");
            }
        });
        QString error;
        QVariant result;
        try {
            result = net->invoke(method, {}, expectation ? std::optional<QVariant>(QStringLiteral("antes")) : std::nullopt);
        } catch (const opd::RemoteCallError &e) {
            error = e.message();
        }
        QCOMPARE(server->received().size(), sends);
        QCOMPARE(error.isEmpty(), ok);
        if (ok)
            QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
        // Whatever happened, the connection serves the next call.
        server->setAnswer({});
        QVERIFY(RemoteResult::isOk(call(QStringLiteral("SetDescEmi"))));
    }

    void malformedAnswersAreRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        auto cbor = [](const QCborValue &v) { return v.toCbor(); };
        const QString prefix = QStringLiteral("Resposta inválida do servidor de aplicação: %1.");
        const QByteArray good = FakeAppServer::cborOk(1, [](QCborStreamWriter &w) { w.appendNull(); });

        QTest::newRow("break at the start") << QByteArray("\xff\xff\xff") << prefix.arg(QStringLiteral("marca de fim fora de lugar"));
        QTest::newRow("reserved head") << QByteArray("\x1c") << prefix.arg(QStringLiteral("cabeçalho CBOR malformado"));
        QTest::newRow("not a map") << cbor(QCborArray{1, 2}) << prefix.arg(QStringLiteral("a resposta não é um objeto"));
        QTest::newRow("bytes after the answer") << good + QByteArray(1, '\0') << prefix.arg(QStringLiteral("dados após o fim da resposta"));
        QTest::newRow("second answer after the first") << good + good << prefix.arg(QStringLiteral("dados após o fim da resposta"));
        QTest::newRow("number as key") << cbor(QCborMap{{1, QStringLiteral("x")}}) << prefix.arg(QStringLiteral("chave de mapa que não é texto"));
        QTest::newRow("invalid utf-8") << QByteArray("\xa1\x67" "jsonrpc" "\x62\xc3\x28", 12) << prefix.arg(QStringLiteral("texto com UTF-8 inválido"));
        QTest::newRow("duplicate key") << QByteArray("\xa2\x61x\x01\x61x\x02", 7) << prefix.arg(QStringLiteral("chave \"x\" repetida"));
        QTest::newRow("absurd text length") << QByteArray("\x7b\x7f\xff\xff\xff\xff\xff\xff\xff", 9) << prefix.arg(QStringLiteral("texto grande demais"));
        QTest::newRow("deep nesting") << QByteArray(200, '\x81') << prefix.arg(QStringLiteral("aninhamento profundo demais"));
        QTest::newRow("unknown simple value") << QByteArray("\xf0") << prefix.arg(QStringLiteral("valor simples desconhecido"));
        QTest::newRow("wrong protocol version")
            << cbor(QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("1.0")}, {QStringLiteral("id"), 1}, {QStringLiteral("result"), QCborMap{}}})
            << prefix.arg(QStringLiteral("versão do protocolo ausente ou diferente de 2.0"));
        QTest::newRow("result and error")
            << cbor(QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), 1},
                             {QStringLiteral("result"), QCborMap{}}, {QStringLiteral("error"), QCborMap{}}})
            << prefix.arg(QStringLiteral("deve haver exatamente um de \"result\" e \"error\""));
        QTest::newRow("ok missing")
            << cbor(QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), 1},
                             {QStringLiteral("result"), QCborMap{{QStringLiteral("payload"), QCborValue::Null}}}})
            << prefix.arg(QStringLiteral("\"ok\" ausente ou não booleano"));
        QTest::newRow("ok without payload")
            << cbor(QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), 1},
                             {QStringLiteral("result"), QCborMap{{QStringLiteral("ok"), true}}}})
            << prefix.arg(QStringLiteral("resultado sem \"payload\""));
        QTest::newRow("failure without message")
            << cbor(QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), 1},
                             {QStringLiteral("result"), QCborMap{{QStringLiteral("ok"), false}}}})
            << prefix.arg(QStringLiteral("falha sem mensagem"));
        QTest::newRow("boolean payload") << FakeAppServer::cborOk(1, [](QCborStreamWriter &w) { w.append(true); })
            << prefix.arg(QStringLiteral("valor de tipo não suportado no resultado (bool)"));
        QTest::newRow("wrong id") << FakeAppServer::cborOk(2, [](QCborStreamWriter &w) { w.appendNull(); })
            << prefix.arg(QStringLiteral("identificador 2 em vez de 1"));
        QTest::newRow("null id on a result") << FakeAppServer::cborOk(-1, [](QCborStreamWriter &w) { w.appendNull(); })
            << prefix.arg(QStringLiteral("identificador nulo em vez de 1"));
    }

    void malformedAnswersAreRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        server->setAnswer([=](const FakeAppServer::Received &) { return body; });
        QCOMPARE(callError(), expected);
    }

    void malformedPacketIsRefusedWhole()
    {
        // Right envelope, but the packet's count disagrees with its rows.
        const DataPacket items = TestPackets::items();
        QByteArray packet = items.toCbor();
        QCOMPARE(packet.at(packet.size() - 1), char(0x03));   // "count": 3, last byte
        packet[packet.size() - 1] = 0x02;
        server->setAnswer([=](const FakeAppServer::Received &r) {
            return okWith(r.id(), [&](QCborStreamWriter &w) {
                w.startArray();   // indefinite: the writer does not see the raw packet
                w.append(QLatin1String("x"));
                w.device()->write(packet);
                w.endArray();
            });
        });
        const QString error = callError();
        QVERIFY2(error.startsWith(QStringLiteral("Resposta inválida do servidor de aplicação: pacote de dados inválido (")),
                 qPrintable(error));
    }

    void randomBytesNeverPassForAnAnswer()
    {
        QRandomGenerator rng(31000);
        for (int round = 0; round < 200; ++round) {
            QByteArray body(int(rng.bounded(1, 64)), Qt::Uninitialized);
            for (char &c : body)
                c = char(rng.bounded(256));
            server->setAnswer([=](const FakeAppServer::Received &) { return body; });
            const QString error = callError();
            QVERIFY2(error.startsWith(QStringLiteral("Resposta inválida do servidor de aplicação"))
                         || error.startsWith(QStringLiteral("Resposta incompleta do servidor de aplicação")),
                     qPrintable(body.toHex() + " -> " + error));
        }
    }

    void malformedJsonAnswersAreRefused()
    {
        net->setEncoding(TNetConnection::Encoding::Json);
        server->setAnswer([](const FakeAppServer::Received &) { return QByteArray(R"({"jsonrpc":"2.0","id":1,"result":{"ok":tr)"); });
        QVERIFY2(callError().startsWith(QStringLiteral("Resposta inválida do servidor de aplicação: JSON malformado")), qPrintable(callError()));

        server->setAnswer([](const FakeAppServer::Received &r) {
            return jsonAnswer({{"jsonrpc", "2.0"}, {"id", r.id()},
                               {"result", QJsonObject{{"ok", true}, {"payload", QJsonObject{{"format", "outro"}}}}}});
        });
        QVERIFY2(callError().startsWith(QStringLiteral("Resposta inválida do servidor de aplicação: pacote de dados inválido (")),
                 qPrintable(callError()));
    }
};

QTEST_GUILESS_MAIN(TestRemoteCall)
#include "tst_RemoteCall.moc"
