// kwcam over a device that replays recorded pictures: the summary says which
// pictures arrived, and every saved frame gives back its picture's pixels.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include "pictures.h"
#include "replay_pictures.h"
#include "toolrunner.h"

namespace {

using replaytest::Kind;

TEST(KwcamReplay, SavedFramesAreThePicturesAndTheSummaryNamesThem)
{
    struct Case {
        const char* serial;
        Kind kind;
        const char* saveAs;
    };
    const Case cases[] = {
        {"GREY8", Kind::Grey8, "png"},
        {"GREY16", Kind::Grey16, "pgm"},
        {"COLOUR", Kind::Rgb8, "png"},
        {"COLOUR16", Kind::Rgb16, "png"},
    };
    constexpr int w = 7;
    constexpr int h = 5;
    constexpr unsigned n = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("shots")));
        for (unsigned i = 0; i < n; ++i)
            ASSERT_TRUE(
                replaytest::makeImage(c.kind, i, w, h).save(dir.filePath(QStringLiteral("shots/%1.png").arg(i + 1))));
        const QString config = dir.filePath(QStringLiteral("cameras.json"));
        ASSERT_TRUE(replaytest::writeFile(config,
                                          QByteArray(R"({"devices": [{"model": "KWREPLAY", "serial": ")") + c.serial +
                                              R"(", "images": "shots", "replay": "once"}]})"));
        QProcessEnvironment environment = toolEnvironment();
        environment.insert(QStringLiteral("MVSIM_CONFIG"), config);
        const QString key = QStringLiteral("KWREPLAY %1").arg(c.serial);
        const QString pattern = dir.filePath(QStringLiteral("out-%d.%1").arg(c.saveAs));
        const QStringList arguments = {"grab", key, "-n", QString::number(n), "--save", pattern};
        const ToolResult result = runTool(arguments, environment);
        ASSERT_TRUE(result.finished) << describe(arguments).toStdString();
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(result.summary(QStringLiteral("pictures")),
                  QStringLiteral("3 frames: pictures 0-2 of 3 (1.png to 3.png) in %1")
                      .arg(QDir(dir.filePath(QStringLiteral("shots"))).absolutePath()));
        for (unsigned i = 0; i < n; ++i) {
            Picture saved;
            const QString path = dir.filePath(QStringLiteral("out-%1.%2").arg(i + 1).arg(c.saveAs));
            ASSERT_EQ(readPicture(path, &saved), QString()) << path.toStdString();
            ASSERT_EQ(saved.width, w);
            ASSERT_EQ(saved.height, h);
            ASSERT_EQ(saved.channels, static_cast<int>(replaytest::channels(c.kind)));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int ch = 0; ch < saved.channels; ++ch)
                        ASSERT_EQ(saved.at(x, y, ch), replaytest::sampleOf(c.kind, i, x, y, ch))
                            << "frame " << i + 1 << " pixel (" << x << ", " << y << ") channel " << ch;
        }
    }
}

}  // namespace
