// One camera as a host drives it, from choice to close: the camera the
// shared options name, what the SDK tells of its device (id, pixel type,
// exposure and gain limits: read before the plug-in opens it), open with the
// host's callback, start in a trigger mode, triggers, stop, and the frames
// lost since the start. kwcam, the viewer and any host over the contract
// start here; main thread only (the callback runs on the SDK's).
#ifndef KWHOST_CAMERASESSION_H
#define KWHOST_CAMERASESSION_H

#include <QtCore/QString>

#include <memory>

#include "cameraobject.h"
#include "kwhost/camera.h"
#include "kwhost/losses.h"
#include "kwhost/options.h"
#include "kwhost/pixellayout.h"
#include "kwhost/plugin.h"
#include "kwhost/property.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/trigger.h"

namespace kwhost {

class CameraSession {
public:
    explicit CameraSession(const Plugin& plugin);
    ~CameraSession();  // stops and closes
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Chooses the camera -c names in options, else key (empty: the first
    // listed), and reads its device through the SDK. The camera is not open
    // yet. False with the reason.
    bool choose(const HostOptions& options, const QString& key, QString* error);
    // Opens the chosen camera with callback (may be null, must outlive the
    // session); closes whatever was open before.
    bool open(ICameraCallback* callback, QString* error);
    // Stops acquisition and closes the camera; also while it waits for a
    // trigger that never comes. Once it returns no callback runs.
    void close();
    bool isOpen() const;

    const QString& key() const { return m_key; }
    ICameraObject* object() const;  // null until open
    tagQZ_CAMERA_CONFIG* config();  // null until open
    const SdkControl& sdk() const { return m_sdk; }
    // The SDK's id of the device, -1 when the SDK cannot tell.
    int device() const { return m_device; }
    // The device's own pixel type, when the SDK tells it (0 else), and its
    // layout (Unknown else).
    unsigned int devicePixelType() const { return m_pixelType; }
    PixelLayout deviceLayout() const { return m_deviceLayout; }
    // The layout frames are read with: the device's, else the plug-in's
    // report (once open).
    PixelLayout layout() const;
    const Limits& exposure() const { return m_exposure; }
    const Limits& gain() const { return m_gain; }

    // Sets the trigger mode and starts; the losses count from here.
    bool start(TriggerChoice trigger, QString* error);
    void stop();
    bool isGrabbing() const;
    // One trigger in the mode started with: a software trigger, or a pulse
    // on line 0 where the SDK can pulse (false when it cannot, or when the
    // pulse made no frame event). Free-running: nothing.
    bool trigger();
    bool canPulse() const { return m_sdk.canPulse() && m_device >= 0; }

    // Frames lost since start; numbered and missing: what the host counted
    // from the frame stamps, for SDKs that tell nothing themselves.
    Losses losses(bool numbered, quint64 missing) const;

    // Exposure (µs) and gain (dB) within the device's limits; applied gets
    // the value sent. False when the camera refused it or none is open.
    bool setExposure(int microseconds, int* applied);
    bool setGain(int decibels, int* applied);

private:
    const Plugin& m_plugin;
    SdkControl m_sdk;
    std::unique_ptr<Camera> m_camera;
    QString m_key;
    int m_device = -1;
    unsigned int m_pixelType = 0;
    PixelLayout m_deviceLayout = PixelLayout::Unknown;
    Limits m_exposure;
    Limits m_gain;
    TriggerChoice m_trigger = TriggerChoice::Free;
    LossWatch m_losses;
};

}  // namespace kwhost

#endif  // KWHOST_CAMERASESSION_H
