// The host tool over the GenICam SDK and the emulated camera, run as a user
// runs it: --sdk genicam (or $KWCAM_SDK with a path) makes the tool load the
// GenICam SDK before the plug-in.
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>

#include <gtest/gtest.h>

#include "fakecamera.h"

namespace gtest_genicam {
namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun kwcam(const QStringList& arguments, const QString& sdkVariable = QString(), int limitMs = 60000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("KWCAM_SDK"));
    if (!sdkVariable.isEmpty())
        environment.insert(QStringLiteral("KWCAM_SDK"), sdkVariable);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_TOOL_PATH), arguments);
    ToolRun run;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not end in time");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

class KwcamOverGenicam : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fake.waitDiscoverable()); }
    FakeCamera fake;
};

TEST_F(KwcamOverGenicam, ListInfoAndGrabSeeTheEmulatedCamera)
{
    struct Case {
        QStringList arguments;
        QString sdkVariable;
        const char* output;  // a regular expression over standard output
    };
    const QString path = QStringLiteral(KWCAM_GENICAM_SDK_PATH);
    const Case cases[] = {
        {{"--sdk", "genicam", "list"}, QString(), "Fake KW01"},
        {{"list"}, QStringLiteral("genicam"), "Fake KW01"},
        {{"--sdk", "genicam", "info", "Fake KW01"}, QString(), "512x512"},
        {{"grab", "Fake KW01", "-n", "5"}, path, "frames: +5 of 5"},
        {{"--sdk", "genicam", "grab", "Fake KW01", "-n", "5"}, QString(), "frames: +5 of 5"},
    };
    for (const Case& c : cases) {
        const ToolRun run = kwcam(c.arguments, c.sdkVariable);
        const std::string command =
            (c.sdkVariable.isEmpty() ? QString() : "KWCAM_SDK=" + c.sdkVariable + " ").toStdString() +
            c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, 0) << command << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QRegularExpression(QString::fromLatin1(c.output)))) << command << "\n"
                                                                                         << run.out.toStdString();
    }
}

// The conformance kit over the emulated camera: what needs the simulator is
// skipped with its reason, everything else passes.
TEST_F(KwcamOverGenicam, CheckPassesOrSkipsEveryCheck)
{
    QStringList arguments = {"--sdk",     "genicam",   "check", QStringLiteral(KWCAM_PLUGIN_PATH),
                             "Fake KW01", "--timeout", "120"};
    // Every check opens the camera, and each open waits a second for the
    // network's answers: the sanitizer builds run a share of the checks.
    for (const QString& glob : QString::fromLocal8Bit(qgetenv("KWCAM_GENICAM_CHECKS")).split(' ', Qt::SkipEmptyParts))
        arguments << "--only" << glob;
    const ToolRun run = kwcam(arguments, QString(), 900000);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(" 0 fail"))) << run.out.toStdString();
}

}  // namespace
}  // namespace gtest_genicam
