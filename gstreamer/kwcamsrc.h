// kwcamsrc: a live GStreamer source of the frames of one camera, over any
// plug-in of the camera contract (see docs/gstreamer.md).
#ifndef KWGST_KWCAMSRC_H
#define KWGST_KWCAMSRC_H

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_KW_CAM_SRC (gst_kw_cam_src_get_type())
G_DECLARE_FINAL_TYPE(GstKwCamSrc, gst_kw_cam_src, GST, KW_CAM_SRC, GstPushSrc)

G_END_DECLS

#endif  // KWGST_KWCAMSRC_H
