// Triggers at a rate, from a thread of the pacer's own: each trigger is due
// at an absolute deadline on the steady clock (start + n / rate), so that a
// late wake-up does not push the later ones back and the rate holds to the
// clock's precision, not to whole milliseconds.
#ifndef KWCAM_TRIGGERPACER_H
#define KWCAM_TRIGGERPACER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kwcam {

class TriggerPacer {
public:
    // fire runs on the pacer's thread, the first time at once.
    TriggerPacer(double rateHz, std::function<void()> fire);
    // Stops the thread; no trigger fires after it returns.
    ~TriggerPacer();
    TriggerPacer(const TriggerPacer&) = delete;
    TriggerPacer& operator=(const TriggerPacer&) = delete;

    void stop();
    // Triggers per second from the first trigger to the last, 0 with fewer
    // than two. Call after stop().
    double deliveredHz() const;
    unsigned long long fired() const { return m_fired; }

private:
    void run();

    const double m_rateHz;
    const std::function<void()> m_fire;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    unsigned long long m_fired = 0;
    std::chrono::steady_clock::time_point m_first;
    std::chrono::steady_clock::time_point m_last;
    std::thread m_thread;
};

}  // namespace kwcam

#endif  // KWCAM_TRIGGERPACER_H
