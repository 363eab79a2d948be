#include "harness.h"

#include <QtCore/QDir>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

namespace kwcheck {

namespace {

template <typename Function> void lookUp(Function* function, const char* name)
{
    *function = reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

const Sim* Sim::find()
{
    static const Sim* found = [] {
        Sim* sim = new Sim;
        lookUp(&sim->m_failCall, "MVSIM_FailCall");
        lookUp(&sim->m_clearFaults, "MVSIM_ClearFaults");
        lookUp(&sim->m_callLogSize, "MVSIM_CallLogSize");
        lookUp(&sim->m_callLogEntry, "MVSIM_CallLogEntry");
        lookUp(&sim->m_clearCallLog, "MVSIM_ClearCallLog");
        lookUp(&sim->m_liveHandles, "MVSIM_LiveHandles");
        lookUp(&sim->m_unplug, "MVSIM_UnplugDevice");
        lookUp(&sim->m_waitIdle, "MVSIM_WaitIdle");
        const bool complete = sim->m_failCall && sim->m_clearFaults && sim->m_callLogSize && sim->m_callLogEntry &&
            sim->m_clearCallLog && sim->m_liveHandles && sim->m_unplug && sim->m_waitIdle && sim->m_control.canPulse();
        if (!complete) {
            delete sim;
            return static_cast<const Sim*>(nullptr);
        }
        return static_cast<const Sim*>(sim);
    }();
    return found;
}

MvsimDeviceState Sim::state(int device) const
{
    MvsimDeviceState state;
    memset(&state, 0, sizeof state);
    m_control.deviceState(device, &state);
    return state;
}

MvsimCounters Sim::counters(int device) const
{
    MvsimCounters counters;
    memset(&counters, 0, sizeof counters);
    m_control.counters(device, &counters);
    return counters;
}

bool Sim::waitIdle(int device) const
{
    return m_waitIdle(device, kFrameWaitMs) == MVSIM_OK;
}

QStringList Sim::callLog() const
{
    QStringList log;
    const int size = m_callLogSize();
    for (int i = 0; i < size; ++i) {
        char entry[256];
        if (m_callLogEntry(i, entry, sizeof entry) >= 0)
            log.append(QString::fromUtf8(entry));
    }
    return log;
}

QStringList callNames(const QStringList& log)
{
    QStringList names;
    for (const QString& entry : log)
        names.append(entry.section(QLatin1Char(' '), 0, 0));
    return names;
}

void Recorder::OnImageReady(ICameraObject* camera)
{
    if (m_closed.load()) {
        // The object may be gone: touch nothing of it.
        m_late.fetch_add(1);
        return;
    }
    Frame frame;
    frame.at = std::chrono::steady_clock::now();
    frame.camera = camera;
    frame.frameCount = camera->m_nFrameCount;
    frame.width = camera->m_nWidth;
    frame.height = camera->m_nHeight;
    frame.imageSize = camera->m_nImageSize;
    frame.bitsPerPixel = camera->m_nBitsPerPixel;
    frame.pixelFormat = camera->m_nPixelFormat;
    frame.data = camera->m_pImageData;
    if (readStamps && frame.data != nullptr && frame.imageSize >= static_cast<int>(sizeof(MvsimFrameStamp))) {
        MvsimFrameStamp stamp;
        memcpy(&stamp, frame.data, sizeof stamp);
        frame.stamped = stamp.magic == MVSIM_STAMP_MAGIC;
        frame.stampNumber = stamp.frameNumber;
    }
    if (keepBytes > 0 && frame.data != nullptr && frame.imageSize > 0) {
        const size_t bytes = static_cast<size_t>(qMin(keepBytes, frame.imageSize));
        std::vector<unsigned char> entry(frame.data, frame.data + bytes);
        // Holding the frame a moment gives a writer of the buffer the time
        // to show itself.
        std::this_thread::sleep_for(keepFor);
        frame.pixelsKept = memcmp(entry.data(), frame.data, bytes) == 0;
    }
    int index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(frame);
        index = static_cast<int>(m_frames.size());
    }
    m_arrived.notify_all();
    if (hook)
        hook(camera, index);
    // The camera may be gone now: only the recorder is touched.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_returned;
    }
    m_arrived.notify_all();
}

bool Recorder::waitReturned(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_returned >= m_frames.size(); });
}

size_t Recorder::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

std::vector<Frame> Recorder::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

bool Recorder::waitFor(size_t n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_frames.size() >= n; });
}

bool Recorder::staysQuiet(int quietMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t before = m_frames.size();
    const int lateBefore = m_late.load();
    // A frame ends the wait early: the answer is known.
    m_arrived.wait_for(lock, std::chrono::milliseconds(quietMs), [&] { return m_frames.size() != before; });
    return m_frames.size() == before && m_late.load() == lateBefore;
}

Session::Session(const Context& context, const QString& key) : config(kwhost::emptyConfig()), m_context(context)
{
    config.strCameraKey = key;
    m_camera = m_context.plugin->create(&config, &recorder);
}

Session::~Session()
{
    destroy();
}

bool Session::open(Verdict* verdict)
{
    if (!verdict->expect(m_camera != nullptr, QStringLiteral("Camera_Create returned null")))
        return false;
    const int result = m_camera->IOpenCamera();
    return verdict->expect(result == 1 && m_camera->m_bOpened,
                           QStringLiteral("IOpenCamera(\"%1\") gave %2, m_bOpened %3")
                               .arg(config.strCameraKey)
                               .arg(result)
                               .arg(m_camera->m_bOpened));
}

bool Session::start(int triggerMode, Verdict* verdict)
{
    m_camera->m_nTriggerMode = triggerMode;
    const int result = m_camera->IStartCamera();
    return verdict->expect(result == 1,
                           QStringLiteral("IStartCamera in trigger mode %1 gave %2").arg(triggerMode).arg(result));
}

void Session::destroy()
{
    if (m_camera == nullptr || m_destroyed.exchange(true))
        return;
    m_context.plugin->destroy(m_camera);
}

void snapOnce(const Context& context, Session& session)
{
    if (context.sim != nullptr) {
        context.sim->waitIdle(context.sim->device(session.config.strCameraKey));
    } else if (session.recorder.count() > 0) {
        session.recorder.waitReturned();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    session->ISnapCamera();
}

bool triggerFrame(const Context& context, Session& session, size_t frame, int* resent,
                  std::chrono::steady_clock::time_point* sent)
{
    std::chrono::steady_clock::time_point at;
    auto send = [&] {
        snapOnce(context, session);
        at = std::chrono::steady_clock::now();
    };
    send();
    bool arrived = context.sim != nullptr ? session.recorder.waitFor(frame) : false;
    const int patienceMs = 500;
    for (int attempt = 0; context.sim == nullptr && !arrived && attempt < 3; ++attempt) {
        arrived = session.recorder.waitFor(frame, patienceMs);
        if (!arrived) {
            ++*resent;
            send();
        }
    }
    if (context.sim == nullptr && !arrived)
        arrived = session.recorder.waitFor(frame);
    if (sent != nullptr)
        *sent = at;
    return arrived;
}

int openDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

long long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace kwcheck
