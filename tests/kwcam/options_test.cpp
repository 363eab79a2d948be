// The options every host shares, read as every host reads them: what each
// command line gives, what it refuses, and a later parser's options over an
// earlier one's (the options after a command over those before it).
#include <gtest/gtest.h>

#include "kwhost/options.h"

namespace {

using kwhost::HostOptions;
using kwhost::SdkKind;

const unsigned kAll = kwhost::kLoadOptions | kwhost::kCameraOption | kwhost::kTriggerOption;

bool read(const QStringList& arguments, unsigned groups, HostOptions* options, QString* error)
{
    QCommandLineParser parser;
    parser.addOptions(kwhost::hostOptions(groups));
    if (!parser.parse(QStringList{QStringLiteral("host")} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    return kwhost::readHostOptions(parser, groups, options, error);
}

TEST(HostOptions, EachCommandLineMeansOneThing)
{
    struct Case {
        QStringList arguments;
        SdkKind sdk;
        QString sdkPath;
        bool quiet;
        QString camera;  // null: not given
        kwhost::TriggerChoice trigger;
    };
    const Case cases[] = {
        {{}, SdkKind::Default, QString(), false, QString(), kwhost::TriggerChoice::Free},
        {{"--sim"}, SdkKind::Simulator, QString(), false, QString(), kwhost::TriggerChoice::Free},
        {{"--sdk", "sim"}, SdkKind::Simulator, QString(), false, QString(), kwhost::TriggerChoice::Free},
        {{"--sdk", "sim", "--sim"}, SdkKind::Simulator, QString(), false, QString(), kwhost::TriggerChoice::Free},
        {{"--sdk", "genicam"}, SdkKind::GenICam, QString(), false, QString(), kwhost::TriggerChoice::Free},
        {{"--sdk", "/x/libMVCameraControl.so"},
         SdkKind::Path,
         "/x/libMVCameraControl.so",
         false,
         QString(),
         kwhost::TriggerChoice::Free},
        {{"--quiet", "-c", "0"}, SdkKind::Default, QString(), true, "0", kwhost::TriggerChoice::Free},
        {{"--camera", "a1", "--trigger", "software"},
         SdkKind::Default,
         QString(),
         false,
         "a1",
         kwhost::TriggerChoice::Software},
        {{"--trigger", "hardware"}, SdkKind::Default, QString(), false, QString(), kwhost::TriggerChoice::Hardware},
    };
    for (const Case& c : cases) {
        HostOptions options;
        QString error;
        ASSERT_TRUE(read(c.arguments, kAll, &options, &error))
            << c.arguments.join(' ').toStdString() << ": " << error.toStdString();
        EXPECT_EQ(options.sdk.kind, c.sdk) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(options.sdk.path, c.sdkPath);
        EXPECT_EQ(options.quiet, c.quiet);
        EXPECT_EQ(options.camera.isNull(), c.camera.isNull());
        EXPECT_EQ(options.camera, c.camera);
        EXPECT_EQ(options.trigger, c.trigger);
        // The word hands the choice on unchanged (to the kit's children).
        kwhost::SdkChoice again;
        if (options.sdk.kind != SdkKind::Default) {
            ASSERT_TRUE(kwhost::sdkFromWord(kwhost::sdkWord(options.sdk), &again, &error));
            EXPECT_EQ(again.kind, options.sdk.kind);
            EXPECT_EQ(again.path, options.sdk.path);
        }
    }
}

TEST(HostOptions, RefusesWhatCannotMeanAnything)
{
    struct Case {
        QStringList arguments;
        unsigned groups;
        const char* error;
    };
    const Case cases[] = {
        {{"--plugin", ""}, kAll, "--plugin needs the path of a library"},
        {{"--sdk", ""}, kAll, "--sdk takes sim, genicam or the path of an SDK library"},
        {{"--sim", "--sdk", "genicam"}, kAll, "--sim and --sdk genicam exclude each other"},
        {{"--trigger", "sideways"}, kAll, "--trigger is hardware, free or software, not 'sideways'"},
        // Offered only where a command chooses a camera or starts one.
        {{"-c", "0"}, kwhost::kLoadOptions, "Unknown option 'c'."},
        {{"--trigger", "free"}, kwhost::kLoadOptions, "Unknown option 'trigger'."},
    };
    for (const Case& c : cases) {
        HostOptions options;
        QString error;
        EXPECT_FALSE(read(c.arguments, c.groups, &options, &error)) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(error, QLatin1String(c.error));
    }
}

TEST(HostOptions, LaterOptionsOverEarlierOnes)
{
    HostOptions options;
    QString error;
    ASSERT_TRUE(read({"--plugin", "/a.so", "--quiet"}, kwhost::kLoadOptions, &options, &error));
    ASSERT_TRUE(read({"--plugin", "/b.so", "--sim"}, kwhost::kLoadOptions, &options, &error));
    EXPECT_EQ(options.pluginPath, QStringLiteral("/b.so"));
    EXPECT_TRUE(options.quiet) << "--quiet before the command holds after it";
    EXPECT_EQ(options.sdk.kind, SdkKind::Simulator);
}

TEST(HostOptions, NumbersAreFiniteAndInRange)
{
    struct Case {
        const char* text;
        bool ok;
    };
    const Case cases[] = {{"1.5", true},   {"0", true},   {"10", true},  {"nan", false}, {"inf", false},
                          {"-inf", false}, {"11", false}, {"-1", false}, {"", false},    {"1e400", false}};
    for (const Case& c : cases) {
        double value = -7;
        EXPECT_EQ(kwhost::parseNumber(QLatin1String(c.text), 0, 10, &value), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(value, -7) << c.text;
        }
    }
}

}  // namespace
