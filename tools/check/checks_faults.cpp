// Faults: every SDK call that an operation makes is made to fail once, in
// turn. The operation must report the failure, leave no SDK handle behind
// and work at the next attempt. And a camera pulled out while grabbing.
#include <QtCore/QSet>

#include "harness.h"

namespace kwcheck {

namespace {

const int kInjected = MVSIM_E_RESOURCE;

struct Operation {
    const char* name;
    // Brings a fresh object to the state before the operation.
    bool (*prepare)(const Context&, Session&, Verdict*);
    // Performs it; true when it reported success and took effect. hoping
    // tells whether success is due (wait for frames the full time).
    bool (*perform)(const Context&, Session&, bool hoping);
    // After a failure: the object's own report agrees with the device.
    QString (*afterFailure)(const Context&, Session&);
    // SDK calls whose failure the operation may pass over.
    QStringList tolerated;
};

int deviceOf(const Context& context, const Session& session)
{
    return context.sim->device(session.config.strCameraKey);
}

bool prepareNothing(const Context&, Session& session, Verdict* verdict)
{
    return verdict->expect(session.created(), QStringLiteral("Camera_Create returned null"));
}

bool prepareSoftwareStart(const Context&, Session& session, Verdict* verdict)
{
    if (!session.open(verdict))
        return false;
    session->m_nTriggerMode = CameraTriggerModeSoftware;
    return true;
}

bool prepareGrabbing(const Context&, Session& session, Verdict* verdict)
{
    return session.open(verdict) && session.start(CameraTriggerModeFreeRun, verdict) &&
        verdict->expect(session.recorder.waitFor(1), QStringLiteral("no frame while free-running"));
}

bool prepareLineTriggered(const Context&, Session& session, Verdict* verdict)
{
    return session.open(verdict) && session.start(CameraTriggerModeHardware, verdict);
}

bool performOpen(const Context& context, Session& session, bool)
{
    return session->IOpenCamera() == 1 && session->m_bOpened &&
        context.sim->state(deviceOf(context, session)).openHandles == 1;
}

QString openFailure(const Context& context, Session& session)
{
    if (session->m_bOpened)
        return QStringLiteral("m_bOpened is set");
    if (context.sim->state(deviceOf(context, session)).openHandles != 0)
        return QStringLiteral("the device was left open");
    return QString();
}

bool performStart(const Context& context, Session& session, bool hoping)
{
    if (session->IStartCamera() != 1 || !session->m_bGrabbing)
        return false;
    // The trigger mode took effect: one trigger, one frame.
    const size_t before = session.recorder.count();
    snapOnce(context, session);
    return session.recorder.waitFor(before + 1, hoping ? kFrameWaitMs : kQuietMs);
}

QString startFailure(const Context& context, Session& session)
{
    const bool grabbing = context.sim->state(deviceOf(context, session)).grabbing != 0;
    if (session->m_bGrabbing != grabbing)
        return QStringLiteral("m_bGrabbing is %1 while the device %2")
            .arg(session->m_bGrabbing)
            .arg(grabbing ? "grabs" : "does not grab");
    return QString();
}

bool performStop(const Context& context, Session& session, bool)
{
    session->IStopCamera();
    return !session->m_bGrabbing && !context.sim->state(deviceOf(context, session)).grabbing;
}

bool performSnap(const Context& context, Session& session, bool hoping)
{
    const size_t before = session.recorder.count();
    snapOnce(context, session);
    return session.recorder.waitFor(before + 1, hoping ? kFrameWaitMs : kQuietMs);
}

QString noFailureEffect(const Context&, Session&)
{
    return QString();
}

// The device keeps its values from one object to the next: each run starts
// from another value than the one the operation sets.
template <int Property, int Baseline> bool prepareSet(const Context&, Session& session, Verdict* verdict)
{
    tagQZ_CAMERA_PROPERTY record = {Property, Baseline};
    return session.open(verdict) &&
        verdict->expect(session->ISetProperty(&record),
                        QStringLiteral("property %1 to %2 refused").arg(Property).arg(Baseline));
}

// A property operation sets a value the device does not hold yet.
template <int Property, int Value> bool performSet(const Context& context, Session& session, bool)
{
    tagQZ_CAMERA_PROPERTY record = {Property, Value};
    if (!session->ISetProperty(&record))
        return false;
    const MvsimDeviceState state = context.sim->state(deviceOf(context, session));
    switch (Property) {
    case CameraPropertyExposureTime:
        return state.exposure == static_cast<float>(Value);
    case CameraPropertyGain:
        return state.gain == static_cast<float>(Value);
    default:
        return state.balanceRatioRed == static_cast<unsigned int>(Value);
    }
}

template <int Property, int Value> QString setFailure(const Context& context, Session& session)
{
    const MvsimDeviceState state = context.sim->state(deviceOf(context, session));
    const bool reached = Property == CameraPropertyExposureTime ? state.exposure == static_cast<float>(Value)
        : Property == CameraPropertyGain                        ? state.gain == static_cast<float>(Value)
                                         : state.balanceRatioRed == static_cast<unsigned int>(Value);
    return reached ? QStringLiteral("the value reached the device") : QString();
}

// Every call of a clean run, each failing once in a run of its own.
Outcome failEachCall(Context& context, const std::vector<Operation>& operations)
{
    Verdict verdict;
    QStringList tried;
    for (const Operation& op : operations) {
        QStringList calls;
        {
            Session clean(context, context.key);
            if (!op.prepare(context, clean, &verdict))
                return verdict.outcome();
            context.sim->clearCallLog();
            if (!verdict.expect(op.perform(context, clean, true),
                                QStringLiteral("%1 failed without a fault").arg(op.name)))
                return verdict.outcome();
            calls = callNames(context.sim->callLog());
        }
        QHash<QString, unsigned int> seen;
        for (const QString& call : calls) {
            const unsigned int nth = ++seen[call];
            const QString what = QStringLiteral("%1 with call %2 of %3 failing").arg(op.name).arg(nth).arg(call);
            const int handles = context.sim->liveHandles();
            {
                Session session(context, context.key);
                if (!op.prepare(context, session, &verdict))
                    return verdict.outcome();
                const QByteArray name = call.toLatin1();
                context.sim->failCall(name.constData(), nth, kInjected);
                const bool succeeded = op.perform(context, session, false);
                context.sim->clearFaults();
                if (succeeded) {
                    if (!op.tolerated.contains(call))
                        verdict.warnAbout(what + QStringLiteral(": reported success"));
                } else {
                    const QString wrong = op.afterFailure(context, session);
                    verdict.expect(wrong.isEmpty(), what + QStringLiteral(": ") + wrong);
                }
                verdict.expect(op.perform(context, session, true), what + QStringLiteral(": the next attempt failed"));
            }
            verdict.expect(
                context.sim->liveHandles() == handles,
                what + QStringLiteral(": %1 SDK handles left behind").arg(context.sim->liveHandles() - handles));
            tried.append(call);
        }
    }
    verdict.note(QStringLiteral("%1 calls failed in turn: %2").arg(tried.size()).arg(tried.join(QStringLiteral(", "))));
    return verdict.outcome();
}

Outcome openFaults(Context& context)
{
    return failEachCall(context, {{"open", prepareNothing, performOpen, openFailure, {}}});
}

Outcome startFaults(Context& context)
{
    return failEachCall(context, {{"start", prepareSoftwareStart, performStart, startFailure, {}}});
}

Outcome stopFaults(Context& context)
{
    return failEachCall(context, {{"stop", prepareGrabbing, performStop, startFailure, {}}});
}

Outcome snapFaults(Context& context)
{
    return failEachCall(context, {{"snap", prepareLineTriggered, performSnap, noFailureEffect, {}}});
}

Outcome propertyFaults(Context& context)
{
    // Leaving automatic exposure may fail without harm: the value is still set.
    const QStringList autoExposure{QStringLiteral("MV_CC_SetExposureAutoMode")};
    return failEachCall(
        context,
        {{"set exposure", prepareSet<CameraPropertyExposureTime, 10000>, performSet<CameraPropertyExposureTime, 5000>,
          setFailure<CameraPropertyExposureTime, 5000>, autoExposure},
         {"set gain", prepareSet<CameraPropertyGain, 1>, performSet<CameraPropertyGain, 7>,
          setFailure<CameraPropertyGain, 7>, autoExposure},
         {"set red ratio",
          prepareSet<CameraPropertyBalanceRatioRed, 1000>,
          performSet<CameraPropertyBalanceRatioRed, 1500>,
          setFailure<CameraPropertyBalanceRatioRed, 1500>,
          {}}});
}

Outcome unplugWhileGrabbing(Context& context)
{
    Verdict verdict;
    const QString key = QString::fromLatin1(cameras::kUnplug);
    const int handles = context.sim->liveHandles();
    {
        Session session(context, key);
        if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
            return verdict.outcome();
        verdict.expect(session.recorder.waitFor(10), QStringLiteral("fewer than 10 frames before the unplug"));
        verdict.expect(context.sim->unplug(context.sim->device(key)), QStringLiteral("the stand-in could not unplug"));
        session.recorder.markClosed();
        session.recorder.staysQuiet();
        verdict.expect(session.recorder.late() == 0,
                       QStringLiteral("%1 frames after the camera was pulled out").arg(session.recorder.late()));
        session->IStopCamera();
        session->ISnapCamera();
        session->ICloseCamera();
        verdict.expect(!session->m_bOpened && !session->m_bGrabbing,
                       QStringLiteral("close after the unplug left a flag set"));
        verdict.expect(session->IOpenCamera() == 0, QStringLiteral("the pulled-out camera opened again"));
    }
    verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("SDK handles left behind"));
    return verdict.outcome();
}

}  // namespace

void addFaultChecks(std::vector<CheckInfo>* checks)
{
    const QString group = QStringLiteral("faults");
    const char* faults = "the simulator's fault injection";
    checks->push_back({QStringLiteral("faults.open"), group, faults, openFaults});
    checks->push_back({QStringLiteral("faults.start"), group, faults, startFaults});
    checks->push_back({QStringLiteral("faults.stop"), group, faults, stopFaults});
    checks->push_back({QStringLiteral("faults.snap"), group, faults, snapFaults});
    checks->push_back({QStringLiteral("faults.set-property"), group, faults, propertyFaults});
    checks->push_back(
        {QStringLiteral("faults.unplug-while-grabbing"), group, "the simulator's unplug", unplugWhileGrabbing});
}

}  // namespace kwcheck
