// kwcam-view: a live window onto a camera, over the camera plug-in.
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <vector>

#include "camerasession.h"
#include "imageview.h"
#include "kwhost/camera.h"
#include "kwhost/plugin.h"
#include "theme.h"
#include "viewerwindow.h"
#include "viewoptions.h"
#include "warninglog.h"

namespace {

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

void printError(const QString& text)
{
    const QByteArray line = "kwcam-view: " + text.toLocal8Bit() + '\n';
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Qt's own -plugin option would take ours: --plugin goes past the
    // application to our parser; every other argument goes through Qt first
    // (-platform and the like), and what Qt leaves is ours.
    std::vector<char*> qtArguments;
    QStringList pluginArguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (i > 0 && (argument == "--plugin" || argument == "-plugin")) {
            pluginArguments << QStringLiteral("--plugin");
            if (i + 1 < argc)
                pluginArguments << QString::fromLocal8Bit(argv[++i]);
        } else if (i > 0 && argument.startsWith("--plugin=")) {
            pluginArguments << QString::fromLocal8Bit(argument);
        } else {
            qtArguments.push_back(argv[i]);
        }
    }
    int qtArgumentCount = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication app(qtArgumentCount, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("kwcam-view"));
    QApplication::setApplicationVersion(QStringLiteral(KWCAM_VERSION));
    kwview::installWarningLog();
    kwview::applyDarkTheme(&app);

    kwview::ViewOptions options;
    QString usage;
    switch (kwview::parseViewOptions(QApplication::arguments() + pluginArguments, &options, &usage)) {
    case kwview::ParseOutcome::Help:
        fputs(usage.toLocal8Bit().constData(), stdout);
        return kExitSuccess;
    case kwview::ParseOutcome::Error:
        fputs(usage.toLocal8Bit().constData(), stderr);
        return kExitUsage;
    case kwview::ParseOutcome::Run:
        break;
    }

    kwhost::Plugin plugin;
    QString error;
    QString sdkLine;
    if (!kwhost::loadPluginAndSdk(options.host, &plugin, &sdkLine, &error)) {
        printError(error);
        return kExitFailure;
    }
    if (!options.host.quiet)
        printError(sdkLine);
    kwview::CameraSession session(plugin);
    QString key = options.key;
    if (!options.host.camera.isNull() &&
        !kwhost::chooseCameraByPart(session.cameraKeys(), options.host.camera, &key, &error)) {
        printError(error);
        return kExitFailure;
    }
    kwview::ViewerWindow window(session);
    window.setDisplayOptions(options.display);
    window.setTrigger(options.host.trigger);
    if (options.zoom > 0)
        window.imageView()->setZoom(options.zoom);
    window.show();

    const bool scripted = !options.screenshotPath.isEmpty();
    if (!window.openCamera(key, &error)) {
        printError(error);
        // A window with nothing to show is still useful for choosing another
        // camera; a script has nothing left to do.
        if (scripted)
            return kExitFailure;
    }
    if (!scripted)
        return app.exec();

    // Scripted: wait for the frame count, paint it, write the window.
    int exitCode = kExitFailure;
    QObject::connect(&window, &kwview::ViewerWindow::frameShown, &window, [&](quint64 sequence) {
        if (sequence < options.screenshotAfter)
            return;
        window.updateStatus();
        const QPixmap picture = window.grab();
        const QString key = session.key();
        window.closeCamera();
        if (!picture.save(options.screenshotPath, "PNG")) {
            printError(QStringLiteral("cannot write %1").arg(options.screenshotPath));
        } else {
            const QByteArray line = QStringLiteral("screenshot: %1 (%2, frame %3)\n")
                                        .arg(options.screenshotPath, key)
                                        .arg(sequence)
                                        .toLocal8Bit();
            fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            exitCode = kExitSuccess;
        }
        app.exit();
    });
    QTimer::singleShot(static_cast<int>(options.timeoutSeconds * 1000.0), &window, [&]() {
        printError(QStringLiteral("time-out: %1 of %2 frames after %3 s")
                       .arg(session.receiver().frames())
                       .arg(options.screenshotAfter)
                       .arg(options.timeoutSeconds));
        app.exit();
    });
    app.exec();
    window.closeCamera();
    return exitCode;
}
