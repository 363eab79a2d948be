// What the benchmarks share: the plug-in loaded as a host loads it, a host's
// camera over the stand-in, and a message handler that discards.
#ifndef KWCAM_BENCH_BENCHHOST_H
#define KWCAM_BENCH_BENCHHOST_H

#include <QtCore/QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cameraobject.h"
#include "pluginloader.h"

namespace kwbench {

using Plugin = kwtest::PluginEntries;

// The shipped plug-in; aborts when it cannot be loaded.
const Plugin& shippedPlugin();
// The build with the streamed per-frame entry; null members when this build
// has none.
const Plugin& streamedPlugin();

// Installs a message handler that drops every message, for as long as it
// lives: the frame entry is built and handed over, and costs no output.
class DiscardingLog {
public:
    DiscardingLog();
    ~DiscardingLog();

private:
    QtMessageHandler m_previous;
};

// The default category's warnings switched off while it lives.
class WarningsOff {
public:
    WarningsOff();
    ~WarningsOff();
};

// A host's callback doing what a minimal host does: read a member and a
// pixel. Counts frames and lets a thread wait for a count.
class CountingHost : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override;
    long frames() const { return m_frames.load(std::memory_order_relaxed); }
    // Waits until more than `seen` frames arrived; false after 10 s.
    bool waitBeyond(long seen);
    unsigned long checksum() const { return m_checksum; }
    void notifyWaiters(bool on) { m_notify = on; }

private:
    std::atomic<long> m_frames{0};
    unsigned long m_checksum = 0;
    std::atomic<bool> m_notify{false};
    std::mutex m_mutex;
    std::condition_variable m_arrived;
};

// A camera object of a plug-in with its record and callback.
struct HostCamera {
    HostCamera(const Plugin& plugin, const QString& key);
    ~HostCamera();
    HostCamera(const HostCamera&) = delete;
    HostCamera& operator=(const HostCamera&) = delete;
    ICameraObject* operator->() const { return object; }

    const Plugin& plugin;
    tagQZ_CAMERA_CONFIG config{};
    CountingHost host;
    ICameraObject* object = nullptr;
};

// Empties the stand-in and adds `count` devices "MV-BENCH <i>" of the given
// geometry, free-running as fast as the host takes frames.
void resetWithDevices(int count, unsigned width, unsigned height);
QString benchKey(int i);

using Clock = std::chrono::steady_clock;

}  // namespace kwbench

#endif  // KWCAM_BENCH_BENCHHOST_H
