// kwcamsrc against kwcam grab over one 1280x1024 Mono8 simulated camera:
// paced at 1000 frames/s, whether every frame reaches fakesink; unpaced,
// the frames per second the element delivers beside kwcam grab's callback
// on the same camera; and what the element's one copy of a frame costs in
// its frame callback.
#include <benchmark/benchmark.h>

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

#include "benchhost.h"
#include "camerafeed.h"
#include "framereceiver.h"
#include "kwhost/selfpipe.h"
#include "mvsim/control.h"

using namespace kwbench;

namespace {

const unsigned kWidth = 1280;
const unsigned kHeight = 1024;

void initGStreamer()
{
    static const bool done = []() {
        setenv("GST_PLUGIN_PATH", KWGST_ELEMENT_DIR, 1);
        setenv("GST_REGISTRY", KWGST_REGISTRY, 1);
        gst_init(nullptr, nullptr);
        return true;
    }();
    (void)done;
}

// Seconds of the paced run: $KWCAM_GST_PACED_SECONDS, 10 by default.
double pacedSeconds()
{
    const char* text = std::getenv("KWCAM_GST_PACED_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 0;
    return seconds > 0 ? seconds : 10;
}

// kwcamsrc ! fakesink sync=false, counting the buffers that reach the sink.
class Pipeline {
public:
    Pipeline()
    {
        initGStreamer();
        GError* error = nullptr;
        m_pipeline = gst_parse_launch("kwcamsrc name=src sdk=sim ! fakesink name=sink sync=false", &error);
        if (m_pipeline == nullptr) {
            g_error_free(error);
            return;
        }
        GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &Pipeline::count, this, nullptr);
        gst_object_unref(pad);
        gst_object_unref(sink);
    }
    ~Pipeline()
    {
        if (m_pipeline != nullptr) {
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            gst_object_unref(m_pipeline);
        }
    }
    bool play()
    {
        if (m_pipeline == nullptr || gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return false;
        // Live: the state change is done once the streaming thread runs.
        return gst_element_get_state(m_pipeline, nullptr, nullptr, 10 * GST_SECOND) != GST_STATE_CHANGE_FAILURE;
    }
    void stop() { gst_element_set_state(m_pipeline, GST_STATE_NULL); }
    long buffers() const { return m_buffers.load(std::memory_order_relaxed); }
    guint64 dropped() const
    {
        GstElement* src = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
        guint64 n = 0;
        g_object_get(src, "dropped", &n, nullptr);
        gst_object_unref(src);
        return n;
    }

private:
    static GstPadProbeReturn count(GstPad*, GstPadProbeInfo*, gpointer self)
    {
        static_cast<Pipeline*>(self)->m_buffers.fetch_add(1, std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }

    GstElement* m_pipeline = nullptr;
    std::atomic<long> m_buffers{0};
};

void oneCamera(double frameRate)
{
    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "MV-BENCH", "0");
    setup.width = kWidth;
    setup.height = kHeight;
    setup.frameRate = frameRate;
    MVSIM_AddDevice(&setup);
}

// Paced at 1000 frames/s: every frame the camera makes reaches the sink.
void BM_GstPaced1000(benchmark::State& state)
{
    DiscardingLog discard;
    oneCamera(1000);
    Pipeline pipeline;
    if (!pipeline.play()) {
        state.SkipWithError("cannot play kwcamsrc ! fakesink");
        return;
    }
    const double seconds = pacedSeconds();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const guint64 dropped = pipeline.dropped();
    pipeline.stop();
    MvsimCounters counters{};
    MVSIM_GetCounters(0, &counters);
    state.counters["seconds"] = seconds;
    state.counters["produced"] = static_cast<double>(counters.produced);
    state.counters["arrived"] = static_cast<double>(pipeline.buffers());
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["camera_lost"] = static_cast<double>(counters.lost);
    // Frames the SDK handed over that never reached the sink: dropped by the
    // element or still queued when it stopped.
    state.counters["missing"] = static_cast<double>(counters.delivered) - static_cast<double>(pipeline.buffers());
}

// Unpaced, the camera as fast as the host takes frames: kwcamsrc to fakesink.
void BM_GstUnpaced_Src(benchmark::State& state)
{
    DiscardingLog discard;
    oneCamera(0);
    Pipeline pipeline;
    if (!pipeline.play()) {
        state.SkipWithError("cannot play kwcamsrc ! fakesink");
        return;
    }
    const long before = pipeline.buffers();
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long frames = pipeline.buffers() - before;
    state.counters["frames_per_s"] = static_cast<double>(frames) / seconds;
    state.counters["dropped"] = static_cast<double>(pipeline.dropped());
    pipeline.stop();
}

// The same camera into kwcam grab's callback, which copies nothing: frames
// per second over the iterations, and the camera's losses.
void grab(benchmark::State& state, std::chrono::duration<double> iteration)
{
    DiscardingLog discard;
    kwhost::SelfPipe wakeup;
    kwcam::FrameReceiver receiver(std::numeric_limits<quint64>::max(), kwhost::PixelLayout::Gray8,
                                  kwcam::FrameReceiver::SaveMode::None, wakeup);
    tagQZ_CAMERA_CONFIG config{};
    config.nCameraType = CameraTypeHik;
    config.strCameraKey = QStringLiteral("MV-BENCH 0");
    config.nPixelFormat = CameraPixelFormatGray8;
    ICameraObject* camera = shippedPlugin().create(&config, &receiver);
    camera->m_nTriggerMode = CameraTriggerModeFreeRun;
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        shippedPlugin().destroy(camera);
        state.SkipWithError("cannot start the camera");
        return;
    }
    const quint64 before = receiver.framesSoFar();
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(iteration);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const quint64 frames = receiver.framesSoFar() - before;
    camera->IStopCamera();
    shippedPlugin().destroy(camera);
    MvsimCounters counters{};
    MVSIM_GetCounters(0, &counters);
    state.counters["frames_per_s"] = static_cast<double>(frames) / seconds;
    state.counters["produced"] = static_cast<double>(counters.produced);
    state.counters["camera_lost"] = static_cast<double>(counters.lost);
}

void BM_GstUnpaced_Grab(benchmark::State& state)
{
    oneCamera(0);
    grab(state, std::chrono::milliseconds(500));
}

// The paced camera into kwcam grab's callback: what the machine loses by
// itself, beside the element's run.
void BM_GstPaced1000_Grab(benchmark::State& state)
{
    oneCamera(1000);
    grab(state, std::chrono::duration<double>(pacedSeconds()));
}

// A camera object that only describes a frame, for the callback alone.
class StillFrame : public ICameraObject {
public:
    explicit StillFrame(tagQZ_CAMERA_CONFIG* config)
        : ICameraObject(config, nullptr), m_pixels(static_cast<size_t>(kWidth) * kHeight, 0x5A)
    {
        m_nWidth = static_cast<int>(kWidth);
        m_nHeight = static_cast<int>(kHeight);
        m_nPixelFormat = CameraPixelFormatGray8;
        m_nBitsPerPixel = 8;
        m_pImageData = m_pixels.data();
    }
    int IOpenCamera() override { return 1; }
    void ICloseCamera() override {}
    int IStartCamera() override { return 1; }
    void IStopCamera() override {}

private:
    std::vector<unsigned char> m_pixels;
};

// The element's frame callback as the SDK's thread runs it (a buffer from
// the pool, the copy, the stamp, the queue), then the streaming thread's
// taking of it; the camera is open and armed for software triggers, so
// nothing else arrives.
void BM_GstCallbackCopy(benchmark::State& state)
{
    DiscardingLog discard;
    initGStreamer();
    oneCamera(0);
    kwgst::CameraFeed feed;
    kwgst::FeedSettings settings;
    settings.sdk = QStringLiteral("sim");
    settings.trigger = kwgst::Trigger::Software;
    QString error;
    if (feed.open(settings, &error) != kwgst::CameraFeed::Failure::None || !feed.start(&error)) {
        state.SkipWithError(error.toUtf8().constData());
        return;
    }
    tagQZ_CAMERA_CONFIG config{};
    StillFrame frame(&config);
    for (auto _ : state) {
        feed.OnImageReady(&frame);
        kwgst::Frame taken;
        if (feed.next(&taken) != kwgst::CameraFeed::Wait::Frame) {
            state.SkipWithError("the frame was not queued");
            break;
        }
        gst_buffer_unref(taken.buffer);
    }
    feed.close();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

}  // namespace

BENCHMARK(BM_GstPaced1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GstPaced1000_Grab)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GstUnpaced_Grab)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GstUnpaced_Src)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GstCallbackCopy)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
