#include "stream.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace genicam {
namespace {

// Enough buffers that the callback may take a frame time without the stream
// running dry at the highest rates of a GigE link.
constexpr int kBufferCount = 8;

// The stream whose image callback runs on this thread, if any.
thread_local const Stream* t_delivering = nullptr;

}  // namespace

std::shared_ptr<Stream> Stream::create(ArvCamera* camera, MvImageCallback callback, void* user, LostFlag lost,
                                       std::string* error)
{
    GError* gerror = nullptr;
    const guint payload = arv_camera_get_payload(camera, &gerror);
    if (gerror != nullptr || payload == 0) {
        *error = gerror != nullptr ? gerror->message : "payload size 0";
        g_clear_error(&gerror);
        return nullptr;
    }

    std::shared_ptr<Stream> self(new Stream);
    self->m_callback = callback;
    self->m_user = user;
    self->m_lost = std::move(lost);
    self->m_camera = ARV_CAMERA(g_object_ref(camera));

    if (arv_camera_is_gv_device(camera)) {
        // The packet socket (a mapped ring, no copy per packet) needs
        // CAP_NET_RAW; Aravis falls back to a plain socket without it.
        const char* packetSocket = std::getenv("KWCAM_GENICAM_PACKET_SOCKET");
        const bool disable = packetSocket != nullptr && std::strcmp(packetSocket, "0") == 0;
        arv_camera_gv_set_stream_options(
            camera, disable ? ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED : ARV_GV_STREAM_OPTION_NONE);
    }
    // The raw pointer is the callback's user data; the Stream outlives the
    // ArvStream, which is freed first in the destructor.
    ArvStream* stream = arv_camera_create_stream(camera, &Stream::onEvent, self.get(), &gerror);
    self->m_stream.store(stream, std::memory_order_release);
    if (stream == nullptr) {
        *error = gerror != nullptr ? gerror->message : "no stream";
        g_clear_error(&gerror);
        return nullptr;
    }
    if (ARV_IS_GV_STREAM(stream)) {
        // The default receive buffer holds less than one frame of a small
        // sensor: with it every frame misses packets. AUTO sizes it for the
        // payload.
        g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
    }
    for (int i = 0; i < kBufferCount; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
    return self;
}

Stream::~Stream()
{
    // Joins the stream's thread: never on that thread (see Reaper). The
    // buffers still queued go with the stream.
    if (ArvStream* stream = m_stream.load(std::memory_order_acquire))
        g_object_unref(stream);
    if (m_camera != nullptr)
        g_object_unref(m_camera);
}

void Stream::endDelivery()
{
    std::lock_guard<std::mutex> lock(m_deliveryMutex);
    m_delivering = false;
}

void Stream::waitIdle()
{
    if (isCurrentThread())
        return;
    std::unique_lock<std::mutex> lock(m_deliveryMutex);
    m_callbackDone.wait(lock, [this] { return !m_inCallback; });
}

bool Stream::beginCallback()
{
    if (m_callback == nullptr || m_lost->load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> lock(m_deliveryMutex);
    if (!m_delivering)
        return false;
    m_inCallback = true;
    return true;
}

void Stream::endCallback()
{
    {
        std::lock_guard<std::mutex> lock(m_deliveryMutex);
        m_inCallback = false;
    }
    m_callbackDone.notify_all();
}

bool Stream::isCurrentThread() const
{
    return t_delivering == this;
}

// On the stream's thread.
void Stream::onEvent(void* user, ArvStreamCallbackType type, ArvBuffer* buffer)
{
    if (type != ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE || buffer == nullptr)
        return;
    Stream* self = static_cast<Stream*>(user);
    // The buffer just closed is the oldest one in the output queue: the
    // callback takes every buffer out as it is closed.
    ArvBuffer* done = arv_stream_try_pop_buffer(self->m_stream.load(std::memory_order_acquire));
    if (done == nullptr)
        return;
    self->deliver(done);
}

void Stream::deliver(ArvBuffer* buffer)
{
    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
        m_incomplete.fetch_add(1, std::memory_order_relaxed);
    } else if (beginCallback()) {
        size_t size = 0;
        const void* data = arv_buffer_get_image_data(buffer, &size);
        m_info.nWidth = static_cast<unsigned short>(arv_buffer_get_image_width(buffer));
        m_info.nHeight = static_cast<unsigned short>(arv_buffer_get_image_height(buffer));
        m_info.enPixelType = arv_buffer_get_image_pixel_format(buffer);
        m_info.nFrameNum = static_cast<unsigned int>(arv_buffer_get_frame_id(buffer));
        m_info.nFrameLen = static_cast<unsigned int>(size);
        m_info.nLostFrames = static_cast<unsigned int>(m_incomplete.load(std::memory_order_relaxed));
        m_info.nHostTimeStamp = static_cast<unsigned long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
        if (data != nullptr) {
            t_delivering = this;
            m_callback(static_cast<unsigned char*>(const_cast<void*>(data)), &m_info, m_user);
            t_delivering = nullptr;
        }
        endCallback();
    }
    // Back to the pool; after a stop the stream is being freed and takes its
    // queued buffers with it.
    arv_stream_push_buffer(m_stream.load(std::memory_order_relaxed), buffer);
}

}  // namespace genicam
