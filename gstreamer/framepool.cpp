#include "framepool.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace kwgst {

namespace {

struct FramePool {
    GstBufferPool parent;
};

struct FramePoolClass {
    GstBufferPoolClass parent;
};

GType framePoolType();
gpointer g_parentClass = nullptr;

// Any thread that drops the buffer's last reference.
void releaseBuffer(GstBufferPool* pool, GstBuffer* buffer)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(buffer);
#endif
    GST_BUFFER_POOL_CLASS(g_parentClass)->release_buffer(pool, buffer);
}

// The SDK's thread, in the frame callback.
GstFlowReturn acquireBuffer(GstBufferPool* pool, GstBuffer** buffer, GstBufferPoolAcquireParams* params)
{
    const GstFlowReturn result = GST_BUFFER_POOL_CLASS(g_parentClass)->acquire_buffer(pool, buffer, params);
#if defined(__SANITIZE_THREAD__)
    if (result == GST_FLOW_OK)
        __tsan_acquire(*buffer);
#endif
    return result;
}

void classInit(gpointer klass, gpointer)
{
    g_parentClass = g_type_class_peek_parent(klass);
    GstBufferPoolClass* pool = GST_BUFFER_POOL_CLASS(klass);
    pool->release_buffer = releaseBuffer;
    pool->acquire_buffer = acquireBuffer;
}

GType framePoolType()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        const GType registered =
            g_type_register_static_simple(GST_TYPE_BUFFER_POOL, "GstKwCamSrcFramePool", sizeof(FramePoolClass),
                                          classInit, sizeof(FramePool), nullptr, static_cast<GTypeFlags>(0));
        g_once_init_leave(&type, registered);
    }
    return type;
}

}  // namespace

GstBufferPool* newFramePool()
{
    GstBufferPool* pool = GST_BUFFER_POOL(g_object_new(framePoolType(), nullptr));
    gst_object_ref_sink(pool);
    return pool;
}

}  // namespace kwgst
