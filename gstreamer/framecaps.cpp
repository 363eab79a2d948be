#include "framecaps.h"

#include <gst/video/video.h>

namespace kwgst {

namespace {

// One row per device pixel type the element knows. bayer names the mosaic's
// order for video/x-bayer; otherwise format names the raw video format, and
// an empty one says GStreamer has none.
struct TypeRow {
    unsigned int type;
    const char* name;
    GstVideoFormat format;
    const char* bayer;
    unsigned int bytesPerPixel;
};

const TypeRow kTypes[] = {
    {0x01080001u, "Mono8", GST_VIDEO_FORMAT_GRAY8, nullptr, 1},
    {0x01100007u, "Mono16", GST_VIDEO_FORMAT_GRAY16_LE, nullptr, 2},
    {0x02180014u, "RGB8", GST_VIDEO_FORMAT_RGB, nullptr, 3},
    {0x02180015u, "BGR8", GST_VIDEO_FORMAT_BGR, nullptr, 3},
    {0x02200016u, "RGBa8", GST_VIDEO_FORMAT_RGBA, nullptr, 4},
    {0x02200017u, "BGRa8", GST_VIDEO_FORMAT_BGRA, nullptr, 4},
    {0x01080008u, "BayerGR8", GST_VIDEO_FORMAT_UNKNOWN, "grbg", 1},
    {0x01080009u, "BayerRG8", GST_VIDEO_FORMAT_UNKNOWN, "rggb", 1},
    {0x0108000Au, "BayerGB8", GST_VIDEO_FORMAT_UNKNOWN, "gbrg", 1},
    {0x0108000Bu, "BayerBG8", GST_VIDEO_FORMAT_UNKNOWN, "bggr", 1},
    // 48-bit RGB: GStreamer's only 16-bit RGB formats carry an alpha
    // channel or are planar, neither of which the camera sends.
    {0x02300033u, "RGB16", GST_VIDEO_FORMAT_UNKNOWN, nullptr, 6},
};

const TypeRow* rowOf(unsigned int type)
{
    for (const TypeRow& row : kTypes) {
        if (row.type == type)
            return &row;
    }
    return nullptr;
}

}  // namespace

bool frameFormatOf(unsigned int pixelType, unsigned int width, unsigned int height, FrameFormat* format,
                   std::string* error)
{
    const TypeRow* row = rowOf(pixelType);
    if (row == nullptr) {
        char code[16];
        g_snprintf(code, sizeof code, "0x%08X", pixelType);
        *error = std::string("the camera's pixel type ") + code + " is not one kwcamsrc knows";
        return false;
    }
    if (row->format == GST_VIDEO_FORMAT_UNKNOWN && row->bayer == nullptr) {
        *error = std::string("the camera's pixel type ") + row->name + " has no GStreamer video format";
        return false;
    }
    if (width == 0 || height == 0) {
        *error = "the camera reports no frame size";
        return false;
    }
    format->rowBytes = static_cast<size_t>(width) * row->bytesPerPixel;
    format->width = width;
    format->height = height;
    if (row->bayer != nullptr) {
        format->caps = gst_caps_new_simple("video/x-bayer", "format", G_TYPE_STRING, row->bayer, "width", G_TYPE_INT,
                                           static_cast<int>(width), "height", G_TYPE_INT, static_cast<int>(height),
                                           "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
        format->stride = format->rowBytes;
        format->bufferSize = format->rowBytes * height;
        return true;
    }
    GstVideoInfo info;
    gst_video_info_init(&info);
    gst_video_info_set_format(&info, row->format, width, height);
    info.fps_n = 0;
    info.fps_d = 1;
    format->caps = gst_video_info_to_caps(&info);
    format->stride = static_cast<size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    format->bufferSize = GST_VIDEO_INFO_SIZE(&info);
    return true;
}

GstCaps* templateCaps()
{
    GstCaps* caps = gst_caps_new_empty();
    for (const TypeRow& row : kTypes) {
        GstStructure* s;
        if (row.bayer != nullptr)
            s = gst_structure_new("video/x-bayer", "format", G_TYPE_STRING, row.bayer, nullptr);
        else if (row.format != GST_VIDEO_FORMAT_UNKNOWN)
            s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, gst_video_format_to_string(row.format),
                                  nullptr);
        else
            continue;
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 1, 65535, "height", GST_TYPE_INT_RANGE, 1, 65535, "framerate",
                          GST_TYPE_FRACTION, 0, 1, nullptr);
        caps = gst_caps_merge_structure(caps, s);
    }
    return caps;
}

}  // namespace kwgst
