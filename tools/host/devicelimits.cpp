#include "kwhost/devicelimits.h"

#include <QtCore/QByteArray>
#include <QtCore/QStringList>

#include <cstring>
#include <dlfcn.h>

#include "mvcameracontrol.h"

namespace kwhost {

namespace {

template <typename Function>
Function sdkFunction(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// A text field of a device record: it ends at its terminator or at the
// field's end.
QByteArray field(const unsigned char* text, size_t size)
{
    const void* end = memchr(text, 0, size);
    const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(end) - text) : size;
    return QByteArray(reinterpret_cast<const char*>(text), static_cast<int>(length));
}

QString sdkError(const char* call, int code)
{
    return QStringLiteral("%1 failed (0x%2)").arg(QLatin1String(call)).arg(static_cast<unsigned>(code), 8, 16,
                                                                            QLatin1Char('0'));
}

}  // namespace

bool readDeviceLimits(const QString& key, DeviceLimits* limits, QString* error)
{
    const auto enumDevices = sdkFunction<decltype(&MV_CC_EnumDevices)>("MV_CC_EnumDevices");
    const auto createHandle = sdkFunction<decltype(&MV_CC_CreateHandle)>("MV_CC_CreateHandle");
    const auto openDevice = sdkFunction<decltype(&MV_CC_OpenDevice)>("MV_CC_OpenDevice");
    const auto getExposure = sdkFunction<decltype(&MV_CC_GetExposureTime)>("MV_CC_GetExposureTime");
    const auto getGain = sdkFunction<decltype(&MV_CC_GetGain)>("MV_CC_GetGain");
    const auto destroyHandle = sdkFunction<decltype(&MV_CC_DestroyHandle)>("MV_CC_DestroyHandle");
    if (!enumDevices || !createHandle || !openDevice || !getExposure || !getGain || !destroyHandle) {
        *error = QStringLiteral("the camera SDK is not loaded");
        return false;
    }

    const QStringList words = key.simplified().split(QLatin1Char(' '));
    if (words.size() < 2) {
        *error = QStringLiteral("'%1' is no camera key").arg(key);
        return false;
    }
    MV_CC_DEVICE_INFO_LIST list;
    memset(&list, 0, sizeof list);
    int code = enumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list);
    if (code != 0) {
        *error = sdkError("MV_CC_EnumDevices", code);
        return false;
    }
    const MV_CC_DEVICE_INFO* device = nullptr;
    for (unsigned i = 0; i < list.nDeviceNum && i < MV_MAX_DEVICE_NUM && device == nullptr; ++i) {
        const MV_CC_DEVICE_INFO* candidate = list.pDeviceInfo[i];
        if (candidate != nullptr &&
            field(candidate->chModelName, MV_MODEL_NAME_SIZE) == words.at(0).toUtf8() &&
            field(candidate->chSerialNumber, MV_SERIAL_NUMBER_SIZE) == words.at(1).toUtf8())
            device = candidate;
    }
    if (device == nullptr) {
        *error = QStringLiteral("the SDK lists no camera '%1'").arg(key);
        return false;
    }

    void* handle = nullptr;
    code = createHandle(&handle, device);
    if (code != 0) {
        *error = sdkError("MV_CC_CreateHandle", code);
        return false;
    }
    MVCC_FLOATVALUE exposure;
    MVCC_FLOATVALUE gain;
    memset(&exposure, 0, sizeof exposure);
    memset(&gain, 0, sizeof gain);
    const char* failed = nullptr;
    if ((code = openDevice(handle, 1, 0)) != 0)
        failed = "MV_CC_OpenDevice";
    else if ((code = getExposure(handle, &exposure)) != 0)
        failed = "MV_CC_GetExposureTime";
    else if ((code = getGain(handle, &gain)) != 0)
        failed = "MV_CC_GetGain";
    // Destroying the handle closes the camera for the plug-in to open.
    destroyHandle(handle);
    if (failed != nullptr) {
        *error = sdkError(failed, code);
        return false;
    }
    limits->exposure = exposure.fCurValue;
    limits->exposureMin = exposure.fMin;
    limits->exposureMax = exposure.fMax;
    limits->gain = gain.fCurValue;
    limits->gainMin = gain.fMin;
    limits->gainMax = gain.fMax;
    return true;
}

}  // namespace kwhost
