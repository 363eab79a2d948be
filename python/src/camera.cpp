#include "camera.h"

#include <QtCore/QVariantList>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "cameraobject.h"
#include "kwhost/framestamp.h"
#include "kwhost/property.h"
#include "mvsim/control.h"
#include "session.h"

namespace kwpy {

namespace {

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

QString withReasons(const QString& what, const LogCapture& log)
{
    const QString reasons = log.reasons();
    return reasons.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, reasons);
}

const char* triggerWord(kwhost::TriggerChoice trigger)
{
    switch (trigger) {
    case kwhost::TriggerChoice::Hardware:
        return "hardware";
    case kwhost::TriggerChoice::Software:
        return "software";
    case kwhost::TriggerChoice::Free:
        break;
    }
    return "free-running";
}

// The SDK's codes: ExposureAuto 0 off, 1 once, 2 continuous;
// BalanceWhiteAuto 0 off, 1 continuous, 2 once.
QString autoMode(unsigned int mode, bool whiteBalance)
{
    if (mode == 0)
        return QStringLiteral("off");
    if (mode == (whiteBalance ? 2u : 1u))
        return QStringLiteral("once");
    if (mode == (whiteBalance ? 1u : 2u))
        return QStringLiteral("continuous");
    return QStringLiteral("mode %1").arg(mode);
}

}  // namespace

CameraCore::CameraCore(const kwhost::Plugin& plugin, const QString& key, kwhost::TriggerChoice trigger, int buffers)
    : m_plugin(plugin), m_key(key), m_config(kwhost::emptyConfig()), m_trigger(trigger)
{
    // The SDK's own handle first: once the plug-in's object holds the
    // device, no other handle may open it.
    QString error;
    m_reportKnown = kwhost::readDevice(key, &m_report, &error);
    m_device = m_sdk.findDevice(key);

    m_config.strCameraKey = key;
    {
        LogCapture log;
        m_object.reset(new kwhost::CameraObject(plugin, &m_config, this));
        if (!*m_object) {
            m_object.reset();
            throw HostFailure(QStringLiteral("the plug-in made no camera object for %1").arg(key));
        }
        if (!(*m_object)->IOpenCamera()) {
            m_object.reset();
            throw HostFailure(withReasons(QStringLiteral("cannot open camera %1").arg(key), log));
        }
    }

    // The true layout comes from the device's pixel type; where the SDK
    // cannot tell it, as the plug-in announces such types: 8-bit grey.
    MvsimDeviceState state;
    const bool haveState = m_sdk.deviceState(m_device, &state);
    unsigned int pixelType = 0;
    if (m_reportKnown && m_report.pixelKnown)
        pixelType = m_report.pixel.nCurValue;
    else if (haveState)
        pixelType = state.pixelType;
    m_layout = pixelType != 0 ? kwhost::layoutOfDeviceType(pixelType) : kwhost::PixelLayout::Unknown;
    if (m_layout == kwhost::PixelLayout::Unknown)
        m_layout = kwhost::PixelLayout::Gray8;
    m_pixelTypeName = pixelType != 0 ? kwhost::deviceTypeName(pixelType) : QStringLiteral("Mono8");
    m_width = (*m_object)->m_nWidth;
    m_height = (*m_object)->m_nHeight;
    if (m_width <= 0 || m_height <= 0) {
        m_object.reset();
        throw HostFailure(QStringLiteral("camera %1 reports no frame size").arg(key));
    }
    if (m_reportKnown && m_report.exposureKnown)
        m_exposure = m_report.exposure.fCurValue;
    if (m_reportKnown && m_report.gainKnown)
        m_gain = m_report.gain.fCurValue;

    const size_t bytes = static_cast<size_t>(m_width) * static_cast<size_t>(m_height) *
        static_cast<size_t>(kwhost::bytesPerPixel(m_layout));
    const size_t slots = static_cast<size_t>(buffers) + 1;  // one more: the slot being written
    try {
        m_ring = std::make_shared<FrameRing>(slots, std::make_shared<BufferPool>(bytes, slots));
    } catch (const std::bad_alloc&) {
        m_object.reset();
        throw HostFailure(QStringLiteral("no memory for %1 frame buffers of %2 bytes").arg(slots).arg(bytes));
    }
    m_lossesAtOpen = kwhost::sdkLosses(m_sdk, m_device);
    m_deviceLostSeen = m_lossesAtOpen.lost;
}

CameraCore::~CameraCore()
{
    close();
}

void CameraCore::OnImageReady(ICameraObject* camera)
{
    if (camera == nullptr || camera->m_pImageData == nullptr)
        return;
    // Nothing may leave for the SDK's C code; a frame that fails is lost.
    try {
        receive(camera);
    } catch (...) {}
}

void CameraCore::receive(ICameraObject* camera)
{
    // The members describe this frame during this call only.
    FrameMeta meta;
    meta.timestampNs = monotonicNs();
    meta.width = camera->m_nWidth;
    meta.height = camera->m_nHeight;
    const quint64 arrived = m_arrived.fetch_add(1, std::memory_order_relaxed) + 1;
    m_pluginFormat.store(camera->m_nPixelFormat, std::memory_order_relaxed);
    m_pluginBits.store(camera->m_nBitsPerPixel, std::memory_order_relaxed);
    if (meta.width <= 0 || meta.height <= 0)
        return;
    meta.bytes = static_cast<size_t>(meta.width) * static_cast<size_t>(meta.height) *
        static_cast<size_t>(kwhost::bytesPerPixel(m_layout));
    quint32 stamped = 0;
    meta.number = kwhost::readFrameStamp(camera->m_pImageData, meta.bytes, &stamped) ? stamped : arrived;
    m_ring->push(camera->m_pImageData, meta);
}

void CameraCore::requireOpen() const
{
    if (isClosed())
        throw HostFailure(QStringLiteral("camera %1 is closed").arg(m_key));
}

void CameraCore::start()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    startLocked();
}

void CameraCore::startLocked()
{
    if (m_grabbing.load(std::memory_order_relaxed))
        return;
    // No callback runs while stopped: what the ring still holds is of the
    // acquisition before.
    m_ring->clear();
    {
        std::lock_guard<std::mutex> lossLock(m_lossMutex);
        m_deviceLostSeen = kwhost::sdkLosses(m_sdk, m_device).lost;
    }
    (*m_object)->m_nTriggerMode = kwhost::contractTriggerMode(m_trigger);
    LogCapture log;
    if (!(*m_object)->IStartCamera())
        throw HostFailure(withReasons(QStringLiteral("cannot start camera %1").arg(m_key), log));
    m_grabbing.store(true, std::memory_order_release);
}

void CameraCore::stop()
{
    std::lock_guard<std::mutex> lock(m_control);
    if (isClosed())
        return;
    stopLocked();
    // A grab waiting for a frame would wait for ever now.
    m_ring->stopped();
}

void CameraCore::stopLocked()
{
    if (!m_grabbing.load(std::memory_order_relaxed))
        return;
    // Returns once no callback runs any more.
    (*m_object)->IStopCamera();
    m_grabbing.store(false, std::memory_order_release);
}

void CameraCore::close()
{
    std::lock_guard<std::mutex> lock(m_control);
    if (m_closed.exchange(true, std::memory_order_acq_rel))
        return;
    // The ring first: a consumer waiting for a frame wakes now, and a frame
    // arriving meanwhile is not taken.
    if (m_ring)
        m_ring->close();
    stopLocked();
    // Deleting the object closes the camera; the callback (this) outlives it.
    m_object.reset();
}

quint64 CameraCore::takeDeviceLosses()
{
    std::lock_guard<std::mutex> lock(m_lossMutex);
    const quint64 total = kwhost::sdkLosses(m_sdk, m_device).lost;
    if (total < m_deviceLostSeen)
        return 0;
    const quint64 lost = total - m_deviceLostSeen;
    m_deviceLostSeen = total;
    return lost;
}

Losses CameraCore::lost()
{
    Losses losses;
    losses.ringFull = m_ring->dropped();
    losses.tooLarge = m_ring->tooLarge();
    // Counted since the device was added: those before this camera opened
    // it are not this camera's.
    losses.device = kwhost::sdkLosses(m_sdk, m_device).since(m_lossesAtOpen);
    return losses;
}

double CameraCore::exposure()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    MvsimDeviceState state;
    if (m_sdk.deviceState(m_device, &state))
        return state.exposure;
    return m_exposure;
}

Range CameraCore::exposureRange()
{
    MvsimDeviceState state;
    Range range;
    if (m_sdk.deviceState(m_device, &state)) {
        range.known = true;
        range.min = state.exposureMin;
        range.max = state.exposureMax;
    } else if (m_reportKnown && m_report.exposureKnown) {
        range.known = true;
        range.min = m_report.exposure.fMin;
        range.max = m_report.exposure.fMax;
    }
    return range;
}

double CameraCore::gain()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    MvsimDeviceState state;
    if (m_sdk.deviceState(m_device, &state))
        return state.gain;
    return m_gain;
}

Range CameraCore::gainRange()
{
    MvsimDeviceState state;
    Range range;
    if (m_sdk.deviceState(m_device, &state)) {
        range.known = true;
        range.min = state.gainMin;
        range.max = state.gainMax;
    } else if (m_reportKnown && m_report.gainKnown) {
        range.known = true;
        range.min = m_report.gain.fMin;
        range.max = m_report.gain.fMax;
    }
    return range;
}

// Exposure and gain reach the plug-in as the contract's whole numbers.
void CameraCore::setWhole(const char* name, int propertyId, double value, const Range& range, const char* unit)
{
    if (!std::isfinite(value) || value != std::floor(value) || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max())
        throw ValueFailure(QStringLiteral("%1 %2 is not a whole number of %3 (the plug-in takes whole numbers)")
                               .arg(QLatin1String(name), number(value), QLatin1String(unit)));
    if (range.known && (value < range.min || value > range.max))
        throw ValueFailure(
            QStringLiteral("%1 %2 %3 is out of range: the camera takes %4 to %5 %3")
                .arg(QLatin1String(name), number(value), QLatin1String(unit), number(range.min), number(range.max)));
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = propertyId;
    property.nValue = static_cast<int>(value);
    LogCapture log;
    if (!(*m_object)->ISetProperty(&property))
        throw HostFailure(withReasons(QStringLiteral("%1 = %2: refused").arg(QLatin1String(name), number(value)), log));
}

void CameraCore::setExposure(double value)
{
    const Range range = exposureRange();
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    setWhole("exposure", CameraPropertyExposureTime, value, range, "us");
    m_exposure = value;
}

void CameraCore::setGain(double value)
{
    const Range range = gainRange();
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    setWhole("gain", CameraPropertyGain, value, range, "dB");
    m_gain = value;
}

bool CameraCore::whiteBalance(unsigned int ratios[3])
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    MvsimDeviceState state;
    if (m_sdk.deviceState(m_device, &state)) {
        ratios[0] = state.balanceRatioRed;
        ratios[1] = state.balanceRatioGreen;
        ratios[2] = state.balanceRatioBlue;
        return true;
    }
    memcpy(ratios, m_whiteBalance, sizeof m_whiteBalance);
    return m_whiteBalanceSet;
}

void CameraCore::setWhiteBalance(const long long ratios[3])
{
    static const char* const kNames[3] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        if (ratios[i] < 0 || ratios[i] > kwhost::kMaxWhiteBalance)
            throw ValueFailure(QStringLiteral("white balance %1 ratio %2 is out of range: the camera takes 0 to %3")
                                   .arg(QLatin1String(kNames[i]))
                                   .arg(ratios[i])
                                   .arg(kwhost::kMaxWhiteBalance));
    }
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    const int ids[3] = {CameraPropertyBalanceRatioRed, CameraPropertyBalanceRatioGreen, CameraPropertyBalanceRatioBlue};
    for (int i = 0; i < 3; ++i) {
        tagQZ_CAMERA_PROPERTY property;
        property.nPropertyId = ids[i];
        property.nValue = static_cast<int>(ratios[i]);
        LogCapture log;
        if (!(*m_object)->ISetProperty(&property))
            throw HostFailure(withReasons(
                QStringLiteral("white balance %1 = %2: refused").arg(QLatin1String(kNames[i])).arg(ratios[i]), log));
        m_whiteBalance[i] = static_cast<unsigned int>(ratios[i]);
    }
    m_whiteBalanceSet = true;
}

kwhost::TriggerChoice CameraCore::trigger()
{
    std::lock_guard<std::mutex> lock(m_control);
    return m_trigger;
}

void CameraCore::setTrigger(kwhost::TriggerChoice trigger)
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    if (trigger == m_trigger)
        return;
    // The plug-in puts a trigger mode into effect when it starts.
    const bool restart = m_grabbing.load(std::memory_order_relaxed);
    stopLocked();
    m_trigger = trigger;
    if (restart)
        startLocked();
}

void CameraCore::snap()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    if (m_trigger != kwhost::TriggerChoice::Software)
        throw HostFailure(QStringLiteral("snap() needs trigger 'software'; camera %1 runs '%2'")
                              .arg(m_key, QLatin1String(triggerWord(m_trigger))));
    startLocked();
    (*m_object)->ISnapCamera();
}

void CameraCore::pulse()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    if (m_trigger != kwhost::TriggerChoice::Hardware)
        throw HostFailure(QStringLiteral("pulse() needs trigger 'hardware'; camera %1 runs '%2'")
                              .arg(m_key, QLatin1String(triggerWord(m_trigger))));
    if (!m_sdk.canPulse())
        throw HostFailure(QStringLiteral("the SDK %1 offers no line-0 pulse (the simulator does)").arg(loadedSdk()));
    startLocked();
    if (!m_sdk.pulseLine0(m_device))
        throw HostFailure(
            QStringLiteral("the line-0 pulse triggered no frame (camera %1 was exposing, or is not armed)").arg(m_key));
}

QVariantMap CameraCore::info()
{
    std::lock_guard<std::mutex> lock(m_control);
    requireOpen();
    QVariantMap info;
    info[QStringLiteral("camera")] = m_key;
    info[QStringLiteral("plugin")] = m_plugin.fileName();
    info[QStringLiteral("sdk")] = loadedSdk();
    info[QStringLiteral("transport")] = m_reportKnown ? QVariant(m_report.transport) : QVariant();
    info[QStringLiteral("width")] = m_width;
    info[QStringLiteral("height")] = m_height;
    if (m_reportKnown && m_report.widthKnown && m_report.heightKnown) {
        info[QStringLiteral("width_range")] = QVariantList{m_report.width.nMin, m_report.width.nMax};
        info[QStringLiteral("height_range")] = QVariantList{m_report.height.nMin, m_report.height.nMax};
    }
    info[QStringLiteral("pixel_type")] = m_pixelTypeName;
    if (m_reportKnown && m_report.pixelKnown) {
        QVariantList supported;
        for (unsigned int i = 0; i < m_report.pixel.nSupportedNum && i < 64; ++i)
            supported << kwhost::deviceTypeName(m_report.pixel.nSupportValue[i]);
        info[QStringLiteral("pixel_types")] = supported;
    }
    info[QStringLiteral("layout")] = kwhost::layoutName(m_layout);
    if (m_arrived.load(std::memory_order_relaxed) > 0) {
        const int format = m_pluginFormat.load(std::memory_order_relaxed);
        const QString name = CameraPixelFormatNames.value(static_cast<CameraPixelFormat>(format));
        info[QStringLiteral("plugin_format")] = name.isEmpty() ? QStringLiteral("code %1").arg(format) : name;
        info[QStringLiteral("plugin_bits")] = m_pluginBits.load(std::memory_order_relaxed);
    }
    MvsimDeviceState state;
    const bool haveState = m_sdk.deviceState(m_device, &state);
    info[QStringLiteral("exposure")] = haveState ? QVariant(static_cast<double>(state.exposure)) : QVariant(m_exposure);
    info[QStringLiteral("gain")] = haveState ? QVariant(static_cast<double>(state.gain)) : QVariant(m_gain);
    info[QStringLiteral("trigger")] = QLatin1String(triggerWord(m_trigger));
    if (haveState) {
        info[QStringLiteral("exposure_auto")] = autoMode(state.exposureAuto, false);
        info[QStringLiteral("white_balance_auto")] = autoMode(state.balanceWhiteAuto, true);
        info[QStringLiteral("white_balance")] =
            QVariantList{state.balanceRatioRed, state.balanceRatioGreen, state.balanceRatioBlue};
        info[QStringLiteral("trigger_mode")] = state.triggerMode != 0 ? QStringLiteral("on") : QStringLiteral("off");
        info[QStringLiteral("trigger_source")] = state.triggerSource == MVSIM_TRIGGER_SOURCE_SOFTWARE
            ? QStringLiteral("software")
            : state.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0 ? QStringLiteral("line 0")
                                                                : QStringLiteral("code %1").arg(state.triggerSource);
    }
    MvsimDeviceTiming timing;
    if (m_sdk.deviceTiming(m_device, &timing)) {
        QVariantMap t;
        t[QStringLiteral("frame_rate")] = timing.frameRate;
        t[QStringLiteral("line_pulse_rate")] = timing.linePulseRate;
        t[QStringLiteral("bandwidth_mbps")] = timing.bandwidthMBps;
        t[QStringLiteral("buffers")] = timing.bufferCount;
        t[QStringLiteral("instant")] = timing.instantTiming != 0;
        info[QStringLiteral("timing")] = t;
    }
    return info;
}

}  // namespace kwpy
