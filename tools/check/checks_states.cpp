// States: every operation on a closed, open, grabbing and failed-to-open
// object, with the answers hosts rely on.
#include "harness.h"

namespace kwcheck {

namespace {

int deviceOf(const Context& context, const QString& key)
{
    return context.sim != nullptr ? context.sim->device(key) : -1;
}

void clearLog(const Context& context)
{
    if (context.sim != nullptr)
        context.sim->clearCallLog();
}

// With the stand-in: the SDK calls since clearLog, for "made no SDK call".
void expectNoCalls(const Context& context, Verdict* verdict, const QString& what)
{
    if (context.sim == nullptr)
        return;
    const QStringList log = context.sim->callLog();
    verdict->expect(log.isEmpty(), QStringLiteral("%1 called the SDK: %2").arg(what, log.join(QStringLiteral(", "))));
}

Outcome closedObject(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    clearLog(context);
    verdict.expect(session->IStartCamera() == 0, QStringLiteral("IStartCamera on a closed object succeeded"));
    session->IStopCamera();
    session->ICloseCamera();
    session->ISnapCamera();
    session->IApplyParameters();
    verdict.expect(!session->m_bOpened && !session->m_bGrabbing, QStringLiteral("a flag is set on a closed object"));
    expectNoCalls(context, &verdict, QStringLiteral("start, stop, close, snap or apply on a closed object"));
    tagQZ_CAMERA_PROPERTY exposure = {CameraPropertyExposureTime, static_cast<int>(cameras::kExposure)};
    if (session->ISetProperty(&exposure))
        verdict.warnAbout(QStringLiteral("ISetProperty(exposure) on a closed object reported success"));
    verdict.expect(session.recorder.staysQuiet(), QStringLiteral("a closed object announced a frame"));
    return verdict.outcome();
}

Outcome openObject(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    verdict.expect(!session->m_bGrabbing && session->m_nFrameCount == 0,
                   QStringLiteral("opened with m_bGrabbing %1, m_nFrameCount %2")
                       .arg(session->m_bGrabbing)
                       .arg(session->m_nFrameCount));
    const int device = deviceOf(context, context.key);
    if (context.sim != nullptr) {
        const MvsimDeviceState state = context.sim->state(device);
        verdict.expect(session->m_nWidth == static_cast<int>(state.width) &&
                           session->m_nHeight == static_cast<int>(state.height),
                       QStringLiteral("open gave %1x%2, the device is %3x%4")
                           .arg(session->m_nWidth)
                           .arg(session->m_nHeight)
                           .arg(state.width)
                           .arg(state.height));
        verdict.expect(state.openHandles == 1 && !state.grabbing, QStringLiteral("the device is not open, or grabs"));
    }
    clearLog(context);
    session->IStopCamera();
    expectNoCalls(context, &verdict, QStringLiteral("IStopCamera on an open object that does not grab"));
    verdict.expect(session->m_bOpened && !session->m_bGrabbing, QStringLiteral("stop changed an open object's flags"));
    verdict.expect(session.recorder.staysQuiet(),
                   QStringLiteral("an open object that does not grab announced a frame"));
    return verdict.outcome();
}

Outcome openTwice(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    const int handles = context.sim != nullptr ? context.sim->liveHandles() : 0;
    clearLog(context);
    verdict.expect(session->IOpenCamera() == 1 && session->m_bOpened, QStringLiteral("a second open failed"));
    // Also when the record names another camera meanwhile.
    if (context.sim != nullptr)
        session.config.strCameraKey = QString::fromLatin1(cameras::kSecond);
    verdict.expect(session->IOpenCamera() == 1 && session->m_bOpened,
                   QStringLiteral("a second open with another key failed"));
    expectNoCalls(context, &verdict, QStringLiteral("a second open"));
    if (context.sim != nullptr) {
        verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("a second open made an SDK handle"));
        verdict.expect(context.sim->state(context.sim->device(QString::fromLatin1(cameras::kSecond))).openHandles == 0,
                       QStringLiteral("a second open opened the camera the record names now"));
    }
    return verdict.outcome();
}

Outcome grabbingObject(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    verdict.expect(session->m_bOpened && session->m_bGrabbing, QStringLiteral("start did not set m_bGrabbing"));
    verdict.expect(session.recorder.waitFor(5), QStringLiteral("no frames while free-running"));
    clearLog(context);
    verdict.expect(session->IStartCamera() == 1, QStringLiteral("a second start failed"));
    verdict.expect(session->IOpenCamera() == 1, QStringLiteral("open while grabbing failed"));
    verdict.expect(session->m_bGrabbing && session->m_bOpened, QStringLiteral("a second start or open changed a flag"));
    if (context.sim != nullptr)
        verdict.expect(!callNames(context.sim->callLog()).contains(QStringLiteral("MV_CC_StartGrabbing")),
                       QStringLiteral("a second start started the SDK's acquisition again"));
    const size_t before = session.recorder.count();
    verdict.expect(session.recorder.waitFor(before + 5), QStringLiteral("frames stopped after a second start"));
    session->IStopCamera();
    return verdict.outcome();
}

Outcome stopTwice(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    session.recorder.waitFor(3);
    session->IStopCamera();
    verdict.expect(!session->m_bGrabbing && session->m_bOpened, QStringLiteral("stop left the flags wrong"));
    verdict.expect(session.recorder.staysQuiet(), QStringLiteral("frames after stop"));
    clearLog(context);
    session->IStopCamera();
    expectNoCalls(context, &verdict, QStringLiteral("a second stop"));
    verdict.expect(!session->m_bGrabbing && session->m_bOpened, QStringLiteral("a second stop changed the flags"));
    const size_t before = session.recorder.count();
    if (session.start(CameraTriggerModeFreeRun, &verdict))
        verdict.expect(session.recorder.waitFor(before + 3), QStringLiteral("no frames after starting again"));
    session->IStopCamera();
    return verdict.outcome();
}

Outcome closeTwice(Context& context)
{
    Verdict verdict;
    const int handles = context.sim != nullptr ? context.sim->liveHandles() : 0;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    session->ICloseCamera();
    verdict.expect(!session->m_bOpened && !session->m_bGrabbing, QStringLiteral("close left a flag set"));
    clearLog(context);
    session->ICloseCamera();
    expectNoCalls(context, &verdict, QStringLiteral("a second close"));
    verdict.expect(!session->m_bOpened && !session->m_bGrabbing, QStringLiteral("a second close set a flag"));
    if (context.sim != nullptr) {
        verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("close left an SDK handle"));
        verdict.expect(context.sim->state(deviceOf(context, context.key)).openHandles == 0,
                       QStringLiteral("the device is still open"));
    }
    return verdict.outcome();
}

Outcome closeWhileGrabbing(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    session.recorder.waitFor(5);
    session->ICloseCamera();
    session.recorder.markClosed();
    verdict.expect(!session->m_bOpened && !session->m_bGrabbing, QStringLiteral("close left a flag set"));
    verdict.expect(session.recorder.staysQuiet() && session.recorder.late() == 0,
                   QStringLiteral("%1 frames after close returned").arg(session.recorder.late()));
    if (context.sim != nullptr) {
        const MvsimDeviceState state = context.sim->state(deviceOf(context, context.key));
        verdict.expect(!state.grabbing && state.openHandles == 0, QStringLiteral("the device still grabs or is open"));
    }
    return verdict.outcome();
}

Outcome failedOpen(Context& context)
{
    Verdict verdict;
    const int handles = context.sim != nullptr ? context.sim->liveHandles() : 0;
    Session session(context, QStringLiteral("NO-SUCH-MODEL 000000000000"));
    verdict.expect(session->IOpenCamera() == 0, QStringLiteral("open of an unknown key succeeded"));
    verdict.expect(session->IStartCamera() == 0, QStringLiteral("start after a failed open succeeded"));
    session->ISnapCamera();
    session->IStopCamera();
    session->ICloseCamera();
    session->ICloseCamera();
    verdict.expect(!session->m_bOpened && !session->m_bGrabbing, QStringLiteral("a flag is set after a failed open"));
    verdict.expect(session.recorder.staysQuiet(), QStringLiteral("frames after a failed open"));
    if (context.sim != nullptr)
        verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("a failed open left an SDK handle"));
    // The same object opens the right camera afterwards.
    session.config.strCameraKey = context.key;
    if (session.open(&verdict) && session.start(CameraTriggerModeFreeRun, &verdict)) {
        verdict.expect(session.recorder.waitFor(3), QStringLiteral("no frames after a failed and a good open"));
        session->IStopCamera();
    }
    return verdict.outcome();
}

Outcome reopen(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    for (int round = 1; round <= 3; ++round) {
        if (!session.open(&verdict))
            break;
        verdict.expect(session->m_nFrameCount == 0,
                       QStringLiteral("open %1 left m_nFrameCount %2").arg(round).arg(session->m_nFrameCount));
        const size_t before = session.recorder.count();
        if (!session.start(CameraTriggerModeFreeRun, &verdict))
            break;
        verdict.expect(session.recorder.waitFor(before + 3), QStringLiteral("no frames after open %1").arg(round));
        session->ICloseCamera();
        const std::vector<Frame> frames = session.recorder.frames();
        if (frames.size() > before)
            verdict.expect(
                frames[before].frameCount == 1,
                QStringLiteral("the first frame after open %1 counts %2").arg(round).arg(frames[before].frameCount));
    }
    return verdict.outcome();
}

Outcome openHeldElsewhere(Context& context)
{
    Verdict verdict;
    Session holder(context, context.key);
    if (!holder.open(&verdict))
        return verdict.outcome();
    const int handles = context.sim != nullptr ? context.sim->liveHandles() : 0;
    {
        Session other(context, context.key);
        verdict.expect(other->IOpenCamera() == 0 && !other->m_bOpened,
                       QStringLiteral("a second object opened a camera held by the first"));
        verdict.expect(other->IStartCamera() == 0, QStringLiteral("the second object started"));
    }
    if (context.sim != nullptr)
        verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("the refused open left an SDK handle"));
    if (holder.start(CameraTriggerModeFreeRun, &verdict))
        verdict.expect(holder.recorder.waitFor(3), QStringLiteral("the holder got no frames afterwards"));
    holder->IStopCamera();
    return verdict.outcome();
}

}  // namespace

void addStateChecks(std::vector<CheckInfo>* checks)
{
    const QString group = QStringLiteral("states");
    checks->push_back({QStringLiteral("states.closed"), group, nullptr, closedObject});
    checks->push_back({QStringLiteral("states.open"), group, nullptr, openObject});
    checks->push_back({QStringLiteral("states.open-twice"), group, nullptr, openTwice});
    checks->push_back({QStringLiteral("states.grabbing"), group, nullptr, grabbingObject});
    checks->push_back({QStringLiteral("states.stop-twice"), group, nullptr, stopTwice});
    checks->push_back({QStringLiteral("states.close-twice"), group, nullptr, closeTwice});
    checks->push_back({QStringLiteral("states.close-while-grabbing"), group, nullptr, closeWhileGrabbing});
    checks->push_back({QStringLiteral("states.failed-open"), group, nullptr, failedOpen});
    checks->push_back({QStringLiteral("states.reopen"), group, nullptr, reopen});
    checks->push_back({QStringLiteral("states.open-held-elsewhere"), group, nullptr, openHeldElsewhere});
}

}  // namespace kwcheck
