// The three lookup pickers and the issuing-branch check against the host
// database, run once on SQLite and once on PostgreSQL (OPD_TEST_PG_URL; the
// PostgreSQL rows skip when it is unset). What the screen lists or accepts is
// compared with what an independent query reads from the same database.

#include "../screen/ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"
#include "tests/support/TestSupport.h"

#include "db/Database.h"
#include "db/Migrator.h"
#include "platform/ListText.h"
#include "host/Pickers.h"
#include "host/TADOIBQuery.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "platform/DataSource.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

using namespace screentest;

namespace {

// One column of an independent query, sorted, for set comparisons.
QStringList columnOf(const QString &url, const char *sql)
{
    auto db = opd::db::Database::open(url.toStdString());
    auto stmt = db->prepare(sql);
    QStringList out;
    while (stmt->step())
        out << QString::fromUtf8(stmt->text(0).data(), qsizetype(stmt->text(0).size()));
    out.sort();
    return out;
}

// Keys of every row of the picker's data set, sorted.
QStringList keysOf(opd::DataSource *source, const QString &field)
{
    opd::ClientDataSet *ds = source->dataSet();
    const int f = ds->fieldByName(field.toUtf8())->index();
    QStringList out;
    for (int r = 0; r < ds->recordCount(); ++r)
        out << QString::fromUtf8(ds->textAt(r, f));
    out.sort();
    return out;
}

// A short branch code, so that blanks can be typed around it, and one closed
// to orders.
const char *kExtraBranches =
    "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDSEGMER, IDCNTRRESC, CDEMPRESA)"
    " VALUES ('12', 'Filial Doze', NULL, 'N', '01');"
    "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDSEGMER, IDCNTRRESC, CDEMPRESA)"
    " VALUES ('13', 'Filial Treze Fechada', NULL, 'S', '01');";

void prepareEmpty(const QString &url)
{
    auto db = opd::db::Database::open(url.toStdString());
    opd::db::Migrator::migrate(*db);
}

void prepareFull(const QString &url)
{
    opd::test::seedDatabase(url, 30);
    opd::db::Database::open(url.toStdString())->execScript(kExtraBranches);
}

} // namespace

class TstPickersLookup : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString sqliteFull, sqliteEmpty;
    std::unique_ptr<opd::test::PgTestDatabase> pgFull, pgEmpty;
    QString pgError;
    TfrmDescEmiPed *screen = nullptr;
    QStringList shown;
    int pickerRuns = 0;
    opd::DataSource *lastSource = nullptr;
    QString lastListBefore;

    // Each test runs on the database its row names; PostgreSQL rows skip
    // when no server is configured.
    void addBackends()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    QString urlFor(const QString &backend, bool full)
    {
        if (backend == QLatin1String("sqlite"))
            return full ? sqliteFull : sqliteEmpty;
        if (!pgFull || !pgFull->isValid() || !pgEmpty->isValid())
            return QString();
        return full ? pgFull->url() : pgEmpty->url();
    }

    bool useDatabase(const QString &url)
    {
        QString error;
        if (!dtmDBGeral::open(url, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    }

    // Types a code into the branch edit and leaves it for another control of
    // the panel, as the clerk does.
    void typeBranchAndLeave(const QString &code)
    {
        screen->medCdFilial->setFocus(Qt::MouseFocusReason);
        screen->medCdFilial->setText(code);
        screen->depDeEntrega->setFocus(Qt::TabFocusReason);
    }

#define USE_BACKEND(full)                                                        \
    QFETCH(QString, backend);                                                    \
    const QString url = urlFor(backend, full);                                   \
    OPD_PG_ROW_NEEDS(!url.isEmpty(), pgError);                                   \
    QVERIFY(useDatabase(url));                                                   \
    screen = openScreen();                                                       \
    QVERIFY(screen)

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("full"));
        sqliteFull = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("full/demo.db"));
        sqliteEmpty = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("empty.db"));
        prepareFull(sqliteFull);
        prepareEmpty(sqliteEmpty);
        if (!opd::test::pgServerUrl().isEmpty()) {
            pgFull = std::make_unique<opd::test::PgTestDatabase>();
            pgEmpty = std::make_unique<opd::test::PgTestDatabase>();
            QVERIFY2(pgFull->isValid(), qPrintable(pgFull->errorString()));
            QVERIFY2(pgEmpty->isValid(), qPrintable(pgEmpty->errorString()));
            prepareFull(pgFull->url());
            prepareEmpty(pgEmpty->url());
        } else {
            pgError = QStringLiteral("OPD_TEST_PG_URL não definida");
        }

        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        Consiste::setMessageSink([this](const QString &t) { shown << t; });
        pickerHooks().pesquisaLista = [this](opd::DataSource *source, const QString &key, const QString &,
                                             QString &list) {
            ++pickerRuns;
            lastSource = source;
            lastListBefore = list;
            // The clerk marks the first two rows.
            opd::ClientDataSet *ds = source->dataSet();
            const int f = ds->fieldByName(key.toUtf8())->index();
            QStringList keys;
            for (int r = 0; r < qMin(2, ds->recordCount()); ++r)
                keys << QString::fromUtf8(ds->textAt(r, f));
            list = opd::listtext::join(keys);
            return true;
        };
    }

    void cleanupTestCase()
    {
        pickerHooks() = PickerHooks();
        dtmDBGeral::close();
    }

    void init()
    {
        shown.clear();
        pickerRuns = 0;
        lastSource = nullptr;
        lastListBefore.clear();
        for (QString *l : {&Cli_opd31000::ListaCliente(), &Cli_opd31000::ListaFiliDest(),
                           &Cli_opd31000::ListaVendedor()})
            l->clear();
    }

    void cleanup()
    {
        QVERIFY(closeScreen());
        screen = nullptr;
    }

    // ---- Lookup pickers ----------------------------------------------------

    void lookupPickersListTheQueryRowsAndKeepTheChoice_data() { addBackends(); }
    void lookupPickersListTheQueryRowsAndKeepTheChoice()
    {
        USE_BACKEND(true);
        struct Case
        {
            QRadioButton *lista;
            QToolButton *button;
            opd::DataSource *source;
            TADOIBQuery *query;
            QString key;
            QString *list;
            const char *expected;
        };
        const QList<Case> cases = {
            {screen->rbtLCliente, screen->sbtCliente, screen->dtsCliente, screen->qryCliente,
             QStringLiteral("CDCLIENTE"), &Cli_opd31000::ListaCliente(),
             "SELECT C.CDCLIENTE FROM CLIENTE C JOIN ENDECLIE E ON E.CDCLIENTE = C.CDCLIENTE"
             " WHERE E.IDTPENDECLIE = 'P'"},
            {screen->rbtListaFili, screen->sbtFiliDest, screen->dtsFilialDest, screen->qryFiliDest,
             QStringLiteral("CDFILIAL"), &Cli_opd31000::ListaFiliDest(), "SELECT CDFILIAL FROM FILIAL"},
            {screen->rbtLVendedor, screen->sbtVendedor, screen->dtsVendedor, screen->qryVendedor,
             QStringLiteral("CDVENDEDOR"), &Cli_opd31000::ListaVendedor(),
             // Representatives ('R') are no salespeople of an order.
             "SELECT CDVENDEDOR FROM VENDEDOR WHERE IDCARGOVEND <> 'R'"},
        };
        for (const Case &c : cases) {
            c.lista->setChecked(true);
            const int before = pickerRuns;
            QTest::mouseClick(c.button, Qt::LeftButton);
            QCOMPARE(pickerRuns, before + 1);
            QCOMPARE(lastSource, c.source);
            const QStringList rows = keysOf(c.source, c.key);
            QCOMPARE(rows, columnOf(url, c.expected));
            QVERIFY(rows.size() >= 2);
            QStringList chosen;
            QVERIFY(opd::listtext::parse(*c.list, &chosen, nullptr));
            QCOMPARE(chosen.size(), 2);
            // The query stays open for the life of the screen, and the next
            // pick is offered the current choice.
            QVERIFY(c.query->isActive());
            const QString first = *c.list;
            QTest::mouseClick(c.button, Qt::LeftButton);
            QCOMPARE(lastListBefore, first);
        }
        QVERIFY(shown.isEmpty());
    }

    void emptyListsShowTheirMessageAndMoveTheFocus_data() { addBackends(); }
    void emptyListsShowTheirMessageAndMoveTheFocus()
    {
        USE_BACKEND(false);
        struct Case
        {
            QRadioButton *lista;
            QToolButton *button;
            QString *list;
            QString message;
            QWidget *focus;
        };
        const QList<Case> cases = {
            {screen->rbtLCliente, screen->sbtCliente, &Cli_opd31000::ListaCliente(),
             QStringLiteral("Não há cliente cadastrado."), screen->rbtLCliente},
            {screen->rbtListaFili, screen->sbtFiliDest, &Cli_opd31000::ListaFiliDest(),
             QStringLiteral("Não há filial destino cadastrada."), screen->rbtTodosFili},
            {screen->rbtLVendedor, screen->sbtVendedor, &Cli_opd31000::ListaVendedor(),
             QStringLiteral("Não há vendedor cadastrado."), screen->rbtLVendedor},
        };
        for (const Case &c : cases) {
            c.lista->setChecked(true);
            *c.list = QStringLiteral("'ANTIGO'");
            screen->chbPPendente->setFocus();
            shown.clear();
            QTest::mouseClick(c.button, Qt::LeftButton);
            QCOMPARE(shown, QStringList{c.message});
            QCOMPARE(QApplication::focusWidget(), c.focus);
            QCOMPARE(*c.list, QStringLiteral("'ANTIGO'"));
            // The mode is not changed by the refusal, even where the focus
            // went to "Todos".
            QVERIFY(c.lista->isChecked());
        }
        QCOMPARE(pickerRuns, 0);
    }

    // ---- Issuing branch ------------------------------------------------------

    // A known code shows its name and hands the focus on; an unknown one,
    // or one closed to orders, is refused and keeps it. Blanks around the
    // code are not part of it, and an empty code is not checked at all.
    void branchCodeIsCheckedOnLeaving_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("refused");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString backend = QString::fromLatin1(b);
            QTest::addRow("%s registered", b) << backend << QStringLiteral("0003") << false;
            QTest::addRow("%s typed with blanks", b) << backend << QStringLiteral(" 12 ") << false;
            QTest::addRow("%s empty", b) << backend << QStringLiteral("  ") << false;
            QTest::addRow("%s unknown", b) << backend << QStringLiteral("9999") << true;
            QTest::addRow("%s closed to orders", b) << backend << QStringLiteral("13") << true;
            QTest::addRow("%s seeded closed", b) << backend << QStringLiteral("0006") << true;
        }
    }

    void branchCodeIsCheckedOnLeaving()
    {
        USE_BACKEND(true);
        QFETCH(QString, code);
        QFETCH(bool, refused);
        typeBranchAndLeave(code);
        QCOMPARE(screen->medCdFilial->text(), code);
        if (refused) {
            QCOMPARE(shown, QStringList{QStringLiteral("Filial não cadastrada.")});
            QCOMPARE(QApplication::focusWidget(), screen->medCdFilial);
            QVERIFY(screen->edtNmFilial->text().isEmpty());
            return;
        }
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));
        QCOMPARE(QApplication::focusWidget(), screen->depDeEntrega);
        if (code.trimmed().isEmpty()) {
            QVERIFY(screen->edtNmFilial->text().isEmpty());
            return;
        }
        const QStringList name = columnOf(url, qPrintable(QStringLiteral(
            "SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = '%1'").arg(code.trimmed())));
        QCOMPARE(name.size(), 1);
        QCOMPARE(screen->edtNmFilial->text(), name.first());
        // Any change of the code takes the name away.
        screen->medCdFilial->setText(code.trimmed().chopped(1));
        QVERIFY(screen->edtNmFilial->text().isEmpty());
    }

    void branchCannotBeCheckedWithoutTheDatabase()
    {
        dtmDBGeral::close();
        screen = openScreen();
        QVERIFY(screen);
        typeBranchAndLeave(QStringLiteral("0001"));
        QCOMPARE(shown.size(), 1);
        QVERIFY(!shown[0].isEmpty());
        QCOMPARE(QApplication::focusWidget(), screen->medCdFilial);
        QVERIFY(screen->edtNmFilial->text().isEmpty());
    }
};

OPD_HOST_TEST_MAIN(TstPickersLookup)
#include "tst_pickers_lookup.moc"
