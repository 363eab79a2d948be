#include "commands.h"

#include <QtCore/QTextStream>

#include <cmath>

#include "exitcodes.h"
#include "framereceiver.h"
#include "grabsession.h"
#include "kwhost/camera.h"
#include "kwhost/imagewriter.h"
#include "kwhost/plugin.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/selfpipe.h"
#include "messagelog.h"
#include "output.h"

namespace kwcam {

namespace {

bool loadPlugin(const Invocation& invocation, kwhost::Plugin* plugin)
{
    QString error;
    if (plugin->load(invocation.pluginPath, &error))
        return true;
    printError(error);
    return false;
}

bool selectCamera(kwhost::Camera* camera, const QString& wanted)
{
    QString error;
    if (camera->select(wanted, &error))
        return true;
    printError(error);
    return false;
}

bool openCamera(kwhost::Camera* camera, ICameraCallback* callback)
{
    QString error;
    if (camera->open(callback, &error))
        return true;
    printError(error);
    return false;
}

bool setProperty(ICameraObject* camera, const char* name, int id, int value)
{
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = id;
    property.nValue = value;
    if (camera->ISetProperty(&property))
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
    QTextStream out(stdout);
    for (const QString& key : keys)
        out << key << '\n';
    out.flush();
    if (keys.isEmpty())
        printError(QStringLiteral("no cameras found"));
    return kExitSuccess;
}

int runGrab(const Invocation& invocation)
{
    const GrabOptions& options = invocation.grab;
    installMessageLog(options.verbose);
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    const kwhost::SdkControl sdk;

    kwhost::Camera camera(plugin);
    if (!selectCamera(&camera, options.key))
        return kExitFailure;
    if (options.trigger == TriggerChoice::Hardware && options.rateHz > 0 && !sdk.canPulse()) {
        printError(QStringLiteral("the loaded SDK cannot pulse line 0; with --rate 0 the tool waits for pulses "
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

    const FrameReceiver::SaveMode saveMode =
        options.savePath.isEmpty()
            ? FrameReceiver::SaveMode::None
            : (kwhost::savesEveryFrame(options.savePath) ? FrameReceiver::SaveMode::EveryFrame
                                                         : FrameReceiver::SaveMode::LastFrame);
    const kwhost::SelfPipe wakeup;
    FrameReceiver receiver(options.frames, deviceLayout, saveMode, wakeup);
    if (!openCamera(&camera, &receiver))
        return kExitFailure;
    if (!applySettings(camera.object(), camera.config(), options, sdk, device)) {
        camera->ICloseCamera();
        return kExitFailure;
    }

    GrabSession session(camera.object(), &receiver, wakeup, sdk, device, options, plugin.fileName(), camera.key(),
                        deviceType);
    return session.run();
}

int runSet(const Invocation& invocation)
{
    const SetOptions& options = invocation.set;
    installMessageLog(false);
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;

    kwhost::Camera camera(plugin);
    if (!selectCamera(&camera, options.key) || !openCamera(&camera, nullptr))
        return kExitFailure;
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = options.propertyId;
    property.nValue = options.value;
    const bool ok = camera->ISetProperty(&property);
    camera->ICloseCamera();
    const QString result = QStringLiteral("%1 = %2: %3").arg(options.property).arg(options.value);
    if (!ok) {
        printError(result.arg(QStringLiteral("failed")));
        return kExitFailure;
    }
    QTextStream(stdout) << result.arg(QStringLiteral("ok")) << '\n';
    return kExitSuccess;
}

}  // namespace kwcam
