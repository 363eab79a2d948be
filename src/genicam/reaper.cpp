#include "reaper.h"

namespace genicam {

Reaper& Reaper::instance()
{
    static Reaper reaper;
    return reaper;
}

Reaper::~Reaper()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Reaper::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_jobs.push_back(std::move(job));
        if (!m_thread.joinable())
            m_thread = std::thread(&Reaper::run, this);
    }
    m_wake.notify_one();
}

void Reaper::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

}  // namespace genicam
