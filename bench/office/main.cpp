// bench-office [--pg URL] [--seconds S] [--think-ms T] [--clerks 16,64,256] [--workers N] [--url URL]
// One office against one opd-appserver: 16, 64 and 256 simulated clerks
// (see OfficeLoad.h), on SQLite and then on PostgreSQL when OPD_TEST_PG_URL
// or --pg is given. With --url, against a server already running there
// (its database seeded by the caller). Last lines:
//   first_answer_p99_ms_256=X  search_p99_over_p50_64=Y  calls_per_s_64=Z
// and the same with the suffix _pg.
#include "bench/office/OfficeLoad.h"
#include "tests/support/TestSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <string>

namespace {

using opd::bench::OfficeLoadConfig;
using opd::bench::OfficeLoadResult;

struct Settings
{
    double seconds = 8;
    double thinkMs = 500;
    QList<int> clerks{16, 64, 256};
    QString workers = QStringLiteral("4");
};

void report(const char *label, const OfficeLoadResult &r)
{
    const double searchP50 = OfficeLoadResult::percentile(r.searchMs, 0.5);
    std::printf("[%s] clerks=%d: first answer p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d unanswered); "
                "search p50 %.2f ms, p99 %.2f ms (%zu); write p50 %.2f ms, p99 %.2f ms (%zu); "
                "%.0f calls/s, %lld failed\n",
                label, r.clerks, OfficeLoadResult::percentile(r.firstAnswerMs, 0.5),
                OfficeLoadResult::percentile(r.firstAnswerMs, 0.99), OfficeLoadResult::percentile(r.firstAnswerMs, 1),
                r.unanswered, searchP50, OfficeLoadResult::percentile(r.searchMs, 0.99), r.searchMs.size(),
                OfficeLoadResult::percentile(r.writeMs, 0.5), OfficeLoadResult::percentile(r.writeMs, 0.99),
                r.writeMs.size(), r.callsPerSecond(), r.failures);
    std::fflush(stdout);
}

// Runs every clerk count against `url`; returns the figures by clerk count.
std::map<int, OfficeLoadResult> runAll(const char *label, const std::string &url, const Settings &s)
{
    std::map<int, OfficeLoadResult> results;
    for (int clerks : s.clerks) {
        OfficeLoadConfig config;
        config.url = url;
        config.clerks = clerks;
        config.seconds = s.seconds;
        config.thinkMs = s.thinkMs;
        results[clerks] = opd::bench::runOfficeLoad(config);
        report(label, results[clerks]);
    }
    return results;
}

std::map<int, OfficeLoadResult> runOnDatabase(const char *label, const QString &dbUrl, const Settings &s)
{
    QElapsedTimer timer;
    timer.start();
    opd::test::seedDatabase(dbUrl, 10000, 1);
    std::printf("[%s] seeded 10000 orders in %.1f s\n", label, double(timer.elapsed()) / 1000.0);
    opd::test::AppServerProcess server;
    if (!server.start(dbUrl, {QStringLiteral("--workers"), s.workers}))
        throw std::runtime_error(server.errorString().toStdString());
    auto results = runAll(label, "http://127.0.0.1:" + std::to_string(server.port()), s);
    server.stop();
    return results;
}

void summary(const std::map<int, OfficeLoadResult> &r, const char *suffix)
{
    const auto at = [&](int n) { return r.count(n) ? &r.at(n) : nullptr; };
    if (const auto *big = at(256))
        std::printf("first_answer_p99_ms_256%s=%.1f\n", suffix, OfficeLoadResult::percentile(big->firstAnswerMs, 0.99));
    if (const auto *mid = at(64)) {
        const double p50 = OfficeLoadResult::percentile(mid->searchMs, 0.5);
        std::printf("search_p99_over_p50_64%s=%.2f\n", suffix,
                    p50 > 0 ? OfficeLoadResult::percentile(mid->searchMs, 0.99) / p50 : 0.0);
        std::printf("calls_per_s_64%s=%.0f\n", suffix, mid->callsPerSecond());
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("pg"), QStringLiteral("PostgreSQL server URL (else OPD_TEST_PG_URL)."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of each run."), QStringLiteral("s"), QStringLiteral("8")});
    parser.addOption({QStringLiteral("think-ms"), QStringLiteral("Mean think time."), QStringLiteral("ms"), QStringLiteral("500")});
    parser.addOption({QStringLiteral("clerks"), QStringLiteral("Clerk counts, comma-separated."), QStringLiteral("list"), QStringLiteral("16,64,256")});
    parser.addOption({QStringLiteral("workers"), QStringLiteral("The server's --workers."), QStringLiteral("n"), QStringLiteral("4")});
    parser.addOption({QStringLiteral("url"), QStringLiteral("A running server (http://host:port) instead of starting one."), QStringLiteral("url")});
    parser.process(app);

    Settings s;
    s.seconds = std::max(1.0, parser.value(QStringLiteral("seconds")).toDouble());
    s.thinkMs = std::max(0.0, parser.value(QStringLiteral("think-ms")).toDouble());
    s.workers = parser.value(QStringLiteral("workers"));
    s.clerks.clear();
    for (const QString &n : parser.value(QStringLiteral("clerks")).split(QLatin1Char(',')))
        if (n.toInt() > 0)
            s.clerks << n.toInt();
    if (parser.isSet(QStringLiteral("pg")))
        qputenv("OPD_TEST_PG_URL", parser.value(QStringLiteral("pg")).toUtf8());

    try {
        if (parser.isSet(QStringLiteral("url"))) {
            summary(runAll("server", parser.value(QStringLiteral("url")).toStdString(), s), "");
            return 0;
        }
        QTemporaryDir dir;
        const auto sqlite = runOnDatabase("sqlite", QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("office.db")), s);
        std::map<int, OfficeLoadResult> pg;
        if (!opd::test::pgServerUrl().isEmpty()) {
            opd::test::PgTestDatabase db;
            if (!db.isValid()) {
                std::fprintf(stderr, "[postgresql] %s\n", qPrintable(db.errorString()));
                return 1;
            }
            pg = runOnDatabase("postgresql", db.url(), s);
        }
        summary(sqlite, "");
        if (!pg.empty())
            summary(pg, "_pg");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-office: %s\n", e.what());
        return 1;
    }
    return 0;
}
