// The acquisition of a grabbing device: a sensor side that exposes and
// reads out frames into free frame buffers on its schedule (free-running
// ticks, line-0 pulses, triggers), and a delivery side that hands completed
// frames to the image callback, in order, one at a time.
#ifndef MVSIM_ACQUISITION_H
#define MVSIM_ACQUISITION_H

#include "deliverygate.h"
#include "exports.h"
#include "framesettings.h"
#include "framesource.h"
#include "ledger.h"
#include "schedule.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mvsim {

// Writes the source's picture and (when the source stamps) the stamp of
// frame `number` into `frame` (unless null) and fills `info`.
FrameSource::Filled composeFrame(FrameSource& source, unsigned char* frame, unsigned number, unsigned picture,
                                 const FrameSettings& settings, _MV_FRAME_OUT_INFO_* info);

// Shared by the device (while grabbing), its two threads and, after a stop
// from inside the callback, the parked thread entry that reaps it.
// Lock order: registry mutex before Acquisition::mutex_ before the ledger's
// and the delivery gate's; the threads only ever take mutex_ and those, and
// hold none of them while the callback runs.
class Acquisition {
public:
    enum class Trigger { Started, Missed, NotArmed };

    struct Identity {
        std::string model, serial;
        std::string ledgerCsv;  // where the ledger goes at stop; empty for nowhere
    };

    // Allocates the frame buffers; throws std::bad_alloc.
    Acquisition(const FrameSettings& settings, MvImageCallback callback, void* user, std::shared_ptr<Ledger> ledger,
                std::shared_ptr<DeliveryGate> gate, std::unique_ptr<FrameSource> source, Identity identity);

    // Starts the delivery thread, which owns (starts and joins) the sensor
    // thread. Throws std::system_error.
    static std::thread launch(const std::shared_ptr<Acquisition>& acquisition);
    // Acquisitions whose threads have started and not yet both ended.
    static int runningThreads();

    // Frames not yet delivered settle with `fate` (dropped, or unplugged).
    void requestStop(unsigned fate = MVSIM_FATE_DROPPED);
    void update(const FrameSettings& settings);
    // The source has pictures again (a rewind): a sensor idling for want
    // of one looks again.
    void picturesChanged();
    // A line-0 pulse (source 0) or a software trigger (source 7).
    Trigger trigger(unsigned source);
    // Waits until no frame is in exposure, readout, a buffer or the callback.
    // False on timeout, on stop, or when called on the delivery thread.
    bool waitIdle(std::chrono::milliseconds timeout);
    // True once both threads have left their loops and will not touch
    // anything shared any more.
    bool finished();

private:
    using Clock = std::chrono::steady_clock;
    using Pacing = FrameSchedule::Pacing;

    struct InFlight {
        Ledger::Id id;
        unsigned number;
        Clock::time_point readoutEnd;
        FrameSettings settings;
        std::size_t slot;  // its buffer, taken at once by a frame that takes no time; noSlot otherwise
        unsigned picture;  // claimed from the source as the event started
    };
    static constexpr std::size_t noSlot = static_cast<std::size_t>(-1);
    struct Ready {
        Ledger::Id id;
        std::size_t slot;
        _MV_FRAME_OUT_INFO_ info;
        const unsigned char* zeroCopy;  // the source's own pixels instead of the buffer's
        std::shared_ptr<const void> hold;
    };
    // What the delivery thread hands to the callback next.
    enum class Next { Stop, Queued, Made };

    void runSensor();
    void runDelivery();
    Next awaitFrameLocked(std::unique_lock<std::mutex>& lock, Clock::time_point freedAt, Ready* queued, InFlight* made);
    Clock::time_point deliverLocked(std::unique_lock<std::mutex>& lock, Ready& frame, const InFlight* toCompose);
    void waitLocked(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, bool* waiting,
                    Clock::time_point deadline, Clock::time_point now);
    void takeDueTicksLocked(std::unique_lock<std::mutex>& lock);
    Trigger startFrameLocked(unsigned cause, Clock::time_point at, InFlight* made = nullptr);
    void completeFrontLocked(std::unique_lock<std::mutex>& lock);
    void settleLeftoversLocked();
    bool idleLocked() const;

    std::mutex mutex_;
    std::condition_variable sensorWake_;
    std::condition_variable deliveryWake_;
    std::condition_variable idle_;
    FrameSettings settings_;
    bool stop_ = false;
    unsigned stopFate_ = MVSIM_FATE_DROPPED;
    bool finished_ = false;
    bool sensorWaiting_ = false;
    bool deliveryWaiting_ = false;
    bool composing_ = false;
    bool inCallback_ = false;
    FrameSchedule schedule_;
    std::deque<InFlight> inFlight_;  // in exposure or readout, by readout end
    std::deque<Ready> ready_;        // complete, in buffers, waiting for the callback
    std::vector<std::size_t> freeSlots_;
    std::thread::id deliveryThread_;
    std::thread sensorThread_;  // started by launch, joined by the delivery thread

    const MvImageCallback callback_;
    void* const user_;
    const std::shared_ptr<Ledger> ledger_;
    const std::shared_ptr<DeliveryGate> gate_;
    const std::unique_ptr<FrameSource> source_;  // used by the sensor thread only
    const Identity identity_;
    const Ledger::Id firstId_;
    const std::size_t frameBytes_;
    std::atomic<bool> stopping_{false};  // stop_, readable while waiting for the gate or spinning
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
};

}  // namespace mvsim

#endif  // MVSIM_ACQUISITION_H
