// Replay of recorded pictures: decoding a folder of 1280x1024 PNG pictures
// on one core, and the stand-in's loader streaming the same folder through
// a cache that holds only a few of them.
#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtGui/QImage>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchhost.h"
#include "mvsim/control.h"
#include "picture.h"
#include "pictureconvert.h"
#include "picturefeed.h"
#include "replaybench.h"

namespace kwbench {

namespace {

// Grey pictures as a line camera takes them: a smooth scene with sensor
// noise in the low bits, so that PNG compresses them as little as it does
// real ones.
QImage recordedPicture(unsigned index, int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    unsigned noise = 2166136261u ^ index;
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[x] = static_cast<uchar>(((x + 2 * y + 5 * static_cast<int>(index)) >> 3) + ((noise >> 28) & 7));
        }
    }
    return image;
}

}  // namespace

const ReplayFolder& replayFolder()
{
    static const ReplayFolder folder = [] {
        ReplayFolder f;
        f.dir = std::make_shared<QTemporaryDir>();
        for (unsigned i = 0; i < ReplayFolder::count; ++i) {
            const QString path = f.dir->filePath(QStringLiteral("shot-%1.png").arg(i, 4, 10, QLatin1Char('0')));
            // Light compression: writing the folder is not what is measured.
            recordedPicture(i, ReplayFolder::width, ReplayFolder::height).save(path, "png", 90);
            f.files.push_back(path.toStdString());
        }
        return f;
    }();
    return folder;
}

namespace {

// Decode and conversion of each picture in turn on the benchmark's thread:
// the single-core rate the streaming loader is compared with.
void BM_PictureDecodeOneCore(benchmark::State& state)
{
    const ReplayFolder& folder = replayFolder();
    std::vector<unsigned char> frame(
        mvsim::convertedFrameBytes(ReplayFolder::width, ReplayFolder::height, MVSIM_PIXEL_MONO8));
    std::size_t next = 0;
    long pictures = 0;
    for (auto _ : state) {
        mvsim::Picture picture;
        std::string reason;
        if (!mvsim::decodePicture(folder.files[next], &picture, &reason)) {
            state.SkipWithError(reason.c_str());
            return;
        }
        mvsim::convertPicture(picture, MVSIM_PIXEL_MONO8, frame.data());
        benchmark::DoNotOptimize(frame.data());
        next = (next + 1) % folder.files.size();
        ++pictures;
    }
    state.counters["pictures_per_s"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}

// The device's loader streaming the folder through a cache of 8 pictures:
// each turn takes the next picture as soon as it is decoded.
void BM_ReplayStreaming(benchmark::State& state)
{
    const ReplayFolder& folder = replayFolder();
    mvsim::PictureFeed::Setup setup;
    setup.files = folder.files;
    setup.width = ReplayFolder::width;
    setup.height = ReplayFolder::height;
    setup.pixelType = MVSIM_PIXEL_MONO8;
    setup.loop = true;
    setup.cacheBytes = 8 * mvsim::convertedFrameBytes(setup.width, setup.height, setup.pixelType);
    mvsim::PictureFeed feed(setup);
    const std::atomic<bool> cancel{false};
    long pictures = 0;
    for (auto _ : state) {
        std::size_t index = 0;
        feed.claim(&index);
        const mvsim::PictureFeed::Next next = feed.take(index, cancel);
        benchmark::DoNotOptimize(next.frame.get());
        ++pictures;
    }
    state.counters["pictures_per_s"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    state.counters["waits"] = static_cast<double>(feed.stats().waits);
}

// Frames per second through the plug-in to a host, instant timing, as fast
// as the host takes them: the pattern device (replay 0) and a device
// replaying the folder from its cache (replay 1), warmed up first so that
// every picture is decoded. Replay 3 and 4 are 1 and 2 with shared frames.
void BM_CachedReplay(benchmark::State& state)
{
    const bool replay = state.range(0) != 0;
    const bool shared = state.range(0) >= 3;
    const ReplayFolder& folder = replayFolder();
    DiscardingLog discard;
    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "MV-BENCH", "0");
    setup.width = ReplayFolder::width;
    setup.height = ReplayFolder::height;
    setup.frameRate = 0;
    // replay 2 and 4: the first four pictures only, a folder small enough to
    // stay in the processor's caches.
    std::string images = folder.dir->path().toStdString();
    if (state.range(0) == 2 || state.range(0) == 4) {
        images = folder.dir->filePath(QStringLiteral("four")).toStdString();
        if (QDir(folder.dir->path()).mkpath(QStringLiteral("four")))
            for (int i = 0; i < 4; ++i)
                QFile::copy(QString::fromStdString(folder.files[i]),
                            QString::fromStdString(images + "/" + std::to_string(i) + ".png"));
    }
    if (replay)
        setup.images = images.c_str();
    setup.sharePictures = shared ? 1 : 0;
    if (MVSIM_AddDevice(&setup) < 0) {
        state.SkipWithError("the stand-in refused the device");
        return;
    }
    HostCamera camera(shippedPlugin(), benchKey(0));
    camera->m_nTriggerMode = 2;  // free-running
    camera.host.notifyWaiters(true);
    if (camera->IOpenCamera() != 1 || camera->IStartCamera() != 1) {
        state.SkipWithError("cannot start the camera");
        return;
    }
    // Through the folder once: every picture decoded into the cache.
    if (!camera.host.waitBeyond(static_cast<long>(ReplayFolder::count) + 10)) {
        state.SkipWithError("no frames");
        return;
    }
    const long before = camera.host.frames();
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long frames = camera.host.frames() - before;
    camera->IStopCamera();
    state.counters["frames_per_s"] = frames / seconds;
}

}  // namespace

}  // namespace kwbench

BENCHMARK(kwbench::BM_CachedReplay)
    ->ArgName("replay")
    ->DenseRange(0, 4)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kwbench::BM_PictureDecodeOneCore)->UseRealTime()->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(kwbench::BM_ReplayStreaming)->UseRealTime()->Iterations(200)->Unit(benchmark::kMillisecond);
