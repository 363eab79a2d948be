// kwcam info, list --long and the ranges stated by set: what the SDK's own
// getters, the plug-in and the stand-in's state tell of each camera.
#include <gtest/gtest.h>

#include "toolrunner.h"

namespace {

std::string text(const QString& s)
{
    return s.toStdString();
}

TEST(KwcamInfo, DescribesEachCameraAsTheSdkAndThePlugInReportIt)
{
    struct Case {
        QStringList arguments;
        QStringList lines;  // "name: value" expected, value as a prefix
    };
    const Case cases[] = {
        {{"info"},  // the first camera listed
         {"camera: KW-MONO8 S0001", "transport: GigE", "geometry: 64x48 (width 64 to 64, height 48 to 48)",
          "pixel type: Mono8", "plug-in format: GRAY8 (1) at 8 bits, 64x48; frames read as 8-bit grey",
          "exposure: 10000 us (15 to 100000)", "gain: 2 dB (0 to 20)",
          "automatic: exposure continuous, white balance continuous", "white balance: red ",
          "trigger: mode off, source line 0", "timing: frame rate unlimited, readout 115 MB/s, 3 frame buffers"}},
        {{"info", "KW-RGB16", "S0004"},
         {"transport: USB", "pixel type: RGB16",
          "plug-in format: GRAY16 (4) at 16 bits, 64x48; frames read as 48-bit RGB"}},
        {{"info", "KW-MONO16 S0005", "--quiet"},
         {"pixel type: Mono16", "plug-in format: GRAY8 (1) at 8 bits, 64x48; frames read as 16-bit grey"}},
        {{"info", "KW-ENCODER S0007"}, {"geometry: 32x24 (", "gain: 0 dB (0 to 20)"}},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        ASSERT_TRUE(result.finished);
        const std::string what = text(describe(c.arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, 0) << what;
        for (const QString& expected : c.lines) {
            const QString name = expected.section(QStringLiteral(": "), 0, 0);
            const QString value = expected.section(QStringLiteral(": "), 1);
            EXPECT_TRUE(result.summary(name).startsWith(value)) << "line " << text(name) << "\n" << what;
        }
    }
}

TEST(KwcamInfo, FailuresExitOne)
{
    for (const QStringList& arguments :
         {QStringList{"info", "KW-NONE S9"}, QStringList{"--plugin", "/no/lib.so", "info"}}) {
        const ToolResult result = runTool(arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 1) << text(describe(arguments) + "\n" + result.err);
        EXPECT_TRUE(result.out.isEmpty()) << text(result.out);
    }
}

TEST(KwcamInfo, ListLongPrintsARowOfEssentialsPerCamera)
{
    const ToolResult result = runTool({"list", "--long"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << text(result.err);
    const QStringList rows = result.out.trimmed().split(QLatin1Char('\n'));
    const char* const expected[][4] = {
        {"KW-MONO8 S0001 ", "GigE", "64x48", "Mono8"},   {"KW-RGB8 S0002 ", "USB", "64x48", "RGB8"},
        {"KW-RGBA8 S0003 ", "GigE", "64x48", "RGBa8"},   {"KW-RGB16 S0004 ", "USB", "64x48", "RGB16"},
        {"KW-MONO16 S0005 ", "GigE", "64x48", "Mono16"}, {"KW-BAYER S0006 ", "GigE", "64x48", "BayerRG8"},
        {"KW-ENCODER S0007 ", "GigE", "32x24", "Mono8"},
    };
    ASSERT_EQ(rows.size(), 7) << text(result.out);
    for (int i = 0; i < 7; ++i) {
        const QStringList words = rows.at(i).simplified().split(QLatin1Char(' '));
        EXPECT_TRUE(rows.at(i).startsWith(QLatin1String(expected[i][0]))) << text(rows.at(i));
        EXPECT_EQ(words.value(2), QLatin1String(expected[i][1])) << text(rows.at(i));
        EXPECT_EQ(words.value(3), QLatin1String(expected[i][2])) << text(rows.at(i));
        EXPECT_EQ(words.value(4), QLatin1String(expected[i][3])) << text(rows.at(i));
        EXPECT_TRUE(rows.at(i).contains(QLatin1String(" exposure 10000 us  gain "))) << text(rows.at(i));
    }
}

TEST(KwcamInfo, RefusedSettingStatesTheRangeTheCameraTakes)
{
    struct Case {
        QStringList arguments;
        const char* report;
    };
    const Case cases[] = {
        {{"set", "KW-MONO8 S0001", "exposure", "14"},
         "kwcam: exposure = 14: failed (the camera takes from 15 to 100000)"},
        {{"set", "KW-MONO8 S0001", "gain", "-1"}, "kwcam: gain = -1: failed (the camera takes from 0 to 20)"},
        // No getter for white balance: no range to state.
        {{"set", "KW-MONO8 S0001", "wb-blue", "16384"}, "kwcam: wb-blue = 16384: failed\n"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 1) << text(describe(c.arguments));
        EXPECT_TRUE(result.err.contains(QLatin1String(c.report))) << text(describe(c.arguments) + "\n" + result.err);
    }
}

}  // namespace
