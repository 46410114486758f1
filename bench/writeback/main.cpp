// bench-writeback: what a delivery date posted on the screen costs, from
// the post until the window has repainted (rules, write-back through the
// real application server on loopback, its UPDATE and audit row, the
// repaint), against the floor of such a write measured in the same run: one
// keep-alive HTTP round trip to the same server (the quicker of the screen's
// own connection code and cpp-httplib's client) plus one transaction of a
// prepared UPDATE and audit INSERT on the same SQLite file, through the
// server's own database layer and settings, back to back. Each side's
// median of many. The posts the ratio uses come one after another with
// nothing else writing the file, as for a clerk whose server's workers have
// the file to themselves. Shown beside them, not in the ratio: posts with
// another connection writing between them (which makes SQLite drop the
// server's page cache each time), and the floor's pieces measured right
// after each of those (threads asleep, caches cold).
//
// Also shown: what this machine charges for waking a thread whose core has
// been idle for a while. The floor, measured back to back, never pays it; a
// post after any pause pays it at least once, on whichever thread first
// takes the call over.
//
// --rounds N (default 400) sets the number of posts; a handful is enough to
// check that the bench still runs.
//
// Last line: writeback_vs_floor=X (goal: at most 3).

#include "bench/Median.h"
#include "tests/screen/SeededScreenFixture.h"

#include "db/Database.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/ShowAvi.h"
#include "platform/ClientDataSet.h"
#include "platform/Dates.h"
#include "screen/TfrmDescEmiPed.h"
#include "server/HttpClient.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using opd::bench::median;

namespace {

constexpr int kDefaultRounds = 400;

// Work left over from what came before a measured step (the repaint of an
// edited cell, the busy indicator's hide) would otherwise be charged to
// whatever next spins an event loop; it is done before the clock starts.
void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// The median time from notifying a condition variable until the thread
// waiting on it runs, when that thread has waited `idle` and the notifying
// thread keeps its own core busy (as the window's thread does while it
// watches for a quick answer).
double wakeAfterIdleUs(std::chrono::microseconds idle, int times)
{
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable cv;
    bool go = false, stop = false;
    Clock::time_point sent;
    std::vector<double> latencies;
    std::atomic<bool> ran{false};
    std::thread sleeper([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [&] { return go || stop; });
            if (stop)
                return;
            go = false;
            latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            ran.store(true, std::memory_order_release);
        }
    });
    for (int i = 0; i < times; ++i) {
        for (const auto until = Clock::now() + idle; Clock::now() < until;) {
        }
        ran.store(false, std::memory_order_relaxed);
        {
            std::lock_guard lock(mutex);
            sent = Clock::now();
            go = true;
        }
        cv.notify_one();
        while (!ran.load(std::memory_order_acquire)) {
        }
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    cv.notify_one();
    sleeper.join();
    return median(latencies);
}

int fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "bench-writeback: %s: %s\n", what, qPrintable(detail));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = kDefaultRounds;
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--rounds")); at >= 0) {
        bool ok = false;
        rounds = at + 1 < args.size() ? args.at(at + 1).toInt(&ok) : 0;
        if (!ok || rounds < 1)
            return fail("arguments", QStringLiteral("--rounds needs a whole number of at least 1"));
    }

    // The seeded database, the real server, the host database for the
    // lookups and the screen, as the screen tests have them; then every
    // order of the branch, searched by leaving the filter panel for the
    // orders grid, where the focus stays.
    screentest::SeededScreen fx;
    if (const QString failure = fx.start(2000); !failure.isEmpty())
        return fail("setup", failure);
    if (const QString failure = fx.search(); !failure.isEmpty())
        return fail("search", failure);
    fx.screen->remoteCallObserver = {};   // nothing recorded while measuring
    TfrmDescEmiPed *screen = fx.screen;
    const QString url = fx.dbUrl;
    opd::test::AppServerProcess &server = fx.server;

    // A message would mean a refused or failed write: recorded, never a box.
    QStringList messages;
    Consiste::setMessageSink([&messages](const QString &t) { messages << t; });
    settle();
    opd::ClientDataSet *orders = screen->cdsPedido;
    if (!orders->isActive() || orders->isEmpty())
        return fail("search", QStringLiteral("no order found"));
    orders->first();
    const QString branch = orders->fieldByName("CDFILIAL")->asString();
    const QString order = orders->fieldByName("NRPEDIDO")->asString();
    // The direct writes go to another order: on the screen's row they would
    // be another clerk's change, and the screen's next write a conflict.
    orders->next();
    const QString other = orders->fieldByName("NRPEDIDO")->asString();
    orders->first();
    if (other == order)
        return fail("search", QStringLiteral("a second order is needed"));
    opd::Field *entrega = orders->fieldByName("DTENTPED");
    QAction *confirm = screen->mnuComando[5];   // command 6, what the clerk presses

    // One round of the floor: a bare keep-alive round trip to the server,
    // and the write's own transaction (the UPDATE and the audit row) on the
    // same file through the server's database layer, on the other order.
    // The round trip goes through the screen's own HTTP connection code;
    // cpp-httplib's client is timed beside it, and the quicker is the floor.
    httplib::Client http("127.0.0.1", server.port());
    http.set_tcp_nodelay(true);
    http.set_keep_alive(true);
    HttpClient lean({"127.0.0.1", server.port(), std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)});
    std::unique_ptr<opd::db::Database> own;
    try {
        own = opd::db::Database::open(url.toStdString());
    } catch (const std::exception &e) {
        return fail("direct connection", QString::fromUtf8(e.what()));
    }
    const std::string floorBranch = branch.toStdString(), floorOrder = other.toStdString();
    QElapsedTimer timer;
    const auto floorRound = [&](std::vector<double> &trips, std::vector<double> &txs, double day,
                                std::vector<double> *libraryTrips = nullptr) {
        int status = 0;
        timer.start();
        const HttpClient::Error e = lean.exchange(
            "GET", "/health", {}, {}, {},
            [&](int code, const std::string &) {
                status = code;
                return true;
            },
            [](const char *, size_t) { return true; });
        trips.push_back(double(timer.nsecsElapsed()));
        if (e != HttpClient::Error::Success || status != 200) {
            fail("round trip", QStringLiteral("/health: %1").arg(QString::fromLatin1(toString(e))));
            return false;
        }
        if (libraryTrips) {
            timer.start();
            auto r = http.Get("/health");
            libraryTrips->push_back(double(timer.nsecsElapsed()));
            if (!r || r->status != 200) {
                fail("round trip", QStringLiteral("/health through cpp-httplib"));
                return false;
            }
        }
        try {
            timer.start();
            opd::db::Transaction tx(*own, true);
            auto up = own->prepare("UPDATE PEDIDO SET DTENTPED = ? WHERE CDFILIAL = ? AND NRPEDIDO = ?");
            up->bindText(1, opd::dateFromDayCount(day).toString(Qt::ISODate).toStdString());
            up->bindText(2, floorBranch);
            up->bindText(3, floorOrder);
            up->exec();
            auto in = own->prepare("INSERT INTO AUDITORIA (CDFILIAL, NRPEDIDO, NRITEMPED, NMCAMPO, DSVALORANT,"
                                   " DSVALORNOV, CDUSUARIO, DTAUDITORIA) VALUES (?, ?, NULL, 'DTENTPED', NULL, ?,"
                                   " 'bench', '2026-01-01 00:00:00')");
            in->bindText(1, floorBranch);
            in->bindText(2, floorOrder);
            in->bindText(3, "2026-01-01");
            in->exec();
            up.reset();
            in.reset();
            tx.commit();
            txs.push_back(double(timer.nsecsElapsed()));
        } catch (const std::exception &e) {
            fail("floor transaction", QString::fromUtf8(e.what()));
            return false;
        }
        return true;
    };

    // One post as the clerk makes it: false (with the message printed) when
    // it did not write the date.
    const auto post = [&](double day, std::vector<double> &commandNs, std::vector<double> &untilPaintedNs) {
        orders->edit();
        entrega->setAsDateTime(day);
        settle();
        if (orders->state() != opd::ClientDataSet::State::Edit) {
            fail("edit", QStringLiteral("the row left editing before the post"));
            return false;
        }
        timer.start();
        confirm->trigger();
        commandNs.push_back(double(timer.nsecsElapsed()));
        settle();   // the clerk waits for the repaint too
        untilPaintedNs.push_back(double(timer.nsecsElapsed()));
        if (!messages.isEmpty() || orders->state() != opd::ClientDataSet::State::Browse
            || opd::wholeDays(entrega->asDateTime()) != int(day)) {
            fail("write-back", messages.isEmpty() ? QStringLiteral("the date was not posted")
                                                  : messages.join(QLatin1Char('\n')));
            return false;
        }
        return true;
    };

    // The clerk's posts one after another, nothing else writing the file.
    // A different date each time, so every write changes the row.
    std::vector<double> screenNs, postNs;
    const double today = opd::toDayCount(opd::today());
    for (int i = 0; i < rounds; ++i) {
        if (!post(today + 1 + (i % 20), postNs, screenNs))
            return 1;
    }

    // The same with another connection writing between posts, and the
    // floor's pieces right after each post, in the same state of the
    // machine (threads asleep, caches cold): shown, not the ratio's. SQLite
    // drops a connection's page cache when another one has written since its
    // last transaction, so here the server's write and the floor's
    // transaction each read their pages again.
    std::vector<double> sharedScreenNs, sharedPostNs, coldTripNs, coldTxNs;
    for (int i = 0; i < std::min(rounds, 200); ++i) {
        const double day = today + 1 + (i % 20);
        if (!post(day, sharedPostNs, sharedScreenNs) || !floorRound(coldTripNs, coldTxNs, day))
            return 1;
    }

    // Where the time goes: a read-only round trip, the bare write call
    // without the post around it, and the busy indicator on its own.
    std::vector<double> callNs, busyNs, readNs, refusedNs;
    for (int i = 0; i < std::min(rounds, 100); ++i) {
        const double day = today + 1 + (i % 20);
        settle();
        timer.start();
        screen->chamaServidor(QStringLiteral("SetDtEntregaPed"),
                              {opd::RemoteArg::date(day), opd::RemoteArg::text(branch), opd::RemoteArg::text(order)});
        callNs.push_back(double(timer.nsecsElapsed()));
        settle();
        timer.start();
        screen->chamaServidor(QStringLiteral("getFilial"), {opd::RemoteArg::text(QStringLiteral("01")), opd::RemoteArg::text(QStringLiteral("T"))});
        readNs.push_back(double(timer.nsecsElapsed()));
        settle();
        timer.start();
        screen->chamaServidor(QStringLiteral("SetDtEntregaPed"),
                              {opd::RemoteArg::date(day), opd::RemoteArg::text(branch), opd::RemoteArg::text(QStringLiteral("X"))});
        refusedNs.push_back(double(timer.nsecsElapsed()));
        settle();
        timer.start();
        ActiveShowAvi(HostApplication::mainForm(), TShowAvi::Write);
        DeactiveShowAvi();
        settle();   // its painting belongs to it
        busyNs.push_back(double(timer.nsecsElapsed()));
    }
    std::printf("read call (getFilial): median %.1f us; refused write (no such order): median %.1f us\n",
                median(readNs) / 1000.0, median(refusedNs) / 1000.0);
    std::printf("remote call alone: median %.1f us; busy indicator on and off: median %.1f us\n",
                median(callNs) / 1000.0, median(busyNs) / 1000.0);

    // The floor itself: its pieces back to back, each at its quickest.
    std::vector<double> tripNs, txNs, libraryTripNs;
    for (int i = 0; i < rounds; ++i) {
        if (!floorRound(tripNs, txNs, today + 1 + (i % 20), &libraryTripNs))
            return 1;
    }
    const int wakes = std::clamp(rounds, 20, 200);
    const double wakeShort = wakeAfterIdleUs(std::chrono::microseconds(50), wakes);
    const double wakeLong = wakeAfterIdleUs(std::chrono::microseconds(1000), wakes);

    const double s = median(screenNs);
    const double trip = std::min(median(tripNs), median(libraryTripNs));
    const double floor = trip + median(txNs);
    std::printf("orders seeded 2000, rounds %d, order %s/%s\n", rounds, qPrintable(branch), qPrintable(order));
    std::printf("screen post with write-back, until repainted: median %.1f us (the command itself: median %.1f us)\n",
                s / 1000.0, median(postNs) / 1000.0);
    std::printf("floor: keep-alive round trip median %.1f us + UPDATE and audit transaction median %.1f us\n",
                trip / 1000.0, median(txNs) / 1000.0);
    std::printf("the round trip through the screen's connection: median %.1f us; through cpp-httplib: median %.1f us\n",
                median(tripNs) / 1000.0, median(libraryTripNs) / 1000.0);
    std::printf("with another connection writing between posts: post until repainted median %.1f us"
                " (the command itself: median %.1f us)\n",
                median(sharedScreenNs) / 1000.0, median(sharedPostNs) / 1000.0);
    std::printf("the floor's pieces right after each of those posts: round trip median %.1f us + transaction"
                " median %.1f us\n",
                median(coldTripNs) / 1000.0, median(coldTxNs) / 1000.0);
    std::printf("waking a thread whose core was idle 50 us: median %.1f us; idle 1 ms: median %.1f us\n",
                wakeShort, wakeLong);
    std::printf("writeback_vs_floor=%.2f\n", s / floor);
    fx.stop();
    return 0;
}
