// Recorded pictures replayed by the stand-in and received through the
// plug-in as a host receives frames: every pixel type bit for bit and with
// each conversion, natural order, loop and once with rewind, refusals named
// by file, and a folder larger than the cache streamed in order.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtGui/QImageReader>

#include <cstdlib>
#include <mutex>

#include "pluginhost.h"
#include "replay_pictures.h"

using namespace kwtest;
using replaytest::Kind;

namespace {

const int kFreeRunning = 2;
const int kSoftware = 4;

// Bytes per pixel of the pixel types pictures replay as.
unsigned bytesPerPixel(unsigned pixelType)
{
    return ((pixelType >> 16) & 0xFFu) / 8;
}

// What the documented conversions make of sample `byte` of pixel (x, y) of
// picture `seed`, computed from the samples the test wrote.
unsigned expectedByte(Kind kind, unsigned seed, unsigned x, unsigned y, unsigned pixelType, unsigned byte)
{
    const bool wide = replaytest::wide(kind);
    const unsigned channels = replaytest::channels(kind);
    auto at = [&](unsigned c) { return replaytest::sampleOf(kind, seed, x, y, c); };
    auto to8 = [&](unsigned v) { return wide ? v >> 8 : v; };
    auto to16 = [&](unsigned v) { return wide ? v : v * 257; };
    auto grey = [&] { return channels == 1 ? at(0) : (299 * at(0) + 587 * at(1) + 114 * at(2) + 500) / 1000; };
    auto colour = [&](unsigned c) { return channels == 1 ? at(0) : at(c); };
    auto low = [](unsigned v, unsigned b) { return b == 0 ? (v & 0xFF) : (v >> 8); };
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
        return to8(grey());
    case MVSIM_PIXEL_MONO16:
        return low(to16(grey()), byte);
    case MVSIM_PIXEL_RGB8:
        return to8(colour(byte));
    case MVSIM_PIXEL_RGBA8:
        return byte < 3 ? to8(colour(byte)) : (channels == 4 ? to8(at(3)) : 255);
    case MVSIM_PIXEL_RGB16:
        return low(to16(colour(byte / 2)), byte % 2);
    case MVSIM_PIXEL_BAYERRG8: {
        if (channels == 1)
            return to8(at(0));
        const unsigned c = y % 2 == 0 ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
        return to8(at(c));
    }
    default:
        return 0;
    }
}

// A host that keeps a copy of every frame's bytes, taken inside the
// notification, where the SDK's buffer is still the frame's.
class ReplayHost {
public:
    ReplayHost(const QString& key, unsigned frameBytes) : camera(key, 1), m_frameBytes(frameBytes)
    {
        camera.callback.onFrame = [this](ICameraObject* object) {
            const unsigned char* data = object->m_pImageData;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_frames.emplace_back(data, data + m_frameBytes);
        };
    }

    std::vector<std::vector<unsigned char>> frames() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }

    HostCamera camera;

private:
    const unsigned m_frameBytes;
    mutable std::mutex m_mutex;
    std::vector<std::vector<unsigned char>> m_frames;
};

class ReplayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { MVSIM_Reset(); }

    // Writes pictures 0..n-1 of `kind` into `folder` as <name>-<i>.<suffix>.
    void writePictures(const QString& folder, Kind kind, unsigned n, const char* suffix, int w = W, int h = H)
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
        for (unsigned i = 0; i < n; ++i) {
            const QString path = dir.filePath(QStringLiteral("%1/shot-%2.%3").arg(folder).arg(i).arg(suffix));
            if (QString(suffix) == QLatin1String("pgm") || QString(suffix) == QLatin1String("ppm"))
                ASSERT_TRUE(replaytest::writeNetpbm(path, kind, i, w, h, false));
            else
                ASSERT_TRUE(replaytest::makeImage(kind, i, w, h).save(path)) << path.toStdString();
        }
    }

    // Loads a configuration of one device with `keys` added. Devices of a
    // configuration are held across processes while open: each test has a
    // serial number of its own, as ctest runs tests side by side.
    int load(const std::string& keys)
    {
        const QString path = dir.filePath(QStringLiteral("cameras.json"));
        const std::string json = R"({"devices": [{"model": "REPLAY", "serial": ")" + serial() + "\", " + keys + "}]}";
        EXPECT_TRUE(replaytest::writeFile(path, QByteArray::fromStdString(json)));
        return MVSIM_LoadConfig(path.toUtf8().constData());
    }

    std::string loadError(const std::string& keys)
    {
        testing::internal::CaptureStderr();
        const int result = load(keys);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, MVSIM_E_CONFIG) << keys;
        return err;
    }

    static std::string serial()
    {
        return std::to_string(std::hash<std::string>()(testing::UnitTest::GetInstance()->current_test_info()->name()) %
                              1000000000u);
    }
    static QString key() { return QString::fromStdString("REPLAY " + serial()); }

    std::string folderKey(const QString& folder) const
    {
        return "\"images\": \"" + dir.filePath(folder).toStdString() + "\"";
    }

    // Grabs free-running until `frames` frames arrived, and stops.
    std::vector<std::vector<unsigned char>> grab(unsigned frames, unsigned frameBytes)
    {
        ReplayHost host(key(), frameBytes);
        host.camera->m_nTriggerMode = kFreeRunning;
        EXPECT_EQ(host.camera->IOpenCamera(), 1);
        EXPECT_EQ(host.camera->IStartCamera(), 1);
        EXPECT_TRUE(host.camera.callback.waitForFrames(static_cast<int>(frames)));
        host.camera->IStopCamera();
        return host.frames();
    }

    static constexpr int W = 6;  // even, for whole Bayer cells; odd rows below
    static constexpr int H = 3;
    QTemporaryDir dir;
};

TEST_F(ReplayTest, EachPixelTypeBitForBitAndEachConversion)
{
    struct Case {
        const char* name;
        Kind kind;
        const char* suffix;
        const char* pixelFormat;  // null: the first picture decides
        unsigned pixelType;
    };
    const Case cases[] = {
        {"grey8", Kind::Grey8, "png", nullptr, MVSIM_PIXEL_MONO8},
        {"grey16", Kind::Grey16, "png", nullptr, MVSIM_PIXEL_MONO16},
        {"grey16pgm", Kind::Grey16, "pgm", nullptr, MVSIM_PIXEL_MONO16},
        {"colour", Kind::Rgb8, "png", nullptr, MVSIM_PIXEL_RGB8},
        {"colourppm", Kind::Rgb8, "ppm", nullptr, MVSIM_PIXEL_RGB8},
        {"colourbmp", Kind::Rgb8, "bmp", nullptr, MVSIM_PIXEL_RGB8},
        {"alpha", Kind::Rgba8, "png", nullptr, MVSIM_PIXEL_RGBA8},
        {"colour16", Kind::Rgb16, "png", nullptr, MVSIM_PIXEL_RGB16},
        {"colour16tif", Kind::Rgb16, "tif", nullptr, MVSIM_PIXEL_RGB16},
        {"colour-mono8", Kind::Rgb8, "png", "Mono8", MVSIM_PIXEL_MONO8},
        {"colour16-mono16", Kind::Rgb16, "png", "Mono16", MVSIM_PIXEL_MONO16},
        {"grey8-mono16", Kind::Grey8, "png", "Mono16", MVSIM_PIXEL_MONO16},
        {"grey16-mono8", Kind::Grey16, "png", "Mono8", MVSIM_PIXEL_MONO8},
        {"grey8-rgba8", Kind::Grey8, "png", "RGBa8", MVSIM_PIXEL_RGBA8},
        {"colour-rgb16", Kind::Rgb8, "png", "RGB16", MVSIM_PIXEL_RGB16},
        {"colour16-rgb8", Kind::Rgb16, "png", "RGB8", MVSIM_PIXEL_RGB8},
        {"alpha-rgb8", Kind::Rgba8, "png", "RGB8", MVSIM_PIXEL_RGB8},
        {"colour-bayer", Kind::Rgb8, "png", "BayerRG8", MVSIM_PIXEL_BAYERRG8},
        {"grey8-bayer", Kind::Grey8, "png", "BayerRG8", MVSIM_PIXEL_BAYERRG8},
    };
    const bool tiff = QImageReader::supportedImageFormats().contains("tiff");
    constexpr unsigned n = 3;
    for (const Case& c : cases) {
        if (!tiff && QString(c.suffix) == QLatin1String("tif"))
            continue;
        SCOPED_TRACE(c.name);
        writePictures(c.name, c.kind, n, c.suffix);
        std::string keys = folderKey(c.name) + R"(, "replay": "once")";
        if (c.pixelFormat)
            keys += std::string(R"(, "pixelFormat": ")") + c.pixelFormat + "\"";
        ASSERT_EQ(load(keys), MVSIM_OK);
        const MvsimDeviceState state = deviceState(0);
        EXPECT_EQ(state.width, unsigned(W));
        EXPECT_EQ(state.height, unsigned(H));
        ASSERT_EQ(state.pixelType, c.pixelType);
        const unsigned pixelBytes = bytesPerPixel(c.pixelType);
        const auto frames = grab(n, W * H * pixelBytes);
        ASSERT_EQ(frames.size(), n);
        for (unsigned i = 0; i < n; ++i)
            for (unsigned y = 0; y < H; ++y)
                for (unsigned x = 0; x < W; ++x)
                    for (unsigned b = 0; b < pixelBytes; ++b)
                        ASSERT_EQ(frames[i][(y * W + x) * pixelBytes + b],
                                  expectedByte(c.kind, i, x, y, c.pixelType, b))
                            << "picture " << i << " x " << x << " y " << y << " byte " << b;
    }
}

// The picture each delivered frame showed, from the ledger.
std::vector<unsigned> deliveredPictures(int device)
{
    std::vector<unsigned> pictures;
    const int size = MVSIM_LedgerSize(device);
    for (int i = 0; i < size; ++i) {
        MvsimLedgerEntry entry{};
        if (MVSIM_LedgerEntry(device, i, &entry) == 0 && entry.fate == MVSIM_FATE_DELIVERED)
            pictures.push_back(entry.pictureIndex);
    }
    return pictures;
}

TEST_F(ReplayTest, NaturalOrderAndLoop)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("order"));
    const char* names[] = {"10.png", "2.png", "1.png", "shot-0.png"};  // 1, 2, 10, shot-0
    const unsigned seeds[] = {2, 1, 0, 3};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(
            replaytest::makeImage(Kind::Grey8, seeds[i], W, H).save(dir.filePath(QString("order/") + names[i])));
    ASSERT_EQ(load(folderKey("order")), MVSIM_OK);
    const auto frames = grab(10, W * H);
    ASSERT_GE(frames.size(), 10u);
    for (unsigned k = 0; k < 10; ++k)
        EXPECT_EQ(frames[k][1], replaytest::sampleOf(Kind::Grey8, k % 4, 1, 0, 0)) << "frame " << k;
    const std::vector<unsigned> pictures = deliveredPictures(0);
    ASSERT_GE(pictures.size(), 10u);
    for (unsigned k = 0; k < 10; ++k)
        EXPECT_EQ(pictures[k], k % 4) << "ledger entry " << k;
}

TEST_F(ReplayTest, OnceStopsAfterTheLastPictureTriggersMissedRewindStartsOver)
{
    writePictures("once", Kind::Grey8, 3, "png");
    ASSERT_EQ(load(folderKey("once") + R"(, "replay": "once")"), MVSIM_OK);
    ReplayHost host(key(), W * H);
    host.camera->m_nTriggerMode = kSoftware;
    ASSERT_EQ(host.camera->IOpenCamera(), 1);
    ASSERT_EQ(host.camera->IStartCamera(), 1);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(MVSIM_WaitIdle(0, 10000), 0);
        host.camera->ISnapCamera();
    }
    ASSERT_EQ(MVSIM_WaitIdle(0, 10000), 0);
    EXPECT_EQ(host.frames().size(), 3u);
    MvsimFrameFates fates{};
    ASSERT_EQ(MVSIM_GetFrameFates(0, &fates), 0);
    EXPECT_EQ(fates.delivered, 3u);
    EXPECT_EQ(fates.noPicture, 2u) << "triggers after the last picture";

    ASSERT_EQ(MVSIM_RewindPictures(0), 0);
    host.camera->ISnapCamera();
    ASSERT_TRUE(host.camera.callback.waitForFrames(4));
    const auto frames = host.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[3], frames[0]) << "the first picture again";
    host.camera->IStopCamera();
    EXPECT_EQ(MVSIM_RewindPictures(7), MVSIM_E_NODEVICE);
}

TEST_F(ReplayTest, StampOnlyWhenAsked)
{
    writePictures("stamp", Kind::Grey8, 1, "png", 8, 4);
    for (bool stamp : {false, true}) {
        SCOPED_TRACE(stamp ? "stamp" : "no stamp");
        ASSERT_EQ(load(folderKey("stamp") + (stamp ? R"(, "stamp": true)" : "")), MVSIM_OK);
        const auto frames = grab(1, 8 * 4);
        ASSERT_FALSE(frames.empty());
        MvsimFrameStamp s{};
        std::memcpy(&s, frames[0].data(), sizeof s);
        EXPECT_EQ(s.magic == MVSIM_STAMP_MAGIC, stamp);
        // Past the stamp the picture is untouched either way.
        for (unsigned i = sizeof s; i < 8 * 4; ++i)
            ASSERT_EQ(frames[0][i], replaytest::sampleOf(Kind::Grey8, 0, i % 8, i / 8, 0)) << "byte " << i;
    }
}

// Shared frames are the cached pictures themselves: a picture comes back at
// the same address each round. A host that writes into one changes it for
// later rounds; the stop reports the picture, and the next grab shows it as
// decoded again.
TEST_F(ReplayTest, SharedFramesAreThePicturesAndAWriteIntoOneIsReported)
{
    writePictures("shared", Kind::Grey8, 2, "png");
    ASSERT_EQ(load(folderKey("shared") + R"(, "sharedFrames": true)"), MVSIM_OK);
    struct Seen {
        const unsigned char* address;
        unsigned char first;
    };
    std::mutex mutex;
    std::vector<Seen> seen;
    bool write = true;
    HostCamera camera(key(), 1);
    camera.callback.onFrame = [&](ICameraObject* object) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back({object->m_pImageData, object->m_pImageData[0]});
        if (write && seen.size() == 1)
            object->m_pImageData[0] ^= 0xFF;
    };
    camera->m_nTriggerMode = kFreeRunning;
    ASSERT_EQ(camera->IOpenCamera(), 1);
    const unsigned char picture0 = static_cast<unsigned char>(replaytest::sampleOf(Kind::Grey8, 0, 0, 0, 0));
    testing::internal::CaptureStderr();
    ASSERT_EQ(camera->IStartCamera(), 1);
    ASSERT_TRUE(camera.callback.waitForFrames(6));
    camera->IStopCamera();
    const std::string err = testing::internal::GetCapturedStderr();
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_GE(seen.size(), 6u);
        for (std::size_t k = 0; k + 2 < 6; ++k)
            EXPECT_EQ(seen[k].address, seen[k + 2].address) << "frame " << k << ": the same picture, not a copy";
        EXPECT_NE(seen[0].address, seen[1].address);
        EXPECT_EQ(seen[0].first, picture0);
        EXPECT_EQ(seen[2].first, picture0 ^ 0xFF) << "the host's write shows in the next round";
        seen.clear();
        write = false;
    }
    EXPECT_NE(err.find("shared/shot-0.png: the host wrote into a shared frame of this picture"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("shot-1.png"), std::string::npos) << err;

    ASSERT_EQ(camera->IStartCamera(), 1);
    ASSERT_TRUE(camera.callback.waitForFrames(8));
    camera->IStopCamera();
    std::lock_guard<std::mutex> lock(mutex);
    const unsigned char picture1 = static_cast<unsigned char>(replaytest::sampleOf(Kind::Grey8, 1, 0, 0, 0));
    ASSERT_NE(picture1, picture0 ^ 0xFF);
    ASSERT_GE(seen.size(), 2u);
    for (const Seen& s : seen)
        EXPECT_TRUE(s.first == picture0 || s.first == picture1) << "decoded again after the write: " << int(s.first);
}

TEST_F(ReplayTest, RefusedConfigurationsNameTheFile)
{
    writePictures("sizes", Kind::Grey8, 1, "png", 4, 3);
    ASSERT_TRUE(replaytest::makeImage(Kind::Grey8, 0, 6, 5).save(dir.filePath("sizes/shot-0007.png")));
    writePictures("bad", Kind::Grey8, 1, "png");
    ASSERT_TRUE(replaytest::writeFile(dir.filePath("bad/notes.txt"), "not a picture"));
    writePictures("packed", Kind::Grey8, 1, "png");
    const std::string cfg = dir.filePath("cameras.json").toStdString();
    struct Case {
        std::string keys;
        std::string error;
    };
    const Case cases[] = {
        {folderKey("sizes"), "devices[0].images: shot-0007.png is 6x5, the device is 4x3"},
        {folderKey("sizes") + R"(, "width": 4, "height": 5)",
         "devices[0].images: shot-0.png is 4x3, the device is 4x5"},
        {folderKey("bad"), "devices[0].images: notes.txt: not a picture"},
        {folderKey("packed") + R"(, "pixelFormat": 17563654)",
         "devices[0].pixelFormat: pictures convert to Mono8, Mono16, RGB8, RGBa8, RGB16 or BayerRG8 only"},
        {folderKey("sizes") + R"(, "replay": "sometimes")", "devices[0].replay: must be \"loop\" or \"once\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        EXPECT_EQ(loadError(c.keys), "mvsim: " + cfg + ": " + c.error + "\n");
        EXPECT_EQ(MVSIM_DeviceCount(), 0);
    }
}

TEST_F(ReplayTest, AFolderLargerThanTheCacheStreamsInOrderWithNoPictureSkipped)
{
    // 1 MiB of cache, 24 pictures of 256 KiB: four at a time. A buffer for
    // every frame, so that a host thread held off the processor on a loaded
    // machine loses none (a lost frame skips its picture, as on a camera).
    constexpr unsigned n = 24;
    writePictures("stream", Kind::Grey8, n, "pgm", 512, 512);
    ASSERT_EQ(setenv("MVSIM_REPLAY_CACHE_MB", "1", 1), 0);
    const int loaded = load(folderKey("stream") + R"(, "replay": "once", "bufferCount": 32)");
    unsetenv("MVSIM_REPLAY_CACHE_MB");
    ASSERT_EQ(loaded, MVSIM_OK);
    const auto frames = grab(n, 512 * 512);
    ASSERT_EQ(frames.size(), n);
    for (unsigned i = 0; i < n; ++i)
        for (unsigned x = 0; x < 512; x += 97)
            ASSERT_EQ(frames[i][x], replaytest::sampleOf(Kind::Grey8, i, x, 0, 0)) << "frame " << i;
    const std::vector<unsigned> pictures = deliveredPictures(0);
    ASSERT_EQ(pictures.size(), n);
    for (unsigned i = 0; i < n; ++i)
        EXPECT_EQ(pictures[i], i);
    MvsimFrameFates fates{};
    ASSERT_EQ(MVSIM_GetFrameFates(0, &fates), 0);
    EXPECT_EQ(fates.noBuffer + fates.missed + fates.dropped, 0u) << "a late picture is waited for, not lost";
}

TEST_F(ReplayTest, PicturesGivenAtRunTimeAndByAddDevice)
{
    writePictures("run", Kind::Rgb8, 2, "png");
    MVSIM_Reset();
    const std::string serialNumber = serial();
    MvsimDeviceSetup setup = deviceSetup("REPLAY", serialNumber.c_str());
    const std::string folder = dir.filePath("run").toStdString();
    setup.images = folder.c_str();
    setup.width = 0;  // from the pictures
    setup.height = 0;
    setup.pixelType = 0;
    setup.replayOnce = 1;
    ASSERT_EQ(MVSIM_AddDevice(&setup), 0);
    EXPECT_EQ(deviceState(0).pixelType, MVSIM_PIXEL_RGB8);
    EXPECT_EQ(deviceState(0).width, unsigned(W));
    EXPECT_EQ(grab(2, W * H * 3).size(), 2u);
    ASSERT_EQ(MVSIM_PictureCount(0), 2);
    char name[512];
    ASSERT_GT(MVSIM_PictureName(0, 1, name, sizeof name), 0);
    EXPECT_EQ(std::string(name), dir.filePath("run/shot-1.png").toStdString());
    EXPECT_EQ(MVSIM_PictureName(0, 2, name, sizeof name), MVSIM_E_PARAMETER);
    const int full = MVSIM_PictureName(0, 0, nullptr, 0);
    EXPECT_EQ(full, dir.filePath("run/shot-0.png").toUtf8().size());
    EXPECT_EQ(MVSIM_PictureName(0, 0, name, 4), full);
    EXPECT_EQ(std::strlen(name), 3u) << "cut to the buffer";

    // Not while grabbing.
    writePictures("grey", Kind::Grey8, 2, "png");
    {
        ReplayHost host(key(), W * H * 3);
        ASSERT_EQ(host.camera->IOpenCamera(), 1);
        ASSERT_EQ(host.camera->IStartCamera(), 1);
        EXPECT_EQ(MVSIM_SetPictures(0, dir.filePath("grey").toUtf8().constData(), 0), MVSIM_E_CALLORDER);
        host.camera->IStopCamera();
    }
    // A grey folder given at run time, converted to the device's RGB8.
    ASSERT_EQ(MVSIM_SetPictures(0, dir.filePath("grey").toUtf8().constData(), 0), 0);
    const auto frames = grab(3, W * H * 3);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0][3], replaytest::sampleOf(Kind::Grey8, 0, 1, 0, 0));
    EXPECT_EQ(frames[2], frames[0]) << "looping";

    // Refused: pictures of another size, a path that names nothing.
    writePictures("small", Kind::Grey8, 1, "png", 2, 2);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MVSIM_SetPictures(0, dir.filePath("small").toUtf8().constData(), 0), MVSIM_E_PARAMETER);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("shot-0.png is 2x2, the device is 6x3"), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MVSIM_SetPictures(0, "/nonexistent/pictures", 0), MVSIM_E_PARAMETER);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(MVSIM_SetPictures(9, nullptr, 0), MVSIM_E_NODEVICE);
    // Back to the test pattern: nothing to rewind.
    ASSERT_EQ(MVSIM_SetPictures(0, nullptr, 0), 0);
    EXPECT_EQ(MVSIM_PictureCount(0), 0);
    EXPECT_EQ(MVSIM_RewindPictures(0), MVSIM_E_CALLORDER);
}

}  // namespace
