// The camera plug-in contract shared by hosts and every camera plug-in.
//
// Hosts and plug-ins are built separately and meet only in binary form: the
// order, widths and alignment of the data members below and the order of the
// virtual operations are fixed. Change nothing here without changing every
// host and plug-in built from it.
#ifndef KWCAMERA_CONTRACT_CAMERAOBJECT_H
#define KWCAMERA_CONTRACT_CAMERAOBJECT_H

#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>

// Camera family of a configured camera.
enum CameraType {
    CameraTypeUnknown = 0,
    CameraTypeVirtual = 100,
    CameraTypeBitFlow = 110,
    CameraTypeGige = 120,
    CameraTypeUsb = 130,
    CameraTypeHik = 140,
    CameraTypeVimba = 150,
    CameraTypeBaumer = 160,
    CameraTypeAdLink = 170,
    CameraTypeDaHua = 180,
    CameraTypeBasler = 190,
    CameraTypePtGray = 200,
    CameraTypeEuresys = 220,
    CameraTypeDalsa = 230
};

// State of a camera as hosts name it; plug-ins describe state by their flags.
enum CameraStatus {
    CameraStatusUninitialized = 0,
    CameraStatusInitialized = 1,
    CameraStatusOpened = 2,
    CameraStatusRunning = 3,
    CameraStatusPaused = 4,
    CameraStatusClosed = 5
};

// Layout of a frame's pixels (codes 6 to 10 are unassigned).
enum CameraPixelFormat {
    CameraPixelFormatNone = 0,
    CameraPixelFormatGray8 = 1,
    CameraPixelFormatRgb24 = 2,
    CameraPixelFormatRgb32 = 3,
    CameraPixelFormatGray16 = 4,
    CameraPixelFormatRgb48 = 5,
    CameraPixelFormatBgr24 = 11,
    CameraPixelFormatBgr32 = 12
};

// How acquisition is triggered: written by the host into m_nTriggerMode,
// recorded by the plug-in in m_nCurTriggerMode once put into effect.
enum CameraTriggerMode {
    CameraTriggerModeNone = 0,      // nothing applied yet
    CameraTriggerModeHardware = 1,  // input line 0
    CameraTriggerModeFreeRun = 2,
    CameraTriggerModeFreeRunAlt = 3,  // treated like free-running
    CameraTriggerModeSoftware = 4
};

// Display names. Each translation unit that includes this header builds its
// own copy of each table at load (internal linkage) and destroys it at unload.
// The list for the camera types names 100 and 110 twice; QMap keeps one entry
// per code, the later text replacing the earlier.
// clang-format off: one entry a line, as the tables are listed.
static const QMap<CameraType, QString> CameraTypeNames = {
    {CameraTypeUnknown, QString("Unknown(0)")},   {CameraTypeVirtual, QString("Virtual Camera(100)")},
    {CameraTypeBitFlow, QString("BitFlow(110)")}, {CameraTypeVirtual, QString("Virtual Camera(100)")},
    {CameraTypeBitFlow, QString("BitFlow(110)")}, {CameraTypeGige, QString("Gige(120)")},
    {CameraTypeUsb, QString("USB Camera(130)")},  {CameraTypeHik, QString("HIK(140)")},
    {CameraTypeVimba, QString("Vimba(150)")},     {CameraTypeBaumer, QString("Baumer(160)")},
    {CameraTypeAdLink, QString("AdLink(170)")},   {CameraTypeDaHua, QString("DaHua(180)")},
    {CameraTypeBasler, QString("Basler(190)")},   {CameraTypePtGray, QString("PtGray(200)")},
    {CameraTypeEuresys, QString("Euresys(220)")}, {CameraTypeDalsa, QString("Dalsa(230)")},
};

static const QMap<CameraStatus, QString> CameraStatusNames = {
    {CameraStatusUninitialized, QString("Uninitialized")},
    {CameraStatusInitialized, QString("Initialized")},
    {CameraStatusOpened, QString("Opened")},
    {CameraStatusRunning, QString("Running")},
    {CameraStatusPaused, QString("Paused")},
    {CameraStatusClosed, QString("Closed")},
};

static const QMap<CameraPixelFormat, QString> CameraPixelFormatNames = {
    {CameraPixelFormatNone, QString("None")},     {CameraPixelFormatGray8, QString("GRAY8")},
    {CameraPixelFormatRgb24, QString("RGB24")},   {CameraPixelFormatRgb32, QString("RGB32")},
    {CameraPixelFormatGray16, QString("GRAY16")}, {CameraPixelFormatRgb48, QString("RGB48")},
    {CameraPixelFormatBgr24, QString("BGR24")},   {CameraPixelFormatBgr32, QString("BGR32")},
};
// clang-format on

// Bits per pixel of a pixel-format code. Only the four formats that hosts
// size buffers by have a depth; every other code, RGB48 and BGR included,
// gives 0.
inline int GetBitsPerPixel(int nPixelFormat)
{
    switch (nPixelFormat) {
    case CameraPixelFormatGray8:
        return 8;
    case CameraPixelFormatRgb24:
        return 24;
    case CameraPixelFormatRgb32:
        return 32;
    case CameraPixelFormatGray16:
        return 16;
    default:
        return 0;
    }
}

class ICameraObject;

// The host's notification interface. A plug-in calls only OnImageReady,
// once per accepted frame, on the thread that delivered the frame.
class ICameraCallback {
public:
    virtual ~ICameraCallback() {}
    virtual void OnImageReady(ICameraObject* pCamera) = 0;
};

// The host's configuration of one camera. A plug-in reads strCameraKey,
// nPixelFormat, nExposureTime and nGain and writes nothing.
struct tagQZ_CAMERA_CONFIG {
    int nCameraType;
    QString strCameraName;
    QString strCameraKey;
    int nCameraIndex;
    int nPixelFormat;
    int nTimeout;
    int nExposureTime;
    int nGain;
    QString strDescription;
};

// One property change: a property code and its new value.
struct tagQZ_CAMERA_PROPERTY {
    int nPropertyId;
    int nValue;
};

// Codes of tagQZ_CAMERA_PROPERTY::nPropertyId. Exposure time and gain are
// whole numbers in the SDK's units; the white-balance ratios are taken as
// unsigned 32-bit values. A plug-in accepts and ignores every other code.
enum CameraPropertyId {
    CameraPropertyExposureTime = 1,
    CameraPropertyBalanceRatioRed = 2,
    CameraPropertyBalanceRatioGreen = 3,
    CameraPropertyBalanceRatioBlue = 4,
    CameraPropertyGain = 0x10000
};

// The abstract camera object. Hosts read the public members directly and
// select the trigger mode by writing m_nTriggerMode; there are no accessors.
class ICameraObject {
public:
    ICameraObject(tagQZ_CAMERA_CONFIG* pConfig, ICameraCallback* pCallback)
    {
        m_pConfig = pConfig;
        m_pCallback = pCallback;
        m_bOpened = false;
        m_bGrabbing = false;
        m_nWidth = 0;
        m_nHeight = 0;
        m_nBitsPerPixel = GetBitsPerPixel(pConfig->nPixelFormat);
        m_nImageSize = m_nWidth * m_nHeight * ((m_nBitsPerPixel + 7) / 8);
        m_nPixelFormat = 0;
        m_nReserved1 = 0;
        m_nFrameCount = 0;
        m_nReserved2 = 0;
        m_nCurTriggerMode = 0;
        m_nTriggerMode = 1;
        m_pImageData = nullptr;
    }

    // Owns nothing: the record, the callback and the pixels belong to others.
    virtual ~ICameraObject() {}

    virtual QStringList IGetCameraList() { return QStringList(); }
    virtual int IOpenCamera() = 0;
    virtual void ICloseCamera() = 0;
    virtual int IStartCamera() = 0;
    virtual void IStopCamera() = 0;
    virtual void IApplyParameters() {}
    virtual bool IExtensionA() { return false; }
    virtual bool IExtensionB() { return false; }
    virtual void ISnapCamera() {}
    virtual int IExtensionC() { return 0; }
    virtual bool ISetProperty(tagQZ_CAMERA_PROPERTY* pProperty)
    {
        (void)pProperty;
        return false;
    }
    virtual bool IExtensionD(void* pParam)
    {
        (void)pParam;
        return false;
    }

public:
    tagQZ_CAMERA_CONFIG* m_pConfig;
    bool m_bOpened;
    bool m_bGrabbing;
    int m_nWidth;
    int m_nHeight;
    int m_nImageSize;
    int m_nBitsPerPixel;
    int m_nPixelFormat;
    int m_nReserved1;
    int m_nFrameCount;
    int m_nReserved2;
    int m_nCurTriggerMode;
    int m_nTriggerMode;
    unsigned char* m_pImageData;
    ICameraCallback* m_pCallback;
};

// The two functions every camera plug-in exports with C linkage, as a host
// resolves them: Camera_Create makes a camera object for the host's record
// and callback (null when the record is null), Camera_Delete deletes it
// (a null object is harmless).
extern "C" {
typedef ICameraObject* (*CameraCreateFunc)(tagQZ_CAMERA_CONFIG* pConfig, ICameraCallback* pCallback);
typedef void (*CameraDeleteFunc)(ICameraObject* pCamera);
}

#endif  // KWCAMERA_CONTRACT_CAMERAOBJECT_H
