// The checks of the filter panel, driven by real focus moves: the message
// the clerk reads, where the focus lands, and that nothing is sent.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "host/TDateEditPlus.h"
#include "grid/DBGrid.h"
#include "screen/FocusExitTracker.h"

#include <QMessageBox>
#include <QTimer>

using namespace screentest;

class FilterChecks : public QObject
{
    Q_OBJECT

    TfrmDescEmiPed *screen = nullptr;
    QStringList sent;   // remote methods called

    // Types into a masked date edit as the clerk does.
    void typeDate(TDateEditPlus *edit, const QString &digits)
    {
        edit->setFocus();
        edit->Clear();
        QTest::keyClick(edit, Qt::Key_Home);
        QTest::keyClicks(edit, digits);
    }

    // Leaves the filter panel for the orders grid, from wherever the focus is.
    void leavePanel() { screen->dbgPEDIDO->setFocus(); }

    void expectRefusal(MessageRecorder &messages, const QString &text, QWidget *focus)
    {
        QCOMPARE(messages.texts, QStringList{text});
        QCOMPARE(QApplication::focusWidget(), focus);
        QVERIFY(sent.isEmpty());
    }

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        opd::setUnhandledErrorReporter([](const QString &) {});
    }

    void init()
    {
        screen = openScreen();
        QVERIFY(screen);
        sent.clear();
        screen->remoteCallObserver = [this](const QString &method, const QList<opd::RemoteArg> &) {
            sent << method;
        };
        for (TDateEditPlus *d : {screen->depDeEmissao, screen->depAteEmissao, screen->depDeEntrega,
                                 screen->depAteEntrega})
            d->Clear();
        screen->chbPPendente->setFocus();
        QCOMPARE(QApplication::focusWidget(), screen->chbPPendente);
    }

    void cleanup()
    {
        screen->remoteCallObserver = nullptr;
        QVERIFY(closeScreen());
    }

    // Which texts are dates is the date edit's and the check routine's
    // business; here, what leaving an edit does with the answer.
    void leavingAnInvalidDateShowsItAndKeepsTheFocus()
    {
        MessageRecorder messages;
        screen->depAteEntrega->setFocus();
        screen->depDeEntrega->setFocus();   // an empty edit left: nothing
        QVERIFY(messages.texts.isEmpty());

        typeDate(screen->depDeEmissao, QStringLiteral("31022024"));
        screen->depAteEmissao->setFocus();
        expectRefusal(messages, QStringLiteral("'31/02/2024' não é uma data válida."), screen->depDeEmissao);
        QCOMPARE(screen->depDeEmissao->EditText(), QStringLiteral("31/02/2024"));

        // Corrected, it can be left.
        messages.texts.clear();
        typeDate(screen->depDeEmissao, QStringLiteral("29022024"));
        screen->depAteEmissao->setFocus();
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(QApplication::focusWidget(), screen->depAteEmissao);
    }

    void leavingThePanelFromAnInvalidDateStartsNoSearch()
    {
        MessageRecorder messages;
        typeDate(screen->depDeEntrega, QStringLiteral("1305"));
        leavePanel();
        expectRefusal(messages, QStringLiteral("'13/05/    ' não é uma data válida."), screen->depDeEntrega);

        // Still refused the second time: the panel was never left.
        messages.texts.clear();
        leavePanel();
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY(sent.isEmpty());
    }

    void reversedDateRangesStopTheSearchAtTheFirst()
    {
        MessageRecorder messages;
        screen->depDeEmissao->setText(QStringLiteral("11/05/2024"));
        screen->depAteEmissao->setText(QStringLiteral("10/05/2024"));
        screen->depDeEntrega->setText(QStringLiteral("20/05/2024"));
        screen->depAteEntrega->setText(QStringLiteral("19/05/2024"));
        leavePanel();
        expectRefusal(messages,
                      QStringLiteral("Data pedido inicial deve ser menor ou igual à data pedido final."),
                      screen->depDeEmissao);

        messages.texts.clear();
        screen->depAteEmissao->setText(QStringLiteral("11/05/2024"));   // equal dates pass
        screen->chbPPendente->setFocus();
        leavePanel();
        expectRefusal(messages,
                      QStringLiteral("Data entrega inicial deve ser menor ou igual à data entrega final."),
                      screen->depDeEntrega);
    }

    void orderNumberRangeRulesRunOnlyInRangeMode()
    {
        MessageRecorder messages;
        for (QWidget *w : {static_cast<QWidget *>(screen->medDeIntervalo),
                           static_cast<QWidget *>(screen->medAteIntervalo)})
            w->setEnabled(true);   // what choosing "Intervalo" does
        screen->rbtIntervalo->setChecked(true);
        leavePanel();
        expectRefusal(messages, QStringLiteral("Intervalo inicial deve ser informado."), screen->medDeIntervalo);

        // Typed elsewhere than in the edit itself: leaving the start edit
        // would copy it into the empty end.
        messages.texts.clear();
        screen->chbPPendente->setFocus();
        screen->medDeIntervalo->setText(QStringLiteral("0000000500"));
        leavePanel();
        expectRefusal(messages, QStringLiteral("Intervalo final deve ser informado."), screen->medAteIntervalo);

        messages.texts.clear();
        screen->medAteIntervalo->setText(QStringLiteral("0000000050"));
        leavePanel();
        expectRefusal(messages,
                      QStringLiteral("Número pedido inicial deve ser menor ou igual ao número pedido final."),
                      screen->medDeIntervalo);

        // Back in "Todos" mode no range rule runs.
        messages.texts.clear();
        screen->rbtTNrPedido->setChecked(true);
        leavePanel();
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(sent, QStringList{QStringLiteral("GetPedido")});
    }

    void listAndStatusRulesNameTheFirstMissingChoice()
    {
        MessageRecorder messages;
        Cli_opd31000::ListaFiliDest().clear();
        Cli_opd31000::ListaCliente().clear();
        Cli_opd31000::ListaVendedor().clear();
        Cli_opd31000::ListaNrPedido().clear();
        screen->rbtListaFili->setChecked(true);
        screen->rbtLCliente->setChecked(true);
        leavePanel();
        expectRefusal(messages, QStringLiteral("Filial destino deve ser informada."), screen->rbtListaFili);

        messages.texts.clear();
        screen->rbtTodosFili->setChecked(true);
        screen->rbtTCliente->setChecked(true);
        screen->rbtLVendedor->setChecked(true);
        leavePanel();
        expectRefusal(messages, QStringLiteral("Vendedor deve ser informado."), screen->rbtLVendedor);

        messages.texts.clear();
        screen->rbtTVendedor->setChecked(true);
        screen->rbtLNrPedido->setChecked(true);
        leavePanel();
        expectRefusal(messages, QStringLiteral("Número pedido deve ser selecionado da lista."),
                      screen->rbtLNrPedido);

        messages.texts.clear();
        screen->rbtTNrPedido->setChecked(true);
        screen->chbPPendente->setChecked(false);
        screen->chbPAndamento->setChecked(false);
        leavePanel();
        expectRefusal(messages, QStringLiteral("Situação do pedido deve ser informada."), screen->chbPPendente);
    }

    // Each rule of the search, with the panel left the way a clerk leaves
    // it: a click into the orders grid, or Tab out of the panel's last
    // control. The message box is a real modal one here (closed at once),
    // so the window loses and regains the activation as for the clerk.
    void refusedSearchFocusesTheRuleControlWhateverWayThePanelIsLeft_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<bool>("byMouse");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("focus");
        const struct { const char *rule, *text, *focus; } rules[] = {
            {"entry dates", "Data pedido inicial deve ser menor ou igual à data pedido final.", "depDeEmissao"},
            {"both ranges", "Data pedido inicial deve ser menor ou igual à data pedido final.", "depDeEmissao"},
            {"delivery dates", "Data entrega inicial deve ser menor ou igual à data entrega final.", "depDeEntrega"},
            {"number range", "Número pedido inicial deve ser menor ou igual ao número pedido final.", "medDeIntervalo"},
            {"lists", "Filial destino deve ser informada.", "rbtListaFili"},
            {"status", "Situação do pedido deve ser informada.", "chbPPendente"},
        };
        for (const auto &r : rules) {
            for (bool mouse : {true, false})
                QTest::addRow("%s by %s", r.rule, mouse ? "mouse" : "Tab")
                    << QString::fromLatin1(r.rule) << mouse << QString::fromUtf8(r.text)
                    << QString::fromLatin1(r.focus);
        }
    }

    void refusedSearchFocusesTheRuleControlWhateverWayThePanelIsLeft()
    {
        QFETCH(QString, rule);
        QFETCH(bool, byMouse);
        QFETCH(QString, text);
        QFETCH(QString, focus);
        QStringList shown;
        const Consiste::MessageSink previous = Consiste::setMessageSink([&](const QString &t) {
            shown << t;
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), t, QMessageBox::Ok,
                            HostApplication::mainForm());
            QTimer::singleShot(0, &box, &QDialog::accept);
            box.exec();
            // What the window manager does once the box is gone (the
            // offscreen platform has none): the screen's window is active again.
            HostApplication::mainForm()->activateWindow();
        });
        if (rule == QLatin1String("entry dates") || rule == QLatin1String("both ranges")) {
            screen->depDeEmissao->setText(QStringLiteral("11/05/2024"));
            screen->depAteEmissao->setText(QStringLiteral("10/05/2024"));
        }
        if (rule == QLatin1String("delivery dates") || rule == QLatin1String("both ranges")) {
            screen->depDeEntrega->setText(QStringLiteral("20/05/2024"));
            screen->depAteEntrega->setText(QStringLiteral("19/05/2024"));
        }
        if (rule == QLatin1String("number range")) {
            screen->rbtIntervalo->click();
            screen->medDeIntervalo->setText(QStringLiteral("0000000500"));
            screen->medAteIntervalo->setText(QStringLiteral("0000000050"));
        }
        if (rule == QLatin1String("lists")) {
            Cli_opd31000::ListaFiliDest().clear();
            Cli_opd31000::ListaCliente().clear();
            screen->rbtListaFili->setChecked(true);
            screen->rbtLCliente->setChecked(true);
        }
        const bool status = rule == QLatin1String("status");
        for (QCheckBox *c : {screen->chbPPendente, screen->chbPAndamento, screen->chbPLiquidado,
                             screen->chbPCancelado, screen->chbPParcialmente})
            c->setChecked(!status && c != screen->chbPParcialmente);
        // From the panel's last control: "até" of the entry dates for the
        // mouse (the control the clerk was leaving), the last status box for Tab.
        QWidget *from = byMouse ? static_cast<QWidget *>(screen->depAteEmissao) : screen->chbPParcialmente;
        from->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), from);
        if (byMouse) {
            QWidget *cells = screen->dbgPEDIDO->viewport();
            QTest::mouseClick(cells, Qt::LeftButton, {}, QPoint(cells->width() / 2, cells->height() / 2));
        } else {
            QTest::keyClick(from, Qt::Key_Tab);
        }
        QTest::qWait(50);   // whatever the click or the key still had pending
        Consiste::setMessageSink(previous);
        QCOMPARE(shown, QStringList{text});
        QVERIFY(sent.isEmpty());
        QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), focus);
        QCOMPARE(screen->focusTracker()->current()->objectName(), focus);
    }

    void verifyCommandChecksADateThatWasNeverLeft()
    {
        // Typed, then the search started without leaving the edit (the
        // verify command): the date is checked before anything is sent.
        MessageRecorder messages;
        screen->depDeEmissao->setText(QStringLiteral("10/05/2024"));
        typeDate(screen->depAteEmissao, QStringLiteral("31042024"));
        QVERIFY(!opd::guarded([&] { screen->panFiltroExit(screen->panFiltro); }));
        expectRefusal(messages, QStringLiteral("'31/04/2024' não é uma data válida."), screen->depAteEmissao);
    }
};

OPD_HOST_TEST_MAIN(FilterChecks)
#include "tst_filter_checks.moc"
