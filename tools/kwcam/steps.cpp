#include "steps.h"

#include "output.h"

namespace kwcam {

bool loadPlugin(const Invocation& invocation, kwhost::Plugin* plugin)
{
    // An SDK chosen by the user is loaded first, so that the plug-in binds
    // to it rather than to what the system's loader would find.
    QString error;
    const QString chosenSdk =
        invocation.useSimulator ? kwhost::simulatorPath() : QString::fromLocal8Bit(qgetenv("KWCAM_SDK"));
    if (!chosenSdk.isEmpty() && !kwhost::preloadSdk(chosenSdk, &error)) {
        printError(error);
        return false;
    }
    if (plugin->load(invocation.pluginPath, &error))
        return true;
    if (chosenSdk.isEmpty() && kwhost::sdkMissing(error)) {
        printNotice(QStringLiteral("no camera SDK (libMVCameraControl.so) found; using the simulated cameras"));
        QString simError;
        if (kwhost::preloadSdk(kwhost::simulatorPath(), &simError) && plugin->load(invocation.pluginPath, &error))
            return true;
        if (!simError.isEmpty())
            error = simError;
    }
    printError(error);
    return false;
}

bool selectCamera(kwhost::Camera* camera, const Invocation& invocation, const QString& key)
{
    QString error;
    const bool byPart = !invocation.cameraChoice.isNull();
    if (camera->select(byPart ? invocation.cameraChoice : key, &error, byPart))
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

}  // namespace kwcam
