#include "framereceiver.h"

#include <cstring>
#include <limits>

namespace kwcam {

FrameReceiver::FrameReceiver(quint64 target, kwhost::PixelLayout deviceLayout, SaveMode saveMode,
                             const kwhost::SelfPipe& wakeup, kwhost::FrameWriter* writer)
    : m_target(target == 0 ? std::numeric_limits<quint64>::max() : target), m_deviceLayout(deviceLayout),
      m_saveMode(saveMode), m_wakeup(wakeup), m_writer(writer)
{}

void FrameReceiver::OnImageReady(ICameraObject* pCamera)
{
    // Only this thread writes the count; the target is met exactly once.
    const quint64 count = m_frames.load(std::memory_order_relaxed);
    if (pCamera == nullptr || count >= m_target)
        return;

    measureInterval();

    const kwhost::HostFrame frame = kwhost::readFrame(pCamera, m_deviceLayout);
    const int width = frame.width;
    const int height = frame.height;
    const kwhost::PixelLayout layout = frame.layout;
    const unsigned char* data = frame.data;
    const quint64 frameBytes = frame.bytes;

    kwhost::HostFrame& last = m_stats.last;
    if (m_stats.frames > 0 && (width != last.width || height != last.height || frame.pluginFormat != last.pluginFormat))
        m_stats.geometryChanged = true;
    last = frame;
    last.data = nullptr;  // gone once the call returns

    const bool stamped = frame.stamped;
    const quint32 stampNumber = frame.number;
    m_stats.numbers.add(stamped, stampNumber);
    m_missing.store(m_stats.numbers.missing(), std::memory_order_relaxed);
    m_numbered.store(m_stats.numbers.numbered(), std::memory_order_relaxed);
    const quint64 number = stamped ? stampNumber : count + 1;

    if (m_saveMode == SaveMode::LastFrame && frameBytes > 0) {
        m_lastBytes.resize(frameBytes);
        memcpy(m_lastBytes.data(), data, frameBytes);
        m_lastImage.data = m_lastBytes.data();
        m_lastImage.width = width;
        m_lastImage.height = height;
        m_lastImage.layout = layout;
        m_lastNumber = number;
    } else if (m_saveMode == SaveMode::EveryFrame && m_writer != nullptr && frameBytes > 0) {
        kwhost::FrameImage image;
        image.data = data;
        image.width = width;
        image.height = height;
        image.layout = layout;
        m_writer->offer(image, number);  // a full queue costs this frame, not the SDK's time
    }

    ++m_stats.frames;
    m_stats.bytes += frameBytes;
    m_bytes.store(m_stats.bytes, std::memory_order_relaxed);
    // Release: whoever sees the count sees the statistics of these frames.
    m_frames.store(count + 1, std::memory_order_release);
    if (count + 1 == m_target)
        m_wakeup.notify();
}

void FrameReceiver::measureInterval()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_havePrevious) {
        const double ms = std::chrono::duration<double, std::milli>(now - m_previousArrival).count();
        if (m_stats.intervals == 0 || ms < m_stats.minIntervalMs)
            m_stats.minIntervalMs = ms;
        if (m_stats.intervals == 0 || ms > m_stats.maxIntervalMs)
            m_stats.maxIntervalMs = ms;
        m_stats.sumIntervalMs += ms;
        ++m_stats.intervals;
    }
    m_havePrevious = true;
    m_previousArrival = now;
}

}  // namespace kwcam
