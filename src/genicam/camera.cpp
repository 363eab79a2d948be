#include "camera.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "discovery.h"
#include "reaper.h"

namespace genicam {
namespace {

// A float BalanceRatio takes the plug-in's integer in thousandths: 1000 is a
// ratio of 1.0.
constexpr double kRatioScale = 1000.0;

const char* const kAutoEntries[] = {"Off", "Once", "Continuous"};

// The SDK's trigger source codes by entry name; the device's own integer
// values for these entries are its maker's choice.
const char* triggerSourceEntry(unsigned int code)
{
    switch (code) {
    case 0:
        return "Line0";
    case 1:
        return "Line1";
    case 2:
        return "Line2";
    case 3:
        return "Line3";
    case 7:
        return "Software";
    default:
        return nullptr;
    }
}

// On the device's heartbeat thread: no Aravis call, only the flag.
void onControlLost(ArvDevice*, gpointer data)
{
    (*static_cast<LostFlag*>(data))->store(true, std::memory_order_release);
}

void freeLostFlag(gpointer data, GClosure*)
{
    delete static_cast<LostFlag*>(data);
}

}  // namespace

Camera::Camera(std::string deviceId, unsigned int transport)
    : m_deviceId(std::move(deviceId)), m_transport(transport), m_lost(std::make_shared<std::atomic<bool>>(false))
{}

Camera::~Camera()
{
    close();
}

int Camera::usable() const
{
    if (m_camera == nullptr)
        return MV_E_CALLORDER;
    if (m_lost->load(std::memory_order_acquire))
        return MV_E_NODEVICE;
    return MV_OK;
}

int Camera::result(GError* error)
{
    if (error == nullptr)
        return MV_OK;
    int code = MV_E_DEVICE;
    if (error->domain == ARV_DEVICE_ERROR) {
        switch (error->code) {
        case ARV_DEVICE_ERROR_FEATURE_NOT_FOUND:
        case ARV_DEVICE_ERROR_WRONG_FEATURE:
            code = MV_E_SUPPORT;
            break;
        case ARV_DEVICE_ERROR_TIMEOUT:
        case ARV_DEVICE_ERROR_NOT_CONNECTED:
            // A device that does not answer is taken as gone: later calls
            // fail at once instead of waiting out their own time-outs.
            m_lost->store(true, std::memory_order_release);
            code = MV_E_NODEVICE;
            break;
        case ARV_DEVICE_ERROR_NOT_CONTROLLER:
            code = MV_E_ACCESS;
            break;
        default:
            break;
        }
    } else if (error->domain == ARV_GC_ERROR) {
        code = MV_E_PARAMETER;
    }
    g_error_free(error);
    return code;
}

bool Camera::has(const char* feature)
{
    return arv_device_get_feature(arv_camera_get_device(m_camera), feature) != nullptr;
}

int Camera::open(unsigned int accessMode)
{
    if (accessMode != MV_ACCESS_EXCLUSIVE)
        return MV_E_PARAMETER;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_camera != nullptr)
        return MV_E_CALLORDER;
    GError* error = nullptr;
    ArvDevice* device = nullptr;
    {
        // Opening by id reads Aravis's device list, or fills it.
        std::lock_guard<std::mutex> list(aravisListLock());
        device = arv_open_device(m_deviceId.c_str(), &error);
    }
    if (device == nullptr) {
        g_clear_error(&error);
        return MV_E_NODEVICE;
    }
    // Aravis opens a GigE device another application controls and ignores
    // the refusal: only the privilege makes the device ours. Checked before
    // the camera is made, whose set-up would wait out the refused writes.
    if (ARV_IS_GV_DEVICE(device) && !arv_gv_device_is_controller(ARV_GV_DEVICE(device))) {
        // Freeing a device that is not ours waits out a refused write: the
        // reaper's work.
        Reaper::instance().post([device] { g_object_unref(device); });
        return MV_E_ACCESS;
    }
    ArvCamera* camera = arv_camera_new_with_device(device, &error);
    g_object_unref(device);
    if (camera == nullptr) {
        g_clear_error(&error);
        return MV_E_NODEVICE;
    }
    if (arv_camera_is_gv_device(camera)) {
        if (const char* size = std::getenv("KWCAM_GENICAM_PACKET_SIZE")) {
            const long bytes = std::strtol(size, nullptr, 10);
            if (bytes > 0) {
                arv_camera_gv_set_packet_size(camera, static_cast<gint>(bytes), &error);
                g_clear_error(&error);
            }
        }
    }
    m_lost->store(false, std::memory_order_release);
    m_lostHandler = g_signal_connect_data(arv_camera_get_device(camera), "control-lost", G_CALLBACK(onControlLost),
                                          new LostFlag(m_lost), &freeLostFlag, GConnectFlags(0));
    m_camera = camera;
    return MV_OK;
}

void Camera::release(std::shared_ptr<Stream> stream, bool lost)
{
    if (!stream)
        return;
    stream->waitIdle();
    // The stream's thread cannot join itself: the reaper frees the stream
    // once this callback has returned. Freeing a stream also resets the
    // device's stream channel, which waits out time-outs on a device that is
    // gone: the reaper's work too, as no callback runs any more.
    if (stream->isCurrentThread() || lost) {
        // Moved, not copied: the last reference must be the reaper's, or the
        // stream's thread could end up freeing its own stream after all.
        Reaper::instance().post([s = std::move(stream)]() mutable { s.reset(); });
        return;
    }
    stream.reset();
}

std::shared_ptr<Stream> Camera::detachStream()
{
    std::shared_ptr<Stream> stream = std::move(m_stream);
    if (!stream)
        return stream;
    stream->endDelivery();
    // The command first: a device that is gone fails it after one time-out,
    // and nothing more is sent.
    if (!m_lost->load(std::memory_order_acquire)) {
        GError* error = nullptr;
        arv_camera_execute_command(m_camera, "AcquisitionStop", &error);
        if (result(error) == MV_OK && has("TLParamsLocked")) {
            arv_camera_set_integer(m_camera, "TLParamsLocked", 0, &error);
            result(error);
        }
    }
    return stream;
}

int Camera::close()
{
    std::shared_ptr<Stream> stream;
    ArvCamera* camera = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        stream = detachStream();
        camera = m_camera;
        m_camera = nullptr;
        if (camera != nullptr && m_lostHandler != 0)
            g_signal_handler_disconnect(arv_camera_get_device(camera), m_lostHandler);
        m_lostHandler = 0;
    }
    // Freeing the device gives up its control privilege, which waits out the
    // time-outs of a device that no longer answers: that is the reaper's
    // work, as is freeing a stream on its own thread.
    if (stream)
        stream->waitIdle();
    const bool defer = m_lost->load(std::memory_order_acquire) || (stream && stream->isCurrentThread());
    if (defer) {
        Reaper::instance().post([s = std::move(stream), camera]() mutable {
            s.reset();
            if (camera != nullptr)
                g_object_unref(camera);
        });
        return MV_OK;
    }
    stream.reset();
    if (camera != nullptr)
        g_object_unref(camera);
    return MV_OK;
}

int Camera::registerCallback(MvImageCallback callback, void* user)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stream)
        return MV_E_CALLORDER;
    m_callback = callback;
    m_user = user;
    return MV_OK;
}

int Camera::width(MVCC_INTVALUE* value)
{
    return regionSide(true, value);
}

int Camera::height(MVCC_INTVALUE* value)
{
    return regionSide(false, value);
}

// The width or height of the region with its bounds and increment.
int Camera::regionSide(bool horizontal, MVCC_INTVALUE* value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    GError* error = nullptr;
    gint x = 0, y = 0, w = 0, h = 0, min = 0, max = 0;
    arv_camera_get_region(m_camera, &x, &y, &w, &h, &error);
    if (error == nullptr)
        (horizontal ? arv_camera_get_width_bounds : arv_camera_get_height_bounds)(m_camera, &min, &max, &error);
    gint inc = error == nullptr
        ? (horizontal ? arv_camera_get_width_increment : arv_camera_get_height_increment)(m_camera, &error)
        : 1;
    if (const int code = result(error))
        return code;
    std::memset(value, 0, sizeof *value);
    value->nCurValue = static_cast<unsigned int>(horizontal ? w : h);
    value->nMin = static_cast<unsigned int>(min);
    value->nMax = static_cast<unsigned int>(max);
    value->nInc = static_cast<unsigned int>(inc);
    return MV_OK;
}

int Camera::pixelFormat(MVCC_ENUMVALUE* value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    GError* error = nullptr;
    // GenICam's PixelFormat entries carry their PFNC codes as values.
    const ArvPixelFormat format = arv_camera_get_pixel_format(m_camera, &error);
    if (const int code = result(error))
        return code;
    std::memset(value, 0, sizeof *value);
    value->nCurValue = format;
    guint n = 0;
    gint64* formats = arv_camera_dup_available_pixel_formats(m_camera, &n, &error);
    if (error == nullptr && formats != nullptr) {
        const guint kept = n < 64 ? n : 64;
        for (guint i = 0; i < kept; ++i)
            value->nSupportValue[i] = static_cast<unsigned int>(formats[i]);
        value->nSupportedNum = kept;
    }
    g_clear_error(&error);
    g_free(formats);
    return MV_OK;
}

namespace {

// The first of `names` the device has, or null.
const char* firstOf(ArvDevice* device, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (arv_device_get_feature(device, name) != nullptr)
            return name;
    return nullptr;
}

// A number feature, float or integer, as a float with its limits.
bool readNumber(ArvCamera* camera, const char* feature, MVCC_FLOATVALUE* value, GError** error)
{
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(camera), feature);
    std::memset(value, 0, sizeof *value);
    if (ARV_IS_GC_FLOAT(node)) {
        double min = 0, max = 0;
        const double current = arv_camera_get_float(camera, feature, error);
        if (*error == nullptr)
            arv_camera_get_float_bounds(camera, feature, &min, &max, error);
        value->fCurValue = static_cast<float>(current);
        value->fMin = static_cast<float>(min);
        value->fMax = static_cast<float>(max);
        return true;
    }
    if (ARV_IS_GC_INTEGER(node)) {
        gint64 min = 0, max = 0;
        const gint64 current = arv_camera_get_integer(camera, feature, error);
        if (*error == nullptr)
            arv_camera_get_integer_bounds(camera, feature, &min, &max, error);
        value->fCurValue = static_cast<float>(current);
        value->fMin = static_cast<float>(min);
        value->fMax = static_cast<float>(max);
        return true;
    }
    return false;
}

bool writeNumber(ArvCamera* camera, const char* feature, double value, GError** error)
{
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(camera), feature);
    if (ARV_IS_GC_FLOAT(node)) {
        arv_camera_set_float(camera, feature, value, error);
        return true;
    }
    if (ARV_IS_GC_INTEGER(node)) {
        arv_camera_set_integer(camera, feature, static_cast<gint64>(std::llround(value)), error);
        return true;
    }
    return false;
}

}  // namespace

int Camera::setExposure(float value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    if (!std::isfinite(value))
        return MV_E_PARAMETER;
    const char* feature = firstOf(arv_camera_get_device(m_camera), {"ExposureTime", "ExposureTimeAbs"});
    GError* error = nullptr;
    if (feature == nullptr || !writeNumber(m_camera, feature, value, &error))
        return MV_E_SUPPORT;
    return result(error);
}

int Camera::exposure(MVCC_FLOATVALUE* value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    const char* feature = firstOf(arv_camera_get_device(m_camera), {"ExposureTime", "ExposureTimeAbs"});
    GError* error = nullptr;
    if (feature == nullptr || !readNumber(m_camera, feature, value, &error))
        return MV_E_SUPPORT;
    return result(error);
}

int Camera::setGain(float value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    if (!std::isfinite(value))
        return MV_E_PARAMETER;
    const char* feature = firstOf(arv_camera_get_device(m_camera), {"Gain", "GainRaw", "GainAbs"});
    GError* error = nullptr;
    if (feature == nullptr || !writeNumber(m_camera, feature, value, &error))
        return MV_E_SUPPORT;
    return result(error);
}

int Camera::gain(MVCC_FLOATVALUE* value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    const char* feature = firstOf(arv_camera_get_device(m_camera), {"Gain", "GainRaw", "GainAbs"});
    GError* error = nullptr;
    if (feature == nullptr || !readNumber(m_camera, feature, value, &error))
        return MV_E_SUPPORT;
    return result(error);
}

// With m_lock held.
int Camera::setEnumEntry(const char* feature, const char* entry)
{
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(m_camera), feature);
    if (!ARV_IS_GC_ENUMERATION(node))
        return MV_E_SUPPORT;
    GError* error = nullptr;
    arv_camera_set_string(m_camera, feature, entry, &error);
    return result(error);
}

int Camera::setExposureAuto(unsigned int mode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    if (mode > 2)
        return MV_E_PARAMETER;
    return setEnumEntry("ExposureAuto", kAutoEntries[mode]);
}

int Camera::setBalanceWhiteAuto(unsigned int mode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    if (mode > 2)
        return MV_E_PARAMETER;
    return setEnumEntry("BalanceWhiteAuto", kAutoEntries[mode]);
}

int Camera::setBalanceRatio(const char* channel, unsigned int value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    ArvDevice* device = arv_camera_get_device(m_camera);
    ArvGcNode* ratio = arv_device_get_feature(device, "BalanceRatio");
    if (ratio == nullptr)
        return MV_E_SUPPORT;
    if (const int code = setEnumEntry("BalanceRatioSelector", channel))
        return code;
    const double scaled = ARV_IS_GC_FLOAT(ratio) ? value / kRatioScale : static_cast<double>(value);
    GError* error = nullptr;
    if (!writeNumber(m_camera, "BalanceRatio", scaled, &error))
        return MV_E_SUPPORT;
    return result(error);
}

int Camera::setEnum(const char* key, unsigned int value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    const bool triggerMode = std::strcmp(key, "TriggerMode") == 0;
    const bool triggerSource = std::strcmp(key, "TriggerSource") == 0;
    if (triggerMode || triggerSource) {
        const char* entry = triggerMode ? (value == 0       ? "Off"
                                               : value == 1 ? "On"
                                                            : nullptr)
                                        : triggerSourceEntry(value);
        if (entry == nullptr)
            return MV_E_PARAMETER;
        // The trigger set-up the plug-in sends is the frame trigger's.
        ArvGcNode* selector = arv_device_get_feature(arv_camera_get_device(m_camera), "TriggerSelector");
        if (ARV_IS_GC_ENUMERATION(selector)) {
            GError* error = nullptr;
            arv_camera_set_string(m_camera, "TriggerSelector", "FrameStart", &error);
            g_clear_error(&error);
        }
        return setEnumEntry(key, entry);
    }
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(m_camera), key);
    if (!ARV_IS_GC_ENUMERATION(node))
        return MV_E_SUPPORT;
    GError* error = nullptr;
    arv_camera_set_integer(m_camera, key, value, &error);
    return result(error);
}

int Camera::command(const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(m_camera), key);
    if (!ARV_IS_GC_COMMAND(node))
        return MV_E_SUPPORT;
    GError* error = nullptr;
    arv_camera_execute_command(m_camera, key, &error);
    return result(error);
}

int Camera::startGrabbing()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (const int code = usable())
        return code;
    if (m_stream)
        return MV_E_CALLORDER;
    std::string why;
    std::shared_ptr<Stream> stream = Stream::create(m_camera, m_callback, m_user, m_lost, &why);
    if (!stream)
        return m_lost->load() ? MV_E_NODEVICE : MV_E_RESOURCE;
    GError* error = nullptr;
    arv_camera_set_acquisition_mode(m_camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    if (error == nullptr)
        arv_camera_start_acquisition(m_camera, &error);
    if (const int code = result(error)) {
        // No frame was delivered: freeing the stream here, lock held, waits
        // for no callback.
        stream->endDelivery();
        release(std::move(stream), m_lost->load(std::memory_order_acquire));
        return code;
    }
    m_stream = std::move(stream);
    return MV_OK;
}

int Camera::stopGrabbing()
{
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_camera == nullptr || !m_stream)
            return MV_E_CALLORDER;
        stream = detachStream();
    }
    release(std::move(stream), m_lost->load(std::memory_order_acquire));
    return MV_OK;
}

}  // namespace genicam
