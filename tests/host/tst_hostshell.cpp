// The host shell: its command line, and the package's entry points run in
// order by the real opd-host executable.
#include "host/HostShell.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TstHostShell : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_bin = qEnvironmentVariable("OPD_BIN_DIR");
        QVERIFY(QFile::exists(m_bin + QStringLiteral("/opd-host")));
        QVERIFY(QFile::exists(package()));
    }

    void parsesOwnAndEnvironmentOptions()
    {
        HostShell::Options options;
        QString error;
        QCOMPARE(HostShell::parseArguments({"opd-host", "--open", "OPD31000", "--focus", "dbgPEDIDO",
                                            "--screenshot", "/tmp/x.png", "--server-port", "9000",
                                            "--branch=0001"},
                                           &options, &error),
                 0);
        QCOMPARE(options.open, QStringLiteral("OPD31000"));
        QCOMPARE(options.focus, QStringLiteral("dbgPEDIDO"));
        QCOMPARE(options.screenshot, QStringLiteral("/tmp/x.png"));
        QCOMPARE(options.environmentOptions, (Orvand::Options{{"server-port", "9000"}, {"branch", "0001"}}));
    }

    void badCommandLinesExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown option") << QStringList{"--colour", "red"} << "colour";
        QTest::newRow("unknown screen") << QStringList{"--open", "OPD99999"} << "OPD99999";
        QTest::newRow("missing config") << QStringList{"--config", "/nonexistent/opd.ini"} << "/nonexistent/opd.ini";
        QTest::newRow("bad port") << QStringList{"--server-port", "porta"} << "porta";
        QTest::newRow("missing value") << QStringList{"--user"} << "user";
        QTest::newRow("stray argument") << QStringList{"loose"} << "loose";
        QTest::newRow("screenshot without open") << QStringList{"--screenshot", "x.png"} << "--open";
        QTest::newRow("stray argument") << QStringList{"OPD31000"} << "OPD31000";
    }

    void badCommandLinesExitWithTwo()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        const Run run = runHost(args);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(mentions), qPrintable(run.err));
    }

    void opensPackageScreenAndSavesScreenshot()
    {
        const QString log = m_dir.filePath(QStringLiteral("open.log"));
        const QString shot = m_dir.filePath(QStringLiteral("shot.png"));
        const Run run = runHost({"--package", package(), "--open", "OPD31000", "--focus", "edtTeste",
                                 "--screenshot", shot, "--branch", "0001"},
                                log);
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QImage image(shot);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() >= 747);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        // Loaded, opened, created, activated ... closed before the package's
        // finalization, which comes last.
        QCOMPARE(lines.mid(0, 4), (QStringList{"Initialize", "IniProc", "FormCreate", "FormActivate"}));
        QCOMPARE(lines.count(QStringLiteral("FormCreate")), 1);
        QCOMPARE(lines.count(QStringLiteral("FormClose")), 1);
        QVERIFY(lines.indexOf(QStringLiteral("FormClose")) < lines.indexOf(QStringLiteral("Finalize")));
        QCOMPARE(lines.last(), QStringLiteral("Finalize"));
    }

    void withoutConfigReadsFirstOpdIniOfStandardPlaces()
    {
        // XDG folders of the test's own: ~/.config/opd-host/opd.ini before
        // ~/.config/opd.ini before the system folders; a bad value in the file
        // found proves it was read (exit 2 naming it), and the log line says which.
        QTemporaryDir home, system;
        const QString appDir = home.filePath(QStringLiteral("opd-host"));
        QVERIFY(QDir().mkpath(appDir));
        auto write = [](const QString &path, const QByteArray &text) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
        };
        const QString appIni = appDir + QStringLiteral("/opd.ini");
        const QString userIni = home.filePath(QStringLiteral("opd.ini"));
        const QString systemIni = system.filePath(QStringLiteral("opd.ini"));
        QVERIFY(write(systemIni, "[server]\nport=sistema\n"));
        const QStringList env{QStringLiteral("XDG_CONFIG_HOME=") + home.path(),
                              QStringLiteral("XDG_CONFIG_DIRS=") + system.path()};
        Run run = runHost({"--package", package()}, QString(), env);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(QStringLiteral("configuração lida de ") + systemIni), qPrintable(run.err));
        QVERIFY(write(userIni, "[server]\nport=usuario\n"));
        run = runHost({"--package", package()}, QString(), env);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(userIni + QStringLiteral(" [server/port]")), qPrintable(run.err));
        QVERIFY(write(appIni, "[server]\nport=aplicativo\n"));
        run = runHost({"--package", package()}, QString(), env);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(QStringLiteral("configuração lida de ") + appIni), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("aplicativo")), qPrintable(run.err));
        // --config wins over every standard place.
        const QString given = home.filePath(QStringLiteral("dado.ini"));
        QVERIFY(write(given, "[server]\nport=dado\n"));
        run = runHost({"--config", given, "--package", package()}, QString(), env);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(QStringLiteral("configuração lida de ") + given), qPrintable(run.err));
    }

    void packageDirOptionNamesWhereThePackageIsLooked()
    {
        const Run run = runHost({"--package-dir", m_dir.filePath("nada"), "--open", "OPD31000",
                                 "--screenshot", m_dir.filePath("never.png")});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(m_dir.filePath("nada")), qPrintable(run.err));
        const Run both = runHost({"--package-dir", m_dir.path(), "--package", package()});
        QCOMPARE(both.code, 2);
    }

    void missingPackageFailsClearly()
    {
        const Run run = runHost({"--package", m_dir.filePath("nothing.so"), "--open", "OPD31000",
                                 "--screenshot", m_dir.filePath("never.png")});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QStringLiteral("nothing.so")), qPrintable(run.err));
        QVERIFY(!QFile::exists(m_dir.filePath("never.png")));
    }

    void menuEntryRunsIniProcAndUnloadFinalizes()
    {
        // In-process: the same shell class the executable runs.
        const QString log = m_dir.filePath(QStringLiteral("menu.log"));
        qputenv("OPD_TEST_PACKAGE_LOG", log.toUtf8());
        {
            HostShell shell;
            QString error;
            // The window is built by run(); without it the menu is the entry point.
            QVERIFY2(shell.loadPackage(package(), &error), qPrintable(error));
            shell.openScreen();
            shell.openScreen();   // a second call shows the same screen
            shell.unloadPackage();
            QVERIFY(!shell.packageLoaded());
        }
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("Initialize"));
        QCOMPARE(lines.count(QStringLiteral("IniProc")), 2);
        QCOMPARE(lines.count(QStringLiteral("FormCreate")), 1);
        QCOMPARE(lines.last(), QStringLiteral("Finalize"));
    }

private:
    struct Run { int code; QString err; };
    Run runHost(const QStringList &args, const QString &log = QString(), const QStringList &extraEnv = {});
    QString package() const { return m_bin + QStringLiteral("/libopd_test_package.so"); }
    QString m_bin;
    QTemporaryDir m_dir;
};

TstHostShell::Run TstHostShell::runHost(const QStringList &args, const QString &log,
                                       const QStringList &extraEnv)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &pair : extraEnv)
        env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    if (!log.isEmpty())
        env.insert(QStringLiteral("OPD_TEST_PACKAGE_LOG"), log);
    p.setProcessEnvironment(env);
    p.start(m_bin + QStringLiteral("/opd-host"), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, QStringLiteral("timed out")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QTEST_MAIN(TstHostShell)
#include "tst_hostshell.moc"
