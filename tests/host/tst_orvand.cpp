// The login environment: config file, options and their checks.
#include "host/Orvand.h"

#include <QTemporaryDir>
#include <QTest>

class TstOrvand : public QObject
{
    Q_OBJECT
private slots:
    void init() { Orvand::reset(); }

    void fileSetsEveryValue()
    {
        const QString path = writeIni("[server]\nhost=10.0.0.5\nport=9000\ntoken=abc\n"
                                      "[database]\nurl=sqlite:/tmp/x.db\n"
                                      "[login]\ncompany=02\nbranch=0007\nbranchName=Matriz S\xc3\xa3o Paulo, SP\nuser=ana\n"
                                      "[pictures]\nproduct=\"99.999.999;0; \"\n");
        QString error;
        QVERIFY2(Orvand::load(path, {}, &error), qPrintable(error));
        QCOMPARE(Orvand::WebURL(), QStringLiteral("10.0.0.5"));
        QCOMPARE(Orvand::WebPort(), 9000);
        QCOMPARE(Orvand::environment().token, QStringLiteral("abc"));
        QCOMPARE(Orvand::environment().databaseUrl, QStringLiteral("sqlite:/tmp/x.db"));
        QCOMPARE(Orvand::EmprProc(), QStringLiteral("02"));
        QCOMPARE(Orvand::FiliProc(), QStringLiteral("0007"));
        QCOMPARE(Orvand::NomeFiliProc(), QStringLiteral("Matriz São Paulo, SP"));
        QCOMPARE(Orvand::environment().user, QStringLiteral("ana"));
        QCOMPARE(Orvand::DBPict(TPictType::ProductCode), QStringLiteral("99.999.999;0; "));
    }

    void optionsWinOverFile()
    {
        const QString path = writeIni("[server]\nport=9000\n[login]\nbranch=0007\n");
        QString error;
        QVERIFY2(Orvand::load(path, {{"server-port", "9100"}, {"branch", "0008"}, {"branch", "0009"},
                                     {"db", "postgresql://postgres@127.0.0.1:5432/opd"}},
                              &error),
                 qPrintable(error));
        QCOMPARE(Orvand::WebPort(), 9100);
        QCOMPARE(Orvand::FiliProc(), QStringLiteral("0009"));
        QCOMPARE(Orvand::environment().databaseUrl, QStringLiteral("postgresql://postgres@127.0.0.1:5432/opd"));
        QCOMPARE(Orvand::WebURL(), QStringLiteral("127.0.0.1"));   // default kept
    }

    void badValuesAreRefusedAndChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("port text in file") << QByteArray("[server]\nport=abc\n") << QString() << QString() << "abc";
        QTest::newRow("port zero") << QByteArray() << "server-port" << "0" << "0";
        QTest::newRow("port too big") << QByteArray() << "server-port" << "70000" << "70000";
        QTest::newRow("port with suffix") << QByteArray() << "server-port" << "80x" << "80x";
        QTest::newRow("unknown url") << QByteArray("[database]\nurl=mysql://x\n") << QString() << QString() << "mysql://x";
        QTest::newRow("url without database") << QByteArray() << "db" << "postgresql://u@h:5432" << "banco";
        QTest::newRow("long branch") << QByteArray() << "branch" << "00001" << "00001";
        QTest::newRow("blank host") << QByteArray() << "server-host" << " " << "server-host";
        QTest::newRow("unknown option") << QByteArray() << "colour" << "red" << "--colour";
    }

    void badValuesAreRefusedAndChangeNothing()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, option);
        QFETCH(QString, value);
        QFETCH(QString, mentions);
        // A good value before the bad one must not leak into the environment.
        Orvand::Options args{{"user", "bruno"}};
        if (!option.isEmpty())
            args.append({option, value});
        const QString path = ini.isEmpty() ? QString() : writeIni(ini + "\n[login]\nuser=carla\n");
        QString error;
        QVERIFY(!Orvand::load(path, args, &error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
        QCOMPARE(Orvand::WebPort(), 8431);
        QCOMPARE(Orvand::environment().user, QStringLiteral("clerk"));
    }

    void unreadableFileIsRefused()
    {
        QString error;
        QVERIFY(!Orvand::load(m_dir.filePath(QStringLiteral("missing.ini")), {}, &error));
        QVERIFY(error.contains(QStringLiteral("missing.ini")));
        QVERIFY(!Orvand::load(m_dir.path(), {}, &error));   // a folder is no file
    }

private:
    QString writeIni(const QByteArray &text);
    QTemporaryDir m_dir;
};

QString TstOrvand::writeIni(const QByteArray &text)
{
    const QString path = m_dir.filePath(QStringLiteral("opd.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(text);
    return path;
}

QTEST_MAIN(TstOrvand)
#include "tst_orvand.moc"
