#include "steps.h"

#include "output.h"

namespace kwcam {

bool loadPlugin(const Invocation& invocation, kwhost::Plugin* plugin)
{
    QString sdkLine;
    QString error;
    if (!kwhost::loadPluginAndSdk(invocation.host, plugin, &sdkLine, &error)) {
        printError(error);
        return false;
    }
    printNotice(sdkLine);
    return true;
}

bool selectCamera(kwhost::Camera* camera, const Invocation& invocation, const QString& key)
{
    QString error;
    if (camera->choose(invocation.host, key, &error))
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
