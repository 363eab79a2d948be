#include "schedule.h"

#include "exports.h"

#include <algorithm>
#include <cmath>

namespace mvsim {

namespace {

// Saturates at the longest time simulated; NaN and negatives are none.
FrameSchedule::Clock::duration nanoseconds(double ns)
{
    if (!(ns > 0.0))
        return FrameSchedule::Clock::duration::zero();
    ns = std::min(ns, FrameSchedule::longestSeconds * 1e9);
    return std::chrono::duration_cast<FrameSchedule::Clock::duration>(
        std::chrono::duration<double, std::nano>(std::round(ns)));
}

}  // namespace

FrameSchedule::FrameSchedule(const FrameSettings& settings, std::size_t frameBytes) : frameBytes_(frameBytes)
{
    derive(settings);
}

// Free-running: a tick every frame period, the largest of 1/frameRate, the
// exposure and the readout (none of them: a frame whenever a buffer is
// free). Triggered from line 0: the pulse generator's pulses. Otherwise no
// ticks at all.
void FrameSchedule::derive(const FrameSettings& s)
{
    exposure_ = s.instant ? Clock::duration::zero() : nanoseconds(double(s.exposure) * 1e3);
    readout_ = s.instant || !(s.bandwidthMBps > 0.0) ? Clock::duration::zero()
                                                     : nanoseconds(double(frameBytes_) / s.bandwidthMBps * 1e3);
    if (s.triggerMode == 0) {
        period_ = std::max(exposure_, readout_);
        if (s.frameRate > 0.0)
            period_ = std::max(period_, nanoseconds(std::max(1.0, 1e9 / s.frameRate)));
        tickCause_ = MVSIM_CAUSE_FREE_RUN;
        if (period_ == Clock::duration::zero())
            pacing_ = Pacing::Unpaced;
        else if (exposure_ == Clock::duration::zero() && readout_ == Clock::duration::zero())
            pacing_ = Pacing::Ticks;
        else
            pacing_ = Pacing::Sensor;
    } else if (s.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0 && s.linePulseRate > 0.0) {
        period_ = nanoseconds(std::max(1.0, 1e9 / s.linePulseRate));
        tickCause_ = MVSIM_CAUSE_LINE0;
        pacing_ = Pacing::Sensor;
    } else {
        period_ = Clock::duration::zero();
        tickCause_ = MVSIM_CAUSE_SOFTWARE;
        pacing_ = Pacing::Triggered;
    }
}

void FrameSchedule::change(const FrameSettings& settings)
{
    const bool ticked = pacing_ != Pacing::Triggered;
    const Clock::duration period = period_;
    derive(settings);
    if (ticked != (pacing_ != Pacing::Triggered) || period != period_)
        restarting_ = true;
}

bool FrameSchedule::fasterThanAWakeUp() const
{
    return pacing_ == Pacing::Sensor && period_ < wakeUpMargin;
}

FrameSchedule::Clock::time_point FrameSchedule::start(Clock::time_point at)
{
    const Clock::time_point exposureEnd = at + exposure_;
    const Clock::time_point readoutEnd = std::max(exposureEnd, readoutFreeAt_) + readout_;
    exposingUntil_ = exposureEnd;
    readoutFreeAt_ = readoutEnd;
    return readoutEnd;
}

FrameSchedule::Clock::time_point FrameSchedule::nextTick(Clock::time_point now)
{
    if (pacing_ != Pacing::Ticks && pacing_ != Pacing::Sensor)
        return Clock::time_point::max();
    if (restarting_) {
        // The first tick after a start or a change waits for the exposure
        // under way.
        nextTick_ = std::max(now + period_, exposingUntil_);
        restarting_ = false;
    }
    return nextTick_;
}

FrameSchedule::Event FrameSchedule::next(Clock::time_point now, Clock::time_point readoutEnd)
{
    // A due readout comes first: the older frame has the first claim on a
    // free buffer.
    if (readoutEnd <= now)
        return {Why::ReadoutEnd, readoutEnd};
    const Clock::time_point tick = pacing_ == Pacing::Sensor ? nextTick(now) : Clock::time_point::max();
    if (tick < readoutEnd)
        return {Why::Tick, tick};
    if (readoutEnd != Clock::time_point::max())
        return {Why::ReadoutEnd, readoutEnd};
    return {};
}

}  // namespace mvsim
