// The frame path in-process: the plug-in's image callback called exactly as
// the SDK's acquisition thread calls it (the pointers it registered, taken
// from the stand-in), on the benchmark's thread, without the stand-in's locks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "benchhost.h"
#include "mvcameracontrol.h"
#include "mvsim/control.h"

using namespace kwbench;

namespace {

using ImageCallback = void (*)(unsigned char*, _MV_FRAME_OUT_INFO_*, void*);

// The floor: what the SDK's callback costs when it only forwards the frame to
// the host, through the same indirect call and one virtual call.
ICameraObject* g_forwardedCamera = nullptr;

void bareForward(unsigned char*, _MV_FRAME_OUT_INFO_*, void* user)
{
    static_cast<ICameraCallback*>(user)->OnImageReady(g_forwardedCamera);
}

// An open camera of `plugin` on a device of its own, and the callback and
// user pointer the plug-in registered for it.
struct OpenCamera {
    explicit OpenCamera(const Plugin& plugin)
    {
        resetWithDevices(1, 640, 480);
        camera = std::make_unique<HostCamera>(plugin, benchKey(0));
        if ((*camera)->IOpenCamera() != 1 || MVSIM_GetImageCallback(0, &callback, &user) != 0 || callback == nullptr) {
            std::fprintf(stderr, "cannot open a camera for the frame path\n");
            std::abort();
        }
    }
    std::unique_ptr<HostCamera> camera;
    ImageCallback callback = nullptr;
    void* user = nullptr;
};

_MV_FRAME_OUT_INFO_ frameInfo(unsigned width, unsigned height)
{
    _MV_FRAME_OUT_INFO_ info{};
    info.nWidth = static_cast<unsigned short>(width);
    info.nHeight = static_cast<unsigned short>(height);
    info.enPixelType = MVSIM_PIXEL_MONO8;
    info.nFrameLen = width * height;
    return info;
}

void runFrames(benchmark::State& state, ImageCallback callback, void* user, unsigned width, unsigned height)
{
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height, 7);
    _MV_FRAME_OUT_INFO_ info = frameInfo(width, height);
    // Called through a pointer the compiler cannot see through, as the SDK does.
    benchmark::DoNotOptimize(callback);
    for (auto _ : state) {
        ++info.nFrameNum;
        callback(pixels.data(), &info, user);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BareForward(benchmark::State& state)
{
    DiscardingLog discard;
    OpenCamera open(shippedPlugin());
    std::vector<unsigned char> pixels(640 * 480, 7);
    g_forwardedCamera = open.camera->object;
    g_forwardedCamera->m_pImageData = pixels.data();
    runFrames(state, &bareForward, static_cast<ICameraCallback*>(&open.camera->host), 640, 480);
    g_forwardedCamera->m_pImageData = nullptr;
}

enum class Build { Shipped, Streamed };
enum class Entry { On, Off };

void BM_FramePath(benchmark::State& state, Build build, Entry entry, unsigned width, unsigned height)
{
    const Plugin& plugin = build == Build::Shipped ? shippedPlugin() : streamedPlugin();
    if (plugin.create == nullptr) {
        state.SkipWithError("this build has no streamed reference plug-in");
        return;
    }
    DiscardingLog discard;
    OpenCamera open(plugin);
    std::unique_ptr<WarningsOff> off(entry == Entry::Off ? new WarningsOff : nullptr);
    runFrames(state, open.callback, open.user, width, height);
}

const int kRepetitions = 5;

}  // namespace

BENCHMARK(BM_BareForward)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, shipped_entry_on, Build::Shipped, Entry::On, 640, 480)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, streamed_entry_on, Build::Streamed, Entry::On, 640, 480)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, shipped_entry_off, Build::Shipped, Entry::Off, 640, 480)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, streamed_entry_off, Build::Streamed, Entry::Off, 640, 480)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, shipped_entry_on_5472x3648, Build::Shipped, Entry::On, 5472, 3648)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FramePath, shipped_entry_off_5472x3648, Build::Shipped, Entry::Off, 5472, 3648)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
