#include "kwhost/options.h"

#include <QtCore/QStringList>

#include <cmath>

namespace kwhost {

bool sdkFromWord(const QString& word, SdkChoice* choice, QString* error)
{
    if (word.isEmpty()) {
        *error = QStringLiteral("--sdk takes sim, genicam or the path of an SDK library");
        return false;
    }
    if (word == QLatin1String("sim")) {
        *choice = SdkChoice{SdkKind::Simulator, QString()};
    } else if (word == QLatin1String("genicam")) {
        *choice = SdkChoice{SdkKind::GenICam, QString()};
    } else {
        *choice = SdkChoice{SdkKind::Path, word};
    }
    return true;
}

QString sdkWord(const SdkChoice& choice)
{
    switch (choice.kind) {
    case SdkKind::Default:
        break;
    case SdkKind::Simulator:
        return QStringLiteral("sim");
    case SdkKind::GenICam:
        return QStringLiteral("genicam");
    case SdkKind::Path:
        return choice.path;
    }
    return QString();
}

bool parseNumber(const QString& text, double low, double high, double* out)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return false;
    *out = value;
    return true;
}

QList<QCommandLineOption> hostOptions(unsigned groups)
{
    QList<QCommandLineOption> options;
    if (groups & kLoadOptions) {
        options << QCommandLineOption(QStringLiteral("plugin"),
                                      QStringLiteral("The plug-in library to load (default: $KWCAM_PLUGIN, else the "
                                                     "one installed beside the program)."),
                                      QStringLiteral("PATH"))
                << QCommandLineOption(QStringLiteral("sdk"),
                                      QStringLiteral("The camera SDK the plug-in binds to: sim (the simulated "
                                                     "cameras), genicam, or the path of an SDK library (default: "
                                                     "$KWCAM_SDK, else the one the system finds)."),
                                      QStringLiteral("SDK"))
                << QCommandLineOption(QStringLiteral("sim"), QStringLiteral("Short for --sdk sim."))
                << QCommandLineOption(QStringLiteral("quiet"),
                                      QStringLiteral("Only errors on stderr: no log entries of the plug-in, no "
                                                     "progress, no word of the SDK."));
    }
    if (groups & kCameraOption)
        options << QCommandLineOption(QStringList{QStringLiteral("c"), QStringLiteral("camera")},
                                      QStringLiteral("The camera by its index in the list (0, 1, ...) or by any part "
                                                     "of its key that no other key has, instead of KEY."),
                                      QStringLiteral("CAMERA"));
    if (groups & kTriggerOption)
        options << QCommandLineOption(QStringLiteral("trigger"),
                                      QStringLiteral("hardware (line 0), free (free-running, the default) or "
                                                     "software."),
                                      QStringLiteral("MODE"));
    return options;
}

bool readHostOptions(const QCommandLineParser& parser, unsigned groups, HostOptions* options, QString* error)
{
    if (groups & kLoadOptions) {
        if (parser.isSet(QStringLiteral("plugin"))) {
            options->pluginPath = parser.value(QStringLiteral("plugin"));
            // An empty path would silently mean "search as usual".
            if (options->pluginPath.isEmpty()) {
                *error = QStringLiteral("--plugin needs the path of a library");
                return false;
            }
        }
        const bool sim = parser.isSet(QStringLiteral("sim"));
        if (parser.isSet(QStringLiteral("sdk"))) {
            if (!sdkFromWord(parser.value(QStringLiteral("sdk")), &options->sdk, error))
                return false;
            if (sim && options->sdk.kind != SdkKind::Simulator) {
                *error =
                    QStringLiteral("--sim and --sdk %1 exclude each other").arg(parser.value(QStringLiteral("sdk")));
                return false;
            }
        } else if (sim) {
            options->sdk = SdkChoice{SdkKind::Simulator, QString()};
        }
        options->quiet = options->quiet || parser.isSet(QStringLiteral("quiet"));
    }
    if ((groups & kCameraOption) && parser.isSet(QStringLiteral("camera")))
        options->camera = parser.value(QStringLiteral("camera"));
    if ((groups & kTriggerOption) && parser.isSet(QStringLiteral("trigger"))) {
        const QString mode = parser.value(QStringLiteral("trigger"));
        if (!triggerFromWord(mode, &options->trigger)) {
            *error = QStringLiteral("--trigger is hardware, free or software, not '%1'").arg(mode);
            return false;
        }
        options->triggerGiven = true;
    }
    return true;
}

}  // namespace kwhost
