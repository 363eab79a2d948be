// kwcam check: the command line, the run of the selected checks each in a
// child, and the child's side of it.
#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTextStream>

#include <dlfcn.h>
#include <fnmatch.h>

#include <algorithm>
#include <chrono>

#include "harness.h"
#include "kwcheck/check.h"
#include "kwhost/camera.h"
#include "report.h"
#include "runner.h"

namespace kwcheck {

namespace {

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

const char kUsage[] =
    "Usage: kwcam check PLUGIN [KEY] [OPTIONS]\n"
    "       kwcam check --plugin PLUGIN [KEY] [OPTIONS]\n"
    "       kwcam check --list\n"
    "\n"
    "Checks that a camera plug-in keeps the contract, each check in a process of\n"
    "its own. Over the SDK stand-in the kit brings its own cameras and KEY is not\n"
    "used; over any other SDK it checks KEY (default: the first camera listed) and\n"
    "skips the checks that need the stand-in.\n"
    "\n"
    "Options:\n"
    "  --json FILE        Also write the report as JSON to FILE.\n"
    "  --only GLOB        Run only the checks whose id matches GLOB (repeatable).\n"
    "  --timeout SECONDS  Time allowed to each check (default 10).\n"
    "  --list             Print the checks and what each needs, then exit.\n"
    "  -h, --help         Show this help.\n"
    "As for every kwcam command, before 'check' or after it:\n"
    "  --plugin PATH      The plug-in to check, instead of PLUGIN.\n"
    "  --sdk SDK, --sim   The camera SDK the plug-in binds to: sim, genicam or the\n"
    "                     path of an SDK library (default: $KWCAM_SDK, else the one\n"
    "                     the system finds, else sim).\n"
    "  -c CAMERA          The camera by index or by a part of its key, instead of KEY.\n"
    "  --quiet            Only errors on stderr.\n"
    "\n"
    "Exit codes: 0 no check failed, 1 a check failed or the plug-in does not load,\n"
    "2 usage.\n";

struct Options {
    kwhost::HostOptions host;  // host.pluginPath: the plug-in to check
    QString key;
    QString json;
    QStringList only;
    double timeoutSeconds = 10;
    bool list = false;
    bool help = false;
    // Hidden: the child's side.
    QString runOne;
    bool probe = false;
};

bool parse(const QStringList& arguments, Options* options, QString* error)
{
    const QCommandLineOption json(QStringLiteral("json"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption only(QStringLiteral("only"), QString(), QStringLiteral("GLOB"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption list(QStringLiteral("list"), QString());
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption runOne(QStringLiteral("run-one"), QString(), QStringLiteral("ID"));
    const QCommandLineOption probe(QStringLiteral("probe"), QString());
    QCommandLineParser parser;
    parser.addOptions(kwhost::hostOptions(kwhost::kLoadOptions | kwhost::kCameraOption) +
                      QList<QCommandLineOption>{json, only, timeout, list, help, runOne, probe});
    if (!parser.parse(QStringList{QStringLiteral("kwcam check")} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!kwhost::readHostOptions(parser, kwhost::kLoadOptions | kwhost::kCameraOption, &options->host, error))
        return false;
    options->json = parser.value(json);
    options->only = parser.values(only);
    options->list = parser.isSet(list);
    options->help = parser.isSet(help);
    options->runOne = parser.value(runOne);
    options->probe = parser.isSet(probe);
    if (parser.isSet(timeout)) {
        const QString text = parser.value(timeout);
        if (!kwhost::parseNumber(text, 0, 3600, &options->timeoutSeconds) || options->timeoutSeconds <= 0) {
            *error = QStringLiteral("--timeout takes seconds from above 0 to 3600, not \"%1\"").arg(text);
            return false;
        }
    }
    if (options->help || options->list)
        return true;
    QStringList positional = parser.positionalArguments();
    if (options->host.pluginPath.isEmpty()) {
        if (positional.isEmpty()) {
            *error = QStringLiteral("no plug-in given");
            return false;
        }
        options->host.pluginPath = positional.takeFirst();
    }
    // A key as one quoted argument or as its two words.
    options->key = positional.join(QLatin1Char(' '));
    if (positional.size() > 2) {
        *error = QStringLiteral("too many arguments: a KEY is \"MODEL SERIAL\"");
        return false;
    }
    if (!options->key.isEmpty() && !options->host.camera.isNull()) {
        *error = QStringLiteral("give a camera key or -c, not both");
        return false;
    }
    return true;
}

bool selected(const CheckInfo& check, const QStringList& globs)
{
    if (globs.isEmpty())
        return true;
    const QByteArray id = check.id.toUtf8();
    for (const QString& glob : globs) {
        if (fnmatch(glob.toUtf8().constData(), id.constData(), 0) == 0)
            return true;
    }
    return false;
}

QString sdkDescription(const Sim* sim)
{
    const QString path = kwhost::loadedSdkPath();
    if (sim != nullptr)
        return QStringLiteral("stand-in %1").arg(path);
    return path.isEmpty() ? QStringLiteral("unknown") : path;
}

// The child: loads the plug-in, runs one check (or the probe) and answers.
int runChildSide(const Options& options)
{
    kwhost::Plugin plugin;
    QString error;
    QString sdkLine;
    if (!kwhost::loadPluginAndSdk(options.host, &plugin, &sdkLine, &error)) {
        writeAnswer(QStringLiteral("status"), statusName(Status::Fail));
        writeAnswer(QStringLiteral("detail"), error);
        return kExitFailure;
    }
    Context context;
    context.plugin = &plugin;
    context.sim = Sim::find();
    context.key = context.sim != nullptr ? QString::fromLatin1(cameras::kMain) : options.key;

    if (options.probe) {
        writeAnswer(QStringLiteral("sdk"), sdkDescription(context.sim));
        writeAnswer(QStringLiteral("sdkline"), sdkLine);
        writeAnswer(QStringLiteral("simulator"), context.sim != nullptr ? QStringLiteral("yes") : QStringLiteral("no"));
        for (const QString& key : kwhost::listCameras(plugin))
            writeAnswer(QStringLiteral("key"), key);
        writeAnswer(QStringLiteral("status"), statusName(Status::Pass));
        return kExitSuccess;
    }

    const CheckInfo* check = findCheck(options.runOne);
    Outcome outcome;
    if (check == nullptr)
        outcome = fail(QStringLiteral("no check %1").arg(options.runOne));
    else if (check->needs != nullptr && context.sim == nullptr)
        outcome = skip(QStringLiteral("needs %1").arg(QString::fromLatin1(check->needs)));
    else
        outcome = check->run(context);
    writeAnswer(QStringLiteral("detail"), outcome.detail);
    writeAnswer(QStringLiteral("status"), statusName(outcome.status));
    return kExitSuccess;
}

int listChecks()
{
    QTextStream out(stdout);
    for (const CheckInfo& check : allChecks()) {
        out << check.id.leftJustified(40) << ' '
            << (check.needs != nullptr ? QStringLiteral("needs %1").arg(QString::fromLatin1(check.needs))
                                       : QStringLiteral("any SDK"))
            << '\n';
    }
    return kExitSuccess;
}

// One run of the kit in the parent: the children it starts and what it
// learns of the plug-in from the probe.
class KitRun {
public:
    explicit KitRun(const Options& options) : m_options(options), m_err(stderr), m_out(stdout) {}

    int run();

private:
    bool chooseChecks();
    bool writeCameras();
    bool probePlugin();
    Row runRow(const CheckInfo* check);
    QList<QByteArray> childArguments(const QList<QByteArray>& mode) const;

    const Options& m_options;
    QTextStream m_err;
    QTextStream m_out;
    std::vector<const CheckInfo*> m_chosen;
    QTemporaryDir m_scratch;
    QList<QByteArray> m_environment;
    QByteArray m_program;
    int m_timeoutMs = 0;
    Report m_report;
    ChildRun m_probe;
    bool m_loaded = false;
    bool m_simulator = false;
};

int KitRun::run()
{
    const auto began = std::chrono::steady_clock::now();
    if (!chooseChecks())
        return kExitUsage;
    if (!writeCameras())
        return kExitFailure;
    if (!probePlugin())
        return kExitFailure;
    printHeader(m_out, m_report);
    if (m_simulator && !m_options.key.isEmpty())
        m_out << "note: over the stand-in the kit uses its own cameras; " << m_options.key << " is not used\n";
    for (const CheckInfo* check : m_chosen) {
        const Row row = runRow(check);
        printRow(m_out, row);
        m_report.rows.push_back(row);
    }
    // A plug-in that does not load fails even when its check was not chosen.
    if (!m_loaded && m_report.count(Status::Fail) == 0) {
        m_err << "kwcam check: " << m_probe.outcome.detail << '\n';
        m_report.rows.push_back(
            Row{findCheck(QStringLiteral("library.entry-points")), m_probe.outcome, m_probe.seconds});
    }
    m_report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    printSummary(m_out, m_report);

    QString error;
    if (!m_options.json.isEmpty() && !writeJson(m_options.json, m_report, &error)) {
        m_err << "kwcam check: " << error << '\n';
        return kExitFailure;
    }
    return m_report.count(Status::Fail) > 0 ? kExitFailure : kExitSuccess;
}

bool KitRun::chooseChecks()
{
    for (const CheckInfo& check : allChecks()) {
        if (selected(check, m_options.only))
            m_chosen.push_back(&check);
    }
    if (m_chosen.empty())
        m_err << "kwcam check: no check matches " << m_options.only.join(QStringLiteral(", "))
              << " (kwcam check --list shows them)\n";
    return !m_chosen.empty();
}

// The kit's cameras for the stand-in; any other SDK ignores the variables.
bool KitRun::writeCameras()
{
    const QString configPath = m_scratch.filePath(QStringLiteral("cameras.json"));
    QFile config(configPath);
    if (!m_scratch.isValid() || !config.open(QIODevice::WriteOnly) || config.write(cameras::configuration()) < 0) {
        m_err << "kwcam check: cannot write the cameras' configuration into a temporary directory\n";
        return false;
    }
    config.close();
    m_program = QCoreApplication::applicationFilePath().toLocal8Bit();
    m_report.plugin = QFileInfo(m_options.host.pluginPath).absoluteFilePath();
    // The stand-in locks a configured device across processes while one holds
    // it open; the kit's cameras are its own, so their locks live in the
    // kit's scratch directory and another kit or host running at the same
    // time neither blocks them nor is blocked.
    m_environment = {"MVSIM_CONFIG=" + QFile::encodeName(configPath),
                     "MVSIM_RUNTIME_DIR=" + QFile::encodeName(m_scratch.path())};
    m_timeoutMs = static_cast<int>(m_options.timeoutSeconds * 1000);
    return true;
}

// Loads the plug-in in a child: the SDK it binds to, the cameras it lists,
// and so the camera the checks use.
bool KitRun::probePlugin()
{
    m_probe = runChild(m_program, childArguments({"--probe"}), m_environment, m_timeoutMs);
    m_loaded = m_probe.outcome.status == Status::Pass;
    m_simulator = m_probe.answer.value(QStringLiteral("simulator")) == QLatin1String("yes");
    QStringList keys = m_probe.answer.values(QStringLiteral("key"));  // newest first
    std::reverse(keys.begin(), keys.end());
    m_report.sdk = m_probe.answer.value(QStringLiteral("sdk"), QStringLiteral("unknown"));
    const QString sdkLine = m_probe.answer.value(QStringLiteral("sdkline"));
    if (!m_options.host.quiet && !sdkLine.isEmpty())
        m_err << "kwcam check: " << sdkLine << '\n';
    QString error;
    if (m_simulator)
        m_report.camera = QString::fromLatin1(cameras::kMain);
    else if (!m_options.host.camera.isNull() && m_loaded &&
             !kwhost::chooseCameraByPart(keys, m_options.host.camera, &m_report.camera, &error)) {
        m_err << "kwcam check: " << error << '\n';
        return false;
    } else if (!m_options.key.isEmpty())
        m_report.camera = m_options.key;
    else if (m_report.camera.isEmpty() && !keys.isEmpty())
        m_report.camera = keys.first();
    return true;
}

Row KitRun::runRow(const CheckInfo* check)
{
    Row row;
    row.check = check;
    const bool entryPoints = check->id == QLatin1String("library.entry-points");
    if (!m_loaded) {
        // The probe was that check.
        row.outcome = entryPoints ? m_probe.outcome : skip(QStringLiteral("the plug-in does not load"));
        row.seconds = entryPoints ? m_probe.seconds : 0;
    } else if (check->needs != nullptr && !m_simulator) {
        row.outcome = skip(QStringLiteral("needs %1").arg(QString::fromLatin1(check->needs)));
    } else {
        const ChildRun run =
            runChild(m_program, childArguments({"--run-one", check->id.toUtf8()}), m_environment, m_timeoutMs);
        row.outcome = run.outcome;
        row.seconds = run.seconds;
    }
    return row;
}

// The camera the children check: the one chosen, else the first listed.
QList<QByteArray> KitRun::childArguments(const QList<QByteArray>& mode) const
{
    QList<QByteArray> list{"check"};
    list << mode << "--plugin" << QFile::encodeName(m_report.plugin);
    const QString sdk = kwhost::sdkWord(m_options.host.sdk);
    if (!sdk.isEmpty())
        list << "--sdk" << QFile::encodeName(sdk);
    if (!m_report.camera.isEmpty())
        list << m_report.camera.toLocal8Bit();
    return list;
}

}  // namespace

int runCheckCommand(const QStringList& arguments, const kwhost::HostOptions& global)
{
    Options options;
    options.host = global;
    QString error;
    if (!parse(arguments, &options, &error)) {
        QTextStream(stderr) << "kwcam check: " << error << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (options.help) {
        QTextStream(stdout) << kUsage;
        return kExitSuccess;
    }
    if (options.list)
        return listChecks();
    if (!options.runOne.isEmpty() || options.probe)
        return runChildSide(options);
    return KitRun(options).run();
}

}  // namespace kwcheck
