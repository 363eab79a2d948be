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
