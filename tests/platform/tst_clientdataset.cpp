// Client data sets: states and their events, the cursor, the filter and its index.

#include "platform/ClientDataSet.h"
#include "platform/DataSource.h"
#include "platform/Exceptions.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace opd;
using State = ClientDataSet::State;

namespace {

// Items of orders: order i has `perOrder` items.
DataPacket items(int orders, int perOrder = 3)
{
    DataPacket p({{"NRPEDIDO", FieldType::String, 10},
                  {"NRITEMPED", FieldType::String, 10},
                  {"QTITEMPED", FieldType::Float, 8},
                  {"DSEMISSAOITPED", FieldType::String, 400}});
    for (int o = 1; o <= orders; ++o) {
        for (int i = 1; i <= perOrder; ++i) {
            p.appendText(QByteArray::number(o));
            p.appendText(QByteArray::number(i));
            p.appendNumber(o * 10 + i);
            p.appendText("item " + QByteArray::number(o) + "/" + QByteArray::number(i));
            p.endRow();
        }
    }
    return p;
}

// Column `field` of the visible rows, walked with the cursor.
QStringList column(ClientDataSet &ds, const char *field)
{
    QStringList out;
    for (ds.first(); !ds.eof(); ds.next())
        out << ds.fieldByName(field)->asString();
    return out;
}

// Records every event into one list, so a whole sequence is one comparison.
struct Recorder
{
    QStringList log;
    void attach(ClientDataSet &ds)
    {
        auto rec = [this](const char *name) { return [this, name](ClientDataSet &) { log << name; }; };
        ds.beforeInsert = rec("beforeInsert"); ds.afterInsert = rec("afterInsert");
        ds.beforePost = rec("beforePost"); ds.afterPost = rec("afterPost");
        ds.beforeCancel = rec("beforeCancel"); ds.afterCancel = rec("afterCancel");
        ds.beforeDelete = rec("beforeDelete"); ds.afterDelete = rec("afterDelete");
        ds.beforeScroll = rec("beforeScroll"); ds.afterScroll = rec("afterScroll");
        QObject::connect(&ds, &ClientDataSet::stateChanged, &ds, [this](State s) {
            log << QStringLiteral("state:%1").arg(QMetaEnum::fromType<State>().valueToKey(int(s)));
        });
    }
};

} // namespace

class TestClientDataSet : public QObject
{
    Q_OBJECT
private slots:
    void setDataOpensOnTheFirstRowAndAnnouncesTheStateOnce()
    {
        ClientDataSet ds;
        QSignalSpy states(&ds, &ClientDataSet::stateChanged);
        ds.setData(items(2));
        QCOMPARE(ds.state(), State::Browse);
        QCOMPARE(states.count(), 1);
        QCOMPARE(ds.recNo(), 0);
        QCOMPARE(ds.recordCount(), 6);
        QVERIFY(ds.bof());
        ds.setData(items(1));   // browse to browse: no state change
        QCOMPARE(states.count(), 1);
        QCOMPARE(ds.recordCount(), 3);
    }

    void setDataRefusesAPacketThatLacksADeclaredFieldAndChangesNothing()
    {
        ClientDataSet ds;
        ds.addField({"NRPEDIDO", FieldType::String, 10});
        ds.addField({"QTITEMPED", FieldType::Float, 8});
        ds.setData(items(1));
        ds.next();
        DataPacket wrongType({{"NRPEDIDO", FieldType::String, 10}, {"QTITEMPED", FieldType::String, 8}});
        DataPacket missing({{"NRPEDIDO", FieldType::String, 10}});
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.setData(wrongType));
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.setData(missing));
        QCOMPARE(ds.recordCount(), 3);
        QCOMPARE(ds.recNo(), 1);
        QCOMPARE(ds.fieldByName("QTITEMPED")->asFloat(), 12.0);
    }

    void illegalTransitionsThrowAndLeaveTheStateAlone()
    {
        ClientDataSet ds;
        ds.addField({"A", FieldType::String, 5});
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.edit());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.insert());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.next());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.post());
        QCOMPARE(ds.state(), State::Inactive);
        ds.open();
        QCOMPARE(ds.state(), State::Browse);
        QVERIFY(ds.isEmpty());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.post());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.remove());
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.fieldByName("A")->setAsString("x"));   // not editing
        QCOMPARE(ds.state(), State::Browse);
        ds.edit();   // an empty data set inserts instead
        QCOMPARE(ds.state(), State::Insert);
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.fieldByName("A")->setAsString("toolong"));
        QVERIFY(ds.fieldByName("A")->isNull());
    }

    void editPostCancelFireTheirEventsInOrder()
    {
        ClientDataSet ds;
        ds.setData(items(2));
        Recorder r;
        r.attach(ds);
        ds.edit();
        ds.fieldByName("DSEMISSAOITPED")->setAsString("novo");
        ds.post();
        ds.edit();
        ds.cancel();
        ds.append();
        ds.cancel();
        ds.remove();
        QCOMPARE(r.log, QStringList({
            "state:Edit", "beforePost", "state:Browse", "afterPost",
            "state:Edit", "beforeCancel", "state:Browse", "afterCancel",
            "beforeInsert", "beforeScroll", "state:Insert", "afterInsert", "afterScroll",
            "beforeCancel", "state:Browse", "afterCancel",
            "beforeDelete", "beforeScroll", "afterDelete", "afterScroll"}));
        QCOMPARE(column(ds, "DSEMISSAOITPED").first(), "item 1/2");   // the posted row was deleted
        QCOMPARE(ds.recordCount(), 5);
    }

    void anAbortInABeforeEventLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("event");
        for (const char *e : {"beforePost", "beforeCancel", "beforeInsert", "beforeDelete", "beforeScroll"})
            QTest::newRow(e) << QString::fromLatin1(e);
    }
    void anAbortInABeforeEventLeavesEverythingAsItWas()
    {
        QFETCH(QString, event);
        ClientDataSet ds;
        ds.setData(items(2));
        ds.next();
        auto refuse = [](ClientDataSet &) { abortSilently(); };
        const bool needsEdit = event == "beforePost" || event == "beforeCancel";
        if (needsEdit) {
            ds.edit();
            ds.fieldByName("DSEMISSAOITPED")->setAsString("digitado");
        }
        if (event == "beforePost") ds.beforePost = refuse;
        if (event == "beforeCancel") ds.beforeCancel = refuse;
        if (event == "beforeInsert") ds.beforeInsert = refuse;
        if (event == "beforeDelete") ds.beforeDelete = refuse;
        if (event == "beforeScroll") ds.beforeScroll = refuse;
        QSignalSpy states(&ds, &ClientDataSet::stateChanged);
        const State before = ds.state();

        if (event == "beforePost") QVERIFY_THROWS_EXCEPTION(Abort, ds.post());
        if (event == "beforeCancel") QVERIFY_THROWS_EXCEPTION(Abort, ds.cancel());
        if (event == "beforeInsert") {
            QVERIFY_THROWS_EXCEPTION(Abort, ds.insert());
            QVERIFY_THROWS_EXCEPTION(Abort, ds.append());
        }
        if (event == "beforeDelete") QVERIFY_THROWS_EXCEPTION(Abort, ds.remove());
        if (event == "beforeScroll") QVERIFY_THROWS_EXCEPTION(Abort, ds.next());

        QCOMPARE(ds.state(), before);
        QCOMPARE(states.count(), 0);
        QCOMPARE(ds.recNo(), 1);
        QCOMPARE(ds.recordCount(), 6);
        QCOMPARE(ds.fieldByName("DSEMISSAOITPED")->asString(), needsEdit ? "digitado" : "item 1/2");
    }

    void aFailingAfterPostLeavesTheRowPosted()
    {
        ClientDataSet ds;
        ds.setData(items(1));
        ds.afterPost = [](ClientDataSet &) { throw std::runtime_error("servidor fora"); };
        ds.edit();
        ds.fieldByName("DSEMISSAOITPED")->setAsString("gravado");
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, ds.post());
        QCOMPARE(ds.state(), State::Browse);
        QCOMPARE(ds.fieldByName("DSEMISSAOITPED")->asString(), "gravado");
    }

    void movingWhileEditingPostsFirstAndAFailedPostBlocksTheMove()
    {
        ClientDataSet ds;
        ds.setData(items(1));
        ds.edit();
        ds.fieldByName("DSEMISSAOITPED")->setAsString("um");
        ds.next();
        QCOMPARE(ds.state(), State::Browse);
        QCOMPARE(ds.recNo(), 1);
        QCOMPARE(column(ds, "DSEMISSAOITPED").first(), "um");

        ds.setRecNo(1);
        ds.beforePost = [](ClientDataSet &) { throw DataSetError("data inválida"); };
        ds.edit();
        ds.fieldByName("DSEMISSAOITPED")->setAsString("dois");
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.setRecNo(2));
        QCOMPARE(ds.recNo(), 1);
        QCOMPARE(ds.state(), State::Edit);
        ds.cancel();
        QCOMPARE(ds.fieldByName("DSEMISSAOITPED")->asString(), "item 1/2");
    }

    void onChangeThatThrowsRestoresTheValue()
    {
        ClientDataSet ds;
        ds.setData(items(1));
        Field *f = ds.fieldByName("DSEMISSAOITPED");
        int calls = 0;
        f->onChange = [&](Field &) { if (++calls == 2) throw Abort(); };
        ds.edit();
        f->setAsString("primeiro");
        QVERIFY_THROWS_EXCEPTION(Abort, f->setAsString("segundo"));
        QCOMPARE(f->asString(), "primeiro");
    }

    void requiredFieldsAndReadOnlyFieldsAreEnforced()
    {
        ClientDataSet ds;
        ds.addField({"NRPEDIDO", FieldType::String, 10, {}, true});
        ds.addField({"DSEMISSAOITPED", FieldType::String, 400, "Descrição", false, false, true});
        ds.setData(items(1));
        ds.edit();
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.fieldByName("NRPEDIDO")->setAsString("9"));
        ds.fieldByName("DSEMISSAOITPED")->clear();
        QVERIFY_THROWS_EXCEPTION(DataSetError, ds.post());
        QCOMPARE(ds.state(), State::Edit);
    }

    void insertPutsTheRowBeforeTheCurrentAndAppendAtTheEnd()
    {
        ClientDataSet ds;
        ds.setData(items(1));
        QSignalSpy inserted(&ds, &ClientDataSet::rowInserted);
        ds.next();
        ds.insert();
        ds.fieldByName("NRITEMPED")->setAsString("x");
        ds.append();   // posts the insert first
        ds.fieldByName("NRITEMPED")->setAsString("z");
        ds.post();
        QCOMPARE(column(ds, "NRITEMPED"), QStringList({"1", "x", "2", "3", "z"}));
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(0).at(0).toInt(), 1);
        QCOMPARE(inserted.at(1).at(0).toInt(), 4);
        // data() carries the rows in order, edits applied.
        const DataPacket out = ds.data();
        QCOMPARE(out.rowCount(), 5);
        QCOMPARE(out.text(1, 1), QByteArrayView("x"));
    }

    void filterShowsOnlyMatchingRowsAndCanBeSwitchedOff()
    {
        ClientDataSet ds;
        ds.addIndex("NRPEDIDO");
        ds.setData(items(3));
        ds.setFilter("NRPEDIDO = '2'");
        QCOMPARE(ds.recordCount(), 9);   // not on yet
        ds.setFiltered(true);
        QCOMPARE(ds.recordCount(), 3);
        QCOMPARE(column(ds, "DSEMISSAOITPED"), QStringList({"item 2/1", "item 2/2", "item 2/3"}));
        ds.setFilter("NRPEDIDO = '7'");
        QVERIFY(ds.isEmpty());
        QCOMPARE(ds.recNo(), -1);
        QVERIFY(ds.eof() && ds.bof());
        ds.setFiltered(false);
        QCOMPARE(ds.recordCount(), 9);
    }

    void filterTextWithDoubledQuotesMatchesAQuoteAndBadExpressionsAreRefused()
    {
        ClientDataSet ds;
        DataPacket p({{"NMPRODUTO", FieldType::String, 20}});
        for (const char *name : {"D'Agua", "D", "Agua"}) {
            p.appendText(name);
            p.endRow();
        }
        ds.setData(p);
        ds.setFiltered(true);
        ds.setFilter("NMPRODUTO = 'D''Agua'");
        QCOMPARE(column(ds, "NMPRODUTO"), QStringList({"D'Agua"}));
        for (const char *bad : {"NMPRODUTO = 'D'Agua'", "NMPRODUTO <> 'D'", "NMPRODUTO = D", "NMPRODUTO = 'x' OR 1=1",
                                "NAOEXISTE = 'x'"})
            QVERIFY_THROWS_EXCEPTION(DataSetError, ds.setFilter(bad));
        QCOMPARE(ds.filter(), "NMPRODUTO = 'D''Agua'");
        QCOMPARE(ds.recordCount(), 1);
    }

    void indexFollowsEditsInsertsAndDeletes_data()
    {
        QTest::addColumn<bool>("indexed");
        QTest::newRow("with index") << true;
        QTest::newRow("without index") << false;
    }
    void indexFollowsEditsInsertsAndDeletes()
    {
        QFETCH(bool, indexed);
        ClientDataSet ds;
        if (indexed)
            ds.addIndex("NRPEDIDO");
        ds.setData(items(3));
        // Move item 1/1 to order 3, insert a new order-3 row in the middle, delete 3/2.
        ds.edit();
        ds.fieldByName("NRPEDIDO")->setAsString("3");
        ds.post();
        ds.setRecNo(4);
        ds.insert();
        ds.fieldByName("NRPEDIDO")->setAsString("3");
        ds.fieldByName("NRITEMPED")->setAsString("novo");
        ds.post();
        ds.setFilter("NRPEDIDO = '3'");
        ds.setFiltered(true);
        QCOMPARE(column(ds, "NRITEMPED"), QStringList({"1", "novo", "1", "2", "3"}));
        ds.setRecNo(3);
        ds.remove();
        QCOMPARE(column(ds, "NRITEMPED"), QStringList({"1", "novo", "1", "3"}));
        ds.setFiltered(false);
        ds.setFiltered(true);
        QCOMPARE(column(ds, "NRITEMPED"), QStringList({"1", "novo", "1", "3"}));
        ds.setFilter("NRPEDIDO = '1'");
        QCOMPARE(column(ds, "NRITEMPED"), QStringList({"2", "3"}));
    }

    void indexedFilterAgreesWithAScanAfterRandomEdits()
    {
        // Short and long (over 16 bytes) values, in runs and scattered, so
        // every way the index keeps its rows is exercised.
        const QList<QByteArray> values{"A", "B", "uma chave bem mais longa", "outra chave longa demais", ""};
        DataPacket p({{"K", FieldType::String, 40}, {"N", FieldType::String, 10}});
        QRandomGenerator rng(12345);
        for (int r = 0; r < 400; ++r) {
            p.appendText(r < 100 ? values[r / 25 % 4] : values[rng.bounded(int(values.size()))]);
            p.appendText(QByteArray::number(r));
            p.endRow();
        }
        ClientDataSet indexed, scanned;
        indexed.addIndex("K");
        indexed.setData(p);
        scanned.setData(p);
        for (int step = 0; step < 300; ++step) {
            const int row = int(rng.bounded(indexed.recordCount()));
            const QByteArray value = values[rng.bounded(int(values.size()))];
            const int op = int(rng.bounded(10));
            for (ClientDataSet *ds : {&indexed, &scanned}) {
                ds->setRecNo(row);
                if (op == 0) {
                    ds->remove();
                } else {
                    if (op == 1)
                        ds->insert();
                    else
                        ds->edit();
                    ds->fieldByName("K")->setAsUtf8(value);
                    ds->post();
                }
            }
            if (step % 25 == 0) {
                for (const QByteArray &v : values) {
                    if (v.isEmpty())
                        continue;
                    const QString f = QStringLiteral("K = '%1'").arg(QString::fromUtf8(v));
                    for (ClientDataSet *ds : {&indexed, &scanned}) {
                        ds->setFilter(f);
                        ds->setFiltered(true);
                    }
                    QCOMPARE(column(indexed, "N"), column(scanned, "N"));
                    indexed.setFiltered(false);
                    scanned.setFiltered(false);
                }
            }
        }
        QCOMPARE(column(indexed, "K"), column(scanned, "K"));
    }

    // A decoded data set (its last chunk trimmed, full or not) edited on
    // both sides of chunk edges (kept aside) and on rows appended after
    // loading (rewritten in place), with a removal and a cancelled append.
    void editsAtChunkEdgesReadBackAndTravel_data()
    {
        QTest::addColumn<int>("orders");
        QTest::addColumn<int>("perOrder");
        QTest::newRow("2,048 rows") << 512 << 4;
        QTest::newRow("2,050 rows") << 410 << 5;
    }
    void editsAtChunkEdgesReadBackAndTravel()
    {
        QFETCH(int, orders);
        QFETCH(int, perOrder);
        DataPacket loaded;
        QVERIFY(DataPacket::fromCbor(items(orders, perOrder).toCbor(), &loaded, nullptr));
        const int n = int(loaded.rowCount());
        ClientDataSet ds;
        ds.addIndex("NRPEDIDO");
        ds.setData(loaded);
        QStringList expected = column(ds, "DSEMISSAOITPED");
        auto write = [&](int row, const QString &text) {
            ds.setRecNo(row);
            ds.edit();
            ds.fieldByName("DSEMISSAOITPED")->setAsString(text);
            ds.post();
            expected[row] = text;
        };
        for (int row : {1023, 1024, 2047, n - 1})
            write(row, QStringLiteral("editado %1").arg(row));
        for (const char *text : {"novo 1", "novo 2"}) {
            ds.append();
            ds.fieldByName("NRPEDIDO")->setAsString("novo");
            ds.post();
            expected << QString();
            write(int(expected.size()) - 1, QString::fromLatin1(text));
        }
        ds.append();
        ds.cancel();
        ds.setRecNo(1);
        ds.remove();
        expected.removeAt(1);
        QCOMPARE(column(ds, "DSEMISSAOITPED"), expected);
        const DataPacket out = ds.data();
        QCOMPARE(QString::fromUtf8(out.text(3, 2046)), QStringLiteral("editado 2047"));
        QCOMPARE(QString::fromUtf8(out.text(0, n)), QStringLiteral("novo"));
        ds.setFilter("NRPEDIDO = 'novo'");
        ds.setFiltered(true);
        QCOMPARE(column(ds, "DSEMISSAOITPED"), QStringList({"novo 1", "novo 2"}));
    }

    void aRowEditedOutOfTheFilterLeavesTheView()
    {
        ClientDataSet ds;
        ds.addIndex("NRPEDIDO");
        ds.setData(items(2));
        ds.setFilter("NRPEDIDO = '1'");
        ds.setFiltered(true);
        QSignalSpy removed(&ds, &ClientDataSet::rowRemoved);
        ds.edit();
        ds.fieldByName("NRPEDIDO")->setAsString("2");
        ds.post();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(ds.recordCount(), 2);
        ds.setFilter("NRPEDIDO = '2'");
        QCOMPARE(ds.recordCount(), 4);
    }

    void closeDropsThePendingInsertAndOpenShowsTheRowsAgain()
    {
        ClientDataSet ds;
        ds.setData(items(1));
        ds.append();
        ds.close();
        QCOMPARE(ds.state(), State::Inactive);
        QCOMPARE(ds.recordCount(), 0);
        QCOMPARE(ds.recNo(), -1);
        ds.open();
        QCOMPARE(ds.recordCount(), 3);
    }

    void dataSourceFollowsItsDataSet()
    {
        DataSource src;
        QCOMPARE(src.state(), State::Inactive);
        ClientDataSet ds;
        ds.setData(items(1));
        QSignalSpy states(&src, &DataSource::stateChanged);
        src.setDataSet(&ds);
        QCOMPARE(states.count(), 1);   // inactive -> browse by getting a data set
        src.edit();
        QCOMPARE(ds.state(), State::Edit);
        src.edit();                    // no effect while editing
        ds.cancel();
        QCOMPARE(states.count(), 3);
        src.setDataSet(nullptr);
        QCOMPARE(src.state(), State::Inactive);
    }
};

QTEST_GUILESS_MAIN(TestClientDataSet)
#include "tst_clientdataset.moc"
