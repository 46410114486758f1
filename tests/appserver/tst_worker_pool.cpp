// The database workers' pool: no job is lost however the threads race, and
// a lightly loaded pool keeps running its calls on one thread.
#include "appserver/WorkerPool.h"

#include <QTest>

#include <atomic>
#include <barrier>
#include <functional>
#include <mutex>
#include <set>

using opd::appserver::WorkerPool;
using Pool = WorkerPool<std::function<void(int)>>;

namespace {

void startPool(Pool &pool, int threads)
{
    pool.start(threads, [&pool](int worker) {
        while (auto job = pool.next(worker))
            job(worker);
    });
}

} // namespace

class TestWorkerPool : public QObject
{
    Q_OBJECT

private slots:
    // One call at a time, with the pool idle in between: every call runs on
    // the worker that ran the one before, whichever woke first at start.
    void callsOneAtATimeStayOnOneWorker()
    {
        Pool pool;
        startPool(pool, 4);
        QTRY_COMPARE(pool.idle(), 4);
        std::mutex mutex;
        std::set<int> workers;
        std::atomic<int> done{0};
        for (int call = 1; call <= 50; ++call) {
            pool.post([&](int worker) {
                std::lock_guard lock(mutex);
                workers.insert(worker);
                ++done;
            });
            QTRY_COMPARE(done.load(), call);
            QTRY_COMPARE(pool.idle(), 4);
        }
        QCOMPARE(workers.size(), std::size_t(1));
    }

    // Four jobs that can only end together need four threads at once; then
    // a flood of jobs posted from two threads while the workers race for
    // them: each runs exactly once.
    void burstsUseEveryWorkerAndLoseNoJob()
    {
        Pool pool;
        startPool(pool, 4);
        std::barrier together(4);
        std::atomic<int> met{0};
        for (int i = 0; i < 4; ++i)
            pool.post([&](int) {
                together.arrive_and_wait();
                ++met;
            });
        QTRY_COMPARE_WITH_TIMEOUT(met.load(), 4, 10000);

        constexpr int kJobs = 20000;
        std::vector<std::atomic<int>> runs(kJobs);
        const auto postHalf = [&](int from) {
            for (int i = from; i < kJobs; i += 2)
                pool.post([&runs, i](int) { ++runs[std::size_t(i)]; });
        };
        std::thread other(postHalf, 1);
        postHalf(0);
        other.join();
        QTRY_COMPARE_WITH_TIMEOUT(pool.idle(), 4, 10000);
        for (int i = 0; i < kJobs; ++i)
            QCOMPARE(runs[std::size_t(i)].load(), 1);
    }

    // Stopping waits for the running job and drops the ones still waiting.
    void stopEndsTheRunningJobAndDropsWaitingOnes()
    {
        Pool pool;
        startPool(pool, 1);
        std::atomic<bool> release{false};
        std::atomic<int> started{0}, ran{0};
        pool.post([&](int) {
            ++started;
            while (!release)
                std::this_thread::yield();
        });
        QTRY_COMPARE(started.load(), 1);
        pool.post([&](int) { ++ran; });   // waits behind the first
        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            pool.stop();
            stopped = true;
        });
        QTest::qWait(20);
        QVERIFY(!stopped);   // the running job is not abandoned
        release = true;
        stopper.join();
        QCOMPARE(ran.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWorkerPool)
#include "tst_worker_pool.moc"
