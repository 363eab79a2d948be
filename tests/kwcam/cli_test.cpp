// kwcam's commands, options and exit codes, observed from outside: exit
// code, stdout and stderr of the built tool over the stand-in.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>

#include <csignal>
#include <cstring>

#include "frameentry.h"
#include "mvsim/control.h"
#include "toolrunner.h"

namespace {

const QString kMono8 = QStringLiteral("KW-MONO8 S0001");

const QStringList kAllKeys = {
    QStringLiteral("KW-MONO8 S0001"),   QStringLiteral("KW-RGB8 S0002"),   QStringLiteral("KW-RGBA8 S0003"),
    QStringLiteral("KW-RGB16 S0004"),   QStringLiteral("KW-MONO16 S0005"), QStringLiteral("KW-BAYER S0006"),
    QStringLiteral("KW-ENCODER S0007"),
};

#define EXPECT_RAN(result, arguments)                                                                                  \
    ASSERT_TRUE((result).finished) << describe(arguments).toStdString() << " did not finish"

std::string text(const QString& s)
{
    return s.toStdString();
}

TEST(KwcamUsage, WrongCommandLinesExitTwoWithoutTouchingACamera)
{
    struct Case {
        QStringList arguments;
        const char* reason;  // expected on stderr
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"--bogus", "list"}, "Unknown option"},
        {{"list", "extra"}, "list takes no arguments"},
        {{"grab", "--bogus"}, "Unknown option"},
        {{"grab", "-n", "-1"}, "-n needs"},
        {{"grab", "-n", "5", "--duration", "2"}, "--duration and -n exclude each other"},
        {{"grab", "--duration", "0"}, "--duration needs"},
        {{"grab", "--duration", "soon"}, "--duration needs"},
        {{"grab", "-n", "ten"}, "-n needs"},
        {{"grab", "--trigger", "sideways"}, "--trigger is"},
        {{"grab", "--rate", "5"}, "--rate applies to"},
        {{"grab", "--trigger", "software", "--rate", "0"}, "--rate needs"},
        {{"grab", "--trigger", "software", "--rate", "fast"}, "--rate needs"},
        {{"grab", "--trigger", "hardware", "--rate", "5000"}, "--rate needs"},
        {{"grab", "--exposure", "1.5"}, "--exposure needs"},
        {{"grab", "--gain", "high"}, "--gain needs"},
        {{"grab", "--wb", "1,2"}, "--wb needs"},
        {{"grab", "--wb", "1,-2,3"}, "--wb needs"},
        {{"grab", "--save", "frame.jpg"}, "does not end in .png, .pgm or .ppm"},
        {{"grab", "--save", "f%d-%d.png"}, "more than one"},
        {{"grab", "--timeout", "0"}, "--timeout needs"},
        {{"grab", "--timeout", "-3"}, "--timeout needs"},
        {{"grab", "KW-MONO8", "S0001", "extra"}, "one camera key"},
        {{"set", "KW-MONO8 S0001", "exposure"}, "set takes"},
        {{"set", "KW-MONO8 S0001", "brightness", "5"}, "unknown property 'brightness'"},
        {{"set", "KW-MONO8 S0001", "exposure", "lots"}, "whole number"},
        {{"set", "KW-MONO8 S0001", "exposure", "5", "6"}, "set takes a camera key, a property and one value"},
        {{"set", "KW-MONO8", "S0001", "exposure", "5", "6"}, "set takes"},
        {{"--plugin", "", "list"}, "--plugin needs the path of a library"},
        {{"grab", "--plugin", ""}, "--plugin needs the path of a library"},
        {{"grab", "--save", "x%5d.png"}, "a '%' starts %d, %0Nd"},
        {{"grab", "--save", "x%s.png"}, "a '%' starts %d, %0Nd"},
        {{"grab", "--timeout", "2073601"}, "--timeout needs"},
        {{"--quiet", "list", "--verbose"}, "--quiet and --verbose exclude each other"},
        {{"info", "KW-MONO8", "S0001", "extra"}, "info takes one camera key"},
        {{"grab", "KW-MONO8 S0001", "-c", "0"}, "give a camera key or -c, not both"},
        {{"info", "KW-MONO8 S0001", "-c", "0"}, "give a camera key or -c, not both"},
        {{"set", "-c", "0", "exposure"}, "set -c CAMERA takes a property and one value"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        EXPECT_EQ(result.exitCode, 2) << text(describe(c.arguments)) << "\n" << text(result.err);
        EXPECT_TRUE(result.err.contains(QLatin1String(c.reason)))
            << text(describe(c.arguments)) << ": stderr lacks '" << c.reason << "':\n"
            << text(result.err);
        EXPECT_TRUE(result.out.isEmpty()) << text(describe(c.arguments)) << " printed:\n" << text(result.out);
        // Usage errors come before any camera is opened.
        EXPECT_FALSE(result.err.contains(QLatin1String("open camera"))) << text(describe(c.arguments));
    }
}

TEST(KwcamUsage, HelpExitsZeroForEveryCommand)
{
    const QStringList commands[] = {
        {"--help"}, {"-h"}, {"list", "--help"}, {"grab", "--help"}, {"set", "--help"}, {"info", "--help"}};
    for (const QStringList& arguments : commands) {
        const ToolResult result = runTool(arguments);
        EXPECT_RAN(result, arguments);
        EXPECT_EQ(result.exitCode, 0) << text(describe(arguments));
        const QString usage = arguments.size() == 1 ? QStringLiteral("Usage: kwcam ")
                                                    : QStringLiteral("Usage: kwcam %1 ").arg(arguments.first());
        EXPECT_TRUE(result.out.startsWith(usage)) << text(describe(arguments)) << ":\n" << text(result.out);
        // Only the arguments a command takes are shown.
        if (arguments.first() == QLatin1String("list")) {
            EXPECT_FALSE(result.out.contains(QLatin1String("Arguments:"))) << text(result.out);
        }
    }
    // The limit of --timeout is part of its help.
    EXPECT_TRUE(runTool({"grab", "--help"}).out.simplified().contains(QLatin1String("at most 2073600")))
        << "no --timeout limit";
}

TEST(KwcamUsage, NegativeValuesReachTheCameraWhichDecides)
{
    struct Case {
        QStringList arguments;
        const char* report;  // the camera's answer, not a usage error
    };
    const Case cases[] = {
        {{"set", kMono8, "exposure", "-5000"}, "exposure = -5000: failed"},
        {{"set", "KW-MONO8", "S0001", "gain", "-1"}, "gain = -1: failed"},
        {{"set", kMono8, "wb-red", "-2"}, "wb-red = -2: "},
        {{"grab", kMono8, "-n", "1", "--gain", "-3"}, "gain = -3: failed"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        EXPECT_NE(result.exitCode, 2) << text(describe(c.arguments) + "\n" + result.err);
        EXPECT_TRUE((result.out + result.err).contains(QLatin1String(c.report)))
            << text(describe(c.arguments) + "\n" + result.out + result.err);
    }
}

TEST(KwcamList, PrintsEveryConfiguredCameraKeyInOrder)
{
    const ToolResult result = runTool({"list"});
    EXPECT_RAN(result, QStringList{"list"});
    EXPECT_EQ(result.exitCode, 0) << text(result.err);
    EXPECT_EQ(text(result.out), text(kAllKeys.join('\n') + '\n'));
}

TEST(KwcamPlugin, SearchOrderIsOptionThenEnvironmentThenDefault)
{
    const QString missing = QStringLiteral("/nonexistent/libkwcamhik.so");
    QProcessEnvironment badEnvironment = toolEnvironment();
    badEnvironment.insert(QStringLiteral("KWCAM_PLUGIN"), missing);

    const ToolResult byOption = runTool({"--plugin", missing, "list"});
    EXPECT_EQ(byOption.exitCode, 1);
    EXPECT_TRUE(byOption.err.contains(QLatin1String("cannot load the plug-in ") + missing)) << text(byOption.err);

    const ToolResult byEnvironment = runTool({"list"}, badEnvironment);
    EXPECT_EQ(byEnvironment.exitCode, 1);
    EXPECT_TRUE(byEnvironment.err.contains(missing)) << text(byEnvironment.err);

    // The option wins over the environment, also after the command.
    const ToolResult optionFirst = runTool({"list", "--plugin", QStringLiteral(KWCAM_PLUGIN_PATH)}, badEnvironment);
    EXPECT_EQ(optionFirst.exitCode, 0) << text(optionFirst.err);
    EXPECT_EQ(text(optionFirst.out), text(kAllKeys.join('\n') + '\n'));

    // A path that names no file is reported as given, not as a variant of it.
    const ToolResult noFile = runTool({"--plugin", "/nonexistent/lib.so", "list"});
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_TRUE(noFile.err.contains(QLatin1String("cannot load the plug-in /nonexistent/lib.so: no such file")))
        << text(noFile.err);

    // A library that is no camera plug-in.
    const ToolResult notPlugin = runTool({"list", "--plugin", QStringLiteral(KWCAM_SDK_FILE)});
    EXPECT_EQ(notPlugin.exitCode, 1);
    EXPECT_TRUE(notPlugin.err.contains(QLatin1String("no camera plug-in"))) << text(notPlugin.err);
}

TEST(KwcamGrab, EveryTriggerModeDeliversTheFramesAskedFor)
{
    struct Case {
        QStringList arguments;
        const char* trigger;  // summary's trigger line
    };
    const Case cases[] = {
        {{"grab", "-n", "5"}, "free-running"},
        {{"grab", "-n", "5", "--trigger", "free"}, "free-running"},
        {{"grab", kMono8, "-n", "5", "--trigger", "software", "--rate", "50"}, "software trigger at 50 Hz"},
        {{"grab", "KW-MONO8", "S0001", "-n", "5", "--trigger", "hardware", "--rate", "50"},
         "hardware trigger (line 0) pulsed at 50 Hz"},
        // The device pulses its own line 0, as an encoder would.
        {{"grab", "KW-ENCODER S0007", "-n", "5", "--trigger", "hardware", "--rate", "0"},
         "hardware trigger (line 0) from outside"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        const std::string what = text(describe(c.arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, 0) << what;
        EXPECT_EQ(text(result.summary("frames")), "5 of 5") << what;
        EXPECT_EQ(text(result.summary("trigger")), c.trigger) << what;
        // The stand-in opens with frame number 1 and spends a number on every
        // frame it loses; the counters may also see a loss after the last
        // frame taken, but never fewer losses than the numbers show.
        const QRegularExpressionMatch lost =
            QRegularExpression(QStringLiteral("^(\\d+) \\(SDK counters(: [^;)]*)?(; not lost: [^)]*)?\\)$"))
                .match(result.summary("frames lost"));
        ASSERT_TRUE(lost.hasMatch()) << what;
        const QString sequence = result.summary("in sequence");
        if (lost.captured(1) == QLatin1String("0"))
            EXPECT_EQ(text(sequence), "yes (frame numbers 1 to 5)") << what;
        else
            EXPECT_TRUE(sequence.startsWith(QLatin1String("yes (")) || sequence.startsWith(QLatin1String("no (")))
                << what;
        EXPECT_TRUE(result.summary("interval").startsWith(QLatin1String("min "))) << what;
    }
}

TEST(KwcamGrab, TriggeredModeWithoutTriggersTimesOutAndStillSummarises)
{
    // Free-running, this device would deliver at once: frames here would
    // mean that the trigger mode never reached it.
    const QStringList arguments = {"grab",     kMono8,   "-n", "1",         "--trigger",
                                   "hardware", "--rate", "0",  "--timeout", "0.3"};
    const ToolResult result = runTool(arguments);
    EXPECT_RAN(result, arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("timed out after 0.3 s with 0 of 1 frames"))) << text(result.err);
    EXPECT_EQ(text(result.summary("frames")), "0 of 1") << text(result.out);
    EXPECT_EQ(text(result.summary("in sequence")), "unknown (no frame)");
}

TEST(KwcamGrab, UnknownKeyFailsAndListsTheCamerasThatExist)
{
    for (const QStringList& arguments :
         {QStringList{"grab", "KW-NONE S9999"}, QStringList{"set", "KW-NONE", "S9999", "gain", "1"}}) {
        const ToolResult result = runTool(arguments);
        EXPECT_RAN(result, arguments);
        EXPECT_EQ(result.exitCode, 1) << text(describe(arguments));
        EXPECT_TRUE(result.err.contains(QLatin1String("no camera 'KW-NONE S9999'"))) << text(result.err);
        for (const QString& key : kAllKeys)
            EXPECT_TRUE(result.err.contains(QStringLiteral("\n  ") + key)) << text(key) << " not listed";
        EXPECT_TRUE(result.out.isEmpty());
    }
}

TEST(KwcamGrab, RefusedSettingFailsBeforeAcquisition)
{
    const QStringList arguments = {"grab", kMono8, "-n", "2", "--exposure", "99999999"};
    const ToolResult result = runTool(arguments);
    EXPECT_RAN(result, arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("exposure = 99999999: failed"))) << text(result.err);
    EXPECT_FALSE(result.err.contains(QLatin1String("grabbing"))) << text(result.err);
    EXPECT_TRUE(result.out.isEmpty()) << text(result.out);
}

// The stamp in each frame carries the exposure and gain in effect; a saved
// 8-bit grey frame keeps its bytes, stamp included.
MvsimFrameStamp stampOfSavedFrame(const QString& path)
{
    MvsimFrameStamp stamp;
    memset(&stamp, 0, sizeof stamp);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return stamp;
    const QByteArray bytes = file.readAll();
    const QByteArray header = QByteArrayLiteral("P5\n64 48\n255\n");
    if (bytes.startsWith(header) && bytes.size() >= header.size() + static_cast<int>(sizeof stamp))
        memcpy(&stamp, bytes.constData() + header.size(), sizeof stamp);
    return stamp;
}

TEST(KwcamGrab, ExposureAndGainReachTheDeviceAndTheOtherKeepsItsValue)
{
    struct Case {
        QStringList settings;
        float exposure;
        float gain;
    };
    // The configuration gives KW-MONO8 exposure 10000 and gain 2.
    const Case cases[] = {
        {{"--exposure", "5000", "--gain", "7"}, 5000.0f, 7.0f},
        {{"--exposure", "4000"}, 4000.0f, 2.0f},
        {{"--gain", "9"}, 10000.0f, 9.0f},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("stamp.pgm"));
        const QStringList arguments = QStringList{"grab", kMono8, "-n", "2", "--save", path} + c.settings;
        const ToolResult result = runTool(arguments);
        EXPECT_RAN(result, arguments);
        ASSERT_EQ(result.exitCode, 0) << text(describe(arguments) + "\n" + result.err);
        const MvsimFrameStamp stamp = stampOfSavedFrame(path);
        ASSERT_EQ(stamp.magic, MVSIM_STAMP_MAGIC) << text(describe(arguments));
        EXPECT_EQ(stamp.exposure, c.exposure) << text(describe(arguments));
        EXPECT_EQ(stamp.gain, c.gain) << text(describe(arguments));
    }
}

TEST(KwcamGrab, WhiteBalanceIsSetOnEveryChannel)
{
    const QStringList ok = {"grab", "KW-RGB8 S0002", "-n", "1", "--wb", "100,200,300"};
    const ToolResult accepted = runTool(ok);
    EXPECT_RAN(accepted, ok);
    EXPECT_EQ(accepted.exitCode, 0) << text(accepted.err);

    // The stand-in refuses ratios above 16383: only blue fails here.
    const QStringList refused = {"grab", "KW-RGB8 S0002", "-n", "1", "--wb", "100,200,20000"};
    const ToolResult result = runTool(refused);
    EXPECT_RAN(result, refused);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("wb-blue = 20000: failed"))) << text(result.err);
    EXPECT_FALSE(result.err.contains(QLatin1String("wb-red"))) << text(result.err);
}

TEST(KwcamGrab, FrameLogEntriesAppearOnlyWhenVerbose)
{
    const QString entry = QLatin1String(kwtest::kFrameEntryPrefix);
    const ToolResult quiet = runTool({"grab", kMono8, "-n", "3"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err.count(entry), 0) << text(quiet.err);
    // The plug-in's other entries still reach stderr.
    EXPECT_TRUE(quiet.err.contains(QLatin1String("IOpenCamera"))) << text(quiet.err);

    const ToolResult verbose = runTool({"grab", kMono8, "-n", "3", "--verbose"});
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_GE(verbose.err.count(entry), 3) << text(verbose.err);
}

TEST(KwcamGrab, QuietLeavesOnlyErrorsOnStderr)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* err;  // all of stderr
    };
    const Case cases[] = {
        {{"--quiet", "grab", kMono8, "-n", "3"}, 0, ""},
        {{"grab", kMono8, "-n", "1", "--trigger", "hardware", "--rate", "0", "--timeout", "0.2", "--quiet"},
         1,
         "kwcam: timed out after 0.2 s with 0 of 1 frames\n"},
        {{"list", "--quiet"}, 0, ""},
        {{"set", kMono8, "gain", "99", "--quiet"}, 1, "kwcam: gain = 99: failed (the camera takes from 0 to 20)\n"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << text(describe(c.arguments) + "\n" + result.err);
        EXPECT_EQ(text(result.err), c.err) << text(describe(c.arguments));
    }
}

TEST(KwcamGrab, InterruptStopsClosesAndSummarises)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.start(QStringLiteral(KWCAM_TOOL_PATH),
                  {"grab", kMono8, "-n", "100000000", "--trigger", "software", "--rate", "100", "--timeout", "600"});
    ASSERT_TRUE(process.waitForStarted(60000));
    process.setReadChannel(QProcess::StandardError);
    // The tool announces the grab once its interrupt handler is in place.
    QByteArray err;
    while (!err.contains("Ctrl-C stops") && process.state() == QProcess::Running && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    ASSERT_TRUE(err.contains("Ctrl-C stops")) << err.toStdString();
    ASSERT_EQ(kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(60000)) << "the tool did not end after SIGINT";
    err += process.readAllStandardError();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "killed instead of stopping";
    EXPECT_EQ(process.exitCode(), 1) << "an interrupted grab did not get its frames";
    ToolResult result;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    EXPECT_TRUE(result.summary("frames").endsWith(QLatin1String(" of 100000000"))) << text(result.out);
    EXPECT_FALSE(result.summary("frames lost").isNull()) << text(result.out);
    EXPECT_TRUE(err.contains("interrupted with")) << err.toStdString();
}

TEST(KwcamSet, ReportsTheOutcomeOfEachProperty)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* report;  // on stdout when it worked, stderr otherwise
    };
    const Case cases[] = {
        {{"set", kMono8, "exposure", "5000"}, 0, "exposure = 5000: ok"},
        {{"set", "KW-MONO8", "S0001", "gain", "20"}, 0, "gain = 20: ok"},
        {{"set", kMono8, "wb-red", "100"}, 0, "wb-red = 100: ok"},
        {{"set", kMono8, "wb-green", "16383"}, 0, "wb-green = 16383: ok"},
        {{"set", kMono8, "wb-blue", "16384"}, 1, "wb-blue = 16384: failed"},
        {{"set", kMono8, "exposure", "99999999"}, 1, "exposure = 99999999: failed"},
        {{"set", kMono8, "exposure", "14"}, 1, "exposure = 14: failed"},
        {{"set", kMono8, "gain", "21"}, 1, "gain = 21: failed"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << text(describe(c.arguments) + "\n" + result.err);
        const QString& stream = c.exitCode == 0 ? result.out : result.err;
        EXPECT_TRUE(stream.contains(QLatin1String(c.report))) << text(describe(c.arguments) + "\n" + stream);
    }
}

}  // namespace

// An SDK without the stand-in's counters (the tests' other SDK delivers
// frames stamped 1, 2 and 5): the losses come from the gaps in the numbers.
TEST(KwcamGrab, CountsLossesFromFrameNumbersOverAnSdkWithoutCounters)
{
    QProcessEnvironment environment = toolEnvironment();
    environment.insert(QStringLiteral("KWCAM_SDK"), QStringLiteral(KWCAM_OTHER_SDK_FILE));
    const QStringList arguments{"grab", "-n", "3", "--timeout", "30"};
    const ToolResult result = runTool(arguments, environment);
    EXPECT_RAN(result, arguments);
    const std::string what = text(describe(arguments) + "\n" + result.out + result.err);
    EXPECT_EQ(result.exitCode, 0) << what;
    EXPECT_EQ(text(result.summary("camera")), "OTHER-GM1 X0001") << what;
    EXPECT_EQ(text(result.summary("frames lost")), "2 (gaps in frame numbers)") << what;
    EXPECT_EQ(text(result.summary("in sequence")), "no (frame numbers 1 to 5)") << what;
}

// The options every host shares mean the same before any command and after
// it, check included; each run names the SDK it uses in one line unless
// quiet.
TEST(KwcamOptions, SharedOptionsBeforeAndAfterEveryCommand)
{
    const QString plugin = QStringLiteral(KWCAM_PLUGIN_PATH);
    const char* simulated = "kwcam: SDK: the simulated cameras (";
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* out;  // in stdout
        const char* err;  // in stderr; null: stderr is empty
    };
    const Case cases[] = {
        {{"--sim", "list"}, 0, "KW-MONO8 S0001\n", simulated},
        {{"list", "--sdk", "sim"}, 0, "KW-MONO8 S0001\n", simulated},
        {{"--sdk", "sim", "--sim", "info", "-c", "0"}, 0, "KW-MONO8 S0001", simulated},
        {{"--quiet", "--sdk", "sim", "grab", "-n", "1"}, 0, "frames:       1 of 1", nullptr},
        {{"--sim", "check", plugin, "--only", "library.delete-null"}, 0, "1 checks", "kwcam check: SDK: "},
        {{"--quiet", "check", "--plugin", plugin, "--only", "library.delete-null"}, 0, "1 checks", nullptr},
        {{"--plugin", plugin, "check", "--sdk", "sim", "--only", "library.delete-null"}, 0, "1 checks", ""},
        {{"check", plugin, "--quiet", "--sim", "--only", "library.delete-null"}, 0, "1 checks", nullptr},
        {{"--sdk", "/nonexistent/libMVCameraControl.so", "list"},
         1,
         "",
         "kwcam: cannot load the SDK /nonexistent/libMVCameraControl.so: no such file\n"},
        {{"--sim", "--sdk", "/x/libMVCameraControl.so", "list"},
         2,
         "",
         "--sim and --sdk /x/libMVCameraControl.so exclude"},
        {{"--sdk", "", "list"}, 2, "", "--sdk takes sim, genicam or the path of an SDK library"},
        {{"check", plugin, "-c", "0", "A B"}, 2, "", "give a camera key or -c, not both"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        EXPECT_RAN(result, c.arguments);
        const std::string what = text(describe(c.arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode) << what;
        EXPECT_TRUE(result.out.contains(QLatin1String(c.out))) << what;
        if (c.err == nullptr)
            EXPECT_EQ(text(result.err), "") << what;
        else
            EXPECT_TRUE(result.err.contains(QLatin1String(c.err))) << what;
    }

    // $KWCAM_SDK takes the words --sdk takes.
    QProcessEnvironment environment = toolEnvironment();
    environment.insert(QStringLiteral("KWCAM_SDK"), QStringLiteral("sim"));
    const ToolResult sim = runTool({"list"}, environment);
    EXPECT_EQ(sim.exitCode, 0) << text(sim.err);
    EXPECT_TRUE(sim.err.startsWith(QLatin1String(simulated))) << text(sim.err);

    // The GenICam SDK where it is built, else one line that says it is not.
    const QStringList genicamList{"--sdk", "genicam", "list"};
    const ToolResult genicam = runTool(genicamList);
    EXPECT_RAN(genicam, genicamList);
    if (genicam.exitCode == 1) {
        EXPECT_TRUE(genicam.err.startsWith(QLatin1String("kwcam: the GenICam SDK is not installed: no ")) &&
                    genicam.err.count(QLatin1Char('\n')) == 1)
            << text(genicam.err);
    } else {
        EXPECT_EQ(genicam.exitCode, 0) << text(genicam.err);
        EXPECT_TRUE(genicam.err.contains(QLatin1String("kwcam: SDK: GenICam ("))) << text(genicam.err);
    }
}
