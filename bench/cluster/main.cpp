// bench-cluster [--pg URL] [--seconds S] [--think-ms T] [--clerks N] [--workers W] [--orders O]
// The office load of bench/office (N clerks, default 64) on PostgreSQL,
// in one run: against one opd-appserver directly, then against two behind
// HAProxy (scripts/cluster balance). The think time is short by default so
// that the servers, not the clerks' pauses, set the pace. Last line:
//   two_servers_vs_one=X    (calls/s of two servers over one)
#include "bench/office/OfficeLoad.h"
#include "tests/support/TestSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using opd::bench::OfficeLoadConfig;
using opd::bench::OfficeLoadResult;

static void report(const char *label, const OfficeLoadResult &r)
{
    std::printf("[%s] clerks=%d: %.0f calls/s, search p50 %.2f ms p99 %.2f ms, write p50 %.2f ms p99 %.2f ms, "
                "%lld failed\n",
                label, r.clerks, r.callsPerSecond(), OfficeLoadResult::percentile(r.searchMs, 0.5),
                OfficeLoadResult::percentile(r.searchMs, 0.99), OfficeLoadResult::percentile(r.writeMs, 0.5),
                OfficeLoadResult::percentile(r.writeMs, 0.99), r.failures);
    std::fflush(stdout);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("pg"), QStringLiteral("PostgreSQL server URL."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Each run."), QStringLiteral("s"), QStringLiteral("8")});
    parser.addOption({QStringLiteral("think-ms"), QStringLiteral("Mean pause."), QStringLiteral("ms"), QStringLiteral("20")});
    parser.addOption({QStringLiteral("clerks"), QStringLiteral("Clerks."), QStringLiteral("n"), QStringLiteral("64")});
    parser.addOption({QStringLiteral("workers"), QStringLiteral("Each server's --workers."), QStringLiteral("n"), QStringLiteral("4")});
    parser.addOption({QStringLiteral("orders"), QStringLiteral("Orders seeded."), QStringLiteral("n"), QStringLiteral("10000")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("pg")))
        qputenv("OPD_TEST_PG_URL", parser.value(QStringLiteral("pg")).toUtf8());
    if (opd::test::pgServerUrl().isEmpty()) {
        std::fprintf(stderr, "bench-cluster: PostgreSQL needed (--pg URL or OPD_TEST_PG_URL)\n");
        return 2;
    }
    opd::test::PgTestDatabase db;
    if (!db.isValid()) {
        std::fprintf(stderr, "bench-cluster: %s\n", qPrintable(db.errorString()));
        return 1;
    }
    opd::test::seedDatabase(db.url(), parser.value(QStringLiteral("orders")).toLongLong(), 1);

    const QStringList serverArgs{QStringLiteral("--workers"), parser.value(QStringLiteral("workers"))};
    opd::test::AppServerProcess one, two;
    if (!one.start(db.url(), serverArgs) || !two.start(db.url(), serverArgs)) {
        std::fprintf(stderr, "bench-cluster: %s%s\n", qPrintable(one.errorString()), qPrintable(two.errorString()));
        return 1;
    }
    QTemporaryDir dir;
    const QString lbDir = dir.path() + QStringLiteral("/lb");
    const QString script = QStringLiteral(OPD_SOURCE_DIR "/scripts/cluster");
    QProcess lb;
    lb.start(script, {QStringLiteral("balance"), lbDir, QStringLiteral("127.0.0.1:%1").arg(one.port()),
                      QStringLiteral("127.0.0.1:%1").arg(two.port())});
    if (!lb.waitForFinished(20000) || lb.exitCode() != 0) {
        std::fprintf(stderr, "bench-cluster: haproxy: %s\n", lb.readAllStandardError().constData());
        return 1;
    }
    const std::string balancer = QString::fromUtf8(lb.readAllStandardOutput()).trimmed().toStdString();
    QThread::sleep(2);   // both servers pass their health checks

    OfficeLoadConfig config;
    config.clerks = parser.value(QStringLiteral("clerks")).toInt();
    config.seconds = parser.value(QStringLiteral("seconds")).toDouble();
    config.thinkMs = parser.value(QStringLiteral("think-ms")).toDouble();
    config.url = "http://127.0.0.1:" + std::to_string(one.port());
    const OfficeLoadResult direct = opd::bench::runOfficeLoad(config);
    report("one server", direct);
    config.url = "http://" + balancer;
    const OfficeLoadResult balanced = opd::bench::runOfficeLoad(config);
    report("two servers behind haproxy", balanced);
    QProcess::execute(script, {QStringLiteral("stop"), lbDir});

    std::printf("two_servers_vs_one=%.2f\n",
                direct.callsPerSecond() > 0 ? balanced.callsPerSecond() / direct.callsPerSecond() : 0.0);
    return 0;
}
