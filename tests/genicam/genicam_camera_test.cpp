// The GenICam SDK under the unchanged plug-in, driven as a host drives it,
// against the emulated GigE Vision camera on 127.0.0.1. Each case starts its
// own emulated camera (registers at their defaults) and kills it at the end.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <arv.h>
#include <gtest/gtest.h>

#include "fakecamera.h"
#include "mvcameracontrol.h"

namespace gtest_genicam {
namespace {

using namespace std::chrono_literals;

class EmulatedCamera : public ::testing::Test {
protected:
    virtual std::vector<std::string> fakeArgs() const { return {}; }
    void SetUp() override
    {
        fake.reset(new FakeCamera(fakeArgs()));
        ASSERT_TRUE(fake->waitDiscoverable()) << "the emulated camera was not listed";
    }
    void TearDown() override { fake.reset(); }

    std::unique_ptr<FakeCamera> fake;
};

// A feature of the device read over a connection of the test's own, after
// the camera's handles are closed (the emulated camera keeps its registers).
std::string deviceString(const char* feature)
{
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new("Aravis-Fake-KW01", &error);
    if (camera == nullptr) {
        g_clear_error(&error);
        return "<no camera>";
    }
    const char* value = arv_camera_get_string(camera, feature, &error);
    std::string text = value != nullptr ? value : "<error>";
    g_clear_error(&error);
    g_object_unref(camera);
    return text;
}

double deviceFloat(const char* feature)
{
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new("Aravis-Fake-KW01", &error);
    if (camera == nullptr) {
        g_clear_error(&error);
        return -1;
    }
    const double value = arv_camera_get_float(camera, feature, &error);
    g_clear_error(&error);
    g_object_unref(camera);
    return value;
}

// Sets a float feature of the device over a connection of the test's own,
// before the camera's handles open it.
void setDeviceFloat(const char* feature, double value)
{
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new("Aravis-Fake-KW01", &error);
    ASSERT_NE(camera, nullptr);
    arv_camera_set_float(camera, feature, value, &error);
    EXPECT_EQ(error, nullptr) << feature;
    g_clear_error(&error);
    g_object_unref(camera);
}

// The SDK's own handle on the emulated camera, without the plug-in.
struct SdkHandle {
    SdkHandle()
    {
        MV_CC_DEVICE_INFO_LIST list;
        EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
        for (unsigned int i = 0; i < list.nDeviceNum; ++i)
            if (std::strcmp(reinterpret_cast<char*>(list.pDeviceInfo[i]->chSerialNumber), kSerial) == 0)
                record = *list.pDeviceInfo[i];
        EXPECT_EQ(MV_CC_CreateHandle(&handle, &record), MV_OK);
        EXPECT_EQ(MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0), MV_OK);
    }
    ~SdkHandle() { close(); }
    void close()
    {
        if (handle != nullptr) {
            EXPECT_EQ(MV_CC_DestroyHandle(handle), MV_OK);
        }
        handle = nullptr;
    }
    MV_CC_DEVICE_INFO record{};
    void* handle = nullptr;
};

TEST_F(EmulatedCamera, ListedWithWhatTheDeviceReports)
{
    MV_CC_DEVICE_INFO_LIST first, second;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &first), MV_OK);
    ASSERT_EQ(first.nDeviceNum, 1u);
    const MV_CC_DEVICE_INFO* r = first.pDeviceInfo[0];
    EXPECT_EQ(r->nTLayerType, MV_GIGE_DEVICE);
    EXPECT_STREQ(reinterpret_cast<const char*>(r->chModelName), "Fake");
    EXPECT_STREQ(reinterpret_cast<const char*>(r->chSerialNumber), kSerial);
    EXPECT_STREQ(reinterpret_cast<const char*>(r->chManufacturerName), "Aravis");
    EXPECT_STREQ(reinterpret_cast<const char*>(r->chAddress), "127.0.0.1");
    // A USB-only enumeration does not list a GigE camera.
    ASSERT_EQ(MV_CC_EnumDevices(MV_USB_DEVICE, &second), MV_OK);
    EXPECT_EQ(second.nDeviceNum, 0u);

    Host host;
    EXPECT_TRUE(host->IGetCameraList().contains(QString::fromLatin1(kKey))) << "the plug-in's list";
}

TEST_F(EmulatedCamera, OpensWithTheDevicesGeometryAndFormat)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    EXPECT_EQ(host->m_nWidth, 512);
    EXPECT_EQ(host->m_nHeight, 512);
    // The device's pixel type, as the plug-in keeps it until the first frame.
    unsigned int devicePixelType = 0;
    std::memcpy(&devicePixelType, reinterpret_cast<const unsigned char*>(host.object) + 104, sizeof devicePixelType);
    EXPECT_EQ(devicePixelType, 0x01080001u) << "Mono8";
}

TEST_F(EmulatedCamera, SdkGivesLimitsAndFailsMissingFeaturesWithItsCode)
{
    SdkHandle sdk;
    MVCC_INTVALUE width, height;
    ASSERT_EQ(MV_CC_GetWidth(sdk.handle, &width), MV_OK);
    ASSERT_EQ(MV_CC_GetHeight(sdk.handle, &height), MV_OK);
    EXPECT_EQ(width.nCurValue, 512u);
    EXPECT_EQ(height.nCurValue, 512u);
    EXPECT_LE(width.nMin, 512u);
    EXPECT_GE(width.nMax, 512u);
    EXPECT_GE(width.nInc, 1u);
    EXPECT_LE(height.nMin, 512u);
    EXPECT_GE(height.nMax, 512u);
    MVCC_ENUMVALUE format;
    ASSERT_EQ(MV_CC_GetPixelFormat(sdk.handle, &format), MV_OK);
    EXPECT_EQ(format.nCurValue, 0x01080001u) << "Mono8's PFNC code";
    MVCC_FLOATVALUE exposure, gain;
    ASSERT_EQ(MV_CC_GetExposureTime(sdk.handle, &exposure), MV_OK) << "ExposureTimeAbs";
    EXPECT_LT(exposure.fMin, exposure.fMax);
    ASSERT_EQ(MV_CC_GetGain(sdk.handle, &gain), MV_OK) << "GainRaw";
    EXPECT_LE(gain.fMin, gain.fCurValue);

    struct Missing {
        const char* what;
        int result;
    };
    const Missing missing[] = {
        {"ExposureAuto", MV_CC_SetExposureAutoMode(sdk.handle, 0)},
        {"BalanceWhiteAuto", MV_CC_SetBalanceWhiteAuto(sdk.handle, 0)},
        {"BalanceRatio", MV_CC_SetBalanceRatioRed(sdk.handle, 1000)},
        {"an unknown enumeration", MV_CC_SetEnumValue(sdk.handle, "NoSuchFeature", 0)},
        {"an unknown command", MV_CC_SetCommandValue(sdk.handle, "NoSuchCommand")},
        {"a command that is an enumeration", MV_CC_SetCommandValue(sdk.handle, "TriggerMode")},
    };
    for (const Missing& m : missing)
        EXPECT_EQ(m.result, MV_E_SUPPORT) << m.what;
    EXPECT_EQ(MV_CC_OpenDevice(sdk.handle, MV_ACCESS_EXCLUSIVE, 0), MV_E_CALLORDER) << "already open";
    EXPECT_EQ(MV_CC_StopGrabbing(sdk.handle), MV_E_CALLORDER) << "not grabbing";
}

TEST_F(EmulatedCamera, EnumerationCodesMapToTheDevicesEntries)
{
    struct Row {
        const char* key;
        unsigned int code;
        int result;
    };
    // The emulated camera has Line0 and Software only.
    const Row refused[] = {
        {"TriggerSource", 1, MV_E_PARAMETER}, {"TriggerSource", 5, MV_E_PARAMETER}, {"TriggerMode", 2, MV_E_PARAMETER}};
    {
        SdkHandle sdk;
        for (const Row& row : refused)
            EXPECT_EQ(MV_CC_SetEnumValue(sdk.handle, row.key, row.code), row.result) << row.key << " " << row.code;
        ASSERT_EQ(MV_CC_SetEnumValue(sdk.handle, "TriggerSource", 7), MV_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(sdk.handle, "TriggerMode", 1), MV_OK);
    }
    EXPECT_EQ(deviceString("TriggerSource"), "Software");
    EXPECT_EQ(deviceString("TriggerMode"), "On");
    {
        SdkHandle sdk;
        ASSERT_EQ(MV_CC_SetEnumValue(sdk.handle, "TriggerSource", 0), MV_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(sdk.handle, "TriggerMode", 0), MV_OK);
    }
    EXPECT_EQ(deviceString("TriggerSource"), "Line0");
    EXPECT_EQ(deviceString("TriggerMode"), "Off");
}

TEST_F(EmulatedCamera, FreeRunningFramesAreTheCamerasRamp)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    unitScale(host.object);
    ASSERT_EQ(host->IStartCamera(), 1);
    ASSERT_TRUE(host.frames.waitFor(10)) << "frames: " << host.frames.count();
    host->ICloseCamera();
    EXPECT_EQ(host.frames.mismatches(), 0) << "pixels off the ramp";
    EXPECT_EQ(host.frames.lastWidth(), 512);
    EXPECT_EQ(host.frames.lastHeight(), 512);
    EXPECT_EQ(host.frames.lastFormat(), CameraPixelFormatGray8);
}

TEST_F(EmulatedCamera, EachSoftwareTriggerGivesOneFrame)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    host->m_nTriggerMode = CameraTriggerModeSoftware;
    ASSERT_EQ(host->IStartCamera(), 1);
    constexpr int kTriggers = 5;
    for (int i = 1; i <= kTriggers; ++i) {
        host->ISnapCamera();
        // The camera looks for triggers 25 times a second: one at a time.
        ASSERT_TRUE(host.frames.waitFor(i)) << "trigger " << i;
    }
    EXPECT_FALSE(host.frames.waitFor(kTriggers + 1, 300ms)) << "a frame without a trigger";
    host->ICloseCamera();
    EXPECT_EQ(host.frames.count(), kTriggers);
}

TEST_F(EmulatedCamera, ExposureSetThroughThePluginReachesTheCamera)
{
    {
        Host host;
        ASSERT_EQ(host->IOpenCamera(), 1);
        tagQZ_CAMERA_PROPERTY exposure{CameraPropertyExposureTime, 20000};
        EXPECT_TRUE(host->ISetProperty(&exposure));
        tagQZ_CAMERA_PROPERTY tooLong{CameraPropertyExposureTime, 2000000000};
        EXPECT_FALSE(host->ISetProperty(&tooLong)) << "beyond the device's limit";
    }
    EXPECT_DOUBLE_EQ(deviceFloat("ExposureTimeAbs"), 20000.0);
}

TEST_F(EmulatedCamera, PropertyOfAMissingFeatureFailsWithoutHanging)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    returnsWithin(10s, "a balance ratio on a camera without one", [&] {
        tagQZ_CAMERA_PROPERTY ratio{CameraPropertyBalanceRatioRed, 1000};
        EXPECT_FALSE(host->ISetProperty(&ratio));
    });
}

TEST_F(EmulatedCamera, SecondObjectAndSecondProcessAreRefusedWhileHeld)
{
    Host first;
    ASSERT_EQ(first->IOpenCamera(), 1);
    Host second;
    EXPECT_EQ(second->IOpenCamera(), 0) << "a second object in this process";
    std::string line;
    const pid_t other = startHolder(&line);
    EXPECT_EQ(line, "refused");
    EXPECT_EQ(reap(other), 3);
    first->ICloseCamera();
    EXPECT_EQ(second->IOpenCamera(), 1) << "free once the first closed it";
}

TEST_F(EmulatedCamera, KilledHoldersCameraOpensAgainAfterItsHeartbeat)
{
    std::string line;
    const pid_t holder = startHolder(&line);
    ASSERT_EQ(line, "held");
    Host host;
    EXPECT_EQ(host->IOpenCamera(), 0) << "held by the other process";
    ::kill(holder, SIGKILL);
    EXPECT_EQ(reap(holder), -SIGKILL);
    // The device frees its control channel when the heartbeat runs out (3 s
    // for the emulated camera); each attempt takes an enumeration's second.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool opened = false;
    while (!opened && std::chrono::steady_clock::now() < deadline)
        opened = host->IOpenCamera() == 1;
    EXPECT_TRUE(opened) << "not free 10 s after its holder was killed";
}

TEST_F(EmulatedCamera, StopInsideOnImageReadyEndsTheFramesAndStartAgainWorks)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    std::atomic<bool> stopInside{true};
    host.frames.onFrame = [&](ICameraObject* camera) {
        if (stopInside.exchange(false))
            camera->IStopCamera();
    };
    ASSERT_EQ(host->IStartCamera(), 1);
    ASSERT_TRUE(host.frames.waitFor(1));
    EXPECT_FALSE(host.frames.waitFor(2, 300ms)) << "a frame after the stop inside the callback";
    EXPECT_FALSE(host->m_bGrabbing);
    ASSERT_EQ(host->IStartCamera(), 1);
    EXPECT_TRUE(host.frames.waitFor(3)) << "no frames after starting again";
    host->ICloseCamera();
}

TEST_F(EmulatedCamera, DeleteInsideOnImageReadyReturnsAndFreesTheCamera)
{
    std::mutex mutex;
    std::condition_variable deleted;
    bool done = false;
    {
        Host host;
        ASSERT_EQ(host->IOpenCamera(), 1);
        host.frames.onFrame = [&](ICameraObject* camera) {
            deleteCamera(camera);
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
            deleted.notify_all();
        };
        ASSERT_EQ(host->IStartCamera(), 1);
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(deleted.wait_for(lock, 10s, [&] { return done; })) << "Camera_Delete inside OnImageReady";
        host.object = nullptr;
        lock.unlock();
        EXPECT_TRUE(host.frames.waitFor(1));
        EXPECT_FALSE(host.frames.waitFor(2, 300ms)) << "a frame after Camera_Delete";
    }
    // The stream is freed off its own thread just after; then the device is
    // free for the next object.
    Host next;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool opened = false;
    while (!opened && std::chrono::steady_clock::now() < deadline)
        opened = next->IOpenCamera() == 1;
    EXPECT_TRUE(opened);
}

TEST_F(EmulatedCamera, TwentyOpenStartCloseCycles)
{
    Host host;
    for (int cycle = 1; cycle <= 20; ++cycle) {
        ASSERT_EQ(host->IOpenCamera(), 1) << "cycle " << cycle;
        if (cycle == 1)
            unitScale(host.object);
        ASSERT_EQ(host->IStartCamera(), 1) << "cycle " << cycle;
        ASSERT_TRUE(host.frames.waitFor(cycle)) << "cycle " << cycle;
        host->ICloseCamera();
    }
    EXPECT_EQ(host.frames.mismatches(), 0);
}

TEST_F(EmulatedCamera, CameraGoneWhileGrabbingStopCloseAndDeleteReturn)
{
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    ASSERT_EQ(host->IStartCamera(), 1);
    ASSERT_TRUE(host.frames.waitFor(3));
    fake->kill();
    returnsWithin(20s, "IStopCamera after the camera went away", [&] { host->IStopCamera(); });
    const int frames = host.frames.count();
    returnsWithin(20s, "ICloseCamera after the camera went away", [&] { host->ICloseCamera(); });
    returnsWithin(20s, "Camera_Delete after the camera went away", [&] { host.destroy(); });
    EXPECT_EQ(host.frames.count(), frames) << "a frame after the stop";
}

// 2 % of the stream's packets lost and never resent.
class LossyEmulatedCamera : public EmulatedCamera {
protected:
    std::vector<std::string> fakeArgs() const override { return {"-r", "20"}; }
};

TEST_F(LossyEmulatedCamera, EveryDeliveredFrameIsWhole)
{
    // Few frames of ~200 packets each come whole: more frames per second.
    setDeviceFloat("AcquisitionFrameRate", 400);
    Host host;
    ASSERT_EQ(host->IOpenCamera(), 1);
    unitScale(host.object);
    ASSERT_EQ(host->IStartCamera(), 1);
    ASSERT_TRUE(host.frames.waitFor(10, 30s)) << "frames: " << host.frames.count();
    host->ICloseCamera();
    EXPECT_EQ(host.frames.mismatches(), 0) << "a frame with pixels of another";

    // The SDK's own view: the frames it dropped are counted in the frame
    // record, and the ones it delivered are whole.
    struct Seen {
        std::mutex mutex;
        std::condition_variable arrived;
        int frames = 0;
        long mismatches = 0;
        unsigned int lost = 0;
    } seen;
    auto onFrame = [](unsigned char* data, _MV_FRAME_OUT_INFO_* info, void* user) {
        Seen* s = static_cast<Seen*>(user);
        const long bad = rampMismatches(data, info->nWidth, info->nHeight);
        std::lock_guard<std::mutex> lock(s->mutex);
        ++s->frames;
        s->mismatches += bad;
        s->lost = info->nLostFrames;
        s->arrived.notify_all();
    };
    SdkHandle sdk;
    ASSERT_EQ(MV_CC_RegisterImageCallBack(sdk.handle, onFrame, &seen), MV_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(sdk.handle), MV_OK);
    {
        std::unique_lock<std::mutex> lock(seen.mutex);
        EXPECT_TRUE(seen.arrived.wait_for(lock, 30s, [&] { return seen.frames >= 5 && seen.lost > 0; }))
            << seen.frames << " frames, " << seen.lost << " lost";
    }
    ASSERT_EQ(MV_CC_StopGrabbing(sdk.handle), MV_OK);
    EXPECT_EQ(seen.mismatches, 0);
}

}  // namespace
}  // namespace gtest_genicam
