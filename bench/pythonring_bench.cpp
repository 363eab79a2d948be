// The Python module's frame callback: what pushing one 1280x1024 Mono8 frame
// into the module's ring costs on the SDK's thread (the one copy a frame
// gets), with a consumer taking the frames on another thread as grab() does,
// and with nobody taking them (the ring then gives up its oldest frame).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "framering.h"

namespace {

const size_t kFrameBytes = 1280 * 1024;

void BM_PythonRingPush(benchmark::State& state)
{
    const bool consumer = state.range(0) != 0;
    auto pool = std::make_shared<kwpy::BufferPool>(kFrameBytes, 10);
    kwpy::FrameRing ring(9, pool);
    const std::vector<unsigned char> frame(kFrameBytes, 0x5A);
    std::atomic<bool> done{false};
    std::thread taker;
    if (consumer) {
        taker = std::thread([&]() {
            unsigned char* spare = pool->take();
            kwpy::FrameMeta meta;
            while (!done.load(std::memory_order_relaxed)) {
                if (ring.pop(&spare, &meta, std::chrono::steady_clock::now() + std::chrono::milliseconds(5)) ==
                    kwpy::FrameRing::Taken::Frame)
                    benchmark::DoNotOptimize(spare[0]);
            }
            pool->giveBack(spare);
        });
    }
    kwpy::FrameMeta meta;
    meta.width = 1280;
    meta.height = 1024;
    meta.bytes = kFrameBytes;
    for (auto _ : state)
        ring.push(frame.data(), meta);
    done.store(true);
    ring.close();
    if (taker.joinable())
        taker.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

}  // namespace

BENCHMARK(BM_PythonRingPush)
    ->ArgName("consumer")
    ->Arg(0)
    ->Arg(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
