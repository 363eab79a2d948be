// The caps a device's pixel type gives, and how a frame of it is laid out in
// a GStreamer buffer.
#ifndef KWGST_FRAMECAPS_H
#define KWGST_FRAMECAPS_H

#include <gst/gst.h>

#include <string>

namespace kwgst {

// A frame's form in GStreamer. The camera sends rows without padding; raw
// video in GStreamer wants each row's stride rounded up (to 4 bytes), so a
// frame whose rows are not already so is copied row by row.
struct FrameFormat {
    GstCaps* caps = nullptr;  // owned by whoever asked for it
    size_t bufferSize = 0;    // bytes of one buffer
    size_t rowBytes = 0;      // bytes of one row as the camera sends it
    size_t stride = 0;        // bytes of one row in the buffer
    unsigned int width = 0;
    unsigned int height = 0;
};

// Fills format for a device pixel type (GigE Vision coding) at the given
// size. False with the reason for a type GStreamer has no format for, or an
// unknown type.
bool frameFormatOf(unsigned int pixelType, unsigned int width, unsigned int height, FrameFormat* format,
                   std::string* error);

// Every format the element can produce, for its pad template.
GstCaps* templateCaps();

}  // namespace kwgst

#endif  // KWGST_FRAMECAPS_H
