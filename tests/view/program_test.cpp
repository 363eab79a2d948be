// kwcam-view run as a user or a script runs it: headless screenshots, the
// time-out, and the exit codes of its command line. Each case is a process
// over the stand-in's built-in cameras.
#include <gtest/gtest.h>

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QImage>

namespace {

struct ViewerRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ViewerRun runViewer(const QStringList& arguments)
{
    // The built-in cameras are held exclusively across processes while one
    // has them open: each run keeps its locks in a directory of its own, so
    // that the suite's other processes neither block it nor are blocked.
    QTemporaryDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MVSIM_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("MVSIM_CONFIG"));
    environment.insert(QStringLiteral("KWCAM_PLUGIN"), QStringLiteral(KWCAM_PLUGIN_PATH));
    // Under AddressSanitizer, Qt's offscreen platform leaves its screen
    // unfreed at exit; memory errors still end the program. The window's
    // own life is checked for leaks in process (view_window_test).
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_VIEW_PATH), arguments);
    ViewerRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

}  // namespace

TEST(ViewProgram, ScreenshotShowsTheCamera)
{
    struct Row {
        QStringList arguments;
        QString key;
    };
    const Row rows[] = {
        {{}, QStringLiteral("SIM-GM8-1280 00A1B2C3D4")},
        // The stand-in loaded before the plug-in, as where a camera SDK is
        // installed.
        {{QStringLiteral("--sim"), QStringLiteral("SIM-GM16-4096 00C9D0E1F2")},
         QStringLiteral("SIM-GM16-4096 00C9D0E1F2")},
        // A key in two words, at 1:1.
        {{QStringLiteral("SIM-UC24-2448"), QStringLiteral("00E5F6A7B8"), QStringLiteral("--zoom"), QStringLiteral("1")},
         QStringLiteral("SIM-UC24-2448 00E5F6A7B8")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("view.png"));
        const ViewerRun run = runViewer(
            row.arguments +
            QStringList{QStringLiteral("--screenshot"), path, QStringLiteral("--after"), QStringLiteral("3")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("screenshot: %1 (%2, frame ").arg(path, row.key)))
            << run.out.toStdString();
        QImage picture;
        ASSERT_TRUE(picture.load(path, "PNG"));
        EXPECT_GE(picture.width(), 800);
        EXPECT_GE(picture.height(), 500);
        // The live image fills the window's left part: not the empty
        // backdrop.
        const QRgb backdrop = qRgb(0x20, 0x22, 0x25);
        EXPECT_NE(picture.pixel(picture.width() / 3, picture.height() / 2), backdrop);
    }
}

TEST(ViewProgram, ScreenshotGivesUpAfterTimeout)
{
    // Line 0 never pulses: no frame comes, and the camera, waiting for one,
    // is stopped and closed on the way out.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("never.png"));
    const ViewerRun run =
        runViewer({QStringLiteral("--trigger"), QStringLiteral("hardware"), QStringLiteral("--screenshot"), path,
                   QStringLiteral("--timeout"), QStringLiteral("0.5")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("time-out: 0 of 1 frames"))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ViewProgram, ExitCodes)
{
    struct Row {
        QStringList arguments;
        int exitCode;
        const char* message;
    };
    const QString unused = QStringLiteral("/tmp/kwcam-view-unused.png");
    const Row rows[] = {
        {{QStringLiteral("--help")}, 0, "--screenshot <FILE>"},
        {{QStringLiteral("--fast")}, 2, "Unknown option 'fast'"},
        {{QStringLiteral("--trigger"), QStringLiteral("sideways")}, 2, "--trigger is hardware, free or software"},
        {{QStringLiteral("--after"), QStringLiteral("3")}, 2, "go with --screenshot"},
        {{QStringLiteral("--timeout"), QStringLiteral("nan"), QStringLiteral("--screenshot"), unused},
         2,
         "--timeout takes seconds"},
        {{QStringLiteral("--zoom"), QStringLiteral("inf")}, 2, "--zoom takes a factor"},
        {{QStringLiteral("--zoom"), QStringLiteral("nan")}, 2, "--zoom takes a factor"},
        {{QStringLiteral("--screenshot"), QString()}, 2, "--screenshot needs the name"},
        {{QStringLiteral("--sim"), QStringLiteral("--sdk"), QStringLiteral("/x.so")}, 2, "exclude each other"},
        {{QStringLiteral("KW-A 1"), QStringLiteral("-c"), QStringLiteral("0")}, 2, "give a camera key or -c"},
        {{QStringLiteral("-c"), QStringLiteral("NO-SUCH"), QStringLiteral("--screenshot"), unused},
         1,
         "no camera matches 'NO-SUCH'"},
        {{QStringLiteral("--stretch"), QStringLiteral("9,2")}, 2, "--stretch takes LOW,HIGH"},
        {{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 2, "two words"},
        {{QStringLiteral("NO-SUCH 1"), QStringLiteral("--screenshot"), unused}, 1, "no camera 'NO-SUCH 1'"},
        {{QStringLiteral("--plugin"), QStringLiteral("/nonexistent/libx.so"), QStringLiteral("--screenshot"), unused},
         1,
         "cannot load the plug-in /nonexistent/libx.so"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(QLatin1Char(' ')).toStdString());
        const ViewerRun run = runViewer(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_TRUE((run.out + run.err).contains(QString::fromUtf8(row.message))) << (run.out + run.err).toStdString();
    }
}
