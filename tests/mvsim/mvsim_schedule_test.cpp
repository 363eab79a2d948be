// The schedule of frame events alone, on made-up times: which thread makes
// the frames for which settings, the frame period, when a frame is read out,
// which trigger is missed, and what the sensor does next.
#include "schedule.h"

#include "mvsim/control.h"

#include <gtest/gtest.h>

using mvsim::FrameSchedule;
using mvsim::FrameSettings;
using Pacing = FrameSchedule::Pacing;
using Why = FrameSchedule::Why;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

const FrameSchedule::Clock::time_point t0 = FrameSchedule::Clock::time_point() + std::chrono::seconds(1000);

// 1000 bytes a frame: 0.5 MB/s reads one out in 2 ms.
const std::size_t frameBytes = 1000;

FrameSettings freeRunning(bool instant, float exposureUs, double bandwidthMBps, double frameRate)
{
    FrameSettings s;
    s.instant = instant;
    s.exposure = exposureUs;
    s.bandwidthMBps = bandwidthMBps;
    s.frameRate = frameRate;
    return s;
}

FrameSettings triggered(unsigned source, double linePulseRate)
{
    FrameSettings s = freeRunning(false, 1000, 0, 0);
    s.triggerMode = 1;
    s.triggerSource = source;
    s.linePulseRate = linePulseRate;
    return s;
}

// Times past a day, which the checks refuse, saturate instead of wrapping
// round to a negative period that would run the device flat out.
TEST(ScheduleTest, TimesPastADaySaturate)
{
    const FrameSchedule::Clock::duration day = std::chrono::hours(24);
    const struct {
        const char* what;
        FrameSettings settings;
        Pacing pacing;
    } cases[] = {
        {"rate 1e-10", freeRunning(false, 0, 0, 1e-10), Pacing::Ticks},
        {"bandwidth 1e-12", freeRunning(false, 0, 1e-12, 0), Pacing::Sensor},
        {"exposure 1e16 us", freeRunning(false, 1e16f, 0, 0), Pacing::Sensor},
        {"exposure 3e38 us", freeRunning(false, 3e38f, 0, 30), Pacing::Sensor},
        {"pulses at 1e-10", triggered(MVSIM_TRIGGER_SOURCE_LINE0, 1e-10), Pacing::Sensor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameSchedule schedule(c.settings, frameBytes);
        EXPECT_EQ(schedule.pacing(), c.pacing);
        EXPECT_EQ(schedule.period(), day);
        EXPECT_GE(schedule.exposure().count(), 0);
        EXPECT_LE(schedule.exposure(), day);
        EXPECT_GE(schedule.readout().count(), 0);
        EXPECT_LE(schedule.readout(), day);
        EXPECT_GE(schedule.nextTick(t0), t0 + day) << "the first tick is not a day away";
    }
}

TEST(ScheduleTest, SettingsChooseThePacingAndThePeriod)
{
    const struct {
        const char* what;
        FrameSettings settings;
        Pacing pacing;
        FrameSchedule::Clock::duration period;
        unsigned cause;
    } cases[] = {
        {"instant, no rate", freeRunning(true, 1000, 0.5, 0), Pacing::Unpaced, {}, MVSIM_CAUSE_FREE_RUN},
        {"no exposure, no readout, no rate", freeRunning(false, 0, 0, 0), Pacing::Unpaced, {}, MVSIM_CAUSE_FREE_RUN},
        {"instant at 100/s", freeRunning(true, 1000, 0.5, 100), Pacing::Ticks, milliseconds(10), MVSIM_CAUSE_FREE_RUN},
        {"exposure-limited", freeRunning(false, 1000, 0, 0), Pacing::Sensor, milliseconds(1), MVSIM_CAUSE_FREE_RUN},
        {"readout-limited", freeRunning(false, 1000, 0.5, 1000), Pacing::Sensor, milliseconds(2), MVSIM_CAUSE_FREE_RUN},
        {"rate-limited", freeRunning(false, 1000, 0.5, 100), Pacing::Sensor, milliseconds(10), MVSIM_CAUSE_FREE_RUN},
        {"software trigger",
         triggered(MVSIM_TRIGGER_SOURCE_SOFTWARE, 1000),
         Pacing::Triggered,
         {},
         MVSIM_CAUSE_SOFTWARE},
        {"line 0, no pulses", triggered(MVSIM_TRIGGER_SOURCE_LINE0, 0), Pacing::Triggered, {}, MVSIM_CAUSE_SOFTWARE},
        {"line 0 pulses", triggered(MVSIM_TRIGGER_SOURCE_LINE0, 1000), Pacing::Sensor, milliseconds(1),
         MVSIM_CAUSE_LINE0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FrameSchedule schedule(c.settings, frameBytes);
        EXPECT_EQ(schedule.pacing(), c.pacing);
        EXPECT_EQ(schedule.period(), c.period);
        if (c.pacing != Pacing::Triggered) {
            EXPECT_EQ(schedule.tickCause(), c.cause);
        }
    }
    EXPECT_TRUE(FrameSchedule(triggered(MVSIM_TRIGGER_SOURCE_LINE0, 100000), frameBytes).fasterThanAWakeUp());
    EXPECT_FALSE(FrameSchedule(triggered(MVSIM_TRIGGER_SOURCE_LINE0, 1000), frameBytes).fasterThanAWakeUp());
    EXPECT_FALSE(FrameSchedule(freeRunning(true, 0, 0, 100000), frameBytes).fasterThanAWakeUp());
}

// 1 ms exposure, 2 ms readout: a frame is read out after its exposure and
// after the readout before it; an event while the sensor exposes is missed.
TEST(ScheduleTest, AFrameIsReadOutAfterItsExposureAndThePreviousReadout)
{
    const struct {
        microseconds at;
        bool missed;
        microseconds readoutEnd;
    } steps[] = {
        {microseconds(0), false, microseconds(3000)},
        {microseconds(500), true, {}},
        {microseconds(999), true, {}},
        {microseconds(1000), false, microseconds(5000)},  // exposed by 2 ms, read out after the first frame's
        {microseconds(2000), false, microseconds(7000)},
        {microseconds(20000), false, microseconds(23000)},  // nothing under way any more
    };
    FrameSchedule schedule(freeRunning(false, 1000, 0.5, 0), frameBytes);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.at.count());
        ASSERT_EQ(schedule.exposing(t0 + s.at), s.missed);
        if (!s.missed) {
            EXPECT_EQ(schedule.start(t0 + s.at), t0 + s.readoutEnd);
        }
    }
}

// What the sensor does next at 100 frames/s with 1 ms exposure: a readout
// that is due, else whichever of the readout and the next tick is first.
TEST(ScheduleTest, TheSensorsNextEventIsADueReadoutElseTheEarliest)
{
    const auto never = FrameSchedule::Clock::time_point::max();
    const struct {
        const char* what;
        microseconds now;
        FrameSchedule::Clock::time_point readoutEnd;
        Why why;
        FrameSchedule::Clock::time_point at;
    } cases[] = {
        {"nothing under way: the tick", microseconds(0), never, Why::Tick, t0 + milliseconds(10)},
        {"a readout before the tick", microseconds(0), t0 + milliseconds(3), Why::ReadoutEnd, t0 + milliseconds(3)},
        {"the tick before a readout", microseconds(0), t0 + milliseconds(12), Why::Tick, t0 + milliseconds(10)},
        {"both due: the readout first", microseconds(15000), t0 + milliseconds(12), Why::ReadoutEnd,
         t0 + milliseconds(12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameSchedule schedule(freeRunning(false, 1000, 0, 100), frameBytes);
        // The ticks start one period after the first look.
        ASSERT_EQ(schedule.nextTick(t0), t0 + milliseconds(10));
        const FrameSchedule::Event e = schedule.next(t0 + c.now, c.readoutEnd);
        EXPECT_EQ(e.why, c.why);
        EXPECT_EQ(e.at, c.at);
    }
    // Triggered: nothing but readouts.
    FrameSchedule schedule(triggered(MVSIM_TRIGGER_SOURCE_SOFTWARE, 0), frameBytes);
    EXPECT_EQ(schedule.next(t0, never).why, Why::Nothing);
    EXPECT_EQ(schedule.next(t0, t0 + milliseconds(1)).why, Why::ReadoutEnd);
}

// Ticks keep their absolute times, however late they are taken; a change of
// period, or a restart, starts them again from the next look, and the first
// tick then waits for an exposure under way.
TEST(ScheduleTest, TicksKeepTheirTimesUntilTheScheduleRestarts)
{
    FrameSchedule schedule(freeRunning(true, 0, 0, 100), frameBytes);
    ASSERT_EQ(schedule.nextTick(t0), t0 + milliseconds(10));
    schedule.tickTaken();
    EXPECT_EQ(schedule.nextTick(t0 + milliseconds(35)), t0 + milliseconds(20)) << "a late look moved the ticks";
    schedule.change(freeRunning(true, 0, 0, 100));
    EXPECT_EQ(schedule.nextTick(t0 + milliseconds(35)), t0 + milliseconds(20)) << "the same period restarted";
    schedule.change(freeRunning(true, 0, 0, 200));
    EXPECT_EQ(schedule.nextTick(t0 + milliseconds(35)), t0 + milliseconds(40));
    schedule.restart();
    EXPECT_EQ(schedule.nextTick(t0 + milliseconds(50)), t0 + milliseconds(55));

    FrameSchedule exposing(freeRunning(false, 30000, 0, 100), frameBytes);  // 30 ms exposure, 100/s asked
    ASSERT_EQ(exposing.period(), milliseconds(30));
    exposing.start(t0);
    exposing.change(freeRunning(false, 30000, 0, 1000));  // same period: the exposure still limits it
    exposing.restart();
    EXPECT_EQ(exposing.nextTick(t0 + milliseconds(1)), t0 + milliseconds(31));
    exposing.change(freeRunning(false, 10000, 0, 1000));
    EXPECT_EQ(exposing.nextTick(t0 + milliseconds(1)), t0 + milliseconds(30)) << "a tick during the exposure";
}

}  // namespace
