// The element's buffer pool: GStreamer's own pool (allocation, activation,
// accounting) whose free buffers are kept without a lock and reused the
// most recently returned first. A consumer that gives its buffer back at
// once (a sink, an encoder) then sees the same one or two buffers again and
// again, still in the processor's caches, where the default order cycles
// through all of them: copying a 1280x1024 frame costs a fraction as much.
// The hand-over through the slots' atomics is also one ThreadSanitizer
// sees, unlike the synchronisation inside GLib and GStreamer (not
// instrumented).
#ifndef KWGST_FRAMEPOOL_H
#define KWGST_FRAMEPOOL_H

#include <gst/gst.h>

namespace kwgst {

// A new pool, owned by the caller (gst_object_unref). It never waits: with
// no free buffer, acquiring fails at once. One thread acquires.
GstBufferPool* newFramePool();

}  // namespace kwgst

#endif  // KWGST_FRAMEPOOL_H
