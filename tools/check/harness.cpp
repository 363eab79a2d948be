#include "harness.h"

#include "kwhost/framestamp.h"

#include <QtCore/QDir>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

namespace kwcheck {

const Sim* Sim::find()
{
    static const Sim* found = [] {
        Sim* sim = new Sim;
        if (!sim->canInjectFaults() || !sim->canPulse() || sim->liveHandles() < 0) {
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
    deviceState(device, &state);
    return state;
}

MvsimCounters Sim::counters(int device) const
{
    MvsimCounters counters;
    memset(&counters, 0, sizeof counters);
    SdkControl::counters(device, &counters);
    return counters;
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
    if (readStamps && frame.imageSize > 0)
        frame.stamped = kwhost::readFrameStamp(frame.data, static_cast<quint64>(frame.imageSize), &frame.stampNumber);
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
