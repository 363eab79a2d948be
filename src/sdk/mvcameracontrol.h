// C interface of the camera SDK library MVCameraControl: the 21 functions a
// camera plug-in calls and the records they fill. Layouts are fixed byte for
// byte (x86-64, little-endian, natural alignment): any library that provides
// these symbols with these records can stand behind a plug-in built from it.
#ifndef KWCAM_SDK_MVCAMERACONTROL_H
#define KWCAM_SDK_MVCAMERACONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

#define MV_GIGE_DEVICE 0x00000001u
#define MV_USB_DEVICE 0x00000004u

#define MV_MAX_DEVICE_NUM 256

#define MV_ACCESS_EXCLUSIVE 1u

// Failure codes of the SDK libraries we ship (the simulator and the GenICam
// SDK); every failure is non-zero, 0 is success. A vendor's library has codes
// of its own: a plug-in may only tell 0 from the rest.
#define MV_OK 0
#define MV_E_HANDLE ((int)0x80000000)     // null, unknown or destroyed handle
#define MV_E_SUPPORT ((int)0x80000001)    // feature or command the device does not have
#define MV_E_CALLORDER ((int)0x80000003)  // not valid in the handle's state (not open, (not) grabbing, ...)
#define MV_E_PARAMETER ((int)0x80000004)  // null pointer, value the feature does not take
#define MV_E_RESOURCE ((int)0x80000006)   // memory, buffers or threads could not be had
#define MV_E_ACCESS ((int)0x80000007)     // device held by another handle or process
#define MV_E_NODEVICE ((int)0x80000008)   // device gone, or a record of no listed device
#define MV_E_CONFIG ((int)0x80000009)     // simulator only: its configuration is missing or malformed
#define MV_E_DEVICE ((int)0x8000000A)     // GenICam SDK only: the device refused a request or did not answer
#define MV_E_UNKNOWN ((int)0x800000FF)    // an internal error (reason on stderr); no exception leaves a function

#define MV_MODEL_NAME_OFFSET 84
#define MV_MODEL_NAME_SIZE 32
#define MV_SERIAL_NUMBER_OFFSET 196
#define MV_SERIAL_NUMBER_SIZE 16

// One device as the SDK lists it. Model name and serial number are
// NUL-terminated UTF-8 texts at fixed offsets, whatever the transport; a text
// that fills its field has no terminator.
typedef struct _MV_CC_DEVICE_INFO_ {
    unsigned short nMajorVer;
    unsigned short nMinorVer;
    unsigned int nTLayerType;     // MV_GIGE_DEVICE or MV_USB_DEVICE
    unsigned char chAddress[64];  // byte 8: transport address as text (a GigE device's IPv4 address), or empty
    unsigned int nReserved0[3];
    unsigned char chModelName[MV_MODEL_NAME_SIZE];        // byte 84
    unsigned char chManufacturerName[80];                 // byte 116
    unsigned char chSerialNumber[MV_SERIAL_NUMBER_SIZE];  // byte 196
    unsigned char chUserDefinedName[16];                  // byte 212
    unsigned int nReserved[16];
} MV_CC_DEVICE_INFO;

typedef struct _MV_CC_DEVICE_INFO_LIST_ {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO* pDeviceInfo[MV_MAX_DEVICE_NUM];
} MV_CC_DEVICE_INFO_LIST;

typedef struct _MVCC_INTVALUE_ {
    unsigned int nCurValue;
    unsigned int nMax;
    unsigned int nMin;
    unsigned int nInc;
    unsigned int nReserved[4];
} MVCC_INTVALUE;

typedef struct _MVCC_ENUMVALUE_ {
    unsigned int nCurValue;
    unsigned int nSupportedNum;
    unsigned int nSupportValue[64];
    unsigned int nReserved[4];
} MVCC_ENUMVALUE;

typedef struct _MVCC_FLOATVALUE_ {
    float fCurValue;
    float fMax;
    float fMin;
    unsigned int nReserved[4];
} MVCC_FLOATVALUE;

// Describes one delivered frame. The buffer and this record belong to the
// SDK and stay valid until the image callback returns.
typedef struct _MV_FRAME_OUT_INFO_ {
    unsigned short nWidth;
    unsigned short nHeight;
    unsigned int enPixelType;
    unsigned int nFrameNum;             // counts trigger events since the handle was created
    unsigned int nFrameLen;             // bytes of pixel data
    unsigned long long nHostTimeStamp;  // steady clock, ns
    unsigned int nLostFrames;           // GenICam SDK: incomplete frames dropped since grabbing started; else 0
    unsigned int nReserved[7];
} _MV_FRAME_OUT_INFO_;

typedef _MV_FRAME_OUT_INFO_ MV_FRAME_OUT_INFO;

typedef void (*MvImageCallback)(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser);

int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList);
int MV_CC_CreateHandle(void** phHandle, const MV_CC_DEVICE_INFO* pstDevInfo);
int MV_CC_OpenDevice(void* hHandle, unsigned int nAccessMode, unsigned short nSwitchoverKey);
int MV_CC_RegisterImageCallBack(void* hHandle,
                                void (*cbOutput)(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser),
                                void* pUser);
int MV_CC_DestroyHandle(void* hHandle);
int MV_CC_GetWidth(void* hHandle, MVCC_INTVALUE* pstValue);
int MV_CC_GetHeight(void* hHandle, MVCC_INTVALUE* pstValue);
int MV_CC_GetPixelFormat(void* hHandle, MVCC_ENUMVALUE* pstValue);
int MV_CC_SetExposureTime(void* hHandle, float fValue);
int MV_CC_SetGain(void* hHandle, float fValue);
int MV_CC_GetExposureTime(void* hHandle, MVCC_FLOATVALUE* pstValue);
int MV_CC_GetGain(void* hHandle, MVCC_FLOATVALUE* pstValue);
int MV_CC_SetExposureAutoMode(void* hHandle, unsigned int nValue);
int MV_CC_SetBalanceWhiteAuto(void* hHandle, unsigned int nValue);
int MV_CC_SetBalanceRatioRed(void* hHandle, unsigned int nValue);
int MV_CC_SetBalanceRatioGreen(void* hHandle, unsigned int nValue);
int MV_CC_SetBalanceRatioBlue(void* hHandle, unsigned int nValue);
int MV_CC_SetEnumValue(void* hHandle, const char* strKey, unsigned int nValue);
int MV_CC_SetCommandValue(void* hHandle, const char* strKey);
int MV_CC_StartGrabbing(void* hHandle);
int MV_CC_StopGrabbing(void* hHandle);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(MV_CC_DEVICE_INFO_LIST) == 2056, "device information list layout");
static_assert(__builtin_offsetof(MV_CC_DEVICE_INFO_LIST, pDeviceInfo) == 8, "device list pointers");
static_assert(__builtin_offsetof(MV_CC_DEVICE_INFO, chModelName) == MV_MODEL_NAME_OFFSET, "model name");
static_assert(__builtin_offsetof(MV_CC_DEVICE_INFO, chSerialNumber) == MV_SERIAL_NUMBER_OFFSET, "serial number");
static_assert(sizeof(MV_CC_DEVICE_INFO) >= 212, "device record size");
static_assert(__builtin_offsetof(MV_CC_DEVICE_INFO, chAddress) == 8, "address text");
static_assert(sizeof(MVCC_INTVALUE) == 32, "integer value record");
static_assert(sizeof(MVCC_ENUMVALUE) == 280, "enumeration value record");
static_assert(sizeof(MVCC_FLOATVALUE) == 28, "float value record");
static_assert(__builtin_offsetof(MVCC_FLOATVALUE, fMax) == 4 && __builtin_offsetof(MVCC_FLOATVALUE, fMin) == 8,
              "float limits");
static_assert(__builtin_offsetof(_MV_FRAME_OUT_INFO_, enPixelType) == 4, "frame pixel type");
#endif

#endif  // KWCAM_SDK_MVCAMERACONTROL_H
