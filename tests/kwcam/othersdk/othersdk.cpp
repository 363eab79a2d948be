// A second camera SDK library, as small as the plug-in allows: the 21
// functions over two devices with names of their own. The installed-package
// test puts it on the loader's path to show that the plug-in binds to
// whatever SDK the system provides. Grabbing delivers three frames that
// carry the stand-in's stamp with the numbers 1, 2 and 5 (frames 3 and 4
// lost on the way) and nothing more; the library has none of the stand-in's
// counters, so a host counts the losses from the numbers.
#include <cstring>
#include <thread>

#include "mvsim/control.h"

#include "mvcameracontrol.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const int kFailure = static_cast<int>(0x80000006);
MV_CC_DEVICE_INFO g_devices[2];
int g_handle;  // every handle is this one's address
void (*g_callback)(unsigned char*, _MV_FRAME_OUT_INFO_*, void*) = nullptr;
void* g_user = nullptr;
std::thread g_delivery;
unsigned char g_frame[320 * 240];

void deliver()
{
    const unsigned int numbers[] = {1, 2, 5};
    for (unsigned int number : numbers) {
        memset(g_frame, 0x80, sizeof g_frame);
        MvsimFrameStamp stamp = {};
        stamp.magic = MVSIM_STAMP_MAGIC;
        stamp.frameNumber = number;
        memcpy(g_frame, &stamp, sizeof stamp);
        _MV_FRAME_OUT_INFO_ info = {};
        info.nWidth = 320;
        info.nHeight = 240;
        info.enPixelType = 0x01080001u;  // Mono8
        info.nFrameNum = number;
        info.nFrameLen = sizeof g_frame;
        if (g_callback != nullptr)
            g_callback(g_frame, &info, g_user);
    }
}

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
EXPORT int MV_CC_RegisterImageCallBack(void*, void (*callback)(unsigned char*, _MV_FRAME_OUT_INFO_*, void*), void* user)
{
    g_callback = callback;
    g_user = user;
    return 0;
}
EXPORT int MV_CC_DestroyHandle(void*)
{
    if (g_delivery.joinable())
        g_delivery.join();
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
    if (g_delivery.joinable())
        return kFailure;
    g_delivery = std::thread(deliver);
    return 0;
}
EXPORT int MV_CC_StopGrabbing(void*)
{
    if (g_delivery.joinable())
        g_delivery.join();
    return 0;
}
