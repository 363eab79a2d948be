// kwcam-view run as a user or a script runs it: headless screenshots, the
// time-out, and the exit codes of its command line. Each case is a process
// over the stand-in's built-in cameras.
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QImage>
#include <QtTest/QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runViewer(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("MVSIM_CONFIG"));
    environment.insert(QStringLiteral("KWCAM_PLUGIN"), QStringLiteral(KWCAM_PLUGIN_PATH));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_VIEW_PATH), arguments);
    Run run;
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

class ProgramTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void screenshotShowsTheCamera_data();
    void screenshotShowsTheCamera();
    void screenshotGivesUpAfterTimeout();
    void exitCodes_data();
    void exitCodes();
};

void ProgramTest::screenshotShowsTheCamera_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("key");
    QTest::newRow("first camera") << QStringList() << QStringLiteral("SIM-GM8-1280 00A1B2C3D4");
    QTest::newRow("key in two words, 1:1")
        << QStringList{QStringLiteral("SIM-UC24-2448"), QStringLiteral("00E5F6A7B8"), QStringLiteral("--zoom"),
                       QStringLiteral("1")}
        << QStringLiteral("SIM-UC24-2448 00E5F6A7B8");
}

void ProgramTest::screenshotShowsTheCamera()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, key);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("view.png"));
    const Run run = runViewer(arguments + QStringList{QStringLiteral("--screenshot"), path, QStringLiteral("--after"),
                                                      QStringLiteral("3")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QImage picture;
    QVERIFY(picture.load(path, "PNG"));
    QVERIFY(picture.width() >= 800 && picture.height() >= 500);
    // The live image fills the window's left part: not the empty backdrop.
    const QRgb backdrop = qRgb(0x20, 0x22, 0x25);
    const QPoint middle(picture.width() / 3, picture.height() / 2);
    QVERIFY(picture.pixel(middle) != backdrop);
    QVERIFY2(run.out.startsWith(QStringLiteral("screenshot: %1 (%2, frame ").arg(path, key)), qPrintable(run.out));
}

void ProgramTest::screenshotGivesUpAfterTimeout()
{
    // Line 0 never pulses: no frame comes, and the camera, waiting for one,
    // is stopped and closed on the way out.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("never.png"));
    const Run run = runViewer({QStringLiteral("--trigger"), QStringLiteral("hardware"), QStringLiteral("--screenshot"),
                               path, QStringLiteral("--timeout"), QStringLiteral("0.5")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("time-out: 0 of 1 frames")), qPrintable(run.err));
    QVERIFY(!QFile::exists(path));
}

void ProgramTest::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("--screenshot <FILE>");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast")} << 2
                                    << QStringLiteral("Unknown option 'fast'");
    QTest::newRow("bad trigger") << QStringList{QStringLiteral("--trigger"), QStringLiteral("sideways")} << 2
                                 << QStringLiteral("--trigger takes free, hardware or software");
    QTest::newRow("after without screenshot") << QStringList{QStringLiteral("--after"), QStringLiteral("3")} << 2
                                              << QStringLiteral("go with --screenshot");
    QTest::newRow("bad stretch") << QStringList{QStringLiteral("--stretch"), QStringLiteral("9,2")} << 2
                                 << QStringLiteral("--stretch takes LOW,HIGH");
    QTest::newRow("three-word key") << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")} << 2
                                    << QStringLiteral("two words");
    QTest::newRow("unknown camera") << QStringList{QStringLiteral("NO-SUCH 1"), QStringLiteral("--screenshot"),
                                                   QStringLiteral("/tmp/unused.png")}
                                    << 1 << QStringLiteral("no camera 'NO-SUCH 1'");
    QTest::newRow("unloadable plug-in")
        << QStringList{QStringLiteral("--plugin"), QStringLiteral("/nonexistent/libx.so"), QStringLiteral("--screenshot"),
                       QStringLiteral("/tmp/unused.png")}
        << 1 << QStringLiteral("cannot load the plug-in /nonexistent/libx.so");
}

void ProgramTest::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Run run = runViewer(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.out + run.err).contains(message), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "program_test.moc"
