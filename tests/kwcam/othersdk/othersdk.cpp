// A second camera SDK library, as small as the plug-in allows: the 21
// functions over two devices with names of their own and no frames. The
// installed-package test puts it on the loader's path to show that the
// plug-in binds to whatever SDK the system provides.
#include <cstring>

#include "mvcameracontrol.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const int kFailure = static_cast<int>(0x80000006);
MV_CC_DEVICE_INFO g_devices[2];
int g_handle;  // every handle is this one's address

void fill(MV_CC_DEVICE_INFO* info, unsigned int layer, const char* model, const char* serial)
{
    memset(info, 0, sizeof *info);
    info->nTLayerType = layer;
    strncpy(reinterpret_cast<char*>(info->chModelName), model, sizeof info->chModelName - 1);
    strncpy(reinterpret_cast<char*>(info->chSerialNumber), serial, sizeof info->chSerialNumber - 1);
}

}  // namespace

EXPORT int MV_CC_EnumDevices(unsigned int, MV_CC_DEVICE_INFO_LIST* list)
{
    if (list == nullptr)
        return kFailure;
    fill(&g_devices[0], MV_GIGE_DEVICE, "OTHER-GM1", "X0001");
    fill(&g_devices[1], MV_USB_DEVICE, "OTHER-UC2", "X0002");
    memset(list, 0, sizeof *list);
    list->nDeviceNum = 2;
    list->pDeviceInfo[0] = &g_devices[0];
    list->pDeviceInfo[1] = &g_devices[1];
    return 0;
}

EXPORT int MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO*)
{
    *handle = &g_handle;
    return 0;
}

EXPORT int MV_CC_OpenDevice(void*, unsigned int, unsigned short)
{
    return 0;
}
EXPORT int MV_CC_RegisterImageCallBack(void*, void (*)(unsigned char*, _MV_FRAME_OUT_INFO_*, void*), void*)
{
    return 0;
}
EXPORT int MV_CC_DestroyHandle(void*)
{
    return 0;
}

EXPORT int MV_CC_GetWidth(void*, MVCC_INTVALUE* value)
{
    memset(value, 0, sizeof *value);
    value->nCurValue = value->nMin = value->nMax = 320;
    return 0;
}

EXPORT int MV_CC_GetHeight(void*, MVCC_INTVALUE* value)
{
    memset(value, 0, sizeof *value);
    value->nCurValue = value->nMin = value->nMax = 240;
    return 0;
}

EXPORT int MV_CC_GetPixelFormat(void*, MVCC_ENUMVALUE* value)
{
    memset(value, 0, sizeof *value);
    value->nCurValue = 0x01080001u;  // Mono8
    return 0;
}

EXPORT int MV_CC_SetExposureTime(void*, float)
{
    return 0;
}
EXPORT int MV_CC_SetGain(void*, float)
{
    return 0;
}
EXPORT int MV_CC_GetExposureTime(void*, MVCC_FLOATVALUE*)
{
    return kFailure;
}
EXPORT int MV_CC_GetGain(void*, MVCC_FLOATVALUE*)
{
    return kFailure;
}
EXPORT int MV_CC_SetExposureAutoMode(void*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetBalanceWhiteAuto(void*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetBalanceRatioRed(void*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetBalanceRatioGreen(void*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetBalanceRatioBlue(void*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetEnumValue(void*, const char*, unsigned int)
{
    return 0;
}
EXPORT int MV_CC_SetCommandValue(void*, const char*)
{
    return 0;
}
EXPORT int MV_CC_StartGrabbing(void*)
{
    return kFailure;
}
EXPORT int MV_CC_StopGrabbing(void*)
{
    return 0;
}
