#pragma once
// Shared setup for tests that need a database or a running application
// server. Everything here cleans up after itself.
//
//   QTemporaryDir dir;
//   const QString url = opd::test::makeSeededSqlite(dir.path(), 500);
//   opd::test::AppServerProcess server;
//   QVERIFY2(server.start(url), qPrintable(server.errorString()));
//   ... http://127.0.0.1:<server.port()>/rpc ...

#include <QProcess>
#include <QString>
#include <QStringList>

namespace opd::test {

// Migrates and seeds "demo.db" in `dir` (opd-seed's data, see db/Seeder.h);
// returns its URL "sqlite:<path>". Throws std::exception on failure.
QString makeSeededSqlite(const QString &dir, long long orders = 300, quint64 seed = 1);

// Reads the clock once and pins that day as "today" (OPD_TEST_TODAY) for the
// rest of the test: the seeder, in-process handlers and every opd-appserver
// started afterwards. Returns it as a day count. Called again, keeps the day.
long long pinToday();

// OPD_TEST_PG_URL, or empty when PostgreSQL tests are to be skipped.
QString pgServerUrl();

// In a PostgreSQL row, when its database is not there: skips only when
// OPD_TEST_PG_URL is unset; with the URL set the row fails, so a run that was
// given a server cannot pass without using it.
#define OPD_PG_ROW_NEEDS(available, why)                                              \
    do {                                                                              \
        if (!(available)) {                                                           \
            if (opd::test::pgServerUrl().isEmpty())                                   \
                QSKIP("OPD_TEST_PG_URL não definida");                                \
            QFAIL(qPrintable(QStringLiteral("OPD_TEST_PG_URL definida, mas o PostgreSQL "  \
                                            "não está disponível: ") + QString(why)));  \
        }                                                                             \
    } while (false)

// A fresh, uniquely named PostgreSQL database, dropped by the destructor.
class PgTestDatabase
{
public:
    PgTestDatabase();       // creates it on pgServerUrl()
    ~PgTestDatabase();
    bool isValid() const { return !m_url.isEmpty(); }
    QString url() const { return m_url; }          // postgresql://.../<name>
    QString errorString() const { return m_error; }

    PgTestDatabase(const PgTestDatabase &) = delete;
    PgTestDatabase &operator=(const PgTestDatabase &) = delete;

private:
    QString m_admin, m_name, m_url, m_error;
};

// Migrates and seeds any database URL (SQLite or PostgreSQL).
void seedDatabase(const QString &url, long long orders = 300, quint64 seed = 1);

// opd-appserver as a child process on a free loopback port. Its standard
// error (the server's log) is forwarded to the test's own.
class AppServerProcess
{
public:
    ~AppServerProcess();
    // Starts `<OPD_BIN_DIR>/opd-appserver --db url --listen 127.0.0.1:0 extra...`
    // and waits (up to 10 s) for its "listening on" line.
    bool start(const QString &dbUrl, const QStringList &extraArgs = {});
    // Before start(): the server's log goes to this file instead of the
    // test's stderr.
    void setLogFile(const QString &path) { m_logFile = path; }
    int port() const { return m_port; }
    void stop();              // SIGTERM, then kill after 5 s
    QString errorString() const { return m_error; }
    QProcess &process() { return m_process; }

    static QString binary();  // the opd-appserver path

private:
    QProcess m_process;
    int m_port = 0;
    QString m_error;
    QString m_logFile;
};

} // namespace opd::test
