#include "kwhost/sdkdevice.h"

#include <cstring>
#include <dlfcn.h>

namespace kwhost {

namespace {

template <typename Function> Function lookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// The functions this file needs, all or none.
struct Functions {
    decltype(&MV_CC_EnumDevices) enumDevices = lookUp<decltype(&MV_CC_EnumDevices)>("MV_CC_EnumDevices");
    decltype(&MV_CC_CreateHandle) createHandle = lookUp<decltype(&MV_CC_CreateHandle)>("MV_CC_CreateHandle");
    decltype(&MV_CC_OpenDevice) openDevice = lookUp<decltype(&MV_CC_OpenDevice)>("MV_CC_OpenDevice");
    decltype(&MV_CC_DestroyHandle) destroyHandle = lookUp<decltype(&MV_CC_DestroyHandle)>("MV_CC_DestroyHandle");
    decltype(&MV_CC_GetWidth) getWidth = lookUp<decltype(&MV_CC_GetWidth)>("MV_CC_GetWidth");
    decltype(&MV_CC_GetHeight) getHeight = lookUp<decltype(&MV_CC_GetHeight)>("MV_CC_GetHeight");
    decltype(&MV_CC_GetPixelFormat) getPixelFormat = lookUp<decltype(&MV_CC_GetPixelFormat)>("MV_CC_GetPixelFormat");
    decltype(&MV_CC_GetExposureTime) getExposureTime =
        lookUp<decltype(&MV_CC_GetExposureTime)>("MV_CC_GetExposureTime");
    decltype(&MV_CC_GetGain) getGain = lookUp<decltype(&MV_CC_GetGain)>("MV_CC_GetGain");

    bool complete() const
    {
        return enumDevices && createHandle && openDevice && destroyHandle && getWidth && getHeight && getPixelFormat &&
            getExposureTime && getGain;
    }
};

QString fieldText(const unsigned char* field, size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, size)));
}

QString keyOf(const MV_CC_DEVICE_INFO& info)
{
    return QStringLiteral("%1 %2").arg(fieldText(info.chModelName, sizeof info.chModelName),
                                       fieldText(info.chSerialNumber, sizeof info.chSerialNumber));
}

QString code(int result)
{
    return QStringLiteral("0x%1").arg(static_cast<unsigned int>(result), 8, 16, QLatin1Char('0'));
}

// The device's access refused: another handle (of this process or another)
// holds it open.
const int kAccessRefused = static_cast<int>(0x80000007);
// Unplugged or removed since it was listed.
const int kNoDevice = static_cast<int>(0x80000008);

QString openFailure(int result)
{
    const QString reason = sdkCodeReason(result);
    if (!reason.isEmpty())
        return QStringLiteral("%1 (MV_CC_OpenDevice: %2)").arg(reason, code(result));
    return QStringLiteral("MV_CC_OpenDevice failed with %1").arg(code(result));
}

const MV_CC_DEVICE_INFO* findListed(const MV_CC_DEVICE_INFO_LIST& list, const QString& key)
{
    for (unsigned int i = 0; i < list.nDeviceNum; ++i) {
        if (list.pDeviceInfo[i] != nullptr && keyOf(*list.pDeviceInfo[i]) == key)
            return list.pDeviceInfo[i];
    }
    return nullptr;
}

bool enumerate(const Functions& sdk, MV_CC_DEVICE_INFO_LIST* list, QString* error)
{
    if (!sdk.complete()) {
        *error = QStringLiteral("the loaded SDK lacks some of its functions");
        return false;
    }
    memset(list, 0, sizeof *list);
    const int result = sdk.enumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, list);
    if (result != 0) {
        *error = QStringLiteral("MV_CC_EnumDevices failed with %1").arg(code(result));
        return false;
    }
    list->nDeviceNum = qMin(list->nDeviceNum, static_cast<unsigned int>(MV_MAX_DEVICE_NUM));
    return true;
}

}  // namespace

bool sdkDeviceKeys(QStringList* keys, QString* error)
{
    const Functions sdk;
    MV_CC_DEVICE_INFO_LIST list;
    if (!enumerate(sdk, &list, error))
        return false;
    keys->clear();
    for (unsigned int i = 0; i < list.nDeviceNum; ++i) {
        if (list.pDeviceInfo[i] != nullptr)
            keys->append(keyOf(*list.pDeviceInfo[i]));
    }
    return true;
}

bool readDevice(const QString& key, DeviceReport* report, QString* error)
{
    const Functions sdk;
    MV_CC_DEVICE_INFO_LIST list;
    if (!enumerate(sdk, &list, error))
        return false;
    const MV_CC_DEVICE_INFO* info = findListed(list, key);
    if (info == nullptr) {
        *error = QStringLiteral("the SDK lists no device %1").arg(key);
        return false;
    }
    *report = DeviceReport();
    switch (info->nTLayerType) {
    case MV_GIGE_DEVICE:
        report->transport = QStringLiteral("GigE");
        break;
    case MV_USB_DEVICE:
        report->transport = QStringLiteral("USB");
        break;
    default:
        report->transport = QStringLiteral("layer 0x%1").arg(info->nTLayerType, 0, 16);
        break;
    }

    void* handle = nullptr;
    int result = sdk.createHandle(&handle, info);
    if (result != 0) {
        *error = QStringLiteral("MV_CC_CreateHandle failed with %1").arg(code(result));
        return false;
    }
    result = sdk.openDevice(handle, MV_ACCESS_EXCLUSIVE, 0);
    if (result != 0) {
        sdk.destroyHandle(handle);
        *error = openFailure(result);
        return false;
    }
    report->widthKnown = sdk.getWidth(handle, &report->width) == 0;
    report->heightKnown = sdk.getHeight(handle, &report->height) == 0;
    report->pixelKnown = sdk.getPixelFormat(handle, &report->pixel) == 0;
    report->exposureKnown = sdk.getExposureTime(handle, &report->exposure) == 0;
    report->gainKnown = sdk.getGain(handle, &report->gain) == 0;
    report->pixel.nSupportedNum = qMin(report->pixel.nSupportedNum, 64u);
    sdk.destroyHandle(handle);  // closes the device
    return true;
}

QString sdkCodeReason(int result)
{
    switch (result) {
    case kAccessRefused:
        return QStringLiteral("held by another process");
    case kNoDevice:
        return QStringLiteral("the camera went away");
    default:
        return QString();
    }
}

QString openRefusal(const QString& key)
{
    const Functions sdk;
    MV_CC_DEVICE_INFO_LIST list;
    QString error;
    if (!enumerate(sdk, &list, &error))
        return error;
    const MV_CC_DEVICE_INFO* info = findListed(list, key);
    if (info == nullptr)
        return QStringLiteral("the camera went away (the SDK lists it no more)");
    void* handle = nullptr;
    int result = sdk.createHandle(&handle, info);
    if (result != 0)
        return QStringLiteral("MV_CC_CreateHandle failed with %1").arg(code(result));
    result = sdk.openDevice(handle, MV_ACCESS_EXCLUSIVE, 0);
    sdk.destroyHandle(handle);  // closes the device when it opened
    return result == 0 ? QString() : openFailure(result);
}

}  // namespace kwhost
