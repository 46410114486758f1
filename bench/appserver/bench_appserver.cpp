// bench-appserver [--pg URL] [--seconds S]
// GetPedido requests per second on the screen's default filter (statuses
// "12", entry dates today-2..today, everything else "T") from 4 concurrent
// keep-alive clients, and the size and time of one answer of ~250,000 items;
// on SQLite, then on PostgreSQL when OPD_TEST_PG_URL or --pg is given.
//
// Last line (with PostgreSQL): pg_vs_sqlite_searches_per_s=X, SQLite's
// default-filter searches per second over PostgreSQL's in the same run.
#include "db/DayCount.h"
#include "tests/appserver/RpcTestClient.h"
#include "tests/support/TestSupport.h"

#include <httplib.h>

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

QByteArray cborRequest(const PedidoArgs &args)
{
    const QJsonObject request =
        QJsonDocument::fromJson(RpcTestClient::body(QStringLiteral("GetPedido"), args.toArgs())).object();
    return QCborValue::fromJsonValue(request).toCbor();
}

bool answerOk(const std::string &body)
{
    const QCborMap map = QCborValue::fromCbor(QByteArray::fromRawData(body.data(), qsizetype(body.size()))).toMap();
    return map.value(QStringLiteral("result")).toMap().value(QStringLiteral("ok")).toBool();
}

double run(const char *label, const QString &url, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    opd::test::seedDatabase(url, 30000, 1);
    std::printf("[%s] seeded 30000 orders in %.1f s\n", label, double(timer.elapsed()) / 1000.0);

    opd::test::AppServerProcess server;
    if (!server.start(url, {QStringLiteral("--workers"), QStringLiteral("4")})) {
        std::fprintf(stderr, "[%s] %s\n", label, qPrintable(server.errorString()));
        return 0;
    }
    const long long today = opd::db::todayDayCount();
    PedidoArgs screen;
    screen.statuses = QStringLiteral("12");
    screen.noEntryDates.clear();
    screen.entryFrom = double(today - 2);
    screen.entryTo = double(today);
    const QByteArray small = cborRequest(screen);

    std::atomic<long long> requests{0}, failures{0}, bytes{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", server.port());
            client.set_tcp_nodelay(true);
            client.set_keep_alive(true);
            while (!stop) {
                auto r = client.Post("/rpc", small.constData(), size_t(small.size()), "application/cbor");
                if (r && r->status == 200 && answerOk(r->body)) {
                    ++requests;
                    bytes += (long long)r->body.size();
                } else {
                    ++failures;
                }
            }
        });
    }
    timer.restart();
    std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
    stop = true;
    for (auto &t : clients)
        t.join();
    const double elapsed = double(timer.elapsed()) / 1000.0;
    const double perSecond = failures ? 0 : double(requests) / elapsed;
    std::printf("[%s] default filter: %.0f requests/s from 4 keep-alive clients (%lld answers, %lld failed, "
                "%.1f KiB each)\n", label, double(requests) / elapsed, requests.load(), failures.load(),
                requests ? double(bytes) / double(requests) / 1024.0 : 0.0);

    // ~250,000 items: the first 25,000 order numbers, every status.
    PedidoArgs large;
    large.allNumbersNotRange.clear();
    large.rangeFrom = QStringLiteral("1");
    large.rangeTo = QStringLiteral("25000");
    large.allStatuses = QStringLiteral("T");
    httplib::Client client("127.0.0.1", server.port());
    client.set_tcp_nodelay(true);
    client.set_read_timeout(120, 0);
    for (const bool cbor : {true, false}) {
        const QByteArray body = cbor ? cborRequest(large) : RpcTestClient::body(QStringLiteral("GetPedido"), large.toArgs());
        timer.restart();
        auto r = client.Post("/rpc", body.constData(), size_t(body.size()), cbor ? "application/cbor" : "application/json");
        const double took = double(timer.elapsed()) / 1000.0;
        if (!r || r->status != 200) {
            std::printf("[%s] large answer failed: %s\n", label,
                        r ? std::to_string(r->status).c_str() : httplib::to_string(r.error()).c_str());
            continue;
        }
        long long items = 0;
        if (cbor) {
            const QCborMap map = QCborValue::fromCbor(QByteArray::fromRawData(r->body.data(), qsizetype(r->body.size()))).toMap();
            items = map.value(QStringLiteral("result")).toMap().value(QStringLiteral("payload")).toArray().at(1)
                        .toMap().value(QStringLiteral("count")).toInteger();
        }
        std::printf("[%s] large answer (%s): %s%.1f MB in %.2f s\n", label, cbor ? "CBOR" : "JSON",
                    cbor ? qPrintable(QStringLiteral("%1 items, ").arg(items)) : "",
                    double(r->body.size()) / 1e6, took);
    }
    server.stop();
    return perSecond;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("pg"), QStringLiteral("PostgreSQL server URL (else OPD_TEST_PG_URL)."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of the throughput run."), QStringLiteral("s"), QStringLiteral("4")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("pg")))
        qputenv("OPD_TEST_PG_URL", parser.value(QStringLiteral("pg")).toUtf8());
    const double seconds = std::max(1.0, parser.value(QStringLiteral("seconds")).toDouble());

    QTemporaryDir dir;
    try {
        const double sqlite = run("sqlite", QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db")), seconds);
        if (!opd::test::pgServerUrl().isEmpty()) {
            opd::test::PgTestDatabase pg;
            if (!pg.isValid()) {
                std::fprintf(stderr, "[postgresql] %s\n", qPrintable(pg.errorString()));
                return 1;
            }
            const double postgres = run("postgresql", pg.url(), seconds);
            if (sqlite <= 0 || postgres <= 0) {
                std::fprintf(stderr, "bench-appserver: a throughput run failed\n");
                return 1;
            }
            std::printf("pg_vs_sqlite_searches_per_s=%.2f\n", sqlite / postgres);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-appserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
