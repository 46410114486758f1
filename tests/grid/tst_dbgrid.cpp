// The data-aware grid driven by real key events.

#include "grid/DBGrid.h"
#include "grid/DBGridModel.h"
#include "platform/Exceptions.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace opd;
using State = ClientDataSet::State;

class TestDBGrid : public QObject
{
    Q_OBJECT

    ClientDataSet *ds = nullptr;
    DataSource *src = nullptr;
    DBGrid *grid = nullptr;
    QAbstractItemModelTester *tester = nullptr;
    QStringList reported;

    QLineEdit *editor() const { return grid->findChild<QLineEdit *>(); }

private slots:
    void init()
    {
        setUnhandledErrorReporter([this](const QString &m) { reported << m; });
        reported.clear();
        ds = new ClientDataSet(this);
        ds->addField({"NRPEDIDO", FieldType::String, 10, "Núm. Pedido", true});
        ds->addField({"DSEMISSAOITPED", FieldType::String, 400, "Descrição"});
        ds->addField({"DTENTPED", FieldType::DateTime, 8, "Data Entrega"});
        ds->fieldByName("DTENTPED")->setEditMask("!99/99/0000;1;_");
        DataPacket p(ds->data().fields());
        for (const char *nr : {"1", "2", "3"}) {
            p.appendText(nr); p.appendText(QByteArray("desc ") + nr); p.appendNumber(46000); p.endRow();
        }
        ds->setData(p);
        src = new DataSource(this);
        src->setDataSet(ds);
        grid = new DBGrid;
        grid->setDataSource(src);
        grid->setColumns({{"NRPEDIDO", "N° Pedido", 87}, {"DSEMISSAOITPED", {}, 179, DBGrid::ButtonStyle::Ellipsis},
                          {"DTENTPED", {}, 73}});
        tester = new QAbstractItemModelTester(grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        grid->resize(400, 200);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid));
        grid->setFocus();
        grid->setSelectedIndex(1);
    }
    void cleanup()
    {
        delete tester;
        delete grid;
        delete src;
        delete ds;
        setUnhandledErrorReporter({});
    }

    void cellsShowNumbersAndDatesTheBrazilianWay_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("date");
        // Day 46000 is 09/12/2025; the fraction is the time of day.
        QTest::newRow("whole") << 46000.0 << "46.000" << "09/12/2025";
        QTest::newRow("fraction") << 1234.5 << "1.234,5" << "18/05/1903 12:00:00";
        QTest::newRow("negative") << -0.25 << "-0,25" << "30/12/1899 06:00:00";   // the fraction counts forward
    }

    void cellsShowNumbersAndDatesTheBrazilianWay()
    {
        QFETCH(double, value);
        QFETCH(QString, number);
        QFETCH(QString, date);
        // Whatever the machine's locale: the clerk reads pt_BR.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        ClientDataSet numbers;
        numbers.addField({"QTITEMPED", FieldType::Float, 8, "Quantidade"});
        numbers.addField({"DTPEDIDO", FieldType::DateTime, 8, "Data"});
        DataPacket p(numbers.data().fields());
        p.appendNumber(value); p.appendNumber(value); p.endRow();
        numbers.setData(p);
        DataSource source;
        source.setDataSet(&numbers);
        DBGridModel model;
        model.setDataSource(&source);
        model.setColumns({{"QTITEMPED", {}}, {"DTPEDIDO", {}}});
        QCOMPARE(model.data(model.index(0, 0)).toString(), number);
        QCOMPARE(model.data(model.index(0, 1)).toString(), date);
        // The data set's own text, which the cell editor works on, is not the grid's business.
        QCOMPARE(model.data(model.index(0, 0), Qt::EditRole).toString(), numbers.displayTextAt(0, 0));
        QLocale::setDefault(QLocale::system());
    }

    void columnsTakeTheFieldLabelUnlessTitled()
    {
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), "N° Pedido");
        QCOMPARE(grid->model()->headerData(2, Qt::Horizontal).toString(), "Data Entrega");
        QCOMPARE(grid->columnIndexOfField("DTENTPED"), 2);
        QCOMPARE(grid->columnIndexOfField("NADA"), -1);
        QCOMPARE(grid->selectedField()->fieldName(), "DSEMISSAOITPED");
        QCOMPARE(grid->model()->index(1, 2).data().toString(), "09/12/2025");
    }

    void typingStartsAnEditAndMovingToAnotherRowPostsIt()
    {
        QSignalSpy states(src, &DataSource::stateChanged);
        QTest::keyClicks(grid, "x");
        QCOMPARE(ds->state(), State::Edit);
        QVERIFY(editor());
        QTest::keyClicks(editor(), "yz");
        QCOMPARE(grid->cellText("DSEMISSAOITPED"), "xyz");
        QTest::keyClick(editor(), Qt::Key_Down);
        QCOMPARE(ds->state(), State::Browse);
        QCOMPARE(ds->recNo(), 1);
        QCOMPARE(grid->currentIndex().row(), 1);
        QCOMPARE(grid->model()->index(0, 1).data().toString(), "xyz");
        QCOMPARE(states.count(), 2);
    }

    void escapeCancelsThePendingEdit()
    {
        QTest::keyClicks(grid, "novo");
        QCOMPARE(ds->state(), State::Edit);
        QTest::keyClick(editor(), Qt::Key_Escape);
        QCOMPARE(ds->state(), State::Browse);
        QCOMPARE(ds->fieldByName("DSEMISSAOITPED")->asString(), "desc 1");
    }

    // The cells follow the edit buffer as it changes and the stored row
    // when an edit is dropped. A post changes no cell: the views are not
    // told again, so the row is not repainted for it.
    void cellsFollowTheEditAndThePostLeavesThemAlone()
    {
        QSignalSpy changed(grid->model(), &QAbstractItemModel::dataChanged);
        ds->edit();
        ds->fieldByName("DSEMISSAOITPED")->setAsString("nova");
        QCOMPARE(grid->model()->index(0, 1).data().toString(), "nova");
        QVERIFY(!changed.isEmpty());
        changed.clear();
        ds->post();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(grid->model()->index(0, 1).data().toString(), "nova");
        QCOMPARE(ds->fieldByName("DSEMISSAOITPED")->asString(), "nova");

        ds->edit();
        ds->fieldByName("DSEMISSAOITPED")->setAsString("outra");
        changed.clear();
        ds->cancel();
        QVERIFY(!changed.isEmpty());
        QCOMPARE(grid->model()->index(0, 1).data().toString(), "nova");
    }

    void readOnlyColumnsDoNotStartAnEdit()
    {
        grid->setSelectedIndex(0);
        QTest::keyClicks(grid, "9");
        QCOMPARE(ds->state(), State::Browse);
        QVERIFY(!editor() || !editor()->isVisible());
    }

    void committingTheEditorGoesThroughOnSetText()
    {
        QStringList seen;
        ds->fieldByName("DTENTPED")->onSetText = [&](Field &f, const QString &text) {
            seen << text << grid->cellText("DTENTPED");
            f.setAsString(text);
        };
        grid->setSelectedIndex(2);
        QTest::keyClick(grid, Qt::Key_F2);
        QVERIFY(editor());
        QVERIFY(editor()->hasSelectedText());   // typing replaces the whole date
        QTest::keyClicks(editor(), "25122026");
        QTest::keyClick(editor(), Qt::Key_Return);
        QCOMPARE(seen, QStringList({"25/12/2026", "25/12/2026"}));
        QCOMPARE(ds->fieldByName("DTENTPED")->displayText(), "25/12/2026");
        QCOMPARE(ds->state(), State::Edit);
    }

    void insertAndDownOnTheLastRowAddRowsUnlessBeforeInsertAborts()
    {
        QTest::keyClick(grid, Qt::Key_Insert);
        QCOMPARE(ds->state(), State::Insert);
        QCOMPARE(ds->recordCount(), 4);
        QCOMPARE(grid->model()->rowCount(), 4);
        QTest::keyClick(grid, Qt::Key_Escape);
        QCOMPARE(ds->recordCount(), 3);

        ds->beforeInsert = [](ClientDataSet &) { abortSilently(); };
        QTest::keyClick(grid, Qt::Key_Insert);
        ds->last();
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(ds->recordCount(), 3);
        QCOMPARE(grid->model()->rowCount(), 3);
        QCOMPARE(ds->state(), State::Browse);
        QVERIFY(reported.isEmpty());   // a silent abort shows nothing

        ds->beforeInsert = nullptr;
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(ds->state(), State::Insert);
        QCOMPARE(ds->recNo(), 3);
        QCOMPARE(grid->currentIndex().row(), 3);
    }

    void aRefusedPostKeepsTheGridOnItsRowAndIsReported()
    {
        ds->beforePost = [](ClientDataSet &) { throw DataSetError("Data de entrega inválida."); };
        QTest::keyClicks(grid, "a");
        QTest::keyClick(editor(), Qt::Key_Down);
        QCOMPARE(ds->recNo(), 0);
        QCOMPARE(grid->currentIndex().row(), 0);
        QCOMPARE(ds->state(), State::Edit);
        QCOMPARE(reported, QStringList({"Data de entrega inválida."}));
    }

    void keyHooksCanSwallowKeys()
    {
        grid->onKeyDown = [](DBGrid &g, int &key, Qt::KeyboardModifiers) {
            if (g.selectedField()->fieldName() != "DTENTPED" && key != Qt::Key_Tab && key != Qt::Key_Down
                && key != Qt::Key_Up && key != Qt::Key_Left && key != Qt::Key_Right)
                key = 0;
        };
        QTest::keyClick(grid, Qt::Key_Insert);
        QTest::keyClicks(grid, "abc");
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ds->state(), State::Browse);
        QCOMPARE(ds->recordCount(), 3);
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(ds->recNo(), 1);

        grid->onKeyDown = nullptr;
        grid->onKeyPress = [](DBGrid &, QChar &c) { c = QChar(); };
        QTest::keyClicks(grid, "abc");
        QCOMPARE(ds->state(), State::Browse);

        // The hook also sees what is typed into an open cell editor.
        QTest::keyClick(grid, Qt::Key_F2);
        QVERIFY(editor());
        QTest::keyClicks(editor(), "xyz");
        QCOMPARE(grid->cellText("DSEMISSAOITPED"), "desc 2");
        grid->onKeyPress = [](DBGrid &, QChar &c) { c = c.toUpper(); };
        editor()->end(false);
        QTest::keyClicks(editor(), "k");
        QCOMPARE(grid->cellText("DSEMISSAOITPED"), "desc 2K");
    }

    void ctrlDeleteAsksFirst()
    {
        bool answer = false;
        int asked = 0;
        grid->confirmDelete = [&](DBGrid &) { ++asked; return answer; };
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ds->recordCount(), 3);
        answer = true;
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ds->recordCount(), 2);
        QCOMPARE(asked, 2);
        QCOMPARE(grid->model()->index(0, 0).data().toString(), "2");
    }

    void withoutTheHostsQuestionNothingIsDeletedAndNoDialogOpens()
    {
        // A dialog of the grid's own would block here: close whatever
        // modal window appears and remember that one did.
        QStringList opened;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget *w = QApplication::activeModalWidget()) {
                opened << w->metaObject()->className();
                w->close();
            }
        });
        closer.start(20);
        grid->confirmDelete = nullptr;
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ds->recordCount(), 3);
        QCOMPARE(opened, QStringList());

        // Without ConfirmDelete nobody is asked and the row goes.
        grid->setOptions(grid->options() & ~DBGrid::ConfirmDelete);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ds->recordCount(), 2);
        QCOMPARE(opened, QStringList());
    }

    void focusControlSelectsTheFieldsCellAndDblClickRunsTheHook()
    {
        ds->setRecNo(2);
        QCOMPARE(grid->currentIndex().row(), 2);
        ds->fieldByName("DTENTPED")->focusControl();
        QCOMPARE(grid->currentIndex(), grid->model()->index(2, 2));
        QCOMPARE(grid->selectedField()->fieldName(), "DTENTPED");
        int clicks = 0;
        grid->onDblClick = [&](DBGrid &) { ++clicks; };
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->currentIndex()).center());
        QCOMPARE(clicks, 1);
    }

    void ellipsisButtonOfTheCurrentCellRunsTheHook()
    {
        int clicks = 0;
        grid->onEditButtonClick = [&](DBGrid &g) {
            ++clicks;
            QCOMPARE(g.selectedField()->fieldName(), "DSEMISSAOITPED");
        };
        const QRect cell = grid->visualRect(grid->currentIndex());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
        QCOMPARE(clicks, 1);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(cell.left() + 4, cell.center().y()));
        QCOMPARE(clicks, 1);
    }

    void newDataAndFilterResetTheModel()
    {
        ds->setFilter("NRPEDIDO = '2'");
        ds->setFiltered(true);
        QCOMPARE(grid->model()->rowCount(), 1);
        ds->close();
        QCOMPARE(grid->model()->rowCount(), 0);
        ds->open();
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(grid->currentIndex().row(), 0);
    }
};

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
