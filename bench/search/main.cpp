// bench-search: the order search as the clerk runs it, against reading the
// same rows straight from the database.
//
// 100,000 orders with about 1,000,000 items are seeded with opd-seed; the
// real application server answers on loopback; the screen is opened through
// its entry routine and the search is started by moving the focus out of the
// filter panel, with a filter that matches every order. The time until both
// data sets are loaded is divided by the time the database's own C API takes
// to read the same rows (the server's two SELECTs) into memory.
//
// Also: switching to the items page with 1,000,000 items loaded against
// 1,000 items, and the client's memory per loaded row against the raw bytes
// of the row's cells. With OPD_TEST_PG_URL set, the search is measured on
// PostgreSQL too, against libpq reading the same rows in single-row mode,
// and the time from posting the whole search (orders and items) to the
// PostgreSQL server until the first byte of its answer arrives
// (items_first_byte_ms_pg; the longest pause between arriving pieces is
// printed with it: a stall there would mean a SELECT fetched whole).
//
// Last lines: items_switch_1m_vs_1k, search_vs_raw, search_vs_raw_pg,
// items_first_byte_ms_pg, memory_per_row_vs_raw.

#include "bench/Median.h"
#include "tests/support/TestSupport.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/Orvand.h"
#include "host/TADOIBQuery.h"
#include "host/TDateEditPlus.h"
#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "screen/Cli_opd31000.h"
#include "screen/TfrmDescEmiPed.h"
#include "server/TNetConnection.h"
#include "tests/appserver/RpcTestClient.h"

#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QApplication>
#include <QCborValue>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using opd::bench::median;

namespace {

constexpr long long kOrders = 100000;
constexpr int kRuns = 3;

// The server's two reads for a filter that matches everything.
const char *const kOrdersSql =
    "SELECT P.NRPEDIDO, CASE WHEN P.CDFILDEST IS NOT NULL THEN F.NMFILIAL ELSE C.NMRAZSOCCLIE END,"
    " P.DTPEDIDO, P.DTENTPED, P.CDFILIAL FROM PEDIDO P"
    " LEFT JOIN CLIENTE C ON C.CDCLIENTE = P.CDCLIENTE LEFT JOIN FILIAL F ON F.CDFILIAL = P.CDFILDEST"
    " ORDER BY P.CDFILIAL, P.NRPEDIDO";
const char *const kItemsSql =
    "SELECT I.NRPEDIDO, I.NRITEMPED, I.CDPRODUTO, PR.CDARVPROD, I.QTITEMPED, PR.NMPRODUTO,"
    " PR.CDPRODESTO, I.CDFILIAL, I.DSEMISSAOITPED FROM PEDIDO P"
    " JOIN ITEMPEDIDO I ON I.CDFILIAL = P.CDFILIAL AND I.NRPEDIDO = P.NRPEDIDO"
    " LEFT JOIN PRODUTO PR ON PR.CDPRODUTO = I.CDPRODUTO ORDER BY I.CDFILIAL, I.NRPEDIDO, I.NRITEMPED";

int fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "bench-search: %s: %s\n", what, qPrintable(detail));
    return 1;
}

// The process's peak resident size so far (VmHWM).
long peakResidentBytes()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() * 1024;
    }
    return 0;
}

long residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4096 : 0;
}

// Reads every cell of both SELECTs into memory as UTF-8 strings; seconds.
double rawSqlite(const QString &path, long *rows)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return -1;
    // The server's own settings: memory-mapped reads.
    sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
    QElapsedTimer t;
    t.start();
    // Texts appended to one byte buffer with their end offsets, numbers as
    // doubles: the cheapest faithful copy (a string object per cell would
    // cost more than the reading itself).
    std::string bytes;
    std::vector<quint32> ends;
    std::vector<double> numbers;
    bytes.reserve(128 << 20);
    ends.reserve(8'000'000);
    numbers.reserve(1'100'000);
    *rows = 0;
    for (const char *sql : {kOrdersSql, kItemsSql}) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return -1;
        }
        const int columns = sqlite3_column_count(stmt);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ++*rows;
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_INTEGER:
                case SQLITE_FLOAT:
                    numbers.push_back(sqlite3_column_double(stmt, c));
                    break;
                case SQLITE_NULL:
                    ends.push_back(quint32(bytes.size()));
                    break;
                default: {
                    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
                    bytes.append(text, size_t(sqlite3_column_bytes(stmt, c)));
                    ends.push_back(quint32(bytes.size()));
                }
                }
            }
        }
        sqlite3_finalize(stmt);
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    sqlite3_close(db);
    return seconds;
}

double rawPostgres(const QString &url, long *rows)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        PQfinish(conn);
        return -1;
    }
    QElapsedTimer t;
    t.start();
    std::string bytes;
    std::vector<quint32> ends;
    bytes.reserve(128 << 20);
    ends.reserve(8'000'000);
    *rows = 0;
    for (const char *sql : {kOrdersSql, kItemsSql}) {
        if (!PQsendQuery(conn, sql) || !PQsetSingleRowMode(conn)) {
            PQfinish(conn);
            return -1;
        }
        bool ok = true;
        while (PGresult *res = PQgetResult(conn)) {
            const auto status = PQresultStatus(res);
            if (status == PGRES_SINGLE_TUPLE) {
                ++*rows;
                const int columns = PQnfields(res);
                for (int c = 0; c < columns; ++c) {
                    bytes.append(PQgetvalue(res, 0, c), size_t(PQgetlength(res, 0, c)));
                    ends.push_back(quint32(bytes.size()));
                }
            } else if (status != PGRES_TUPLES_OK) {
                ok = false;
            }
            PQclear(res);
        }
        if (!ok) {
            PQfinish(conn);
            return -1;
        }
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    PQfinish(conn);
    return seconds;
}

// The whole search posted straight to the server: milliseconds until the
// first byte of the answer, and the longest pause between pieces.
bool firstByte(int port, double *firstMs, double *longestGapMs)
{
    const PedidoArgs all;   // every order, every status
    const QJsonObject request =
        QJsonDocument::fromJson(RpcTestClient::body(QStringLiteral("GetPedido"), all.toArgs())).object();
    const QByteArray body = QCborValue::fromJsonValue(request).toCbor();
    httplib::Client client("127.0.0.1", port);
    client.set_tcp_nodelay(true);
    client.set_read_timeout(300, 0);
    httplib::Request req;
    req.method = "POST";
    req.path = "/rpc";
    req.body.assign(body.constData(), size_t(body.size()));
    req.set_header("Content-Type", "application/cbor");
    QElapsedTimer t;
    qint64 last = -1;
    *firstMs = -1;
    *longestGapMs = 0;
    req.content_receiver = [&](const char *, size_t, uint64_t, uint64_t) {
        const qint64 now = t.nsecsElapsed();
        if (last < 0)
            *firstMs = now / 1e6;
        else
            *longestGapMs = std::max(*longestGapMs, (now - last) / 1e6);
        last = now;
        return true;
    };
    t.start();
    const auto res = client.send(req);
    return res && res->status == 200 && *firstMs >= 0;
}

bool seed(const QString &url)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("opd-seed")),
            {QStringLiteral("--db"), url, QStringLiteral("--orders"), QString::number(kOrders)});
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The screen, opened through the unit against the server on `port`, with a
// filter that matches every order.
TfrmDescEmiPed *openScreen(int port)
{
    Orvand::environment().webUrl = QStringLiteral("127.0.0.1");
    Orvand::environment().webPort = port;
    Orvand::environment().branch.clear();
    Cli_opd31000::CriaDescEmi();
    TfrmDescEmiPed *s = Cli_opd31000::frmDescEmiPed;
    if (!s || !s->netDescEmiPed->Connected())
        return nullptr;
    s->chbPPendente->setFocus();
    s->medCdFilial->clear();
    for (TDateEditPlus *d : {s->depDeEmissao, s->depAteEmissao, s->depDeEntrega, s->depAteEntrega})
        d->Clear();
    for (QCheckBox *c : {s->chbPPendente, s->chbPAndamento, s->chbPLiquidado, s->chbPCancelado,
                         s->chbPParcialmente})
        c->setChecked(true);
    return s;
}

// One search from the filter panel to the orders grid; seconds.
double search(TfrmDescEmiPed *s)
{
    s->chbPPendente->setFocus();   // entering the panel empties both pages
    QElapsedTimer t;
    t.start();
    s->dbgPEDIDO->setFocus();
    return t.nsecsElapsed() / 1e9;
}

double itemsSwitch(TfrmDescEmiPed *s)
{
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        s->cdsPedido->setRecNo(i % std::max(1, s->cdsPedido->recordCount()));
        QElapsedTimer t;
        t.start();
        s->pgcPadrao->setCurrentWidget(s->tshPadrao);
        times.push_back(t.nsecsElapsed() / 1e9);
        s->pgcPadrao->setCurrentWidget(s->tshPEDIDO);
    }
    return median(times);
}

void closeScreen()
{
    if (TfrmDescEmiPed *s = Cli_opd31000::frmDescEmiPed) {
        s->subWindow()->close();
        (void)QTest::qWaitFor([] { return Cli_opd31000::frmDescEmiPed.isNull(); }, 5000);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList messages;
    Consiste::setMessageSink([&](const QString &t) { messages << t; });
    opd::setUnhandledErrorReporter([&](const QString &t) { messages << t; });

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.db"));
    const QString url = QStringLiteral("sqlite:") + path;
    QElapsedTimer seedTime;
    seedTime.start();
    if (!seed(url))
        return fail("seeding", url);
    std::printf("seeded %lld orders in %.1f s\n", kOrders, seedTime.elapsed() / 1000.0);
    opd::test::AppServerProcess server;
    if (!server.start(url))
        return fail("application server", server.errorString());
    QString error;
    if (!dtmDBGeral::open(url, &error))
        return fail("host database", error);

    Cli_opd31000::Initialization();
    QMainWindow *main = HostApplication::mainForm();
    main->show();
    main->activateWindow();
    (void)QTest::qWaitForWindowActive(main);
    TfrmDescEmiPed *s = openScreen(server.port());
    if (!s)
        return fail("screen", QStringLiteral("no connection"));

    // Search against raw reads, interleaved, best of each.
    const long before = residentBytes();
    std::vector<double> searches, raws;
    long rawRows = 0;
    long rssDelta = 0, peakDelta = 0;
    for (int i = 0; i < kRuns; ++i) {
        searches.push_back(search(s));
        if (i == 0) {
            rssDelta = residentBytes() - before;
            peakDelta = peakResidentBytes() - before;
        }
        if (!messages.isEmpty())
            return fail("search", messages.join(QLatin1Char(' ')));
        raws.push_back(rawSqlite(path, &rawRows));
        if (raws.back() < 0)
            return fail("raw read", path);
    }
    const long orders = s->cdsPedido->recordCount();
    const long items = s->cdsItens->recordCount();
    if (orders + items != rawRows)
        return fail("rows", QStringLiteral("%1 loaded, %2 read").arg(orders + items).arg(rawRows));
    const double searchBest = *std::min_element(searches.begin(), searches.end());
    const double rawBest = *std::min_element(raws.begin(), raws.end());
    std::printf("sqlite: %ld orders, %ld items; search %.3f s, raw read %.3f s\n", orders, items,
                searchBest, rawBest);

    // Memory: what the first search added to the process, per row, against
    // the raw bytes of the cells of the same rows.
    const double raw = double(s->cdsPedido->data().rawCellBytes() + s->cdsItens->data().rawCellBytes());
    const double held = double(s->cdsPedido->memoryBytes() + s->cdsItens->memoryBytes());
    std::printf("memory: process grew %.1f MB (peak %.1f MB over the start), data sets report %.1f MB, raw cells %.1f MB"
                " (%.1f bytes of cells per row)\n",
                rssDelta / 1e6, peakDelta / 1e6, held / 1e6, raw / 1e6, raw / double(orders + items));

    // Items page switch: everything loaded, then about 1,000 items.
    const double switch1m = itemsSwitch(s);
    s->chbPPendente->setFocus();
    s->medDeIntervalo->setText(QStringLiteral("0000000001"));
    s->medAteIntervalo->setText(QStringLiteral("0000000100"));
    search(s);
    const long smallItems = s->cdsItens->data().rowCount();
    const double switch1k = itemsSwitch(s);
    std::printf("items page: %.6f s with %ld items, %.6f s with %ld items\n", switch1m, items, switch1k,
                smallItems);
    closeScreen();

    // PostgreSQL, when a server is given.
    double pgRatio = -1, firstByteMs = -1;
    if (!opd::test::pgServerUrl().isEmpty()) {
        opd::test::PgTestDatabase pg;
        opd::test::AppServerProcess pgServer;
        if (!pg.isValid() || !seed(pg.url()) || !pgServer.start(pg.url())) {
            std::printf("postgresql: skipped (%s%s)\n", qPrintable(pg.errorString()),
                        qPrintable(pgServer.errorString()));
        } else if (TfrmDescEmiPed *p = openScreen(pgServer.port())) {
            std::vector<double> ps, pr;
            long pgRows = 0;
            for (int i = 0; i < kRuns; ++i) {
                ps.push_back(search(p));
                pr.push_back(rawPostgres(pg.url(), &pgRows));
            }
            const double a = *std::min_element(ps.begin(), ps.end());
            const double b = *std::min_element(pr.begin(), pr.end());
            std::printf("postgresql: %ld rows; search %.3f s, raw read %.3f s%s\n", pgRows, a, b,
                        messages.isEmpty() ? "" : " (with messages)");
            pgRatio = a / b;
            std::vector<double> firsts, gaps;
            for (int i = 0; i < kRuns; ++i) {
                double first = 0, gap = 0;
                if (firstByte(pgServer.port(), &first, &gap)) {
                    firsts.push_back(first);
                    gaps.push_back(gap);
                }
            }
            if (!firsts.empty()) {
                firstByteMs = median(firsts);
                std::printf("postgresql: whole search posted, first byte after %.1f ms (median of %zu),"
                            " longest pause between pieces %.1f ms\n", firstByteMs, firsts.size(), median(gaps));
            }
            closeScreen();
        }
    }

    Cli_opd31000::Finalization();
    dtmDBGeral::close();
    std::printf("items_switch_1m_vs_1k=%.2f\n", switch1m / switch1k);
    std::printf("search_vs_raw=%.2f\n", searchBest / rawBest);
    if (pgRatio > 0)
        std::printf("search_vs_raw_pg=%.2f\n", pgRatio);
    if (firstByteMs >= 0)
        std::printf("items_first_byte_ms_pg=%.1f\n", firstByteMs);
    // At the peak: what the clerk's machine must have free during the search.
    std::printf("memory_per_row_vs_raw=%.2f\n", double(peakDelta) / raw);
    return 0;
}
