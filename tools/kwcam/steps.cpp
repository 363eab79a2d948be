#include "steps.h"

#include "output.h"

namespace kwcam {

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

}  // namespace kwcam
