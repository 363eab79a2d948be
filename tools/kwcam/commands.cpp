#include "commands.h"

#include <QtCore/QTextStream>

#include <cmath>
#include <memory>

#include "deviceview.h"
#include "exitcodes.h"
#include "framereceiver.h"
#include "grabsession.h"
#include "kwhost/camera.h"
#include "kwhost/framewriter.h"
#include "kwhost/imagewriter.h"
#include "kwhost/plugin.h"
#include "kwhost/property.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/selfpipe.h"
#include "messagelog.h"
#include "output.h"
#include "steps.h"

namespace kwcam {

namespace {

bool destinationUsable(const QString& path, kwhost::PixelLayout layout)
{
    const QString problem = kwhost::checkDestination(path, layout);
    if (problem.isEmpty())
        return true;
    printError(QStringLiteral("cannot save to %1: %2").arg(path, problem));
    return false;
}

bool setProperty(ICameraObject* camera, const char* name, int id, int value)
{
    if (kwhost::setProperty(camera, id, value))
        return true;
    printError(QStringLiteral("%1 = %2: failed").arg(QLatin1String(name)).arg(value));
    return false;
}

// Exposure and gain reach the camera twice, as a host configures them: once
// through the configuration record and IApplyParameters, which pushes both
// and reports nothing, then one by one through ISetProperty, which turns the
// automatic modes off and says whether the camera took the value.
bool applySettings(ICameraObject* camera, tagQZ_CAMERA_CONFIG* config, const GrabOptions& options,
                   const kwhost::SdkControl& sdk, int device)
{
    if (options.exposureGiven || options.gainGiven) {
        // IApplyParameters would also push the value not given; it runs only
        // when that value can be kept as the device has it.
        bool haveBoth = options.exposureGiven && options.gainGiven;
        config->nExposureTime = options.exposure;
        config->nGain = options.gain;
        MvsimDeviceState state;
        if (!haveBoth && sdk.deviceState(device, &state)) {
            if (!options.exposureGiven)
                config->nExposureTime = static_cast<int>(std::lround(state.exposure));
            if (!options.gainGiven)
                config->nGain = static_cast<int>(std::lround(state.gain));
            haveBoth = true;
        }
        if (haveBoth)
            camera->IApplyParameters();
    }
    bool ok = true;
    if (options.exposureGiven)
        ok = setProperty(camera, "exposure", CameraPropertyExposureTime, options.exposure) && ok;
    if (options.gainGiven)
        ok = setProperty(camera, "gain", CameraPropertyGain, options.gain) && ok;
    if (options.whiteBalanceGiven) {
        const char* names[3] = {"wb-red", "wb-green", "wb-blue"};
        const int ids[3] = {CameraPropertyBalanceRatioRed, CameraPropertyBalanceRatioGreen,
                            CameraPropertyBalanceRatioBlue};
        for (int i = 0; i < 3; ++i)
            ok = setProperty(camera, names[i], ids[i], options.whiteBalance[i]) && ok;
    }
    return ok;
}

}  // namespace

int runList(const Invocation& invocation)
{
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    const QStringList keys = kwhost::listCameras(plugin);
    int keyWidth = 0;
    for (const QString& key : keys)
        keyWidth = qMax(keyWidth, key.size());
    QTextStream out(stdout);
    for (const QString& key : keys) {
        // Each row opens its camera through the SDK: written as it is read.
        out << (invocation.list.longFormat ? deviceRow(key, keyWidth) : key) << '\n';
        out.flush();
    }
    if (keys.isEmpty()) {
        // A configuration or driver that fails is no empty list to a script.
        const QString failure = kwhost::SdkControl().listingFailure();
        if (!failure.isEmpty()) {
            printError(failure);
            return kExitFailure;
        }
        printError(QStringLiteral("no cameras found"));
    }
    return kExitSuccess;
}

int runGrab(const Invocation& invocation)
{
    const GrabOptions& options = invocation.grab;
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    const kwhost::SdkControl sdk;

    kwhost::Camera camera(plugin);
    if (!selectCamera(&camera, invocation, options.key))
        return kExitFailure;
    if (options.trigger == TriggerChoice::Hardware && options.rateHz > 0 && !sdk.canPulse()) {
        printError(
            QStringLiteral("the loaded SDK cannot pulse line 0; with --rate 0 the tool waits for pulses "
                           "from outside"));
        return kExitFailure;
    }

    const int device = sdk.findDevice(camera.key());
    MvsimDeviceState state;
    kwhost::PixelLayout deviceLayout = kwhost::PixelLayout::Unknown;
    QString deviceType;
    if (sdk.deviceState(device, &state)) {
        deviceLayout = kwhost::layoutOfDeviceType(state.pixelType);
        deviceType = kwhost::deviceTypeName(state.pixelType);
    }

    // The destination is checked before the camera is opened when the
    // device's layout is known, else once the plug-in has reported it.
    if (!options.savePath.isEmpty() && !destinationUsable(options.savePath, deviceLayout))
        return kExitFailure;

    const FrameReceiver::SaveMode saveMode = options.savePath.isEmpty()
        ? FrameReceiver::SaveMode::None
        : (kwhost::savesEveryFrame(options.savePath) ? FrameReceiver::SaveMode::EveryFrame
                                                     : FrameReceiver::SaveMode::LastFrame);
    const kwhost::SelfPipe wakeup;
    std::unique_ptr<kwhost::FrameWriter> writer;
    if (saveMode == FrameReceiver::SaveMode::EveryFrame)
        writer.reset(
            new kwhost::FrameWriter(options.savePath, kwhost::kFrameWriterBudget, [&wakeup]() { wakeup.notify(); }));
    FrameReceiver receiver(options.frames, deviceLayout, saveMode, wakeup, writer.get());
    if (!openCamera(&camera, &receiver))
        return kExitFailure;
    if (!options.savePath.isEmpty() && deviceLayout == kwhost::PixelLayout::Unknown &&
        !destinationUsable(options.savePath,
                           kwhost::layoutOfPluginFormat(camera->m_nPixelFormat, camera->m_nBitsPerPixel))) {
        camera->ICloseCamera();
        return kExitFailure;
    }
    if (!applySettings(camera.object(), camera.config(), options, sdk, device)) {
        camera->ICloseCamera();
        return kExitFailure;
    }

    GrabSession session(camera.object(), &receiver, writer.get(), wakeup, sdk, device, options, plugin.fileName(),
                        camera.key(), deviceType);
    return session.run();
}

int runSet(const Invocation& invocation)
{
    const SetOptions& options = invocation.set;
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;

    kwhost::Camera camera(plugin);
    if (!selectCamera(&camera, invocation, options.key) || !openCamera(&camera, nullptr))
        return kExitFailure;
    const bool ok = kwhost::setProperty(camera.object(), options.propertyId, options.value);
    camera->ICloseCamera();
    const QString result = QStringLiteral("%1 = %2: %3").arg(options.property).arg(options.value);
    if (!ok) {
        // The camera is closed: the SDK can be asked for the range.
        const QString range = propertyRange(camera.key(), options.propertyId);
        printError(result.arg(range.isEmpty() ? QStringLiteral("failed")
                                              : QStringLiteral("failed (the camera takes %1)").arg(range)));
        return kExitFailure;
    }
    QTextStream(stdout) << result.arg(QStringLiteral("ok")) << '\n';
    return kExitSuccess;
}

}  // namespace kwcam
