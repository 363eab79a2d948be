// libgstkwcamera: the GStreamer plug-in that registers kwcamsrc.
#include <gst/gst.h>

#include "kwcamsrc.h"
#include "qtlog.h"

GST_DEBUG_CATEGORY_EXTERN(kwcamsrc_debug);

namespace {

gboolean pluginInit(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kwcamsrc_debug, "kwcamsrc", 0, "kwcamera camera source");
    kwgst::installQtLog();
    return gst_element_register(plugin, "kwcamsrc", GST_RANK_NONE, GST_TYPE_KW_CAM_SRC);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kwcamera, "Machine-vision cameras over the kwcamera contract",
                  pluginInit, KWGST_VERSION, "LGPL", "kwcamera", "https://kwcamera.invalid/")
