// Edges of the stand-in's behaviour that a change could move unnoticed:
// triggers sent to a device that does not wait for them, a frame waiting
// for its turn when the acquisition stops, frame numbers across a reopen,
// and the device limit of a configuration file.
#include "mvsim_support.h"

#include <fstream>
#include <sstream>
#include <thread>

using namespace mvsimtest;

namespace {

const char* const serial = "SN-EDGE";

class EdgeTest : public testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }
};

// A free-running device takes no trigger from either source, whatever the
// trigger source says; none of them makes a frame or uses a frame number.
TEST_F(EdgeTest, AFreeRunningDeviceRefusesTriggers)
{
    for (const TriggerWay& c : triggerWays()) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        // One tick a minute: no free-running frame comes during the test.
        const int id = addDevice("Edge", serial, MVSIM_TRANSPORT_GIGE, 64, 8, MVSIM_PIXEL_MONO8, 1.0 / 60);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 0), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", c.source), MVSIM_OK);
        Recorder recorder;
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(c.trigger(h, id), MVSIM_E_CALLORDER) << "trigger " << i << " taken while free-running";
        // A frame of our own takes the next number: 1 when no trigger used one.
        ASSERT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK);
        ASSERT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK);
        const std::vector<Frame> frames = recorder.frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].number, 1u);
        const MvsimCounters counts = counters(id);
        EXPECT_EQ(counts.lost, 0u);
        EXPECT_EQ(counts.delivered, 1u);
    }
}

// A grabbed frame waits for its turn while another thread's frame is in the
// callback; a stop meanwhile returns without waiting for that callback, and
// the waiting frame is never delivered.
TEST_F(EdgeTest, AFrameWaitingBehindADeliveredOneIsDroppedAtStop)
{
    const int id = addDevice("Edge", serial);
    ASSERT_GE(id, 0);
    void* h = openHandle(serial);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", MVSIM_TRIGGER_SOURCE_SOFTWARE), MVSIM_OK);
    Recorder recorder;
    Latch entered, release;
    recorder.hook = [&](const Frame& frame) {
        if (frame.number == 1) {
            entered.open();
            release.wait();
        }
    };
    ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
    // Frame 1 is delivered on a thread of its own and held in the callback.
    std::thread holder([&] { EXPECT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK); });
    ASSERT_TRUE(entered.wait());
    ASSERT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
    // Frame 2 is complete, in a buffer, and waits for the callback.
    EXPECT_TRUE(eventually([&] {
        MvsimLedgerEntry entry{};
        return MVSIM_LedgerEntry(id, 1, &entry) == MVSIM_OK && entry.readoutEnd != 0;
    })) << "the triggered frame was never completed";
    // It keeps the acquisition busy while it waits for its turn (and the
    // delivery side has the time to line it up behind the held callback).
    EXPECT_EQ(MVSIM_WaitIdle(id, 200), MVSIM_E_CALLORDER);

    auto stopped = std::async(std::launch::async, [&] { return MV_CC_StopGrabbing(h); });
    const bool stopReturned = stopped.wait_for(deadline) == std::future_status::ready;
    release.open();
    holder.join();
    EXPECT_TRUE(stopReturned) << "MV_CC_StopGrabbing waited for another thread's callback";
    EXPECT_EQ(stopped.get(), MVSIM_OK);
    const std::vector<Frame> frames = recorder.frames();
    ASSERT_EQ(frames.size(), 1u) << "a frame was delivered after MV_CC_StopGrabbing";
    EXPECT_EQ(counters(id).delivered, 1u);
    MvsimLedgerEntry entry{};
    ASSERT_EQ(MVSIM_LedgerEntry(id, 1, &entry), MVSIM_OK);
    EXPECT_EQ(entry.fate, MVSIM_FATE_DROPPED);
}

// Frame numbers count from 1 again each time a handle opens the device.
TEST_F(EdgeTest, OpeningTheDeviceRestartsFrameNumbers)
{
    const int id = addDevice("Edge", serial);
    ASSERT_GE(id, 0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        Recorder recorder;
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK);
        const std::vector<Frame> frames = recorder.frames();
        ASSERT_EQ(frames.size(), 3u);
        EXPECT_EQ(frames[0].number, 1u);
        EXPECT_EQ(frames[2].number, 3u);
        ASSERT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK);
    }
}

std::string configWithDevices(int n)
{
    std::ostringstream text;
    text << "{\"devices\": [";
    for (int i = 0; i < n; ++i)
        text << (i ? "," : "") << "{\"model\": \"M\", \"serial\": \"S" << i << "\"}";
    text << "]}";
    const std::string path = testing::TempDir() + "mvsim_edges_" + std::to_string(n) + ".json";
    std::ofstream(path) << text.str();
    return path;
}

// A file may list as many devices as an enumeration can hold, and no more.
TEST_F(EdgeTest, AConfigurationHoldsUpToTheEnumerationLimit)
{
    const struct {
        int devices;
        int result;
        int listed;
    } cases[] = {
        {MV_MAX_DEVICE_NUM - 1, MVSIM_OK, MV_MAX_DEVICE_NUM - 1},
        {MV_MAX_DEVICE_NUM, MVSIM_OK, MV_MAX_DEVICE_NUM},
        {MV_MAX_DEVICE_NUM + 1, MVSIM_E_CONFIG, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devices);
        testing::internal::CaptureStderr();
        EXPECT_EQ(MVSIM_LoadConfig(configWithDevices(c.devices).c_str()), c.result);
        const std::string error = testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.empty(), c.result == MVSIM_OK) << error;
        EXPECT_EQ(MVSIM_DeviceCount(), c.listed);
    }
    ASSERT_EQ(MVSIM_LoadConfig(configWithDevices(MV_MAX_DEVICE_NUM).c_str()), MVSIM_OK);
    MV_CC_DEVICE_INFO_LIST list;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_OK);
    EXPECT_EQ(list.nDeviceNum, static_cast<unsigned>(MV_MAX_DEVICE_NUM));
}

}  // namespace
