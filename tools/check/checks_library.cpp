// Library and listing: the two entry points, objects without a device, the
// camera keys.
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>

#include <memory>

#include "harness.h"

namespace kwcheck {

namespace {

QStringList listKeys(const Context& context)
{
    Session session(context, QString());
    if (!session.created())
        return QStringList();
    return session->IGetCameraList();
}

Outcome entryPoints(Context& context)
{
    // The child loaded the plug-in and resolved both before it ran this.
    return pass(QStringLiteral("Camera_Create and Camera_Delete resolve in %1").arg(context.plugin->fileName()));
}

Outcome deleteNull(Context& context)
{
    Verdict verdict;
    if (context.sim != nullptr)
        context.sim->clearCallLog();
    context.plugin->destroy(nullptr);
    context.plugin->destroy(nullptr);
    if (context.sim != nullptr)
        verdict.expect(context.sim->callLog().isEmpty(),
                       QStringLiteral("Camera_Delete(nullptr) called the SDK: %1")
                           .arg(context.sim->callLog().join(QStringLiteral(", "))));
    return verdict.outcome();
}

Outcome initialMembers(Context& context)
{
    // The configured pixel format gives the first bits per pixel, nothing else.
    struct Case {
        int format;
        int bits;
    };
    const Case cases[] = {{0, 0}, {1, 8}, {2, 24}, {3, 32}, {4, 16}, {5, 0}, {11, 0}, {12, 0}, {-1, 0}};
    Verdict verdict;
    Recorder recorder;
    for (const Case& c : cases) {
        tagQZ_CAMERA_CONFIG config = kwhost::emptyConfig();
        config.nPixelFormat = c.format;
        ICameraObject* camera = context.plugin->create(&config, &recorder);
        if (!verdict.expect(camera != nullptr, QStringLiteral("Camera_Create returned null")))
            break;
        const QString where = QStringLiteral("configured format %1: ").arg(c.format);
        verdict.expect(camera->m_pConfig == &config && camera->m_pCallback == &recorder,
                       where + QStringLiteral("m_pConfig or m_pCallback is not what was given"));
        verdict.expect(!camera->m_bOpened && !camera->m_bGrabbing, where + QStringLiteral("a flag is set"));
        verdict.expect(camera->m_nWidth == 0 && camera->m_nHeight == 0 && camera->m_nImageSize == 0 &&
                           camera->m_nPixelFormat == 0 && camera->m_nFrameCount == 0 &&
                           camera->m_nCurTriggerMode == 0 && camera->m_pImageData == nullptr,
                       where + QStringLiteral("a frame member is not 0"));
        verdict.expect(camera->m_nTriggerMode == 1,
                       where + QStringLiteral("m_nTriggerMode is %1, not 1").arg(camera->m_nTriggerMode));
        verdict.expect(camera->m_nBitsPerPixel == c.bits,
                       where +
                           QStringLiteral("m_nBitsPerPixel is %1, not %2").arg(camera->m_nBitsPerPixel).arg(c.bits));
        context.plugin->destroy(camera);
    }
    return verdict.outcome();
}

Outcome createNoDeviceAccess(Context& context)
{
    Verdict verdict;
    const int handles = context.sim->liveHandles();
    context.sim->clearCallLog();
    for (int i = 0; i < 3; ++i) {
        Session session(context, QString::fromLatin1(cameras::kMain));
        verdict.expect(session.created(), QStringLiteral("Camera_Create returned null"));
    }
    const QStringList log = context.sim->callLog();
    verdict.expect(log.isEmpty(), QStringLiteral("create and delete called the SDK: %1").arg(log.join(", ")));
    verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("SDK handles changed"));
    return verdict.outcome();
}

Outcome manyObjects(Context& context)
{
    const int count = 32;
    Verdict verdict;
    std::vector<std::unique_ptr<Session>> sessions;
    QSet<quintptr> addresses;
    for (int i = 0; i < count; ++i) {
        sessions.emplace_back(new Session(context, context.key));
        if (!verdict.expect(sessions.back()->created(), QStringLiteral("Camera_Create returned null")))
            return verdict.outcome();
        addresses.insert(reinterpret_cast<quintptr>(sessions.back()->camera()));
    }
    verdict.expect(addresses.size() == count,
                   QStringLiteral("%1 objects share %2 addresses").arg(count).arg(addresses.size()));
    // A change to one object shows in no other.
    sessions[0]->camera()->m_nTriggerMode = 4;
    for (int i = 1; i < count; ++i) {
        Session& s = *sessions[static_cast<size_t>(i)];
        verdict.expect(s->m_nTriggerMode == 1 && s->m_pConfig == &s.config && s->m_pCallback == &s.recorder,
                       QStringLiteral("object %1 shows another object's members").arg(i));
    }
    // One of them opens and grabs; the others stay closed and get no frame.
    Session& first = *sessions[0];
    if (first.open(&verdict) && first.start(CameraTriggerModeFreeRun, &verdict)) {
        verdict.expect(first.recorder.waitFor(3), QStringLiteral("the open object got no frames"));
        first->IStopCamera();
    }
    for (int i = 1; i < count; ++i) {
        Session& s = *sessions[static_cast<size_t>(i)];
        verdict.expect(!s->m_bOpened && s.recorder.count() == 0,
                       QStringLiteral("object %1 was opened or got frames through another").arg(i));
    }
    return verdict.outcome();
}

Outcome twoCameras(Context& context)
{
    Verdict verdict;
    Session one(context, QString::fromLatin1(cameras::kMain));
    Session two(context, QString::fromLatin1(cameras::kSecond));
    if (!one.open(&verdict) || !two.open(&verdict))
        return verdict.outcome();
    if (one.start(CameraTriggerModeFreeRun, &verdict) && two.start(CameraTriggerModeFreeRun, &verdict)) {
        verdict.expect(one.recorder.waitFor(20) && two.recorder.waitFor(20), QStringLiteral("frames missing"));
        one->IStopCamera();
        two->IStopCamera();
    }
    const int w1 = context.sim->state(context.sim->device(QString::fromLatin1(cameras::kMain))).width;
    const int w2 = context.sim->state(context.sim->device(QString::fromLatin1(cameras::kSecond))).width;
    for (const Frame& f : one.recorder.frames())
        verdict.expect(f.camera == one.camera() && f.width == w1,
                       QStringLiteral("the first camera's callback got another camera's frame"));
    for (const Frame& f : two.recorder.frames())
        verdict.expect(f.camera == two.camera() && f.width == w2,
                       QStringLiteral("the second camera's callback got another camera's frame"));
    return verdict.outcome();
}

Outcome listNonEmpty(Context& context)
{
    const QStringList keys = listKeys(context);
    if (keys.isEmpty())
        return fail(QStringLiteral("IGetCameraList gave no key"));
    if (context.sim != nullptr) {
        const int expected = static_cast<int>(cameras::typed().size()) + 3;
        if (keys.size() != expected)
            return fail(QStringLiteral("%1 keys for the kit's %2 cameras").arg(keys.size()).arg(expected));
    }
    return pass(QStringLiteral("%1 cameras").arg(keys.size()));
}

Outcome keyShape(Context& context)
{
    // Model name, one space, serial number; neither part empty nor spaced.
    static const QRegularExpression shape(QStringLiteral("^\\S+ \\S+$"));
    Verdict verdict;
    for (const QString& key : listKeys(context))
        verdict.expect(shape.match(key).hasMatch(), QStringLiteral("\"%1\" is not \"MODEL SERIAL\"").arg(key));
    return verdict.outcome();
}

Outcome listStable(Context& context)
{
    Verdict verdict;
    Session session(context, QString());
    const QStringList first = session->IGetCameraList();
    for (int i = 0; i < 3; ++i)
        verdict.expect(session->IGetCameraList() == first, QStringLiteral("the list changed between calls"));
    verdict.expect(listKeys(context) == first, QStringLiteral("another object lists other keys"));
    return verdict.outcome();
}

Outcome eachOpens(Context& context)
{
    Verdict verdict;
    const QStringList keys = listKeys(context);
    for (const QString& key : keys) {
        Session session(context, key);
        if (!session.open(&verdict))
            continue;
        verdict.expect(
            session->m_nWidth > 0 && session->m_nHeight > 0,
            QStringLiteral("\"%1\" opened with size %2x%3").arg(key).arg(session->m_nWidth).arg(session->m_nHeight));
        verdict.expect(!session->m_bGrabbing && session->m_nFrameCount == 0,
                       QStringLiteral("\"%1\" opened grabbing or with frames counted").arg(key));
        session->ICloseCamera();
        verdict.expect(!session->m_bOpened, QStringLiteral("\"%1\" still open after close").arg(key));
    }
    if (context.sim != nullptr)
        verdict.expect(context.sim->liveHandles() == 0, QStringLiteral("SDK handles left after closing them all"));
    verdict.note(QStringLiteral("%1 keys opened").arg(keys.size()));
    return verdict.outcome();
}

Outcome unknownKey(Context& context)
{
    Verdict verdict;
    const int handles = context.sim != nullptr ? context.sim->liveHandles() : 0;
    const QString keys[] = {QStringLiteral("NO-SUCH-MODEL 000000000000"), QString(), QStringLiteral("ONEWORD"),
                            context.key.toLower() + QStringLiteral("x")};
    for (const QString& key : keys) {
        Session session(context, key);
        const int result = session->IOpenCamera();
        verdict.expect(result == 0 && !session->m_bOpened && !session->m_bGrabbing,
                       QStringLiteral("IOpenCamera(\"%1\") gave %2").arg(key).arg(result));
    }
    if (context.sim != nullptr)
        verdict.expect(context.sim->liveHandles() == handles, QStringLiteral("a failed open left an SDK handle"));
    return verdict.outcome();
}

}  // namespace

void addLibraryChecks(std::vector<CheckInfo>* checks)
{
    const char* callLog = "the simulator's call log";
    const char* cameras = "the simulator's cameras";
    checks->push_back({QStringLiteral("library.entry-points"), QStringLiteral("library"), nullptr, entryPoints});
    checks->push_back({QStringLiteral("library.delete-null"), QStringLiteral("library"), nullptr, deleteNull});
    checks->push_back({QStringLiteral("library.initial-members"), QStringLiteral("library"), nullptr, initialMembers});
    checks->push_back(
        {QStringLiteral("library.create-no-device-access"), QStringLiteral("library"), callLog, createNoDeviceAccess});
    checks->push_back({QStringLiteral("library.many-objects"), QStringLiteral("library"), nullptr, manyObjects});
    checks->push_back({QStringLiteral("library.two-cameras"), QStringLiteral("library"), cameras, twoCameras});
    checks->push_back({QStringLiteral("listing.non-empty"), QStringLiteral("listing"), nullptr, listNonEmpty});
    checks->push_back({QStringLiteral("listing.key-shape"), QStringLiteral("listing"), nullptr, keyShape});
    checks->push_back({QStringLiteral("listing.stable"), QStringLiteral("listing"), nullptr, listStable});
    checks->push_back({QStringLiteral("listing.each-opens"), QStringLiteral("listing"), nullptr, eachOpens});
    checks->push_back({QStringLiteral("listing.unknown-key"), QStringLiteral("listing"), nullptr, unknownKey});
}

}  // namespace kwcheck
