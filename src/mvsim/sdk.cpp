// The 21 SDK functions over the registry.
//
// Every call goes through Call: it takes the registry lock, writes the call
// log entry and applies an injected fault before any other check. Then, for
// calls on a handle, the checks run in this order: handle live (else
// MVSIM_E_HANDLE), device present (else MVSIM_E_NODEVICE), handle open where
// needed (else MVSIM_E_CALLORDER), then the arguments.
#include <cstdint>

#include "exports.h"

#include "acquisition.h"
#include "calllog.h"
#include "faults.h"
#include "guard.h"
#include "registry.h"

#include <cmath>
#include <cstring>
#include <string>

using namespace mvsim;

namespace {

class Call {
public:
    template <typename... Args>
    explicit Call(const char* name, const Args&... args) : registry_(Registry::instance()), lock_(registry_.lock())
    {
        std::string entry = name;
        ((entry += ' ', entry += calllog::arg(args)), ...);
        calllog::append(std::move(entry));
        faulted_ = faults::take(name, &code_);
    }

    // The injected fault's code, when this call has one.
    bool faulted(int* code) const
    {
        *code = code_;
        return faulted_;
    }

    // Looks up the handle and its device; 0 when they may be used.
    int resolve(void* h, bool mustBeOpen)
    {
        handle = registry_.findHandle(h);
        if (!handle)
            return MVSIM_E_HANDLE;
        device = handle->device;
        // Unplugged, or plugged in again since the handle was made.
        if (!device->present() || handle->generation != device->generation())
            return MVSIM_E_NODEVICE;
        if (mustBeOpen && !handle->open)
            return MVSIM_E_CALLORDER;
        return MVSIM_OK;
    }

    Registry& registry() { return registry_; }

    Handle* handle = nullptr;
    Device* device = nullptr;

private:
    Registry& registry_;
    std::unique_lock<std::mutex> lock_;
    bool faulted_ = false;
    int code_ = MVSIM_OK;
};

std::string presence(const void* p)
{
    return p ? "ptr" : "null";
}
std::string presence(MvImageCallback cb)
{
    return cb ? "ptr" : "null";
}

// Runs `body` on the open handle's device unless the call ends earlier.
template <typename Body> int onOpenHandle(Call& call, void* h, Body body)
{
    int code = MVSIM_OK;
    if (call.faulted(&code))
        return code;
    code = call.resolve(h, true);
    if (code != MVSIM_OK)
        return code;
    return body(*call.device);
}

int getSize(const char* name, void* h, MVCC_INTVALUE* value, bool width)
{
    Call call(name, presence(value));
    return onOpenHandle(call, h, [&](Device& d) {
        if (!value)
            return MVSIM_E_PARAMETER;
        std::memset(value, 0, sizeof *value);
        // Sizes are fixed: no region of interest.
        value->nCurValue = width ? d.setup().width : d.setup().height;
        value->nMax = value->nCurValue;
        value->nMin = value->nCurValue;
        value->nInc = 1;
        return MVSIM_OK;
    });
}

int setFeature(const char* name, void* h, float v, int (Device::*set)(float))
{
    Call call(name, v);
    return onOpenHandle(call, h, [&](Device& d) { return (d.*set)(v); });
}

int getLimited(const char* name, void* h, MVCC_FLOATVALUE* value, float DeviceSetup::*current, float DeviceSetup::*min,
               float DeviceSetup::*max)
{
    Call call(name, presence(value));
    return onOpenHandle(call, h, [&](Device& d) {
        if (!value)
            return MVSIM_E_PARAMETER;
        std::memset(value, 0, sizeof *value);
        value->fCurValue = d.setup().*current;
        value->fMin = d.setup().*min;
        value->fMax = d.setup().*max;
        return MVSIM_OK;
    });
}

int setBalanceRatio(const char* name, void* h, unsigned v, int channel)
{
    Call call(name, v);
    return onOpenHandle(call, h, [&](Device& d) { return d.setBalanceRatio(channel, v); });
}

}  // namespace

extern "C" {

MVSIM_EXPORT int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_EnumDevices", nTLayerType, pstDevList);
        int code = MVSIM_OK;
        if (call.faulted(&code))
            return code;
        if (!pstDevList)
            return MVSIM_E_PARAMETER;
        return call.registry().enumerate(nTLayerType, pstDevList);
    });
}

MVSIM_EXPORT int MV_CC_CreateHandle(void** phHandle, const MV_CC_DEVICE_INFO* pstDevInfo)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_CreateHandle", phHandle, pstDevInfo);
        int code = MVSIM_OK;
        if (!call.faulted(&code)) {
            if (!phHandle || !pstDevInfo)
                return MVSIM_E_PARAMETER;
            Device* device = call.registry().findDeviceByRecord(pstDevInfo);
            if (!device || !device->present()) {
                code = MVSIM_E_NODEVICE;
            } else {
                *phHandle = call.registry().createHandle(*device);
                return MVSIM_OK;
            }
        }
        // Some SDKs write their output before they fail; callers must not take
        // what is left there for a handle.
        if (phHandle && call.registry().scribbleOnFailure())
            *phHandle = reinterpret_cast<void*>(static_cast<uintptr_t>(0xDEADBEEF));
        return code;
    });
}

MVSIM_EXPORT int MV_CC_OpenDevice(void* hHandle, unsigned int nAccessMode, unsigned short nSwitchoverKey)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_OpenDevice", nAccessMode, nSwitchoverKey);
        int code = MVSIM_OK;
        if (call.faulted(&code))
            return code;
        code = call.resolve(hHandle, false);
        if (code != MVSIM_OK)
            return code;
        if (call.handle->open)
            return MVSIM_E_CALLORDER;
        // Access modes 1..7 are taken; every one of them holds the device for
        // this handle alone.
        if (nAccessMode < 1 || nAccessMode > 7)
            return MVSIM_E_PARAMETER;
        // Held by another handle, or by another process (MVSIM_E_ACCESS).
        // Opening restarts the device's frame numbers.
        return call.registry().openDevice(*call.device, *call.handle);
    });
}

MVSIM_EXPORT int MV_CC_RegisterImageCallBack(
    void* hHandle, void (*cbOutput)(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser), void* pUser)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_RegisterImageCallBack", presence(cbOutput), pUser);
        return onOpenHandle(call, hHandle, [&](Device& d) {
            // The acquisition thread copied the callback when it started.
            if (d.grabbing())
                return MVSIM_E_CALLORDER;
            call.handle->callback = cbOutput;  // null unregisters
            call.handle->user = pUser;
            return MVSIM_OK;
        });
    });
}

MVSIM_EXPORT int MV_CC_DestroyHandle(void* hHandle)
{
    return guarded(__func__, [&] {
        ThreadsToJoin joins;  // joined after the lock is released
        Call call("MV_CC_DestroyHandle");
        int code = MVSIM_OK;
        if (call.faulted(&code))
            return code;
        Handle* handle = call.registry().findHandle(hHandle);
        if (!handle)
            return MVSIM_E_HANDLE;
        call.registry().destroyHandle(handle, joins);
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MV_CC_GetWidth(void* hHandle, MVCC_INTVALUE* pstValue)
{
    return guarded(__func__, [&] { return getSize("MV_CC_GetWidth", hHandle, pstValue, true); });
}

MVSIM_EXPORT int MV_CC_GetHeight(void* hHandle, MVCC_INTVALUE* pstValue)
{
    return guarded(__func__, [&] { return getSize("MV_CC_GetHeight", hHandle, pstValue, false); });
}

MVSIM_EXPORT int MV_CC_GetPixelFormat(void* hHandle, MVCC_ENUMVALUE* pstValue)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_GetPixelFormat", presence(pstValue));
        return onOpenHandle(call, hHandle, [&](Device& d) {
            if (!pstValue)
                return MVSIM_E_PARAMETER;
            std::memset(pstValue, 0, sizeof *pstValue);
            // A device produces its one pixel type.
            pstValue->nCurValue = d.setup().pixelType;
            pstValue->nSupportedNum = 1;
            pstValue->nSupportValue[0] = d.setup().pixelType;
            return MVSIM_OK;
        });
    });
}

MVSIM_EXPORT int MV_CC_SetExposureTime(void* hHandle, float fValue)
{
    return guarded(__func__,
                   [&] { return setFeature("MV_CC_SetExposureTime", hHandle, fValue, &Device::setExposure); });
}

MVSIM_EXPORT int MV_CC_SetGain(void* hHandle, float fValue)
{
    return guarded(__func__, [&] { return setFeature("MV_CC_SetGain", hHandle, fValue, &Device::setGain); });
}

MVSIM_EXPORT int MV_CC_GetExposureTime(void* hHandle, MVCC_FLOATVALUE* pstValue)
{
    return guarded(__func__, [&] {
        return getLimited("MV_CC_GetExposureTime", hHandle, pstValue, &DeviceSetup::exposure, &DeviceSetup::exposureMin,
                          &DeviceSetup::exposureMax);
    });
}

MVSIM_EXPORT int MV_CC_GetGain(void* hHandle, MVCC_FLOATVALUE* pstValue)
{
    return guarded(__func__, [&] {
        return getLimited("MV_CC_GetGain", hHandle, pstValue, &DeviceSetup::gain, &DeviceSetup::gainMin,
                          &DeviceSetup::gainMax);
    });
}

MVSIM_EXPORT int MV_CC_SetExposureAutoMode(void* hHandle, unsigned int nValue)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_SetExposureAutoMode", nValue);
        return onOpenHandle(call, hHandle, [&](Device& d) { return d.setExposureAuto(nValue); });
    });
}

MVSIM_EXPORT int MV_CC_SetBalanceWhiteAuto(void* hHandle, unsigned int nValue)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_SetBalanceWhiteAuto", nValue);
        return onOpenHandle(call, hHandle, [&](Device& d) { return d.setBalanceWhiteAuto(nValue); });
    });
}

MVSIM_EXPORT int MV_CC_SetBalanceRatioRed(void* hHandle, unsigned int nValue)
{
    return guarded(__func__, [&] { return setBalanceRatio("MV_CC_SetBalanceRatioRed", hHandle, nValue, 0); });
}

MVSIM_EXPORT int MV_CC_SetBalanceRatioGreen(void* hHandle, unsigned int nValue)
{
    return guarded(__func__, [&] { return setBalanceRatio("MV_CC_SetBalanceRatioGreen", hHandle, nValue, 1); });
}

MVSIM_EXPORT int MV_CC_SetBalanceRatioBlue(void* hHandle, unsigned int nValue)
{
    return guarded(__func__, [&] { return setBalanceRatio("MV_CC_SetBalanceRatioBlue", hHandle, nValue, 2); });
}

MVSIM_EXPORT int MV_CC_SetEnumValue(void* hHandle, const char* strKey, unsigned int nValue)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_SetEnumValue", strKey, nValue);
        return onOpenHandle(call, hHandle, [&](Device& d) { return d.setEnum(strKey, nValue); });
    });
}

MVSIM_EXPORT int MV_CC_SetCommandValue(void* hHandle, const char* strKey)
{
    return guarded(__func__, [&] {
        Call call("MV_CC_SetCommandValue", strKey);
        return onOpenHandle(call, hHandle, [&](Device& d) {
            if (!strKey)
                return MVSIM_E_PARAMETER;
            if (std::strcmp(strKey, "TriggerSoftware") != 0)
                return MVSIM_E_SUPPORT;
            return d.softwareTrigger();
        });
    });
}

MVSIM_EXPORT int MV_CC_StartGrabbing(void* hHandle)
{
    return guarded(__func__, [&] {
        ThreadsToJoin joins;  // parked threads, joined after the lock is released
        Call call("MV_CC_StartGrabbing");
        return onOpenHandle(call, hHandle, [&](Device& d) {
            if (d.grabbing())
                return MVSIM_E_CALLORDER;
            return call.registry().startAcquisition(d, *call.handle, joins);
        });
    });
}

MVSIM_EXPORT int MV_CC_StopGrabbing(void* hHandle)
{
    return guarded(__func__, [&] {
        ThreadsToJoin joins;  // joined after the lock is released
        Call call("MV_CC_StopGrabbing");
        return onOpenHandle(call, hHandle, [&](Device& d) {
            if (!d.grabbing())
                return MVSIM_E_CALLORDER;
            call.registry().stopAcquisition(d, joins);
            return MVSIM_OK;
        });
    });
}

}  // extern "C"
