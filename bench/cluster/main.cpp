// bench-cluster [--pg URL] [--seconds S] [--rounds R] [--think-ms T] [--clerks N] [--workers W] [--orders O]
// The office load of bench/office (N clerks, default 64) on PostgreSQL,
// in one run: against one opd-appserver directly and against two behind
// HAProxy (scripts/cluster balance), R rounds of each, interleaved (one,
// two, then two, one, ...) so that a change in the machine's other load
// falls on both alike. The think time is short by default so that the
// servers, not the clerks' pauses, set the pace. Each run also reports the
// CPU the servers and HAProxy spent per call: on a machine whose cores are
// all busy, that, not the calls per second, says what a second process
// costs. Last line:
//   two_servers_vs_one=X    (median over the rounds of calls/s of two servers over one)
#include "bench/Median.h"
#include "bench/office/OfficeLoad.h"
#include "tests/support/DbLines.h"
#include "tests/support/TestSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using opd::bench::OfficeLoadConfig;
using opd::bench::OfficeLoadResult;

using opd::bench::median;

namespace {

// User and system CPU seconds a process has used so far; 0 when it is gone.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command's closing parenthesis: state is the 3rd,
    // utime and stime the 14th and 15th.
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return 0;
    return double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double cpuSeconds(const std::vector<qint64> &pids)
{
    double sum = 0;
    for (qint64 p : pids)
        sum += cpuSeconds(p);
    return sum;
}

// This process's CPU seconds: the clerks' threads.
double ownCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of one run, by who spent them.
struct Cpu
{
    double servers = 0;    // the servers and HAProxy in front of them
    double database = 0;   // the PostgreSQL backends serving the test database
    double clerks = 0;     // the load generator
};

void report(const char *label, const OfficeLoadResult &r, const Cpu &cpu)
{
    const auto perCall = [&](double seconds) { return r.calls > 0 ? 1000.0 * seconds / double(r.calls) : 0.0; };
    std::printf("[%s] clerks=%d: %.0f calls/s, search p50 %.2f ms p99 %.2f ms, write p50 %.2f ms p99 %.2f ms, "
                "%lld failed; CPU ms per call: servers %.2f, postgres %.2f, clerks %.2f\n",
                label, r.clerks, r.callsPerSecond(), OfficeLoadResult::percentile(r.searchMs, 0.5),
                OfficeLoadResult::percentile(r.searchMs, 0.99), OfficeLoadResult::percentile(r.writeMs, 0.5),
                OfficeLoadResult::percentile(r.writeMs, 0.99), r.failures, perCall(cpu.servers),
                perCall(cpu.database), perCall(cpu.clerks));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("pg"), QStringLiteral("PostgreSQL server URL."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Each run."), QStringLiteral("s"), QStringLiteral("6")});
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Runs of each side."), QStringLiteral("n"), QStringLiteral("3")});
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
    QFile pidFile(lbDir + QStringLiteral("/haproxy.pid"));
    const qint64 haproxy = pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0;
    QThread::sleep(2);   // both servers pass their health checks

    OfficeLoadConfig config;
    config.clerks = parser.value(QStringLiteral("clerks")).toInt();
    config.seconds = parser.value(QStringLiteral("seconds")).toDouble();
    config.thinkMs = parser.value(QStringLiteral("think-ms")).toDouble();
    const std::string direct = "http://127.0.0.1:" + std::to_string(one.port());
    const std::string balanced = "http://" + balancer;
    const std::vector<qint64> oneServer{one.process().processId()};
    const std::vector<qint64> twoServers{one.process().processId(), two.process().processId(), haproxy};

    // The backends of the test database, when PostgreSQL runs on this machine
    // (their pids are then ours to read in /proc); the servers keep one per
    // worker for the whole run.
    auto watcher = opd::db::Database::open(db.url().toStdString());
    const auto backends = [&] {
        std::vector<qint64> pids;
        for (const QString &pid : selectLines(*watcher, "SELECT pid FROM pg_stat_activity"
                                                        " WHERE datname = current_database() AND pid <> pg_backend_pid()", 1))
            pids.push_back(pid.toLongLong());
        return pids;
    };
    const auto run = [&](bool both) {
        config.url = both ? balanced : direct;
        const std::vector<qint64> &pids = both ? twoServers : oneServer;
        std::map<qint64, double> database;
        for (qint64 p : backends())
            database[p] = cpuSeconds(p);
        Cpu cpu{-cpuSeconds(pids), 0, -ownCpuSeconds()};
        const OfficeLoadResult r = opd::bench::runOfficeLoad(config);
        cpu.servers += cpuSeconds(pids);
        cpu.clerks += ownCpuSeconds();
        // A backend opened during the run counts whole; one closed during it is lost.
        for (qint64 p : backends())
            cpu.database += cpuSeconds(p) - (database.count(p) ? database[p] : 0.0);
        report(both ? "two servers behind haproxy" : "one server", r, cpu);
        return r.callsPerSecond();
    };
    std::vector<double> ratios;
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    for (int round = 0; round < rounds; ++round) {
        double single = 0, pair = 0;
        if (round % 2 == 0) {
            single = run(false);
            pair = run(true);
        } else {
            pair = run(true);
            single = run(false);
        }
        ratios.push_back(single > 0 ? pair / single : 0.0);
        std::printf("round %d: %.2f\n", round + 1, ratios.back());
        std::fflush(stdout);
    }
    QProcess::execute(script, {QStringLiteral("stop"), lbDir});

    std::printf("two_servers_vs_one=%.2f\n", median(ratios));
    return 0;
}
