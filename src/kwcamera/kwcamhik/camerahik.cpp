// CCameraHik: discovery, open and close, acquisition and trigger control,
// property setting and the frame path, all over the MVCameraControl SDK.
//
// The object owns the SDK handle from a successful open to close. It keeps no
// thread, lock or queue of its own: host threads call the operations, and the
// SDK's acquisition thread runs the frame path and, inside it, the host's
// OnImageReady.
#include "camerahik.h"

#include <QtCore/QDateTime>
#include <QtCore/QDebug>
#include <QtCore/QLoggingCategory>
#include <QtCore/QtGlobal>

#include <cstring>
#include <limits>

#include "mvcameracontrol.h"

namespace {

const unsigned int kTransportMask = MV_GIGE_DEVICE | MV_USB_DEVICE;

// Feature values sent to the device.
const unsigned int kTriggerSourceLine0 = 0;
const unsigned int kTriggerSourceSoftware = 7;
const unsigned int kTriggerModeOff = 0;
const unsigned int kTriggerModeOn = 1;

// A text field of a device record. The SDK terminates it with NUL, but a text
// that fills its field has none: never read past the field.
QString deviceText(const unsigned char* field, size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, size)));
}

QString modelName(const MV_CC_DEVICE_INFO* info)
{
    return deviceText(info->chModelName, sizeof info->chModelName);
}

QString serialNumber(const MV_CC_DEVICE_INFO* info)
{
    return deviceText(info->chSerialNumber, sizeof info->chSerialNumber);
}

// Number of usable entries of a filled device list: the SDK promises at most
// 256, and the list holds no more.
unsigned int deviceCount(const MV_CC_DEVICE_INFO_LIST& devices)
{
    return qMin(devices.nDeviceNum, static_cast<unsigned int>(MV_MAX_DEVICE_NUM));
}

QStringList splitKey(const QString& key)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    return key.split(QChar(' '), Qt::SkipEmptyParts);
#else
    return key.split(QChar(' '), QString::SkipEmptyParts);
#endif
}

// An SDK failure message: the text with the code in signed decimal for "%1".
QString withCode(const char* text, int nRet)
{
    return QString(text).arg(nRet);
}

#ifndef KWCAM_STREAMED_FRAME_ENTRY
// Qt makes the Nth warning fatal when QT_FATAL_WARNINGS is set, also when
// the default category filters warnings out. The frame entry below must keep
// that effect, so it is only skipped when no such request exists.
bool fatalWarningsRequested()
{
    static const bool requested = qEnvironmentVariableIsSet("QT_FATAL_WARNINGS");
    return requested;
}

// The per-frame warning entry. It reaches the message handler exactly as
// streaming "Hikvision Camera image get:", the time as a QString and endl into
// a QDebug would (same type, text, context and category), but builds the text
// directly instead of through a text stream, and not at all when the host has
// switched warnings of the default category off.
void logFrameArrival(const char* file, int line, const char* function)
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    if (category != nullptr && !category->isWarningEnabled() && !fatalWarningsRequested())
        return;
    QString text;
    text.reserve(48);
    text += QLatin1String("Hikvision Camera image get: \"");
    text += QString::number(QDateTime::currentMSecsSinceEpoch());
    text += QLatin1String("\" \n");
    const QMessageLogContext context(file, line, function, "default");
    qt_message_output(QtWarningMsg, context, text);
}
#endif

}  // namespace

// The per-frame entry, on one line so that both forms carry the same context.
// KWCAM_STREAMED_FRAME_ENTRY builds the reference form that the fast form
// must match.
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
#define KWCAM_QT_ENDL Qt::endl
#else
#define KWCAM_QT_ENDL endl
#endif
#ifdef KWCAM_STREAMED_FRAME_ENTRY
#define KWCAM_LOG_FRAME_ARRIVAL()                                                                                      \
    QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC).warning()                               \
        << "Hikvision Camera image get:" << QString::number(QDateTime::currentMSecsSinceEpoch()) << KWCAM_QT_ENDL
#else
#define KWCAM_LOG_FRAME_ARRIVAL() logFrameArrival(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC)
#endif

CCameraHik::CCameraHik(tagQZ_CAMERA_CONFIG* pConfig, ICameraCallback* pCallback) : ICameraObject(pConfig, pCallback)
{
    m_hDevice = nullptr;
    m_pFrameCallback = pCallback;
    m_nHikReserved1 = 0;
    m_nHikReserved2 = 0;
    // Defined before the first open for hosts that read the object by offset.
    m_nDevicePixelType = 0;
}

CCameraHik::~CCameraHik()
{
    // Stops acquisition and destroys the handle; the SDK's stop and destroy
    // return only once no image callback runs any more.
    CCameraHik::ICloseCamera();
}

void CCameraHik::IHikExtensionA()
{}

void CCameraHik::IHikExtensionB()
{}

QStringList CCameraHik::IGetCameraList()
{
    QStringList keys;
    MV_CC_DEVICE_INFO_LIST devices;
    memset(&devices, 0, sizeof devices);
    if (MV_CC_EnumDevices(kTransportMask, &devices) != 0)
        return keys;
    const unsigned int count = deviceCount(devices);
    for (unsigned int i = 0; i < count; ++i) {
        const MV_CC_DEVICE_INFO* info = devices.pDeviceInfo[i];
        if (info == nullptr)
            continue;
        // One substitution pass: a '%' in a device text stays as it is.
        keys.append(QString("%1 %2").arg(modelName(info), serialNumber(info)));
    }
    return keys;
}

int CCameraHik::IOpenCamera()
{
    if (m_pConfig == nullptr)
        return 0;
    if (m_bOpened)
        return 1;

    const QString key = m_pConfig->strCameraKey;
    const QStringList pieces = splitKey(key);
    if (pieces.size() < 2) {
        qWarning() << "Not valid camera key:" << key << " - "
                   << "CCameraHik::IOpenCamera";
        return 0;
    }

    MV_CC_DEVICE_INFO_LIST devices;
    memset(&devices, 0, sizeof devices);
    if (MV_CC_EnumDevices(kTransportMask, &devices) != 0) {
        qWarning() << "Failed to EnumDevices."
                   << " - "
                   << "CCameraHik::IOpenCamera";
        return 0;
    }

    const unsigned int count = deviceCount(devices);
    for (unsigned int i = 0; i < count; ++i) {
        const MV_CC_DEVICE_INFO* info = devices.pDeviceInfo[i];
        if (info == nullptr || pieces.at(0) != modelName(info) || pieces.at(1) != serialNumber(info))
            continue;

        qDebug() << "Found camera " << key << " - "
                 << "CCameraHik::IOpenCamera";
        if (MV_CC_CreateHandle(&m_hDevice, info) != 0) {
            // Whatever the SDK left here is no handle of ours.
            m_hDevice = nullptr;
            qWarning() << "Failed to CreateHandle."
                       << " - "
                       << "CCameraHik::IOpenCamera";
            return 0;
        }
        if (MV_CC_OpenDevice(m_hDevice, MV_ACCESS_EXCLUSIVE, 0) != 0) {
            qWarning() << "Failed to OpenDevice."
                       << " - "
                       << "CCameraHik::IOpenCamera";
            ReleaseHandle();
            return 0;
        }
        if (MV_CC_RegisterImageCallBack(m_hDevice, &CCameraHik::StaticImageCallBack, this) != 0) {
            qWarning() << "Failed to RegisterImageCallBack."
                       << " - "
                       << "CCameraHik::IOpenCamera";
            ReleaseHandle();
            return 0;
        }
        break;
    }

    // Also the outcome when no device matched: there is no handle to read.
    if (GetCameraParameters() == 0) {
        qWarning() << "Failed to get camera parameters."
                   << " - "
                   << "CCameraHik::IOpenCamera";
        ReleaseHandle();
        return 0;
    }
    UpdateImageSize();

    m_nFrameCount = 0;
    m_bOpened = true;
    m_bGrabbing = false;
    qDebug() << "Successfully open camera: " << key << " - "
             << "CCameraHik::IOpenCamera";
    return 1;
}

int CCameraHik::GetCameraParameters()
{
    if (m_hDevice == nullptr)
        return 0;

    MVCC_INTVALUE intValue;
    memset(&intValue, 0, sizeof intValue);
    if (MV_CC_GetWidth(m_hDevice, &intValue) != 0)
        return 0;
    m_nWidth = static_cast<int>(intValue.nCurValue);

    memset(&intValue, 0, sizeof intValue);
    if (MV_CC_GetHeight(m_hDevice, &intValue) != 0)
        return 0;
    m_nHeight = static_cast<int>(intValue.nCurValue);

    MVCC_ENUMVALUE enumValue;
    memset(&enumValue, 0, sizeof enumValue);
    if (MV_CC_GetPixelFormat(m_hDevice, &enumValue) != 0)
        return 0;
    m_nDevicePixelType = static_cast<int>(enumValue.nCurValue);
    return 1;
}

void CCameraHik::ReleaseHandle()
{
    if (m_hDevice == nullptr)
        return;
    // Destroying the handle also closes the device and ends its registration.
    MV_CC_DestroyHandle(m_hDevice);
    m_hDevice = nullptr;
}

void CCameraHik::UpdateImageSize()
{
    // Computed wide: 65535 x 65535 frames do not fit an int, and the member
    // then saturates instead of wrapping to a size no buffer could have.
    const qint64 size = static_cast<qint64>(m_nWidth) * m_nHeight * ((m_nBitsPerPixel + 7) / 8);
    m_nImageSize = size > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(size);
}

void CCameraHik::ICloseCamera()
{
    if (!m_bOpened)
        return;
    if (m_hDevice == nullptr)
        return;
    // Through the table of virtual operations; a failed stop is only logged,
    // and the handle is released regardless.
    IStopCamera();
    MV_CC_DestroyHandle(m_hDevice);
    m_hDevice = nullptr;
    m_bOpened = false;
    m_bGrabbing = false;
}

void CCameraHik::IApplyParameters()
{
    if (m_hDevice == nullptr || m_pConfig == nullptr)
        return;
    MV_CC_SetExposureTime(m_hDevice, static_cast<float>(m_pConfig->nExposureTime));
    MV_CC_SetGain(m_hDevice, static_cast<float>(m_pConfig->nGain));
}

int CCameraHik::IStartCamera()
{
    if (!m_bOpened)
        return 0;
    if (m_hDevice == nullptr)
        return 0;

    // The requested mode is put into effect only when it differs from the one
    // last applied; a failed setting leaves the applied mode as it was, so the
    // next start sends the whole sequence again.
    const int requested = m_nTriggerMode;
    if (requested != m_nCurTriggerMode) {
        // Codes without a setting send nothing and are recorded as applied.
        const char* pFailure = nullptr;
        const int nRet = SendTriggerSetting(requested, &pFailure);
        if (nRet != 0) {
            qWarning() << withCode(pFailure, nRet) << " - "
                       << "CCameraHik::IStartCamera";
            return 0;
        }
        m_nCurTriggerMode = requested;
    }

    if (m_bGrabbing)
        return 1;

    // The first frame may arrive, and the host may stop, close or delete this
    // object from its OnImageReady, before MV_CC_StartGrabbing returns: the
    // object counts as grabbing from before the start, and nothing touches it
    // after a successful one.
    m_bGrabbing = true;
    const int nRet = MV_CC_StartGrabbing(m_hDevice);
    if (nRet != 0) {
        m_bGrabbing = false;
        qWarning() << withCode("Error: StartGrabbing failed [%1]", nRet) << " - "
                   << "CCameraHik::IStartCamera";
        return 0;
    }
    return 1;
}

// Puts one trigger mode into effect on the device: the trigger source first
// (line 0 or software) and then TriggerMode on, or TriggerMode off for
// free-running; other codes send nothing. Returns 0, or the SDK's code of the
// first failing call with the message that names it, which the caller logs
// as its own entry; the calls after a failure are not made.
int CCameraHik::SendTriggerSetting(int nMode, const char** ppFailure)
{
    struct Step {
        const char* pFeature;
        unsigned int nValue;
        const char* pFailure;
    };
    static const Step kLine0Source = {"TriggerSource", kTriggerSourceLine0,
                                      "Error: TriggerSource to line0 failed [%1]"};
    static const Step kSoftwareSource = {"TriggerSource", kTriggerSourceSoftware,
                                         "Error: TriggerSource to software failed [%1]"};
    static const Step kModeOn = {"TriggerMode", kTriggerModeOn, "Error: SetTriggerMode to on failed [%1]"};
    static const Step kModeOff = {"TriggerMode", kTriggerModeOff, "Error: SetTriggerMode to off failed [%1]"};

    const Step* steps[2] = {nullptr, nullptr};
    switch (nMode) {
    case CameraTriggerModeHardware:
        steps[0] = &kLine0Source;
        steps[1] = &kModeOn;
        break;
    case CameraTriggerModeFreeRun:
    case CameraTriggerModeFreeRunAlt:
        steps[0] = &kModeOff;
        break;
    case CameraTriggerModeSoftware:
        steps[0] = &kSoftwareSource;
        steps[1] = &kModeOn;
        break;
    default:
        break;
    }
    for (const Step* step : steps) {
        if (step == nullptr)
            break;
        const int nRet = MV_CC_SetEnumValue(m_hDevice, step->pFeature, step->nValue);
        if (nRet != 0) {
            *ppFailure = step->pFailure;
            return nRet;
        }
    }
    return 0;
}

void CCameraHik::IStopCamera()
{
    if (!m_bOpened || !m_bGrabbing || m_hDevice == nullptr)
        return;
    const int nRet = MV_CC_StopGrabbing(m_hDevice);
    if (nRet != 0) {
        qWarning() << withCode("Error: StopGrabbing failed [%1]", nRet) << " - "
                   << "CCameraHik::IStopCamera";
        return;
    }
    m_bGrabbing = false;
}

void CCameraHik::ISnapCamera()
{
    if (m_hDevice == nullptr)
        return;

    if (m_nCurTriggerMode != CameraTriggerModeSoftware) {
        const char* pFailure = nullptr;
        const int nRet = SendTriggerSetting(CameraTriggerModeSoftware, &pFailure);
        if (nRet != 0) {
            qWarning() << withCode(pFailure, nRet) << " - "
                       << "CCameraHik::ISnapCamera";
            return;
        }
        m_nCurTriggerMode = CameraTriggerModeSoftware;
    }

    if (MV_CC_SetCommandValue(m_hDevice, "TriggerSoftware") != 0)
        qWarning() << "Failed to set triggerSoftware - "
                   << "CCameraHik::ISnapCamera";
}

bool CCameraHik::ISetProperty(tagQZ_CAMERA_PROPERTY* pProperty)
{
    if (pProperty == nullptr)
        return false;

    const int nPropertyId = pProperty->nPropertyId;
    const int nValue = pProperty->nValue;
    switch (nPropertyId) {
    case CameraPropertyExposureTime: {
        // A failure to leave automatic exposure is passed over: the set below
        // still decides the outcome.
        if (MV_CC_SetExposureAutoMode(m_hDevice, 0) != 0)
            qWarning() << "Failed to SetExposureAutoMode"
                       << " - "
                       << "CCameraHik::ISetProperty";
        MVCC_FLOATVALUE limits;
        memset(&limits, 0, sizeof limits);
        if (MV_CC_GetExposureTime(m_hDevice, &limits) != 0) {
            qWarning() << "Failed to GetExposureTime"
                       << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        const float value = static_cast<float>(nValue);
        if (limits.fMin > value || value > limits.fMax) {
            qWarning() << QString("Invalid exposure time value:%1.").arg(nValue) << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        if (MV_CC_SetExposureTime(m_hDevice, value) != 0) {
            qWarning() << "Failed to SetExposureTime"
                       << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        qDebug() << QString("Set exposure time value:%1 successfully.").arg(nValue) << " - "
                 << "CCameraHik::ISetProperty";
        return true;
    }
    case CameraPropertyBalanceRatioRed:
    case CameraPropertyBalanceRatioGreen:
    case CameraPropertyBalanceRatioBlue: {
        if (MV_CC_SetBalanceWhiteAuto(m_hDevice, 0) != 0) {
            qWarning() << "Failed to SetBalanceWhiteAuto to OFF"
                       << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        const unsigned int ratio = static_cast<unsigned int>(nValue);
        int nRet = 0;
        if (nPropertyId == CameraPropertyBalanceRatioRed)
            nRet = MV_CC_SetBalanceRatioRed(m_hDevice, ratio);
        else if (nPropertyId == CameraPropertyBalanceRatioGreen)
            nRet = MV_CC_SetBalanceRatioGreen(m_hDevice, ratio);
        else
            nRet = MV_CC_SetBalanceRatioBlue(m_hDevice, ratio);
        if (nRet != 0) {
            qWarning() << "Failed to SetBalanceRatio to " << ratio << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        qDebug() << "Successfully SetBalanceRatio to " << ratio << " - "
                 << "CCameraHik::ISetProperty";
        return true;
    }
    case CameraPropertyGain: {
        // Gain is set by hand only with automatic exposure off.
        if (MV_CC_SetExposureAutoMode(m_hDevice, 0) != 0)
            qWarning() << "Failed to SetExposureAutoMode"
                       << " - "
                       << "CCameraHik::ISetProperty";
        MVCC_FLOATVALUE limits;
        memset(&limits, 0, sizeof limits);
        if (MV_CC_GetGain(m_hDevice, &limits) != 0) {
            qWarning() << "Failed to GetGain"
                       << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        const float value = static_cast<float>(nValue);
        if (limits.fMin > value || value > limits.fMax) {
            qWarning() << QString("Invalid gain value:%1.").arg(nValue) << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        if (MV_CC_SetGain(m_hDevice, value) != 0) {
            qWarning() << "Failed to SetGain"
                       << " - "
                       << "CCameraHik::ISetProperty";
            return false;
        }
        qDebug() << QString("Set gain value:%1 successfully.").arg(nValue) << " - "
                 << "CCameraHik::ISetProperty";
        return true;
    }
    default:
        // Codes this camera has no property for are accepted and ignored.
        return true;
    }
}

void CCameraHik::StaticImageCallBack(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser)
{
    if (pUser == nullptr || pData == nullptr || pFrameInfo == nullptr)
        return;
    static_cast<CCameraHik*>(pUser)->OnImageCallBack(pData, pFrameInfo);
}

void CCameraHik::OnImageCallBack(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo)
{
    KWCAM_LOG_FRAME_ARRIVAL();
    // Wraps at 2^31 frames instead of overflowing.
    m_nFrameCount = static_cast<int>(static_cast<unsigned int>(m_nFrameCount) + 1u);
    m_pImageData = pData;
    m_nWidth = pFrameInfo->nWidth;
    m_nHeight = pFrameInfo->nHeight;
    ConvertPixelType(pFrameInfo->enPixelType);
    UpdateImageSize();
    // The host reads the members and the pixels during this call; the SDK
    // keeps the buffer until it returns. No copy, no lock, no queue. The host
    // may stop, close or delete this object inside the call, so nothing may
    // touch the object after it.
    if (m_pFrameCallback != nullptr)
        m_pFrameCallback->OnImageReady(this);
}

void CCameraHik::ConvertPixelType(unsigned int nPixelType)
{
    switch (nPixelType) {
    case 0x01080001u:  // Mono8
        m_nPixelFormat = CameraPixelFormatGray8;
        m_nBitsPerPixel = 8;
        break;
    case 0x02180014u:  // RGB8 packed
        m_nPixelFormat = CameraPixelFormatRgb24;
        m_nBitsPerPixel = 24;
        break;
    case 0x02200016u:  // RGBa8 packed
        m_nPixelFormat = CameraPixelFormatRgb32;
        m_nBitsPerPixel = 32;
        break;
    case 0x02300033u:  // RGB16 packed, reported as the 16-bit format
        m_nPixelFormat = CameraPixelFormatGray16;
        m_nBitsPerPixel = 16;
        break;
    default:
        // Anything else, colour or not, is announced as 8-bit grey.
        m_nPixelFormat = CameraPixelFormatGray8;
        m_nBitsPerPixel = 8;
        break;
    }
}
