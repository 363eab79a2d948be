// No exception leaves a function of the stand-in, and a call that failed on
// the way leaves nothing running.
#include "mvsim_support.h"

#include <dirent.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace mvsimtest;

namespace {

const char* const serial = "SN-G";

class GuardTest : public testing::Test {
protected:
    void SetUp() override
    {
        MVSIM_Reset();
        ASSERT_EQ(addDevice("Model-G", serial), 0);
    }
    void TearDown() override
    {
        MVSIM_ClearFaults();
        MVSIM_Reset();
    }
};

// Threads of this process now.
int threadCount()
{
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(dir))
            n += e->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

// Each call throws inside; it must return its failure, say so in one line,
// and leave the simulator usable: a lock held past the throw would hang the
// next call, a half-made handle would be counted.
TEST_F(GuardTest, AThrowInsideACallBecomesItsFailure)
{
    void* handle = openHandle(serial);
    ASSERT_NE(handle, nullptr);
    static MV_CC_DEVICE_INFO_LIST list;
    MVCC_FLOATVALUE value;
    MvsimDeviceState deviceState;
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "Model-H", "SN-H");
    const struct {
        const char* function;
        std::function<int()> call;
        int failure;
    } calls[] = {
        {"MV_CC_EnumDevices", [&] { return MV_CC_EnumDevices(MV_GIGE_DEVICE, &list); }, MVSIM_E_RESOURCE},
        {"MV_CC_CreateHandle",
         [&] {
             void* h = nullptr;
             return MV_CC_CreateHandle(&h, recordOf(serial));
         },
         MVSIM_E_RESOURCE},
        {"MV_CC_GetExposureTime", [&] { return MV_CC_GetExposureTime(handle, &value); }, MVSIM_E_RESOURCE},
        {"MV_CC_SetEnumValue", [&] { return MV_CC_SetEnumValue(handle, "TriggerMode", 1); }, MVSIM_E_RESOURCE},
        {"MV_CC_StartGrabbing", [&] { return MV_CC_StartGrabbing(handle); }, MVSIM_E_RESOURCE},
        {"MVSIM_AddDevice", [&] { return MVSIM_AddDevice(&setup); }, MVSIM_E_RESOURCE},
        {"MVSIM_GetDeviceState", [&] { return MVSIM_GetDeviceState(0, &deviceState); }, MVSIM_E_RESOURCE},
        {"MVSIM_LoadDefaultConfig", [&] { return MVSIM_LoadDefaultConfig(); }, MVSIM_E_RESOURCE},
        {"MVSIM_LiveHandles", [&] { return MVSIM_LiveHandles(); }, MVSIM_E_RESOURCE},
    };
    for (const auto& c : calls) {
        MVSIM_ThrowInCall(c.function, 1);
        testing::internal::CaptureStderr();
        int code = 0;
        returnsWithinDeadline(c.function, [&] { code = c.call(); });
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, c.failure) << c.function;
        EXPECT_EQ(said, std::string("mvsim: ") + c.function + ": out of memory\n") << c.function;
        returnsWithinDeadline(c.function, [&] { EXPECT_EQ(MVSIM_LiveHandles(), 1) << c.function; });
    }
    EXPECT_EQ(MVSIM_DeviceCount(), 1) << "a failed MVSIM_AddDevice or load changed the devices";
    EXPECT_EQ(state(0).grabbing, 0);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    // The nth call counts: the first passes.
    MVSIM_ThrowInCall("MVSIM_DeviceCount", 2);
    EXPECT_EQ(MVSIM_DeviceCount(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MVSIM_DeviceCount(), MVSIM_E_RESOURCE);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

// A start that fails after the picture loader was made active stops it
// again: no thread of the failed start is left, and the next start works.
TEST_F(GuardTest, AFailedStartLeavesNothingRunning)
{
    const std::string picture = testing::TempDir() + "mvsim_guard_picture.pgm";
    {
        std::ofstream out(picture, std::ios::binary);
        out << "P5 16 4 255\n" << std::string(64, '\x40');
    }
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "Model-P", "SN-P");
    setup.width = 16;
    setup.height = 4;
    setup.images = picture.c_str();
    ASSERT_GE(MVSIM_AddDevice(&setup), 0);
    void* handle = openHandle("SN-P");
    ASSERT_NE(handle, nullptr);
    Recorder recorder;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);

    // A sanitizer's runtime starts a thread of its own with the first
    // thread of the process: have it now, not in the count after.
    std::thread([] {}).join();
    const int threadsBefore = threadCount();
    for (const char* point : {"start.threads", "MV_CC_StartGrabbing"}) {
        MVSIM_ThrowInCall(point, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(MV_CC_StartGrabbing(handle), MVSIM_E_RESOURCE) << point;
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0) << point;
        EXPECT_EQ(threadCount(), threadsBefore) << point << ": a thread of the failed start still runs";
        EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_E_CALLORDER) << point << ": the device counts as grabbing";
    }
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    EXPECT_TRUE(recorder.waitForFrames(2));
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
    std::remove(picture.c_str());
}

// Out of memory for real: a process whose address space is nearly used up
// lists the devices of a configuration, which loads it on that first call.
// The call must fail with a code; an exception out of it would abort.
TEST(GuardProcessTest, ListingUnderAMemoryLimitFailsWithoutAborting)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime maps its shadow memory itself and aborts when a limit refuses it";
#endif
    const std::string config = testing::TempDir() + "mvsim_guard_config.json";
    {
        std::ofstream out(config);
        out << R"({"devices": [)";
        for (int i = 0; i < 64; ++i)
            out << (i ? "," : "") << R"({"model": "Model-)" << i << R"(", "serial": "SN-)" << i
                << R"(", "width": 4096, "height": 3000})";
        out << "]}";
    }
    for (const char* headroomKb : {"0", "16", "256", "100000"}) {
        const std::string command = std::string(MVSIM_HOLDER_PATH) + " enum " + config + " " + headroomKb + " 2>&1";
        FILE* child = popen(command.c_str(), "r");
        ASSERT_NE(child, nullptr);
        std::string output;
        char line[256];
        while (std::fgets(line, sizeof line, child))
            output += line;
        const int status = pclose(child);
        ASSERT_TRUE(WIFEXITED(status)) << "headroom " << headroomKb << " KB: " << output;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "headroom " << headroomKb << " KB: " << output;
        EXPECT_NE(output.find("enum "), std::string::npos) << output;
        if (std::string(headroomKb) == "0") {
            // No room at all: the call itself must have run out.
            EXPECT_NE(output.find("mvsim: MV_CC_EnumDevices: out of memory\n"), std::string::npos) << output;
            EXPECT_NE(output.find("enum " + std::to_string(MVSIM_E_RESOURCE)), std::string::npos) << output;
        }
    }
    std::remove(config.c_str());
}

}  // namespace
