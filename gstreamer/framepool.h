// The element's buffer pool: GStreamer's own, with the hand-over of a
// buffer from its last user back to the frame callback made visible to
// ThreadSanitizer, which cannot see the synchronisation inside GLib and
// GStreamer (their atomic queue and poll are not instrumented).
#ifndef KWGST_FRAMEPOOL_H
#define KWGST_FRAMEPOOL_H

#include <gst/gst.h>

namespace kwgst {

// A new pool, owned by the caller (gst_object_unref).
GstBufferPool* newFramePool();

}  // namespace kwgst

#endif  // KWGST_FRAMEPOOL_H
