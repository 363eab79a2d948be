// The simulator's pacing and trigger latency, end to end through the plug-in
// to a host: a 64x8 Mono8 device with instant readout free-running at a set
// frame rate, and a software trigger with 100 us exposure. Intervals and
// latencies come from the stand-in's ledger (delivery start of each frame,
// trigger time), so the host's own waiting does not enter them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "benchhost.h"
#include "mvsim/control.h"

using namespace kwbench;

namespace {

const int kFreeRunning = 2;
const int kSoftware = 4;

int addDevice(double frameRate, bool instant, float exposure)
{
    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "MV-BENCH", "0");
    setup.width = 64;
    setup.height = 8;
    setup.frameRate = frameRate;
    setup.instantTiming = instant ? 1 : 0;
    setup.bandwidthMBps = 0;  // instant readout
    setup.exposure = exposure;
    setup.ledgerSize = 1u << 22;
    // Pacing, not the host's scheduling: enough buffers to ride out a host
    // thread that the machine keeps off its core for a few milliseconds.
    setup.bufferCount = 64;
    return MVSIM_AddDevice(&setup);
}

std::vector<MvsimLedgerEntry> delivered(int id)
{
    std::vector<MvsimLedgerEntry> entries;
    const int n = MVSIM_LedgerSize(id);
    for (int i = 0; i < n; ++i) {
        MvsimLedgerEntry e{};
        if (MVSIM_LedgerEntry(id, i, &e) == 0 && e.fate == MVSIM_FATE_DELIVERED && e.cause != MVSIM_CAUSE_REQUEST)
            entries.push_back(e);
    }
    return entries;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t i = std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5));
    return values[i];
}

// Free-running at the rate of the benchmark's argument, for a second or two.
void BM_Paced(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    DiscardingLog discard;
    const int id = addDevice(rate, true, 10000);
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera->m_nTriggerMode = kFreeRunning;
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        state.SkipWithError("cannot start");
        return;
    }
    const auto window = std::chrono::milliseconds(rate < 1000 ? 3000 : 1500);
    for (auto _ : state)
        std::this_thread::sleep_for(window);
    camera->IStopCamera();
    const std::vector<MvsimLedgerEntry> frames = delivered(id);
    if (frames.size() < 3) {
        state.SkipWithError("too few frames");
        return;
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < frames.size(); ++i)
        intervals.push_back(static_cast<double>(frames[i].deliveryStart - frames[i - 1].deliveryStart) / 1e3);
    const double span = static_cast<double>(frames.back().deliveryStart - frames.front().deliveryStart) / 1e9;
    const double measured = static_cast<double>(frames.size() - 1) / span;
    MvsimCounters counters{};
    MVSIM_GetCounters(id, &counters);
    state.counters["rate_hz"] = rate;
    state.counters["delivered_hz"] = measured;
    state.counters["deviation_pct"] = (measured / rate - 1.0) * 100.0;
    state.counters["p50_us"] = percentile(intervals, 0.50);
    state.counters["p99_us"] = percentile(intervals, 0.99);
    state.counters["lost"] = static_cast<double>(counters.lost);
}

// ISnapCamera with 100 us exposure and instant readout: from the trigger to
// the host's OnImageReady (the plug-in's callback entered).
void BM_TriggerLatency(benchmark::State& state)
{
    DiscardingLog discard;
    const int id = addDevice(0, false, 100);
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera.config.nExposureTime = 100;
    camera->m_nTriggerMode = kSoftware;
    camera.host.notifyWaiters(true);
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        state.SkipWithError("cannot start");
        return;
    }
    for (auto _ : state) {
        const long seen = camera.host.frames();
        camera->ISnapCamera();
        if (!camera.host.waitBeyond(seen)) {
            state.SkipWithError("trigger lost");
            break;
        }
    }
    camera->IStopCamera();
    std::vector<double> latencies;
    double exposure = 0;
    for (const MvsimLedgerEntry& e : delivered(id)) {
        latencies.push_back(static_cast<double>(e.deliveryStart - e.triggerTime) / 1e3);
        exposure += static_cast<double>(e.readoutEnd - e.exposureStart) / 1e3;
    }
    if (latencies.empty())
        return;
    double sum = 0;
    for (double l : latencies)
        sum += l;
    state.counters["mean_us"] = sum / static_cast<double>(latencies.size());
    state.counters["p99_us"] = percentile(latencies, 0.99);
    state.counters["exposure_to_readout_us"] = exposure / static_cast<double>(latencies.size());
}

}  // namespace

BENCHMARK(BM_Paced)->ArgName("rate")->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_TriggerLatency)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
