#include "camerasession.h"

namespace kwview {

CameraSession::CameraSession(const kwhost::Plugin& plugin) : m_plugin(plugin), m_host(plugin)
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
    if (!m_host.choose(kwhost::HostOptions(), key, error))
        return false;
    const kwhost::SdkControl& sdk = m_host.sdk();
    MvsimDeviceState state;
    BayerPattern bayer = BayerPattern::None;
    m_pixelTypeName.clear();
    if (sdk.deviceState(m_host.device(), &state)) {
        bayer = bayerPatternOfDeviceType(state.pixelType);
        m_pixelTypeName = kwhost::deviceTypeName(state.pixelType);
        m_whiteBalance[0] = static_cast<int>(state.balanceRatioRed);
        m_whiteBalance[1] = static_cast<int>(state.balanceRatioGreen);
        m_whiteBalance[2] = static_cast<int>(state.balanceRatioBlue);
    }
    m_receiver.setDeviceFormat(m_host.deviceLayout(), bayer);
    m_receiver.resetCounts();

    if (!m_host.open(&m_receiver, error))
        return false;
    if (m_pixelTypeName.isEmpty())
        m_pixelTypeName = kwhost::layoutName(m_host.layout()) + QStringLiteral(" (as the plug-in reports it)");
    m_lostAtOpen = kwhost::sdkLosses(sdk, m_host.device());
    return true;
}

void CameraSession::close()
{
    m_host.close();
}

bool CameraSession::isOpen() const
{
    return m_host.isOpen();
}

bool CameraSession::isGrabbing() const
{
    return m_host.isGrabbing();
}

QString CameraSession::key() const
{
    return isOpen() ? m_host.key() : QString();
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
    return m_host.start(m_trigger, error);
}

void CameraSession::stop()
{
    m_host.stop();
}

void CameraSession::snap()
{
    if (ICameraObject* camera = m_host.object())
        camera->ISnapCamera();
}

bool CameraSession::canPulse() const
{
    return m_host.canPulse();
}

bool CameraSession::pulseLine0()
{
    return isOpen() && m_host.sdk().pulseLine0(m_host.device());
}

bool CameraSession::setExposure(int microseconds, QString* error)
{
    int value = 0;
    if (m_host.setExposure(microseconds, &value))
        return true;
    *error =
        isOpen() ? QStringLiteral("the camera refused exposure %1").arg(value) : QStringLiteral("no camera is open");
    return false;
}

bool CameraSession::setGain(int decibels, QString* error)
{
    int value = 0;
    if (m_host.setGain(decibels, &value))
        return true;
    *error = isOpen() ? QStringLiteral("the camera refused gain %1").arg(value) : QStringLiteral("no camera is open");
    return false;
}

bool CameraSession::setWhiteBalance(int channel, int ratio, QString* error)
{
    static const int ids[3] = {CameraPropertyBalanceRatioRed, CameraPropertyBalanceRatioGreen,
                               CameraPropertyBalanceRatioBlue};
    if (channel < 0 || channel > 2) {
        *error = QStringLiteral("no white-balance channel %1").arg(channel);
        return false;
    }
    kwhost::Limits ratios;
    ratios.known = true;
    ratios.max = static_cast<float>(kwhost::kMaxWhiteBalance);
    int value = 0;
    if (!kwhost::setBounded(m_host.object(), ids[channel], ratio, ratios, &value)) {
        *error = isOpen() ? QStringLiteral("the camera refused white-balance ratio %1").arg(value)
                          : QStringLiteral("no camera is open");
        return false;
    }
    m_whiteBalance[channel] = value;
    return true;
}

int CameraSession::whiteBalance(int channel) const
{
    return channel >= 0 && channel < 3 ? m_whiteBalance[channel] : 0;
}

kwhost::Losses CameraSession::lostFrames() const
{
    if (!isOpen())
        return kwhost::Losses();
    const kwhost::Losses sdk = kwhost::sdkLosses(m_host.sdk(), m_host.device());
    if (sdk.source != kwhost::Losses::Source::Unknown)
        return sdk.since(m_lostAtOpen);
    // Counted from open on already.
    return m_receiver.stamped() ? kwhost::lossesFromFrameNumbers(m_receiver.stampGaps()) : kwhost::Losses();
}

}  // namespace kwview
