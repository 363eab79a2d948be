#include "acquisition.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace mvsim {

namespace {

std::atomic<int> acquisitionsRunning{0};

// Deadlines closer than this are awaited by spinning: a timed wait wakes up
// tens of microseconds late, which at high frame rates would bunch ticks.
constexpr std::chrono::microseconds spinMargin{80};

std::chrono::steady_clock::duration nanoseconds(double ns)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::nano>(std::round(ns)));
}

std::chrono::steady_clock::duration exposureOf(const FrameSettings& s)
{
    return s.instant ? std::chrono::steady_clock::duration::zero() : nanoseconds(double(s.exposure) * 1e3);
}

std::chrono::steady_clock::duration readoutOf(const FrameSettings& s, std::size_t frameBytes)
{
    if (s.instant || !(s.bandwidthMBps > 0.0))
        return std::chrono::steady_clock::duration::zero();
    return nanoseconds(double(frameBytes) / s.bandwidthMBps * 1e3);
}

}  // namespace

FrameSource::Filled composeFrame(FrameSource& source, unsigned char* frame, unsigned number, unsigned picture,
                                 const FrameSettings& settings, _MV_FRAME_OUT_INFO_* info)
{
    const std::size_t len = source.frameBytes();
    FrameSource::Filled filled;
    filled.picture = picture;
    if (frame)
        filled = source.fill(frame, number, picture);
    if (frame && !filled.shared && source.stamped()) {
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
    info->nHostTimeStamp = static_cast<unsigned long long>(nowNs());
    return filled;
}

Acquisition::Acquisition(const FrameSettings& settings, MvImageCallback callback, void* user,
                         std::shared_ptr<Ledger> ledger, std::shared_ptr<DeliveryGate> gate,
                         std::unique_ptr<FrameSource> source, Identity identity)
    : settings_(settings), callback_(callback), user_(user), ledger_(std::move(ledger)), gate_(std::move(gate)),
      source_(std::move(source)), identity_(std::move(identity)), firstId_(ledger_->nextId()),
      frameBytes_(source_->frameBytes())
{
    const unsigned count = std::max(1u, settings.bufferCount);
    for (std::size_t i = 0; i < count; ++i) {
        buffers_.emplace_back(new unsigned char[frameBytes_]);
        freeSlots_.push_back(count - 1 - i);
    }
}

std::thread Acquisition::launch(const std::shared_ptr<Acquisition>& acquisition)
{
    ++acquisitionsRunning;
    try {
        // The threads keep their own references: after a stop from inside
        // the callback nobody else may hold the context any more.
        acquisition->sensorThread_ = std::thread([acquisition] { acquisition->runSensor(); });
    } catch (...) {
        --acquisitionsRunning;
        throw;
    }
    try {
        return std::thread([acquisition] { acquisition->runDelivery(); });
    } catch (...) {
        acquisition->requestStop();
        acquisition->sensorThread_.join();
        --acquisitionsRunning;
        throw;
    }
}

int Acquisition::runningThreads()
{
    return acquisitionsRunning.load();
}

void Acquisition::requestStop(unsigned fate)
{
    // Seen by threads that loop without waiting, before the lock is had.
    stopping_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stop_)
            stopFate_ = fate;
        stop_ = true;
        stopping_ = true;
        sensorWake_.notify_all();
        deliveryWake_.notify_all();
        idle_.notify_all();
    }
    // A frame waiting for its turn behind a delivered one is dropped; one
    // waiting for its picture stops waiting.
    gate_->wake();
    source_->interrupt();
}

void Acquisition::update(const FrameSettings& settings)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Clock::duration before{}, after{};
    unsigned cause = 0;
    const bool timedBefore = periodLocked(&before, &cause);
    settings_ = settings;
    const bool timedAfter = periodLocked(&after, &cause);
    if (timedBefore != timedAfter || before != after)
        rescheduled_ = true;
    sensorWake_.notify_all();
    deliveryWake_.notify_all();  // it makes the frames when unpaced
}

void Acquisition::picturesChanged()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sensorWake_.notify_all();
    deliveryWake_.notify_all();  // it makes the frames when unpaced
}

Acquisition::Trigger Acquisition::trigger(unsigned source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || settings_.triggerMode != 1 || settings_.triggerSource != source)
        return Trigger::NotArmed;
    const Trigger result =
        startFrameLocked(source == MVSIM_TRIGGER_SOURCE_LINE0 ? MVSIM_CAUSE_LINE0 : MVSIM_CAUSE_SOFTWARE, Clock::now());
    if (sensorWaiting_)
        sensorWake_.notify_all();
    return result;
}

bool Acquisition::idleLocked() const
{
    return inFlight_.empty() && ready_.empty() && !composing_ && !inCallback_;
}

bool Acquisition::waitIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (deliveryThread_ == std::this_thread::get_id())
        return false;
    idle_.wait_for(lock, timeout, [&] { return stop_ || idleLocked(); });
    return !stop_ && idleLocked();
}

bool Acquisition::finished()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

// The schedule of the sensor: free-running, a frame every frame period, the
// largest of 1/frameRate, the exposure and the readout (0: a frame whenever
// a buffer is free); triggered from line 0, the pulse generator's pulses; no
// schedule otherwise.
bool Acquisition::periodLocked(Clock::duration* period, unsigned* cause) const
{
    if (settings_.triggerMode == 0) {
        Clock::duration p = std::max(exposureOf(settings_), readoutOf(settings_, frameBytes_));
        if (settings_.frameRate > 0.0)
            p = std::max(p, nanoseconds(std::max(1.0, 1e9 / settings_.frameRate)));
        *period = p;
        *cause = MVSIM_CAUSE_FREE_RUN;
        return true;
    }
    if (settings_.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0 && settings_.linePulseRate > 0.0) {
        *period = nanoseconds(std::max(1.0, 1e9 / settings_.linePulseRate));
        *cause = MVSIM_CAUSE_LINE0;
        return true;
    }
    return false;
}

// Free-running frames that take no time (instant timing, or no exposure and
// no readout) complete at their tick: the delivery thread keeps their
// schedule itself, so that a frame needs no hand-over between threads.
bool Acquisition::deliveryTicksLocked(Clock::duration period) const
{
    return settings_.triggerMode == 0 && period != Clock::duration::zero() &&
        exposureOf(settings_) == Clock::duration::zero() &&
        readoutOf(settings_, frameBytes_) == Clock::duration::zero();
}

// Ticks of the delivery thread's schedule that are due: each completes into
// a free buffer, or is lost for want of one.
void Acquisition::takeDueTicksLocked(std::unique_lock<std::mutex>& lock, Clock::duration period, unsigned cause)
{
    const Clock::time_point now = Clock::now();
    if (rescheduled_) {
        nextTick_ = now + period;
        rescheduled_ = false;
    }
    // Frames the sensor still has under way (from before a change of
    // settings) come first; it hands them over when they are complete.
    while (nextTick_ <= now && !stop_ && inFlight_.empty() && !composing_) {
        startFrameLocked(cause, nextTick_);
        nextTick_ += period;
        if (!inFlight_.empty())
            completeFrontLocked(lock);
    }
}

// A frame event at `at`: an exposure starts unless one is under way (a
// trigger then is missed, as with trigger overlap off); the readout follows
// the exposure once the previous readout is done. A frame that is complete
// as it starts and has a buffer goes to `made`, when given, instead of the
// frames under way (`made->slot` stays noSlot otherwise).
Acquisition::Trigger Acquisition::startFrameLocked(unsigned cause, Clock::time_point at, InFlight* made)
{
    MvsimLedgerEntry entry{};
    entry.cause = cause;
    entry.triggerTime = toNs(at);
    if (at < exposingUntil_) {
        ledger_->settle(ledger_->open(entry), MVSIM_FATE_MISSED);
        return Trigger::Missed;
    }
    unsigned picture = 0;
    if (!source_->nextPicture(&picture)) {
        // Pictures replayed once, all shown: a free-running sensor idles; a
        // trigger is missed for want of a picture.
        if (cause == MVSIM_CAUSE_FREE_RUN)
            return Trigger::NotArmed;
        ledger_->settle(ledger_->open(entry), MVSIM_FATE_NO_PICTURE);
        return Trigger::Missed;
    }
    entry.pictureIndex = picture;
    const Clock::time_point exposureEnd = at + exposureOf(settings_);
    const Clock::time_point readoutEnd = std::max(exposureEnd, readoutFreeAt_) + readoutOf(settings_, frameBytes_);
    exposingUntil_ = exposureEnd;
    readoutFreeAt_ = readoutEnd;
    entry.exposureStart = entry.triggerTime;
    const bool done = readoutEnd <= at;
    // Complete as it starts: its readout ended with its trigger, which the
    // entry has from the start (no second visit to the ledger for it).
    if (done)
        entry.readoutEnd = entry.triggerTime;
    unsigned number = 0;
    const Ledger::Id id = ledger_->open(entry, &number);
    std::size_t slot = noSlot;
    if (done) {
        // It has a buffer now or never, and whoever triggered it finds it
        // counted as lost on return.
        if (freeSlots_.empty()) {
            ledger_->settle(id, MVSIM_FATE_NO_BUFFER);
            return Trigger::Started;
        }
        slot = freeSlots_.back();
        freeSlots_.pop_back();
        if (made) {
            // Field by field: a whole-record copy through a temporary costs
            // more here than the rest of the frame's bookkeeping.
            made->id = id;
            made->number = number;
            made->readoutEnd = readoutEnd;
            made->settings = settings_;
            made->slot = slot;
            made->picture = picture;
            return Trigger::Started;
        }
    }
    inFlight_.push_back({id, number, readoutEnd, settings_, slot, picture});
    return Trigger::Started;
}

// The oldest frame in readout is complete: into a free buffer and on to the
// delivery side, or lost for want of a buffer.
void Acquisition::completeFrontLocked(std::unique_lock<std::mutex>& lock)
{
    const InFlight frame = inFlight_.front();
    inFlight_.pop_front();
    std::size_t slot = frame.slot;
    if (slot == noSlot) {
        if (freeSlots_.empty()) {
            ledger_->stamp(frame.id, 0, toNs(frame.readoutEnd), 0, 0);
            ledger_->settle(frame.id, MVSIM_FATE_NO_BUFFER);
            if (idleLocked())
                idle_.notify_all();
            return;
        }
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    }
    composing_ = true;
    lock.unlock();
    Ready ready{frame.id, slot, {}, nullptr, nullptr};
    // With no callback the frame goes through a buffer all the same, but
    // nobody looks at its pixels.
    FrameSource::Filled filled = composeFrame(*source_, callback_ ? buffers_[slot].get() : nullptr, frame.number,
                                              frame.picture, frame.settings, &ready.info);
    ready.shared = filled.shared;
    ready.hold = std::move(filled.hold);
    // The ledger has the simulated completion, the end of the readout; the
    // frame record the moment the frame was in its buffer.
    if (frame.slot == noSlot)
        ledger_->stamp(frame.id, 0, toNs(frame.readoutEnd), 0, 0);
    if (filled.waited)
        ledger_->markPictureWait(frame.id);
    lock.lock();
    composing_ = false;
    // The frame waited for a picture that was not decoded in time: the
    // schedule starts again from now rather than catching up with a burst
    // of frames for the ticks that passed meanwhile.
    if (filled.waited)
        rescheduled_ = true;
    // The sensor waits for the composer only with frames of its own to complete.
    if (sensorWaiting_ && !inFlight_.empty())
        sensorWake_.notify_all();
    if (stop_) {
        freeSlots_.push_back(slot);
        ledger_->settle(frame.id, stopFate_);
        return;
    }
    ready_.push_back(std::move(ready));
    if (deliveryWaiting_)
        deliveryWake_.notify_one();
}

void Acquisition::runSensor()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        Clock::time_point now = Clock::now();
        // One frame is composed at a time, by whichever thread completed it.
        if (!inFlight_.empty() && inFlight_.front().readoutEnd <= now && !composing_) {
            completeFrontLocked(lock);
            continue;
        }
        Clock::duration period{};
        unsigned cause = 0;
        const bool scheduled = periodLocked(&period, &cause);
        if (scheduled && period == Clock::duration::zero()) {
            // Unpaced: the delivery thread makes a frame whenever it is free
            // for one, without a hand-over between threads.
        } else if (scheduled && !deliveryTicksLocked(period)) {
            if (rescheduled_) {
                nextTick_ = std::max(now + period, exposingUntil_);
                rescheduled_ = false;
            }
            if (nextTick_ <= now) {
                // Ticks keep their absolute times: a late wake-up takes every
                // tick that is due, each at its own time.
                startFrameLocked(cause, nextTick_);
                nextTick_ += period;
                continue;
            }
        }
        Clock::time_point deadline = Clock::time_point::max();
        if (!inFlight_.empty() && !composing_)
            deadline = inFlight_.front().readoutEnd;
        if (scheduled && period != Clock::duration::zero() && !deliveryTicksLocked(period))
            deadline = std::min(deadline, nextTick_);
        sensorWaiting_ = true;
        if (deadline == Clock::time_point::max()) {
            sensorWake_.wait(lock);
        } else if (deadline - now > spinMargin) {
            sensorWake_.wait_until(lock, deadline - spinMargin);
        } else {
            sensorWaiting_ = false;
            lock.unlock();
            while (Clock::now() < deadline && !stopping_.load(std::memory_order_relaxed))
                std::this_thread::yield();
            lock.lock();
        }
        sensorWaiting_ = false;
    }
}

void Acquisition::runDelivery()
{
    std::unique_lock<std::mutex> lock(mutex_);
    deliveryThread_ = std::this_thread::get_id();
    // When the last callback returned, until the loop has looked once for
    // what to do next: an unpaced frame made at once starts then, which
    // spares a clock read per frame.
    Clock::time_point freedAt{};
    while (true) {
        while (!stop_ && !stopping_.load(std::memory_order_relaxed) && ready_.empty()) {
            const Clock::time_point freed = freedAt;
            freedAt = Clock::time_point{};
            Clock::duration period{};
            unsigned cause = 0;
            const bool scheduled = periodLocked(&period, &cause);
            if (scheduled && period == Clock::duration::zero()) {
                // Unpaced: the next frame as soon as a buffer is free (and,
                // replaying once, while there is a picture left).
                if (inFlight_.empty() && !composing_ && !freeSlots_.empty() && source_->hasPicture()) {
                    InFlight made{};
                    made.slot = noSlot;
                    // It starts when the last callback returned (or now). It
                    // takes no time, and every frame started before it has
                    // been read out (none is under way or waiting), so it is
                    // complete as it starts and comes back in `made` (unless
                    // no picture is left).
                    startFrameLocked(cause, freed != Clock::time_point{} ? freed : Clock::now(), &made);
                    if (made.slot != noSlot)
                        freedAt = deliverMadeLocked(lock, made);
                    continue;
                }
            } else if (scheduled && deliveryTicksLocked(period)) {
                takeDueTicksLocked(lock, period, cause);
                if (!ready_.empty() || stop_)
                    continue;
                const Clock::time_point now = Clock::now();
                if (nextTick_ - now > spinMargin) {
                    deliveryWaiting_ = true;
                    deliveryWake_.wait_until(lock, nextTick_ - spinMargin);
                    deliveryWaiting_ = false;
                } else {
                    const Clock::time_point deadline = nextTick_;
                    lock.unlock();
                    while (Clock::now() < deadline && !stopping_.load(std::memory_order_relaxed))
                        std::this_thread::yield();
                    lock.lock();
                }
                continue;
            } else if (scheduled && period < spinMargin) {
                // Frames come faster than a wake-up: poll for them.
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
                continue;
            }
            deliveryWaiting_ = true;
            deliveryWake_.wait(lock);
            deliveryWaiting_ = false;
        }
        if (stop_ || stopping_.load(std::memory_order_relaxed))
            break;
        Ready frame = std::move(ready_.front());
        ready_.pop_front();
        inCallback_ = true;
        lock.unlock();
        _MV_FRAME_OUT_INFO_ info = frame.info;
        bool delivered = false;
        if (!callback_) {
            ledger_->settle(frame.id, MVSIM_FATE_NO_CALLBACK);
            delivered = true;
        } else if (gate_->enter(&stopping_)) {
            const long long start = nowNs();
            callback_(frame.shared ? const_cast<unsigned char*>(frame.shared) : buffers_[frame.slot].get(), &info,
                      user_);
            const Clock::time_point end = Clock::now();
            gate_->leave();
            ledger_->settleDelivered(frame.id, start, toNs(end));
            delivered = true;
            freedAt = end;
        }
        lock.lock();
        if (!delivered)
            ledger_->settle(frame.id, stopFate_);
        {
            // Ticks that came during the callback found its buffer taken.
            Clock::duration period{};
            unsigned cause = 0;
            if (!stop_ && periodLocked(&period, &cause) && deliveryTicksLocked(period))
                takeDueTicksLocked(lock, period, cause);
        }
        inCallback_ = false;
        // The sensor never waits for a buffer: a frame that completes with
        // none free is lost at once.
        freeSlots_.push_back(frame.slot);
        frame.hold.reset();
        if (idleLocked())
            idle_.notify_all();
    }
    lock.unlock();
    sensorThread_.join();
    lock.lock();
    settleLeftoversLocked();
    lock.unlock();
    source_->grabEnded();
    if (!identity_.ledgerCsv.empty())
        ledger_->writeCsv(identity_.ledgerCsv, firstId_, identity_.model, identity_.serial);
    lock.lock();
    finished_ = true;
    lock.unlock();
    --acquisitionsRunning;
}

// A frame the delivery thread made itself with nothing before it (the
// unpaced device's frame, complete as it starts): composed and handed to the
// callback in one stretch without the lock, passing through no queue. The
// source and the callback are this thread's until it ends. Returns when the
// callback returned (the epoch when it did not run).
Acquisition::Clock::time_point Acquisition::deliverMadeLocked(std::unique_lock<std::mutex>& lock, const InFlight& frame)
{
    composing_ = true;
    inCallback_ = true;
    lock.unlock();
    _MV_FRAME_OUT_INFO_ info;
    const FrameSource::Filled filled = composeFrame(*source_, callback_ ? buffers_[frame.slot].get() : nullptr,
                                                    frame.number, frame.picture, frame.settings, &info);
    unsigned char* const buffer =
        filled.shared ? const_cast<unsigned char*>(filled.shared) : buffers_[frame.slot].get();
    if (filled.waited)
        ledger_->markPictureWait(frame.id);
    Clock::time_point end{};
    bool settled = false;
    if (!stopping_.load(std::memory_order_relaxed)) {
        bool waited = false;
        if (!callback_) {
            ledger_->settle(frame.id, MVSIM_FATE_NO_CALLBACK);
            settled = true;
        } else if (gate_->enter(&stopping_, &waited)) {
            // The frame was in its buffer a moment ago; its delivery started
            // then unless it had to wait for its turn.
            const long long start = waited ? nowNs() : static_cast<long long>(info.nHostTimeStamp);
            callback_(buffer, &info, user_);
            end = Clock::now();
            gate_->leave();
            ledger_->settleDelivered(frame.id, start, toNs(end));
            settled = true;
        }
    }
    lock.lock();
    composing_ = false;
    inCallback_ = false;
    if (!settled)
        ledger_->settle(frame.id, stopFate_);
    if (filled.waited)
        rescheduled_ = true;
    if (sensorWaiting_ && !inFlight_.empty())
        sensorWake_.notify_all();
    freeSlots_.push_back(frame.slot);
    if (idleLocked())
        idle_.notify_all();
    return end;
}

// Frames still in exposure, readout or buffers when the acquisition stops.
void Acquisition::settleLeftoversLocked()
{
    for (const InFlight& f : inFlight_) {
        ledger_->settle(f.id, stopFate_);
        if (f.slot != noSlot)
            freeSlots_.push_back(f.slot);
    }
    inFlight_.clear();
    for (const Ready& r : ready_) {
        ledger_->settle(r.id, stopFate_);
        freeSlots_.push_back(r.slot);
    }
    ready_.clear();
}

}  // namespace mvsim
