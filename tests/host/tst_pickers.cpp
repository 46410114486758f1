// The list pickers: list-text format, the multi-select and single-pick
// dialogs driven as the user would, and the search button.
#include "host/Consiste.h"
#include "host/PickerDialog.h"
#include "host/PickerModel.h"
#include "host/Pickers.h"
#include "host/TBtnPesquisa.h"
#include "platform/DataSource.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTest>
#include <QTimer>

namespace {

// Runs `act` on the picker dialog as soon as it is shown modally.
void whenDialogShows(std::function<void(PickerDialog *)> act)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto *dialog = qobject_cast<PickerDialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start(10);
}

// Keys with the characters the list format has to survive.
void fillCustomers(opd::ClientDataSet &ds)
{
    opd::FieldDef key{"CDCLIENTE", opd::FieldType::String, 21};
    opd::FieldDef name{"NMFANTCLIE", opd::FieldType::String, 50};
    key.hidden = true;
    ds.addField(key);
    ds.addField(name);
    opd::DataPacket packet(QList<opd::FieldDef>{key, name});
    const QList<QPair<QByteArray, QByteArray>> rows{
        {"A", "Alfa"}, {"B'C", "Bravo d'Oeste"}, {"D,E", "Delta, Eco"}, {"F", "Foxtrot"}};
    for (const auto &[k, n] : rows) {
        packet.appendText(k);
        packet.appendText(n);
        packet.endRow();
    }
    ds.setData(packet);
}

QStringList checkedNames(PickerDialog *dialog)
{
    QStringList names;
    for (int row : dialog->model()->checkedRows())
        names << dialog->model()->index(row, 1).data().toString();
    return names;
}

} // namespace

class TstPickers : public QObject
{
    Q_OBJECT
private slots:
    void pickerModelPassesModelTester()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        PickerModel model(&ds, true);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.columnCount(), 2);   // check column + the one visible field
        QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("NMFANTCLIE"));
        // The marks' column is titled by a check mark and named for a screen reader.
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("\u2713"));
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::AccessibleTextRole).toString(), QStringLiteral("Marcado"));
        model.checkKeys(ds.fieldByName("CDCLIENTE")->index(), {QStringLiteral("D,E")});
        QCOMPARE(model.checkedRows(), QList<int>{2});
        model.setAllChecked(true);
        QCOMPARE(model.checkedRows().size(), 4);
        ds.setData(ds.data());   // a reset drops the marks
        QVERIFY(model.checkedRows().isEmpty());
    }

    void pesquisaListaMarksCurrentAndWritesChosenInRowOrder()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        opd::DataSource source;
        source.setDataSet(&ds);
        QString list = QStringLiteral("'F','B''C'");
        QStringList premarked;
        QString title;
        whenDialogShows([&](PickerDialog *dialog) {
            premarked = checkedNames(dialog);
            title = dialog->windowTitle();
            dialog->model()->setData(dialog->model()->index(2, 0), Qt::Checked, Qt::CheckStateRole);
            dialog->model()->setData(dialog->model()->index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
            dialog->accept();
        });
        QVERIFY(PesquisaLista(&source, QStringLiteral("CDCLIENTE"), QStringLiteral("Cliente"), false, list));
        QCOMPARE(title, QStringLiteral("Cliente"));
        QCOMPARE(premarked, (QStringList{QStringLiteral("Bravo d'Oeste"), QStringLiteral("Foxtrot")}));
        QCOMPARE(list, QStringLiteral("'B''C','D,E'"));
    }

    void pesquisaListaCancelLeavesListAsItWas()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        opd::DataSource source;
        source.setDataSet(&ds);
        QString list = QStringLiteral("'A'");
        whenDialogShows([](PickerDialog *dialog) {
            dialog->model()->setAllChecked(true);
            dialog->reject();
        });
        QVERIFY(!PesquisaLista(&source, QStringLiteral("CDCLIENTE"), QStringLiteral("Cliente"), false, list));
        QCOMPARE(list, QStringLiteral("'A'"));
    }

    void pesquisaListaRefusesUnreadableListText()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        opd::DataSource source;
        source.setDataSet(&ds);
        QStringList shown;
        auto previous = Consiste::setMessageSink([&](const QString &t) { shown << t; });
        QString list = QStringLiteral("A,B");
        QVERIFY_THROWS_EXCEPTION(opd::Abort,
                                 PesquisaLista(&source, QStringLiteral("CDCLIENTE"), QStringLiteral("Cliente"), false, list));
        Consiste::setMessageSink(previous);
        QCOMPARE(list, QStringLiteral("A,B"));
        QCOMPARE(shown.size(), 1);
    }

    void pesquisarPlusOnEmptySetShowsEmptyText()
    {
        opd::ClientDataSet ds;
        ds.addField({"CDARVPROD", opd::FieldType::String, 20});
        ds.open();
        opd::DataSource source;
        source.setDataSet(&ds);
        QStringList shown;
        auto previous = Consiste::setMessageSink([&](const QString &t) { shown << t; });
        const bool picked = Pesquisar_Plus(&source, QStringLiteral("Produto|Não existem Produtos."), false, true);
        Consiste::setMessageSink(previous);
        QVERIFY(!picked);
        QCOMPARE(shown, QStringList{QStringLiteral("Não existem Produtos.")});
    }

    void pesquisarPlusMovesToPickedRow()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        opd::DataSource source;
        source.setDataSet(&ds);
        whenDialogShows([](PickerDialog *dialog) {
            dialog->setCurrentRow(2);
            dialog->accept();
        });
        QVERIFY(Pesquisar_Plus(&source, QStringLiteral("Cliente|Vazio"), false, true));
        QCOMPARE(ds.recNo(), 2);
        QCOMPARE(ds.fieldByName("CDCLIENTE")->asString(), QStringLiteral("D,E"));
    }

    void searchButtonFillsAssociateBeforeAfterHandler()
    {
        opd::ClientDataSet ds;
        opd::DataSource source;
        source.setDataSet(&ds);
        ds.addField({"CDFILIAL", opd::FieldType::String, 4});
        ds.addField({"NMFILIAL", opd::FieldType::String, 30});
        QLineEdit code;
        TBtnPesquisa button;
        button.Associate = &code;
        button.DataSource = &source;
        button.Title = QStringLiteral("Filial");
        QStringList calls;
        button.OnBeforePesq = [&](QObject *sender, bool &) {
            calls << QStringLiteral("before");
            QCOMPARE(sender, &button);
            opd::DataPacket packet(QList<opd::FieldDef>{{"CDFILIAL", opd::FieldType::String, 4},
                                                        {"NMFILIAL", opd::FieldType::String, 30}});
            for (const char *row : {"0001", "0002"}) {
                packet.appendText(row);
                packet.appendText(QByteArray("Filial ") + row);
                packet.endRow();
            }
            ds.setData(packet);
        };
        button.OnAfterPesq = [&](QObject *) { calls << QStringLiteral("after:") + code.text(); };
        whenDialogShows([](PickerDialog *dialog) {
            dialog->setCurrentRow(1);
            dialog->accept();
        });
        button.click();
        QCOMPARE(calls, (QStringList{QStringLiteral("before"), QStringLiteral("after:0002")}));
    }

    void searchButtonStopsWhenBeforeHandlerCancels()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        opd::DataSource source;
        source.setDataSet(&ds);
        QLineEdit code;
        code.setText(QStringLiteral("keep"));
        TBtnPesquisa button;
        button.Associate = &code;
        button.DataSource = &source;
        bool after = false;
        button.OnAfterPesq = [&](QObject *) { after = true; };
        button.OnBeforePesq = [](QObject *, bool &cancel) { cancel = true; };
        button.click();
        button.OnBeforePesq = [](QObject *, bool &) { throw opd::Abort(); };
        button.click();   // the click's guard ends it quietly
        QVERIFY(!after);
        QCOMPARE(code.text(), QStringLiteral("keep"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void findRowMatchesIgnoringCase()
    {
        opd::ClientDataSet ds;
        fillCustomers(ds);
        const int name = ds.fieldByName("NMFANTCLIE")->index();
        QCOMPARE(findRowContaining(&ds, name, QStringLiteral("eco")), 2);
        QCOMPARE(findRowContaining(&ds, name, QStringLiteral("zulu")), -1);
        QCOMPARE(findRowContaining(&ds, name, QString()), -1);
    }
};

QTEST_MAIN(TstPickers)
#include "tst_pickers.moc"
