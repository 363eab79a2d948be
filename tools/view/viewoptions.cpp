#include "viewoptions.h"

#include <QtCore/QCommandLineParser>

namespace kwview {

namespace {

QString usageError(const QString& reason)
{
    return QStringLiteral("kwcam-view: %1\nTry 'kwcam-view --help'.\n").arg(reason);
}

}  // namespace

ParseOutcome parseViewOptions(const QStringList& arguments, ViewOptions* options, QString* text)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A live window onto a camera: the image, its histogram, the pixel under the cursor,\n"
                       "frame rate and losses, and the camera's trigger, exposure, gain and white balance."));
    parser.addPositionalArgument(QStringLiteral("KEY"),
                                 QStringLiteral("The camera (\"MODEL SERIAL\"); the first listed when left out."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("Show Bayer frames as the raw mosaic."));
    const QCommandLineOption stretch(QStringLiteral("stretch"),
                                     QStringLiteral("Show 16-bit samples from LOW to HIGH (default: each frame's "
                                                    "own range)."),
                                     QStringLiteral("LOW,HIGH"));
    const QCommandLineOption zoom(QStringLiteral("zoom"),
                                  QStringLiteral("Start at this zoom (1 is 1:1) instead of fitting the window."),
                                  QStringLiteral("FACTOR"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Write the window as a PNG once the frame given by --after "
                                                       "is shown, and exit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption after(QStringLiteral("after"),
                                   QStringLiteral("Frames to receive before the screenshot (default 1)."),
                                   QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Give up a screenshot after this long (default 10)."),
                                     QStringLiteral("SECONDS"));
    const unsigned shared = kwhost::kLoadOptions | kwhost::kCameraOption | kwhost::kTriggerOption;
    parser.addOptions(QList<QCommandLineOption>{help, version} + kwhost::hostOptions(shared) +
                      QList<QCommandLineOption>{raw, stretch, zoom, screenshot, after, timeout});

    if (!parser.parse(arguments)) {
        *text = usageError(parser.errorText());
        return ParseOutcome::Error;
    }
    if (parser.isSet(help)) {
        *text = parser.helpText() +
            QStringLiteral("\nExit codes: 0 success, 1 failure (plug-in, camera, time-out, file), 2 usage.\n");
        return ParseOutcome::Help;
    }
    if (parser.isSet(version)) {
        *text = QStringLiteral("kwcam-view %1\n").arg(QStringLiteral(KWCAM_VERSION));
        return ParseOutcome::Help;
    }

    const QStringList words = parser.positionalArguments();
    if (words.size() > 2) {
        *text = usageError(QStringLiteral("a camera key has two words, not %1").arg(words.size()));
        return ParseOutcome::Error;
    }
    options->key = words.join(QLatin1Char(' '));
    QString error;
    if (!kwhost::readHostOptions(parser, shared, &options->host, &error)) {
        *text = usageError(error);
        return ParseOutcome::Error;
    }
    if (!options->key.isEmpty() && !options->host.camera.isNull()) {
        *text = usageError(QStringLiteral("give a camera key or -c, not both"));
        return ParseOutcome::Error;
    }
    options->display.demosaic = !parser.isSet(raw);
    if (parser.isSet(stretch)) {
        const QStringList range = parser.value(stretch).split(QLatin1Char(','));
        bool lowOk = false;
        bool highOk = false;
        const int low = range.size() == 2 ? range.at(0).toInt(&lowOk) : 0;
        const int high = range.size() == 2 ? range.at(1).toInt(&highOk) : 0;
        if (!lowOk || !highOk || low < 0 || high > 65535 || low >= high) {
            *text = usageError(QStringLiteral("--stretch takes LOW,HIGH with 0 <= LOW < HIGH <= 65535"));
            return ParseOutcome::Error;
        }
        options->display.autoStretch = false;
        options->display.low = low;
        options->display.high = high;
    }
    if (parser.isSet(zoom)) {
        if (!kwhost::parseNumber(parser.value(zoom), 1.0 / 32, 64, &options->zoom)) {
            *text = usageError(QStringLiteral("--zoom takes a factor from 1/32 to 64"));
            return ParseOutcome::Error;
        }
    }
    options->screenshotPath = parser.value(screenshot);
    if (parser.isSet(screenshot) && options->screenshotPath.isEmpty()) {
        *text = usageError(QStringLiteral("--screenshot needs the name of a PNG file"));
        return ParseOutcome::Error;
    }
    if (parser.isSet(after)) {
        bool ok = false;
        options->screenshotAfter = parser.value(after).toULongLong(&ok);
        if (!ok || options->screenshotAfter == 0) {
            *text = usageError(QStringLiteral("--after takes a number of frames above 0"));
            return ParseOutcome::Error;
        }
    }
    if (parser.isSet(timeout)) {
        if (!kwhost::parseNumber(parser.value(timeout), 0, 86400, &options->timeoutSeconds) ||
            options->timeoutSeconds <= 0) {
            *text = usageError(QStringLiteral("--timeout takes seconds above 0"));
            return ParseOutcome::Error;
        }
    }
    if ((parser.isSet(after) || parser.isSet(timeout)) && options->screenshotPath.isEmpty()) {
        *text = usageError(QStringLiteral("--after and --timeout go with --screenshot"));
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

}  // namespace kwview
