// kwcam check: the command line, the run of the selected checks each in a
// child, and the child's side of it.
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTextStream>

#include <dlfcn.h>
#include <fnmatch.h>

#include <chrono>

#include "harness.h"
#include "kwcheck/check.h"
#include "report.h"
#include "runner.h"

namespace kwcheck {

namespace {

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

const char kUsage[] =
    "Usage: kwcam check PLUGIN [KEY] [OPTIONS]\n"
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
    "\n"
    "Exit codes: 0 no check failed, 1 a check failed or the plug-in does not load,\n"
    "2 usage.\n";

struct Options {
    QString plugin;
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
    QStringList positional;
    for (int i = 2; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        auto value = [&](QString* into) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return false;
            }
            *into = arguments.at(++i);
            return true;
        };
        if (a == QLatin1String("--json")) {
            if (!value(&options->json))
                return false;
        } else if (a == QLatin1String("--only")) {
            QString glob;
            if (!value(&glob))
                return false;
            options->only.append(glob);
        } else if (a == QLatin1String("--timeout")) {
            QString text;
            if (!value(&text))
                return false;
            bool ok = false;
            options->timeoutSeconds = text.toDouble(&ok);
            if (!ok || !(options->timeoutSeconds > 0) || options->timeoutSeconds > 3600) {
                *error = QStringLiteral("--timeout takes seconds from above 0 to 3600, not \"%1\"").arg(text);
                return false;
            }
        } else if (a == QLatin1String("--list")) {
            options->list = true;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            options->help = true;
        } else if (a == QLatin1String("--run-one")) {
            if (!value(&options->runOne))
                return false;
        } else if (a == QLatin1String("--probe")) {
            options->probe = true;
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else {
            positional.append(a);
        }
    }
    if (options->help || options->list)
        return true;
    if (positional.isEmpty()) {
        *error = QStringLiteral("no plug-in given");
        return false;
    }
    options->plugin = positional.takeFirst();
    // A key as one quoted argument or as its two words.
    options->key = positional.join(QLatin1Char(' '));
    if (positional.size() > 2) {
        *error = QStringLiteral("too many arguments: a KEY is \"MODEL SERIAL\"");
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
    void* symbol = dlsym(RTLD_DEFAULT, "MV_CC_EnumDevices");
    Dl_info info;
    const QString path = symbol != nullptr && dladdr(symbol, &info) != 0 && info.dli_fname != nullptr
        ? QString::fromLocal8Bit(info.dli_fname)
        : QString();
    if (sim != nullptr)
        return QStringLiteral("stand-in %1").arg(path);
    return path.isEmpty() ? QStringLiteral("unknown") : path;
}

// The child: loads the plug-in, runs one check (or the probe) and answers.
int runChildSide(const Options& options)
{
    kwhost::Plugin plugin;
    QString error;
    if (!plugin.load(options.plugin, &error)) {
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
        writeAnswer(QStringLiteral("simulator"), context.sim != nullptr ? QStringLiteral("yes") : QStringLiteral("no"));
        tagQZ_CAMERA_CONFIG config = kwhost::emptyConfig();
        kwhost::CameraObject camera(plugin, &config, nullptr);
        if (camera) {
            for (const QString& key : camera->IGetCameraList())
                writeAnswer(QStringLiteral("key"), key);
        }
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

}  // namespace

int runCheckCommand(const QStringList& arguments)
{
    Options options;
    QString error;
    QTextStream err(stderr);
    if (!parse(arguments, &options, &error)) {
        err << "kwcam check: " << error << "\n\n" << kUsage;
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

    std::vector<const CheckInfo*> chosen;
    for (const CheckInfo& check : allChecks()) {
        if (selected(check, options.only))
            chosen.push_back(&check);
    }
    if (chosen.empty()) {
        err << "kwcam check: no check matches " << options.only.join(QStringLiteral(", "))
            << " (kwcam check --list shows them)\n";
        return kExitUsage;
    }

    const auto began = std::chrono::steady_clock::now();
    // The kit's cameras for the stand-in; any other SDK ignores the variables.
    QTemporaryDir scratch;
    const QString configPath = scratch.filePath(QStringLiteral("cameras.json"));
    QFile config(configPath);
    if (!scratch.isValid() || !config.open(QIODevice::WriteOnly) || config.write(cameras::configuration()) < 0) {
        err << "kwcam check: cannot write the cameras' configuration into a temporary directory\n";
        return kExitFailure;
    }
    config.close();

    const QByteArray program = QCoreApplication::applicationFilePath().toLocal8Bit();
    const QString plugin = QFileInfo(options.plugin).absoluteFilePath();
    // The stand-in locks a configured device across processes while one holds
    // it open; the kit's cameras are its own, so their locks live in the
    // kit's scratch directory and another kit or host running at the same
    // time neither blocks them nor is blocked.
    const QList<QByteArray> environment{"MVSIM_CONFIG=" + QFile::encodeName(configPath),
                                        "MVSIM_RUNTIME_DIR=" + QFile::encodeName(scratch.path())};
    const int timeoutMs = static_cast<int>(options.timeoutSeconds * 1000);
    // The camera the children check: the one given, else the first listed.
    QString key = options.key;
    auto childArguments = [&](const QList<QByteArray>& mode) {
        QList<QByteArray> list{"check"};
        list << mode << QFile::encodeName(plugin);
        if (!key.isEmpty())
            list << key.toLocal8Bit();
        return list;
    };

    Report report;
    report.plugin = plugin;
    const ChildRun probe = runChild(program, childArguments({"--probe"}), environment, timeoutMs);
    const bool loaded = probe.outcome.status == Status::Pass;
    const bool simulator = probe.answer.value(QStringLiteral("simulator")) == QLatin1String("yes");
    const QStringList keys = probe.answer.values(QStringLiteral("key"));  // newest first
    report.sdk = probe.answer.value(QStringLiteral("sdk"), QStringLiteral("unknown"));
    if (simulator)
        report.camera = QString::fromLatin1(cameras::kMain);
    else if (!options.key.isEmpty())
        report.camera = options.key;
    else if (!keys.isEmpty())
        report.camera = keys.last();
    key = report.camera;

    QTextStream out(stdout);
    printHeader(out, report);
    if (simulator && !options.key.isEmpty())
        out << "note: over the stand-in the kit uses its own cameras; " << options.key << " is not used\n";
    for (const CheckInfo* check : chosen) {
        Row row;
        row.check = check;
        if (!loaded) {
            row.outcome = check->id == QLatin1String("library.entry-points")
                ? probe.outcome
                : skip(QStringLiteral("the plug-in does not load"));
            row.seconds = check->id == QLatin1String("library.entry-points") ? probe.seconds : 0;
        } else if (check->needs != nullptr && !simulator) {
            row.outcome = skip(QStringLiteral("needs %1").arg(QString::fromLatin1(check->needs)));
        } else {
            const ChildRun run =
                runChild(program, childArguments({"--run-one", check->id.toUtf8()}), environment, timeoutMs);
            row.outcome = run.outcome;
            row.seconds = run.seconds;
        }
        printRow(out, row);
        report.rows.push_back(row);
    }
    // A plug-in that does not load fails even when its check was not chosen.
    if (!loaded && report.count(Status::Fail) == 0) {
        err << "kwcam check: " << probe.outcome.detail << '\n';
        report.rows.push_back(Row{findCheck(QStringLiteral("library.entry-points")), probe.outcome, probe.seconds});
    }
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    printSummary(out, report);

    if (!options.json.isEmpty() && !writeJson(options.json, report, &error)) {
        err << "kwcam check: " << error << '\n';
        return kExitFailure;
    }
    return report.count(Status::Fail) > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace kwcheck
