#include "kwhost/camerasession.h"

#include "kwhost/sdkdevice.h"

namespace kwhost {

CameraSession::CameraSession(const Plugin& plugin) : m_plugin(plugin), m_losses(m_sdk, -1)
{}

CameraSession::~CameraSession()
{
    close();
}

bool CameraSession::choose(const HostOptions& options, const QString& key, QString* error)
{
    close();
    std::unique_ptr<Camera> camera(new Camera(m_plugin));
    if (!camera->choose(options, key, error))
        return false;
    m_key = camera->key();
    m_camera = std::move(camera);

    // The limits first: reading them takes the camera for a moment.
    DeviceReport report;
    QString reportError;
    const bool reported = readDevice(m_key, &report, &reportError);
    m_exposure = limitsOf(reported && report.exposureKnown, report.exposure);
    m_gain = limitsOf(reported && report.gainKnown, report.gain);

    m_device = m_sdk.findDevice(m_key);
    m_losses = LossWatch(m_sdk, m_device);
    MvsimDeviceState state;
    m_pixelType = m_sdk.deviceState(m_device, &state) ? state.pixelType : 0;
    m_deviceLayout = m_pixelType != 0 ? layoutOfDeviceType(m_pixelType) : PixelLayout::Unknown;
    return true;
}

bool CameraSession::open(ICameraCallback* callback, QString* error)
{
    if (!m_camera) {
        *error = QStringLiteral("no camera is chosen");
        return false;
    }
    if (isOpen())
        close();
    return m_camera->open(callback, error);
}

void CameraSession::close()
{
    ICameraObject* camera = object();
    if (camera == nullptr)
        return;
    // Stop before close: a camera that waits for a trigger is woken by the
    // stop, and once it returns the SDK runs no callback any more.
    camera->IStopCamera();
    camera->ICloseCamera();
    // The object goes with the camera; the choice stays for another open.
    std::unique_ptr<Camera> fresh(new Camera(m_plugin));
    QString ignored;
    fresh->select(m_key, &ignored);
    m_camera = std::move(fresh);
}

bool CameraSession::isOpen() const
{
    return object() != nullptr;
}

ICameraObject* CameraSession::object() const
{
    return m_camera ? m_camera->object() : nullptr;
}

tagQZ_CAMERA_CONFIG* CameraSession::config()
{
    return isOpen() ? m_camera->config() : nullptr;
}

PixelLayout CameraSession::layout() const
{
    if (m_deviceLayout != PixelLayout::Unknown || !isOpen())
        return m_deviceLayout;
    return layoutOfPluginFormat(object()->m_nPixelFormat, object()->m_nBitsPerPixel);
}

bool CameraSession::start(TriggerChoice trigger, QString* error)
{
    ICameraObject* camera = object();
    if (camera == nullptr) {
        *error = QStringLiteral("no camera is open");
        return false;
    }
    if (camera->m_bGrabbing)
        return true;
    m_trigger = trigger;
    m_losses.begin();
    camera->m_nTriggerMode = contractTriggerMode(trigger);
    if (!camera->IStartCamera()) {
        *error = QStringLiteral("cannot start acquisition on %1").arg(m_key);
        return false;
    }
    return true;
}

void CameraSession::stop()
{
    if (ICameraObject* camera = object())
        camera->IStopCamera();
}

bool CameraSession::isGrabbing() const
{
    return isOpen() && object()->m_bGrabbing;
}

bool CameraSession::trigger()
{
    ICameraObject* camera = object();
    if (camera == nullptr)
        return false;
    switch (m_trigger) {
    case TriggerChoice::Software:
        camera->ISnapCamera();
        return true;
    case TriggerChoice::Hardware:
        return m_sdk.pulseLine0(m_device);  // a pulse the camera cannot take counts as lost
    case TriggerChoice::Free:
        break;
    }
    return false;
}

Losses CameraSession::losses(bool numbered, quint64 missing) const
{
    return m_losses.sinceBegin(numbered, missing);
}

bool CameraSession::setExposure(int microseconds, int* applied)
{
    if (!setBounded(object(), CameraPropertyExposureTime, microseconds, m_exposure, applied))
        return false;
    m_exposure.value = static_cast<float>(*applied);
    return true;
}

bool CameraSession::setGain(int decibels, int* applied)
{
    if (!setBounded(object(), CameraPropertyGain, decibels, m_gain, applied))
        return false;
    m_gain.value = static_cast<float>(*applied);
    return true;
}

}  // namespace kwhost
