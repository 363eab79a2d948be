// Configuration files: a valid one, malformed ones, the built-in default.
#include "mvsim_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace mvsimtest;

namespace {

const std::string validConfig = std::string(MVSIM_TEST_DATA) + "/mvsim_config.json";

class ConfigTest : public testing::Test {
protected:
    void TearDown() override { MVSIM_Reset(); }
};

std::string writeFile(const std::string& name, const std::string& content)
{
    const std::string path = testing::TempDir() + "mvsim_" + name + ".json";
    std::ofstream(path) << content;
    return path;
}

TEST_F(ConfigTest, ValidFileGivesItsDevicesWithDefaultsForOmittedKeys)
{
    ASSERT_EQ(MVSIM_LoadConfig(validConfig.c_str()), MVSIM_OK);
    EXPECT_EQ(MVSIM_DeviceCount(), 3);
    ASSERT_EQ(MVSIM_FindDevice("Line-Scan-1", "CFG0001"), 0);
    ASSERT_EQ(MVSIM_FindDevice("Minimal", "CFG0002"), 1);
    ASSERT_EQ(MVSIM_FindDevice("Coded", "CFG0003"), 2);

    MvsimDeviceState s = state(0);
    EXPECT_EQ(s.width, 2048u);
    EXPECT_EQ(s.height, 2u);
    EXPECT_EQ(s.pixelType, MVSIM_PIXEL_MONO16);
    EXPECT_EQ(s.exposureMin, 5.0f);
    EXPECT_EQ(s.exposureMax, 5000.0f);
    EXPECT_EQ(s.exposure, 250.0f);
    EXPECT_EQ(s.gainMin, -2.0f);
    EXPECT_EQ(s.gainMax, 12.0f);
    EXPECT_EQ(s.gain, 1.5f);

    MvsimDeviceSetup defaults;
    MVSIM_DefaultSetup(&defaults, "x", "y");
    s = state(1);
    EXPECT_EQ(s.width, defaults.width);
    EXPECT_EQ(s.height, defaults.height);
    EXPECT_EQ(s.pixelType, defaults.pixelType);
    EXPECT_EQ(s.exposure, defaults.exposure);
    EXPECT_EQ(s.gainMax, defaults.gainMax);
    EXPECT_EQ(state(2).pixelType, MVSIM_PIXEL_RGBA8);

    MV_CC_DEVICE_INFO_LIST list;
    ASSERT_EQ(MV_CC_EnumDevices(MV_USB_DEVICE, &list), MVSIM_OK);
    ASSERT_EQ(list.nDeviceNum, 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.pDeviceInfo[0]->chSerialNumber), "CFG0001");
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_OK);
    EXPECT_EQ(list.nDeviceNum, 2u);
}

TEST_F(ConfigTest, ValidFileRatesDriveTheEngine)
{
    ASSERT_EQ(MVSIM_LoadConfig(validConfig.c_str()), MVSIM_OK);
    void* handle = openHandle("CFG0001");
    ASSERT_NE(handle, nullptr);
    Recorder recorder;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    // Line-0 trigger: only the configured pulse generator makes frames.
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    EXPECT_TRUE(recorder.waitForFrames(3)) << "configured linePulseRate triggered no frames";
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(ConfigTest, MalformedFilesAreReportedAndNotReplacedByTheDefault)
{
    const struct {
        const char* name;
        const char* content;
        const char* reason;
    } cases[] = {
        {"not_json", "{\"devices\": [", "bad JSON"},
        {"top_level_array", "[]", "top level: must be an object"},
        {"no_devices", "{}", "devices: missing"},
        {"devices_object", "{\"devices\": {}}", "devices: must be an array"},
        {"entry_number", "{\"devices\": [3]}", "devices[0]: must be an object"},
        {"no_model", "{\"devices\": [{\"serial\": \"S\"}]}", "devices[0].model: missing"},
        {"no_serial", "{\"devices\": [{\"model\": \"M\"}]}", "devices[0].serial: missing"},
        {"serial_number", "{\"devices\": [{\"model\": \"M\", \"serial\": 5}]}", "devices[0].serial: must be a string"},
        {"width_zero",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\"}, {\"model\": \"M\", \"serial\": \"T\", "
         "\"width\": 0}]}",
         "devices[1].width: must be an integer 1..65535, not 0"},
        {"width_large", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"width\": 65536}]}",
         "devices[0].width: must be an integer 1..65535, not 65536"},
        {"width_text", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"width\": \"640\"}]}",
         "devices[0].width: must be an integer 1..65535, not a string"},
        {"width_boolean", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"width\": true}]}",
         "devices[0].width: must be an integer 1..65535, not a boolean"},
        {"height_fraction", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"height\": 2.5}]}",
         "devices[0].height: must be an integer 1..65535, not 2.5"},
        {"transport", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"transport\": \"pcie\"}]}",
         "devices[0].transport"},
        {"pixel_name", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"pixelFormat\": \"Mono9\"}]}",
         "devices[0].pixelFormat: unknown pixel format"},
        {"pixel_code", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"pixelFormat\": 1}]}",
         "devices[0].pixelFormat"},
        {"exposure_reversed",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"exposure\": {\"min\": 10, \"max\": 5}}]}",
         "devices[0].exposure: must have min <= value <= max"},
        {"gain_text", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"gain\": {\"value\": \"1\"}}]}",
         "devices[0].gain.value: must be a number, not a string"},
        {"exposure_negative",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"exposure\": {\"min\": -10, \"value\": -5}}]}",
         "devices[0].exposure: must not be negative"},
        {"exposure_beyond_float",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"exposure\": {\"max\": 1e39}}]}",
         "devices[0].exposure.max: must be at most 3.4e38 in size, not 1e+39"},
        {"limits_misspelt", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"gain\": {\"maximum\": 5}}]}",
         "devices[0].gain.maximum: unknown key (the nearest known one is \"max\")"},
        {"key_misspelt", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"framerate\": 5}]}",
         "devices[0].framerate: unknown key (the nearest known one is \"frameRate\")"},
        {"key_unknown", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"bufers\": 5}]}",
         "devices[0].bufers: unknown key (the nearest known one is \"bufferCount\")"},
        {"top_misspelt", "{\"device\": []}", "top level.device: unknown key (the nearest known one is \"devices\")"},
        {"buffers_too_large",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"width\": 65535, \"height\": 65535, "
         "\"pixelFormat\": \"RGB16\"}]}",
         "devices[0].bufferCount: 3 frame buffers of 65535x65535 would take 73726 MiB, more than the 4096 MiB a device "
         "may have"},
        {"frame_rate", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"frameRate\": -1}]}",
         "devices[0].frameRate: must be a number >= 0, not -1"},
        // Times past what the schedule represents, which once ran the device flat out.
        {"frame_period_too_long", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"frameRate\": 1e-10}]}",
         "makes a frame period longer than a day"},
        {"pulse_period_too_long", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"linePulseRate\": 1e-10}]}",
         "makes a pulse period longer than a day"},
        {"readout_too_long", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"bandwidthMBps\": 1e-12}]}",
         "takes longer than a day, the longest readout simulated"},
        {"exposure_too_long",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\", \"exposure\": {\"min\": 1, \"max\": 1e16, "
         "\"value\": 1e16}}]}",
         "is longer than a day (86400000000 us), the longest exposure simulated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = writeFile(c.name, c.content);
        testing::internal::CaptureStderr();
        const int result = MVSIM_LoadConfig(path.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, MVSIM_E_CONFIG);
        EXPECT_NE(err.find("mvsim: " + path + ": "), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "not one line: " << err;
        EXPECT_EQ(MVSIM_DeviceCount(), 0) << "devices loaded from a malformed file";
        MV_CC_DEVICE_INFO_LIST list;
        EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MVSIM_E_CONFIG);
        EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MVSIM_E_CONFIG)
            << "second enumeration after a bad configuration";
    }
}

// What is no configuration file is refused at once: a pipe is not waited
// on, a device that never ends is not read, nor a file beyond the limit.
TEST_F(ConfigTest, UnreadableFileIsReported)
{
    const std::string fifo = testing::TempDir() + "mvsim_config_fifo.json";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = writeFile("config_large", "{");
    ASSERT_EQ(::truncate(large.c_str(), (16 << 20) + 1), 0);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {testing::TempDir() + "mvsim_no_such_file.json", "cannot read: No such file or directory"},
        {testing::TempDir(), "cannot read: not a regular file"},
        {fifo, "cannot read: not a regular file"},
        {"/dev/zero", "cannot read: not a regular file"},
        {large, "larger than 16 MiB, the most a configuration may be"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        testing::internal::CaptureStderr();
        EXPECT_EQ(MVSIM_LoadConfig(c.path.c_str()), MVSIM_E_CONFIG);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "mvsim: " + c.path + ": " + c.reason + "\n");
        MV_CC_DEVICE_INFO_LIST list;
        EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_E_CONFIG);
    }
    ::unlink(fifo.c_str());
    ::unlink(large.c_str());
    EXPECT_EQ(MVSIM_LoadConfig(nullptr), MVSIM_E_PARAMETER);
}

TEST_F(ConfigTest, ResetOrLoadEndsTheFailedState)
{
    const std::string path = writeFile("bad_then_good", "{");
    testing::internal::CaptureStderr();
    ASSERT_EQ(MVSIM_LoadConfig(path.c_str()), MVSIM_E_CONFIG);
    testing::internal::GetCapturedStderr();
    MVSIM_Reset();
    MV_CC_DEVICE_INFO_LIST list;
    EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_OK);
    EXPECT_EQ(list.nDeviceNum, 0u);

    testing::internal::CaptureStderr();
    ASSERT_EQ(MVSIM_LoadConfig(path.c_str()), MVSIM_E_CONFIG);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(MVSIM_LoadDefaultConfig(), MVSIM_OK);
    EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MVSIM_OK);
    EXPECT_EQ(list.nDeviceNum, 3u);
}

TEST_F(ConfigTest, BuiltInDefaultHasTheThreeCameras)
{
    ASSERT_EQ(MVSIM_LoadDefaultConfig(), MVSIM_OK);
    const struct {
        const char* model;
        const char* serial;
        unsigned transport, width, height, pixelType;
    } cameras[] = {
        {"SIM-GM8-1280", "00A1B2C3D4", MV_GIGE_DEVICE, 1280, 1024, MVSIM_PIXEL_MONO8},
        {"SIM-UC24-2448", "00E5F6A7B8", MV_USB_DEVICE, 2448, 2048, MVSIM_PIXEL_RGB8},
        {"SIM-GM16-4096", "00C9D0E1F2", MV_GIGE_DEVICE, 4096, 3000, MVSIM_PIXEL_MONO16},
    };
    MV_CC_DEVICE_INFO_LIST list;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MVSIM_OK);
    ASSERT_EQ(list.nDeviceNum, 3u);
    for (int i = 0; i < 3; ++i) {
        const auto& c = cameras[i];
        EXPECT_STREQ(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chModelName), c.model);
        EXPECT_STREQ(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chSerialNumber), c.serial);
        EXPECT_EQ(list.pDeviceInfo[i]->nTLayerType, c.transport);
        const MvsimDeviceState s = state(MVSIM_FindDevice(c.model, c.serial));
        EXPECT_EQ(s.width, c.width);
        EXPECT_EQ(s.height, c.height);
        EXPECT_EQ(s.pixelType, c.pixelType);
        EXPECT_EQ(s.exposureMin, 15.0f);
        EXPECT_EQ(s.exposureMax, 1000000.0f);
        EXPECT_EQ(s.exposure, 10000.0f);
        EXPECT_EQ(s.gainMax, 20.0f);
    }
}

}  // namespace
