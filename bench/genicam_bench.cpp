// The GenICam SDK over the emulated GigE Vision camera
// (arv-fake-gv-camera-0.8 on 127.0.0.1, started here and killed at exit):
// frames per second through the plug-in against a host written directly on
// Aravis's stream callback, the stream thread's CPU time per frame of each,
// and the latencies from open to first frame and from software trigger to
// frame. Its own binary: it links the GenICam SDK, not the simulator.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arv.h>

#include <QtCore/QLoggingCategory>

#include "cameraobject.h"
#include "mvcameracontrol.h"
#include "pluginloader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kDeviceId = "Aravis-Fake-KWB1";
constexpr const char* kKey = "Fake KWB1";
// Each rate run: long enough for a few thousand frames at the camera's
// highest rate, short enough for make bench.
constexpr auto kWindow = std::chrono::seconds(1);

const kwtest::PluginEntries& plugin()
{
    static const kwtest::PluginEntries loaded = kwtest::loadPluginEntries(KWCAM_PLUGIN_PATH);
    return loaded;
}

void discardMessages(QtMsgType, const QMessageLogContext&, const QString&)
{}

// The emulated camera for the whole run.
class Fake {
public:
    Fake()
    {
        m_pid = fork();
        if (m_pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            execl(KWCAM_FAKE_CAMERA, KWCAM_FAKE_CAMERA, "-i", "127.0.0.1", "-s", "KWB1", static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (!m_ready && Clock::now() < deadline) {
            MV_CC_DEVICE_INFO_LIST list;
            if (MV_CC_EnumDevices(MV_GIGE_DEVICE, &list) == MV_OK)
                for (unsigned int i = 0; i < list.nDeviceNum; ++i)
                    m_ready |= std::strcmp(reinterpret_cast<char*>(list.pDeviceInfo[i]->chSerialNumber), "KWB1") == 0;
        }
        if (m_ready)
            m_ready = highestRate();
    }
    ~Fake()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool ready() const { return m_ready; }

private:
    // The camera's highest frame rate, free-running, unit pixel scale; its
    // registers keep them for the connections that follow.
    static bool highestRate()
    {
        GError* error = nullptr;
        ArvCamera* camera = arv_camera_new(kDeviceId, &error);
        if (camera == nullptr) {
            g_clear_error(&error);
            return false;
        }
        double min = 0, max = 0;
        arv_camera_get_frame_rate_bounds(camera, &min, &max, &error);
        if (error == nullptr)
            arv_camera_set_frame_rate(camera, max, &error);
        if (error == nullptr)
            arv_camera_set_string(camera, "TriggerMode", "Off", &error);
        const bool ok = error == nullptr;
        g_clear_error(&error);
        g_object_unref(camera);
        return ok;
    }
    pid_t m_pid = -1;
    bool m_ready = false;
};

Fake& fake()
{
    static Fake instance;
    return instance;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// What both hosts measure on the stream's thread: frames, and the thread's
// CPU time from the first frame to the last.
struct StreamMeter {
    std::atomic<long> frames{0};
    double firstCpu = 0, lastCpu = 0;
    unsigned long checksum = 0;
    void frame(const unsigned char* pixels)
    {
        const double cpu = threadCpuSeconds();
        if (frames.load(std::memory_order_relaxed) == 0)
            firstCpu = cpu;
        lastCpu = cpu;
        checksum += pixels[0];
        frames.fetch_add(1, std::memory_order_relaxed);
    }
    void report(benchmark::State& state, double seconds) const
    {
        const long n = frames.load();
        state.counters["frames_per_s"] = n / seconds;
        state.counters["stream_cpu_us_per_frame"] = n > 1 ? (lastCpu - firstCpu) * 1e6 / static_cast<double>(n - 1) : 0;
    }
};

// The baseline: Aravis's stream callback and nothing else.
void onDirect(void* user, ArvStreamCallbackType type, ArvBuffer* buffer)
{
    if (type != ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE || buffer == nullptr)
        return;
    auto* meter = static_cast<std::pair<StreamMeter*, ArvStream**>*>(user);
    ArvBuffer* done = arv_stream_try_pop_buffer(*meter->second);
    if (done == nullptr)
        return;
    if (arv_buffer_get_status(done) == ARV_BUFFER_STATUS_SUCCESS) {
        size_t size = 0;
        meter->first->frame(static_cast<const unsigned char*>(arv_buffer_get_image_data(done, &size)));
    }
    arv_stream_push_buffer(*meter->second, done);
}

void BM_GenicamDirectAravis(benchmark::State& state)
{
    if (!fake().ready()) {
        state.SkipWithError("the emulated camera did not start");
        return;
    }
    for (auto _ : state) {
        GError* error = nullptr;
        ArvCamera* camera = arv_camera_new(kDeviceId, &error);
        if (camera == nullptr) {
            g_clear_error(&error);
            state.SkipWithError("cannot open the emulated camera");
            return;
        }
        StreamMeter meter;
        ArvStream* stream = nullptr;
        std::pair<StreamMeter*, ArvStream**> user(&meter, &stream);
        // Under the GenICam SDK's settings: default stream options, the
        // socket buffer sized for the payload, eight buffers.
        arv_camera_set_string(camera, "TriggerMode", "Off", nullptr);
        stream = arv_camera_create_stream(camera, &onDirect, &user, &error);
        if (stream == nullptr) {
            g_clear_error(&error);
            g_object_unref(camera);
            state.SkipWithError("no stream");
            return;
        }
        const guint payload = arv_camera_get_payload(camera, nullptr);
        g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
        for (int i = 0; i < 8; ++i)
            arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
        arv_camera_start_acquisition(camera, nullptr);
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        meter.report(state, seconds);
        arv_camera_stop_acquisition(camera, nullptr);
        g_object_unref(stream);
        g_object_unref(camera);
        g_clear_error(&error);
    }
}

// The GenICam SDK alone: its 21 functions with a callback that meters as the
// baseline's does.
void onSdkFrame(unsigned char* data, _MV_FRAME_OUT_INFO_*, void* user)
{
    static_cast<StreamMeter*>(user)->frame(data);
}

void BM_GenicamSdk(benchmark::State& state)
{
    if (!fake().ready()) {
        state.SkipWithError("the emulated camera did not start");
        return;
    }
    for (auto _ : state) {
        MV_CC_DEVICE_INFO_LIST list;
        void* handle = nullptr;
        StreamMeter meter;
        const MV_CC_DEVICE_INFO* record = nullptr;
        if (MV_CC_EnumDevices(MV_GIGE_DEVICE, &list) == MV_OK)
            for (unsigned int i = 0; i < list.nDeviceNum; ++i)
                if (std::strcmp(reinterpret_cast<char*>(list.pDeviceInfo[i]->chSerialNumber), "KWB1") == 0)
                    record = list.pDeviceInfo[i];
        if (record == nullptr || MV_CC_CreateHandle(&handle, record) != MV_OK ||
            MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0) != MV_OK ||
            MV_CC_RegisterImageCallBack(handle, &onSdkFrame, &meter) != MV_OK ||
            MV_CC_SetEnumValue(handle, "TriggerMode", 0) != MV_OK || MV_CC_StartGrabbing(handle) != MV_OK) {
            if (handle != nullptr)
                MV_CC_DestroyHandle(handle);
            state.SkipWithError("cannot start the emulated camera through the SDK");
            return;
        }
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        meter.report(state, seconds);
        MV_CC_StopGrabbing(handle);
        MV_CC_DestroyHandle(handle);
    }
}

class MeteringHost : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override
    {
        meter.frame(camera->m_pImageData);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_seen;
        }
        if (m_notify.load(std::memory_order_relaxed))
            m_arrived.notify_all();
    }
    // Waits until more than `seen` frames arrived; false after 10 s.
    bool waitBeyond(long seen)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return m_seen > seen; });
    }
    long seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    StreamMeter meter;
    std::atomic<bool> m_notify{false};

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    long m_seen = 0;
};

struct PluginCamera {
    explicit PluginCamera(MeteringHost* host)
    {
        config.nCameraType = CameraTypeHik;
        config.strCameraKey = QString::fromLatin1(kKey);
        config.nPixelFormat = 1;
        object = plugin().create(&config, host);
    }
    ~PluginCamera() { plugin().destroy(object); }
    ICameraObject* operator->() const { return object; }
    tagQZ_CAMERA_CONFIG config{};
    ICameraObject* object = nullptr;
};

void BM_GenicamThroughPlugin(benchmark::State& state)
{
    if (!fake().ready()) {
        state.SkipWithError("the emulated camera did not start");
        return;
    }
    QtMessageHandler previous = qInstallMessageHandler(&discardMessages);
    // The plug-in's per-frame entry off, as a host at full rate runs it: its
    // cost is the frame path benchmark's.
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    for (auto _ : state) {
        MeteringHost host;
        PluginCamera camera(&host);
        camera->m_nTriggerMode = 2;  // free-running
        if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
            state.SkipWithError("cannot start the emulated camera through the plug-in");
            break;
        }
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        host.meter.report(state, seconds);
        camera->ICloseCamera();
    }
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[i];
}

void latencies(benchmark::State& state, const std::vector<double>& us)
{
    double sum = 0;
    for (double v : us)
        sum += v;
    state.counters["mean_us"] = us.empty() ? 0 : sum / static_cast<double>(us.size());
    state.counters["p99_us"] = us.empty() ? 0 : percentile(us, 0.99);
}

// IOpenCamera (an enumeration's second included) + IStartCamera to the first
// OnImageReady.
void BM_GenicamOpenToFirstFrame(benchmark::State& state)
{
    if (!fake().ready()) {
        state.SkipWithError("the emulated camera did not start");
        return;
    }
    QtMessageHandler previous = qInstallMessageHandler(&discardMessages);
    std::vector<double> us;
    for (auto _ : state) {
        MeteringHost host;
        host.m_notify = true;
        PluginCamera camera(&host);
        camera->m_nTriggerMode = 2;  // free-running
        const Clock::time_point start = Clock::now();
        if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1 || !host.waitBeyond(0)) {
            state.SkipWithError("no first frame");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        camera->ICloseCamera();
    }
    latencies(state, us);
    qInstallMessageHandler(previous);
}

// ISnapCamera to OnImageReady; the emulated camera looks for a trigger 25
// times a second, which bounds this from below.
void BM_GenicamTriggerToFrame(benchmark::State& state)
{
    if (!fake().ready()) {
        state.SkipWithError("the emulated camera did not start");
        return;
    }
    QtMessageHandler previous = qInstallMessageHandler(&discardMessages);
    MeteringHost host;
    host.m_notify = true;
    std::vector<double> us;
    {
        PluginCamera camera(&host);
        camera->m_nTriggerMode = 4;  // software
        if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
            state.SkipWithError("cannot start the emulated camera in software trigger");
            qInstallMessageHandler(previous);
            return;
        }
        for (auto _ : state) {
            const long seen = host.seen();
            const Clock::time_point start = Clock::now();
            camera->ISnapCamera();
            if (!host.waitBeyond(seen)) {
                state.SkipWithError("a trigger gave no frame");
                break;
            }
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        camera->ICloseCamera();
    }
    latencies(state, us);
    qInstallMessageHandler(previous);
}

// Five of each rate run; make bench interleaves them, so that drift of the
// machine's load shows in all.
BENCHMARK(BM_GenicamDirectAravis)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenicamSdk)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenicamThroughPlugin)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenicamOpenToFirstFrame)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenicamTriggerToFrame)->Iterations(30)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
