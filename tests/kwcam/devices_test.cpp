// kwcam over devices that are unusual in how they are named or configured.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>

#include "toolrunner.h"

namespace {

std::string text(const QString& s)
{
    return s.toStdString();
}

// The environment of toolEnvironment() with another file of tests/data/kwcam.
QProcessEnvironment withConfig(const QString& fileName)
{
    QProcessEnvironment environment = toolEnvironment();
    environment.insert(QStringLiteral("MVSIM_CONFIG"),
                       QFileInfo(QStringLiteral(KWCAM_TEST_CONFIG)).dir().filePath(fileName));
    return environment;
}

TEST(KwcamDevices, NamesCutInTheDeviceRecordStillReachTheDevice)
{
    // The model is cut to 32 bytes, the serial to 16: the keys as listed.
    const QString longModel = QStringLiteral("KW-A-MODEL-NAME-LONGER-THAN-ITS- S0002");
    const QString longSerial = QStringLiteral("KW-LONGSERIAL S0003-TOO-LONG-F");
    const QProcessEnvironment environment = withConfig(QStringLiteral("longnames.json"));
    const ToolResult list = runTool({"list"}, environment);
    ASSERT_EQ(list.exitCode, 0) << text(list.err);
    ASSERT_EQ(text(list.out), text(QStringLiteral("KW-SHORT S0001\n") + longModel + '\n' + longSerial + '\n'));

    struct Case {
        QString key;
        const char* readAs;  // the device's own pixel type, found only through the device
    };
    const Case cases[] = {
        {longModel, "read as 16-bit grey (device pixel type Mono16)"},
        {longSerial, "read as 48-bit RGB (device pixel type RGB16)"},
    };
    for (const Case& c : cases) {
        // Hardware pulses reach the device only when the tool found it.
        const QStringList arguments = {"grab", c.key, "-n", "2", "--trigger", "hardware", "--rate", "50"};
        const ToolResult result = runTool(arguments, environment);
        ASSERT_TRUE(result.finished);
        const std::string what = text(describe(arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, 0) << what;
        EXPECT_EQ(text(result.summary("frames")), "2 of 2") << what;
        EXPECT_TRUE(result.summary("geometry").endsWith(QLatin1String(c.readAs))) << what;
    }
}

TEST(KwcamDevices, CameraChosenByIndexOrByAUniquePartOfItsKey)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* expected;  // in stdout when 0, else in stderr
    };
    const Case cases[] = {
        {{"info", "-c", "0"}, 0, "camera:         KW-MONO8 S0001\n"},
        {{"info", "--camera", "6"}, 0, "camera:         KW-ENCODER S0007\n"},
        {{"info", "-c", "s0005"}, 0, "camera:         KW-MONO16 S0005\n"},
        {{"info", "-c", "Rgb16"}, 0, "camera:         KW-RGB16 S0004\n"},
        {{"grab", "-c", "2", "-n", "1"}, 0, "camera:       KW-RGBA8 S0003\n"},
        {{"set", "-c", "1", "gain", "3"}, 0, "gain = 3: ok"},
        {{"info", "-c", "RGB"}, 1, "'RGB' matches 3 cameras:\n  KW-RGB8 S0002\n  KW-RGBA8 S0003\n  KW-RGB16 S0004\n"},
        // Past the list a number is a part of a key; "00" is no index.
        {{"info", "-c", "7"}, 0, "camera:         KW-ENCODER S0007\n"},
        {{"grab", "-c", "9"}, 1, "no camera 9: 7 listed, numbered from 0, and no key contains '9'"},
        {{"info", "-c", "00"}, 1, "'00' matches 7 cameras:\n  KW-MONO8 S0001\n"},
        {{"set", "-c", "nothing", "gain", "3"}, 1, "no camera matches 'nothing'; cameras found:\n  KW-MONO8 S0001\n"},
    };
    for (const Case& c : cases) {
        const ToolResult result = runTool(c.arguments);
        ASSERT_TRUE(result.finished);
        const std::string what = text(describe(c.arguments) + "\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode) << what;
        EXPECT_TRUE((c.exitCode == 0 ? result.out : result.err).contains(QLatin1String(c.expected))) << what;
    }
}

TEST(KwcamDevices, ListTellsABrokenConfigurationFromNoCameras)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = [&](const char* name, const QByteArray& content) {
        QFile file(dir.filePath(QLatin1String(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    };
    struct Case {
        QString config;
        int exitCode;
        const char* reason;
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("missing.json")), 1, "cannot list cameras"},
        {write("broken.json", "{\"devices\": [ {\"model\": "), 1, "cannot list cameras"},
        {write("wrong.json", "{\"devices\": [ {\"model\": \"A\", \"serial\": \"1\", \"width\": 0} ]}"), 1,
         "cannot list cameras"},
        {write("empty.json", "{\"devices\": []}"), 0, "no cameras found"},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment = toolEnvironment();
        environment.insert(QStringLiteral("MVSIM_CONFIG"), c.config);
        const ToolResult result = runTool({"list"}, environment);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, c.exitCode) << text(c.config + "\n" + result.err);
        EXPECT_TRUE(result.err.contains(QLatin1String(c.reason))) << text(c.config + "\n" + result.err);
        EXPECT_TRUE(result.out.isEmpty()) << text(result.out);
    }
}

}  // namespace
