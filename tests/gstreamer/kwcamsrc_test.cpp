// kwcamsrc in a GstHarness, over the stand-in's cameras: caps, buffers and
// their numbers, replayed pictures bit for bit, triggers, drops under a slow
// consumer, state cycles, and the errors an application sees on the bus.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <dirent.h>
#include <malloc.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mvcameracontrol.h"
#include "mvsim/control.h"
#include "replay_pictures.h"

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

int addCamera(const char* model, unsigned width, unsigned height, unsigned pixelType, double frameRate = 0)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, model, "GST0001");
    setup.width = width;
    setup.height = height;
    setup.pixelType = pixelType;
    setup.frameRate = frameRate;
    return MVSIM_AddDevice(&setup);
}

// The element in a harness whose sink pad takes every buffer, with a bus of
// its own for the messages an application would see.
class Source {
public:
    explicit Source(const Properties& properties) : m_harness(gst_harness_new("kwcamsrc")), m_bus(gst_bus_new())
    {
        gst_util_set_object_arg(G_OBJECT(element()), "sdk", "sim");
        for (const auto& p : properties)
            gst_util_set_object_arg(G_OBJECT(element()), p.first.c_str(), p.second.c_str());
        gst_element_set_bus(element(), m_bus);
        gst_pad_add_probe(m_harness->sinkpad, GST_PAD_PROBE_TYPE_BUFFER, &Source::handOver, this, nullptr);
    }
    ~Source()
    {
        gst_harness_teardown(m_harness);
        gst_object_unref(m_bus);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    GstElement* element() const { return m_harness->element; }
    GstHarness* harness() const { return m_harness; }
    GstStateChangeReturn setState(GstState state) { return gst_element_set_state(element(), state); }

    // Waits up to the harness's minute.
    GstBuffer* pull()
    {
        GstBuffer* buffer = gst_harness_pull(m_harness);
        std::lock_guard<std::mutex> lock(m_handOver);
        return buffer;
    }
    GstCaps* caps() const { return gst_pad_get_current_caps(m_harness->sinkpad); }
    guint64 dropped() const
    {
        guint64 n = 0;
        g_object_get(element(), "dropped", &n, nullptr);
        return n;
    }
    bool signal(const char* name)
    {
        gboolean ok = FALSE;
        g_signal_emit_by_name(element(), name, &ok);
        return ok;
    }

    // The next message of the type within 20 s (null: none came).
    GstMessage* waitFor(GstMessageType type) { return gst_bus_timed_pop_filtered(m_bus, 20 * GST_SECOND, type); }
    // The text of the next error or warning, "" when none came.
    std::string nextText(GstMessageType type)
    {
        GstMessage* message = waitFor(type);
        if (message == nullptr)
            return "";
        GError* error = nullptr;
        gchar* debug = nullptr;
        if (type == GST_MESSAGE_ERROR)
            gst_message_parse_error(message, &error, &debug);
        else
            gst_message_parse_warning(message, &error, &debug);
        const std::string text = error->message;
        g_error_free(error);
        g_free(debug);
        gst_message_unref(message);
        return text;
    }
    void discardEvents()
    {
        while (GstEvent* event = gst_harness_try_pull_event(m_harness))
            gst_event_unref(event);
    }

private:
    // Streaming thread, as each buffer reaches the harness. The harness's
    // queue synchronises inside GLib, where ThreadSanitizer sees nothing;
    // this lock, taken on both sides, shows it that the pulling thread
    // comes after the frame's writers.
    static GstPadProbeReturn handOver(GstPad*, GstPadProbeInfo*, gpointer self)
    {
        std::lock_guard<std::mutex> lock(static_cast<Source*>(self)->m_handOver);
        return GST_PAD_PROBE_OK;
    }

    GstHarness* m_harness;
    GstBus* m_bus;
    std::mutex m_handOver;
};

class KwcamsrcTest : public ::testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        EXPECT_EQ(MVSIM_LiveHandles(), 0) << "a camera handle outlived the element";
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
        MVSIM_Reset();
    }
};

std::vector<unsigned char> bytesOf(GstBuffer* buffer)
{
    GstMapInfo map;
    EXPECT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    std::vector<unsigned char> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

struct CapsCase {
    const char* name;
    unsigned pixelType;
    unsigned width;
    const char* mediaType;
    const char* format;
    size_t bytesPerPixel;
};

class CapsTest : public KwcamsrcTest, public ::testing::WithParamInterface<CapsCase> {};

TEST_P(CapsTest, CapsComeFromTheDevicePixelType)
{
    const CapsCase& c = GetParam();
    ASSERT_GE(addCamera("Caps", c.width, 6, c.pixelType), 0);
    Source source(Properties{});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstBuffer* buffer = source.pull();
    ASSERT_NE(buffer, nullptr);
    GstCaps* caps = source.caps();
    ASSERT_NE(caps, nullptr);
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    EXPECT_STREQ(gst_structure_get_name(s), c.mediaType);
    EXPECT_STREQ(gst_structure_get_string(s, "format"), c.format);
    int width = 0, height = 0, num = -1, den = -1;
    EXPECT_TRUE(gst_structure_get_int(s, "width", &width));
    EXPECT_TRUE(gst_structure_get_int(s, "height", &height));
    EXPECT_TRUE(gst_structure_get_fraction(s, "framerate", &num, &den));
    EXPECT_EQ(width, static_cast<int>(c.width));
    EXPECT_EQ(height, 6);
    EXPECT_EQ(num, 0);
    EXPECT_EQ(den, 1);
    // Raw video rows are padded to 4 bytes; Bayer rows are not.
    size_t stride = c.width * c.bytesPerPixel;
    if (std::string(c.mediaType) == "video/x-raw")
        stride = (stride + 3) / 4 * 4;
    EXPECT_EQ(gst_buffer_get_size(buffer), stride * 6);
    gst_caps_unref(caps);
    gst_buffer_unref(buffer);
}

INSTANTIATE_TEST_SUITE_P(PixelTypes, CapsTest,
                         ::testing::Values(CapsCase{"Mono8", MVSIM_PIXEL_MONO8, 8, "video/x-raw", "GRAY8", 1},
                                           CapsCase{"Mono16", MVSIM_PIXEL_MONO16, 8, "video/x-raw", "GRAY16_LE", 2},
                                           CapsCase{"RGB8", MVSIM_PIXEL_RGB8, 5, "video/x-raw", "RGB", 3},
                                           CapsCase{"RGBa8", MVSIM_PIXEL_RGBA8, 8, "video/x-raw", "RGBA", 4},
                                           CapsCase{"BayerRG8", MVSIM_PIXEL_BAYERRG8, 10, "video/x-bayer", "rggb", 1}),
                         [](const ::testing::TestParamInfo<CapsCase>& info) { return info.param.name; });

TEST_F(KwcamsrcTest, PixelTypeWithoutAGStreamerFormatFailsTheStateChange)
{
    ASSERT_GE(addCamera("Wide", 8, 4, MVSIM_PIXEL_RGB16), 0);
    Source source(Properties{});
    EXPECT_EQ(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find("RGB16"), std::string::npos) << text;
    EXPECT_NE(text.find("no GStreamer video format"), std::string::npos) << text;
}

TEST_F(KwcamsrcTest, NumBuffersThenEosWithFrameNumbersAndRunningTimes)
{
    ASSERT_GE(addCamera("Count", 64, 48, MVSIM_PIXEL_MONO8, 200), 0);
    Source source(Properties{{"num-buffers", "5"}});
    // Base time as a pipeline sets it when it starts playing.
    gst_harness_use_systemclock(source.harness());
    GstClock* clock = gst_element_get_clock(source.element());
    ASSERT_NE(clock, nullptr);
    gst_element_set_base_time(source.element(), gst_clock_get_time(clock));
    gst_object_unref(clock);
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstClockTime previousPts = 0;
    for (guint64 i = 0; i < 5; ++i) {
        GstBuffer* buffer = source.pull();
        ASSERT_NE(buffer, nullptr) << "buffer " << i;
        // The stand-in numbers the frames of an open from 1.
        EXPECT_EQ(GST_BUFFER_OFFSET(buffer), i + 1);
        EXPECT_EQ(GST_BUFFER_OFFSET_END(buffer), i + 2);
        ASSERT_TRUE(GST_BUFFER_PTS_IS_VALID(buffer));
        if (i > 0) {
            EXPECT_GT(GST_BUFFER_PTS(buffer), previousPts) << "buffer " << i;
        }
        previousPts = GST_BUFFER_PTS(buffer);
        gst_buffer_unref(buffer);
    }
    // Running times, not clock times: well below a minute after start.
    EXPECT_LT(previousPts, 60 * GST_SECOND);
    bool eos = false;
    while (!eos) {
        GstEvent* event = gst_harness_pull_event(source.harness());
        ASSERT_NE(event, nullptr) << "no EOS";
        eos = GST_EVENT_TYPE(event) == GST_EVENT_EOS;
        gst_event_unref(event);
    }
    EXPECT_EQ(gst_harness_buffers_received(source.harness()), 5u);
}

struct ReplayCase {
    const char* name;
    replaytest::Kind kind;
    int width;
};

class ReplayTest : public KwcamsrcTest, public ::testing::WithParamInterface<ReplayCase> {};

TEST_P(ReplayTest, ReplayedPicturesComeOutBitForBit)
{
    const ReplayCase& c = GetParam();
    const int height = 7;
    const unsigned channels = replaytest::channels(c.kind);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const unsigned pictures = 3;
    for (unsigned seed = 0; seed < pictures; ++seed)
        ASSERT_TRUE(replaytest::makeImage(c.kind, seed, c.width, height)
                        .save(QDir(dir.path()).filePath(QStringLiteral("%1.png").arg(seed))));
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "Replay", "GST0001");
    setup.width = 0;
    setup.height = 0;
    setup.pixelType = 0;
    const QByteArray path = dir.path().toLocal8Bit();
    setup.images = path.constData();
    setup.replayOnce = 1;
    ASSERT_GE(MVSIM_AddDevice(&setup), 0);

    Source source(Properties{{"queue-size", "8"}});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const size_t stride = (static_cast<size_t>(c.width) * channels + 3) / 4 * 4;
    for (unsigned seed = 0; seed < pictures; ++seed) {
        GstBuffer* buffer = source.pull();
        ASSERT_NE(buffer, nullptr) << "picture " << seed;
        const std::vector<unsigned char> bytes = bytesOf(buffer);
        gst_buffer_unref(buffer);
        ASSERT_EQ(bytes.size(), stride * height);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < c.width; ++x)
                for (unsigned ch = 0; ch < channels; ++ch)
                    wrong += bytes[y * stride + x * channels + ch] != replaytest::sampleOf(c.kind, seed, x, y, ch);
        EXPECT_EQ(wrong, 0) << "samples that differ in picture " << seed;
    }
    EXPECT_EQ(source.dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ReplayTest,
                         ::testing::Values(ReplayCase{"Grey8", replaytest::Kind::Grey8, 64},
                                           ReplayCase{"Rgb8PaddedRows", replaytest::Kind::Rgb8, 61}),
                         [](const ::testing::TestParamInfo<ReplayCase>& info) { return info.param.name; });

struct TriggerCase {
    const char* trigger;
    const char* signal;
};

class TriggerTest : public KwcamsrcTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerTest, OneBufferPerTrigger)
{
    const int device = addCamera("Trigger", 32, 8, MVSIM_PIXEL_MONO8);
    ASSERT_GE(device, 0);
    Source source(Properties{{"trigger", GetParam().trigger}});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    for (guint64 i = 1; i <= 3; ++i) {
        ASSERT_TRUE(source.signal(GetParam().signal));
        GstBuffer* buffer = source.pull();
        ASSERT_NE(buffer, nullptr) << "trigger " << i;
        EXPECT_EQ(GST_BUFFER_OFFSET(buffer), i);
        gst_buffer_unref(buffer);
    }
    ASSERT_EQ(MVSIM_WaitIdle(device, 10000), MVSIM_OK);
    MvsimCounters counters{};
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), MVSIM_OK);
    EXPECT_EQ(counters.delivered, 3u) << "frames beyond the triggers";
    EXPECT_EQ(source.dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, TriggerTest,
                         ::testing::Values(TriggerCase{"software", "snap"}, TriggerCase{"hardware", "pulse"}),
                         [](const ::testing::TestParamInfo<TriggerCase>& info) {
                             return std::string(info.param.trigger);
                         });

TEST_F(KwcamsrcTest, SnapBeforePlayingIsRefused)
{
    ASSERT_GE(addCamera("Trigger", 32, 8, MVSIM_PIXEL_MONO8), 0);
    Source source(Properties{{"trigger", "software"}});
    EXPECT_FALSE(source.signal("snap"));
}

TEST_F(KwcamsrcTest, SlowDownstreamDropsAreCountedPostedAndMemoryStaysBounded)
{
    const int device = addCamera("Fast", 320, 240, MVSIM_PIXEL_MONO8, 2000);
    ASSERT_GE(device, 0);
    const unsigned queueSize = 2;
    Source source(Properties{{"queue-size", std::to_string(queueSize)}});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    // Nothing is pulled: the harness holds every buffer it was given, as a
    // consumer that never lets go would.
    const std::string warning = source.nextText(GST_MESSAGE_WARNING);
    EXPECT_NE(warning.find("frames dropped so far"), std::string::npos) << warning;
    EXPECT_GT(std::strtoull(warning.c_str(), nullptr, 10), 0u) << warning;
    GstMessage* qos = source.waitFor(GST_MESSAGE_QOS);
    ASSERT_NE(qos, nullptr);
    GstFormat format;
    guint64 processed = 0, dropped = 0;
    gst_message_parse_qos_stats(qos, &format, &processed, &dropped);
    gst_message_unref(qos);
    EXPECT_EQ(format, GST_FORMAT_BUFFERS);
    EXPECT_GT(dropped, 0u);

    // Held buffers never exceed the preallocated pool.
    const guint held = gst_harness_buffers_in_queue(source.harness());
    EXPECT_GT(held, 0u);
    EXPECT_LE(held, queueSize + 4);
    EXPECT_GE(source.dropped(), dropped);

    // Once the consumer takes frames again they flow, with the gap in their
    // numbers.
    guint64 previous = 0;
    bool gap = false;
    for (int i = 0; i < 40; ++i) {
        GstBuffer* buffer = source.pull();
        ASSERT_NE(buffer, nullptr);
        gap = gap || (previous != 0 && GST_BUFFER_OFFSET(buffer) > previous + 1);
        previous = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
    }
    EXPECT_TRUE(gap) << "frame numbers ran without a gap over the drops";

    // Downstream hears of the drops too, in the stream.
    guint64 announced = 0;
    while (GstEvent* event = gst_harness_try_pull_event(source.harness())) {
        if (gst_event_has_name(event, "kwcamsrc-dropped"))
            gst_structure_get_uint64(gst_event_get_structure(event), "dropped", &announced);
        gst_event_unref(event);
    }
    EXPECT_GT(announced, 0u) << "no kwcamsrc-dropped event downstream";
}

size_t entriesOf(const char* dir)
{
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

TEST_F(KwcamsrcTest, StateCyclesLeakNoMemoryThreadsOrDescriptors)
{
    ASSERT_GE(addCamera("Cycle", 640, 480, MVSIM_PIXEL_MONO8, 500), 0);
    Source source(Properties{});
    auto cycle = [&source]() {
        ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        GstBuffer* buffer = source.pull();
        ASSERT_NE(buffer, nullptr);
        gst_buffer_unref(buffer);
        ASSERT_EQ(source.setState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        while (GstBuffer* left = gst_harness_try_pull(source.harness()))
            gst_buffer_unref(left);
        source.discardEvents();
        ASSERT_EQ(MVSIM_LiveHandles(), 0);
    };
    // The first cycles start what lives on: the streaming task's pooled
    // thread, GStreamer's and Qt's caches.
    for (int i = 0; i < 3; ++i)
        cycle();
    const size_t fds = entriesOf("/proc/self/fd");
    const size_t threads = entriesOf("/proc/self/task");
    const size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 50; ++i) {
        cycle();
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(entriesOf("/proc/self/fd"), fds);
    // GStreamer's task pool keeps the streaming threads that have run idle,
    // and starts another when the last one is not yet back: two at most.
    EXPECT_LE(entriesOf("/proc/self/task"), threads + 2);
    // One frame buffer of 300 kB leaked per cycle would be 15 MB.
    EXPECT_LT(mallinfo2().uordblks, heap + 1024 * 1024);
}

TEST_F(KwcamsrcTest, ExposureAndGainReachTheDeviceAtStart)
{
    const int device = addCamera("Settings", 32, 8, MVSIM_PIXEL_MONO8);
    ASSERT_GE(device, 0);
    const MvsimDeviceState before = [device]() {
        MvsimDeviceState state{};
        MVSIM_GetDeviceState(device, &state);
        return state;
    }();
    {
        // -1 leaves the device's own value.
        Source source(Properties{{"gain", "-1"}, {"exposure", "2500"}});
        ASSERT_NE(source.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(device, &state), MVSIM_OK);
        EXPECT_FLOAT_EQ(state.exposure, 2500);
        EXPECT_FLOAT_EQ(state.gain, before.gain);
    }
    {
        Source source(Properties{{"gain", "7"}});
        ASSERT_NE(source.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(device, &state), MVSIM_OK);
        EXPECT_FLOAT_EQ(state.gain, 7);
    }
}

TEST_F(KwcamsrcTest, RefusedGainFailsTheStateChangeWithTheReason)
{
    ASSERT_GE(addCamera("Settings", 32, 8, MVSIM_PIXEL_MONO8), 0);
    // The stand-in's default gain range is 0..20 dB.
    Source source(Properties{{"gain", "99"}});
    EXPECT_EQ(source.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find("camera Settings GST0001 refused gain = 99: "), std::string::npos) << text;
    EXPECT_NE(text.find(": Invalid gain value:99."), std::string::npos) << "the plug-in's reason: " << text;
}

struct SdkCase {
    const char* name;
    const char* sdk;          // the property; null leaves it unset
    const char* environment;  // $KWCAM_SDK
    const char* expected;
};

class SdkChoiceTest : public KwcamsrcTest, public ::testing::WithParamInterface<SdkCase> {};

TEST_P(SdkChoiceTest, SdkThatCannotServeFailsTheStateChange)
{
    ASSERT_GE(addCamera("Present", 32, 8, MVSIM_PIXEL_MONO8), 0);
    Source source(Properties{});
    g_object_set(source.element(), "sdk", GetParam().sdk, nullptr);
    setenv("KWCAM_SDK", GetParam().environment, 1);
    const GstStateChangeReturn result = source.setState(GST_STATE_PAUSED);
    unsetenv("KWCAM_SDK");
    EXPECT_EQ(result, GST_STATE_CHANGE_FAILURE);
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find(GetParam().expected), std::string::npos) << text;
}

// The test's process has the simulator loaded: it is the one SDK here.
INSTANTIATE_TEST_SUITE_P(
    Choices, SdkChoiceTest,
    ::testing::Values(SdkCase{"AWordIsAPath", "simulator", "", "; it cannot load simulator as well"},
                      SdkCase{"TheEnvironmentsChoice", nullptr, "simulator", "; it cannot load simulator as well"},
                      SdkCase{"AnotherLibrary", "/nonexistent/libMVCameraControl.so", "",
                              "this process already uses the SDK "}),
    [](const ::testing::TestParamInfo<SdkCase>& info) { return info.param.name; });

TEST_F(KwcamsrcTest, UnknownCameraFailsTheStateChangeNamingIt)
{
    ASSERT_GE(addCamera("Present", 32, 8, MVSIM_PIXEL_MONO8), 0);
    Source source(Properties{{"camera", "no-such-camera"}});
    EXPECT_EQ(source.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find("no-such-camera"), std::string::npos) << text;
    EXPECT_NE(text.find("Present GST0001"), std::string::npos) << "the cameras found: " << text;
}

TEST_F(KwcamsrcTest, CameraHeldOpenElsewhereFailsTheStateChangeWithTheReason)
{
    ASSERT_GE(addCamera("Busy", 32, 8, MVSIM_PIXEL_MONO8), 0);
    MV_CC_DEVICE_INFO_LIST list{};
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), 0);
    ASSERT_EQ(list.nDeviceNum, 1u);
    void* handle = nullptr;
    ASSERT_EQ(MV_CC_CreateHandle(&handle, list.pDeviceInfo[0]), 0);
    ASSERT_EQ(MV_CC_OpenDevice(handle, 1, 0), 0);
    {
        Source source(Properties{{"camera", "Busy"}});
        EXPECT_EQ(source.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        const std::string text = source.nextText(GST_MESSAGE_ERROR);
        EXPECT_NE(text.find("cannot open camera Busy GST0001: "), std::string::npos) << text;
        EXPECT_NE(text.find("Failed to OpenDevice"), std::string::npos) << "the plug-in's reason: " << text;
        EXPECT_NE(text.find("(is the camera in use?)"), std::string::npos) << "the SDK's reason: " << text;
    }
    MV_CC_DestroyHandle(handle);
}

TEST_F(KwcamsrcTest, CameraGoneWhilePlayingPostsAnErrorAndStopsCleanly)
{
    const int device = addCamera("Gone", 64, 48, MVSIM_PIXEL_MONO8, 100);
    ASSERT_GE(device, 0);
    Source source(Properties{{"trigger", "software"}});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(source.signal("snap"));
    GstBuffer* buffer = source.pull();
    ASSERT_NE(buffer, nullptr);
    gst_buffer_unref(buffer);
    ASSERT_EQ(MVSIM_UnplugDevice(device), MVSIM_OK);
    // Triggered cameras wait for ever by default: only the camera's going
    // ends the wait.
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find("camera Gone GST0001 went away"), std::string::npos) << text;
    EXPECT_EQ(source.setState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
}

TEST_F(KwcamsrcTest, FreeRunningCameraThatStopsSendingTimesOut)
{
    ASSERT_GE(addCamera("Quiet", 64, 48, MVSIM_PIXEL_MONO8, 0.5), 0);
    Source source(Properties{{"timeout", "1"}});
    ASSERT_NE(source.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string text = source.nextText(GST_MESSAGE_ERROR);
    EXPECT_NE(text.find("camera Quiet GST0001 sent no frame for 1 s"), std::string::npos) << text;
}

}  // namespace

int main(int argc, char** argv)
{
    // A runtime folder of this process's own for the simulated cameras'
    // locks, and the element from the build tree.
    char runtime[] = "/tmp/kwcamsrc-test-XXXXXX";
    if (mkdtemp(runtime) == nullptr)
        return 1;
    setenv("MVSIM_RUNTIME_DIR", runtime, 1);
    // Only the element is needed: no system plug-ins, and the registry
    // scanned in this process, which under the sanitizers carries their
    // runtime (GStreamer's own scanner does not).
    setenv("GST_PLUGIN_PATH", KWGST_ELEMENT_DIR, 1);
    setenv("GST_PLUGIN_SYSTEM_PATH_1_0", "", 1);
    setenv("GST_REGISTRY", KWGST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    unsetenv("MVSIM_CONFIG");
    unsetenv("KWCAM_SDK");
    unsetenv("KWCAM_PLUGIN");
    gst_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDir(QString::fromLocal8Bit(runtime)).removeRecursively();
    return result;
}
