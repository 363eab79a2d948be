// The camera side of kwcamsrc: one camera over the contract, through the
// host layer, and the frames it sends, each copied once into a buffer of a
// preallocated pool and queued for the streaming thread.
//
// Threads: open, start, stop and close run on the thread that changes the
// element's state; next on the streaming thread; snap and pulse on any
// application thread; OnImageReady on the SDK's thread, which it never
// blocks: with no free buffer or a full queue the frame is dropped and
// counted.
#ifndef KWGST_CAMERAFEED_H
#define KWGST_CAMERAFEED_H

#include <gst/gst.h>

#include <QtCore/QString>

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "cameraobject.h"
#include "framecaps.h"

namespace kwhost {
class Camera;
class SdkControl;
}  // namespace kwhost

namespace kwgst {

enum class Trigger { FreeRunning, Software, Hardware };

struct FeedSettings {
    QString camera;  // a key, an index or a unique part of a key; empty: the first
    QString sdk;
    QString plugin;
    Trigger trigger = Trigger::FreeRunning;
    int exposure = -1;  // < 0: as the device has it
    int gain = -1;
    unsigned int queueSize = 4;
};

// A frame taken off the queue: the buffer (owned by the taker) and when it
// arrived, on the steady clock.
struct Frame {
    GstBuffer* buffer = nullptr;
    int64_t arrivalNs = 0;
};

class CameraFeed : public ICameraCallback {
public:
    CameraFeed();
    ~CameraFeed() override;
    CameraFeed(const CameraFeed&) = delete;
    CameraFeed& operator=(const CameraFeed&) = delete;

    enum class Failure { None, Settings, NotFound, Open, Format };
    // Loads the plug-in, chooses and opens the camera, applies the settings
    // and reads its frame format. On failure the camera is closed again and
    // error holds the reason, naming the camera once it is known.
    Failure open(const FeedSettings& settings, QString* error);
    const QString& key() const { return m_key; }
    const QString& pluginFile() const { return m_pluginFile; }
    const FrameFormat& format() const { return m_format; }

    // Starts and stops acquisition; start activates the pool first.
    bool start(QString* error);
    void stop();
    void close();

    enum class Wait { Frame, Flushing, Idle, Gone };
    // Streaming thread: the oldest queued frame, waiting for one a fraction
    // of a second at most (then Idle) unless flushing or the camera goes.
    Wait next(Frame* frame);
    void setFlushing(bool flushing);

    bool snap();
    bool pulse();
    bool canPulse() const;

    uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }
    uint64_t delivered() const { return m_delivered.load(std::memory_order_relaxed); }

    // SDK thread: one frame at a time.
    void OnImageReady(ICameraObject* pCamera) override;

private:
    bool devicePresent() const;
    bool copyFrame(ICameraObject* camera, int64_t arrivalNs);
    // Streaming thread (or any once the SDK has stopped): the oldest frame.
    bool take(Frame* frame);
    void drainQueue();
    void drop() { m_dropped.fetch_add(1, std::memory_order_relaxed); }

    // The camera object, created in open and deleted in close; snap and
    // pulse hold the lock so the object cannot go under them. OnImageReady
    // never takes it: stop waits for the callback while holding it.
    mutable std::mutex m_cameraMutex;
    std::unique_ptr<kwhost::Camera> m_camera;
    std::unique_ptr<kwhost::SdkControl> m_sdk;
    int m_device = -1;
    QString m_key;
    QString m_pluginFile;
    FrameFormat m_format;
    GstBufferPool* m_pool = nullptr;

    // The queue between the SDK thread and the streaming thread: a ring
    // written only by the callback (m_tail) and read only by the streaming
    // thread (m_head), without a lock, so that the SDK's thread never waits
    // for a thread the system may have preempted. The semaphore counts
    // frames queued (and wake-ups for flushing); posting it never blocks.
    std::vector<Frame> m_ring;
    std::atomic<uint64_t> m_head{0};
    std::atomic<uint64_t> m_tail{0};
    sem_t m_ready;
    std::atomic<bool> m_flushing{false};
    // Set while a callback runs: a second one at the same time (an SDK that
    // calls back from several threads) drops its frame instead of writing
    // the ring beside the first.
    std::atomic_flag m_inCallback = ATOMIC_FLAG_INIT;

    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_delivered{0};
};

}  // namespace kwgst

#endif  // KWGST_CAMERAFEED_H
