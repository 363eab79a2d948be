// Replay of recorded pictures, below the device: natural name order,
// decoding every format the stand-in reads with its samples intact, the
// conversions to each pixel type, and the checks of a device's pictures.
#include "naturalorder.h"
#include "picture.h"
#include "pictureconvert.h"
#include "replay_pictures.h"
#include "replaysetup.h"

#include "mvsim/control.h"

#include <QDir>
#include <QImageReader>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

using namespace mvsim;
using replaytest::Kind;

namespace {

TEST(NaturalOrder, ComparesDigitRunsByValue)
{
    struct Case {
        const char* a;
        const char* b;
        bool less;
    };
    const Case cases[] = {
        {"2.png", "10.png", true},
        {"10.png", "2.png", false},
        {"img9.png", "img10.png", true},
        {"a2b", "a10a", true},
        {"shot-7.png", "shot-07.png", true},  // same value: fewer zeros first
        {"shot-07.png", "shot-7.png", false},
        {"x", "x1", true},
        {"x1", "x", false},
        {"B.png", "a.png", true},                                         // bytes otherwise
        {"99999999999999999999.png", "100000000000000000000.png", true},  // past 64 bits
        {"same.png", "same.png", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(naturalLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

struct DecodeCase {
    const char* file;
    Kind kind;
    PictureKind decoded;
    std::function<bool(const QString&)> write;
    unsigned maxValue;  // samples as written, modulo maxValue + 1 (0: full range)
};

constexpr int W = 5;  // odd, so that rows of Qt's images are padded
constexpr int H = 3;

bool saveQt(const QString& path, Kind kind)
{
    return replaytest::makeImage(kind, 1, W, H).save(path);
}

TEST(PictureDecode, KeepsEverySampleOfEachFormat)
{
    const bool tiff = QImageReader::supportedImageFormats().contains("tiff");
    const std::vector<DecodeCase> cases = {
        {"g8.png", Kind::Grey8, PictureKind::Grey8, [](const QString& p) { return saveQt(p, Kind::Grey8); }, 0},
        {"g8.bmp", Kind::Grey8, PictureKind::Grey8, [](const QString& p) { return saveQt(p, Kind::Grey8); }, 0},
        {"g8.tif", Kind::Grey8, PictureKind::Grey8, [](const QString& p) { return saveQt(p, Kind::Grey8); }, 0},
        {"g8.pgm", Kind::Grey8, PictureKind::Grey8,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Grey8, 1, W, H, false); }, 0},
        {"g8-plain.pgm", Kind::Grey8, PictureKind::Grey8,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Grey8, 1, W, H, true); }, 0},
        {"g16.png", Kind::Grey16, PictureKind::Grey16, [](const QString& p) { return saveQt(p, Kind::Grey16); }, 0},
        {"g16.tif", Kind::Grey16, PictureKind::Grey16, [](const QString& p) { return saveQt(p, Kind::Grey16); }, 0},
        {"g16.pgm", Kind::Grey16, PictureKind::Grey16,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Grey16, 1, W, H, false); }, 0},
        {"g16-plain.pgm", Kind::Grey16, PictureKind::Grey16,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Grey16, 1, W, H, true); }, 0},
        {"g12.pgm", Kind::Grey16, PictureKind::Grey16,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Grey16, 1, W, H, false, 4095); }, 4095},
        {"c8.png", Kind::Rgb8, PictureKind::Rgb8, [](const QString& p) { return saveQt(p, Kind::Rgb8); }, 0},
        {"c8.bmp", Kind::Rgb8, PictureKind::Rgb8, [](const QString& p) { return saveQt(p, Kind::Rgb8); }, 0},
        {"c8.tif", Kind::Rgb8, PictureKind::Rgb8, [](const QString& p) { return saveQt(p, Kind::Rgb8); }, 0},
        {"c8.ppm", Kind::Rgb8, PictureKind::Rgb8,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Rgb8, 1, W, H, false); }, 0},
        {"a8.png", Kind::Rgba8, PictureKind::Rgba8, [](const QString& p) { return saveQt(p, Kind::Rgba8); }, 0},
        {"c16.png", Kind::Rgb16, PictureKind::Rgb16, [](const QString& p) { return saveQt(p, Kind::Rgb16); }, 0},
        {"c16.tif", Kind::Rgb16, PictureKind::Rgb16, [](const QString& p) { return saveQt(p, Kind::Rgb16); }, 0},
        {"c16.ppm", Kind::Rgb16, PictureKind::Rgb16,
         [](const QString& p) { return replaytest::writeNetpbm(p, Kind::Rgb16, 1, W, H, false); }, 0},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const DecodeCase& c : cases) {
        if (!tiff && QString(c.file).endsWith(".tif"))
            continue;  // no TIFF reader installed
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        ASSERT_TRUE(c.write(path));
        Picture picture;
        std::string reason;
        ASSERT_TRUE(decodePicture(path.toStdString(), &picture, &reason)) << reason;
        unsigned w = 0;
        unsigned h = 0;
        ASSERT_TRUE(probePicture(path.toStdString(), &w, &h, &reason)) << reason;
        EXPECT_EQ(w, unsigned(W));
        EXPECT_EQ(h, unsigned(H));
        ASSERT_EQ(picture.kind, c.decoded) << kindName(picture.kind);
        ASSERT_EQ(picture.width, unsigned(W));
        ASSERT_EQ(picture.height, unsigned(H));
        ASSERT_EQ(picture.samples.size(), W * H * replaytest::channels(c.kind) * (replaytest::wide(c.kind) ? 2u : 1u));
        for (unsigned y = 0; y < H; ++y)
            for (unsigned x = 0; x < W; ++x)
                for (unsigned ch = 0; ch < replaytest::channels(c.kind); ++ch) {
                    unsigned expected = replaytest::sampleOf(c.kind, 1, x, y, ch);
                    if (c.maxValue)
                        expected %= c.maxValue + 1;
                    ASSERT_EQ(picture.sample(x, y, ch), expected) << "x " << x << " y " << y << " channel " << ch;
                }
    }
}

TEST(PictureDecode, PalettePicturesAreGreyOnlyWhenEveryEntryIsAnOpaqueGrey)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage grey(3, 1, QImage::Format_Indexed8);
    grey.setColorTable({qRgb(0, 0, 0), qRgb(90, 90, 90), qRgb(255, 255, 255)});
    for (int x = 0; x < 3; ++x)
        grey.setPixel(x, 0, 2 - x);
    QImage colour = grey;
    colour.setColorTable({qRgb(0, 0, 0), qRgb(90, 90, 90), qRgb(1, 2, 3)});
    ASSERT_TRUE(grey.save(dir.filePath("grey.png")));
    ASSERT_TRUE(colour.save(dir.filePath("colour.png")));
    Picture picture;
    std::string reason;
    ASSERT_TRUE(decodePicture(dir.filePath("grey.png").toStdString(), &picture, &reason)) << reason;
    EXPECT_EQ(picture.kind, PictureKind::Grey8);
    EXPECT_EQ(picture.samples, (std::vector<unsigned char>{255, 90, 0}));
    ASSERT_TRUE(decodePicture(dir.filePath("colour.png").toStdString(), &picture, &reason)) << reason;
    EXPECT_EQ(picture.kind, PictureKind::Rgb8);
    EXPECT_EQ(picture.samples, (std::vector<unsigned char>{1, 2, 3, 90, 90, 90, 0, 0, 0}));
}

// A valid PNG header declaring 60000x60000 grey pixels, with almost no data.
QByteArray declaredHugePng()
{
    return QByteArray::fromHex(
        "89504e470d0a1a0a0000000d494844520000ea600000ea600800000000a5b92a9e0000000c49444154789c6360a00c000000400001b734"
        "7cef0000000049454e44ae426082");
}

TEST(PictureDecode, RefusesWhatIsNoPicture)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* file;
        QByteArray bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"notes.txt", "these are notes, not a picture\n", "not a picture"},
        {"empty.png", "", "not a picture"},
        {"short.pgm", "P5\n4 4\n255\nab", "truncated"},
        {"huge.pgm", "P5\n70000 1\n255\n", "out of range"},
        {"header.ppm", "P6\n4 x\n255\n", "broken Netpbm header"},
        {"sample.pgm", "P2\n2 1\n255\n3 256\n", "sample 1"},
        // Small files that declare pictures too large to decode: refused
        // before any memory is taken for them.
        {"declared.pgm", "P5\n60000 60000 255\n", "60000x60000 would take 3434 MiB decoded, more than the 1024 MiB"},
        {"declared.png", declaredHugePng(), "60000x60000 would take 3434 MiB decoded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        ASSERT_TRUE(replaytest::writeFile(path, c.bytes));
        Picture picture;
        std::string reason;
        EXPECT_FALSE(decodePicture(path.toStdString(), &picture, &reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
    Picture picture;
    std::string reason;
    EXPECT_FALSE(decodePicture(dir.filePath("missing.png").toStdString(), &picture, &reason));
    EXPECT_EQ(reason.rfind("cannot read: ", 0), 0u) << reason;
}

// Two by two pictures and what each pixel type makes of them, byte by byte.
struct ConvertCase {
    PictureKind kind;
    std::vector<unsigned> samples;  // row by row, channels interleaved
    unsigned pixelType;
    std::vector<unsigned char> frame;
};

Picture pictureOf(const ConvertCase& c)
{
    Picture p;
    p.width = 2;
    p.height = 2;
    p.kind = c.kind;
    for (unsigned v : c.samples) {
        p.samples.push_back(static_cast<unsigned char>(v & 0xFF));
        if (isWide(c.kind))
            p.samples.push_back(static_cast<unsigned char>(v >> 8));
    }
    return p;
}

TEST(PictureConvert, EachKindToEachPixelType)
{
    const std::vector<unsigned> grey8 = {10, 200, 0, 255};
    const std::vector<unsigned> grey16 = {0x1234, 0xFFFF, 0x0080, 0xAB00};
    const std::vector<unsigned> rgb8 = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    const std::vector<unsigned> rgba8 = {1, 2, 3, 4, 250, 5, 9, 0, 7, 7, 7, 128, 0, 0, 0, 255};
    const std::vector<unsigned> rgb16 = {0x1234, 0x5678, 0x9ABC, 0xFFFF, 0,      0x0101,
                                         0,      0x8000, 0,      0x0102, 0x0304, 0x0506};
    const std::vector<ConvertCase> cases = {
        {PictureKind::Grey8, grey8, MVSIM_PIXEL_MONO8, {10, 200, 0, 255}},
        {PictureKind::Grey8, grey8, MVSIM_PIXEL_BAYERRG8, {10, 200, 0, 255}},
        {PictureKind::Grey8, grey8, MVSIM_PIXEL_MONO16, {10, 10, 200, 200, 0, 0, 255, 255}},
        {PictureKind::Grey8, grey8, MVSIM_PIXEL_RGB8, {10, 10, 10, 200, 200, 200, 0, 0, 0, 255, 255, 255}},
        {PictureKind::Grey8,
         grey8,
         MVSIM_PIXEL_RGBA8,
         {10, 10, 10, 255, 200, 200, 200, 255, 0, 0, 0, 255, 255, 255, 255, 255}},
        {PictureKind::Grey8, grey8, MVSIM_PIXEL_RGB16, {10, 10, 10, 10, 10, 10, 200, 200, 200, 200, 200, 200,
                                                        0,  0,  0,  0,  0,  0,  255, 255, 255, 255, 255, 255}},
        {PictureKind::Grey16, grey16, MVSIM_PIXEL_MONO16, {0x34, 0x12, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0xAB}},
        {PictureKind::Grey16, grey16, MVSIM_PIXEL_MONO8, {0x12, 0xFF, 0x00, 0xAB}},
        {PictureKind::Grey16, grey16, MVSIM_PIXEL_BAYERRG8, {0x12, 0xFF, 0x00, 0xAB}},
        {PictureKind::Grey16,
         grey16,
         MVSIM_PIXEL_RGBA8,
         {0x12, 0x12, 0x12, 255, 0xFF, 0xFF, 0xFF, 255, 0, 0, 0, 255, 0xAB, 0xAB, 0xAB, 255}},
        {PictureKind::Grey16, grey16, MVSIM_PIXEL_RGB16, {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xFF, 0xFF,
                                                          0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x80, 0x00,
                                                          0x80, 0x00, 0x00, 0xAB, 0x00, 0xAB, 0x00, 0xAB}},
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_RGB8, {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}},
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_MONO8, {76, 150, 29, 18}},
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_MONO16, {76, 76, 150, 150, 29, 29, 18, 18}},
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_RGBA8, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 10, 20, 30, 255}},
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_BAYERRG8, {255, 255, 0, 30}},  // R G / G B
        {PictureKind::Rgb8, rgb8, MVSIM_PIXEL_RGB16, {255, 255, 0, 0, 0,   0,   0,  0,  255, 255, 0,  0,
                                                      0,   0,   0, 0, 255, 255, 10, 10, 20,  20,  30, 30}},
        {PictureKind::Rgba8, rgba8, MVSIM_PIXEL_RGBA8, {1, 2, 3, 4, 250, 5, 9, 0, 7, 7, 7, 128, 0, 0, 0, 255}},
        {PictureKind::Rgba8, rgba8, MVSIM_PIXEL_RGB8, {1, 2, 3, 250, 5, 9, 7, 7, 7, 0, 0, 0}},
        {PictureKind::Rgba8, rgba8, MVSIM_PIXEL_MONO8, {2, 79, 7, 0}},
        {PictureKind::Rgb16, rgb16, MVSIM_PIXEL_RGB16, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xFF, 0xFF,
                                                        0,    0,    0x01, 0x01, 0,    0,    0,    0x80,
                                                        0,    0,    0x02, 0x01, 0x04, 0x03, 0x06, 0x05}},
        {PictureKind::Rgb16, rgb16, MVSIM_PIXEL_MONO16, {0xD7, 0x49, 0xA8, 0x4C, 0x23, 0x4B, 0xA5, 0x02}},
        {PictureKind::Rgb16, rgb16, MVSIM_PIXEL_MONO8, {0x49, 0x4C, 0x4B, 0x02}},
        {PictureKind::Rgb16, rgb16, MVSIM_PIXEL_RGB8, {0x12, 0x56, 0x9A, 0xFF, 0, 0x01, 0, 0x80, 0, 0x01, 0x03, 0x05}},
        {PictureKind::Rgb16,
         rgb16,
         MVSIM_PIXEL_RGBA8,
         {0x12, 0x56, 0x9A, 255, 0xFF, 0, 0x01, 255, 0, 0x80, 0, 255, 0x01, 0x03, 0x05, 255}},
        {PictureKind::Rgb16, rgb16, MVSIM_PIXEL_BAYERRG8, {0x12, 0, 0x80, 0x05}},
    };
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE(std::string(kindName(c.kind)) + " to pixel type " + std::to_string(c.pixelType));
        ASSERT_TRUE(convertsTo(c.pixelType));
        ASSERT_EQ(convertedFrameBytes(2, 2, c.pixelType), c.frame.size());
        std::vector<unsigned char> frame(c.frame.size() + 1, 0xEE);  // one guard byte
        convertPicture(pictureOf(c), c.pixelType, frame.data());
        EXPECT_EQ(std::vector<unsigned char>(frame.begin(), frame.end() - 1), c.frame);
        EXPECT_EQ(frame.back(), 0xEE) << "wrote past the frame";
    }
    EXPECT_FALSE(convertsTo(0x010C0006u));  // a packed 12-bit type
}

// A device's pictures: the keys, the folder and the checks.
class ReplaySetupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    void save(const char* name, Kind kind, int w = 4, int h = 3)
    {
        ASSERT_TRUE(replaytest::makeImage(kind, 0, w, h).save(dir_.filePath(name))) << name;
    }

    // Reads the keys of `json` and prepares the replay; "" or the error.
    std::string prepare(const char* json, ReplayGeometry* geometry, ReplaySetup* replay)
    {
        const QJsonObject entry = QJsonDocument::fromJson(json).object();
        std::string error = readReplayKeys(entry, replay);
        if (error.empty())
            error = prepareReplay(replay, geometry, dir_.path().toStdString());
        return error;
    }

    std::string prepare(const char* json)
    {
        ReplayGeometry geometry;
        ReplaySetup replay;
        return prepare(json, &geometry, &replay);
    }

    QTemporaryDir dir_;
};

TEST_F(ReplaySetupTest, FolderInNaturalOrderHiddenFilesLeftOut)
{
    for (const char* name : {"10.png", "2.png", "1.png", "shot-07.png"})
        save(name, Kind::Grey8);
    ASSERT_TRUE(replaytest::writeFile(dir_.filePath(".hidden"), "not listed"));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("sub"));
    ReplayGeometry geometry;
    ReplaySetup replay;
    ASSERT_EQ(prepare(R"({"images": "."})", &geometry, &replay), "");
    std::vector<std::string> names;
    for (const std::string& f : replay.files)
        names.push_back(QFileInfo(QString::fromStdString(f)).fileName().toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"1.png", "2.png", "10.png", "shot-07.png"}));
    EXPECT_FALSE(replay.once);
    EXPECT_FALSE(replay.stamp);
    EXPECT_EQ(geometry.width, 4u);
    EXPECT_EQ(geometry.height, 3u);
}

TEST_F(ReplaySetupTest, FirstPictureDecidesThePixelType)
{
    struct Case {
        const char* file;
        Kind kind;
        unsigned pixelType;
    };
    const Case cases[] = {
        {"g8.png", Kind::Grey8, MVSIM_PIXEL_MONO8},  {"g16.png", Kind::Grey16, MVSIM_PIXEL_MONO16},
        {"c8.png", Kind::Rgb8, MVSIM_PIXEL_RGB8},    {"a8.png", Kind::Rgba8, MVSIM_PIXEL_RGBA8},
        {"c16.png", Kind::Rgb16, MVSIM_PIXEL_RGB16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        save(c.file, c.kind, 7, 2);
        ReplayGeometry geometry;
        ReplaySetup replay;
        const std::string json = std::string(R"({"images": ")") + c.file + R"(", "replay": "once", "stamp": true})";
        ASSERT_EQ(prepare(json.c_str(), &geometry, &replay), "");
        EXPECT_EQ(geometry.pixelType, c.pixelType);
        EXPECT_EQ(geometry.width, 7u);
        EXPECT_EQ(geometry.height, 2u);
        EXPECT_TRUE(replay.once);
        EXPECT_TRUE(replay.stamp);
        ASSERT_EQ(replay.files.size(), 1u);
    }
    // A pixel type the setup gives stays.
    ReplayGeometry geometry;
    geometry.pixelType = MVSIM_PIXEL_BAYERRG8;
    geometry.pixelTypeGiven = true;
    ReplaySetup replay;
    ASSERT_EQ(prepare(R"({"images": "c8.png"})", &geometry, &replay), "");
    EXPECT_EQ(geometry.pixelType, MVSIM_PIXEL_BAYERRG8);
}

TEST_F(ReplaySetupTest, RefusalsNameTheFileAtFault)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("sizes"));
    ASSERT_TRUE(QDir(dir_.path()).mkpath("bad"));
    ASSERT_TRUE(QDir(dir_.path()).mkpath("empty"));
    save("sizes/shot-0001.png", Kind::Grey8, 4, 3);
    save("sizes/shot-0007.png", Kind::Grey8, 6, 5);
    save("sizes/shot-0010.png", Kind::Grey8, 7, 5);
    save("bad/1.png", Kind::Grey8);
    ASSERT_TRUE(replaytest::writeFile(dir_.filePath("bad/2.txt"), "notes"));
    ASSERT_TRUE(replaytest::writeFile(dir_.filePath("bad/3.png"), "\x89PNG\r\n\x1a\n garbage"));
    ASSERT_TRUE(replaytest::writeFile(dir_.filePath("bad/4.pgm"), "P5\n4 3\n255\nab"));
    // Entries that can hold no picture are named too; a pipe is never opened
    // (it would block the listing).
    ASSERT_TRUE(QDir(dir_.path()).mkpath("links"));
    save("links/1.png", Kind::Grey8);
    ASSERT_TRUE(QFile::link(dir_.filePath("links/nowhere.png"), dir_.filePath("links/2.png")));
    ASSERT_TRUE(QFile::link(dir_.filePath("links/4.png"), dir_.filePath("links/3.png")));
    ASSERT_TRUE(QFile::link(dir_.filePath("links/3.png"), dir_.filePath("links/4.png")));
    ASSERT_EQ(::mkfifo(dir_.filePath("links/5.png").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir_.filePath("pipe.png").toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir_.filePath("nowhere.png"), dir_.filePath("dangling.png")));
    struct Case {
        const char* json;
        std::vector<std::string> expected;  // the whole line, or parts of it
    };
    const std::vector<Case> cases = {
        {R"({"images": "sizes"})", {"images: shot-0007.png is 6x5, the device is 4x3"}},
        {R"({"images": "sizes/shot-0001.png", "width": 8})", {"images: shot-0001.png is 4x3, the device is 8x3"}},
        {R"({"images": "bad"})", {"images: 2.txt: not a picture; 3.png: ", "; 4.pgm: truncated"}},
        {R"({"images": "links"})",
         {"images: 2.png: a link to nothing (or a loop of links); 3.png: a link to nothing (or a loop of links); "
          "4.png: a link to nothing (or a loop of links); 5.png: not a regular file"}},
        {R"({"images": "pipe.png"})", {"images: pipe.png is not a regular file"}},
        {R"({"images": "dangling.png"})", {"images: dangling.png is a link to nothing"}},
        {R"({"images": "nowhere"})", {"images: no file or folder nowhere"}},
        {R"({"images": "empty"})", {"images: folder empty holds no pictures"}},
        {R"({"images": ""})", {"images: must be the path of a picture file or folder"}},
        {R"({"images": 3})", {"images: must be the path of a picture file or folder"}},
        {R"({"images": "sizes", "replay": "twice"})", {"replay: must be \"loop\" or \"once\""}},
        {R"({"images": "sizes", "stamp": 1})", {"stamp: must be true or false"}},
        {R"({"replay": "once"})", {"replay: needs images"}},
        {R"({"images": "sizes", "sharedFrames": "yes"})", {"sharedFrames: must be true or false"}},
        {R"({"sharedFrames": false})", {"sharedFrames: needs images"}},
        {R"({"images": "sizes", "sharedFrames": true, "stamp": true})",
         {"sharedFrames: cannot go with stamp, which writes into every frame"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        ReplayGeometry geometry;
        const QJsonObject entry = QJsonDocument::fromJson(c.json).object();
        if (entry.contains("width")) {
            geometry.width = static_cast<unsigned>(entry.value("width").toInt());
            geometry.widthGiven = true;
        }
        ReplaySetup replay;
        const std::string error = prepare(c.json, &geometry, &replay);
        if (c.expected.size() == 1) {
            EXPECT_EQ(error, c.expected[0]);
        } else {
            for (const std::string& part : c.expected)
                EXPECT_NE(error.find(part), std::string::npos) << error << " lacks " << part;
        }
        EXPECT_TRUE(replay.files.empty());
    }
    ReplayGeometry geometry;
    geometry.pixelType = 0x010C0006u;
    geometry.pixelTypeGiven = true;
    ReplaySetup replay;
    EXPECT_EQ(prepare(R"({"images": "sizes"})", &geometry, &replay),
              "pixelFormat: pictures convert to Mono8, Mono16, RGB8, RGBa8, RGB16 or BayerRG8 only");
}

// The limit of a decoded picture is the user's to set.
TEST_F(ReplaySetupTest, PictureLimitFollowsTheEnvironment)
{
    save("wide.png", Kind::Grey8, 1100, 1000);
    ASSERT_EQ(setenv("MVSIM_REPLAY_MAX_MB", "1", 1), 0);
    const std::string refused = prepare(R"({"images": "wide.png"})");
    ASSERT_EQ(setenv("MVSIM_REPLAY_MAX_MB", "not a number", 1), 0);
    const std::string fallback = prepare(R"({"images": "wide.png"})");
    ASSERT_EQ(unsetenv("MVSIM_REPLAY_MAX_MB"), 0);
    EXPECT_EQ(refused,
              "images: wide.png: 1100x1000 would take 2 MiB decoded, more than the 1 MiB a picture may take "
              "(MVSIM_REPLAY_MAX_MB)");
    EXPECT_EQ(fallback, "") << "a value that is no whole number leaves the default";
}

}  // namespace
