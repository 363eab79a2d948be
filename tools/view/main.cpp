// kwcam-view: a live window onto a camera, over the camera plug-in.
#include <QtCore/QFileInfo>
#include <QtCore/QTimer>
#include <QtGui/QImageWriter>
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
// Software triggers of a screenshot run: 20 a second.
const int kSnapIntervalMs = 50;

void printError(const QString& text)
{
    const QByteArray line = "kwcam-view: " + text.toLocal8Bit() + '\n';
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

}  // namespace

namespace {

bool isOption(const QByteArray& argument, const char* name)
{
    return argument == name || argument.startsWith(QByteArray(name) + '=');
}

// Help, version and screenshots need no display: unless a platform is
// chosen, they get Qt's offscreen one, so that they run where no display is
// (a server, a CI job, ssh) instead of aborting in QApplication. Without
// them, no display is a one-line error, not Qt's abort. False with the
// reason when there is no platform to use.
bool choosePlatform(int argc, char* argv[], QString* error)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-platform")
            return true;
        headless = headless || argument == "-h" || isOption(argument, "--help") || isOption(argument, "--version") ||
            isOption(argument, "--screenshot");
    }
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        *error = QStringLiteral("no display to open a window on (DISPLAY is not set); --screenshot runs without one");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before the application: Qt's own start-up chatter goes through it too.
    kwview::installWarningLog();
    QString platformError;
    if (!choosePlatform(argc, argv, &platformError)) {
        printError(platformError);
        return kExitFailure;
    }
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
    // The screenshot's format is the one its file name says, as kwcam's
    // --save goes by it.
    const QByteArray screenshotFormat = QFileInfo(options.screenshotPath).suffix().toLower().toLatin1();
    if (!options.screenshotPath.isEmpty() && !QImageWriter::supportedImageFormats().contains(screenshotFormat)) {
        printError(QStringLiteral("cannot write %1: no picture format '%2' (png, ppm, pgm, bmp, jpg, ...)")
                       .arg(options.screenshotPath, QString::fromLatin1(screenshotFormat)));
        return kExitUsage;
    }

    kwview::setQuietLog(options.host.quiet);
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
        if (!picture.save(options.screenshotPath, screenshotFormat.constData())) {
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
    // In software trigger mode nobody presses Snap: the script does, at a
    // rate the camera keeps up with.
    QTimer snapTimer;
    if (options.host.trigger == kwhost::TriggerChoice::Software) {
        QObject::connect(&snapTimer, &QTimer::timeout, &window, [&]() {
            if (session.isGrabbing())
                session.snap();
        });
        snapTimer.start(kSnapIntervalMs);
    }
    QTimer::singleShot(static_cast<int>(options.timeoutSeconds * 1000.0), &window, [&]() {
        if (!window.awayKey().isEmpty()) {
            printError(QStringLiteral("the camera went away: %1, with %2 of %3 frames")
                           .arg(window.awayKey())
                           .arg(session.receiver().frames())
                           .arg(options.screenshotAfter));
            app.exit();
            return;
        }
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
