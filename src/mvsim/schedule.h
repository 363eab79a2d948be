// The schedule of a grabbing device's frame events: when the next one comes
// and why (a free-running tick, a line-0 pulse, the end of a readout), and
// when a frame started at a given time is exposed and read out. It keeps the
// sensor's timing (the exposure and readout under way, the next tick) and
// has no thread or lock of its own: the acquisition asks it under its lock,
// from whichever thread starts or completes a frame.
#ifndef MVSIM_SCHEDULE_H
#define MVSIM_SCHEDULE_H

#include "framesettings.h"

#include <chrono>
#include <cstddef>

namespace mvsim {

class FrameSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // Which thread makes the frames, from the settings alone.
    enum class Pacing {
        Unpaced,    // free-running with no period: the delivery thread makes a frame whenever a buffer is free
        Ticks,      // free-running frames that take no time: the delivery thread makes each at its tick
        Sensor,     // frames that take time, or line-0 pulses: the sensor thread starts and completes them
        Triggered,  // only triggers start frames
    };
    enum class Why { Nothing, Tick, ReadoutEnd };
    struct Event {
        Why why = Why::Nothing;
        Clock::time_point at = Clock::time_point::max();
    };

    // A timed wait wakes up tens of microseconds late, which at high frame
    // rates would bunch ticks: deadlines closer than this are awaited by
    // spinning, and frames that come closer together are polled for.
    static constexpr std::chrono::microseconds wakeUpMargin{80};

    // The longest exposure, readout or frame period simulated: a day. Longer
    // ones are refused by the configuration checks and feature setters;
    // the schedule saturates at this rather than overflow its clock.
    static constexpr double longestSeconds = 86400.0;

    FrameSchedule(const FrameSettings& settings, std::size_t frameBytes);

    // New settings. The ticks start again from the next look when their
    // period changed or they start or end; they keep their times otherwise.
    void change(const FrameSettings& settings);

    Pacing pacing() const { return pacing_; }
    Clock::duration period() const { return period_; }  // zero without ticks
    unsigned tickCause() const { return tickCause_; }   // MVSIM_CAUSE_FREE_RUN or MVSIM_CAUSE_LINE0
    Clock::duration exposure() const { return exposure_; }
    Clock::duration readout() const { return readout_; }
    // Frames come faster than a thread wakes up: their receiver polls.
    bool fasterThanAWakeUp() const;

    // A frame event at `at` while the sensor still exposes is missed (as
    // with trigger overlap off).
    bool exposing(Clock::time_point at) const { return at < exposingUntil_; }
    // A frame starts at `at`: its exposure now, its readout after both the
    // exposure and the previous readout. Returns when the readout ends.
    Clock::time_point start(Clock::time_point at);

    // The ticks start again from the next look instead of catching up with
    // the ones that passed (a frame waited for its picture).
    void restart() { restarting_ = true; }
    // The next tick (max without ticks of the given pacing's thread).
    Clock::time_point nextTick(Clock::time_point now);
    // The tick returned by nextTick has made its frame event.
    void tickTaken() { nextTick_ += period_; }
    // What the sensor thread does next: complete the oldest frame under way
    // (its readout ending at `readoutEnd`, max for none) when that is due
    // by `now`, else whichever of that and its next tick comes first.
    Event next(Clock::time_point now, Clock::time_point readoutEnd);

private:
    void derive(const FrameSettings& s);

    std::size_t frameBytes_;
    Pacing pacing_ = Pacing::Triggered;
    Clock::duration period_{};
    unsigned tickCause_ = 0;
    Clock::duration exposure_{};
    Clock::duration readout_{};
    bool restarting_ = true;
    Clock::time_point nextTick_;
    Clock::time_point exposingUntil_;  // the sensor exposes until then
    Clock::time_point readoutFreeAt_;  // the readout is busy until then
};

}  // namespace mvsim

#endif  // MVSIM_SCHEDULE_H
