#include "CorvelEncoder/engine/prores/ProResThreadPool.h"

namespace corvel {

ProResThreadPool::ProResThreadPool(int threads)
{
    for (int i = 1; i < threads; ++i)
        m_threads.emplace_back([this, i] { work(i); });
}

ProResThreadPool::~ProResThreadPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void ProResThreadPool::drain(int worker)
{
    for (int i = m_next.fetch_add(1); i < m_count; i = m_next.fetch_add(1))
        (*m_task)(i, worker);
}

void ProResThreadPool::run(int count, const std::function<void(int, int)>& task)
{
    {
        std::lock_guard lock(m_mutex);
        m_task = &task;
        m_count = count;
        m_next = 0;
        m_busy = int(m_threads.size());
        ++m_batch;
    }
    m_wake.notify_all();
    drain(0);
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_busy == 0; });
    m_task = nullptr;
}

void ProResThreadPool::work(int worker)
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_batch != seen; });
            if (m_stop)
                return;
            seen = m_batch;
        }
        drain(worker);
        std::lock_guard lock(m_mutex);
        if (--m_busy == 0)
            m_done.notify_one();
    }
}

} // namespace corvel
