#include "framepool.h"

#include <atomic>
#include <memory>

namespace kwgst {

namespace {

// The free buffers in slots, without a lock: any thread returns a buffer to
// the lowest empty slot, the frame callback takes the lowest full one. The
// buffer just given back is thus the next one out, and a thread preempted
// while giving one back holds up no one.
struct FreeBuffers {
    std::unique_ptr<std::atomic<GstBuffer*>[]> slots;
    guint count = 0;  // slots: the pool's largest number of buffers
    gsize size = 0;   // a buffer's size as configured
};

struct FramePool {
    GstBufferPool parent;
    FreeBuffers* free;
};

struct FramePoolClass {
    GstBufferPoolClass parent;
};

GstBufferPoolClass* g_parentClass = nullptr;

FreeBuffers& freeOf(GstBufferPool* pool)
{
    return *reinterpret_cast<FramePool*>(pool)->free;
}

// While the pool is inactive: the slots for its configured buffers.
gboolean setConfig(GstBufferPool* pool, GstStructure* config)
{
    guint size = 0, min = 0, max = 0;
    if (!gst_buffer_pool_config_get_params(config, nullptr, &size, &min, &max) || max == 0)
        return FALSE;
    FreeBuffers& free = freeOf(pool);
    free.slots.reset(new std::atomic<GstBuffer*>[max]);
    for (guint i = 0; i < max; ++i)
        free.slots[i].store(nullptr, std::memory_order_relaxed);
    free.count = max;
    free.size = size;
    return g_parentClass->set_config(pool, config);
}

// Any thread that drops a buffer's last reference; also the pool's start,
// with every preallocated buffer.
void releaseBuffer(GstBufferPool* pool, GstBuffer* buffer)
{
    FreeBuffers& free = freeOf(pool);
    // A buffer changed by its user (memory added, replaced or shared) goes
    // the default way, which frees it.
    const bool pristine = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_TAG_MEMORY) &&
        gst_buffer_is_all_memory_writable(buffer) && gst_buffer_get_size(buffer) == free.size;
    if (pristine) {
        // There are never more buffers than slots: one is empty.
        for (guint i = 0; i < free.count; ++i) {
            GstBuffer* empty = nullptr;
            if (free.slots[i].compare_exchange_strong(empty, buffer, std::memory_order_release,
                                                      std::memory_order_relaxed))
                return;
        }
    }
    g_parentClass->release_buffer(pool, buffer);
}

// The SDK's thread, in the frame callback, the only taker: never waits.
GstFlowReturn acquireBuffer(GstBufferPool* pool, GstBuffer** buffer, GstBufferPoolAcquireParams*)
{
    FreeBuffers& free = freeOf(pool);
    for (guint i = 0; i < free.count; ++i) {
        GstBuffer* found = free.slots[i].exchange(nullptr, std::memory_order_acquire);
        if (found != nullptr) {
            *buffer = found;
            return GST_FLOW_OK;
        }
    }
    return GST_FLOW_EOS;
}

// Deactivation, once no buffer is out: the free buffers go back to the
// default queue, from which the default stop frees them.
gboolean stop(GstBufferPool* pool)
{
    FreeBuffers& free = freeOf(pool);
    for (guint i = 0; i < free.count; ++i) {
        if (GstBuffer* buffer = free.slots[i].exchange(nullptr, std::memory_order_acquire))
            g_parentClass->release_buffer(pool, buffer);
    }
    return g_parentClass->stop(pool);
}

void finalize(GObject* object)
{
    delete reinterpret_cast<FramePool*>(object)->free;
    G_OBJECT_CLASS(g_parentClass)->finalize(object);
}

void classInit(gpointer klass, gpointer)
{
    g_parentClass = static_cast<GstBufferPoolClass*>(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstBufferPoolClass* pool = GST_BUFFER_POOL_CLASS(klass);
    pool->set_config = setConfig;
    pool->release_buffer = releaseBuffer;
    pool->acquire_buffer = acquireBuffer;
    pool->stop = stop;
}

void instanceInit(GTypeInstance* instance, gpointer)
{
    reinterpret_cast<FramePool*>(instance)->free = new FreeBuffers();
}

GType framePoolType()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        const GTypeInfo info = {sizeof(FramePoolClass), nullptr, nullptr,      classInit, nullptr, nullptr,
                                sizeof(FramePool),      0,       instanceInit, nullptr};
        // A process may hold two copies of this code (the element's module
        // and a program linking it, as the benchmarks do): the first to come
        // registers the type, and both use it.
        const char* name = "GstKwCamSrcFramePool";
        GType registered = g_type_from_name(name);
        if (registered == 0)
            registered = g_type_register_static(GST_TYPE_BUFFER_POOL, name, &info, static_cast<GTypeFlags>(0));
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
