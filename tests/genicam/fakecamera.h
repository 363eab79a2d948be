// The emulated GigE Vision camera (arv-fake-gv-camera-0.8 on 127.0.0.1) as
// a test fixture, and a host over the unchanged plug-in whose SDK is the
// GenICam SDK this binary links.
#ifndef KWCAM_TESTS_GENICAM_FAKECAMERA_H
#define KWCAM_TESTS_GENICAM_FAKECAMERA_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <QtCore/QString>

#include "cameraobject.h"

namespace gtest_genicam {

constexpr const char* kSerial = "KW01";
// The key the plug-in lists the emulated camera under: model, serial.
constexpr const char* kKey = "Fake KW01";

// One emulated camera process, started with `extraArgs` (e.g. "-r", "20")
// and killed by its pid.
class FakeCamera {
public:
    explicit FakeCamera(std::vector<std::string> extraArgs = {});
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    // Waits until the camera answers discovery; false on time-out.
    bool waitDiscoverable(std::chrono::seconds limit = std::chrono::seconds(15));
    // SIGKILL, and reaps the process.
    void kill();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// Diagonal ramp of the emulated camera at scale 1: ((x + y + frame id) mod
// 255). The frame id is read from pixel (0, 0). Returns the number of pixels
// that differ.
long rampMismatches(const unsigned char* pixels, int width, int height);

// The host's notification object: counts frames, checks each frame's pixels
// against the ramp while the buffer is valid, runs an optional action.
class Frames : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override;
    bool waitFor(int n, std::chrono::milliseconds limit = std::chrono::seconds(10));
    int count() const;
    long mismatches() const { return m_mismatches.load(); }
    int lastWidth() const { return m_width.load(); }
    int lastHeight() const { return m_height.load(); }
    int lastFormat() const { return m_format.load(); }
    // Runs on the stream's thread inside OnImageReady, after the checks and
    // before the frame is counted.
    std::function<void(ICameraObject*)> onFrame;
    bool checkRamp = true;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    int m_count = 0;
    std::atomic<long> m_mismatches{0};
    std::atomic<int> m_width{0}, m_height{0}, m_format{0};
};

// A camera object of the plug-in with its record and callback.
struct Host {
    explicit Host(const QString& key = QString::fromLatin1(kKey));
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ICameraObject* operator->() const { return object; }
    // Camera_Delete now (idempotent).
    void destroy();

    tagQZ_CAMERA_CONFIG config;
    Frames frames;
    ICameraObject* object = nullptr;
};

// Camera_Delete of the loaded plug-in.
void deleteCamera(ICameraObject* object);

// Sets what the ramp needs (GainRaw 0, ExposureTimeAbs 10000) through the
// plug-in's properties.
void unitScale(ICameraObject* camera);

// Runs f on another thread; ends the binary with a message when it does not
// return within `limit`.
void returnsWithin(std::chrono::seconds limit, const char* what, const std::function<void()>& f);

// Starts the holder program: it opens the camera through the plug-in and
// prints "held" or "refused", then waits to be killed (held) or exits 3
// (refused). Returns its pid and the first line it printed.
pid_t startHolder(std::string* line);
// Reaps a child; its exit code, or -signal.
int reap(pid_t pid);

}  // namespace gtest_genicam

#endif  // KWCAM_TESTS_GENICAM_FAKECAMERA_H
