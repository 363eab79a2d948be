// The tool's ICameraCallback: counts and measures the frames of one grab,
// keeps a copy of the last frame or hands every frame to a FrameWriter.
//
// OnImageReady runs on the SDK's acquisition thread, one frame at a time, and
// must return quickly: the SDK loses frames that arrive while it runs. It
// waits for nothing: the main thread learns of news through a SelfPipe, reads
// counts that are atomic, and reads everything else only after the camera
// has been stopped, when the SDK runs no callback any more. The writer takes
// a frame only when its queue has room.
#ifndef KWCAM_FRAMERECEIVER_H
#define KWCAM_FRAMERECEIVER_H

#include <QtCore/QtGlobal>

#include <atomic>
#include <chrono>
#include <vector>

#include "cameraobject.h"
#include "kwhost/frame.h"
#include "kwhost/framestamp.h"
#include "kwhost/framewriter.h"
#include "kwhost/imagewriter.h"
#include "kwhost/pixellayout.h"
#include "kwhost/selfpipe.h"

namespace kwcam {

struct FrameStats {
    quint64 frames = 0;
    quint64 bytes = 0;
    quint64 intervals = 0;
    double minIntervalMs = 0;
    double maxIntervalMs = 0;
    double sumIntervalMs = 0;
    // The last frame's members as the plug-in announced them, and the layout
    // the tool read it with (no pixels).
    kwhost::HostFrame last;
    bool geometryChanged = false;
    // Frame numbers from the stand-in's stamp.
    kwhost::FrameNumbers numbers;
};

class FrameReceiver : public ICameraCallback {
public:
    enum class SaveMode { None, LastFrame, EveryFrame };

    // deviceLayout: the layout of the device's pixel type when the SDK can
    // tell it, else Unknown and the plug-in's report is used.
    // target 0: no target. wakeup is notified when the target is reached. writer, for
    // SaveMode::EveryFrame, is offered every frame.
    FrameReceiver(quint64 target, kwhost::PixelLayout deviceLayout, SaveMode saveMode, const kwhost::SelfPipe& wakeup,
                  kwhost::FrameWriter* writer = nullptr);

    // SDK thread. Frames after the target are ignored.
    void OnImageReady(ICameraObject* pCamera) override;

    // Any thread, at any time.
    quint64 framesSoFar() const { return m_frames.load(std::memory_order_relaxed); }
    quint64 bytesSoFar() const { return m_bytes.load(std::memory_order_relaxed); }
    // Frame numbers skipped so far (stamped frames only).
    quint64 missingSoFar() const { return m_missing.load(std::memory_order_relaxed); }
    // Every frame so far carried a stamp.
    bool numberedSoFar() const { return m_numbered.load(std::memory_order_relaxed); }
    bool targetReached() const { return m_frames.load(std::memory_order_acquire) >= m_target; }

    // Only once the SDK has stopped calling OnImageReady.
    const FrameStats& stats() const { return m_stats; }
    bool hasLastFrame() const { return m_stats.frames > 0 && m_lastImage.data != nullptr; }
    const kwhost::FrameImage& lastFrame() const { return m_lastImage; }
    quint64 lastFrameNumber() const { return m_lastNumber; }

private:
    void measureInterval();

    const quint64 m_target;
    const kwhost::PixelLayout m_deviceLayout;
    const SaveMode m_saveMode;
    const kwhost::SelfPipe& m_wakeup;
    kwhost::FrameWriter* const m_writer;

    std::atomic<quint64> m_frames{0};
    std::atomic<quint64> m_bytes{0};
    std::atomic<quint64> m_missing{0};
    std::atomic<bool> m_numbered{true};

    // Owned by the SDK thread while frames arrive.
    FrameStats m_stats;
    bool m_havePrevious = false;
    std::chrono::steady_clock::time_point m_previousArrival;
    // The last frame's pixels, in one buffer reused from frame to frame.
    std::vector<unsigned char> m_lastBytes;
    kwhost::FrameImage m_lastImage;
    quint64 m_lastNumber = 0;
};

}  // namespace kwcam

#endif  // KWCAM_FRAMERECEIVER_H
