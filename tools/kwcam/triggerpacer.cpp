#include "triggerpacer.h"

#include <utility>

namespace kwcam {

TriggerPacer::TriggerPacer(double rateHz, std::function<void()> fire) : m_rateHz(rateHz), m_fire(std::move(fire))
{
    m_thread = std::thread([this]() { run(); });
}

TriggerPacer::~TriggerPacer()
{
    stop();
}

void TriggerPacer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

double TriggerPacer::deliveredHz() const
{
    if (m_fired < 2)
        return 0;
    const double seconds = std::chrono::duration<double>(m_last - m_first).count();
    return seconds > 0 ? static_cast<double>(m_fired - 1) / seconds : 0;
}

void TriggerPacer::run()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (unsigned long long n = 0;; ++n) {
        // Computed from the start each time: no error adds up.
        const Clock::time_point due =
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n / m_rateHz));
        if (m_wake.wait_until(lock, due, [this]() { return m_stopping; }))
            return;
        lock.unlock();
        m_fire();
        const Clock::time_point now = Clock::now();
        lock.lock();
        if (m_fired == 0)
            m_first = now;
        m_last = now;
        ++m_fired;
    }
}

}  // namespace kwcam
