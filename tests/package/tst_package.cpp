// The package as the host uses it: loaded with QLibrary, its units
// initialized, the screen opened by IniProc, and everything released again.

#include "host/HostApplication.h"
#include "host/Orvand.h"

#include <QDir>
#include <QLibrary>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

class Package : public QObject
{
    Q_OBJECT

    using Entry = void (*)();

private slots:
    void loadsOpensOneScreenAndUnloads()
    {
        Orvand::environment().webUrl = QStringLiteral("127.0.0.1");
        Orvand::environment().webPort = 1;   // nothing listens: the screen opens anyway
        HostApplication::mainForm()->show();

        QLibrary package(QDir(qEnvironmentVariable("OPD_BIN_DIR")).filePath(QStringLiteral("Pkg_opd31000")));
        QVERIFY2(package.load(), qPrintable(package.errorString()));
        const auto initialize = reinterpret_cast<Entry>(package.resolve("Initialize"));
        const auto iniProc = reinterpret_cast<Entry>(package.resolve("IniProc"));
        const auto criaDescEmi = reinterpret_cast<Entry>(package.resolve("CriaDescEmi"));
        const auto finalize = reinterpret_cast<Entry>(package.resolve("Finalize"));
        QVERIFY(initialize && iniProc && criaDescEmi && finalize);

        initialize();
        QMdiArea *area = HostApplication::mdiArea();
        QCOMPARE(area->subWindowList().size(), 0);
        iniProc();
        iniProc();
        criaDescEmi();
        QCOMPARE(area->subWindowList().size(), 1);
        QWidget *screen = area->subWindowList().first()->widget();
        QCOMPARE(screen->objectName(), QStringLiteral("frmDescEmiPed"));
        QCOMPARE(screen->windowTitle(), QStringLiteral("Descrição para Emissão do Pedido"));
        QVERIFY(screen->findChild<QWidget *>(QStringLiteral("panFiltro")));

        // The last finalization takes the open screen with it, so nothing
        // of the package's code is left to run once it is unloaded.
        finalize();
        QCOMPARE(area->subWindowList().size(), 0);
        QVERIFY(package.unload());
    }
};

QTEST_MAIN(Package)
#include "tst_package.moc"
