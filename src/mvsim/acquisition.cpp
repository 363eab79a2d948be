#include "acquisition.h"

#include <atomic>
#include <cmath>

namespace mvsim {

namespace {

constexpr std::size_t ringSize = 3;

std::atomic<int> threadsRunning{0};

}  // namespace

FrameSettings frameSettingsOf(const Device& device) {
    FrameSettings s;
    s.width = device.setup.width;
    s.height = device.setup.height;
    s.pixelType = device.setup.pixelType;
    s.exposure = device.setup.exposure;
    s.gain = device.setup.gain;
    s.triggerMode = device.triggerMode;
    s.triggerSource = device.triggerSource;
    s.frameRate = device.setup.frameRate;
    s.linePulseRate = device.setup.linePulseRate;
    return s;
}

void composeFrame(const PatternWriter& writer, unsigned char* frame, unsigned number, const FrameSettings& settings,
                  _MV_FRAME_OUT_INFO_* info) {
    const std::size_t len = writer.frameBytes();
    if (frame) {
        writer.fill(frame, number);
        MvsimFrameStamp stamp{};
        stamp.magic = MVSIM_STAMP_MAGIC;
        stamp.frameNumber = number;
        stamp.exposure = settings.exposure;
        stamp.gain = settings.gain;
        stamp.triggerSource = settings.triggerMode ? settings.triggerSource : MVSIM_FREE_RUNNING;
        writeStamp(frame, len, stamp);
    }
    *info = _MV_FRAME_OUT_INFO_{};
    info->nWidth = static_cast<unsigned short>(settings.width);
    info->nHeight = static_cast<unsigned short>(settings.height);
    info->enPixelType = settings.pixelType;
    info->nFrameNum = number;
    info->nFrameLen = static_cast<unsigned>(len);
    info->nHostTimeStamp = static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

Acquisition::Acquisition(const FrameSettings& settings, MvImageCallback callback, void* user,
                         std::shared_ptr<DeviceStats> stats, std::shared_ptr<DeliveryGate> gate)
    : settings_(settings), callback_(callback), user_(user), stats_(std::move(stats)), gate_(std::move(gate)),
      writer_(settings.width, settings.height, settings.pixelType) {
    for (std::size_t i = 0; i < ringSize; ++i)
        ring_.emplace_back(new unsigned char[writer_.frameBytes()]);
}

std::thread Acquisition::launch(const std::shared_ptr<Acquisition>& acquisition) {
    ++threadsRunning;
    try {
        // The thread keeps its own reference: after a stop from inside the
        // callback nobody else may hold the context any more.
        return std::thread([acquisition] { acquisition->run(); });
    } catch (...) {
        --threadsRunning;
        throw;
    }
}

int Acquisition::runningThreads() { return threadsRunning.load(); }

void Acquisition::requestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        stopping_ = true;
        wake_.notify_all();
    }
    // A frame waiting for its turn behind a delivered one is dropped.
    gate_->wake();
}

void Acquisition::update(const FrameSettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (settings.triggerMode != settings_.triggerMode || settings.triggerSource != settings_.triggerSource ||
        settings.frameRate != settings_.frameRate || settings.linePulseRate != settings_.linePulseRate)
        rescheduled_ = true;
    settings_ = settings;
    wake_.notify_all();
}

Acquisition::Trigger Acquisition::trigger(unsigned source) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || settings_.triggerMode != 1 || settings_.triggerSource != source)
        return Trigger::NotArmed;
    if (busy_ || pending_) {
        loseLocked(1);
        return Trigger::Lost;
    }
    pending_ = true;
    pendingNumber_ = stats_->nextFrameNumber();
    wake_.notify_all();
    return Trigger::Queued;
}

bool Acquisition::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (threadId_ == std::this_thread::get_id())
        return false;
    wake_.wait_for(lock, timeout, [&] { return stop_ || (!busy_ && !pending_); });
    return !stop_ && !busy_ && !pending_;
}

bool Acquisition::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

// Frame-rate ticks while free-running, line-0 pulses of the pulse generator
// while triggered from line 0; no schedule otherwise.
bool Acquisition::tickPeriodLocked(Clock::duration* period) const {
    double rate = 0.0;
    if (settings_.triggerMode == 0)
        rate = settings_.frameRate;
    else if (settings_.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0)
        rate = settings_.linePulseRate;
    if (!(rate > 0.0))
        return false;
    const auto ns = std::max(1.0, std::round(1e9 / rate));
    *period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::nano>(ns));
    return true;
}

// Ticks of the schedule at or before `now`; moves the schedule past them.
unsigned long long Acquisition::ticksUpToLocked(Clock::time_point now, Clock::duration period) {
    if (now < nextTick_)
        return 0;
    const auto ticks = static_cast<unsigned long long>((now - nextTick_) / period) + 1;
    nextTick_ += period * static_cast<Clock::rep>(ticks);
    return ticks;
}

// A lost frame event still uses up a frame number, as on a camera.
void Acquisition::loseLocked(unsigned long long events) {
    if (events == 0)
        return;
    stats_->lost += events;
    stats_->frameNumber += static_cast<unsigned>(events);
}

void Acquisition::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    threadId_ = std::this_thread::get_id();
    while (!stop_) {
        Clock::duration period{};
        const bool timed = tickPeriodLocked(&period);
        if (rescheduled_) {
            nextTick_ = Clock::now() + period;
            rescheduled_ = false;
        }
        unsigned number = 0;
        if (pending_) {
            number = pendingNumber_;
            pending_ = false;
        } else if (settings_.triggerMode == 0 && !timed) {
            number = stats_->nextFrameNumber();  // as fast as the consumer takes them
        } else if (timed) {
            const Clock::time_point now = Clock::now();
            if (now < nextTick_) {
                wake_.wait_until(lock, nextTick_);
                continue;
            }
            // Ticks beyond the first passed while this thread was late.
            loseLocked(ticksUpToLocked(now, period) - 1);
            number = stats_->nextFrameNumber();
        } else {
            wake_.wait(lock);
            continue;
        }
        const FrameSettings frame = settings_;
        busy_ = true;
        lock.unlock();
        produce(number, frame);
        lock.lock();
        busy_ = false;
        wake_.notify_all();  // waitIdle
        // Ticks that came while the consumer was busy are lost; once the
        // consumer has asked to stop, they are merely not wanted.
        if (!stop_ && tickPeriodLocked(&period) && !rescheduled_)
            loseLocked(ticksUpToLocked(Clock::now(), period));
    }
    finished_ = true;
    lock.unlock();
    --threadsRunning;
}

void Acquisition::produce(unsigned number, const FrameSettings& settings) {
    if (!callback_) {
        ++stats_->produced;
        return;
    }
    unsigned char* buffer = ring_[nextSlot_].get();
    nextSlot_ = (nextSlot_ + 1) % ring_.size();
    _MV_FRAME_OUT_INFO_ info;
    composeFrame(writer_, buffer, number, settings, &info);
    if (!gate_->enter(&stopping_)) {
        ++stats_->lost;
        return;
    }
    ++stats_->produced;
    ++stats_->delivered;
    callback_(buffer, &info, user_);
    gate_->leave();
}

}  // namespace mvsim
