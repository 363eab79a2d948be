// The acquisition engine: one thread per grabbing device, producing frames
// from a ring of buffers and handing them to the image callback.
#ifndef MVSIM_ACQUISITION_H
#define MVSIM_ACQUISITION_H

#include "device.h"
#include "pattern.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mvsim {

// The device settings a frame depends on. The acquisition keeps its own
// copy, which the registry updates (under both locks) when a setter changes
// the device, so the thread never needs the registry lock.
struct FrameSettings {
    unsigned width = 0;
    unsigned height = 0;
    unsigned pixelType = 0;
    float exposure = 0.0f;
    float gain = 0.0f;
    unsigned triggerMode = 0;
    unsigned triggerSource = 0;
    double frameRate = 0.0;
    double linePulseRate = 0.0;
};

FrameSettings frameSettingsOf(const Device& device);

// Writes pattern and stamp of frame `number` into `frame` (unless null)
// and fills `info`.
void composeFrame(const PatternWriter& writer, unsigned char* frame, unsigned number, const FrameSettings& settings,
                  _MV_FRAME_OUT_INFO_* info);

// Shared by the device (while grabbing), the acquisition thread and, after a
// stop from inside the callback, the parked thread entry that reaps it.
// Lock order: registry mutex before Acquisition::mutex_; the thread itself
// only ever takes mutex_, and never while it runs the callback.
class Acquisition {
public:
    enum class Trigger { Queued, Lost, NotArmed };

    // Allocates the ring; throws std::bad_alloc.
    Acquisition(const FrameSettings& settings, MvImageCallback callback, void* user,
                std::shared_ptr<DeviceStats> stats, std::shared_ptr<DeliveryGate> gate);

    // Starts the thread that runs the acquisition. Throws std::system_error.
    static std::thread launch(const std::shared_ptr<Acquisition>& acquisition);
    // Threads that have started and not yet left their loop.
    static int runningThreads();

    void requestStop();
    void update(const FrameSettings& settings);
    // A line-0 pulse (source 0) or a software trigger (source 7).
    Trigger trigger(unsigned source);
    // Waits until no frame is in production or in the callback and no
    // trigger is pending. False on timeout, on stop, or when called on the
    // acquisition thread itself (it would wait for its own callback).
    bool waitIdle(std::chrono::milliseconds timeout);
    // True once the thread has left its loop and will not touch anything
    // shared any more.
    bool finished();

private:
    using Clock = std::chrono::steady_clock;

    void run();
    bool tickPeriodLocked(Clock::duration* period) const;
    unsigned long long ticksUpToLocked(Clock::time_point now, Clock::duration period);
    void loseLocked(unsigned long long events);
    void produce(unsigned number, const FrameSettings& settings);

    std::mutex mutex_;
    std::condition_variable wake_;
    FrameSettings settings_;
    bool stop_ = false;
    bool pending_ = false;  // one trigger waits for the thread
    unsigned pendingNumber_ = 0;
    bool busy_ = false;     // a frame is being produced or consumed
    bool finished_ = false;
    bool rescheduled_ = true;  // tick schedule restarts from now
    Clock::time_point nextTick_;
    std::thread::id threadId_;

    const MvImageCallback callback_;
    void* const user_;
    const std::shared_ptr<DeviceStats> stats_;
    const std::shared_ptr<DeliveryGate> gate_;
    std::atomic<bool> stopping_{false};  // stop_, readable while waiting for the gate
    const PatternWriter writer_;
    std::vector<std::unique_ptr<unsigned char[]>> ring_;  // touched by the thread only
    std::size_t nextSlot_ = 0;
};

}  // namespace mvsim

#endif  // MVSIM_ACQUISITION_H
