// The frame path: from the SDK's image callback to the host's OnImageReady.
#include <gtest/gtest.h>

#include <QtCore/QDateTime>
#include <QtCore/QLoggingCategory>
#include <QtCore/QRegularExpression>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "pluginhost.h"

using namespace kwtest;

namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = resetWithOneDevice();
        ASSERT_EQ(camera->IOpenCamera(), 1);
    }

    int device = -1;
    HostCamera camera{"MV-TEST 0001", 1};
};

TEST_F(FrameTest, MembersDescribeTheFrameDuringTheNotification)
{
    std::vector<unsigned char> pixels(640 * 480);
    LogCapture log;
    ASSERT_EQ(MVSIM_DeliverFrameAs(device, pixels.data(), 640, 480, MVSIM_PIXEL_MONO8, MVSIM_DELIVER_OWN_THREAD), 0);
    const std::vector<FrameSnapshot> frames = camera.callback.frames();
    ASSERT_EQ(frames.size(), 1u);
    const FrameSnapshot& frame = frames[0];
    EXPECT_EQ(frame.camera, camera.object);
    EXPECT_EQ(frame.frameCount, 1);
    EXPECT_EQ(frame.data, pixels.data()) << "the SDK's buffer, not a copy";
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    EXPECT_EQ(frame.pixelFormat, 1);
    EXPECT_EQ(frame.bitsPerPixel, 8);
    EXPECT_EQ(frame.imageSize, 640 * 480);
    EXPECT_NE(frame.thread, std::this_thread::get_id()) << "notified on the delivering thread";
    EXPECT_EQ(log.frameEntries(), 1);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(FrameTest, PixelTypesAndGeometry)
{
    struct Case {
        unsigned int pixelType;
        unsigned int width, height;
        int format, bits, imageSize;
    };
    const Case cases[] = {
        {0x01080001u, 640, 480, 1, 8, 640 * 480},
        {0x02180014u, 640, 480, 2, 24, 640 * 480 * 3},
        {0x02200016u, 640, 480, 3, 32, 640 * 480 * 4},
        {0x02300033u, 640, 480, 4, 16, 640 * 480 * 2},
        {MVSIM_PIXEL_MONO16, 640, 480, 1, 8, 640 * 480},
        {MVSIM_PIXEL_BAYERRG8, 640, 480, 1, 8, 640 * 480},
        {0u, 2, 3, 1, 8, 6},
        {0xFFFFFFFFu, 2, 3, 1, 8, 6},
        {0x01080001u, 65535, 1, 1, 8, 65535},
        {0x01080001u, 1, 65535, 1, 8, 65535},
        {0x01080001u, 65535, 65535, 1, 8, 2147483647},  // saturates instead of wrapping
    };
    unsigned char pixels[16] = {};
    int expectedCount = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.pixelType << std::dec << " " << c.width << "x" << c.height);
        ASSERT_EQ(MVSIM_DeliverFrameAs(device, pixels, c.width, c.height, c.pixelType, 0), 0);
        ++expectedCount;
        const FrameSnapshot frame = camera.callback.frames().back();
        EXPECT_EQ(frame.frameCount, expectedCount);
        EXPECT_EQ(frame.width, static_cast<int>(c.width));
        EXPECT_EQ(frame.height, static_cast<int>(c.height));
        EXPECT_EQ(frame.pixelFormat, c.format);
        EXPECT_EQ(frame.bitsPerPixel, c.bits);
        EXPECT_EQ(frame.bitsPerPixel, GetBitsPerPixel(frame.pixelFormat));
        EXPECT_EQ(frame.imageSize, c.imageSize);
    }
}

TEST_F(FrameTest, NullPointersAreDroppedSilently)
{
    LogCapture log;
    for (unsigned int flags : {MVSIM_DELIVER_NULL_DATA, MVSIM_DELIVER_NULL_INFO, MVSIM_DELIVER_NULL_USER,
                               MVSIM_DELIVER_NULL_DATA | MVSIM_DELIVER_NULL_INFO | MVSIM_DELIVER_NULL_USER}) {
        EXPECT_EQ(MVSIM_DeliverFrame(device, flags), 0) << flags;
        EXPECT_EQ(MVSIM_DeliverFrame(device, flags | MVSIM_DELIVER_OWN_THREAD), 0) << flags;
    }
    EXPECT_TRUE(log.all().empty());
    EXPECT_EQ(camera->m_nFrameCount, 0);
    EXPECT_EQ(camera->m_pImageData, nullptr);
    EXPECT_EQ(camera.callback.count(), 0);
}

TEST_F(FrameTest, OneWarningEntryPerAcceptedFrame)
{
    LogCapture log;
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const std::vector<LogEntry> entries = log.all();
    ASSERT_EQ(entries.size(), 5u);
    const QRegularExpression form(QLatin1Char('^') + QRegularExpression::escape(QLatin1String(kFrameEntryPrefix)) +
                                  QStringLiteral(" \"(\\d+)\" \\n$"));
    for (const LogEntry& entry : entries) {
        EXPECT_EQ(entry.type, QtWarningMsg);
        const QRegularExpressionMatch match = form.match(entry.text);
        ASSERT_TRUE(match.hasMatch()) << entry.text.toStdString();
        const qint64 stamp = match.captured(1).toLongLong();
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_TRUE(entry.function.contains(QLatin1String("CCameraHik::OnImageCallBack")));
        EXPECT_EQ(entry.category, QLatin1String("default"));
    }
    EXPECT_EQ(camera->m_nFrameCount, 5);
}

TEST_F(FrameTest, FrameEntryFollowsTheDefaultCategoryFilter)
{
    LogCapture log;
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    QLoggingCategory::setFilterRules(QString());
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    EXPECT_EQ(log.frameEntries(), 1);
    EXPECT_EQ(camera.callback.count(), 2) << "the frame itself is announced either way";
}

TEST_F(FrameTest, FrameCountWrapsInsteadOfOverflowing)
{
    camera->m_nFrameCount = INT_MAX;
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    EXPECT_EQ(camera->m_nFrameCount, INT_MIN);
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    EXPECT_EQ(camera->m_nFrameCount, INT_MIN + 1);
}

TEST_F(FrameTest, NotificationsGoToTheCallbackGivenAtCreation)
{
    RecordingCallback other;
    camera->m_pCallback = &other;
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), 0);
    EXPECT_EQ(camera.callback.count(), 1);
    EXPECT_EQ(other.count(), 0);
    camera->m_pCallback = &camera.callback;
}

TEST(FrameWithoutCallback, MembersAndCountStillFollowFrames)
{
    const int device = resetWithOneDevice();
    HostCamera camera("MV-TEST 0001", 1, false);
    ASSERT_EQ(camera->IOpenCamera(), 1);
    LogCapture log;
    unsigned char pixels[4] = {};
    ASSERT_EQ(MVSIM_DeliverFrameAs(device, pixels, 2, 2, MVSIM_PIXEL_RGB8, 0), 0);
    EXPECT_EQ(camera->m_nFrameCount, 1);
    EXPECT_EQ(camera->m_pImageData, pixels);
    EXPECT_EQ(camera->m_nPixelFormat, 2);
    EXPECT_EQ(log.frameEntries(), 1);
}

TEST_F(FrameTest, CountKeepsGoingAcrossStopAndStartAndRestartsAtOpen)
{
    camera->m_nTriggerMode = 4;
    ASSERT_EQ(camera->IStartCamera(), 1);
    camera->ISnapCamera();
    ASSERT_TRUE(camera.callback.waitForFrames(1)) << "no frame after a software trigger";
    camera->IStopCamera();
    ASSERT_EQ(camera->IStartCamera(), 1);
    camera->ISnapCamera();
    ASSERT_TRUE(camera.callback.waitForFrames(2)) << "no frame after the second software trigger";
    EXPECT_EQ(camera->m_nFrameCount, 2);
    camera->ICloseCamera();
    EXPECT_EQ(camera->m_nFrameCount, 2);
    ASSERT_EQ(camera->IOpenCamera(), 1);
    EXPECT_EQ(camera->m_nFrameCount, 0);
}

// The same plug-in built with the per-frame entry streamed into a QDebug:
// the reference the entry as shipped must match.
TEST(FrameEntry, ReachesTheHandlerExactlyAsTheStreamedEntry)
{
    static const kwtest::PluginEntries reference = kwtest::loadPluginEntries(KWCAM_STREAMED_PLUGIN_PATH);
    const int device = resetWithOneDevice();

    auto entryOf = [&](CreateFn create, DeleteFn destroy) {
        tagQZ_CAMERA_CONFIG config{};
        config.strCameraKey = QStringLiteral("MV-TEST 0001");
        RecordingCallback callback;
        ICameraObject* object = create(&config, &callback);
        EXPECT_EQ(object->IOpenCamera(), 1);
        LogCapture log;
        EXPECT_EQ(MVSIM_DeliverFrame(device, 0), 0);
        destroy(object);
        const std::vector<LogEntry> entries = log.all();
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? LogEntry{} : entries[0];
    };
    const LogEntry shipped = entryOf(Plugin::get().create, Plugin::get().destroy);
    const LogEntry streamed = entryOf(reference.create, reference.destroy);

    const QRegularExpression digits(QStringLiteral("\\d+"));
    EXPECT_EQ(shipped.type, streamed.type);
    EXPECT_EQ(QString(shipped.text).replace(digits, "N").toStdString(),
              QString(streamed.text).replace(digits, "N").toStdString());
    EXPECT_EQ(shipped.file, streamed.file);
    EXPECT_EQ(shipped.line, streamed.line);
    EXPECT_EQ(shipped.function, streamed.function);
    EXPECT_EQ(shipped.category, streamed.category);
}

}  // namespace

namespace {

// Qt aborts on a warning when QT_FATAL_WARNINGS is set, also on one that the
// category filters out; the shipped entry keeps that effect.
TEST(FrameEntryDeathTest, FatalWarningsStayFatalWithTheCategoryOff)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            setenv("QT_FATAL_WARNINGS", "1", 1);
            QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
            const int device = resetWithOneDevice();
            HostCamera camera("MV-TEST 0001");
            if (camera->IOpenCamera() == 1)
                MVSIM_DeliverFrame(device, 0);
            std::fprintf(stderr, "the frame did not abort\n");
            std::exit(0);
        },
        "");
}

}  // namespace
