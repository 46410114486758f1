#include "tests/support/TestSupport.h"

#include "db/Database.h"
#include "db/DayCount.h"
#include "db/Migrator.h"
#include "db/Seeder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <stdexcept>

namespace opd::test {

void seedDatabase(const QString &url, long long orders, quint64 seed)
{
    auto db = db::Database::open(url.toStdString());
    db::Migrator::migrate(*db);
    db::Seeder::seed(*db, orders, seed);
}

QString makeSeededSqlite(const QString &dir, long long orders, quint64 seed)
{
    const QString path = QDir(dir).filePath(QStringLiteral("demo.db"));
    QFile::remove(path);
    const QString url = QStringLiteral("sqlite:") + path;
    seedDatabase(url, orders, seed);
    return url;
}

long long pinToday()
{
    const long long day = db::todayDayCount();
    qputenv("OPD_TEST_TODAY", QByteArray::fromStdString(db::isoFromDayCount(day)));
    return day;
}

QString pgServerUrl()
{
    return qEnvironmentVariable("OPD_TEST_PG_URL");
}

PgTestDatabase::PgTestDatabase()
{
    m_admin = pgServerUrl();
    if (m_admin.isEmpty()) {
        m_error = QStringLiteral("OPD_TEST_PG_URL não definida");
        return;
    }
    // Names come from here only, never from outside, so they can be pasted.
    m_name = QStringLiteral("opd_t_%1_%2").arg(QCoreApplication::applicationPid())
                 .arg(QRandomGenerator::global()->bounded(1u << 30));
    try {
        auto admin = db::Database::open(m_admin.toStdString());
        admin->execScript("CREATE DATABASE " + m_name.toStdString());
    } catch (const std::exception &e) {
        m_error = QString::fromUtf8(e.what());
        return;
    }
    const qsizetype slash = m_admin.lastIndexOf(QLatin1Char('/'));
    m_url = m_admin.left(slash + 1) + m_name;
}

PgTestDatabase::~PgTestDatabase()
{
    if (m_url.isEmpty())
        return;
    try {
        auto admin = db::Database::open(m_admin.toStdString());
        admin->execScript("DROP DATABASE IF EXISTS " + m_name.toStdString() + " WITH (FORCE)");
    } catch (const std::exception &e) {
        qWarning("não foi possível remover %s: %s", qPrintable(m_name), e.what());
    }
}

QString AppServerProcess::binary()
{
    QString dir = qEnvironmentVariable("OPD_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return QDir(dir).filePath(QStringLiteral("opd-appserver"));
}

AppServerProcess::~AppServerProcess()
{
    stop();
}

bool AppServerProcess::start(const QString &dbUrl, const QStringList &extraArgs)
{
    QStringList args{QStringLiteral("--db"), dbUrl, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
    args << extraArgs;
    // The server's log goes straight to the test's stderr: a captured channel
    // that nobody reads would fill its pipe and block the server.
    if (m_logFile.isEmpty()) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setStandardErrorFile(m_logFile);
    }
    m_process.start(binary(), args);
    if (!m_process.waitForStarted(5000)) {
        m_error = m_process.errorString();
        return false;
    }
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!m_process.waitForReadyRead(200) && m_process.state() != QProcess::Running)
            break;
        out += m_process.readAllStandardOutput();
        const qsizetype at = out.indexOf("listening on 127.0.0.1:");
        const qsizetype end = out.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = out.mid(at + 23, end - at - 23).toInt();
            return m_port > 0;
        }
    }
    m_error = QStringLiteral("opd-appserver não ficou pronto (exit %1): ").arg(m_process.exitCode()) +
              QString::fromUtf8(out);
    stop();
    return false;
}

void AppServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

} // namespace opd::test
