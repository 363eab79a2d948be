#include "commands.h"

#include <QtCore/QTextStream>

#include "deviceview.h"
#include "exitcodes.h"
#include "grabsession.h"
#include "kwhost/camera.h"
#include "kwhost/plugin.h"
#include "kwhost/property.h"
#include "kwhost/sdkcontrol.h"
#include "output.h"
#include "steps.h"

namespace kwcam {

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
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    GrabSession session(plugin, invocation);
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
