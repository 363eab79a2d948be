#include "kwhost/framerecorder.h"

#include <cstring>
#include <thread>

#include "kwhost/frame.h"

namespace kwhost {

void FrameRecorder::OnImageReady(ICameraObject* camera)
{
    if (m_closed.load()) {
        // The object may be gone: touch nothing of it.
        m_late.fetch_add(1);
        return;
    }
    RecordedFrame frame;
    frame.at = std::chrono::steady_clock::now();
    frame.camera = camera;
    frame.thread = std::this_thread::get_id();
    const HostFrame seen = readFrame(camera, PixelLayout::Unknown);
    frame.frameCount = seen.frameCount;
    frame.width = seen.width;
    frame.height = seen.height;
    frame.imageSize = seen.imageSize;
    frame.bitsPerPixel = seen.pluginBitsPerPixel;
    frame.pixelFormat = seen.pluginFormat;
    frame.data = seen.data;
    if (readStamps) {
        frame.stamped = seen.stamped;
        frame.stampNumber = seen.number;
    }
    if (keepBytes > 0 && frame.data != nullptr && frame.imageSize > 0) {
        const size_t bytes = static_cast<size_t>(qMin(keepBytes, frame.imageSize));
        std::vector<unsigned char> entry(frame.data, frame.data + bytes);
        // Holding the frame a moment gives a writer of the buffer the time
        // to show itself.
        std::this_thread::sleep_for(keepFor);
        frame.pixelsKept = memcmp(entry.data(), frame.data, bytes) == 0;
    }
    if (beforeRecording)
        beforeRecording(camera);
    int index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(frame);
        index = static_cast<int>(m_frames.size());
    }
    m_arrived.notify_all();
    if (hook)
        hook(camera, index);
    // The camera may be gone now: only the recorder is touched.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_returned;
    }
    m_arrived.notify_all();
}

bool FrameRecorder::waitReturned(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_returned >= m_frames.size(); });
}

size_t FrameRecorder::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

std::vector<RecordedFrame> FrameRecorder::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

bool FrameRecorder::waitFor(size_t n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_frames.size() >= n; });
}

bool FrameRecorder::staysQuiet(int quietMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t before = m_frames.size();
    const int lateBefore = m_late.load();
    // A frame ends the wait early: the answer is known.
    m_arrived.wait_for(lock, std::chrono::milliseconds(quietMs), [&] { return m_frames.size() != before; });
    return m_frames.size() == before && m_late.load() == lateBefore;
}

}  // namespace kwhost
