// The SDK functions' checks: handles, records, feature names and values,
// access, enumeration, faults and the call log.
#include "mvsim_support.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace mvsimtest;

namespace {

const char* const serialA = "SN-A";
const char* const serialB = "SN-B";

class SdkTest : public testing::Test {
protected:
    void SetUp() override
    {
        MVSIM_Reset();
        deviceA = addDevice("Model-A", serialA, MVSIM_TRANSPORT_GIGE, 64, 8, MVSIM_PIXEL_MONO8);
        deviceB = addDevice("Model-B", serialB, MVSIM_TRANSPORT_USB, 32, 4, MVSIM_PIXEL_RGB8);
        ASSERT_EQ(deviceA, 0);
        ASSERT_EQ(deviceB, 1);
    }
    void TearDown() override { MVSIM_Reset(); }

    int deviceA = -1;
    int deviceB = -1;
};

// Every SDK function that takes a handle, called with valid other arguments.
struct HandleCall {
    const char* name;
    std::function<int(void*)> call;
};

void ignoreFrame(unsigned char*, _MV_FRAME_OUT_INFO_*, void*)
{}

std::vector<HandleCall> handleCalls()
{
    static MVCC_INTVALUE intValue;
    static MVCC_ENUMVALUE enumValue;
    static MVCC_FLOATVALUE floatValue;
    return {
        {"OpenDevice", [](void* h) { return MV_CC_OpenDevice(h, MV_ACCESS_EXCLUSIVE, 0); }},
        {"RegisterImageCallBack", [](void* h) { return MV_CC_RegisterImageCallBack(h, ignoreFrame, nullptr); }},
        {"DestroyHandle", [](void* h) { return MV_CC_DestroyHandle(h); }},
        {"GetWidth", [](void* h) { return MV_CC_GetWidth(h, &intValue); }},
        {"GetHeight", [](void* h) { return MV_CC_GetHeight(h, &intValue); }},
        {"GetPixelFormat", [](void* h) { return MV_CC_GetPixelFormat(h, &enumValue); }},
        {"SetExposureTime", [](void* h) { return MV_CC_SetExposureTime(h, 100.0f); }},
        {"SetGain", [](void* h) { return MV_CC_SetGain(h, 1.0f); }},
        {"GetExposureTime", [](void* h) { return MV_CC_GetExposureTime(h, &floatValue); }},
        {"GetGain", [](void* h) { return MV_CC_GetGain(h, &floatValue); }},
        {"SetExposureAutoMode", [](void* h) { return MV_CC_SetExposureAutoMode(h, 0); }},
        {"SetBalanceWhiteAuto", [](void* h) { return MV_CC_SetBalanceWhiteAuto(h, 0); }},
        {"SetBalanceRatioRed", [](void* h) { return MV_CC_SetBalanceRatioRed(h, 1000); }},
        {"SetBalanceRatioGreen", [](void* h) { return MV_CC_SetBalanceRatioGreen(h, 1000); }},
        {"SetBalanceRatioBlue", [](void* h) { return MV_CC_SetBalanceRatioBlue(h, 1000); }},
        {"SetEnumValue", [](void* h) { return MV_CC_SetEnumValue(h, "TriggerMode", 1); }},
        {"SetCommandValue", [](void* h) { return MV_CC_SetCommandValue(h, "TriggerSoftware"); }},
        {"StartGrabbing", [](void* h) { return MV_CC_StartGrabbing(h); }},
        {"StopGrabbing", [](void* h) { return MV_CC_StopGrabbing(h); }},
    };
}

TEST_F(SdkTest, EveryHandleCallRefusesNullGarbageAndDestroyedHandles)
{
    void* destroyed = createHandle(serialA);
    ASSERT_NE(destroyed, nullptr);
    ASSERT_EQ(MV_CC_DestroyHandle(destroyed), MVSIM_OK);
    // A live handle of another device keeps the registry non-empty.
    void* live = openHandle(serialB);
    ASSERT_NE(live, nullptr);

    const struct {
        const char* what;
        void* handle;
    } badHandles[] = {
        {"null", nullptr},
        {"garbage", reinterpret_cast<void*>(0x1234)},
        {"destroyed", destroyed},
    };
    for (const auto& bad : badHandles)
        for (const HandleCall& c : handleCalls())
            EXPECT_EQ(c.call(bad.handle), MVSIM_E_HANDLE) << c.name << " with a " << bad.what << " handle";
    EXPECT_EQ(MVSIM_LiveHandles(), 1);
    EXPECT_EQ(MV_CC_DestroyHandle(live), MVSIM_OK);
}

TEST_F(SdkTest, EveryCallButOpenAndDestroyNeedsAnOpenHandle)
{
    void* handle = createHandle(serialA);
    ASSERT_NE(handle, nullptr);
    for (const HandleCall& c : handleCalls()) {
        if (std::string(c.name) == "OpenDevice" || std::string(c.name) == "DestroyHandle")
            continue;
        EXPECT_EQ(c.call(handle), MVSIM_E_CALLORDER) << c.name;
    }
    EXPECT_EQ(state(deviceA).triggerMode, 0u) << "a refused call changed the device";
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, NullRecordPointersAreParameterErrors)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(MV_CC_GetWidth(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_GetHeight(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_GetPixelFormat(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_GetExposureTime(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_GetGain(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_SetEnumValue(handle, nullptr, 0), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_SetCommandValue(handle, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, nullptr), MVSIM_E_PARAMETER);
    void* created = nullptr;
    EXPECT_EQ(MV_CC_CreateHandle(&created, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_CreateHandle(nullptr, recordOf(serialA)), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_LiveHandles(), 1);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, GettersFillTheWholeRecord)
{
    void* handle = openHandle(serialB);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(MV_CC_SetExposureTime(handle, 250.0f), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetGain(handle, 3.5f), MVSIM_OK);

    MVCC_INTVALUE width;
    std::memset(&width, 0xAB, sizeof width);
    ASSERT_EQ(MV_CC_GetWidth(handle, &width), MVSIM_OK);
    EXPECT_EQ(width.nCurValue, 32u);
    EXPECT_LE(width.nMin, width.nCurValue);
    EXPECT_GE(width.nMax, width.nCurValue);
    EXPECT_GE(width.nInc, 1u);
    MVCC_INTVALUE height;
    ASSERT_EQ(MV_CC_GetHeight(handle, &height), MVSIM_OK);
    EXPECT_EQ(height.nCurValue, 4u);

    MVCC_ENUMVALUE format;
    std::memset(&format, 0xAB, sizeof format);
    ASSERT_EQ(MV_CC_GetPixelFormat(handle, &format), MVSIM_OK);
    EXPECT_EQ(format.nCurValue, MVSIM_PIXEL_RGB8);
    ASSERT_GE(format.nSupportedNum, 1u);
    ASSERT_LE(format.nSupportedNum, 64u);
    EXPECT_EQ(format.nSupportValue[0], MVSIM_PIXEL_RGB8);

    MVCC_FLOATVALUE exposure;
    ASSERT_EQ(MV_CC_GetExposureTime(handle, &exposure), MVSIM_OK);
    EXPECT_EQ(exposure.fCurValue, 250.0f);
    EXPECT_EQ(exposure.fMin, 10.0f);
    EXPECT_EQ(exposure.fMax, 1000000.0f);
    MVCC_FLOATVALUE gain;
    ASSERT_EQ(MV_CC_GetGain(handle, &gain), MVSIM_OK);
    EXPECT_EQ(gain.fCurValue, 3.5f);
    EXPECT_EQ(gain.fMin, 0.0f);
    EXPECT_EQ(gain.fMax, 20.0f);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, ValuesTheDeviceDoesNotTakeLeaveItUnchanged)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(MV_CC_SetBalanceWhiteAuto(handle, 0), MVSIM_OK);  // ratios are refused while it runs
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        std::function<int()> call;
        int expected;
    } cases[] = {
        {"exposure below min", [&] { return MV_CC_SetExposureTime(handle, 9.0f); }, MVSIM_E_PARAMETER},
        {"exposure above max", [&] { return MV_CC_SetExposureTime(handle, 1000001.0f); }, MVSIM_E_PARAMETER},
        {"exposure NaN", [&] { return MV_CC_SetExposureTime(handle, nan); }, MVSIM_E_PARAMETER},
        {"gain below min", [&] { return MV_CC_SetGain(handle, -0.5f); }, MVSIM_E_PARAMETER},
        {"gain above max", [&] { return MV_CC_SetGain(handle, 20.5f); }, MVSIM_E_PARAMETER},
        {"gain NaN", [&] { return MV_CC_SetGain(handle, nan); }, MVSIM_E_PARAMETER},
        {"exposure auto 3", [&] { return MV_CC_SetExposureAutoMode(handle, 3); }, MVSIM_E_PARAMETER},
        {"balance auto 3", [&] { return MV_CC_SetBalanceWhiteAuto(handle, 3); }, MVSIM_E_PARAMETER},
        {"red ratio max", [&] { return MV_CC_SetBalanceRatioRed(handle, 4294967295u); }, MVSIM_E_PARAMETER},
        {"green ratio 16384", [&] { return MV_CC_SetBalanceRatioGreen(handle, 16384); }, MVSIM_E_PARAMETER},
        {"blue ratio max", [&] { return MV_CC_SetBalanceRatioBlue(handle, 4294967295u); }, MVSIM_E_PARAMETER},
        {"trigger mode 2", [&] { return MV_CC_SetEnumValue(handle, "TriggerMode", 2); }, MVSIM_E_PARAMETER},
        {"trigger source 5", [&] { return MV_CC_SetEnumValue(handle, "TriggerSource", 5); }, MVSIM_E_PARAMETER},
        {"trigger source 8", [&] { return MV_CC_SetEnumValue(handle, "TriggerSource", 8); }, MVSIM_E_PARAMETER},
        {"unknown enumeration", [&] { return MV_CC_SetEnumValue(handle, "GainAuto", 0); }, MVSIM_E_SUPPORT},
        {"name case differs", [&] { return MV_CC_SetEnumValue(handle, "triggermode", 1); }, MVSIM_E_SUPPORT},
        {"unknown command", [&] { return MV_CC_SetCommandValue(handle, "AcquisitionStart"); }, MVSIM_E_SUPPORT},
    };
    const MvsimDeviceState before = state(deviceA);
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
        const MvsimDeviceState after = state(deviceA);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << c.what << " changed the device";
    }
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, AcceptedValuesReachTheDevice)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    MvsimDeviceState s = state(deviceA);
    EXPECT_EQ(s.exposureAuto, 2u);
    EXPECT_EQ(s.balanceWhiteAuto, 1u);
    EXPECT_EQ(s.balanceRatioRed, 1024u);
    EXPECT_EQ(s.triggerMode, 0u);
    EXPECT_EQ(s.triggerSource, 0u);
    EXPECT_EQ(MV_CC_SetBalanceRatioRed(handle, 1500), MVSIM_E_CALLORDER) << "ratio taken while balance auto runs";

    // Exposure is stored while automatic exposure runs.
    EXPECT_EQ(MV_CC_SetExposureTime(handle, 10.0f), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetGain(handle, 20.0f), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetExposureAutoMode(handle, 0), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetBalanceWhiteAuto(handle, 0), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetBalanceRatioRed(handle, 1500), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetBalanceRatioGreen(handle, 0), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetBalanceRatioBlue(handle, 16383), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", 7), MVSIM_OK);
    s = state(deviceA);
    EXPECT_EQ(s.exposure, 10.0f);
    EXPECT_EQ(s.gain, 20.0f);
    EXPECT_EQ(s.exposureAuto, 0u);
    EXPECT_EQ(s.balanceWhiteAuto, 0u);
    EXPECT_EQ(s.balanceRatioRed, 1500u);
    EXPECT_EQ(s.balanceRatioGreen, 0u);
    EXPECT_EQ(s.balanceRatioBlue, 16383u);
    EXPECT_EQ(s.triggerMode, 1u);
    EXPECT_EQ(s.triggerSource, 7u);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, ExclusiveOpenAndRelease)
{
    void* first = createHandle(serialA);
    void* second = createHandle(serialA);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(MVSIM_LiveHandles(), 2);
    EXPECT_EQ(MV_CC_OpenDevice(first, MV_ACCESS_EXCLUSIVE, 0), MVSIM_OK);
    EXPECT_EQ(MV_CC_OpenDevice(first, MV_ACCESS_EXCLUSIVE, 0), MVSIM_E_CALLORDER);
    EXPECT_EQ(MV_CC_OpenDevice(second, MV_ACCESS_EXCLUSIVE, 0), MVSIM_E_ACCESS);
    EXPECT_EQ(MV_CC_OpenDevice(second, 0, 0), MVSIM_E_PARAMETER);
    EXPECT_EQ(MV_CC_OpenDevice(second, 8, 0), MVSIM_E_PARAMETER);
    EXPECT_EQ(state(deviceA).openHandles, 1);

    // Destroying the handle that never opened leaves the device held.
    EXPECT_EQ(MV_CC_DestroyHandle(second), MVSIM_OK);
    EXPECT_EQ(state(deviceA).openHandles, 1);
    EXPECT_EQ(MVSIM_LiveHandles(), 1);

    EXPECT_EQ(MV_CC_DestroyHandle(first), MVSIM_OK);
    EXPECT_EQ(state(deviceA).openHandles, 0);
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
    EXPECT_EQ(MV_CC_DestroyHandle(first), MVSIM_E_HANDLE);

    void* third = openHandle(serialA);
    EXPECT_NE(third, nullptr) << "device not released by destroying its holder";
    EXPECT_EQ(MV_CC_DestroyHandle(third), MVSIM_OK);
}

TEST_F(SdkTest, EnumerationFiltersByTransportInOrderAdded)
{
    addDevice("Model-C", "SN-C", MVSIM_TRANSPORT_GIGE);
    const struct {
        unsigned mask;
        std::vector<std::string> serials;
    } cases[] = {
        {MV_GIGE_DEVICE, {"SN-A", "SN-C"}},
        {MV_USB_DEVICE, {"SN-B"}},
        {MV_GIGE_DEVICE | MV_USB_DEVICE, {"SN-A", "SN-B", "SN-C"}},
        {0, {}},
        {0x8, {}},
    };
    for (const auto& c : cases) {
        MV_CC_DEVICE_INFO_LIST list;
        std::memset(&list, 0xCD, sizeof list);
        ASSERT_EQ(MV_CC_EnumDevices(c.mask, &list), MVSIM_OK) << "mask " << c.mask;
        std::vector<std::string> serials;
        for (unsigned i = 0; i < list.nDeviceNum && i < MV_MAX_DEVICE_NUM; ++i) {
            serials.emplace_back(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chSerialNumber));
            EXPECT_EQ(list.pDeviceInfo[i]->nTLayerType & c.mask, list.pDeviceInfo[i]->nTLayerType);
        }
        EXPECT_EQ(serials, c.serials) << "mask " << c.mask;
    }
}

TEST_F(SdkTest, RecordTextsAreCutToTheirFields)
{
    const std::string model32(32, 'M');
    const std::string serial16(16, 'S');
    const std::string model40 = std::string(32, 'L') + "overflow";
    const std::string serial20 = std::string(16, 'T') + "over";
    addDevice(model32.c_str(), serial16.c_str());
    addDevice(model40.c_str(), serial20.c_str());
    MV_CC_DEVICE_INFO_LIST list;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_OK);
    ASSERT_EQ(list.nDeviceNum, 3u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(list.pDeviceInfo[1]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + MV_MODEL_NAME_OFFSET), MV_MODEL_NAME_SIZE), model32);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + MV_SERIAL_NUMBER_OFFSET), MV_SERIAL_NUMBER_SIZE),
              serial16);
    bytes = reinterpret_cast<const unsigned char*>(list.pDeviceInfo[2]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + MV_MODEL_NAME_OFFSET), MV_MODEL_NAME_SIZE),
              model40.substr(0, 32));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + MV_SERIAL_NUMBER_OFFSET), MV_SERIAL_NUMBER_SIZE),
              serial20.substr(0, 16));
    // A shorter text is terminated.
    bytes = reinterpret_cast<const unsigned char*>(list.pDeviceInfo[0]);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + MV_MODEL_NAME_OFFSET), "Model-A");
}

TEST_F(SdkTest, RecordsOutliveLaterEnumerationsAndRemoval)
{
    MV_CC_DEVICE_INFO_LIST first;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &first), MVSIM_OK);
    ASSERT_EQ(first.nDeviceNum, 2u);
    MV_CC_DEVICE_INFO* recordA = first.pDeviceInfo[0];
    MV_CC_DEVICE_INFO* recordB = first.pDeviceInfo[1];

    ASSERT_EQ(MVSIM_RemoveDevice(deviceB), MVSIM_OK);
    MV_CC_DEVICE_INFO_LIST second;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &second), MVSIM_OK);
    ASSERT_EQ(second.nDeviceNum, 1u);
    EXPECT_EQ(second.pDeviceInfo[0], recordA) << "record of a still listed device moved";
    EXPECT_STREQ(reinterpret_cast<const char*>(recordB->chSerialNumber), serialB);

    void* handle = nullptr;
    EXPECT_EQ(MV_CC_CreateHandle(&handle, recordB), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
}

TEST_F(SdkTest, CreateHandleRecognisesRecordsByModelAndSerial)
{
    MV_CC_DEVICE_INFO copy = *recordOf(serialA);
    void* handle = nullptr;
    ASSERT_EQ(MV_CC_CreateHandle(&handle, &copy), MVSIM_OK);
    ASSERT_EQ(MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0), MVSIM_OK);
    EXPECT_EQ(state(deviceA).openHandles, 1);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);

    std::strcpy(reinterpret_cast<char*>(copy.chSerialNumber), "SN-Z");
    handle = nullptr;
    EXPECT_EQ(MV_CC_CreateHandle(&handle, &copy), MVSIM_E_NODEVICE);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(SdkTest, UnpluggedDeviceFailsEveryCallButDestroy)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    MV_CC_DEVICE_INFO* record = recordOf(serialA);
    ASSERT_EQ(MVSIM_UnplugDevice(deviceA), MVSIM_OK);
    for (const HandleCall& c : handleCalls()) {
        if (std::string(c.name) != "DestroyHandle") {
            EXPECT_EQ(c.call(handle), MVSIM_E_NODEVICE) << c.name;
        }
    }
    EXPECT_EQ(recordOf(serialA), nullptr) << "unplugged device still listed";
    EXPECT_EQ(MVSIM_DeviceCount(), 1);
    void* another = nullptr;
    EXPECT_EQ(MV_CC_CreateHandle(&another, record), MVSIM_E_NODEVICE);
    EXPECT_EQ(state(deviceA).present, 0);
    EXPECT_EQ(MVSIM_FindDevice("Model-A", serialA), deviceA) << "unplugged, not forgotten";
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
    EXPECT_EQ(MVSIM_LiveHandles(), 0);

    ASSERT_EQ(MVSIM_RemoveDevice(deviceB), MVSIM_OK);
    EXPECT_EQ(MVSIM_FindDevice("Model-B", serialB), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_RemoveDevice(deviceB), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_DeviceCount(), 0);
}

TEST_F(SdkTest, InjectedFaultHitsTheNthCallOnlyAndPrecedesOtherChecks)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    MVSIM_FailCall("MV_CC_GetWidth", 2, MVSIM_E_RESOURCE);
    MVCC_INTVALUE value{};
    EXPECT_EQ(MV_CC_GetWidth(handle, &value), MVSIM_OK);
    value.nCurValue = 777;
    EXPECT_EQ(MV_CC_GetWidth(handle, &value), MVSIM_E_RESOURCE);
    EXPECT_EQ(value.nCurValue, 777u) << "a faulted call filled the record";
    EXPECT_EQ(MV_CC_GetWidth(handle, &value), MVSIM_OK);
    EXPECT_EQ(value.nCurValue, 64u);

    // Before the handle check, and the call does nothing.
    MVSIM_FailCall("MV_CC_StartGrabbing", 1, MVSIM_E_ACCESS);
    EXPECT_EQ(MV_CC_StartGrabbing(nullptr), MVSIM_E_ACCESS);
    MVSIM_FailCall("MV_CC_SetEnumValue", 1, MVSIM_OK);
    EXPECT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    EXPECT_EQ(state(deviceA).triggerMode, 0u) << "a faulted call changed the device";
    MVSIM_FailCall("MV_CC_DestroyHandle", 1, MVSIM_E_HANDLE);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_E_HANDLE);
    EXPECT_EQ(MVSIM_LiveHandles(), 1);

    // Two pending faults count calls independently; clearing drops both.
    MVSIM_FailCall("MV_CC_GetHeight", 1, MVSIM_E_SUPPORT);
    MVSIM_FailCall("MV_CC_GetHeight", 3, MVSIM_E_SUPPORT);
    MVSIM_FailCall("MV_CC_GetGain", 1, MVSIM_E_SUPPORT);
    EXPECT_EQ(MV_CC_GetHeight(handle, &value), MVSIM_E_SUPPORT);
    EXPECT_EQ(MV_CC_GetHeight(handle, &value), MVSIM_OK);
    EXPECT_EQ(MV_CC_GetHeight(handle, &value), MVSIM_E_SUPPORT);
    EXPECT_EQ(MV_CC_GetHeight(handle, &value), MVSIM_OK);
    MVSIM_ClearFaults();
    MVCC_FLOATVALUE gain;
    EXPECT_EQ(MV_CC_GetGain(handle, &gain), MVSIM_OK);

    const std::vector<std::string> log = callLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "MV_CC_StartGrabbing"), 1) << "faulted call not logged";
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

TEST_F(SdkTest, CallLogEntryPerCallInItsFormat)
{
    MV_CC_DEVICE_INFO_LIST list;
    MVCC_INTVALUE intValue;
    MVCC_FLOATVALUE floatValue;
    MVSIM_ClearCallLog();
    void* handle = nullptr;
    const struct {
        std::function<void()> call;
        const char* entry;
    } cases[] = {
        {[&] { MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list); }, "MV_CC_EnumDevices 5 ptr"},
        {[&] { MV_CC_EnumDevices(0, nullptr); }, "MV_CC_EnumDevices 0 null"},
        {[&] { MV_CC_CreateHandle(&handle, list.pDeviceInfo[0]); }, "MV_CC_CreateHandle ptr ptr"},
        {[&] { MV_CC_OpenDevice(handle, 1, 3); }, "MV_CC_OpenDevice 1 3"},
        {[&] { MV_CC_RegisterImageCallBack(handle, ignoreFrame, nullptr); }, "MV_CC_RegisterImageCallBack ptr null"},
        {[&] { MV_CC_RegisterImageCallBack(handle, nullptr, &list); }, "MV_CC_RegisterImageCallBack null ptr"},
        {[&] { MV_CC_GetWidth(handle, &intValue); }, "MV_CC_GetWidth ptr"},
        {[&] { MV_CC_GetHeight(nullptr, nullptr); }, "MV_CC_GetHeight null"},
        {[&] { MV_CC_GetExposureTime(handle, &floatValue); }, "MV_CC_GetExposureTime ptr"},
        {[&] { MV_CC_SetExposureTime(handle, 100.0f); }, "MV_CC_SetExposureTime 100"},
        {[&] { MV_CC_SetGain(handle, 2.5f); }, "MV_CC_SetGain 2.5"},
        {[&] { MV_CC_SetExposureAutoMode(handle, 0); }, "MV_CC_SetExposureAutoMode 0"},
        {[&] { MV_CC_SetBalanceRatioBlue(handle, 4294967295u); }, "MV_CC_SetBalanceRatioBlue 4294967295"},
        {[&] { MV_CC_SetEnumValue(handle, "TriggerSource", 0); }, "MV_CC_SetEnumValue TriggerSource 0"},
        {[&] { MV_CC_SetEnumValue(handle, nullptr, 1); }, "MV_CC_SetEnumValue null 1"},
        {[&] { MV_CC_SetCommandValue(handle, "TriggerSoftware"); }, "MV_CC_SetCommandValue TriggerSoftware"},
        {[&] { MV_CC_StartGrabbing(handle); }, "MV_CC_StartGrabbing"},
        {[&] { MV_CC_StopGrabbing(handle); }, "MV_CC_StopGrabbing"},
        {[&] { MV_CC_DestroyHandle(reinterpret_cast<void*>(0x1234)); }, "MV_CC_DestroyHandle"},
        {[&] { MV_CC_DestroyHandle(handle); }, "MV_CC_DestroyHandle"},
    };
    int expectedSize = 0;
    for (const auto& c : cases) {
        c.call();
        ++expectedSize;
        ASSERT_EQ(MVSIM_CallLogSize(), expectedSize) << c.entry;
        EXPECT_EQ(callLogEntry(expectedSize - 1), c.entry);
    }

    char small[8];
    const int full = MVSIM_CallLogEntry(0, small, sizeof small);
    EXPECT_EQ(full, static_cast<int>(std::strlen("MV_CC_EnumDevices 5 ptr")));
    EXPECT_STREQ(small, "MV_CC_E");
    EXPECT_EQ(MVSIM_CallLogEntry(expectedSize, small, sizeof small), -1);
    EXPECT_EQ(MVSIM_CallLogEntry(-1, small, sizeof small), -1);
    MVSIM_ClearCallLog();
    EXPECT_EQ(MVSIM_CallLogSize(), 0);
}

// A long run keeps the newest entries only: the log is a ring, and says how
// many it overwrote.
TEST_F(SdkTest, CallLogKeepsTheNewestEntriesOfALongRun)
{
    MVSIM_ClearCallLog();
    const int kept = 16384;
    const int calls = kept + 1000;
    for (int i = 0; i < calls; ++i)
        MV_CC_SetExposureTime(nullptr, static_cast<float>(i));
    ASSERT_EQ(MVSIM_CallLogSize(), kept);
    EXPECT_EQ(MVSIM_CallLogDropped(), static_cast<unsigned long long>(calls - kept));
    EXPECT_EQ(callLogEntry(0), "MV_CC_SetExposureTime " + std::to_string(calls - kept)) << "entry 0 is the oldest kept";
    EXPECT_EQ(callLogEntry(kept - 1), "MV_CC_SetExposureTime " + std::to_string(calls - 1));
    EXPECT_EQ(MVSIM_CallLogEntry(kept, nullptr, 0), -1);

    MV_CC_StopGrabbing(nullptr);
    EXPECT_EQ(callLogEntry(kept - 1), "MV_CC_StopGrabbing") << "the ring goes on after it filled";
    EXPECT_EQ(callLogEntry(0), "MV_CC_SetExposureTime " + std::to_string(calls - kept + 1));

    MVSIM_ClearCallLog();
    EXPECT_EQ(MVSIM_CallLogSize(), 0);
    EXPECT_EQ(MVSIM_CallLogDropped(), 0u);
    MV_CC_StopGrabbing(nullptr);
    EXPECT_EQ(callLogEntry(0), "MV_CC_StopGrabbing");
}

TEST_F(SdkTest, ControlInterfaceRefusesBadDevices)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "M", "S");
    const struct {
        const char* what;
        std::function<void(MvsimDeviceSetup&)> change;
    } cases[] = {
        {"width 0", [](MvsimDeviceSetup& s) { s.width = 0; }},
        {"height 65536", [](MvsimDeviceSetup& s) { s.height = 65536; }},
        {"transport 2", [](MvsimDeviceSetup& s) { s.transport = 2; }},
        {"no bits per pixel", [](MvsimDeviceSetup& s) { s.pixelType = 0x01000001u; }},
        {"exposure outside limits", [](MvsimDeviceSetup& s) { s.exposure = 5.0f; }},
        {"gain limits reversed", [](MvsimDeviceSetup& s) { s.gainMin = 30.0f; }},
        {"negative frame rate", [](MvsimDeviceSetup& s) { s.frameRate = -1.0; }},
        {"null model", [](MvsimDeviceSetup& s) { s.modelName = nullptr; }},
    };
    for (const auto& c : cases) {
        MvsimDeviceSetup bad = setup;
        c.change(bad);
        EXPECT_EQ(MVSIM_AddDevice(&bad), MVSIM_E_PARAMETER) << c.what;
    }
    EXPECT_EQ(MVSIM_AddDevice(nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_DeviceCount(), 2);
    EXPECT_EQ(MVSIM_AddDevice(&setup), 2);
    MvsimDeviceState s;
    EXPECT_EQ(MVSIM_GetDeviceState(99, &s), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_GetDeviceState(0, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_UnplugDevice(-1), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_PulseLine0(99), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_DeliverFrame(99, 0), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_DeliverFrame(0, 0), MVSIM_E_CALLORDER) << "delivered with no handle holding the device";
}

TEST_F(SdkTest, ResetForgetsDevicesAndHandles)
{
    void* handle = openHandle(serialA);
    ASSERT_NE(handle, nullptr);
    MVSIM_FailCall("MV_CC_EnumDevices", 1, MVSIM_E_RESOURCE);
    MVSIM_Reset();
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
    EXPECT_EQ(MVSIM_DeviceCount(), 0);
    EXPECT_EQ(MVSIM_CallLogSize(), 0);
    MV_CC_DEVICE_INFO_LIST list;
    EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, &list), MVSIM_OK) << "fault survived the reset";
    EXPECT_EQ(list.nDeviceNum, 0u);
    EXPECT_EQ(MV_CC_GetWidth(handle, nullptr), MVSIM_E_HANDLE);
    EXPECT_EQ(addDevice("Model-A", serialA), 0) << "ids restart after a reset";
}

}  // namespace
