#include "camerasession.h"

#include <algorithm>
#include <cmath>

namespace kwview {

CameraSession::CameraSession(const kwhost::Plugin& plugin) : m_plugin(plugin)
{}

CameraSession::~CameraSession()
{
    close();
}

QStringList CameraSession::cameraKeys() const
{
    return kwhost::listCameras(m_plugin);
}

bool CameraSession::open(const QString& key, QString* error)
{
    close();
    std::unique_ptr<kwhost::Camera> camera(new kwhost::Camera(m_plugin));
    if (!camera->select(key, error))
        return false;

    // The limits first: reading them takes the camera for a moment.
    kwhost::DeviceReport report;
    QString reportError;
    const bool reported = kwhost::readDevice(camera->key(), &report, &reportError);
    m_exposure = kwhost::limitsOf(reported && report.exposureKnown, report.exposure);
    m_gain = kwhost::limitsOf(reported && report.gainKnown, report.gain);

    m_device = m_sdk.findDevice(camera->key());
    MvsimDeviceState state;
    kwhost::PixelLayout layout = kwhost::PixelLayout::Unknown;
    BayerPattern bayer = BayerPattern::None;
    m_pixelTypeName.clear();
    if (m_sdk.deviceState(m_device, &state)) {
        layout = kwhost::layoutOfDeviceType(state.pixelType);
        bayer = bayerPatternOfDeviceType(state.pixelType);
        m_pixelTypeName = kwhost::deviceTypeName(state.pixelType);
        m_whiteBalance[0] = static_cast<int>(state.balanceRatioRed);
        m_whiteBalance[1] = static_cast<int>(state.balanceRatioGreen);
        m_whiteBalance[2] = static_cast<int>(state.balanceRatioBlue);
    }
    m_receiver.setDeviceFormat(layout, bayer);
    m_receiver.resetCounts();

    if (!camera->open(&m_receiver, error))
        return false;
    m_camera = std::move(camera);
    if (m_pixelTypeName.isEmpty()) {
        const ICameraObject* object = m_camera->object();
        m_pixelTypeName =
            kwhost::layoutName(kwhost::layoutOfPluginFormat(object->m_nPixelFormat, object->m_nBitsPerPixel)) +
            QStringLiteral(" (as the plug-in reports it)");
    }
    m_lostAtOpen = kwhost::sdkLosses(m_sdk, m_device);
    return true;
}

void CameraSession::close()
{
    if (!m_camera)
        return;
    // Stop before close: a camera that waits for a trigger is woken by the
    // stop, and once it returns the SDK runs no callback any more.
    m_camera->object()->IStopCamera();
    m_camera->object()->ICloseCamera();
    m_camera.reset();
    m_device = -1;
}

bool CameraSession::isGrabbing() const
{
    return m_camera && m_camera->object()->m_bGrabbing;
}

QString CameraSession::key() const
{
    return m_camera ? m_camera->key() : QString();
}

bool CameraSession::setTrigger(TriggerChoice trigger, QString* error)
{
    m_trigger = trigger;
    if (!isGrabbing())
        return true;
    stop();
    return start(error);
}

bool CameraSession::start(QString* error)
{
    if (!m_camera) {
        *error = QStringLiteral("no camera is open");
        return false;
    }
    if (isGrabbing())
        return true;
    m_camera->object()->m_nTriggerMode = kwhost::contractTriggerMode(m_trigger);
    if (!m_camera->object()->IStartCamera()) {
        *error = QStringLiteral("cannot start acquisition on %1").arg(m_camera->key());
        return false;
    }
    return true;
}

void CameraSession::stop()
{
    if (m_camera)
        m_camera->object()->IStopCamera();
}

void CameraSession::snap()
{
    if (m_camera)
        m_camera->object()->ISnapCamera();
}

bool CameraSession::canPulse() const
{
    return m_sdk.canPulse() && m_device >= 0;
}

bool CameraSession::pulseLine0()
{
    return m_camera && m_sdk.pulseLine0(m_device);
}

namespace {

bool sendProperty(kwhost::Camera* camera, int id, int value, const Bounds& bounds, const char* what, int* applied,
                  QString* error)
{
    if (camera == nullptr) {
        *error = QStringLiteral("no camera is open");
        return false;
    }
    if (!kwhost::setBounded(camera->object(), id, value, bounds, applied)) {
        *error = QStringLiteral("the camera refused %1 %2").arg(QLatin1String(what)).arg(*applied);
        return false;
    }
    return true;
}

}  // namespace

bool CameraSession::setExposure(int microseconds, QString* error)
{
    int value = 0;
    if (!sendProperty(m_camera.get(), CameraPropertyExposureTime, microseconds, m_exposure, "exposure", &value, error))
        return false;
    m_exposure.value = static_cast<float>(value);
    return true;
}

bool CameraSession::setGain(int decibels, QString* error)
{
    int value = 0;
    if (!sendProperty(m_camera.get(), CameraPropertyGain, decibels, m_gain, "gain", &value, error))
        return false;
    m_gain.value = static_cast<float>(value);
    return true;
}

bool CameraSession::setWhiteBalance(int channel, int ratio, QString* error)
{
    static const int ids[3] = {CameraPropertyBalanceRatioRed, CameraPropertyBalanceRatioGreen,
                               CameraPropertyBalanceRatioBlue};
    if (channel < 0 || channel > 2) {
        *error = QStringLiteral("no white-balance channel %1").arg(channel);
        return false;
    }
    Bounds ratios;
    ratios.known = true;
    ratios.max = static_cast<float>(kwhost::kMaxWhiteBalance);
    int value = 0;
    if (!sendProperty(m_camera.get(), ids[channel], ratio, ratios, "white-balance ratio", &value, error))
        return false;
    m_whiteBalance[channel] = value;
    return true;
}

int CameraSession::whiteBalance(int channel) const
{
    return channel >= 0 && channel < 3 ? m_whiteBalance[channel] : 0;
}

kwhost::Losses CameraSession::lostFrames() const
{
    if (!m_camera)
        return kwhost::Losses();
    const kwhost::Losses sdk = kwhost::sdkLosses(m_sdk, m_device);
    if (sdk.source != kwhost::Losses::Source::Unknown)
        return sdk.since(m_lostAtOpen);
    // Counted from open on already.
    return m_receiver.stamped() ? kwhost::lossesFromFrameNumbers(m_receiver.stampGaps()) : kwhost::Losses();
}

}  // namespace kwview
