#include "commandline.h"

#include <QtCore/QCommandLineOption>
#include <QtCore/QCommandLineParser>
#include <QtCore/QRegularExpression>

#include <cmath>
#include <functional>

#include "cameraobject.h"

#include "kwhost/imagewriter.h"
#include "kwhost/property.h"

namespace kwcam {

namespace {

// Qt timers tick in whole milliseconds: one trigger per tick at most.
const double kMaxRateHz = 1000.0;
// Qt timers take an int of milliseconds.
const double kMaxTimeoutSeconds = 24.0 * 24 * 3600;

const char kGeneralUsage[] =
    "Usage: kwcam [--plugin PATH] [--sdk SDK | --sim] [--quiet] COMMAND [ARGUMENTS]\n"
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
    "of the key (a number past the list is a part of a key).\n"
    "Run 'kwcam COMMAND --help' for the options of a command.\n"
    "\n"
    "Options (before the command or after it):\n"
    "  --plugin PATH  The plug-in library to load. Default: $KWCAM_PLUGIN, else\n"
    "                 ../lib/kwcamera/libkwcamhik.so relative to the tool.\n"
    "  --sdk SDK      The camera SDK: sim (the simulated cameras), genicam, or the\n"
    "                 path of an SDK library. Default: $KWCAM_SDK (the same\n"
    "                 values), else the one the system finds, else sim.\n"
    "  --sim          Short for --sdk sim.\n"
    "  --quiet        Only errors on stderr.\n"
    "  --verbose      Also the plug-in's log entry for every frame.\n"
    "  -h, --help     Show this help.\n"
    "  -v, --version  Show the version.\n";

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

QCommandLineOption verboseOption()
{
    return QCommandLineOption(QStringLiteral("verbose"),
                              QStringLiteral("Also show the plug-in's log entry for each "
                                             "frame."));
}

// Before the command and after it: the shared options that load the plug-in
// and its SDK, and kwcam's own --verbose and --help.
QList<QCommandLineOption> commonOptions()
{
    return kwhost::hostOptions(kwhost::kLoadOptions) + QList<QCommandLineOption>{verboseOption(), helpOption()};
}

// Adds the shared options of groups (beyond the common ones) and the
// command's own, parses, and reads the shared ones over what the options
// before the command (global) gave. positional gets the arguments that are
// no options, negative numbers among them. False when result is made
// already: a usage error, or the command's help.
bool parseWith(QCommandLineParser& parser, const QString& command, unsigned groups,
               const QList<QCommandLineOption>& own, const QStringList& arguments, const kwhost::HostOptions& global,
               QStringList* positional, ParseResult* result)
{
    const QList<QCommandLineOption> shared = kwhost::hostOptions(groups & ~kwhost::kLoadOptions);
    parser.addOptions(commonOptions() + shared + own);
    const NegativeNumbers negatives(arguments, valueOptionsOf(own + shared + commonOptions()));
    result->invocation.host = global;
    QString error;
    if (!parser.parse(negatives.arguments())) {
        *result = usageError(parser.errorText(), commandHint(command));
        return false;
    }
    if (!kwhost::readHostOptions(parser, groups | kwhost::kLoadOptions, &result->invocation.host, &error)) {
        *result = usageError(error, commandHint(command));
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *result = help(commandHelp(parser, command));
        return false;
    }
    *positional = negatives.restore(parser.positionalArguments());
    return true;
}

QString joinKey(const QStringList& words)
{
    return words.join(QLatin1Char(' '));
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

ParseResult parseList(QCommandLineParser& parser, const QStringList& arguments, const kwhost::HostOptions& global)
{
    const QString usage = commandHint(QStringLiteral("list"));
    parser.setApplicationDescription(QStringLiteral("Print the camera keys, one per line."));
    const QCommandLineOption longFormat(QStringList{QStringLiteral("l"), QStringLiteral("long")},
                                        QStringLiteral("One row per camera: key, transport, geometry, pixel type, "
                                                       "exposure and gain (opens each camera)."));
    QStringList positional;
    ParseResult result;
    if (!parseWith(parser, QStringLiteral("list"), 0, {longFormat}, arguments, global, &positional, &result))
        return result;
    if (!positional.isEmpty())
        return usageError(QStringLiteral("list takes no arguments"), usage);
    result.invocation.command = Command::List;
    result.invocation.list.longFormat = parser.isSet(longFormat);
    return result;
}

ParseResult parseInfo(QCommandLineParser& parser, const QStringList& arguments, const kwhost::HostOptions& global)
{
    const QString usage = commandHint(QStringLiteral("info"));
    parser.setApplicationDescription(QStringLiteral("Describe a camera as the SDK and the plug-in report it."));
    parser.addPositionalArgument(QStringLiteral("key"),
                                 QStringLiteral("The camera, \"MODEL SERIAL\" (default: the first listed)."),
                                 QStringLiteral("[KEY]"));
    QStringList positional;
    ParseResult result;
    if (!parseWith(parser, QStringLiteral("info"), kwhost::kCameraOption, {}, arguments, global, &positional, &result))
        return result;
    if (positional.size() > 2)
        return usageError(QStringLiteral("info takes one camera key"), usage);
    if (!positional.isEmpty() && parser.isSet(QStringLiteral("camera")))
        return usageError(QStringLiteral("give a camera key or -c, not both"), usage);
    result.invocation.command = Command::Info;
    result.invocation.info.key = joinKey(positional);
    return result;
}

// One option of grab: its declaration and how its value goes into the
// options, false with the reason when it cannot.
struct GrabOption {
    QCommandLineOption option;
    std::function<bool(const QString& value, GrabOptions* options, QString* error)> read;
};

const QList<GrabOption>& grabOptions()
{
    static const QList<GrabOption> options = {
        {QCommandLineOption(QStringList{QStringLiteral("n"), QStringLiteral("frames")},
                            QStringLiteral("Frames to receive (default 10); 0 grabs until Ctrl-C or --timeout, "
                                           "with a statistics line a second."),
                            QStringLiteral("FRAMES")),
         [](const QString& value, GrabOptions* options, QString* error) {
             bool ok = false;
             options->frames = value.toULongLong(&ok);
             if (ok && !value.startsWith(QLatin1Char('-')) && !value.startsWith(QLatin1Char('+')))
                 return true;
             *error = QStringLiteral("-n needs a whole number of frames, 0 or more, not '%1'").arg(value);
             return false;
         }},
        {QCommandLineOption(QStringLiteral("duration"),
                            QStringLiteral("Grab for this many seconds instead of a number of frames."),
                            QStringLiteral("SECONDS")),
         [](const QString& value, GrabOptions* options, QString* error) {
             if (kwhost::parseNumber(value, 0.0, kMaxTimeoutSeconds, &options->durationSeconds) &&
                 options->durationSeconds > 0.0) {
                 options->frames = 0;
                 return true;
             }
             *error = QStringLiteral("--duration needs a number of seconds above 0 (at most %1), not '%2'")
                          .arg(kMaxTimeoutSeconds)
                          .arg(value);
             return false;
         }},
        {QCommandLineOption(QStringLiteral("rate"),
                            QStringLiteral("Triggers per second in the triggered modes (default 10, at most "
                                           "1000). In hardware mode 0 sends no pulses and waits for pulses "
                                           "from outside."),
                            QStringLiteral("HZ")),
         [](const QString& value, GrabOptions* options, QString* error) {
             if (options->trigger == TriggerChoice::Free) {
                 *error = QStringLiteral("--rate applies to the hardware and software trigger modes");
                 return false;
             }
             // Below one trigger in 1000 s the tool would only wait for its
             // timeout; 0 is meaningful in hardware mode only.
             const bool zeroAllowed = options->trigger == TriggerChoice::Hardware;
             if (kwhost::parseNumber(value, 0.0, kMaxRateHz, &options->rateHz) &&
                 (options->rateHz > 0.0 || zeroAllowed) && (options->rateHz == 0.0 || options->rateHz >= 1e-3))
                 return true;
             *error = QStringLiteral("--rate needs triggers per second from 0.001 to %1%2, not '%3'")
                          .arg(kMaxRateHz)
                          .arg(zeroAllowed ? QStringLiteral(" (or 0)") : QString())
                          .arg(value);
             return false;
         }},
        {QCommandLineOption(QStringLiteral("exposure"), QStringLiteral("Exposure time, microseconds."),
                            QStringLiteral("N")),
         [](const QString& value, GrabOptions* options, QString* error) {
             bool ok = false;
             options->exposure = value.toInt(&ok);
             options->exposureGiven = ok;
             if (!ok)
                 *error = QStringLiteral("--exposure needs a whole number, not '%1'").arg(value);
             return ok;
         }},
        {QCommandLineOption(QStringLiteral("gain"), QStringLiteral("Gain."), QStringLiteral("N")),
         [](const QString& value, GrabOptions* options, QString* error) {
             bool ok = false;
             options->gain = value.toInt(&ok);
             options->gainGiven = ok;
             if (!ok)
                 *error = QStringLiteral("--gain needs a whole number, not '%1'").arg(value);
             return ok;
         }},
        {QCommandLineOption(QStringLiteral("wb"), QStringLiteral("White-balance ratios red,green,blue."),
                            QStringLiteral("R,G,B")),
         [](const QString& value, GrabOptions* options, QString* error) {
             options->whiteBalanceGiven = parseWhiteBalance(value, options->whiteBalance);
             if (!options->whiteBalanceGiven)
                 *error = QStringLiteral("--wb needs three whole numbers R,G,B, not '%1'").arg(value);
             return options->whiteBalanceGiven;
         }},
        {QCommandLineOption(QStringLiteral("save"),
                            QStringLiteral("Save the last frame to FILE (.png, .pgm or .ppm); with %d "
                                           "(or %0Nd) in the name, save every frame, the frame number in "
                                           "its place."),
                            QStringLiteral("FILE")),
         [](const QString& value, GrabOptions* options, QString* error) {
             options->savePath = value;
             const QString problem = kwhost::checkSavePath(value);
             if (!problem.isEmpty())
                 *error = QStringLiteral("--save: %1").arg(problem);
             return problem.isEmpty();
         }},
        {QCommandLineOption(QStringLiteral("timeout"),
                            QStringLiteral("Give up after this many seconds (default 10, at most 2073600: 24 "
                                           "days)."),
                            QStringLiteral("SECONDS")),
         [](const QString& value, GrabOptions* options, QString* error) {
             options->timeoutGiven = true;
             if (kwhost::parseNumber(value, 0.0, kMaxTimeoutSeconds, &options->timeoutSeconds) &&
                 options->timeoutSeconds > 0.0)
                 return true;
             *error = QStringLiteral("--timeout needs a number of seconds above 0, not '%1'").arg(value);
             return false;
         }},
    };
    return options;
}

ParseResult parseGrab(QCommandLineParser& parser, const QStringList& arguments, const kwhost::HostOptions& global)
{
    const QString usage = commandHint(QStringLiteral("grab"));
    parser.addPositionalArgument(QStringLiteral("key"),
                                 QStringLiteral("The camera, \"MODEL SERIAL\" (default: the first listed)."),
                                 QStringLiteral("[KEY]"));
    QList<QCommandLineOption> own;
    for (const GrabOption& option : grabOptions())
        own << option.option;
    QStringList positional;
    ParseResult result;
    if (!parseWith(parser, QStringLiteral("grab"), kwhost::kCameraOption | kwhost::kTriggerOption, own, arguments,
                   global, &positional, &result))
        return result;
    QString error;

    result.invocation.command = Command::Grab;
    GrabOptions& options = result.invocation.grab;
    options.trigger = result.invocation.host.trigger;
    if (positional.size() > 2)
        return usageError(QStringLiteral("grab takes one camera key"), usage);
    if (!positional.isEmpty() && parser.isSet(QStringLiteral("camera")))
        return usageError(QStringLiteral("give a camera key or -c, not both"), usage);
    if (parser.isSet(QStringLiteral("duration")) && parser.isSet(QStringLiteral("frames")))
        return usageError(QStringLiteral("--duration and -n exclude each other"), usage);
    options.key = joinKey(positional);
    for (const GrabOption& option : grabOptions()) {
        if (parser.isSet(option.option) && !option.read(parser.value(option.option), &options, &error))
            return usageError(error, usage);
    }
    return result;
}

ParseResult parseSet(QCommandLineParser& parser, const QStringList& arguments, const kwhost::HostOptions& global)
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
    ParseResult result;
    if (!parseWith(parser, QStringLiteral("set"), kwhost::kCameraOption, {}, arguments, global, &positional, &result))
        return result;
    // With -c the key is left out.
    const bool chosen = parser.isSet(QStringLiteral("camera"));
    if (chosen && positional.size() != 2)
        return usageError(QStringLiteral("set -c CAMERA takes a property and one value"), usage);
    if (chosen)
        positional.prepend(QString());

    const auto isProperty = [](const QString& name) {
        int id = 0;
        return kwhost::propertyFromName(name, &id);
    };
    // Four arguments are a key in two words, unless a property stands second:
    // then a quoted key is followed by more than one value.
    if (!chosen &&
        (positional.size() < 3 || positional.size() > 4 || (positional.size() == 4 && isProperty(positional.at(1)))))
        return usageError(QStringLiteral("set takes a camera key, a property and one value"), usage);

    result.invocation.command = Command::Set;
    SetOptions& options = result.invocation.set;
    const int count = positional.size();
    options.key = joinKey(positional.mid(0, count - 2));
    options.property = positional.at(count - 2);
    if (!kwhost::propertyFromName(options.property, &options.propertyId))
        return usageError(QStringLiteral("unknown property '%1' (%2)").arg(options.property, kwhost::propertyNames()),
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
    kwhost::HostOptions host;
    QString error;
    if (!kwhost::readHostOptions(global, kwhost::kLoadOptions, &host, &error))
        return usageError(error, usage);

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
    const QStringList commandArguments = QStringList{arguments.value(0, QStringLiteral("kwcam"))} + rest.mid(1);
    ParseResult result;
    if (command == QLatin1String("check")) {
        // The kit reads its own command line, the shared options included.
        result.invocation.command = Command::Check;
        result.invocation.host = host;
        result.invocation.checkArguments = rest.mid(1);
        result.invocation.verbosity = host.quiet ? Verbosity::Quiet : Verbosity::Normal;
        return result;
    }
    if (command == QLatin1String("list"))
        result = parseList(parser, commandArguments, host);
    else if (command == QLatin1String("grab"))
        result = parseGrab(parser, commandArguments, host);
    else if (command == QLatin1String("set"))
        result = parseSet(parser, commandArguments, host);
    else if (command == QLatin1String("info"))
        result = parseInfo(parser, commandArguments, host);
    else
        return usageError(QStringLiteral("unknown command '%1'").arg(command), usage);

    if (result.status == ParseResult::Run) {
        const bool quiet = result.invocation.host.quiet;
        const bool verbose = parser.isSet(QStringLiteral("verbose")) || global.isSet(QStringLiteral("verbose"));
        if (quiet && verbose)
            return usageError(QStringLiteral("--quiet and --verbose exclude each other"), usage);
        result.invocation.verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
    }
    return result;
}

}  // namespace kwcam
