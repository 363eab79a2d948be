#include "camerafeed.h"

#include <gst/video/video.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "framepool.h"
#include "hostsetup.h"
#include "kwhost/camera.h"
#include "kwhost/framestamp.h"
#include "kwhost/plugin.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/sdkdevice.h"
#include "kwhost/trigger.h"
#include "mvsim/control.h"
#include "qtlog.h"

namespace kwgst {

namespace {

using Clock = std::chrono::steady_clock;

// Buffers beyond the queue's: one with the streaming thread and a few held
// downstream (a converter, an encoder) before frames are dropped.
const unsigned int kBuffersBeyondQueue = 4;

// How often a wait without frames looks whether the camera is still there.
const auto kPresenceInterval = std::chrono::milliseconds(200);

kwhost::TriggerChoice hostTrigger(Trigger trigger)
{
    switch (trigger) {
    case Trigger::Software:
        return kwhost::TriggerChoice::Software;
    case Trigger::Hardware:
        return kwhost::TriggerChoice::Hardware;
    case Trigger::FreeRunning:
        break;
    }
    return kwhost::TriggerChoice::Free;
}

// The device pixel type behind the plug-in's report, for SDKs that cannot
// tell the device's own.
unsigned int pixelTypeOfPluginFormat(int format)
{
    switch (format) {
    case CameraPixelFormatGray16:
        return 0x01100007u;
    case CameraPixelFormatRgb24:
        return 0x02180014u;
    case CameraPixelFormatRgb32:
        return 0x02200016u;
    default:
        return 0x01080001u;
    }
}

}  // namespace

CameraFeed::CameraFeed()
{
    sem_init(&m_ready, 0, 0);
}

CameraFeed::~CameraFeed()
{
    close();
    sem_destroy(&m_ready);
}

CameraFeed::Failure CameraFeed::open(const FeedSettings& settings, QString* error)
{
    close();
    const kwhost::Plugin* plugin = loadHost(settings.sdk, settings.plugin, error);
    if (plugin == nullptr)
        return Failure::Settings;
    m_pluginFile = plugin->fileName();
    m_sdk = std::make_unique<kwhost::SdkControl>();

    auto camera = std::make_unique<kwhost::Camera>(*plugin);
    const bool byPart = !settings.camera.trimmed().isEmpty();
    if (!camera->select(settings.camera, error, byPart)) {
        *error = QStringLiteral("camera '%1': %2").arg(settings.camera, *error);
        return Failure::NotFound;
    }
    m_key = camera->key();
    m_device = m_sdk->findDevice(m_key);

    // The device's own pixel type where the SDK tells it: the plug-in
    // reports every type it does not know as 8-bit grey. The simulator's
    // state, else the SDK's getters, which need the device not yet open.
    unsigned int pixelType = 0, width = 0, height = 0;
    MvsimDeviceState state;
    if (m_sdk->deviceState(m_device, &state)) {
        pixelType = state.pixelType;
        width = state.width;
        height = state.height;
    } else {
        kwhost::DeviceReport report;
        QString ignored;
        if (kwhost::readDevice(m_key, &report, &ignored)) {
            if (report.pixelKnown)
                pixelType = report.pixel.nCurValue;
            if (report.widthKnown)
                width = report.width.nCurValue;
            if (report.heightKnown)
                height = report.height.nCurValue;
        }
    }

    {
        WarningCapture capture;
        if (!camera->open(this, error)) {
            QString reason = capture.last();
            // The plug-in logs no SDK code: the SDK, asked directly, tells
            // why the device does not open.
            kwhost::DeviceReport report;
            QString sdkReason;
            if (m_sdk->deviceState(m_device, &state) && !state.present)
                reason = QStringLiteral("the camera is gone");
            else if (!kwhost::readDevice(m_key, &report, &sdkReason))
                reason = reason.isEmpty() ? sdkReason : QStringLiteral("%1 (%2)").arg(reason, sdkReason);
            *error =
                QStringLiteral("%1: %2").arg(*error, reason.isEmpty() ? QStringLiteral("no reason given") : reason);
            return Failure::Open;
        }
    }
    if (pixelType == 0)
        pixelType = pixelTypeOfPluginFormat(camera->object()->m_nPixelFormat);
    if (width == 0 || height == 0) {
        width = static_cast<unsigned int>(camera->object()->m_nWidth);
        height = static_cast<unsigned int>(camera->object()->m_nHeight);
    }

    std::string formatError;
    if (!frameFormatOf(pixelType, width, height, &m_format, &formatError)) {
        *error = QStringLiteral("camera %1: %2").arg(m_key, QString::fromStdString(formatError));
        return Failure::Format;
    }

    const struct {
        const char* name;
        int id;
        int value;
    } properties[] = {{"exposure", CameraPropertyExposureTime, settings.exposure},
                      {"gain", CameraPropertyGain, settings.gain}};
    for (const auto& p : properties) {
        if (p.value < 0)
            continue;
        tagQZ_CAMERA_PROPERTY property{p.id, p.value};
        WarningCapture capture;
        if (!camera->object()->ISetProperty(&property)) {
            *error = QStringLiteral("camera %1 refused %2 = %3: %4")
                         .arg(m_key, QLatin1String(p.name))
                         .arg(p.value)
                         .arg(capture.last().isEmpty() ? QStringLiteral("no reason given") : capture.last());
            gst_caps_replace(&m_format.caps, nullptr);
            return Failure::Settings;
        }
    }
    camera->object()->m_nTriggerMode = kwhost::contractTriggerMode(hostTrigger(settings.trigger));
    m_ring.assign(settings.queueSize, Frame());
    m_head.store(0);
    m_tail.store(0);

    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_camera = std::move(camera);
    return Failure::None;
}

bool CameraFeed::start(QString* error)
{
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    if (m_camera == nullptr) {
        *error = QStringLiteral("no camera is open");
        return false;
    }
    if (m_pool == nullptr) {
        // Every buffer is allocated here, none on the SDK's thread.
        const unsigned int count = static_cast<unsigned int>(m_ring.size()) + kBuffersBeyondQueue;
        GstBufferPool* pool = newFramePool();
        GstStructure* config = gst_buffer_pool_get_config(pool);
        gst_buffer_pool_config_set_params(config, m_format.caps, static_cast<guint>(m_format.bufferSize), count, count);
        if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
            gst_object_unref(pool);
            *error = QStringLiteral("cannot allocate %1 buffers of %2 bytes").arg(count).arg(m_format.bufferSize);
            return false;
        }
        m_pool = pool;
    }
    if (m_camera->object()->m_bGrabbing)
        return true;
    WarningCapture capture;
    if (m_camera->object()->IStartCamera() != 1) {
        *error = QStringLiteral("cannot start camera %1: %2")
                     .arg(m_key, capture.last().isEmpty() ? QStringLiteral("no reason given") : capture.last());
        return false;
    }
    return true;
}

void CameraFeed::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_cameraMutex);
        // Once IStopCamera returns the SDK runs no callback: the pool and the
        // queue are the streaming thread's alone.
        if (m_camera != nullptr && m_camera->object()->m_bGrabbing)
            m_camera->object()->IStopCamera();
    }
    drainQueue();
    if (m_pool != nullptr) {
        // Buffers still downstream are freed when they come back.
        gst_buffer_pool_set_active(m_pool, FALSE);
        gst_object_unref(m_pool);
        m_pool = nullptr;
    }
}

void CameraFeed::close()
{
    stop();
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_camera.reset();
    gst_caps_replace(&m_format.caps, nullptr);
    m_format = FrameFormat();
}

void CameraFeed::drainQueue()
{
    Frame frame;
    while (take(&frame))
        gst_buffer_unref(frame.buffer);
    while (sem_trywait(&m_ready) == 0) {}
}

bool CameraFeed::take(Frame* frame)
{
    const uint64_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_tail.load(std::memory_order_acquire))
        return false;
    Frame& slot = m_ring[head % m_ring.size()];
    *frame = slot;
    slot = Frame();
    // Release: the callback may reuse the slot once it sees the new head.
    m_head.store(head + 1, std::memory_order_release);
    return true;
}

CameraFeed::Wait CameraFeed::next(Frame* frame)
{
    for (int round = 0;; ++round) {
        if (m_flushing.load(std::memory_order_acquire))
            return Wait::Flushing;
        if (take(frame)) {
            sem_trywait(&m_ready);  // the frame's own wake-up, when not yet taken
            return Wait::Frame;
        }
        if (round > 0) {
            if (m_flushing.load(std::memory_order_acquire))
                return Wait::Flushing;
            return devicePresent() ? Wait::Idle : Wait::Gone;
        }
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        const long long ns = deadline.tv_nsec + std::chrono::nanoseconds(kPresenceInterval).count();
        deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
        deadline.tv_nsec = static_cast<long>(ns % 1000000000);
        // A frame or a flush ends the wait early; then look again.
        while (sem_clockwait(&m_ready, CLOCK_MONOTONIC, &deadline) != 0) {
            if (errno != EINTR)
                break;
        }
    }
}

void CameraFeed::setFlushing(bool flushing)
{
    m_flushing.store(flushing, std::memory_order_release);
    if (flushing)
        sem_post(&m_ready);
}

bool CameraFeed::devicePresent() const
{
    MvsimDeviceState state;
    // Over an SDK that cannot tell, the time-out is what finds a lost camera.
    return !(m_sdk != nullptr && m_sdk->deviceState(m_device, &state) && !state.present);
}

bool CameraFeed::snap()
{
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    if (m_camera == nullptr || !m_camera->object()->m_bGrabbing)
        return false;
    m_camera->object()->ISnapCamera();
    return true;
}

bool CameraFeed::canPulse() const
{
    return m_sdk != nullptr && m_sdk->canPulse();
}

bool CameraFeed::pulse()
{
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    return m_camera != nullptr && m_sdk->pulseLine0(m_device);
}

void CameraFeed::OnImageReady(ICameraObject* pCamera)
{
    const int64_t arrival =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    if (m_inCallback.test_and_set(std::memory_order_acquire)) {
        drop();
        return;
    }
    if (!copyFrame(pCamera, arrival))
        drop();
    m_inCallback.clear(std::memory_order_release);
}

bool CameraFeed::copyFrame(ICameraObject* pCamera, int64_t arrival)
{
    const unsigned char* data = pCamera->m_pImageData;
    const size_t rowBytes = m_format.rowBytes;
    const size_t frameBytes = rowBytes * m_format.height;
    // A frame of another size than the caps say cannot go downstream.
    if (data == nullptr || m_pool == nullptr || static_cast<unsigned int>(pCamera->m_nWidth) != m_format.width ||
        static_cast<unsigned int>(pCamera->m_nHeight) != m_format.height)
        return false;
    const uint64_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail - m_head.load(std::memory_order_acquire) >= m_ring.size())
        return false;
    GstBuffer* buffer = nullptr;
    GstBufferPoolAcquireParams params = {};
    params.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT;
    if (gst_buffer_pool_acquire_buffer(m_pool, &buffer, &params) != GST_FLOW_OK)
        return false;

    // The one copy: the SDK reuses its buffer once this call returns.
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return false;
    }
    if (m_format.stride == rowBytes) {
        memcpy(map.data, data, frameBytes);
    } else {
        for (unsigned int y = 0; y < m_format.height; ++y)
            memcpy(map.data + y * m_format.stride, data + y * rowBytes, rowBytes);
    }
    gst_buffer_unmap(buffer, &map);

    uint32_t number = 0;
    if (!kwhost::readFrameStamp(data, frameBytes, &number))
        number = static_cast<uint32_t>(pCamera->m_nFrameCount);
    GST_BUFFER_OFFSET(buffer) = number;
    GST_BUFFER_OFFSET_END(buffer) = static_cast<guint64>(number) + 1;

    m_ring[tail % m_ring.size()] = Frame{buffer, arrival};
    // Release: the streaming thread sees the frame whole once it sees the tail.
    m_tail.store(tail + 1, std::memory_order_release);
    m_delivered.fetch_add(1, std::memory_order_relaxed);
    sem_post(&m_ready);
    return true;
}

}  // namespace kwgst
