// The host tool over the GenICam SDK and the emulated camera, run as a user
// runs it: KWCAM_SDK names the GenICam SDK, which the tool loads before the
// plug-in.
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

ToolRun kwcam(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KWCAM_SDK"), QStringLiteral(KWCAM_GENICAM_SDK_PATH));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_TOOL_PATH), arguments);
    ToolRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not end within 60 s");
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
        const char* output;  // a regular expression over standard output
    };
    const Case cases[] = {
        {{"list"}, "Fake KW01"},
        {{"info", "Fake KW01"}, "512"},
        {{"grab", "Fake KW01", "-n", "5"}, "frames: +5 of 5"},
    };
    for (const Case& c : cases) {
        const ToolRun run = kwcam(c.arguments);
        const QString command = c.arguments.join(' ');
        EXPECT_EQ(run.exitCode, 0) << command.toStdString() << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QRegularExpression(QString::fromLatin1(c.output))))
            << command.toStdString() << "\n"
            << run.out.toStdString();
    }
}

}  // namespace
}  // namespace gtest_genicam
