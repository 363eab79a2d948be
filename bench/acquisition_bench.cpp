// End to end through the stand-in: its acquisition threads produce frames as
// fast as the host takes them, through the plug-in to the host's callback.
// The per-frame entry is on and goes to a handler that discards it.
#include <benchmark/benchmark.h>

#include <ctime>

#include <memory>
#include <thread>
#include <vector>

#include "benchhost.h"
#include "mvsim/control.h"

using namespace kwbench;

namespace {

const int kFreeRunning = 2;
const int kSoftware = 4;

// CPU time of the whole process (the stand-in's threads, the plug-in and the
// host's callback): per frame, a figure that a busy machine moves far less
// than the frame rate.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void check(benchmark::State& state, bool ok, const char* what)
{
    if (!ok)
        state.SkipWithError(what);
}

// Aggregate frames per second of `cameras` free-running cameras.
void BM_FreeRunning(benchmark::State& state)
{
    const int cameras = static_cast<int>(state.range(0));
    const unsigned width = static_cast<unsigned>(state.range(1));
    const unsigned height = static_cast<unsigned>(state.range(2));
    DiscardingLog discard;
    resetWithDevices(cameras, width, height);
    std::vector<std::unique_ptr<HostCamera>> hosts;
    for (int i = 0; i < cameras; ++i) {
        hosts.push_back(std::make_unique<HostCamera>(shippedPlugin(), benchKey(i)));
        (*hosts.back())->m_nTriggerMode = kFreeRunning;
        if ((*hosts.back())->IOpenCamera() != 1 || (*hosts.back())->IStartCamera() != 1) {
            state.SkipWithError("cannot start a camera");
            return;
        }
    }
    auto total = [&] {
        long n = 0;
        for (const auto& h : hosts)
            n += h->host.frames();
        return n;
    };
    const long before = total();
    const double cpuBefore = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long frames = total() - before;
    const double cpuSeconds = processCpuSeconds() - cpuBefore;
    for (const auto& h : hosts)
        (*h)->IStopCamera();
    state.counters["frames_per_s"] = frames / seconds;
    state.counters["per_camera"] = frames / seconds / cameras;
    state.counters["MB_per_s"] = frames / seconds * width * height / 1e6;
    state.counters["cpu_ns_per_frame"] = frames > 0 ? cpuSeconds / frames * 1e9 : 0.0;
}

// From IOpenCamera to the first OnImageReady of a free-running camera.
void BM_OpenToFirstFrame(benchmark::State& state)
{
    DiscardingLog discard;
    resetWithDevices(1, 1280, 1024);
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera->m_nTriggerMode = kFreeRunning;
    camera.host.notifyWaiters(true);
    for (auto _ : state) {
        const long seen = camera.host.frames();
        const Clock::time_point start = Clock::now();
        const bool ok = camera->IOpenCamera() == 1 && camera->IStartCamera() == 1 && camera.host.waitBeyond(seen);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        check(state, ok, "no first frame");
        camera->ICloseCamera();
    }
}

// IStopCamera while frames flow: waits for the frame in the host's hands and
// joins the acquisition thread.
void BM_StopWhileFreeRunning(benchmark::State& state)
{
    DiscardingLog discard;
    resetWithDevices(1, 1280, 1024);
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera->m_nTriggerMode = kFreeRunning;
    camera.host.notifyWaiters(true);
    if (camera->IOpenCamera() != 1) {
        state.SkipWithError("cannot open");
        return;
    }
    for (auto _ : state) {
        const long seen = camera.host.frames();
        check(state, camera->IStartCamera() == 1 && camera.host.waitBeyond(seen + 2), "no frames");
        const Clock::time_point start = Clock::now();
        camera->IStopCamera();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// ISnapCamera to OnImageReady, through the stand-in's trigger and thread.
void BM_SoftwareTriggerRoundTrip(benchmark::State& state)
{
    DiscardingLog discard;
    resetWithDevices(1, 1280, 1024);
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera->m_nTriggerMode = kSoftware;
    camera.host.notifyWaiters(true);
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        state.SkipWithError("cannot start");
        return;
    }
    for (auto _ : state) {
        const bool idle = MVSIM_WaitIdle(0, 10000) == 0;
        const long seen = camera.host.frames();
        const Clock::time_point start = Clock::now();
        camera->ISnapCamera();
        const bool arrived = camera.host.waitBeyond(seen);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        check(state, idle && arrived, "trigger lost");
    }
}

}  // namespace

BENCHMARK(BM_FreeRunning)
    ->ArgNames({"cameras", "width", "height"})
    ->ArgsProduct({{1, 2, 4, 8}, {64}, {48}})
    ->ArgsProduct({{1, 2, 4, 8}, {1280}, {1024}})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenToFirstFrame)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StopWhileFreeRunning)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SoftwareTriggerRoundTrip)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
