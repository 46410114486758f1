// Two clerks on one order, end to end: another clerk's date reaches the
// server first, this screen's write is refused with the message naming it,
// the row shows the stored date and the clerk can write again; the history
// dialog (F7) then lists the order's writes newest first.

#include "../screen/SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "editing/HistoryDialog.h"
#include "host/ShowAvi.h"
#include "server/RemoteResult.h"

using namespace screentest;
using Fixture = SeededScreen;

class Conflicts : public QObject
{
    Q_OBJECT

    Fixture fx;
    TfrmDescEmiPed *screen = nullptr;
    TNetConnection other;   // the other clerk, on its own connection

    opd::ClientDataSet *cds() const { return screen->cdsPedido; }
    QString current(const char *field) const { return cds()->fieldByName(field)->asString(); }
    QString storedDate(const QString &order) const
    {
        return Fixture::sql(QStringLiteral("SELECT DTENTPED FROM PEDIDO WHERE CDFILIAL = '0001' AND NRPEDIDO = ?"),
                            {order});
    }
    int audits(const QString &order) const
    {
        return Fixture::sql(QStringLiteral("SELECT COUNT(*) FROM AUDITORIA WHERE NRPEDIDO = ? AND NMCAMPO = 'DTENTPED'"),
                            {order}).toInt();
    }
    void typeDate(QDate date)
    {
        Fixture::selectColumn(screen->dbgPEDIDO, "DTENTPED");
        const QString digits = date.toString(QStringLiteral("ddMMyyyy"));
        QTest::keyClick(screen->dbgPEDIDO, digits.at(0).toLatin1());
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && editor != screen->dbgPEDIDO);
        QTest::keyClicks(editor, digits.mid(1));
        QTest::keyClick(editor, Qt::Key_Return);
    }
    void confirm() { screen->mnuComando[5]->trigger(); }
    static QString shown(QDate d) { return d.toString(QStringLiteral("dd/MM/yyyy")); }

private slots:
    void initTestCase()
    {
        const QString failure = fx.start();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        screen = fx.screen;
        other.ServerName = screen->netDescEmiPed->ServerName;
        other.setHost(QStringLiteral("127.0.0.1"));
        other.setPort(fx.server.port());
        other.setConnected(true);
        QVERIFY2(other.Connected(), qPrintable(other.lastError()));
        const QString messages = fx.search();
        QVERIFY2(messages.isEmpty(), qPrintable(messages));
    }
    void cleanupTestCase()
    {
        other.setConnected(false);
        fx.stop();
    }

    void aStaleDateIsRefusedShownAndMayBeWrittenAgain()
    {
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        cds()->setRecNo(2);
        const QString order = current("NRPEDIDO");
        const QDate theirs = opd::today().addDays(30), mine = opd::today().addDays(40);
        const int auditsBefore = audits(order);

        // The other clerk, who saw what this screen shows, writes first.
        const opd::Field *seen = cds()->fieldByName("DTENTPED");
        const QVariant raw = other.AppServer().call(
            QStringLiteral("SetDtEntregaPed"),
            {opd::RemoteArg::date(opd::toDayCount(theirs)), opd::RemoteArg::text(QStringLiteral("0001")),
             opd::RemoteArg::text(order)},
            seen->isNull() ? QVariant() : QVariant(seen->asDateTime()));
        QVERIFY2(RemoteResult::isOk(raw), qPrintable(RemoteResult::message(raw)));

        MessageRecorder messages;
        typeDate(mine);
        confirm();
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].startsWith(QStringLiteral("O pedido %1 foi alterado por local em ").arg(order)),
                 qPrintable(messages.texts[0]));
        QVERIFY2(messages.texts[0].endsWith(QStringLiteral("(Data Entrega %1). Sua alteração não foi gravada.")
                                                .arg(shown(theirs))), qPrintable(messages.texts[0]));
        // The row shows the other clerk's date, browsing, nothing more stored.
        QCOMPARE(cds()->state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(Fixture::iso(cds()->fieldByName("DTENTPED")->asDateTime()), Fixture::iso(theirs));
        QCOMPARE(screen->dbgPEDIDO->cellText("DTENTPED"), shown(theirs));
        QCOMPARE(storedDate(order), Fixture::iso(theirs));
        QCOMPARE(audits(order), auditsBefore + 1);
        QCOMPARE(fx.commands(), QStringLiteral("0101100"));
        QVERIFY(!ShowAviRunning());

        // Typed again, now over the date it shows, the write goes through.
        messages.texts.clear();
        typeDate(mine);
        confirm();
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        QCOMPARE(storedDate(order), Fixture::iso(mine));
        QCOMPARE(audits(order), auditsBefore + 2);
    }

    void historyOpensOnF7WithTheNewestWriteFirst()
    {
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        cds()->setRecNo(2);
        const QString commands = fx.commands();
        screen->dbgPEDIDO->setFocus();
        MessageRecorder messages;
        QTest::keyClick(screen->dbgPEDIDO, Qt::Key_F7);
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
        auto *dialog = screen->findChild<HistoryDialog *>(QStringLiteral("frmHistorico"));
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Histórico de Alterações - Pedido %1").arg(current("NRPEDIDO")));
        QCOMPARE(dialog->grid()->model()->columnCount(), 5);
        opd::ClientDataSet *rows = dialog->rows();
        QCOMPARE(rows->recordCount(), 2);
        const auto row = [&](int n) {
            rows->setRecNo(n);
            QStringList cells;
            for (const char *f : {"CDUSUARIO", "NMCAMPO", "DSVALORANT", "DSVALORNOV"})
                cells << rows->fieldByName(f)->asString();
            return cells.join(QLatin1Char('|'));
        };
        const QString theirs = shown(opd::today().addDays(30)), mine = shown(opd::today().addDays(40));
        QCOMPARE(row(0), QStringLiteral("local|Data Entrega|%1|%2").arg(theirs, mine));
        QVERIFY2(row(1).endsWith(QStringLiteral("|%1").arg(theirs)), qPrintable(row(1)));
        // docs/history.png is taken here: OPD_SCREENSHOT_DIR=docs ctest -R tst_conflicts
        if (qEnvironmentVariableIsSet("OPD_SCREENSHOT_DIR")) {
            rows->first();
            QVERIFY(dialog->grab().save(qEnvironmentVariable("OPD_SCREENSHOT_DIR") + QStringLiteral("/history.png")));
        }
        // Reading the history changes no command.
        QCOMPARE(fx.commands(), commands);
        dialog->close();
    }
};

OPD_HOST_TEST_MAIN(Conflicts)
#include "tst_conflicts.moc"
