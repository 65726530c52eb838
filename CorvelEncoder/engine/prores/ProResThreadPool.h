#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvel {

// A few threads that run one batch of indexed tasks at a time; the calling thread works too
// and run() returns when every task of the batch is done. Owned and used by one encoder.
class ProResThreadPool final
{
public:
    explicit ProResThreadPool(int threads);
    ~ProResThreadPool();
    ProResThreadPool(const ProResThreadPool&) = delete;
    ProResThreadPool& operator=(const ProResThreadPool&) = delete;

    // Threads that may run a task at once, the caller included.
    int workers() const { return int(m_threads.size()) + 1; }
    // Calls task(index, worker) for every index below count; worker < workers().
    void run(int count, const std::function<void(int index, int worker)>& task);

private:
    void work(int worker);
    void drain(int worker);

    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(int, int)>* m_task = nullptr;
    int m_count = 0;
    std::atomic<int> m_next{0};
    int m_busy = 0;
    uint64_t m_batch = 0;
    bool m_stop = false;
};

} // namespace corvel
