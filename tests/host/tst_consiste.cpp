// The check and error routines and the keyed message lookup.
#include "host/Consiste.h"
#include "host/TMessages.h"
#include "platform/ClientDataSet.h"
#include "platform/Dates.h"

#include <QTest>

namespace {

// Records what MensErro and CheckResultServ would show.
struct SinkRecorder
{
    QStringList shown;
    Consiste::MessageSink previous;
    SinkRecorder()
    {
        previous = Consiste::setMessageSink([this](const QString &t) { shown << t; });
    }
    ~SinkRecorder() { Consiste::setMessageSink(previous); }
};

} // namespace

namespace {

struct DateRow
{
    opd::ClientDataSet ds;
    opd::Field *field;
    DateRow()
    {
        opd::FieldDef def;
        def.name = "DTENTPED";
        def.type = opd::FieldType::DateTime;
        field = ds.addField(def);
        opd::DataPacket packet(QList<opd::FieldDef>{def});
        packet.appendNumber(45400);
        packet.endRow();
        ds.setData(packet);
        ds.edit();
    }
};

} // namespace

class TstConsiste : public QObject
{
    Q_OBJECT
private slots:
    void ajustaPadsDigitsToWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short") << "123" << "0000000123";
        QTest::newRow("full width") << "1234567890" << "1234567890";
        QTest::newRow("blanks around") << "  42 " << "0000000042";
        QTest::newRow("mask blanks inside") << "12 3" << "0000000123";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("only blanks") << "          " << "";
        QTest::newRow("too wide is not cut") << "12345678901" << "12345678901";
        QTest::newRow("letters dropped") << "A1B2" << "0000000012";
    }

    void ajustaPadsDigitsToWidth()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Consiste::Ajusta(text, 10), expected);
    }

    void emptyStringSeesOnlyBlanksAsEmpty()
    {
        QVERIFY(Consiste::EmptyString(QString()));
        QVERIFY(Consiste::EmptyString(QStringLiteral("   \t")));
        QVERIFY(!Consiste::EmptyString(QStringLiteral(" 0001")));
        QVERIFY(!Consiste::EmptyString(QStringLiteral("'A'")));
        QCOMPARE(Consiste::AllTrim(QStringLiteral("  01 a  ")), QStringLiteral("01 a"));
    }

    void mensErroShowsThenAborts()
    {
        SinkRecorder sink;
        try {
            Consiste::MensErro(QStringLiteral("Filial não cadastrada."), true);
            QFAIL("MensErro returned");
        } catch (const opd::Abort &abort) {
            QCOMPARE(abort.shownText(), QStringLiteral("Filial não cadastrada."));
        }
        QCOMPARE(sink.shown, QStringList{QStringLiteral("Filial não cadastrada.")});
    }

    void checkResultServReturnsPayloadOnSuccess()
    {
        SinkRecorder sink;
        const QVariantMap ok{{"ok", true}, {"payload", QStringLiteral("x")}};
        QCOMPARE(Consiste::CheckResultServ(ok, true, 0), QVariant(QStringLiteral("x")));
        QVERIFY(sink.shown.isEmpty());
    }

    // Each shows exactly one message and aborts; an empty `message` stands
    // for "some text": a failure without one must never show nothing.
    void checkResultServShowsOneMessageAndAborts_data()
    {
        QTest::addColumn<QVariant>("result");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Resposta inválida do servidor.");
        QTest::newRow("server's message") << QVariant(QVariantMap{{"ok", false}, {"message", QStringLiteral("Pedido bloqueado.")}})
                                          << QStringLiteral("Pedido bloqueado.");
        QTest::newRow("failure without message") << QVariant(QVariantMap{{"ok", false}}) << QString();
        QTest::newRow("invalid") << QVariant() << invalid;
        QTest::newRow("text") << QVariant(QStringLiteral("ok")) << invalid;
        QTest::newRow("map without ok") << QVariant(QVariantMap{{"payload", 1}}) << invalid;
        QTest::newRow("ok as text") << QVariant(QVariantMap{{"ok", QStringLiteral("true")}, {"payload", 1}}) << invalid;
        QTest::newRow("ok as number") << QVariant(QVariantMap{{"ok", 1}, {"payload", 1}}) << invalid;
    }

    void checkResultServShowsOneMessageAndAborts()
    {
        QFETCH(QVariant, result);
        QFETCH(QString, message);
        SinkRecorder sink;
        QVERIFY_THROWS_EXCEPTION(opd::Abort, Consiste::CheckResultServ(result, true, 0));
        QCOMPARE(sink.shown.size(), 1);
        if (message.isEmpty())
            QVERIFY(!sink.shown.first().isEmpty());
        else
            QCOMPARE(sink.shown.first(), message);
    }

    // A refused text leaves the field's earlier value; a blank one empties it.
    void checkDateTimeStoresRefusesOrEmpties_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QDate>("stored");   // null: the field emptied
        QTest::newRow("valid") << "10/05/2024" << false << QDate(2024, 5, 10);
        QTest::newRow("empty") << "" << false << QDate();
        QTest::newRow("mask with blanks") << "  /  /    " << false << QDate();
        QTest::newRow("mask with underscores") << "__/__/____" << false << QDate();
        QTest::newRow("31 February") << "31/02/2024" << true << QDate();
        QTest::newRow("half typed") << "12/05/____" << true << QDate();
        QTest::newRow("epoch") << "30/12/1899" << true << QDate();
        QTest::newRow("letters") << "ab/cd/efgh" << true << QDate();
    }

    void checkDateTimeStoresRefusesOrEmpties()
    {
        QFETCH(QString, text);
        QFETCH(bool, refused);
        QFETCH(QDate, stored);
        DateRow row;
        SinkRecorder sink;
        if (refused) {
            QVERIFY_THROWS_EXCEPTION(opd::Abort, Consiste::CheckDateTime(row.field, text));
            QCOMPARE(sink.shown, QStringList{QStringLiteral("'%1' não é uma data válida.").arg(text)});
            QCOMPARE(row.field->asDateTime(), 45400.0);
            return;
        }
        Consiste::CheckDateTime(row.field, text);
        QVERIFY(sink.shown.isEmpty());
        if (stored.isValid())
            QCOMPARE(row.field->asDateTime(), opd::toDayCount(stored));
        else
            QVERIFY(row.field->isNull());
    }

    void messageLookupPrefersExactKey()
    {
        TMessages msg;
        msg.setEntries({QStringLiteral("PROD|Não há produto cadastrado."),
                        QStringLiteral("DTINI>DTFIN_PEDIDO|Data pedido inicial deve ser menor ou igual à data pedido final."),
                        QStringLiteral("SISTEMA|Sistema"),
                        QStringLiteral("Prod_Empty|Não existem Produtos de Compra para este Produto de Estoque."),
                        QStringLiteral("prod|minúsculo"),
                        QStringLiteral("SISTEMA|Sistema 2"),
                        QStringLiteral("URL|http://a|b")});
        QCOMPARE(msg.Msg(QStringLiteral("DTINI>DTFIN_PEDIDO")),
                 QStringLiteral("Data pedido inicial deve ser menor ou igual à data pedido final."));
        QCOMPARE(msg.Msg(QStringLiteral("prod")), QStringLiteral("minúsculo"));
        QCOMPARE(msg.Msg(QStringLiteral("SISTEMA")), QStringLiteral("Sistema"));
        QCOMPARE(msg.Msg(QStringLiteral("URL")), QStringLiteral("http://a|b"));
        QCOMPARE(msg.Msg(QStringLiteral("DTINI")), QStringLiteral("DTINI"));
    }

    void messageLookupWithoutExactKeyTakesTheWordWrittenOut_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        // The shape of the screen's own table: short codes for error texts,
        // whole words for titles, suffixed keys for other texts.
        QTest::newRow("abbreviation to the whole word") << "Prod" << "Produto";
        QTest::newRow("caseless whole word") << "cliente" << "Cliente";
        QTest::newRow("longest word, not the code") << "vend" << "Vendedor";
        QTest::newRow("exact code kept") << "PROD" << "Não há produto cadastrado.";
        QTest::newRow("exact suffixed key kept") << "Prod_Empty" << "Não existem Produtos de Compra para este Produto de Estoque.";
        QTest::newRow("suffixed key is not the word") << "Pro" << "Produto";
        QTest::newRow("only a suffixed key: none") << "PRODUTOS" << "PRODUTOS";
        QTest::newRow("no entry: the key") << "Nada" << "Nada";
        QTest::newRow("empty key: itself") << "" << "";
    }

    void messageLookupWithoutExactKeyTakesTheWordWrittenOut()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        TMessages msg;
        msg.setEntries({QStringLiteral("CLIENTE|Cliente"), QStringLiteral("VENDEDOR|Vendedor"),
                        QStringLiteral("PRODUTO|Produto"), QStringLiteral("CLIE|Não há cliente cadastrado."),
                        QStringLiteral("PROD|Não há produto cadastrado."), QStringLiteral("VEND|Não há vendedor cadastrado."),
                        QStringLiteral("Prod_Empty|Não existem Produtos de Compra para este Produto de Estoque."),
                        QStringLiteral("PRODUTOS_X|outro")});
        QCOMPARE(msg.Msg(key), text);
        msg.setEntries({});
        QCOMPARE(msg.Msg(key), key);
    }
};

QTEST_MAIN(TstConsiste)
#include "tst_consiste.moc"
