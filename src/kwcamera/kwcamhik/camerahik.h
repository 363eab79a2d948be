// CCameraHik: the camera object over the MVCameraControl SDK.
#ifndef KWCAMERA_KWCAMHIK_CAMERAHIK_H
#define KWCAMERA_KWCAMHIK_CAMERAHIK_H

#include "cameraobject.h"

struct _MV_FRAME_OUT_INFO_;

// Members follow the contract's members in a fixed order (m_hDevice at
// byte 80): hosts that know this class read them by offset. Virtual
// operations of its own come after the contract's thirteen slots.
class CCameraHik : public ICameraObject {
public:
    CCameraHik(tagQZ_CAMERA_CONFIG* pConfig, ICameraCallback* pCallback);
    ~CCameraHik() override;

    QStringList IGetCameraList() override;
    int IOpenCamera() override;
    void ICloseCamera() override;
    int IStartCamera() override;
    void IStopCamera() override;
    void IApplyParameters() override;
    void ISnapCamera() override;
    bool ISetProperty(tagQZ_CAMERA_PROPERTY* pProperty) override;

    virtual void IHikExtensionA();
    virtual void IHikExtensionB();

    // The SDK's image callback; the user pointer is the registering object.
    static void StaticImageCallBack(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser);
    void OnImageCallBack(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo);
    int GetCameraParameters();
    void ConvertPixelType(unsigned int nPixelType);

public:
    void* m_hDevice;
    ICameraCallback* m_pFrameCallback;
    int m_nHikReserved1;
    int m_nHikReserved2;
    int m_nDevicePixelType;

private:
    void ReleaseHandle();
    int SendTriggerSetting(int nMode, const char** ppFailure);
    void UpdateImageSize();
};

#endif  // KWCAMERA_KWCAMHIK_CAMERAHIK_H
