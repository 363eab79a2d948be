#include "commands.h"

#include <QtCore/QTextStream>

#include <cmath>
#include <cstdio>

#include "exitcodes.h"
#include "framereceiver.h"
#include "grabsession.h"
#include "imagewriter.h"
#include "messagelog.h"
#include "plugin.h"
#include "sdkcontrol.h"

namespace kwcam {

namespace {

const int kPropertyExposure = 1;
const int kPropertyGain = 0x10000;
const int kPropertyWhiteBalance[3] = {2, 3, 4};

void printErr(const QString& text)
{
    const QByteArray bytes = (QStringLiteral("kwcam: ") + text + QLatin1Char('\n')).toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    fflush(stderr);
}

bool loadPlugin(const Invocation& invocation, Plugin* plugin)
{
    QString error;
    if (plugin->load(invocation.pluginPath, &error))
        return true;
    printErr(error);
    return false;
}

// Asks a camera object made for no camera in particular, as hosts do to
// offer a choice; the object is gone before any camera is opened.
QStringList listCameras(const Plugin& plugin)
{
    tagQZ_CAMERA_CONFIG config = emptyConfig();
    CameraObject lister(plugin, &config, nullptr);
    if (!lister)
        return QStringList();
    return lister->IGetCameraList();
}

// The listed key the user meant: the same words, however spaced. An empty
// wish means the first camera. Prints why there is none.
bool chooseCamera(const QStringList& keys, const QString& wanted, QString* key)
{
    if (keys.isEmpty()) {
        printErr(QStringLiteral("no cameras found"));
        return false;
    }
    if (wanted.trimmed().isEmpty()) {
        *key = keys.first();
        return true;
    }
    for (const QString& candidate : keys) {
        if (candidate.simplified() == wanted.simplified()) {
            *key = candidate;
            return true;
        }
    }
    printErr(QStringLiteral("no camera '%1'; cameras found:\n  %2").arg(wanted, keys.join(QStringLiteral("\n  "))));
    return false;
}

bool setProperty(ICameraObject* camera, const char* name, int id, int value)
{
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = id;
    property.nValue = value;
    if (camera->ISetProperty(&property))
        return true;
    printErr(QStringLiteral("%1 = %2: failed").arg(QLatin1String(name)).arg(value));
    return false;
}

// Exposure and gain reach the camera twice, as a host configures them: once
// through the configuration record and IApplyParameters, which pushes both
// and reports nothing, then one by one through ISetProperty, which turns the
// automatic modes off and says whether the camera took the value.
bool applySettings(ICameraObject* camera, tagQZ_CAMERA_CONFIG* config, const GrabOptions& options,
                   const SdkControl& sdk, int device)
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
        ok = setProperty(camera, "exposure", kPropertyExposure, options.exposure) && ok;
    if (options.gainGiven)
        ok = setProperty(camera, "gain", kPropertyGain, options.gain) && ok;
    if (options.whiteBalanceGiven) {
        const char* names[3] = {"wb-red", "wb-green", "wb-blue"};
        for (int i = 0; i < 3; ++i)
            ok = setProperty(camera, names[i], kPropertyWhiteBalance[i], options.whiteBalance[i]) && ok;
    }
    return ok;
}

}  // namespace

int runList(const Invocation& invocation)
{
    Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    const QStringList keys = listCameras(plugin);
    QTextStream out(stdout);
    for (const QString& key : keys)
        out << key << '\n';
    out.flush();
    if (keys.isEmpty())
        printErr(QStringLiteral("no cameras found"));
    return kExitSuccess;
}

int runGrab(const Invocation& invocation)
{
    const GrabOptions& options = invocation.grab;
    installMessageLog(options.verbose);
    Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    const SdkControl sdk;

    QString key;
    if (!chooseCamera(listCameras(plugin), options.key, &key))
        return kExitFailure;
    if (options.trigger == TriggerChoice::Hardware && options.rateHz > 0 && !sdk.canPulse()) {
        printErr(QStringLiteral("the loaded SDK cannot pulse line 0; with --rate 0 the tool waits for pulses "
                                "from outside"));
        return kExitFailure;
    }

    const int device = sdk.findDevice(key);
    MvsimDeviceState state;
    PixelLayout deviceLayout = PixelLayout::Unknown;
    QString deviceType;
    if (sdk.deviceState(device, &state)) {
        deviceLayout = layoutOfDeviceType(state.pixelType);
        deviceType = deviceTypeName(state.pixelType);
    }

    const FrameReceiver::SaveMode saveMode =
        options.savePath.isEmpty()
            ? FrameReceiver::SaveMode::None
            : (savesEveryFrame(options.savePath) ? FrameReceiver::SaveMode::EveryFrame
                                                 : FrameReceiver::SaveMode::LastFrame);
    const Wakeup wakeup;
    FrameReceiver receiver(options.frames, deviceLayout, saveMode, wakeup);
    tagQZ_CAMERA_CONFIG config = emptyConfig();
    config.strCameraKey = key;
    CameraObject camera(plugin, &config, &receiver);
    if (!camera) {
        printErr(QStringLiteral("the plug-in made no camera object"));
        return kExitFailure;
    }
    if (!camera->IOpenCamera()) {
        printErr(QStringLiteral("cannot open camera %1").arg(key));
        return kExitFailure;
    }
    if (!applySettings(camera.get(), &config, options, sdk, device)) {
        camera->ICloseCamera();
        return kExitFailure;
    }

    GrabSession session(camera.get(), &receiver, wakeup, sdk, device, options, plugin.fileName(), key, deviceType);
    return session.run();
}

int runSet(const Invocation& invocation)
{
    const SetOptions& options = invocation.set;
    installMessageLog(false);
    Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;

    QString key;
    if (!chooseCamera(listCameras(plugin), options.key, &key))
        return kExitFailure;
    tagQZ_CAMERA_CONFIG config = emptyConfig();
    config.strCameraKey = key;
    CameraObject camera(plugin, &config, nullptr);
    if (!camera) {
        printErr(QStringLiteral("the plug-in made no camera object"));
        return kExitFailure;
    }
    if (!camera->IOpenCamera()) {
        printErr(QStringLiteral("cannot open camera %1").arg(key));
        return kExitFailure;
    }
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = options.propertyId;
    property.nValue = options.value;
    const bool ok = camera->ISetProperty(&property);
    camera->ICloseCamera();
    const QString result = QStringLiteral("%1 = %2: %3").arg(options.property).arg(options.value);
    if (!ok) {
        printErr(result.arg(QStringLiteral("failed")));
        return kExitFailure;
    }
    QTextStream(stdout) << result.arg(QStringLiteral("ok")) << '\n';
    return kExitSuccess;
}

}  // namespace kwcam
