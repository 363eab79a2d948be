// Streams of frames through kwcam: saving every frame of a large camera in
// bounded memory, and the time-out and Ctrl-C ending such a grab at once.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

#include "toolrunner.h"

namespace {

// 4096 x 3000 Mono16 at 30 frames per second: 24 MB a frame.
const QString kLarge = QStringLiteral("SIM-GM16-4096 00C9D0E1F2");

std::string text(const QString& s)
{
    return s.toStdString();
}

// The built-in cameras of the stand-in, not the test configuration.
QProcessEnvironment builtInCameras()
{
    QProcessEnvironment environment = toolEnvironment();
    environment.remove(QStringLiteral("MVSIM_CONFIG"));
    return environment;
}

// The tool's peak memory while it saves 24 MB frames. AddressSanitizer keeps
// freed blocks in quarantine (256 MB) and adds its own: a looser bound there,
// still far below the gigabytes of frames an unbounded queue would hold.
#if defined(__SANITIZE_ADDRESS__)
const long kPeakLimitMiB = 600;
#else
const long kPeakLimitMiB = 200;
#endif

// Largest resident set of any child this process has waited for, in MiB.
long peakChildMiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024;
}

struct SaveCounts {
    bool parsed = false;
    quint64 saved = 0, frames = 0, notSaved = 0, abandoned = 0;
};

SaveCounts parseSaved(const QString& line)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d+) of (\\d+) frames as \\S+(?:; (\\d+) not saved \\([^)]*\\))?(?:; (\\d+) queued, abandoned[^;]*)?$"));
    const QRegularExpressionMatch match = pattern.match(line);
    SaveCounts counts;
    counts.parsed = match.hasMatch();
    counts.saved = match.captured(1).toULongLong();
    counts.frames = match.captured(2).toULongLong();
    counts.notSaved = match.captured(3).toULongLong();
    counts.abandoned = match.captured(4).toULongLong();
    return counts;
}

// Every frame is accounted for once, and every frame counted as saved is a file.
void expectFramesAccountedFor(const ToolResult& result, const QTemporaryDir& dir, const std::string& what)
{
    const SaveCounts counts = parseSaved(result.summary("saved"));
    ASSERT_TRUE(counts.parsed) << what;
    EXPECT_EQ(text(QString::number(counts.frames) + " of "), text(result.summary("frames").section(' ', 0, 1) + ' '))
        << what;
    EXPECT_EQ(counts.saved + counts.notSaved + counts.abandoned, counts.frames) << what;
    EXPECT_EQ(static_cast<quint64>(QDir(dir.path()).entryList(QDir::Files).size()), counts.saved) << what;
    EXPECT_TRUE(result.summary("writing").contains(QLatin1String(" s writing files, "))) << what;
}

TEST(KwcamStream, SavingEveryLargeFrameStopsAtTheTimeoutInBoundedMemory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Far more frames than 1.5 s bring: the time-out ends the grab. Kept
    // as copies, the frames of those 1.5 s alone would take over 1 GB.
    const QStringList arguments = {"grab",      kLarge, "-n",     "1000",
                                   "--timeout", "1.5",  "--save", dir.filePath(QStringLiteral("g%03d.pgm"))};
    const ToolResult result = runTool(arguments, builtInCameras());
    ASSERT_TRUE(result.finished);
    const std::string what = text(describe(arguments) + "\n" + result.out + result.err);
    EXPECT_EQ(result.exitCode, 1) << what;
    EXPECT_TRUE(result.err.contains(QLatin1String("timed out after 1.5 s"))) << what;
    expectFramesAccountedFor(result, dir, what);
    EXPECT_LT(peakChildMiB(), kPeakLimitMiB) << what;
}

TEST(KwcamStream, InterruptEndsAnEveryFrameGrabAndAccountsForEveryFrame)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess process;
    process.setProcessEnvironment(builtInCameras());
    process.start(
        QStringLiteral(KWCAM_TOOL_PATH),
        {"grab", kLarge, "-n", "100000", "--timeout", "600", "--save", dir.filePath(QStringLiteral("g%03d.pgm"))});
    ASSERT_TRUE(process.waitForStarted(60000));
    process.setReadChannel(QProcess::StandardError);
    QByteArray err;
    // Interrupted once frames are being saved.
    while (!err.contains("/100000 frames") && process.state() == QProcess::Running && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    ASSERT_TRUE(err.contains("/100000 frames")) << err.toStdString();
    ASSERT_EQ(kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(60000)) << "the tool did not end after SIGINT";
    err += process.readAllStandardError();

    ToolResult result;
    result.finished = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(err);
    const std::string what = text(result.out + result.err);
    EXPECT_EQ(result.exitCode, 1) << what;
    EXPECT_TRUE(result.err.contains(QLatin1String("interrupted with"))) << what;
    expectFramesAccountedFor(result, dir, what);
    EXPECT_LT(peakChildMiB(), kPeakLimitMiB) << what;
}

TEST(KwcamStream, GrabsWithoutAFrameCountEndByTimeWithAStatisticsLineASecond)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* err;  // in stderr
    };
    const QString mono8 = QStringLiteral("KW-MONO8 S0001");
    const QStringList software = {"--trigger", "software", "--rate", "50"};
    const Case cases[] = {
        {QStringList{"grab", mono8, "-n", "0", "--timeout", "1.5"} + software, 0, "grabbing continuously from"},
        {QStringList{"grab", mono8, "--duration", "1.5"} + software, 0, "grabbing for 1.5 s from"},
        // Nothing triggers the camera: a grab by time still needs frames.
        {{"grab", mono8, "-n", "0", "--trigger", "hardware", "--rate", "0", "--timeout", "1.5"},
         1,
         "no frame arrived in"},
    };
    static const QRegularExpression statistics(
        QStringLiteral("^kwcam: \\d+ frames  [0-9.]+ fps  [0-9.]+ MiB/s  \\d+ lost  [0-9.]+ s$"),
        QRegularExpression::MultilineOption);
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        ASSERT_TRUE(result.finished);
        const std::string what = text(describe(c.arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode) << what;
        EXPECT_TRUE(result.err.contains(QLatin1String(c.err))) << what;
        // The statistics timer (1 s) falls due before the end (1.5 s).
        EXPECT_TRUE(statistics.match(result.err).hasMatch()) << what;
        EXPECT_TRUE(result.summary("frames").endsWith(QLatin1String(" (no frame count)"))) << what;
        EXPECT_EQ(result.summary("frames").startsWith(QLatin1String("0 ")), c.exitCode == 1) << what;
    }
}

TEST(KwcamStream, InterruptIsTheNormalEndOfAGrabWithoutAFrameCount)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.start(QStringLiteral(KWCAM_TOOL_PATH),
                  {"grab", "KW-MONO8 S0001", "-n", "0", "--trigger", "software", "--rate", "50"});
    ASSERT_TRUE(process.waitForStarted(60000));
    process.setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (!err.contains(" lost ") && process.state() == QProcess::Running && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    ASSERT_TRUE(err.contains(" lost ")) << err.toStdString();
    ASSERT_EQ(kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(60000)) << "the tool did not end after SIGINT";
    ToolResult result;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(result.summary("frames").endsWith(QLatin1String(" (no frame count)"))) << text(result.out);
    EXPECT_TRUE(result.summary("frames lost").contains(QLatin1String(" (SDK counters"))) << text(result.out);
}

}  // namespace
