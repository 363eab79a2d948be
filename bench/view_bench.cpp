// The viewer's frame callback against kwcam grab's, over one 1280x1024 Mono8
// camera free-running as fast as the host takes frames: frames delivered per
// second with each callback, the viewer's display painting meanwhile on a
// thread of its own at 60 Hz; and what the viewer's copy into its triple
// buffer costs per frame.
#include <benchmark/benchmark.h>

#include <QtGui/QImage>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "benchhost.h"
#include "frameconvert.h"
#include "framereceiver.h"
#include "kwhost/selfpipe.h"
#include "mvsim/control.h"
#include "viewreceiver.h"

using namespace kwbench;

namespace {

const unsigned kWidth = 1280;
const unsigned kHeight = 1024;

// The display's side as the window runs it: at the screen's rate, take the
// newest frame, convert it and count its histogram.
class Painter {
public:
    explicit Painter(kwview::ViewReceiver& receiver) : m_receiver(receiver), m_thread([this]() { run(); }) {}
    ~Painter()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    long painted() const { return m_painted.load(std::memory_order_relaxed); }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto next = Clock::now();
        while (!m_stop) {
            next += std::chrono::microseconds(16667);
            m_wake.wait_until(lock, next, [this]() { return m_stop; });
            const kwview::FrameSlot* slot = m_receiver.latest().takeNewest();
            if (slot == nullptr)
                continue;
            const QImage image = kwview::toDisplayImage(slot->view(), kwview::DisplayOptions());
            const kwview::Histogram histogram = kwview::computeHistogram(slot->view());
            benchmark::DoNotOptimize(image.constBits());
            benchmark::DoNotOptimize(histogram.peak());
            m_painted.fetch_add(1, std::memory_order_relaxed);
        }
    }

    kwview::ViewReceiver& m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<long> m_painted{0};
    std::thread m_thread;
};

// Frames per second delivered to a callback over the benchmark's iterations.
template <typename Count> void measureDelivery(benchmark::State& state, ICameraCallback* callback, Count count)
{
    resetWithDevices(1, kWidth, kHeight);
    tagQZ_CAMERA_CONFIG config{};
    config.nCameraType = CameraTypeHik;
    config.strCameraKey = benchKey(0);
    config.nPixelFormat = CameraPixelFormatGray8;
    ICameraObject* camera = shippedPlugin().create(&config, callback);
    camera->m_nTriggerMode = CameraTriggerModeFreeRun;
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        shippedPlugin().destroy(camera);
        state.SkipWithError("cannot start the camera");
        return;
    }
    const quint64 before = count();
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const quint64 frames = count() - before;
    camera->IStopCamera();
    shippedPlugin().destroy(camera);
    state.counters["frames_per_s"] = static_cast<double>(frames) / seconds;
}

void BM_ViewerDelivery_Grab(benchmark::State& state)
{
    DiscardingLog discard;
    kwhost::SelfPipe wakeup;
    kwcam::FrameReceiver receiver(std::numeric_limits<quint64>::max(), kwhost::PixelLayout::Gray8,
                                  kwcam::FrameReceiver::SaveMode::None, wakeup);
    measureDelivery(state, &receiver, [&receiver]() { return receiver.framesSoFar(); });
}

void BM_ViewerDelivery_View(benchmark::State& state)
{
    DiscardingLog discard;
    kwview::ViewReceiver receiver;
    receiver.setDeviceFormat(kwhost::PixelLayout::Gray8, kwview::BayerPattern::None);
    Painter painter(receiver);
    measureDelivery(state, &receiver, [&receiver]() { return receiver.frames(); });
    state.counters["painted_per_s"] =
        benchmark::Counter(static_cast<double>(painter.painted()), benchmark::Counter::kIsRate);
}

// A camera object that only describes a frame: the callback's own cost,
// without the SDK.
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

// The viewer's callback copying every frame into the triple buffer (as it
// does whenever the display has taken the previous copy).
void BM_ViewerCallbackCopy(benchmark::State& state)
{
    tagQZ_CAMERA_CONFIG config{};
    StillFrame frame(&config);
    kwview::ViewReceiver receiver;
    receiver.setDeviceFormat(kwhost::PixelLayout::Gray8, kwview::BayerPattern::None);
    receiver.setCopyEveryFrame(true);
    for (auto _ : state)
        receiver.OnImageReady(&frame);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

}  // namespace

BENCHMARK(BM_ViewerDelivery_Grab)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerDelivery_View)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerCallbackCopy)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

namespace {

// What the display spends on one painted frame: conversion and histogram.
void BM_ViewerPaint(benchmark::State& state)
{
    const std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight, 0x5A);
    kwview::FrameView frame;
    frame.data = pixels.data();
    frame.width = static_cast<int>(kWidth);
    frame.height = static_cast<int>(kHeight);
    frame.layout = kwhost::PixelLayout::Gray8;
    for (auto _ : state) {
        const QImage image = kwview::toDisplayImage(frame, kwview::DisplayOptions());
        const kwview::Histogram histogram = kwview::computeHistogram(frame);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::DoNotOptimize(histogram.peak());
    }
}

}  // namespace

BENCHMARK(BM_ViewerPaint)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
