// The host's frame callback for tests of plug-ins, the kit's checks and the
// test suite's alike: records what the host sees of every frame at the
// entry of OnImageReady, wakes waiters, and can run a hook inside the call
// (to stop, close or delete from there). OnImageReady runs on the SDK's
// thread; everything else on any thread.
#ifndef KWHOST_FRAMERECORDER_H
#define KWHOST_FRAMERECORDER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "cameraobject.h"

namespace kwhost {

// Generous limits: a frame that takes longer than this has not come.
const int kRecorderWaitMs = 3000;
// How long to watch for frames that must not come.
const int kRecorderQuietMs = 100;

// What the host saw of one frame, read at the entry of OnImageReady.
struct RecordedFrame {
    ICameraObject* camera = nullptr;
    int frameCount = 0;
    int width = 0;
    int height = 0;
    int imageSize = 0;
    int bitsPerPixel = 0;
    int pixelFormat = 0;
    const unsigned char* data = nullptr;
    bool stamped = false;  // the stand-in's stamp was found in the pixels
    unsigned int stampNumber = 0;
    bool pixelsKept = true;  // the pixels were the same at the return
    std::chrono::steady_clock::time_point at;
    std::thread::id thread;  // the thread that called OnImageReady
};

class FrameRecorder : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override;

    // Run inside OnImageReady, set before frames can come: beforeRecording
    // once the frame's members are read (waiters do not see the frame until
    // it returns), hook once it is recorded, with its index from 1.
    std::function<void(ICameraObject*)> beforeRecording;
    std::function<void(ICameraObject*, int index)> hook;
    // Bytes compared at the entry and the return of each call (0: none) and
    // how long to keep the frame before returning.
    int keepBytes = 0;
    std::chrono::microseconds keepFor{0};
    // Read the stand-in's stamp from the pixels.
    bool readStamps = false;

    size_t count() const;
    std::vector<RecordedFrame> frames() const;
    // Until at least n frames came; false after timeoutMs.
    bool waitFor(size_t n, int timeoutMs = kRecorderWaitMs) const;
    // Watches for quietMs: true when no frame came meanwhile.
    bool staysQuiet(int quietMs = kRecorderQuietMs) const;
    // Until every frame recorded so far has returned from OnImageReady.
    bool waitReturned(int timeoutMs = kRecorderWaitMs) const;
    // From now on every call counts as late: the host was promised none.
    void markClosed() { m_closed.store(true); }
    void reopen() { m_closed.store(false); }
    int late() const { return m_late.load(); }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<RecordedFrame> m_frames;
    size_t m_returned = 0;
    std::atomic<bool> m_closed{false};
    std::atomic<int> m_late{0};
};

}  // namespace kwhost

#endif  // KWHOST_FRAMERECORDER_H
