// Frame buffers and a camera's timing: frames exposed and read out while the
// host holds the last one, the frame period that exposure and readout allow,
// triggers that come during an exposure. The ledger is the ground truth: its
// times are the simulator's own schedule, so the checks hold on a loaded
// machine too.
#include "mvsim_support.h"

#include <atomic>
#include <thread>

using namespace mvsimtest;

namespace {

const char* const serial = "SN-T";

class TimingTest : public testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }

    // A 64 x 8 Mono8 device with the given changes to the defaults, opened.
    int open(const std::function<void(MvsimDeviceSetup&)>& change)
    {
        return addOpenDevice("Timing", serial, change, &handle);
    }

    // Registers the recorder, grabs until `frames` frames arrived, and stops.
    bool grab(Recorder& recorder, unsigned frames)
    {
        EXPECT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
        EXPECT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        const bool arrived = recorder.waitForFrames(frames);
        EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
        return arrived;
    }

    void* handle = nullptr;
};

MvsimFrameFates fatesOf(int id)
{
    MvsimFrameFates f{};
    EXPECT_EQ(MVSIM_GetFrameFates(id, &f), MVSIM_OK);
    return f;
}

// The most common inspection loop: the next trigger goes out from inside
// OnImageReady, as soon as a frame arrives. Every trigger makes a frame.
TEST_F(TimingTest, SnappingFromInsideTheCallbackLosesNothing)
{
    const unsigned kFrames = 10000;
    const int id = open([](MvsimDeviceSetup&) {});
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", MVSIM_TRIGGER_SOURCE_SOFTWARE), MVSIM_OK);
    Recorder recorder;
    std::atomic<int> refused{0};
    recorder.hook = [&](const Frame& frame) {
        if (frame.number < kFrames && MV_CC_SetCommandValue(handle, "TriggerSoftware") != MVSIM_OK)
            ++refused;
    };
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(kFrames)) << "stalled after " << recorder.count() << " frames";
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    const std::vector<Frame> frames = recorder.frames();
    ASSERT_EQ(frames.size(), kFrames);
    for (unsigned i = 0; i < kFrames; ++i)
        ASSERT_EQ(frames[i].number, i + 1) << "out of order or lost";
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(counters(id).lost, 0u);
}

// One slow callback (50 ms of host work at 30 frames per second): with
// three buffers the frames exposed meanwhile wait and arrive late; with one
// the ledger shows them lost for want of a buffer.
TEST_F(TimingTest, ASlowCallbackDelaysFramesWhileBuffersLast)
{
    const struct {
        unsigned buffers;
        bool losesFrames;
    } cases[] = {{3, false}, {1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.buffers);
        MVSIM_Reset();
        const int id = open([&](MvsimDeviceSetup& s) {
            s.frameRate = 30;
            s.bufferCount = c.buffers;
        });
        Recorder recorder;
        recorder.hook = [](const Frame& frame) {
            if (frame.number == 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the host's work
        };
        ASSERT_TRUE(grab(recorder, 6));

        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_GE(ledger.size(), 6u);
        const MvsimLedgerEntry& slow = ledger[1];
        ASSERT_EQ(slow.fate, MVSIM_FATE_DELIVERED);
        std::size_t completedMeanwhile = 0;
        for (std::size_t i = 2; i < ledger.size(); ++i) {
            const MvsimLedgerEntry& e = ledger[i];
            if (e.readoutEnd == 0 || e.readoutEnd >= slow.deliveryEnd)
                continue;
            ++completedMeanwhile;
            if (c.losesFrames) {
                EXPECT_EQ(e.fate, MVSIM_FATE_NO_BUFFER) << "frame " << e.frameNumber;
            } else {
                ASSERT_EQ(e.fate, MVSIM_FATE_DELIVERED) << "frame " << e.frameNumber;
                EXPECT_GE(e.deliveryStart, slow.deliveryEnd) << "delivered during another callback";
            }
        }
        EXPECT_GE(completedMeanwhile, 1u) << "no frame completed during the 50 ms callback";
        EXPECT_EQ(counters(id).lost, c.losesFrames ? fatesOf(id).noBuffer : 0u);
        EXPECT_EQ(fatesOf(id).noBuffer > 0, c.losesFrames);
    }
}

// The frame period of a free-running device is the largest of 1/frameRate,
// the exposure and the readout (frame bytes / bandwidth); each frame is
// complete no earlier than exposure + readout after it started.
TEST_F(TimingTest, FreeRunningPeriodFollowsExposureAndReadout)
{
    const double frameBytes = 64 * 8;
    const struct {
        const char* what;
        double frameRate;
        float exposureUs;
        double bandwidthMBps;
        long long periodNs;
    } cases[] = {
        {"exposure-limited", 1000, 10000, 0, 10000000},                    // 10 ms exposure: 100 fps at most
        {"readout-limited", 1000, 15, frameBytes / 1e6 / 0.008, 8000000},  // 512 bytes in 8 ms
        {"rate-limited", 200, 15, 0, 5000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        const int id = open([&](MvsimDeviceSetup& s) {
            s.instantTiming = 0;
            s.frameRate = c.frameRate;
            s.exposureMin = 15;
            s.exposure = c.exposureUs;
            s.bandwidthMBps = c.bandwidthMBps;
            s.bufferCount = 64;  // a host that falls behind on a loaded machine loses nothing
        });
        Recorder recorder;
        ASSERT_TRUE(grab(recorder, 5));
        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_GE(ledger.size(), 5u);
        const long long readoutNs =
            c.bandwidthMBps > 0 ? static_cast<long long>(frameBytes / c.bandwidthMBps * 1e3) : 0;
        for (std::size_t i = 1; i < ledger.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_NEAR(static_cast<double>(ledger[i].exposureStart - ledger[i - 1].exposureStart),
                        static_cast<double>(c.periodNs), 1000.0);
        }
        for (const MvsimLedgerEntry& e : ledger) {
            if (e.readoutEnd) {
                EXPECT_GE(e.readoutEnd - e.exposureStart,
                          static_cast<long long>(c.exposureUs * 1000) + readoutNs - 1000);
            }
        }
        EXPECT_EQ(counters(id).lost, 0u);
    }
}

// Trigger overlap off: a trigger that comes while the sensor exposes is
// missed, counted and in the ledger. Pulses of the line-0 generator come at
// exact times, so the pattern of missed ones is exact.
TEST_F(TimingTest, PulsesDuringAnExposureAreMissed)
{
    const struct {
        float exposureUs;
        unsigned every;  // one pulse in `every` starts an exposure
    } cases[] = {{1500, 2}, {5000, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exposureUs);
        MVSIM_Reset();
        const int id = open([&](MvsimDeviceSetup& s) {
            s.instantTiming = 0;
            s.bandwidthMBps = 0;
            s.exposure = c.exposureUs;
            s.linePulseRate = 1000;  // a pulse every millisecond
            s.bufferCount = 64;      // a host that falls behind on a loaded machine loses nothing
        });
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", MVSIM_TRIGGER_SOURCE_LINE0), MVSIM_OK);
        Recorder recorder;
        ASSERT_TRUE(grab(recorder, 4));
        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_GE(ledger.size(), 4u * c.every);
        unsigned long long missed = 0;
        for (std::size_t i = 0; i < ledger.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ledger[i].cause, MVSIM_CAUSE_LINE0);
            const bool starts = i % c.every == 0;
            EXPECT_EQ(ledger[i].fate == MVSIM_FATE_MISSED, !starts);
            missed += ledger[i].fate == MVSIM_FATE_MISSED;
            EXPECT_EQ(ledger[i].exposureStart != 0, starts);
        }
        EXPECT_EQ(fatesOf(id).missed, missed);
        EXPECT_EQ(counters(id).lost, missed);
    }
}

// Triggers sent by hand during a long exposure: the software trigger is
// accepted and missed, a pulse is refused; the frame arrives no earlier
// than trigger time + exposure + readout.
TEST_F(TimingTest, TriggersDuringAnExposureAreMissed)
{
    const struct {
        const char* what;
        unsigned source;
        std::function<int(void*, int)> trigger;
        int missedResult;
    } cases[] = {
        {"software", MVSIM_TRIGGER_SOURCE_SOFTWARE,
         [](void* h, int) { return MV_CC_SetCommandValue(h, "TriggerSoftware"); }, MVSIM_OK},
        {"line 0", MVSIM_TRIGGER_SOURCE_LINE0, [](void*, int id) { return MVSIM_PulseLine0(id); }, MVSIM_E_CALLORDER},
    };
    const long long exposureNs = 300000000;  // far longer than two calls take
    const long long readoutNs = 2000000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        const int id = open([&](MvsimDeviceSetup& s) {
            s.instantTiming = 0;
            s.exposure = exposureNs / 1000;
            s.bandwidthMBps = 64 * 8 / (readoutNs / 1e9) / 1e6;
        });
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", c.source), MVSIM_OK);
        Recorder recorder;
        ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        ASSERT_EQ(c.trigger(handle, id), MVSIM_OK);
        EXPECT_EQ(c.trigger(handle, id), c.missedResult);
        EXPECT_EQ(c.trigger(handle, id), c.missedResult);
        ASSERT_TRUE(recorder.waitForFrames(1));
        ASSERT_EQ(c.trigger(handle, id), MVSIM_OK) << "the sensor is free again";
        ASSERT_TRUE(recorder.waitForFrames(2));
        ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_EQ(ledger.size(), 4u);
        const unsigned fates[] = {MVSIM_FATE_DELIVERED, MVSIM_FATE_MISSED, MVSIM_FATE_MISSED, MVSIM_FATE_DELIVERED};
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(ledger[i].fate, fates[i]) << i;
            EXPECT_EQ(ledger[i].frameNumber, i + 1);
        }
        EXPECT_GE(ledger[0].readoutEnd - ledger[0].triggerTime, exposureNs + readoutNs);
        EXPECT_GE(ledger[0].deliveryStart, ledger[0].readoutEnd);
        EXPECT_EQ(fatesOf(id).missed, 2u);
        EXPECT_EQ(counters(id).lost, 2u);
    }
}

}  // namespace
