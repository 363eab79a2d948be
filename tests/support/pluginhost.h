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
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <cstring>
#include <vector>

#include "cameraobject.h"
#include "mvsim/control.h"

namespace kwtest {

using CreateFn = ICameraObject* (*)(tagQZ_CAMERA_CONFIG*, ICameraCallback*);
using DeleteFn = void (*)(ICameraObject*);

// The plug-in, loaded once per process from the build tree.
struct Plugin {
    static Plugin& get();
    void* library = nullptr;
    CreateFn create = nullptr;
    DeleteFn destroy = nullptr;
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
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> all() const;
    // Entries other than the per-frame entry, as "W: text" / "D: text".
    QStringList lines() const;
    int frameEntries() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    mutable std::mutex m_mutex;
    std::vector<LogEntry> m_entries;
    QtMessageHandler m_previous;
};

// A captured line of that level, as LogCapture::lines writes it.
QString warning(const QString& text);
QString debug(const QString& text);

// The stand-in's call log, one string per SDK call.
std::vector<std::string> callLog();
// The call log without the arguments: only the function names.
std::vector<std::string> callNames();

// Snapshot of the frame members taken inside OnImageReady.
struct FrameSnapshot {
    ICameraObject* camera;
    int frameCount;
    unsigned char* imageData;
    int width;
    int height;
    int pixelFormat;
    int bitsPerPixel;
    int imageSize;
    std::thread::id thread;
};

// A host's notification object that records every frame it is told of.
class RecordingCallback : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* pCamera) override;
    // Runs inside OnImageReady after the snapshot, on the delivering thread.
    std::function<void(ICameraObject*)> onFrame;

    std::vector<FrameSnapshot> frames() const;
    int count() const;
    // Waits until at least n frames arrived; false on time-out.
    bool waitForFrames(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<FrameSnapshot> m_frames;
};

// A host-side camera: configuration record, callback and the plug-in's
// object, deleted through Camera_Delete.
struct HostCamera {
    explicit HostCamera(const QString& key = QString(), int pixelFormat = 1, bool withCallback = true);
    ~HostCamera();
    HostCamera(const HostCamera&) = delete;
    HostCamera& operator=(const HostCamera&) = delete;

    ICameraObject* operator->() const { return object; }
    void destroy();  // Camera_Delete now

    tagQZ_CAMERA_CONFIG config;
    RecordingCallback callback;
    ICameraObject* object = nullptr;
};

// A device setup with the stand-in's defaults and the given texts.
MvsimDeviceSetup deviceSetup(const char* model, const char* serial);

// What the stand-in's device holds now (a test failure when it is unknown).
MvsimDeviceState deviceState(int deviceId);

// Empties the stand-in, adds one default device "MV-TEST 0001" and returns
// its id; clears call log and faults.
int resetWithOneDevice();

// Members of an object at the byte offsets the host reads them at.
template <typename T>
T memberAt(const void* object, size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(object) + offset, sizeof value);
    return value;
}

}  // namespace kwtest

#endif  // KWCAM_TESTS_SUPPORT_PLUGINHOST_H
