// The delivery side of a grabbing device under pressure: the last free
// buffer, frames waiting behind a slow callback, and a stop that comes while
// they wait. The ledger says what happened to each frame; the recorder what
// the host saw.
#include "mvsim_support.h"

#include <atomic>
#include <thread>

using namespace mvsimtest;

namespace {

const char* const serial = "SN-DLV";

class DeliveryTest : public testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }

    // A 64 x 8 Mono8 device with the given changes to the defaults, opened,
    // its frames going to `recorder`.
    int open(Recorder& recorder, const std::function<void(MvsimDeviceSetup&)>& change)
    {
        const int id = addOpenDevice("Delivery", serial, change, &handle);
        EXPECT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
        return id;
    }

    void* handle = nullptr;
};

// Frames that take time (an exposure, a readout) complete into the last
// free buffer: with one buffer and a host that keeps up, and with two while
// the host holds the first frame, no frame that found a buffer is lost.
TEST_F(DeliveryTest, AFrameTakesTheLastFreeBuffer)
{
    const struct {
        const char* what;
        unsigned buffers;
        int firstCallbackMs;  // the host's work on frame 1
    } cases[] = {
        {"one buffer", 1, 0},
        {"one buffer left", 2, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        Recorder recorder;
        recorder.hook = [&](const Frame& frame) {
            if (frame.number == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(c.firstCallbackMs));
        };
        // A frame every 50 ms, 1 ms of exposure and a readout: the host has
        // ample time for each frame.
        const int id = open(recorder, [&](MvsimDeviceSetup& s) {
            s.instantTiming = 0;
            s.frameRate = 20;
            s.exposure = 1000;
            s.bandwidthMBps = 64 * 8 / 1e3;  // 1 ms of readout
            s.bufferCount = c.buffers;
        });
        ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        const bool arrived = recorder.waitForFrames(6);
        ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
        ASSERT_TRUE(arrived) << recorder.count() << " frames delivered";

        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_GE(ledger.size(), 6u);
        const MvsimLedgerEntry& first = ledger[0];
        ASSERT_EQ(first.fate, MVSIM_FATE_DELIVERED);
        bool lastBufferTaken = false;
        for (std::size_t i = 1; i < ledger.size(); ++i) {
            const MvsimLedgerEntry& e = ledger[i];
            SCOPED_TRACE(e.frameNumber);
            if (e.fate == MVSIM_FATE_DROPPED)
                continue;  // under way at the stop
            const bool whileHeld = e.readoutEnd < first.deliveryEnd;
            if (!whileHeld) {
                EXPECT_EQ(e.fate, MVSIM_FATE_DELIVERED) << "lost with a buffer free";
            } else if (!lastBufferTaken) {
                // The first frame completed while the host holds frame 1
                // has the one buffer left.
                EXPECT_EQ(e.fate, MVSIM_FATE_DELIVERED) << "lost with one buffer free";
                lastBufferTaken = true;
            } else {
                EXPECT_EQ(e.fate, MVSIM_FATE_NO_BUFFER);
            }
        }
        EXPECT_EQ(lastBufferTaken, c.buffers > 1) << "no frame completed during the host's work on frame 1";
    }
}

// Frames waiting in buffers behind a slow callback are delivered oldest
// first: the first N frames with N buffers are 1..N, and the frames the
// ledger has as delivered reached the callback in their order, paced by the
// sensor's exposure or by ticks of frames that take no time.
TEST_F(DeliveryTest, FramesWaitingInBuffersAreDeliveredOldestFirst)
{
    const unsigned buffers = 4;
    const struct {
        const char* what;
        bool instant;
    } cases[] = {{"exposed", false}, {"instant", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        Recorder recorder;
        recorder.hook = [](const Frame&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the host's work
        };
        const int id = open(recorder, [&](MvsimDeviceSetup& s) {
            s.instantTiming = c.instant ? 1 : 0;
            s.frameRate = 200;
            s.exposure = 1000;
            s.bandwidthMBps = 0;
            s.bufferCount = buffers;
        });
        ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        const bool arrived = recorder.waitForFrames(buffers + 3);
        ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
        ASSERT_TRUE(arrived) << recorder.count() << " frames delivered";

        const std::vector<unsigned> seen = numbersOf(recorder.frames());
        for (unsigned i = 0; i < buffers; ++i)
            ASSERT_EQ(seen[i], i + 1) << "frame " << i + 1 << " of the first " << buffers << " not delivered in turn";
        std::vector<unsigned> delivered;
        for (const MvsimLedgerEntry& e : ledgerOf(id))
            if (e.fate == MVSIM_FATE_DELIVERED)
                delivered.push_back(e.frameNumber);
        EXPECT_EQ(seen, delivered) << "the callback saw other frames, or in another order, than the ledger delivered";
    }
}

// A stop requested while frames wait behind a slow callback: the callback
// under way finishes, no other begins, and each waiting frame is dropped.
TEST_F(DeliveryTest, FramesWaitingAtAStopAreDropped)
{
    const unsigned buffers = 4;
    const struct {
        const char* what;
        bool triggered;
    } cases[] = {{"triggered", true}, {"free-running", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        Recorder recorder;
        Latch entered, release;
        std::atomic<bool> stopRequested{false};
        std::atomic<int> begunAfterStop{0};
        recorder.hook = [&](const Frame& frame) {
            if (stopRequested)
                ++begunAfterStop;
            if (frame.number == 1) {
                entered.open();
                release.wait();
            }
        };
        // Free-running frames are exposed on the sensor's own thread, so
        // they keep coming while frame 1 is in the callback.
        const int id = open(recorder, [&](MvsimDeviceSetup& s) {
            s.instantTiming = c.triggered ? 1 : 0;
            s.frameRate = c.triggered ? 0 : 200;
            s.exposure = 1000;
            s.bandwidthMBps = 0;
            s.bufferCount = buffers;
        });
        if (c.triggered) {
            ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
            ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", MVSIM_TRIGGER_SOURCE_SOFTWARE), MVSIM_OK);
        }
        ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        for (unsigned i = 0; c.triggered && i < buffers; ++i)
            ASSERT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_OK);
        ASSERT_TRUE(entered.wait()) << "frame 1 never reached the callback";
        // Frames 2..buffers fill the other buffers and wait.
        EXPECT_TRUE(eventually([&] {
            unsigned complete = 0;
            for (const MvsimLedgerEntry& e : ledgerOf(id))
                complete += e.frameNumber > 1 && e.readoutEnd != 0;
            return complete >= buffers - 1;
        })) << "the frames behind frame 1 were never completed";

        std::thread stopper([&] { EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK); });
        // The device stops grabbing as the stop is requested, before the
        // stop waits for the callback under way.
        EXPECT_TRUE(eventually([&] { return state(id).grabbing == 0; })) << "the stop was never requested";
        stopRequested = true;
        release.open();
        stopper.join();

        EXPECT_EQ(begunAfterStop.load(), 0) << "callbacks began after the stop was requested";
        EXPECT_EQ(recorder.count(), 1u);
        const std::vector<MvsimLedgerEntry> ledger = ledgerOf(id);
        ASSERT_GE(ledger.size(), buffers);
        EXPECT_EQ(ledger[0].fate, MVSIM_FATE_DELIVERED);
        for (std::size_t i = 1; i < buffers; ++i)
            EXPECT_EQ(ledger[i].fate, MVSIM_FATE_DROPPED) << "frame " << ledger[i].frameNumber;
    }
}

}  // namespace
