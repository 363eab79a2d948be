// What the checks share: the stand-in's control functions, a recording
// callback, a camera object with its record, the kit's cameras, and probes of
// the process's resources.
#ifndef KWCHECK_HARNESS_H
#define KWCHECK_HARNESS_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "cameraobject.h"
#include "kit.h"
#include "kwhost/framerecorder.h"
#include "kwhost/sdkcontrol.h"
#include "mvsim/control.h"

namespace kwcheck {

// Generous limits: a frame that takes longer than this has not come.
const int kFrameWaitMs = kwhost::kRecorderWaitMs;
// How long a check watches for frames that must not come.
const int kQuietMs = kwhost::kRecorderQuietMs;

// The stand-in's control functions (kwhost::SdkControl, looked up once the
// plug-in has pulled its SDK in) with the shorthands of the checks. find()
// gives null over any other SDK.
class Sim : public kwhost::SdkControl {
public:
    static const Sim* find();

    int device(const QString& key) const { return findDevice(key); }
    using SdkControl::deviceState;
    bool state(int device, MvsimDeviceState* state) const { return deviceState(device, state); }
    MvsimDeviceState state(int device) const;
    MvsimCounters counters(int device) const;
    using SdkControl::counters;
    bool pulse(int device) const { return pulseLine0(device); }
    // Until the device takes the next trigger without losing it; true when
    // it is idle (also false when it does not grab).
    bool waitIdle(int device) const { return SdkControl::waitIdle(device, kFrameWaitMs); }

private:
    Sim() = default;
};

// The function names of a call log, in order ("MV_CC_OpenDevice", ...).
QStringList callNames(const QStringList& log);

using Frame = kwhost::RecordedFrame;
using Recorder = kwhost::FrameRecorder;

// A camera object for one key with a recorder as its callback, deleted at
// the end of the scope unless something deleted it before.
class Session {
public:
    Session(const Context& context, const QString& key);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ICameraObject* operator->() const { return m_camera; }
    ICameraObject* camera() const { return m_camera; }
    bool created() const { return m_camera != nullptr; }

    // IOpenCamera; false with the reason in verdict when it fails.
    bool open(Verdict* verdict);
    // Writes the trigger mode and starts; false with the reason when it fails.
    bool start(int triggerMode, Verdict* verdict);
    // Camera_Delete now, from any thread, once.
    void destroy();
    bool destroyed() const { return m_destroyed.load(); }

    Recorder recorder;
    tagQZ_CAMERA_CONFIG config;

private:
    const Context& m_context;
    ICameraObject* m_camera = nullptr;
    std::atomic<bool> m_destroyed{false};
};

// One software trigger that the device will not lose: over the stand-in it
// first waits until the device is idle. Other SDKs cannot tell when their
// camera takes the next trigger: the trigger goes a few milliseconds after
// every frame announced so far has returned from OnImageReady.
void snapOnce(const Context& context, Session& session);

// One software trigger, then the wait until the session has frame frames.
// Over other SDKs a trigger unanswered for a while is sent again (a camera
// that was not ready yet), counted in resent. sent: when the answered
// trigger went out.
bool triggerFrame(const Context& context, Session& session, size_t frame, int* resent,
                  std::chrono::steady_clock::time_point* sent = nullptr);

// The kit's cameras over the stand-in (see cameras.cpp).
namespace cameras {
extern const char* const kMain;    // Mono8, fast, free-running at 1000 fps
extern const char* const kRate;    // Mono8 at exactly 200 fps
extern const char* const kUnplug;  // pulled out while grabbing
extern const char* const kSecond;  // a second camera of another size
struct Typed {
    const char* key;
    const char* name;  // the device's pixel format name
    unsigned int pixelType;
};
const std::vector<Typed>& typed();  // one fast camera per pixel type
const double kRateFps = 200.0;
const float kExposureMin = 20, kExposureMax = 100000, kExposure = 10000;
const float kGainMin = 0, kGainMax = 24, kGain = 1;
// The stand-in's configuration with these cameras.
QByteArray configuration();
}  // namespace cameras

// The process's open file descriptors and resident memory in bytes.
int openDescriptors();
long long residentBytes();

}  // namespace kwcheck

#endif  // KWCHECK_HARNESS_H
