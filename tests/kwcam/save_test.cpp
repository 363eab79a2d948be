// Frames saved by kwcam, read back and compared with the stand-in's test
// pattern: every pixel type it produces, in every file format that takes it.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mvsim/control.h"
#include "pictures.h"
#include "toolrunner.h"

namespace {

const int kWidth = 64;
const int kHeight = 48;

struct PixelCase {
    const char* key;
    int channels;       // in the saved picture
    int bytesPerPixel;  // in the frame the camera sent
    bool wide;          // 16-bit samples
    const char* ext;    // PNM extension that takes it
};

// The stamp covers the first bytes of each frame: pixels that reach into
// it hold no pattern.
bool coveredByStamp(int x, int y, int bytesPerPixel)
{
    return (static_cast<long>(y) * kWidth + x) * bytesPerPixel < static_cast<long>(sizeof(MvsimFrameStamp));
}

// Compares the whole picture with frame n of the pattern; reports the first
// mismatch only.
::testing::AssertionResult matchesPattern(const Picture& picture, const PixelCase& c, unsigned frameNumber)
{
    if (picture.width != kWidth || picture.height != kHeight)
        return ::testing::AssertionFailure() << "size " << picture.width << "x" << picture.height;
    if (picture.channels != c.channels)
        return ::testing::AssertionFailure() << picture.channels << " channels";
    if (picture.wide != c.wide)
        return ::testing::AssertionFailure() << (picture.wide ? "16-bit" : "8-bit") << " samples";
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (coveredByStamp(x, y, c.bytesPerPixel))
                continue;
            for (int ch = 0; ch < c.channels; ++ch) {
                const unsigned value = MVSIM_PatternValue(static_cast<unsigned>(x), static_cast<unsigned>(y),
                                                          frameNumber, static_cast<unsigned>(ch));
                const unsigned expected = c.wide ? value * 257u : value;
                if (picture.at(x, y, ch) != expected)
                    return ::testing::AssertionFailure()
                        << "pixel (" << x << ", " << y << ") channel " << ch << " is " << picture.at(x, y, ch)
                        << ", pattern of frame " << frameNumber << " gives " << expected;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

const PixelCase kPixelCases[] = {
    {"KW-MONO8 S0001", 1, 1, false, "pgm"}, {"KW-BAYER S0006", 1, 1, false, "pgm"},  // the raw mosaic, as grey
    {"KW-MONO16 S0005", 1, 2, true, "pgm"}, {"KW-RGB8 S0002", 3, 3, false, "ppm"},
    {"KW-RGBA8 S0003", 3, 4, false, "ppm"},  // the fourth byte is dropped
    {"KW-RGB16 S0004", 3, 6, true, "ppm"},
};

TEST(KwcamSave, LastFrameReadsBackAsThePatternForEveryPixelTypeAndFormat)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QRegularExpression saved(QStringLiteral("^(.*) \\(frame (\\d+)\\)$"));
    for (const PixelCase& c : kPixelCases) {
        for (const QString& ext : {QStringLiteral("png"), QString::fromLatin1(c.ext)}) {
            const QString path = dir.filePath(QStringLiteral("last.") + ext);
            const QStringList arguments = {"grab", c.key, "-n", "3", "--save", path};
            const ToolResult result = runTool(arguments);
            ASSERT_TRUE(result.finished);
            const std::string what = (describe(arguments) + "\n" + result.out + result.err).toStdString();
            ASSERT_EQ(result.exitCode, 0) << what;
            const QRegularExpressionMatch match = saved.match(result.summary("saved"));
            ASSERT_TRUE(match.hasMatch()) << what;
            EXPECT_EQ(match.captured(1), path);
            // The last of three frames after opening.
            EXPECT_EQ(match.captured(2), QStringLiteral("3")) << what;

            Picture picture;
            const QString error = readPicture(path, &picture);
            ASSERT_TRUE(error.isEmpty()) << what << error.toStdString();
            EXPECT_TRUE(matchesPattern(picture, c, 3)) << what;
            QFile::remove(path);
        }
    }
}

TEST(KwcamSave, PlaceholderSavesEveryFrameUnderItsNumber)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const PixelCase& c = kPixelCases[5];  // RGB16: the widest pixels
    const QStringList arguments = {"grab", c.key, "-n", "4", "--save", dir.filePath(QStringLiteral("f%03d.ppm"))};
    const ToolResult result = runTool(arguments);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(result.exitCode, 0) << (result.out + result.err).toStdString();
    EXPECT_TRUE(result.summary("saved").startsWith(QLatin1String("4 of 4 frames as "))) << result.out.toStdString();

    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files, (QStringList{"f001.ppm", "f002.ppm", "f003.ppm", "f004.ppm"}));
    for (unsigned n = 1; n <= 4; ++n) {
        Picture picture;
        const QString path = dir.filePath(files.at(static_cast<int>(n - 1)));
        ASSERT_TRUE(readPicture(path, &picture).isEmpty()) << path.toStdString();
        EXPECT_TRUE(matchesPattern(picture, c, n)) << path.toStdString();
    }
}

TEST(KwcamSave, DestinationThatCannotTakeTheFrameFailsBeforeTheCameraOpens)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* key;
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"KW-RGB8 S0002", "colour.pgm", "a colour frame (24-bit RGB) is saved as .ppm or .png, not .pgm"},
        {"KW-MONO16 S0005", "grey.ppm", "a grey frame (16-bit grey) is saved as .pgm or .png, not .ppm"},
        {"KW-MONO16 S0005", "grey%03d.ppm", "a grey frame (16-bit grey) is saved as .pgm or .png, not .ppm"},
        {"KW-MONO8 S0001", "missing-directory/frame.png", "missing-directory does not exist"},
        {"KW-MONO8 S0001", "missing-directory/f%d.png", "missing-directory does not exist"},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QLatin1String(c.file));
        const ToolResult result = runTool({"grab", c.key, "-n", "1", "--save", path});
        ASSERT_TRUE(result.finished);
        const std::string what = (QLatin1String(c.file) + "\n" + result.out + result.err).toStdString();
        EXPECT_EQ(result.exitCode, 1) << what;
        EXPECT_TRUE(result.err.contains(QStringLiteral("cannot save to %1: ").arg(path))) << what;
        EXPECT_TRUE(result.err.contains(QLatin1String(c.reason))) << what;
        // Refused before the plug-in opened the camera: no grab, no summary.
        EXPECT_FALSE(result.err.contains(QLatin1String("IOpenCamera"))) << what;
        EXPECT_TRUE(result.out.isEmpty()) << what;
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST(KwcamSave, DoublePercentIsAPercentSignInTheName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* pattern;
        QStringList files;
    } cases[] = {
        {"x%%d.pgm", {"x%d.pgm"}},                  // no placeholder: the last frame
        {"y%%%02d.pgm", {"y%01.pgm", "y%02.pgm"}},  // a '%', then the number
    };
    for (const auto& c : cases) {
        const ToolResult result =
            runTool({"grab", "KW-MONO8 S0001", "-n", "2", "--save", dir.filePath(QLatin1String(c.pattern))});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0) << (result.out + result.err).toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), c.files) << c.pattern;
        for (const QString& file : c.files)
            QFile::remove(dir.filePath(file));
    }
}

// Anything but a regular file is refused before the camera opens: a FIFO
// without a reader would block the open for ever (a hang shows as an
// unfinished run), a device or a folder is no place for a picture.
TEST(KwcamSave, DestinationThatIsNoRegularFileIsRefusedAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.pgm"))).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));
    const struct {
        QString path;
        const char* reason;
    } cases[] = {
        {dir.filePath(QStringLiteral("fifo.pgm")), "is a FIFO, not a regular file"},
        {dir.filePath(QStringLiteral("folder.png")), "is a folder, not a regular file"},
        {QStringLiteral("/dev/null.pgm/x.pgm"), "does not exist"},
    };
    for (const auto& c : cases) {
        const ToolResult result = runTool({"grab", "KW-MONO8 S0001", "-n", "1", "--save", c.path});
        ASSERT_TRUE(result.finished) << c.path.toStdString();
        const std::string what = (c.path + "\n" + result.out + result.err).toStdString();
        EXPECT_EQ(result.exitCode, 1) << what;
        EXPECT_TRUE(result.err.contains(QLatin1String(c.reason))) << what;
        EXPECT_FALSE(result.err.contains(QLatin1String("IOpenCamera"))) << what;
        EXPECT_EQ(result.err.count(QLatin1Char('\n')), 2) << what;  // the SDK line and the error
    }
}

// A full file system, made for the test where the user may mount one: the
// write that does not fit is named with the reason, no cut file stays, the
// grab fails.
TEST(KwcamSave, FullDiskSaysSoAndLeavesNoCutFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const qint64 fileSize = QByteArray("P5\n64 48\n255\n").size() + kWidth * kHeight;
    for (const char* pattern : {"f%03d.pgm", "last.pgm"}) {
        // The last frame finds the disk already full.
        for (const QString& file : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(file));
        if (QLatin1String(pattern) == QLatin1String("last.pgm")) {
            QFile filler(dir.filePath(QStringLiteral("filler")));
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            filler.write(QByteArray(16 * 1024 - 1000, 'x'));
            filler.close();
        }
        const ToolResult result =
            runTool({"grab", "KW-MONO8 S0001", "-n", "30", "--save", dir.filePath(QLatin1String(pattern))});
        ASSERT_TRUE(result.finished);
        const std::string what = (result.out + result.err).toStdString();
        EXPECT_EQ(result.exitCode, 1) << what;
        EXPECT_TRUE(result.err.contains(QLatin1String(": no space left on the device"))) << what;
        for (const QFileInfo& file : QDir(dir.path()).entryInfoList({QStringLiteral("*.pgm")}, QDir::Files))
            EXPECT_EQ(file.size(), fileSize) << file.fileName().toStdString() << "\n" << what;
    }
    umount(mountPoint.constData());
}

TEST(KwcamOutput, FullStandardOutputFails)
{
    for (const QStringList& arguments : {QStringList{"list"}, QStringList{"--help"}}) {
        QProcess process;
        process.setProcessEnvironment(toolEnvironment());
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(QStringLiteral(KWCAM_TOOL_PATH), arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String("kwcam: cannot write to the standard output"))) << err.toStdString();
    }
}

}  // namespace
