#include "acquisition.h"

#include "delivery.h"

#include <algorithm>
#include <atomic>

namespace mvsim {

namespace {

std::atomic<int> acquisitionsRunning{0};

}  // namespace

FrameSource::Filled composeFrame(FrameSource& source, unsigned char* frame, unsigned number, unsigned picture,
                                 const FrameSettings& settings, _MV_FRAME_OUT_INFO_* info)
{
    const std::size_t len = source.frameBytes();
    FrameSource::Filled filled;
    if (frame)
        filled = source.fill(frame, number, picture);
    if (frame && !filled.zeroCopy && source.stamped()) {
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
    : settings_(settings), schedule_(settings, source->frameBytes()), callback_(callback), user_(user),
      ledger_(std::move(ledger)), gate_(std::move(gate)), source_(std::move(source)), identity_(std::move(identity)),
      firstId_(ledger_->nextId()), frameBytes_(source_->frameBytes())
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
    settings_ = settings;
    schedule_.change(settings);
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

// Ticks of the delivery thread's schedule that are due: each completes into
// a free buffer, or is lost for want of one.
void Acquisition::takeDueTicksLocked(std::unique_lock<std::mutex>& lock)
{
    const Clock::time_point now = Clock::now();
    // Frames the sensor still has under way (from before a change of
    // settings) come first; it hands them over when they are complete.
    for (Clock::time_point tick = schedule_.nextTick(now); tick <= now && !stop_ && inFlight_.empty() && !composing_;
         tick = schedule_.nextTick(now)) {
        startFrameLocked(schedule_.tickCause(), tick);
        schedule_.tickTaken();
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
    if (schedule_.exposing(at)) {
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
    const Clock::time_point readoutEnd = schedule_.start(at);
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
    ready.zeroCopy = filled.zeroCopy;
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
        schedule_.restart();
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

// The deadline wait of both threads: on the condition until shortly before
// the deadline (for ever without one), then spinning up to it, which a stop
// cuts short. A deadline already reached yields once: frames that come
// faster than a wake-up are polled for.
void Acquisition::waitLocked(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, bool* waiting,
                             Clock::time_point deadline, Clock::time_point now)
{
    if (deadline == Clock::time_point::max()) {
        *waiting = true;
        wake.wait(lock);
        *waiting = false;
    } else if (deadline - now > FrameSchedule::wakeUpMargin) {
        *waiting = true;
        wake.wait_until(lock, deadline - FrameSchedule::wakeUpMargin);
        *waiting = false;
    } else {
        lock.unlock();
        do
            std::this_thread::yield();
        while (Clock::now() < deadline && !stopping_.load(std::memory_order_relaxed));
        lock.lock();
    }
}

// The sensor thread: completes frames as their readouts end and, when it
// paces the device, starts a frame at each tick. Ticks keep their absolute
// times: a late wake-up takes every tick that is due, each at its own time.
void Acquisition::runSensor()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        const Clock::time_point now = Clock::now();
        // One frame is composed at a time, by whichever thread completed it;
        // the composer wakes the sensor when it is done.
        const Clock::time_point readoutEnd =
            !inFlight_.empty() && !composing_ ? inFlight_.front().readoutEnd : Clock::time_point::max();
        const FrameSchedule::Event event = schedule_.next(now, readoutEnd);
        if (event.at > now) {
            waitLocked(lock, sensorWake_, &sensorWaiting_, event.at, now);
        } else if (event.why == FrameSchedule::Why::ReadoutEnd) {
            completeFrontLocked(lock);
        } else {
            startFrameLocked(schedule_.tickCause(), event.at);
            schedule_.tickTaken();
        }
    }
}

// The delivery thread: frames to the callback one at a time, oldest first,
// each through deliverLocked, whether the sensor completed it, a tick of
// this thread's schedule, or this thread made it at once (unpaced).
void Acquisition::runDelivery()
{
    std::unique_lock<std::mutex> lock(mutex_);
    deliveryThread_ = std::this_thread::get_id();
    // When the last callback returned, until the loop has looked once for
    // what to do next: an unpaced frame made at once starts then, which
    // spares a clock read per frame.
    Clock::time_point freedAt{};
    Ready queued{};
    InFlight made{};
    Ready composed{};  // a made frame once composed; kept across frames, as its record is written whole
    while (true) {
        const Next next = awaitFrameLocked(lock, freedAt, &queued, &made);
        if (next == Next::Stop)
            break;
        if (next == Next::Made) {
            composed.id = made.id;
            composed.slot = made.slot;
            composed.zeroCopy = nullptr;
            freedAt = deliverLocked(lock, composed, &made);
        } else {
            freedAt = deliverLocked(lock, queued, nullptr);
        }
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

// Waits for the next frame for the callback: the oldest complete one in a
// buffer, or, as the device's pacing has it, one this thread makes itself
// (`made`: unpaced, complete as it starts) or completes at its tick. Stop
// once a stop is requested: frames still waiting are dropped, not delivered.
Acquisition::Next Acquisition::awaitFrameLocked(std::unique_lock<std::mutex>& lock, Clock::time_point freedAt,
                                                Ready* queued, InFlight* made)
{
    while (!stop_ && !stopping_.load(std::memory_order_relaxed)) {
        if (!ready_.empty()) {
            *queued = std::move(ready_.front());
            ready_.pop_front();
            return Next::Queued;
        }
        const Clock::time_point freed = freedAt;
        freedAt = Clock::time_point{};
        switch (schedule_.pacing()) {
        case Pacing::Unpaced:
            // The next frame as soon as a buffer is free (and, replaying
            // once, while there is a picture left).
            if (inFlight_.empty() && !composing_ && !freeSlots_.empty() && source_->hasPicture()) {
                made->slot = noSlot;
                // It starts when the last callback returned (or now). It
                // takes no time, and every frame started before it has been
                // read out (none is under way or waiting), so it is complete
                // as it starts and comes back in `made` (unless no picture
                // is left).
                startFrameLocked(schedule_.tickCause(), freed != Clock::time_point{} ? freed : Clock::now(), made);
                if (made->slot != noSlot)
                    return Next::Made;
                continue;
            }
            break;
        case Pacing::Ticks:
            takeDueTicksLocked(lock);
            if (ready_.empty() && !stop_) {
                const Clock::time_point now = Clock::now();
                waitLocked(lock, deliveryWake_, &deliveryWaiting_, schedule_.nextTick(now), now);
            }
            continue;
        case Pacing::Sensor:
        case Pacing::Triggered:
            if (schedule_.fasterThanAWakeUp()) {
                const Clock::time_point now = Clock::now();
                waitLocked(lock, deliveryWake_, &deliveryWaiting_, now, now);
                continue;
            }
            break;
        }
        waitLocked(lock, deliveryWake_, &deliveryWaiting_, Clock::time_point::max(), Clock::time_point{});
    }
    return Next::Stop;
}

// One frame to the callback, composed first when this thread made it
// (`toCompose`): without the lock from its composing to the callback's
// return, so that an unpaced frame passes through no queue. The source and
// the callback are this thread's until it ends. Returns when the callback
// returned (the epoch when it did not run).
Acquisition::Clock::time_point Acquisition::deliverLocked(std::unique_lock<std::mutex>& lock, Ready& frame,
                                                          const InFlight* toCompose)
{
    // A frame from the queue was composed by the thread that completed it,
    // which may be composing the next one now.
    if (toCompose)
        composing_ = true;
    inCallback_ = true;
    lock.unlock();
    bool pictureWaited = false;
    long long readyAt = 0;
    if (toCompose) {
        // With no callback the frame goes through a buffer all the same,
        // but nobody looks at its pixels.
        FrameSource::Filled filled =
            composeFrame(*source_, callback_ ? buffers_[frame.slot].get() : nullptr, toCompose->number,
                         toCompose->picture, toCompose->settings, &frame.info);
        frame.zeroCopy = filled.zeroCopy;
        frame.hold = std::move(filled.hold);
        pictureWaited = filled.waited;
        if (pictureWaited)
            ledger_->markPictureWait(frame.id);
        // In its buffer a moment ago: its delivery starts then.
        readyAt = static_cast<long long>(frame.info.nHostTimeStamp);
    }
    Handover handover;
    handover.callback = callback_;
    handover.data = frame.zeroCopy ? const_cast<unsigned char*>(frame.zeroCopy) : buffers_[frame.slot].get();
    handover.info = &frame.info;
    handover.user = user_;
    Clock::time_point end{};
    const bool settled = deliverFrame(handover, *ledger_, frame.id, *gate_, Turn::Take, &stopping_, readyAt, &end);
    lock.lock();
    if (!settled)
        ledger_->settle(frame.id, stopFate_);
    if (toCompose) {
        composing_ = false;
        if (pictureWaited)
            schedule_.restart();
        if (sensorWaiting_ && !inFlight_.empty())
            sensorWake_.notify_all();
    }
    // Ticks that came during the callback found its buffer taken.
    if (!stop_ && schedule_.pacing() == Pacing::Ticks)
        takeDueTicksLocked(lock);
    inCallback_ = false;
    // The sensor never waits for a buffer: a frame that completes with
    // none free is lost at once.
    freeSlots_.push_back(frame.slot);
    frame.hold.reset();
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
