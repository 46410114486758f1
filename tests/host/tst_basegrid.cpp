// The base grid screen: members, command wiring through the guard, closing,
// activation, page control and the CSV export.
#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/TCustomPageControl98.h"
#include "host/TfrmPadraoGrid.h"

#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A screen that records the handlers the base runs.
class RecordingScreen : public TfrmPadraoGrid
{
public:
    QStringList calls;
    bool abortInVerify = false;
    CloseAction closeAction = CloseAction::Free;

    void FormCreate(QObject *sender) override
    {
        TfrmPadraoGrid::FormCreate(sender);
        calls << QStringLiteral("FormCreate");
    }
    void FormActivate(QObject *) override { calls << QStringLiteral("FormActivate"); }
    void FormClose(QObject *sender, CloseAction &action) override
    {
        TfrmPadraoGrid::FormClose(sender, action);
        calls << QStringLiteral("FormClose");
        action = closeAction;
    }
    void sbtVerificarClick(QObject *sender) override
    {
        calls << QStringLiteral("verify:") + sender->objectName();
        if (abortInVerify)
            Consiste::MensErro(QStringLiteral("Recusado."), true);
        TfrmPadraoGrid::sbtVerificarClick(sender);
        calls << QStringLiteral("verify done");
    }
};

void fillItems(opd::ClientDataSet &ds)
{
    const opd::FieldDef code{"NRITEMPED", opd::FieldType::String, 10};
    const opd::FieldDef name{"DSEMISSAOITPED", opd::FieldType::String, 400};
    ds.addField(code);
    ds.addField(name);
    opd::DataPacket packet(QList<opd::FieldDef>{code, name});
    for (const char *row : {"1;Parafuso", "2;Porca; sextavada", "3;Arruela \"lisa\""}) {
        const QByteArray text(row);
        const int cut = text.indexOf(';');
        packet.appendText(text.left(cut));
        packet.appendText(text.mid(cut + 1));
        packet.endRow();
    }
    ds.setData(packet);
}

} // namespace

class TstBaseGrid : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_shown.clear();
        m_previousSink = Consiste::setMessageSink([this](const QString &t) { m_shown << t; });
        HostApplication::mainForm()->show();
    }

    void cleanup()
    {
        Consiste::setMessageSink(m_previousSink);
        for (QMdiSubWindow *sub : HostApplication::mdiArea()->subWindowList())
            delete sub;
    }

    void membersCarryTheirNamesAndPlaces()
    {
        TfrmPadraoGrid screen;
        for (const char *name : {"lblCodTela", "panMenu", "sbtFechar", "ctlConsulta", "pgcPadrao", "tshPadrao",
                                 "panDbgPadrao", "scbFolhaDados", "dbgPadrao", "panNavigator", "dbtNome",
                                 "dbnPadrao", "dtsPadrao", "msgPadrao"})
            QVERIFY2(screen.findChild<QObject *>(QLatin1String(name)), name);
        for (int n = 1; n <= 7; ++n) {
            QCOMPARE(screen.findChild<QAction *>(QStringLiteral("mnuComando%1").arg(n)), screen.mnuComando[n - 1]);
            QCOMPARE(screen.findChild<QToolButton *>(QStringLiteral("sbtComando%1").arg(n)), screen.sbtComando[n - 1]);
            QCOMPARE(screen.sbtComando[n - 1]->parentWidget(), screen.panMenu);
        }
        QCOMPARE(screen.panMenu->width(), 731);
        QCOMPARE(screen.sbtFechar->x(), 285);
        QCOMPARE(screen.pgcPadrao->geometry().top(), 217);
        QCOMPARE(screen.pgcPadrao->height(), 181);
        QCOMPARE(screen.panNavigator->y(), 398);
        QVERIFY(screen.tshPadrao->isAncestorOf(screen.dbgPadrao));
        QCOMPARE(screen.dbgPadrao->dataSource(), screen.dtsPadrao);
        // The base page is not a tab until a screen adds it.
        QCOMPARE(screen.pgcPadrao->indexOf(screen.tshPadrao), -1);
        screen.pgcPadrao->addPage(screen.tshPadrao, QStringLiteral("Itens do Pedido"));
        QCOMPARE(screen.pgcPadrao->tabText(screen.pgcPadrao->indexOf(screen.tshPadrao)),
                 QStringLiteral("Itens do Pedido"));
    }

    void buttonFollowsItsMenuItem()
    {
        TfrmPadraoGrid screen;
        for (int i = 0; i < 7; ++i) {
            for (bool on : {true, false, true}) {
                screen.mnuComando[i]->setEnabled(on);
                QCOMPARE(screen.sbtComando[i]->isEnabled(), on);
            }
        }
    }

    void commandsFollowTheDataSetState()
    {
        TfrmPadraoGrid screen;
        opd::ClientDataSet items;
        auto enabled = [&] {
            QString bits;
            for (QAction *a : screen.mnuComando)
                bits += a->isEnabled() ? '1' : '0';
            return bits + (screen.ctlConsulta->isEnabled() ? "+" : "-");
        };
        QCOMPARE(enabled(), QStringLiteral("0000000-"));
        fillItems(items);
        screen.dtsPadrao->setDataSet(&items);
        QCOMPARE(enabled(), QStringLiteral("1111000+"));
        items.edit();
        QCOMPARE(enabled(), QStringLiteral("0100111-"));
        items.cancel();
        QCOMPARE(enabled(), QStringLiteral("1111000+"));
    }

    void commandRunsHandlerThroughGuardAndSwallowsAbort()
    {
        RecordingScreen screen;
        opd::ClientDataSet items;
        fillItems(items);
        screen.dtsPadrao->setDataSet(&items);
        items.edit();
        screen.abortInVerify = true;
        screen.sbtComando[4]->click();   // must not throw out of the click
        QCOMPARE(screen.calls, (QStringList{QStringLiteral("verify:sbtComando5")}));
        QCOMPARE(m_shown, QStringList{QStringLiteral("Recusado.")});
        QCOMPARE(items.state(), opd::ClientDataSet::State::Edit);

        screen.abortInVerify = false;
        screen.mnuComando[4]->trigger();
        QCOMPARE(screen.calls.last(), QStringLiteral("verify done"));
        QCOMPARE(items.state(), opd::ClientDataSet::State::Browse);
    }

    void ctrlDeleteInTheGridAsksTheScreensQuestion()
    {
        TfrmPadraoGrid screen;
        opd::ClientDataSet items;
        fillItems(items);
        screen.dtsPadrao->setDataSet(&items);
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        int asked = 0;
        bool answer = false;
        screen.confirmDelete = [&] { ++asked; return answer; };
        screen.dbgPadrao->setFocus();
        QTest::keyClick(screen.dbgPadrao, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QCOMPARE(items.recordCount(), 3);
        answer = true;
        QTest::keyClick(screen.dbgPadrao, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(asked, 2);
        QCOMPARE(items.recordCount(), 2);
        // The command asks the same question.
        screen.sbtComando[2]->click();
        QCOMPARE(asked, 3);
        QCOMPARE(items.recordCount(), 1);
    }

    void cancelCommandDropsPendingEdit()
    {
        TfrmPadraoGrid screen;
        opd::ClientDataSet items;
        fillItems(items);
        screen.dtsPadrao->setDataSet(&items);
        items.edit();
        items.fieldByName("DSEMISSAOITPED")->setAsString(QStringLiteral("Mudado"));
        screen.sbtComando[6]->click();
        QCOMPARE(items.state(), opd::ClientDataSet::State::Browse);
        QCOMPARE(items.fieldByName("DSEMISSAOITPED")->asString(), QStringLiteral("Parafuso"));
    }

    void createRunsFormCreateOnce()
    {
        auto *screen = HostApplication::createForm<RecordingScreen>();
        screen->create();
        QCOMPARE(screen->calls.count(QStringLiteral("FormCreate")), 1);
        QVERIFY(screen->subWindow());
    }

    void closeRunsFormCloseAndFreesChild()
    {
        auto *screen = HostApplication::createForm<RecordingScreen>();
        QPointer<QMdiSubWindow> sub = screen->subWindow();
        sub->show();
        QVERIFY(sub->close());
        QCOMPARE(screen->calls.count(QStringLiteral("FormClose")), 1);   // still alive here
        QTRY_VERIFY(sub.isNull());   // deleted later, not at once
    }

    void closeActionNoneKeepsScreenOpen()
    {
        auto *screen = HostApplication::createForm<RecordingScreen>();
        screen->closeAction = TfrmPadraoGrid::CloseAction::None;
        QPointer<QMdiSubWindow> sub = screen->subWindow();
        sub->show();
        QVERIFY(!sub->close());
        QCoreApplication::processEvents();
        QVERIFY(sub);
        QVERIFY(sub->isVisible());
        screen->closeAction = TfrmPadraoGrid::CloseAction::Hide;
        screen->sbtFechar->click();
        QVERIFY(sub);
        QVERIFY(!sub->isVisible());
    }

    void activationRunsAttachedHandlerOnly()
    {
        auto *first = HostApplication::createForm<RecordingScreen>();
        auto *second = HostApplication::createForm<RecordingScreen>();
        first->subWindow()->show();
        // Shown and made active once: one activation, not one per signal path.
        QCOMPARE(first->calls.count(QStringLiteral("FormActivate")), 1);
        second->subWindow()->show();
        QCOMPARE(first->calls.count(QStringLiteral("FormActivate")), 1);
        QSignalSpy spy(first, &TfrmPadraoGrid::activated);
        HostApplication::mdiArea()->setActiveSubWindow(first->subWindow());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(first->calls.count(QStringLiteral("FormActivate")), 2);

        // Detached: the event still counts, the handler does not run.
        first->onActivate = nullptr;
        HostApplication::mdiArea()->setActiveSubWindow(second->subWindow());
        HostApplication::mdiArea()->setActiveSubWindow(first->subWindow());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(first->calls.count(QStringLiteral("FormActivate")), 2);
        // A handler that aborts ends quietly.
        first->onActivate = [](QObject *) { throw opd::Abort(); };
        first->runActivation();
        QCOMPARE(spy.count(), 3);
    }

    void disabledPageCannotBeChosenByUser()
    {
        TfrmPadraoGrid screen;
        auto *orders = new TTabSheet;
        screen.pgcPadrao->addPage(orders, QStringLiteral("Pedidos"));
        screen.pgcPadrao->addPage(screen.tshPadrao, QStringLiteral("Itens do Pedido"));
        screen.show();
        screen.pgcPadrao->SetActivePage(orders);
        screen.pgcPadrao->setPageEnabled(screen.tshPadrao, false);
        QVERIFY(!screen.pgcPadrao->isPageEnabled(screen.tshPadrao));
        QTabBar *bar = screen.pgcPadrao->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(screen.pgcPadrao->activePage(), orders);
        QTest::keyClick(screen.pgcPadrao, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(screen.pgcPadrao->activePage(), orders);
        // Only the tab is disabled: the page's widgets, out of reach behind
        // it, are not walked through and keep their own state.
        QVERIFY(screen.tshPadrao->isEnabled());
        QVERIFY(screen.dbgPadrao->isEnabled());
        screen.pgcPadrao->setPageEnabled(screen.tshPadrao, true);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(screen.pgcPadrao->activePage(), screen.tshPadrao);
    }

    // The page control paints exactly what a plain tab widget paints, for
    // the whole control and for the strip a tab's change repaints.
    void pageControlPaintsLikeATabWidget()
    {
        const auto build = [](QTabWidget &tabs) {
            tabs.resize(420, 260);
            tabs.addTab(new QWidget, QStringLiteral("Pedidos"));
            tabs.addTab(new QWidget, QStringLiteral("Itens do Pedido"));
            tabs.setTabEnabled(1, false);
            tabs.show();
        };
        TCustomPageControl98 ours;
        QTabWidget plain;
        build(ours);
        build(plain);
        QVERIFY(QTest::qWaitForWindowExposed(&ours));
        QVERIFY(QTest::qWaitForWindowExposed(&plain));
        const QRect strip = ours.tabBar()->geometry().adjusted(0, 0, 40, 4);   // into the pane
        for (const QRegion &region : {QRegion(ours.rect()), QRegion(strip), QRegion(QRect(380, 220, 40, 40))}) {
            const auto shot = [&](QWidget &w) {
                QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::magenta);
                w.render(&image, QPoint(), region, QWidget::DrawWindowBackground);
                return image;
            };
            const QImage expected = shot(plain);
            // The region is drawn at the image's corner; its far corner is painted.
            const QSize drawn = region.boundingRect().size();
            QVERIFY(expected.pixel(drawn.width() - 1, drawn.height() - 1) != QColor(Qt::magenta).rgb());
            QCOMPARE(shot(ours), expected);
        }
    }

    void exportWritesGridAsCsv()
    {
        QTemporaryDir dir;
        TfrmPadraoGrid screen;
        opd::ClientDataSet items;
        fillItems(items);
        screen.dtsPadrao->setDataSet(&items);
        screen.dbgPadrao->setColumns({{"NRITEMPED", QStringLiteral("N° Item"), 76},
                                      {"DSEMISSAOITPED", QString(), 179}});
        const QString file = dir.filePath(QStringLiteral("itens.csv"));
        screen.exportFileName = [&] { return file; };
        screen.pgcPadrao->addPage(screen.tshPadrao, QStringLiteral("Itens"));
        screen.sbtComando[1]->click();
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));   // spreadsheets then read it as UTF-8
        const QString text = QString::fromUtf8(bytes.mid(3));
        QCOMPARE(text, QStringLiteral("N° Item;DSEMISSAOITPED\r\n1;Parafuso\r\n"
                                      "2;\"Porca; sextavada\"\r\n3;\"Arruela \"\"lisa\"\"\"\r\n"));
        // A folder that cannot be written to: a message, no file.
        screen.exportFileName = [&] { return dir.filePath(QStringLiteral("no/such/dir/x.csv")); };
        screen.sbtComando[1]->click();
        QCOMPARE(m_shown.size(), 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no/such/dir/x.csv"))));
    }

private:
    QStringList m_shown;
    Consiste::MessageSink m_previousSink;
};

QTEST_MAIN(TstBaseGrid)
#include "tst_basegrid.moc"
