// One acquisition: an Aravis stream with its pool of buffers, from
// MV_CC_StartGrabbing to MV_CC_StopGrabbing. Complete buffers go to the image
// callback on the stream's own thread, with the buffer's own pixels.
#ifndef KWCAM_GENICAM_STREAM_H
#define KWCAM_GENICAM_STREAM_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <arv.h>

#include "mvcameracontrol.h"

namespace genicam {

// Set by the heartbeat thread when the device no longer answers, and by any
// call that finds it gone; read by every thread.
using LostFlag = std::shared_ptr<std::atomic<bool>>;

class Stream {
public:
    // Creates the stream and its buffers; does not start the device. The
    // stream keeps a reference to `camera` until it is freed.
    static std::shared_ptr<Stream> create(ArvCamera* camera, MvImageCallback callback, void* user, LostFlag lost,
                                          std::string* error);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // No image callback starts after this returns (one may be running).
    void endDelivery();
    // After endDelivery: returns once no image callback runs, at once on the
    // stream's own thread. Never called with a camera's lock held: the
    // callback may be waiting for it.
    void waitIdle();
    // True on the stream's thread while this stream's image callback runs.
    bool isCurrentThread() const;

    // Frames closed with an error status (missing packets, time-outs) and
    // never delivered.
    unsigned long long incompleteFrames() const { return m_incomplete.load(std::memory_order_relaxed); }

private:
    Stream() = default;
    static void onEvent(void* user, ArvStreamCallbackType type, ArvBuffer* buffer);
    void deliver(ArvBuffer* buffer);
    bool beginCallback();
    void endCallback();

    ArvCamera* m_camera = nullptr;
    // Set once the stream is made; read on its thread.
    std::atomic<ArvStream*> m_stream{nullptr};
    MvImageCallback m_callback = nullptr;
    void* m_user = nullptr;
    LostFlag m_lost;
    // Guards the start and end of each image callback against endDelivery.
    std::mutex m_deliveryMutex;
    std::condition_variable m_callbackDone;
    bool m_delivering = true;
    bool m_inCallback = false;
    std::atomic<unsigned long long> m_incomplete{0};
    // Touched only on the stream's thread.
    _MV_FRAME_OUT_INFO_ m_info{};
};

}  // namespace genicam

#endif  // KWCAM_GENICAM_STREAM_H
