#include "kwcamsrc.h"

#include <gst/video/video.h>

#include <chrono>

#include "camerafeed.h"

GST_DEBUG_CATEGORY(kwcamsrc_debug);
#define GST_CAT_DEFAULT kwcamsrc_debug

namespace {

using kwgst::CameraFeed;
using kwgst::Trigger;

const int kTimeoutAutomatic = -1;
// The automatic time-out of a free-running camera; triggered cameras wait
// for ever, as frames come only when something triggers them.
const int kFreeRunningTimeoutSeconds = 5;
const unsigned int kDefaultQueueSize = 4;
const unsigned int kMaxQueueSize = 256;
// Drops are posted at most this often.
const GstClockTime kDropPostInterval = GST_SECOND;

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_SDK,
    PROP_PLUGIN,
    PROP_TRIGGER,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_QUEUE_SIZE,
    PROP_TIMEOUT,
    PROP_DROPPED,
};

enum { SIGNAL_SNAP, SIGNAL_PULSE, SIGNAL_COUNT };
guint g_signals[SIGNAL_COUNT];

GType triggerType()
{
    static GType type = 0;
    static const GEnumValue values[] = {
        {static_cast<gint>(Trigger::FreeRunning), "Frames at the camera's own rate", "free-running"},
        {static_cast<gint>(Trigger::Software), "A frame per snap signal", "software"},
        {static_cast<gint>(Trigger::Hardware), "A frame per pulse on input line 0", "hardware"},
        {0, nullptr, nullptr},
    };
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("GstKwCamSrcTrigger", values));
    return type;
}

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct _GstKwCamSrc {
    GstPushSrc parent;

    // Properties, under the object lock.
    gchar* camera;
    gchar* sdk;
    gchar* plugin;
    Trigger trigger;
    gint exposure;
    gint gain;
    guint queueSize;
    gint timeout;

    CameraFeed* feed;
    // What the streaming thread has announced of the drops.
    guint64 announcedDrops;
    GstClockTime lastDropPost;
    guint64 pushed;
};

G_DEFINE_TYPE(GstKwCamSrc, gst_kw_cam_src, GST_TYPE_PUSH_SRC)

namespace {

QString qtString(const gchar* text)
{
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

void setString(gchar** field, const GValue* value)
{
    g_free(*field);
    *field = g_value_dup_string(value);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_CAMERA:
        setString(&self->camera, value);
        break;
    case PROP_SDK:
        setString(&self->sdk, value);
        break;
    case PROP_PLUGIN:
        setString(&self->plugin, value);
        break;
    case PROP_TRIGGER:
        self->trigger = static_cast<Trigger>(g_value_get_enum(value));
        break;
    case PROP_EXPOSURE:
        self->exposure = g_value_get_int(value);
        break;
    case PROP_GAIN:
        self->gain = g_value_get_int(value);
        break;
    case PROP_QUEUE_SIZE:
        self->queueSize = g_value_get_uint(value);
        break;
    case PROP_TIMEOUT:
        self->timeout = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_CAMERA:
        g_value_set_string(value, self->camera);
        break;
    case PROP_SDK:
        g_value_set_string(value, self->sdk);
        break;
    case PROP_PLUGIN:
        g_value_set_string(value, self->plugin);
        break;
    case PROP_TRIGGER:
        g_value_set_enum(value, static_cast<gint>(self->trigger));
        break;
    case PROP_EXPOSURE:
        g_value_set_int(value, self->exposure);
        break;
    case PROP_GAIN:
        g_value_set_int(value, self->gain);
        break;
    case PROP_QUEUE_SIZE:
        g_value_set_uint(value, self->queueSize);
        break;
    case PROP_TIMEOUT:
        g_value_set_int(value, self->timeout);
        break;
    case PROP_DROPPED:
        g_value_set_uint64(value, self->feed->dropped());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void finalize(GObject* object)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(object);
    delete self->feed;
    g_free(self->camera);
    g_free(self->sdk);
    g_free(self->plugin);
    G_OBJECT_CLASS(gst_kw_cam_src_parent_class)->finalize(object);
}

// Application thread (the state change to PAUSED).
gboolean start(GstBaseSrc* base)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(base);
    kwgst::FeedSettings settings;
    GST_OBJECT_LOCK(self);
    settings.camera = qtString(self->camera);
    settings.sdk = qtString(self->sdk);
    settings.plugin = qtString(self->plugin);
    settings.trigger = self->trigger;
    settings.exposure = self->exposure;
    settings.gain = self->gain;
    settings.queueSize = self->queueSize;
    GST_OBJECT_UNLOCK(self);

    QString error;
    switch (self->feed->open(settings, &error)) {
    case CameraFeed::Failure::None:
        break;
    case CameraFeed::Failure::NotFound:
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", error.toUtf8().constData()), (nullptr));
        return FALSE;
    case CameraFeed::Failure::Open:
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", error.toUtf8().constData()), (nullptr));
        return FALSE;
    case CameraFeed::Failure::Format:
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("%s", error.toUtf8().constData()), (nullptr));
        return FALSE;
    case CameraFeed::Failure::Settings:
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s", error.toUtf8().constData()), (nullptr));
        return FALSE;
    }
    gchar* caps = gst_caps_to_string(self->feed->format().caps);
    GST_INFO_OBJECT(self, "opened camera %s through the plug-in %s: %s", self->feed->key().toUtf8().constData(),
                    self->feed->pluginFile().toUtf8().constData(), caps);
    g_free(caps);
    self->announcedDrops = 0;
    self->lastDropPost = GST_CLOCK_TIME_NONE;
    self->pushed = 0;
    return TRUE;
}

gboolean stop(GstBaseSrc* base)
{
    GST_KW_CAM_SRC(base)->feed->close();
    return TRUE;
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(base);
    GstCaps* caps = self->feed->format().caps != nullptr ? gst_caps_copy(self->feed->format().caps)
                                                         : gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

gboolean unlock(GstBaseSrc* base)
{
    GST_KW_CAM_SRC(base)->feed->setFlushing(true);
    return TRUE;
}

gboolean unlockStop(GstBaseSrc* base)
{
    GST_KW_CAM_SRC(base)->feed->setFlushing(false);
    return TRUE;
}

// Streaming thread: the drops so far, on the bus (a QoS message and a
// warning with the running count) and downstream (a custom event), at most
// once a second.
void announceDrops(GstKwCamSrc* self, GstClockTime runningTime)
{
    const guint64 dropped = self->feed->dropped();
    if (dropped == self->announcedDrops)
        return;
    const GstClockTime now = static_cast<GstClockTime>(steadyNowNs());
    if (GST_CLOCK_TIME_IS_VALID(self->lastDropPost) && now - self->lastDropPost < kDropPostInterval)
        return;
    self->lastDropPost = now;
    self->announcedDrops = dropped;

    // Downstream first, so that whoever sees the messages finds the event
    // delivered; and only once a buffer has gone, after the segment.
    if (self->pushed > 0)
        gst_pad_push_event(GST_BASE_SRC_PAD(self),
                           gst_event_new_custom(GST_EVENT_CUSTOM_DOWNSTREAM,
                                                gst_structure_new("kwcamsrc-dropped", "dropped", G_TYPE_UINT64, dropped,
                                                                  "processed", G_TYPE_UINT64, self->pushed, nullptr)));
    GstMessage* qos =
        gst_message_new_qos(GST_OBJECT(self), TRUE, runningTime, GST_CLOCK_TIME_NONE, runningTime, GST_CLOCK_TIME_NONE);
    gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, self->pushed, dropped);
    gst_element_post_message(GST_ELEMENT(self), qos);
    GST_ELEMENT_WARNING(self, STREAM, FAILED, ("%" G_GUINT64_FORMAT " frames dropped so far", dropped),
                        ("camera %s: no free buffer or the queue full", self->feed->key().toUtf8().constData()));
}

// The running time at which a frame that arrived at arrivalNs (steady clock)
// reached the host, on the element's clock; NONE without a clock.
GstClockTime runningTimeOf(GstKwCamSrc* self, int64_t arrivalNs)
{
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == nullptr)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const int64_t ageNs = steadyNowNs() - arrivalNs;
    const GstClockTime age = ageNs > 0 ? static_cast<GstClockTime>(ageNs) : 0;
    const GstClockTime arrived = now > age ? now - age : 0;
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    return arrived > base ? arrived - base : 0;
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(push);
    GST_OBJECT_LOCK(self);
    int timeout = self->timeout;
    if (timeout == kTimeoutAutomatic)
        timeout = self->trigger == Trigger::FreeRunning ? kFreeRunningTimeoutSeconds : 0;
    GST_OBJECT_UNLOCK(self);

    // Drops are announced while no frame comes too: a consumer holding
    // every buffer starves the pool.
    const int64_t deadline = timeout > 0 ? steadyNowNs() + timeout * static_cast<int64_t>(GST_SECOND) : 0;
    kwgst::Frame frame;
    for (bool waiting = true; waiting;) {
        switch (self->feed->next(&frame)) {
        case CameraFeed::Wait::Frame:
            waiting = false;
            break;
        case CameraFeed::Wait::Idle:
            announceDrops(self, GST_CLOCK_TIME_NONE);
            if (deadline != 0 && steadyNowNs() >= deadline) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ,
                                  ("camera %s sent no frame for %d s", self->feed->key().toUtf8().constData(), timeout),
                                  ("the timeout property sets how long to wait; 0 waits for ever"));
                return GST_FLOW_ERROR;
            }
            break;
        case CameraFeed::Wait::Flushing:
            return GST_FLOW_FLUSHING;
        case CameraFeed::Wait::Gone:
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("camera %s went away", self->feed->key().toUtf8().constData()),
                              ("the device was unplugged or removed while streaming"));
            return GST_FLOW_ERROR;
        }
    }

    const GstClockTime runningTime = runningTimeOf(self, frame.arrivalNs);
    if (!gst_base_src_get_do_timestamp(GST_BASE_SRC(self)))
        GST_BUFFER_PTS(frame.buffer) = runningTime;
    announceDrops(self, runningTime);
    ++self->pushed;
    *out = frame.buffer;
    return GST_FLOW_OK;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    GstKwCamSrc* self = GST_KW_CAM_SRC(element);
    // Acquisition runs only while playing: a paused live source sends
    // nothing, and frames taken meanwhile would only be dropped.
    if (transition == GST_STATE_CHANGE_PAUSED_TO_PLAYING) {
        QString error;
        self->feed->setFlushing(false);
        if (!self->feed->start(&error)) {
            GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("%s", error.toUtf8().constData()), (nullptr));
            return GST_STATE_CHANGE_FAILURE;
        }
    }
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(gst_kw_cam_src_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED)
        self->feed->stop();
    return result;
}

gboolean snap(GstKwCamSrc* self)
{
    return self->feed->snap();
}

gboolean pulse(GstKwCamSrc* self)
{
    return self->feed->pulse();
}

}  // namespace

static void gst_kw_cam_src_class_init(GstKwCamSrcClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);

    object->set_property = setProperty;
    object->get_property = getProperty;
    object->finalize = finalize;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        object, PROP_CAMERA,
        g_param_spec_string(
            "camera", "Camera",
            "The camera: its key, its index in the list or a part of exactly one key (empty: the first)", nullptr,
            flags));
    g_object_class_install_property(
        object, PROP_SDK,
        g_param_spec_string("sdk", "SDK",
                            "The camera SDK: sim, genicam or a library's path (empty: the system's, else the "
                            "simulator); one per process",
                            nullptr, flags));
    g_object_class_install_property(
        object, PROP_PLUGIN,
        g_param_spec_string("plugin", "Plug-in",
                            "Path of the camera plug-in (empty: $KWCAM_PLUGIN, else the one installed with kwcamsrc)",
                            nullptr, flags));
    g_object_class_install_property(object, PROP_TRIGGER,
                                    g_param_spec_enum("trigger", "Trigger", "What makes the camera take a frame",
                                                      triggerType(), static_cast<gint>(Trigger::FreeRunning), flags));
    g_object_class_install_property(
        object, PROP_EXPOSURE,
        g_param_spec_int("exposure", "Exposure", "Exposure time in microseconds, applied at start (-1: the device's)",
                         -1, G_MAXINT, -1, flags));
    g_object_class_install_property(
        object, PROP_GAIN,
        g_param_spec_int("gain", "Gain", "Gain in dB, applied at start (-1: the device's)", -1, G_MAXINT, -1, flags));
    g_object_class_install_property(
        object, PROP_QUEUE_SIZE,
        g_param_spec_uint("queue-size", "Queue size",
                          "Frames held between the camera and the streaming thread; more are dropped", 1, kMaxQueueSize,
                          kDefaultQueueSize, flags));
    g_object_class_install_property(
        object, PROP_TIMEOUT,
        g_param_spec_int("timeout", "Timeout",
                         "Seconds without a frame before an error (0: wait for ever; -1: 5 s when free-running, for "
                         "ever in the trigger modes)",
                         -1, G_MAXINT / 1000, kTimeoutAutomatic, flags));
    g_object_class_install_property(
        object, PROP_DROPPED,
        g_param_spec_uint64("dropped", "Dropped",
                            "Frames dropped since the element started (no free buffer, queue full)", 0, G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    g_signals[SIGNAL_SNAP] = g_signal_new_class_handler("snap", G_TYPE_FROM_CLASS(klass),
                                                        static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
                                                        G_CALLBACK(snap), nullptr, nullptr, nullptr, G_TYPE_BOOLEAN, 0);
    g_signals[SIGNAL_PULSE] = g_signal_new_class_handler(
        "pulse", G_TYPE_FROM_CLASS(klass), static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
        G_CALLBACK(pulse), nullptr, nullptr, nullptr, G_TYPE_BOOLEAN, 0);

    GstCaps* caps = kwgst::templateCaps();
    gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    gst_element_class_set_static_metadata(element, "Camera source of the kwcamera contract", "Source/Video",
                                          "Frames of a machine-vision camera through a plug-in of the camera contract",
                                          "kwcamera");
    element->change_state = changeState;

    base->start = start;
    base->stop = stop;
    base->get_caps = getCaps;
    base->unlock = unlock;
    base->unlock_stop = unlockStop;
    push->create = create;

    gst_type_mark_as_plugin_api(triggerType(), static_cast<GstPluginAPIFlags>(0));
}

static void gst_kw_cam_src_init(GstKwCamSrc* self)
{
    self->camera = nullptr;
    self->sdk = nullptr;
    self->plugin = nullptr;
    self->trigger = Trigger::FreeRunning;
    self->exposure = -1;
    self->gain = -1;
    self->queueSize = kDefaultQueueSize;
    self->timeout = kTimeoutAutomatic;
    self->feed = new CameraFeed();
    self->announcedDrops = 0;
    self->lastDropPost = GST_CLOCK_TIME_NONE;
    self->pushed = 0;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
