#include "commandline.h"

#include <QtCore/QCommandLineOption>
#include <QtCore/QCommandLineParser>
#include <QtCore/QRegularExpression>

#include <cmath>

#include "cameraobject.h"

#include "kwhost/imagewriter.h"

namespace kwcam {

namespace {

// Qt timers tick in whole milliseconds: one trigger per tick at most.
const double kMaxRateHz = 1000.0;
// Qt timers take an int of milliseconds.
const double kMaxTimeoutSeconds = 24.0 * 24 * 3600;

const char kGeneralUsage[] =
    "Usage: kwcam [--plugin PATH] [--sim] COMMAND [ARGUMENTS]\n"
    "\n"
    "Drives a camera through the kwcamera plug-in, as a host application does.\n"
    "\n"
    "Commands:\n"
    "  list [--long]           Print the keys of the cameras found, one per line.\n"
    "  info [KEY]              Describe a camera: transport, geometry, pixel type,\n"
    "                          exposure, gain, automatic modes, trigger.\n"
    "  grab [KEY] [OPTIONS]    Acquire frames, print a summary, optionally save frames.\n"
    "  set KEY PROPERTY VALUE  Set exposure, gain, wb-red, wb-green or wb-blue.\n"
    "  check PLUGIN [KEY]      Check that a plug-in keeps the contract ('kwcam check --help').\n"
    "\n"
    "A KEY is \"MODEL SERIAL\" as 'kwcam list' prints it: one quoted argument or two.\n"
    "Instead of KEY, -c CAMERA chooses by index in the list or by a unique part\n"
    "of the key.\n"
    "Run 'kwcam COMMAND --help' for the options of a command.\n"
    "\n"
    "Options:\n"
    "  --plugin PATH  The plug-in library to load. Default: $KWCAM_PLUGIN, else\n"
    "                 ../lib/kwcamera/libkwcamhik.so relative to the tool.\n"
    "  --sim          Use the simulated cameras (the SDK stand-in) even where a\n"
    "                 camera SDK is installed. $KWCAM_SDK=PATH loads that SDK.\n"
    "  --quiet        Only errors on stderr.\n"
    "  --verbose      Also the plug-in's log entry for every frame.\n"
    "  -h, --help     Show this help.\n"
    "  -v, --version  Show the version.\n";

struct PropertyName {
    const char* name;
    int id;
};

const PropertyName kProperties[] = {
    {"exposure", CameraPropertyExposureTime},    {"gain", CameraPropertyGain},
    {"wb-red", CameraPropertyBalanceRatioRed},   {"wb-green", CameraPropertyBalanceRatioGreen},
    {"wb-blue", CameraPropertyBalanceRatioBlue},
};

QCommandLineOption pluginOption()
{
    return QCommandLineOption(QStringLiteral("plugin"), QStringLiteral("The plug-in library to load."),
                              QStringLiteral("PATH"));
}

QCommandLineOption helpOption()
{
    return QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Show this help."));
}

ParseResult usageError(const QString& reason, const QString& usage)
{
    ParseResult result;
    result.status = ParseResult::UsageError;
    result.text = QStringLiteral("kwcam: %1\n\n%2").arg(reason, usage);
    return result;
}

ParseResult help(const QString& text)
{
    ParseResult result;
    result.status = ParseResult::Help;
    result.text = text;
    return result;
}

// Qt's help text starts "Usage: <program path> [options]"; name the
// command instead of the path.
QString commandHelp(const QCommandLineParser& parser, const QString& command)
{
    QString text = parser.helpText();
    const int options = text.indexOf(QLatin1String("[options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && options > 0)
        text.replace(0, options, QStringLiteral("Usage: kwcam %1 ").arg(command));
    return text;
}

QString commandHint(const QString& command)
{
    return QStringLiteral("Run 'kwcam %1 --help' for its arguments and options.\n").arg(command);
}

// Values may be negative ("set KEY gain -3"), but the parser takes every
// argument that starts with '-' for options. Negative numbers that stand as
// arguments of their own (not as the value of an option before them) are
// replaced by tokens the parser passes through, and put back afterwards.
class NegativeNumbers {
public:
    NegativeNumbers(const QStringList& arguments, const QStringList& valueOptions)
    {
        static const QRegularExpression negative(QStringLiteral("^-(\\d+\\.?\\d*|\\.\\d+)$"));
        for (int i = 0; i < arguments.size(); ++i) {
            const QString& argument = arguments.at(i);
            const bool isValue = i > 0 && valueOptions.contains(arguments.at(i - 1));
            if (i > 0 && !isValue && negative.match(argument).hasMatch()) {
                m_hidden.append(argument);
                m_arguments.append(token(m_hidden.size() - 1));
            } else {
                m_arguments.append(argument);
            }
        }
    }
    const QStringList& arguments() const { return m_arguments; }
    QStringList restore(const QStringList& positional) const
    {
        QStringList result;
        for (const QString& argument : positional) {
            const int index = m_hidden.isEmpty() ? -1 : indexOf(argument);
            result.append(index >= 0 ? m_hidden.at(index) : argument);
        }
        return result;
    }

private:
    static QString token(int index) { return QStringLiteral("\u0001%1").arg(index); }
    int indexOf(const QString& argument) const
    {
        for (int i = 0; i < m_hidden.size(); ++i) {
            if (argument == token(i))
                return i;
        }
        return -1;
    }
    QStringList m_arguments;
    QStringList m_hidden;
};

// Options of every command that take a value, with their dashes.
QStringList valueOptionsOf(const QList<QCommandLineOption>& options)
{
    QStringList names;
    for (const QCommandLineOption& option : options) {
        if (option.valueName().isEmpty())
            continue;
        for (const QString& name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    }
    return names;
}

QCommandLineOption quietOption()
{
    return QCommandLineOption(QStringLiteral("quiet"),
                              QStringLiteral("Only errors on stderr: no log entries of the plug-in, no progress."));
}

QCommandLineOption verboseOption()
{
    return QCommandLineOption(QStringLiteral("verbose"),
                              QStringLiteral("Also show the plug-in's log entry for each "
                                             "frame."));
}

QCommandLineOption cameraOption()
{
    return QCommandLineOption(QStringList{QStringLiteral("c"), QStringLiteral("camera")},
                              QStringLiteral("The camera by its index in 'kwcam list' (0, 1, ...) or by any part of "
                                             "its key that no other key has, instead of KEY."),
                              QStringLiteral("CAMERA"));
}

QCommandLineOption simOption()
{
    return QCommandLineOption(QStringLiteral("sim"),
                              QStringLiteral("Use the simulated cameras: load the SDK stand-in before the plug-in."));
}

QList<QCommandLineOption> commonOptions()
{
    return {pluginOption(), simOption(), quietOption(), verboseOption(), helpOption()};
}

// Adds the command's own options and parses; positional gets the arguments
// that are no options, negative numbers among them.
bool parseWith(QCommandLineParser& parser, const QList<QCommandLineOption>& own, const QStringList& arguments,
               QStringList* positional)
{
    parser.addOptions(own);
    const NegativeNumbers negatives(arguments, valueOptionsOf(own + commonOptions()));
    if (!parser.parse(negatives.arguments()))
        return false;
    *positional = negatives.restore(parser.positionalArguments());
    return true;
}

QString joinKey(const QStringList& words)
{
    return words.join(QLatin1Char(' '));
}

bool parseDouble(const QString& text, double low, double high, double* out)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return false;
    *out = value;
    return true;
}

bool parseWhiteBalance(const QString& text, int out[3])
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int value = parts.at(i).trimmed().toInt(&ok);
        if (!ok || value < 0)
            return false;
        out[i] = value;
    }
    return true;
}

ParseResult parseList(QCommandLineParser& parser, const QStringList& arguments)
{
    const QString usage = commandHint(QStringLiteral("list"));
    parser.setApplicationDescription(QStringLiteral("Print the camera keys, one per line."));
    const QCommandLineOption longFormat(QStringList{QStringLiteral("l"), QStringLiteral("long")},
                                        QStringLiteral("One row per camera: key, transport, geometry, pixel type, "
                                                       "exposure and gain (opens each camera)."));
    QStringList positional;
    if (!parseWith(parser, {longFormat}, arguments, &positional))
        return usageError(parser.errorText(), usage);
    if (parser.isSet(QStringLiteral("help")))
        return help(commandHelp(parser, QStringLiteral("list")));
    if (!positional.isEmpty())
        return usageError(QStringLiteral("list takes no arguments"), usage);
    ParseResult result;
    result.invocation.command = Command::List;
    result.invocation.list.longFormat = parser.isSet(longFormat);
    return result;
}

ParseResult parseInfo(QCommandLineParser& parser, const QStringList& arguments)
{
    const QString usage = commandHint(QStringLiteral("info"));
    parser.setApplicationDescription(QStringLiteral("Describe a camera as the SDK and the plug-in report it."));
    parser.addPositionalArgument(QStringLiteral("key"),
                                 QStringLiteral("The camera, \"MODEL SERIAL\" (default: the first listed)."),
                                 QStringLiteral("[KEY]"));
    QStringList positional;
    if (!parseWith(parser, {cameraOption()}, arguments, &positional))
        return usageError(parser.errorText(), usage);
    if (parser.isSet(QStringLiteral("help")))
        return help(commandHelp(parser, QStringLiteral("info")));
    if (positional.size() > 2)
        return usageError(QStringLiteral("info takes one camera key"), usage);
    if (!positional.isEmpty() && parser.isSet(QStringLiteral("camera")))
        return usageError(QStringLiteral("give a camera key or -c, not both"), usage);
    ParseResult result;
    result.invocation.command = Command::Info;
    result.invocation.info.key = joinKey(positional);
    return result;
}

ParseResult parseGrab(QCommandLineParser& parser, const QStringList& arguments)
{
    const QString usage = commandHint(QStringLiteral("grab"));
    const QCommandLineOption frames(QStringList{QStringLiteral("n"), QStringLiteral("frames")},
                                    QStringLiteral("Frames to receive (default 10); 0 grabs until Ctrl-C or --timeout, "
                                                   "with a statistics line a second."),
                                    QStringLiteral("FRAMES"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("Grab for this many seconds instead of a number of frames."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption trigger(QStringLiteral("trigger"),
                                     QStringLiteral("hardware (line 0), free (free-running, the default) or "
                                                    "software."),
                                     QStringLiteral("MODE"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Triggers per second in the triggered modes (default 10, at most "
                                                 "1000). In hardware mode 0 sends no pulses and waits for pulses "
                                                 "from outside."),
                                  QStringLiteral("HZ"));
    const QCommandLineOption exposure(QStringLiteral("exposure"), QStringLiteral("Exposure time, microseconds."),
                                      QStringLiteral("N"));
    const QCommandLineOption gain(QStringLiteral("gain"), QStringLiteral("Gain."), QStringLiteral("N"));
    const QCommandLineOption wb(QStringLiteral("wb"), QStringLiteral("White-balance ratios red,green,blue."),
                                QStringLiteral("R,G,B"));
    const QCommandLineOption save(QStringLiteral("save"),
                                  QStringLiteral("Save the last frame to FILE (.png, .pgm or .ppm); with %d "
                                                 "(or %0Nd) in the name, save every frame, the frame number in "
                                                 "its place."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Give up after this many seconds (default 10, at most 2073600: 24 "
                                                    "days)."),
                                     QStringLiteral("SECONDS"));
    parser.addPositionalArgument(QStringLiteral("key"),
                                 QStringLiteral("The camera, \"MODEL SERIAL\" (default: the first listed)."),
                                 QStringLiteral("[KEY]"));
    QStringList positional;
    if (!parseWith(parser, {cameraOption(), frames, duration, trigger, rate, exposure, gain, wb, save, timeout},
                   arguments, &positional))
        return usageError(parser.errorText(), usage);
    if (parser.isSet(QStringLiteral("help")))
        return help(commandHelp(parser, QStringLiteral("grab")));

    ParseResult result;
    result.invocation.command = Command::Grab;
    GrabOptions& options = result.invocation.grab;

    if (positional.size() > 2)
        return usageError(QStringLiteral("grab takes one camera key"), usage);
    if (!positional.isEmpty() && parser.isSet(QStringLiteral("camera")))
        return usageError(QStringLiteral("give a camera key or -c, not both"), usage);
    options.key = joinKey(positional);

    if (parser.isSet(frames)) {
        bool ok = false;
        options.frames = parser.value(frames).toULongLong(&ok);
        if (!ok || parser.value(frames).startsWith(QLatin1Char('-')) ||
            parser.value(frames).startsWith(QLatin1Char('+')))
            return usageError(
                QStringLiteral("-n needs a whole number of frames, 0 or more, not '%1'").arg(parser.value(frames)),
                usage);
    }
    if (parser.isSet(trigger)) {
        const QString mode = parser.value(trigger);
        if (!kwhost::triggerFromWord(mode, &options.trigger))
            return usageError(QStringLiteral("--trigger is hardware, free or software, not '%1'").arg(mode), usage);
    }
    if (parser.isSet(rate)) {
        if (options.trigger == TriggerChoice::Free)
            return usageError(QStringLiteral("--rate applies to the hardware and software trigger modes"), usage);
        // Below one trigger in 1000 s the tool would only wait for its timeout;
        // 0 is meaningful in hardware mode only.
        const bool zeroAllowed = options.trigger == TriggerChoice::Hardware;
        if (!parseDouble(parser.value(rate), 0.0, kMaxRateHz, &options.rateHz) ||
            (options.rateHz == 0.0 && !zeroAllowed) || (options.rateHz > 0.0 && options.rateHz < 1e-3))
            return usageError(QStringLiteral("--rate needs triggers per second from 0.001 to %1%2, not '%3'")
                                  .arg(kMaxRateHz)
                                  .arg(zeroAllowed ? QStringLiteral(" (or 0)") : QString())
                                  .arg(parser.value(rate)),
                              usage);
    }
    if (parser.isSet(exposure)) {
        bool ok = false;
        options.exposure = parser.value(exposure).toInt(&ok);
        if (!ok)
            return usageError(QStringLiteral("--exposure needs a whole number, not '%1'").arg(parser.value(exposure)),
                              usage);
        options.exposureGiven = true;
    }
    if (parser.isSet(gain)) {
        bool ok = false;
        options.gain = parser.value(gain).toInt(&ok);
        if (!ok)
            return usageError(QStringLiteral("--gain needs a whole number, not '%1'").arg(parser.value(gain)), usage);
        options.gainGiven = true;
    }
    if (parser.isSet(wb)) {
        if (!parseWhiteBalance(parser.value(wb), options.whiteBalance))
            return usageError(QStringLiteral("--wb needs three whole numbers R,G,B, not '%1'").arg(parser.value(wb)),
                              usage);
        options.whiteBalanceGiven = true;
    }
    if (parser.isSet(save)) {
        options.savePath = parser.value(save);
        const QString problem = kwhost::checkSavePath(options.savePath);
        if (!problem.isEmpty())
            return usageError(QStringLiteral("--save: %1").arg(problem), usage);
    }
    if (parser.isSet(duration)) {
        if (parser.isSet(frames))
            return usageError(QStringLiteral("--duration and -n exclude each other"), usage);
        if (!parseDouble(parser.value(duration), 0.0, kMaxTimeoutSeconds, &options.durationSeconds) ||
            options.durationSeconds <= 0.0)
            return usageError(QStringLiteral("--duration needs a number of seconds above 0 (at most %1), not '%2'")
                                  .arg(kMaxTimeoutSeconds)
                                  .arg(parser.value(duration)),
                              usage);
        options.frames = 0;
    }
    options.timeoutGiven = parser.isSet(timeout);
    if (parser.isSet(timeout) &&
        (!parseDouble(parser.value(timeout), 0.0, kMaxTimeoutSeconds, &options.timeoutSeconds) ||
         options.timeoutSeconds <= 0.0))
        return usageError(
            QStringLiteral("--timeout needs a number of seconds above 0, not '%1'").arg(parser.value(timeout)), usage);
    return result;
}

ParseResult parseSet(QCommandLineParser& parser, const QStringList& arguments)
{
    const QString usage = commandHint(QStringLiteral("set"));
    parser.addPositionalArgument(QStringLiteral("key"), QStringLiteral("The camera, \"MODEL SERIAL\"."),
                                 QStringLiteral("KEY"));
    parser.addPositionalArgument(QStringLiteral("property"),
                                 QStringLiteral("exposure, gain, wb-red, wb-green or wb-blue."),
                                 QStringLiteral("PROPERTY"));
    parser.addPositionalArgument(QStringLiteral("value"), QStringLiteral("A whole number, may be negative."),
                                 QStringLiteral("VALUE"));
    QStringList positional;
    if (!parseWith(parser, {cameraOption()}, arguments, &positional))
        return usageError(parser.errorText(), usage);
    if (parser.isSet(QStringLiteral("help")))
        return help(commandHelp(parser, QStringLiteral("set")));
    // With -c the key is left out.
    const bool chosen = parser.isSet(QStringLiteral("camera"));
    if (chosen && positional.size() != 2)
        return usageError(QStringLiteral("set -c CAMERA takes a property and one value"), usage);
    if (chosen)
        positional.prepend(QString());

    const auto isProperty = [](const QString& name) {
        for (const PropertyName& property : kProperties) {
            if (name == QLatin1String(property.name))
                return true;
        }
        return false;
    };
    // Four arguments are a key in two words, unless a property stands second:
    // then a quoted key is followed by more than one value.
    if (!chosen &&
        (positional.size() < 3 || positional.size() > 4 || (positional.size() == 4 && isProperty(positional.at(1)))))
        return usageError(QStringLiteral("set takes a camera key, a property and one value"), usage);

    ParseResult result;
    result.invocation.command = Command::Set;
    SetOptions& options = result.invocation.set;
    const int count = positional.size();
    options.key = joinKey(positional.mid(0, count - 2));
    options.property = positional.at(count - 2);
    for (const PropertyName& property : kProperties) {
        if (options.property == QLatin1String(property.name))
            options.propertyId = property.id;
    }
    if (options.propertyId == 0)
        return usageError(
            QStringLiteral("unknown property '%1' (exposure, gain, wb-red, wb-green, wb-blue)").arg(options.property),
            usage);
    bool ok = false;
    options.value = positional.at(count - 1).toInt(&ok);
    if (!ok)
        return usageError(QStringLiteral("the value needs to be a whole number, not '%1'").arg(positional.last()),
                          usage);
    return result;
}

}  // namespace

ParseResult parseCommandLine(const QStringList& arguments)
{
    const QString usage = QString::fromLatin1(kGeneralUsage);

    // The first pass finds the command; whatever follows it is the command's.
    QCommandLineParser global;
    global.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    global.addOptions(commonOptions() + QList<QCommandLineOption>{version});
    if (!global.parse(arguments))
        return usageError(global.errorText(), usage);

    const QStringList rest = global.positionalArguments();
    if (rest.isEmpty()) {
        if (global.isSet(QStringLiteral("help")))
            return help(usage);
        if (global.isSet(version))
            return help(QStringLiteral("kwcam %1\n").arg(QStringLiteral(KWCAM_VERSION)));
        return usageError(QStringLiteral("no command given"), usage);
    }

    const QString command = rest.first();
    QCommandLineParser parser;
    parser.addOptions(commonOptions());
    const QStringList commandArguments = QStringList{arguments.value(0, QStringLiteral("kwcam"))} + rest.mid(1);
    ParseResult result;
    if (command == QLatin1String("list"))
        result = parseList(parser, commandArguments);
    else if (command == QLatin1String("grab"))
        result = parseGrab(parser, commandArguments);
    else if (command == QLatin1String("set"))
        result = parseSet(parser, commandArguments);
    else if (command == QLatin1String("info"))
        result = parseInfo(parser, commandArguments);
    else
        return usageError(QStringLiteral("unknown command '%1'").arg(command), usage);

    if (result.status == ParseResult::Run) {
        const bool here = parser.isSet(QStringLiteral("plugin"));
        if (here || global.isSet(QStringLiteral("plugin"))) {
            result.invocation.pluginPath = (here ? parser : global).value(QStringLiteral("plugin"));
            // An empty path would silently mean "search as usual".
            if (result.invocation.pluginPath.isEmpty())
                return usageError(QStringLiteral("--plugin needs the path of a library"), usage);
        }
        const bool quiet = parser.isSet(QStringLiteral("quiet")) || global.isSet(QStringLiteral("quiet"));
        const bool verbose = parser.isSet(QStringLiteral("verbose")) || global.isSet(QStringLiteral("verbose"));
        if (quiet && verbose)
            return usageError(QStringLiteral("--quiet and --verbose exclude each other"), usage);
        result.invocation.useSimulator = parser.isSet(QStringLiteral("sim")) || global.isSet(QStringLiteral("sim"));
        result.invocation.verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
        if (command != QLatin1String("list") && parser.isSet(QStringLiteral("camera")))
            result.invocation.cameraChoice = parser.value(QStringLiteral("camera"));
    }
    return result;
}

}  // namespace kwcam
