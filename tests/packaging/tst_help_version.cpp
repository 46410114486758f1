// Every program answers --help and --version with no display at all: the
// version is the project's, the option texts are Portuguese.
#include <QProcess>
#include <QTest>

class TstHelpVersion : public QObject
{
    Q_OBJECT
private slots:
    void answersWithoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        const QString version = QStringLiteral(OPD_EXPECTED_VERSION);
        for (const char *program : {"opd-host", "opd-appserver", "opd-seed"}) {
            const QString name = QLatin1String(program);
            QTest::newRow(qPrintable(name + " --version")) << name << QStringList{"--version"}
                                                           << name + QLatin1Char(' ') + version;
            QTest::newRow(qPrintable(name + " -v")) << name << QStringList{"-v"} << name + QLatin1Char(' ') + version;
        }
        QTest::newRow("opd-host --help") << "opd-host" << QStringList{"--help"} << "Pasta do pacote da tela";
        QTest::newRow("opd-host -h with other options") << "opd-host" << QStringList{"--open", "OPD31000", "-h"}
                                                        << "Porta do servidor de aplicação";
        QTest::newRow("opd-appserver --help") << "opd-appserver" << QStringList{"--help"} << "URL do banco";
        QTest::newRow("opd-seed --help") << "opd-seed" << QStringList{"--help"} << "Número de pedidos";
    }

    void answersWithoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display of any kind: a QApplication here would abort.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("OPD_BIN_DIR") + QLatin1Char('/') + program, args);
        QVERIFY(p.waitForFinished(30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == 0, qPrintable(err));
        QVERIFY2(out.contains(expected), qPrintable(out));
        if (args.contains(QStringLiteral("--help"))) {
            QVERIFY2(out.contains(QStringLiteral("--version")), qPrintable(out));
            // Descriptions in Portuguese, Qt's own lines included.
            QVERIFY2(!out.contains(QStringLiteral("Displays")), qPrintable(out));
        }
    }
};

QTEST_GUILESS_MAIN(TstHelpVersion)
#include "tst_help_version.moc"
