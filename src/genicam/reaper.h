// The worker that does what Aravis cannot do on a stream's own thread:
// stopping and freeing that stream (it would join itself and abort). Stop
// and destroy called from inside the image callback hand their stream here.
#ifndef KWCAM_GENICAM_REAPER_H
#define KWCAM_GENICAM_REAPER_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace genicam {

class Reaper {
public:
    // The process's one reaper; its thread starts with the first job and is
    // joined, with every job done, when the library is unloaded.
    static Reaper& instance();
    ~Reaper();

    // Runs `job` on the reaper's thread, after the jobs posted before it.
    void post(std::function<void()> job);

private:
    Reaper() = default;
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_quit = false;
    std::thread m_thread;
};

}  // namespace genicam

#endif  // KWCAM_GENICAM_REAPER_H
