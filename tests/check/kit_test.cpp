// kwcam check, run as a plug-in author runs it: our plug-in passes every
// check; each broken copy fails the check aimed at its fault (and the kit
// survives the crash and the hang); the JSON report keeps its schema; the
// exit codes.
#include <gtest/gtest.h>

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>

#include "schema.h"

namespace {

// Far beyond the whole kit's need; only a hung kit reaches it.
const int kFinishLimitMs = 110000;

struct KitRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject report;  // empty when no --json report was written
};

KitRun runKit(QStringList arguments, bool withReport = true, const QString& libraryPath = QString())
{
    KitRun run;
    QTemporaryDir scratch;
    const QString reportPath = scratch.filePath(QStringLiteral("report.json"));
    if (withReport)
        arguments << QStringLiteral("--json") << reportPath;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("KWCAM_PLUGIN"));
    environment.remove(QStringLiteral("QT_FATAL_WARNINGS"));
    // Under the sanitizers a crash must stay a crash for the kit to see it,
    // not become the sanitizer's report and exit code.
    for (const QString& name : {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("TSAN_OPTIONS")}) {
        const QString options = environment.value(name);
        environment.insert(
            name, options.isEmpty() ? QStringLiteral("handle_segv=0") : options + QStringLiteral(":handle_segv=0"));
    }
    if (!libraryPath.isEmpty())
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"), libraryPath);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_TOOL_PATH), QStringList{QStringLiteral("check")} + arguments);
    if (!process.waitForStarted(kFinishLimitMs))
        return run;
    run.finished = process.waitForFinished(kFinishLimitMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(kFinishLimitMs);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    QFile file(reportPath);
    if (withReport && file.open(QIODevice::ReadOnly))
        run.report = QJsonDocument::fromJson(file.readAll()).object();
    return run;
}

QJsonObject row(const QJsonObject& report, const QString& id)
{
    for (const QJsonValue& check : report.value(QStringLiteral("checks")).toArray()) {
        if (check.toObject().value(QStringLiteral("id")).toString() == id)
            return check.toObject();
    }
    return QJsonObject();
}

QJsonObject loadSchema()
{
    QFile file(QStringLiteral(KWCAM_REPORT_SCHEMA));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList listedChecks()
{
    const KitRun run = runKit({QStringLiteral("--list")}, false);
    QStringList ids;
    for (const QString& line : run.out.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            ids << line.section(QLatin1Char(' '), 0, 0);
    }
    return ids;
}

// The whole kit over our plug-in: every check passes (a timing check may
// warn on a busy machine), every listed check runs and shows on the
// terminal, and the report keeps its schema.
TEST(KitOverOurPlugin, PassesEveryCheckAndReportsEachInItsSchema)
{
    const KitRun run = runKit({QStringLiteral(KWCAM_PLUGIN_FILE)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    QStringList reported;
    QStringList notPassed;
    for (const QJsonValue& check : run.report.value(QStringLiteral("checks")).toArray()) {
        const QJsonObject o = check.toObject();
        reported << o.value(QStringLiteral("id")).toString();
        const QString status = o.value(QStringLiteral("status")).toString();
        const bool timingWarning =
            status == QLatin1String("warn") && o.value(QStringLiteral("group")).toString() == QLatin1String("timing");
        if (status != QLatin1String("pass") && !timingWarning)
            notPassed << reported.last() + QStringLiteral(": ") + status + QStringLiteral(": ") +
                    o.value(QStringLiteral("detail")).toString();
    }
    EXPECT_TRUE(notPassed.isEmpty()) << notPassed.join(QLatin1Char('\n')).toStdString();

    const QStringList listed = listedChecks();
    EXPECT_GE(listed.size(), 40);
    EXPECT_EQ(reported, listed);
    for (const QString& id : listed)
        EXPECT_TRUE(run.out.contains(QStringLiteral("\n") + id + QLatin1Char(' '))) << id.toStdString();

    const QStringList broken = schemaViolations(run.report, loadSchema());
    EXPECT_TRUE(broken.isEmpty()) << broken.join(QLatin1Char('\n')).toStdString();
    const QJsonObject summary = run.report.value(QStringLiteral("summary")).toObject();
    EXPECT_EQ(summary.value(QStringLiteral("total")).toInt(), reported.size());
    EXPECT_EQ(summary.value(QStringLiteral("fail")).toInt(), 0);
    EXPECT_TRUE(run.report.value(QStringLiteral("sdk")).toString().startsWith(QLatin1String("stand-in")));
}

// Over an SDK without the stand-in's control functions the kit checks the
// camera it is given and skips, with the reason, what needs the stand-in.
TEST(KitOverAnotherSdk, ChecksTheGivenCameraAndSkipsWhatNeedsTheStandIn)
{
    const QString key = QStringLiteral("KIT-RGB8 K0000002");
    const KitRun run = runKit({QStringLiteral(KWCAM_PLUGIN_FILE), key}, true, QStringLiteral(KWCAM_OTHER_SDK_DIR));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.report.value(QStringLiteral("camera")).toString(), key);
    EXPECT_TRUE(run.report.value(QStringLiteral("sdk")).toString().startsWith(QLatin1String(KWCAM_OTHER_SDK_DIR)))
        << run.report.value(QStringLiteral("sdk")).toString().toStdString();
    int skipped = 0;
    int passed = 0;
    for (const QJsonValue& check : run.report.value(QStringLiteral("checks")).toArray()) {
        const QJsonObject o = check.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        const QString status = o.value(QStringLiteral("status")).toString();
        if (status == QLatin1String("skip")) {
            ++skipped;
            EXPECT_TRUE(o.value(QStringLiteral("detail")).toString().startsWith(QLatin1String("needs the simulator's")))
                << id.toStdString();
        } else {
            ++passed;
            // Without the stand-in's idle wait a trigger may come too early
            // on a busy machine: sent again, it is a warning, no failure.
            const bool resent = status == QLatin1String("warn") &&
                o.value(QStringLiteral("detail")).toString().contains(QLatin1String("sent again"));
            EXPECT_TRUE(status == QLatin1String("pass") || resent)
                << id.toStdString() << ": " << status.toStdString() << ": "
                << o.value(QStringLiteral("detail")).toString().toStdString();
        }
    }
    EXPECT_GE(skipped, 20);  // faults, device state, pulses, counters, the typed cameras, the rate
    EXPECT_GE(passed, 40);   // everything else, over the given camera
    EXPECT_EQ(row(run.report, QStringLiteral("faults.open")).value(QStringLiteral("status")).toString(),
              QStringLiteral("skip"));
    EXPECT_EQ(row(run.report, QStringLiteral("frames.members")).value(QStringLiteral("status")).toString(),
              QStringLiteral("pass"));
}

// The validator must be able to say no, or the schema case above proves nothing.
TEST(KitReportSchema, RejectsBrokenReports)
{
    const KitRun run =
        runKit({QStringLiteral(KWCAM_PLUGIN_FILE), QStringLiteral("--only"), QStringLiteral("library.delete-null")});
    const QJsonObject schema = loadSchema();
    ASSERT_TRUE(schemaViolations(run.report, schema).isEmpty());
    struct Breakage {
        const char* what;
        void (*apply)(QJsonObject*);
    };
    const Breakage breakages[] = {
        {"no summary", [](QJsonObject* r) { r->remove(QStringLiteral("summary")); }},
        {"a key of its own", [](QJsonObject* r) { r->insert(QStringLiteral("extra"), 1); }},
        {"an unknown status",
         [](QJsonObject* r) {
             QJsonArray checks = r->value(QStringLiteral("checks")).toArray();
             QJsonObject first = checks.at(0).toObject();
             first.insert(QStringLiteral("status"), QStringLiteral("ok"));
             checks.replace(0, first);
             r->insert(QStringLiteral("checks"), checks);
         }},
        {"a negative duration",
         [](QJsonObject* r) {
             QJsonObject summary = r->value(QStringLiteral("summary")).toObject();
             summary.insert(QStringLiteral("duration"), -1);
             r->insert(QStringLiteral("summary"), summary);
         }},
        {"no checks", [](QJsonObject* r) { r->insert(QStringLiteral("checks"), QJsonArray()); }},
    };
    for (const Breakage& b : breakages) {
        QJsonObject report = run.report;
        b.apply(&report);
        EXPECT_FALSE(schemaViolations(report, schema).isEmpty()) << b.what;
    }
}

struct BrokenCase {
    const char* fault;
    const char* path;
    const char* check;       // must fail
    const char* because;     // in its detail
    const char* unaffected;  // must pass: the fault is caught where it is, not everywhere
    const char* timeout;
};

void PrintTo(const BrokenCase& c, std::ostream* os)
{
    *os << c.fault;
}

class KitOverBrokenPlugin : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(KitOverBrokenPlugin, FailsTheCheckAimedAtItsFault)
{
    const BrokenCase& c = GetParam();
    const KitRun run = runKit({QString::fromUtf8(c.path), QStringLiteral("--only"), QString::fromUtf8(c.check),
                               QStringLiteral("--only"), QString::fromUtf8(c.unaffected), QStringLiteral("--timeout"),
                               QString::fromUtf8(c.timeout)});
    ASSERT_TRUE(run.finished);
    // The kit itself survived: it finished, reported and exited 1.
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    const QJsonObject failed = row(run.report, QString::fromUtf8(c.check));
    EXPECT_EQ(failed.value(QStringLiteral("status")).toString(), QStringLiteral("fail")) << run.out.toStdString();
    EXPECT_TRUE(failed.value(QStringLiteral("detail")).toString().contains(QString::fromUtf8(c.because)))
        << failed.value(QStringLiteral("detail")).toString().toStdString();
    EXPECT_EQ(row(run.report, QString::fromUtf8(c.unaffected)).value(QStringLiteral("status")).toString(),
              QStringLiteral("pass"))
        << run.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, KitOverBrokenPlugin,
    ::testing::Values(
        BrokenCase{"announce_early", KWCAM_BROKEN_ANNOUNCE_EARLY, "frames.members-mono8", "m_pImageData is null",
                   "frames.software-3", "10"},
        BrokenCase{"callback_after_stop", KWCAM_BROKEN_CALLBACK_AFTER_STOP, "teardown.no-callback-after-stop",
                   "callbacks after stop returned", "teardown.no-callback-after-close", "10"},
        BrokenCase{"leak_on_failed_open", KWCAM_BROKEN_LEAK_ON_FAILED_OPEN, "faults.open",
                   "call 1 of MV_CC_OpenDevice failing: 1 SDK handles left behind", "listing.unknown-key", "10"},
        BrokenCase{"trigger_not_applied", KWCAM_BROKEN_TRIGGER_NOT_APPLIED, "frames.software-3",
                   "frames for 3 software triggers", "frames.line0-pulses", "10"},
        BrokenCase{"limit_off_by_one", KWCAM_BROKEN_LIMIT_OFF_BY_ONE, "properties.exposure-inside-limits",
                   "exposure 100000", "properties.exposure-outside-limits", "10"},
        BrokenCase{"crash_delete_in_callback", KWCAM_BROKEN_CRASH_DELETE_IN_CALLBACK, "teardown.delete-in-callback",
                   "crashed: SIGSEGV", "teardown.no-callback-after-delete", "10"},
        BrokenCase{"hang_in_stop", KWCAM_BROKEN_HANG_IN_STOP, "teardown.no-callback-after-stop", "no answer in 2 s",
                   "states.open", "2"}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) { return std::string(info.param.fault); });

struct ExitCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* said;  // on stdout or stderr
};

void PrintTo(const ExitCase& c, std::ostream* os)
{
    *os << c.name;
}

class KitExitCodes : public ::testing::TestWithParam<ExitCase> {};

TEST_P(KitExitCodes, AnswerTheInvocation)
{
    const ExitCase& c = GetParam();
    const KitRun run = runKit(c.arguments, false);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE((run.out + run.err).contains(QString::fromUtf8(c.said)))
        << run.out.toStdString() << run.err.toStdString();
}

const QString kPlugin = QStringLiteral(KWCAM_PLUGIN_FILE);

INSTANTIATE_TEST_SUITE_P(
    Invocations, KitExitCodes,
    ::testing::Values(
        ExitCase{"help", {"--help"}, 0, "Usage: kwcam check PLUGIN"}, ExitCase{"list", {"--list"}, 0, "faults.open"},
        ExitCase{"one_check", {kPlugin, "--only", "library.delete-null"}, 0, "1 checks"},
        ExitCase{"no_plugin", {}, 2, "no plug-in given"},
        ExitCase{"unknown_option", {kPlugin, "--fast"}, 2, "Unknown option 'fast'"},
        ExitCase{"no_match", {kPlugin, "--only", "nothing.*"}, 2, "no check matches nothing.*"},
        ExitCase{"bad_timeout", {kPlugin, "--timeout", "0"}, 2, "--timeout takes seconds"},
        ExitCase{"missing_value", {kPlugin, "--json"}, 2, "Missing value after '--json'"},
        ExitCase{"too_many_words", {kPlugin, "A", "B", "C"}, 2, "too many arguments"},
        ExitCase{"plugin_missing", {"/nonexistent/libnothing.so", "--only", "listing.*"}, 1, "cannot load the plug-in"},
        ExitCase{"report_unwritable",
                 {kPlugin, "--only", "library.delete-null", "--json", "/nonexistent/dir/report.json"},
                 1,
                 "cannot write /nonexistent/dir/report.json"}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

}  // namespace
