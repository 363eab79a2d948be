// Test support: drives the plug-in exactly as a host does (dlopen, the two
// entry points, the contract) over the SDK stand-in, and observes what a host
// and the SDK can observe: members, results, the Qt message log and the
// stand-in's call log.
#ifndef KWCAM_TESTS_SUPPORT_PLUGINHOST_H
#define KWCAM_TESTS_SUPPORT_PLUGINHOST_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cameraobject.h"
#include "frameentry.h"
#include "kwhost/framerecorder.h"
#include "mvsim/control.h"
#include "pluginloader.h"
#include "standin.h"

namespace kwtest {

using CreateFn = CameraCreateFunc;
using DeleteFn = CameraDeleteFunc;

// The shipped plug-in, loaded once per process from the build tree.
struct Plugin {
    static const PluginEntries& get();
};

// One entry of the Qt message log as the message handler received it.
struct LogEntry {
    QtMsgType type;
    QString text;
    QString file;
    int line;
    QString function;
    QString category;
};

// Captures the Qt message log while it lives; the handler may run on any
// thread. Entries of the per-frame warning are kept apart so that tests of
// other behaviour can ignore them.
class LogCapture {
public:
    // Count: per-frame entries are only counted, for runs whose frames flow
    // by the hundred thousand.
    enum class FrameEntries { Keep, Count };
    explicit LogCapture(FrameEntries frames = FrameEntries::Keep);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> all() const;
    // Entries other than the per-frame entry, as "W: text" / "D: text".
    QStringList lines() const;
    long frameEntries() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    mutable std::mutex m_mutex;
    std::vector<LogEntry> m_entries;
    long m_frameEntries = 0;
    const FrameEntries m_frames;
    QtMessageHandler m_previous;
};

// A captured line of that level, as LogCapture::lines writes it.
QString warning(const QString& text);
QString debug(const QString& text);

// What the host saw of a frame inside OnImageReady.
using FrameSnapshot = kwhost::RecordedFrame;

// A host's notification object that records every frame it is told of: the
// host layer's recorder, with the hooks HostCamera calls.
class RecordingCallback : public kwhost::FrameRecorder {
public:
    RecordingCallback();
    // What HostCamera tells its callback: the object it serves, and that
    // Camera_Delete returned.
    void attached(ICameraObject*) {}
    void deleted() {}
    // Runs inside OnImageReady once the frame's members are read, before
    // the frame is recorded, on the delivering thread.
    std::function<void(ICameraObject*)> onFrame;

    int count() const { return static_cast<int>(FrameRecorder::count()); }
    // Waits until at least n frames arrived; false on time-out.
    bool waitForFrames(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        return waitFor(static_cast<size_t>(n), static_cast<int>(timeout.count()));
    }
};

// The record a host fills in for a camera of this plug-in.
tagQZ_CAMERA_CONFIG hostConfig(const QString& key, int pixelFormat);

// A host-side camera: configuration record, callback and the plug-in's
// object, deleted through Camera_Delete. The callback is told the object it
// serves (attached) and when Camera_Delete returned (deleted).
template <typename Callback> struct BasicHostCamera {
    explicit BasicHostCamera(const QString& key = QString(), int pixelFormat = 1, bool withCallback = true)
        : config(hostConfig(key, pixelFormat))
    {
        object = Plugin::get().create(&config, withCallback ? &callback : nullptr);
        callback.attached(object);
    }
    ~BasicHostCamera() { destroy(); }
    BasicHostCamera(const BasicHostCamera&) = delete;
    BasicHostCamera& operator=(const BasicHostCamera&) = delete;

    ICameraObject* operator->() const { return object; }
    // Camera_Delete now.
    void destroy()
    {
        Plugin::get().destroy(object);
        object = nullptr;
        callback.deleted();
    }

    tagQZ_CAMERA_CONFIG config;
    Callback callback;
    ICameraObject* object = nullptr;
};

using HostCamera = BasicHostCamera<RecordingCallback>;

// Empties the stand-in, adds one default device "MV-TEST 0001" and returns
// its id; clears call log and faults.
int resetWithOneDevice();

// Members of an object at the byte offsets the host reads them at.
template <typename T> T memberAt(const void* object, size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(object) + offset, sizeof value);
    return value;
}

// A fixture whose cases start from a fresh stand-in: fresh() empties it,
// adds one device from `setup` ("MV-TEST 0001" with the stand-in's defaults
// unless the fixture changes it) and makes a new host camera over it, open
// unless asked otherwise, with the call log cleared. Cases of a table call it
// once per row.
template <typename Base = ::testing::Test> class FreshCameraTest : public Base {
protected:
    void TearDown() override
    {
        host.reset();
        MVSIM_Reset();
    }

    void fresh(bool open = true)
    {
        host.reset();
        MVSIM_Reset();
        device = MVSIM_AddDevice(&setup);
        ASSERT_GE(device, 0);
        host.reset(new HostCamera("MV-TEST 0001"));
        camera = host->object;
        if (open) {
            ASSERT_EQ(camera->IOpenCamera(), 1);
        }
        MVSIM_ClearCallLog();
    }

    MvsimDeviceState deviceState() const { return kwtest::deviceState(device); }

    MvsimDeviceSetup setup = deviceSetup("MV-TEST", "0001");
    int device = -1;
    std::unique_ptr<HostCamera> host;
    ICameraObject* camera = nullptr;
};

}  // namespace kwtest

#endif  // KWCAM_TESTS_SUPPORT_PLUGINHOST_H
