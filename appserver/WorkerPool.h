#pragma once
// A fixed number of threads taking jobs in arrival order.
//
// The next job goes to the thread that became idle last. A lightly loaded
// server then runs call after call on one thread and its database
// connection: SQLite discards a connection's page cache whenever another
// connection has written since its last transaction, so spreading a
// clerk's writes over four workers made every write read its pages again
// (a write took 410 us on loopback against 225 us on one connection).
// Under load every thread is busy and the order makes no difference.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace opd::appserver {

template <typename Job>
class WorkerPool
{
public:
    ~WorkerPool() { stop(); }

    // body(worker) runs on each thread and takes jobs with next(worker).
    void start(int threads, const std::function<void(int worker)> &body)
    {
        m_wakes = std::make_unique<Wake[]>(std::size_t(threads));
        m_idle.reserve(std::size_t(threads));
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back(body, i);
    }

    void post(Job job)
    {
        Wake *wake = nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
            if (!m_idle.empty()) {
                wake = &m_wakes[std::size_t(m_idle.back())];
                m_idle.pop_back();
                wake->woken = true;
            }
        }
        if (wake)
            wake->cv.notify_one();
    }

    // The next job for this worker, or an empty one when stopping. A woken
    // worker may find its job taken by one that finished meanwhile; it then
    // goes back to waiting.
    Job next(int worker)
    {
        std::unique_lock lock(m_mutex);
        Wake &wake = m_wakes[std::size_t(worker)];
        while (!m_stopping && m_jobs.empty()) {
            m_idle.push_back(worker);
            wake.cv.wait(lock, [&] { return wake.woken || m_stopping; });
            wake.woken = false;
        }
        if (m_stopping)
            return {};
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        return job;
    }

    // Jobs not yet taken are dropped; running ones end first.
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_threads.empty())
                return;
            m_stopping = true;
            m_jobs.clear();
        }
        for (std::size_t i = 0; i < m_threads.size(); ++i)
            m_wakes[i].cv.notify_all();
        for (auto &t : m_threads)
            t.join();
        m_threads.clear();
    }

    // Threads waiting for a job.
    int idle() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_idle.size());
    }

private:
    struct Wake
    {
        std::condition_variable cv;
        bool woken = false;
    };
    mutable std::mutex m_mutex;
    std::deque<Job> m_jobs;
    std::unique_ptr<Wake[]> m_wakes;
    std::vector<int> m_idle;   // the last one became idle last
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
};

} // namespace opd::appserver
