// The GenICam SDK's C interface where no camera is needed: what it exports
// and what it answers to handles and records that are not its own.
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "mvcameracontrol.h"

namespace {

TEST(GenicamSdk, ExportsExactlyTheTwentyOneFunctions)
{
    const std::string command = std::string(KWCAM_NM_COMMAND) + " -D --defined-only " + KWCAM_GENICAM_SDK_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3)
            exported.insert(name);
    }
    pclose(pipe);
    const std::set<std::string> expected = {"MV_CC_EnumDevices",         "MV_CC_CreateHandle",
                                            "MV_CC_OpenDevice",          "MV_CC_RegisterImageCallBack",
                                            "MV_CC_DestroyHandle",       "MV_CC_GetWidth",
                                            "MV_CC_GetHeight",           "MV_CC_GetPixelFormat",
                                            "MV_CC_SetExposureTime",     "MV_CC_SetGain",
                                            "MV_CC_GetExposureTime",     "MV_CC_GetGain",
                                            "MV_CC_SetExposureAutoMode", "MV_CC_SetBalanceWhiteAuto",
                                            "MV_CC_SetBalanceRatioRed",  "MV_CC_SetBalanceRatioGreen",
                                            "MV_CC_SetBalanceRatioBlue", "MV_CC_SetEnumValue",
                                            "MV_CC_SetCommandValue",     "MV_CC_StartGrabbing",
                                            "MV_CC_StopGrabbing"};
    EXPECT_EQ(exported, expected);
}

// Every call on a handle, for the handles no camera has.
struct HandleCall {
    const char* name;
    std::function<int(void*)> call;
};

const HandleCall kHandleCalls[] = {
    {"OpenDevice", [](void* h) { return MV_CC_OpenDevice(h, MV_ACCESS_EXCLUSIVE, 0); }},
    {"RegisterImageCallBack", [](void* h) { return MV_CC_RegisterImageCallBack(h, nullptr, nullptr); }},
    {"GetWidth",
     [](void* h) {
         MVCC_INTVALUE v;
         return MV_CC_GetWidth(h, &v);
     }},
    {"GetHeight",
     [](void* h) {
         MVCC_INTVALUE v;
         return MV_CC_GetHeight(h, &v);
     }},
    {"GetPixelFormat",
     [](void* h) {
         MVCC_ENUMVALUE v;
         return MV_CC_GetPixelFormat(h, &v);
     }},
    {"SetExposureTime", [](void* h) { return MV_CC_SetExposureTime(h, 1000.0f); }},
    {"SetGain", [](void* h) { return MV_CC_SetGain(h, 1.0f); }},
    {"GetExposureTime",
     [](void* h) {
         MVCC_FLOATVALUE v;
         return MV_CC_GetExposureTime(h, &v);
     }},
    {"GetGain",
     [](void* h) {
         MVCC_FLOATVALUE v;
         return MV_CC_GetGain(h, &v);
     }},
    {"SetExposureAutoMode", [](void* h) { return MV_CC_SetExposureAutoMode(h, 0); }},
    {"SetBalanceWhiteAuto", [](void* h) { return MV_CC_SetBalanceWhiteAuto(h, 0); }},
    {"SetBalanceRatioRed", [](void* h) { return MV_CC_SetBalanceRatioRed(h, 1000); }},
    {"SetBalanceRatioGreen", [](void* h) { return MV_CC_SetBalanceRatioGreen(h, 1000); }},
    {"SetBalanceRatioBlue", [](void* h) { return MV_CC_SetBalanceRatioBlue(h, 1000); }},
    {"SetEnumValue", [](void* h) { return MV_CC_SetEnumValue(h, "TriggerMode", 0); }},
    {"SetCommandValue", [](void* h) { return MV_CC_SetCommandValue(h, "TriggerSoftware"); }},
    {"StartGrabbing", [](void* h) { return MV_CC_StartGrabbing(h); }},
    {"StopGrabbing", [](void* h) { return MV_CC_StopGrabbing(h); }},
    {"DestroyHandle", [](void* h) { return MV_CC_DestroyHandle(h); }},
};

TEST(GenicamSdk, HandlesOfNoCameraAreRefused)
{
    int local = 0;
    void* const handles[] = {nullptr, &local, reinterpret_cast<void*>(0x10)};
    for (const HandleCall& c : kHandleCalls)
        for (void* h : handles)
            EXPECT_EQ(c.call(h), MV_E_HANDLE) << c.name << " on " << h;
}

TEST(GenicamSdk, RecordsAndListsThatAreNotTheLibrarysAreRefused)
{
    EXPECT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE, nullptr), MV_E_PARAMETER);
    MV_CC_DEVICE_INFO unknown;
    std::memset(&unknown, 0, sizeof unknown);
    std::strcpy(reinterpret_cast<char*>(unknown.chModelName), "NoSuchModel");
    unknown.nTLayerType = MV_GIGE_DEVICE;
    void* handle = &unknown;
    EXPECT_EQ(MV_CC_CreateHandle(&handle, &unknown), MV_E_NODEVICE);
    EXPECT_EQ(handle, &unknown) << "a failed create leaves the host's variable alone";
    EXPECT_EQ(MV_CC_CreateHandle(nullptr, &unknown), MV_E_PARAMETER);
    EXPECT_EQ(MV_CC_CreateHandle(&handle, nullptr), MV_E_PARAMETER);
}

}  // namespace
