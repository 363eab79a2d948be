// The viewer's window over the plug-in and the SDK stand-in, headless: what
// it shows for each pixel type, the cursor readout, controls reaching the
// device, the status counts, and closing while grabbing or waiting for a
// trigger. The stand-in is linked for its control interface; the plug-in is
// loaded as the program loads it.
#include <gtest/gtest.h>

#include <QtCore/QDeadlineTimer>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>

#include <cstring>

#include "camerasession.h"
#include "imageview.h"
#include "kwhost/plugin.h"
#include "mvcameracontrol.h"
#include "mvsim/control.h"
#include "viewerwindow.h"
#include "warninglog.h"

using kwview::TriggerChoice;
using kwview::ViewerWindow;

namespace {

const int kTimeoutMs = 10000;
const char kSerial[] = "00VIEW0001";

QString keyOf(const char* model)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(model), QLatin1String(kSerial));
}

int addDevice(const char* model, unsigned pixelType, unsigned width, unsigned height, double frameRate)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, model, kSerial);
    setup.pixelType = pixelType;
    setup.width = width;
    setup.height = height;
    setup.frameRate = frameRate;
    setup.exposureMin = 20;
    setup.exposureMax = 500000;
    setup.exposure = 1000;
    setup.gainMin = 0;
    setup.gainMax = 12;
    setup.gain = 3;
    return MVSIM_AddDevice(&setup);
}

MvsimDeviceState stateOf(int device)
{
    MvsimDeviceState state;
    memset(&state, 0, sizeof state);
    MVSIM_GetDeviceState(device, &state);
    return state;
}

quint32 frameNumberOf(const kwview::FrameView& frame)
{
    MvsimFrameStamp stamp;
    memcpy(&stamp, frame.data, sizeof stamp);
    return stamp.magic == MVSIM_STAMP_MAGIC ? stamp.frameNumber : 0;
}

void pointAt(kwview::ImageView* view, const QPoint& position)
{
    QMouseEvent move(QEvent::MouseMove, position, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
}

// Runs the event loop until the condition holds; false after the time-out.
template <typename Condition> bool waitFor(Condition condition)
{
    QDeadlineTimer deadline(kTimeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

void click(ViewerWindow* window, const char* name)
{
    QPushButton* button = window->findChild<QPushButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace

class ViewWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QString error;
        ASSERT_TRUE(plugin().load(QStringLiteral(KWCAM_PLUGIN_PATH), &error)) << error.toStdString();
    }
    static kwhost::Plugin& plugin()
    {
        static kwhost::Plugin loaded;
        return loaded;
    }

    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override { closeWindow(); }

    // A window over the camera "model", open and grabbing.
    void openWindow(const char* model, TriggerChoice trigger = TriggerChoice::Free)
    {
        m_session.reset(new kwview::CameraSession(plugin()));
        m_window.reset(new ViewerWindow(*m_session));
        m_window->setTrigger(trigger);
        m_window->show();
        QString error;
        ASSERT_TRUE(m_window->openCamera(keyOf(model), &error)) << error.toStdString();
    }
    void closeWindow()
    {
        m_window.reset();
        m_session.reset();
        MVSIM_Reset();
    }
    void waitForFrame()
    {
        const quint64 before = m_window->currentSequence();
        ASSERT_TRUE(waitFor([&]() { return m_window->currentSequence() > before; })) << "no frame shown";
    }
    // Stops acquisition and shows what the buffer still holds: a still frame.
    void freeze()
    {
        click(m_window.get(), "stopButton");
        m_window->refresh();
    }

    std::unique_ptr<kwview::CameraSession> m_session;
    std::unique_ptr<ViewerWindow> m_window;
};

TEST_F(ViewWindow, ShownImageMatchesFrameForEachPixelType)
{
    struct Row {
        const char* name;
        unsigned pixelType;
        int channelOf[3];  // pattern channel shown as red, green, blue
    };
    const Row rows[] = {
        {"Mono8", MVSIM_PIXEL_MONO8, {0, 0, 0}},
        {"Mono16", MVSIM_PIXEL_MONO16, {0, 0, 0}},
        {"RGB8", MVSIM_PIXEL_RGB8, {0, 1, 2}},
        {"RGBa8", MVSIM_PIXEL_RGBA8, {0, 1, 2}},
        {"RGB16", MVSIM_PIXEL_RGB16, {0, 1, 2}},
        {"BGR8", 0x02180015u, {2, 1, 0}},
        {"BayerRG8 raw", MVSIM_PIXEL_BAYERRG8, {0, 0, 0}},
    };
    const int w = 32;
    const int h = 8;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MVSIM_Reset();
        ASSERT_GE(addDevice("SIM-VIEW", row.pixelType, w, h, 100), 0);
        openWindow("SIM-VIEW");
        // The full scale for wide samples: value * 257 shows as value.
        kwview::DisplayOptions options;
        options.autoStretch = false;
        options.demosaic = false;
        m_window->setDisplayOptions(options);
        waitForFrame();

        const QImage image = m_window->imageView()->image();
        const quint32 number = frameNumberOf(m_window->currentFrame());
        ASSERT_GT(number, 0u);
        ASSERT_EQ(image.size(), QSize(w, h));
        // Row 0 carries the stamp.
        for (int y = 1; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const QRgb expected = qRgb(static_cast<int>(MVSIM_PatternValue(x, y, number, row.channelOf[0])),
                                           static_cast<int>(MVSIM_PatternValue(x, y, number, row.channelOf[1])),
                                           static_cast<int>(MVSIM_PatternValue(x, y, number, row.channelOf[2])));
                ASSERT_EQ(image.pixel(x, y) & 0xFFFFFFu, expected & 0xFFFFFFu)
                    << "pixel (" << x << ", " << y << ") of frame " << number;
            }
        }
        closeWindow();
    }
}

TEST_F(ViewWindow, OpenAndCloseFromTheListOfKeys)
{
    ASSERT_GE(addDevice("SIM-VIEW-A", MVSIM_PIXEL_MONO8, 32, 8, 100), 0);
    const int second = addDevice("SIM-VIEW-B", MVSIM_PIXEL_RGB8, 32, 8, 100);
    ASSERT_GE(second, 0);
    m_session.reset(new kwview::CameraSession(plugin()));
    m_window.reset(new ViewerWindow(*m_session));
    m_window->show();
    QComboBox* cameras = m_window->findChild<QComboBox*>(QStringLiteral("cameraBox"));
    ASSERT_EQ(cameras->count(), 2);
    EXPECT_EQ(cameras->itemText(1), keyOf("SIM-VIEW-B"));

    cameras->setCurrentIndex(1);
    click(m_window.get(), "openButton");
    ASSERT_TRUE(m_session->isOpen());
    EXPECT_EQ(m_session->key(), keyOf("SIM-VIEW-B"));
    EXPECT_EQ(stateOf(second).grabbing, 1);
    EXPECT_EQ(m_session->pixelTypeName(), QStringLiteral("RGB8"));
    EXPECT_FALSE(cameras->isEnabled());
    waitForFrame();
    EXPECT_EQ(m_window->currentFrame().layout, kwhost::PixelLayout::Rgb24);

    click(m_window.get(), "openButton");
    EXPECT_FALSE(m_session->isOpen());
    EXPECT_EQ(stateOf(second).openHandles, 0);
    EXPECT_TRUE(cameras->isEnabled());
    // The last frame stays on screen, to be looked at or saved.
    EXPECT_TRUE(m_window->currentFrame().valid());
}

TEST_F(ViewWindow, CursorReadoutShowsRawSample)
{
    ASSERT_GE(addDevice("SIM-VIEW", MVSIM_PIXEL_RGB16, 32, 8, 100), 0);
    openWindow("SIM-VIEW");
    waitForFrame();
    freeze();

    kwview::ImageView* view = m_window->imageView();
    QLabel* readout = m_window->findChild<QLabel*>(QStringLiteral("cursorLabel"));
    const quint32 number = frameNumberOf(m_window->currentFrame());
    pointAt(view, view->widgetPosition(QPointF(5.5, 3.5)).toPoint());
    // The raw 16-bit samples, not the display's 8-bit values.
    EXPECT_EQ(readout->text(),
              QStringLiteral("(5, 3)  R %1  G %2  B %3")
                  .arg(MVSIM_PatternValue(5, 3, number, 0) * 257)
                  .arg(MVSIM_PatternValue(5, 3, number, 1) * 257)
                  .arg(MVSIM_PatternValue(5, 3, number, 2) * 257));

    // Zoomed in, about the centre: another pixel under another point.
    view->setZoom(4.0);
    EXPECT_FALSE(view->fitted());
    EXPECT_EQ(view->scale(), 4.0);
    pointAt(view, view->widgetPosition(QPointF(20.5, 6.5)).toPoint());
    EXPECT_TRUE(
        readout->text().startsWith(QStringLiteral("(20, 6)  R %1 ").arg(MVSIM_PatternValue(20, 6, number, 0) * 257)))
        << readout->text().toStdString();

    // Off the image: nothing.
    view->setFitted(true);
    pointAt(view, QPoint(1, 1));
    EXPECT_TRUE(readout->text().isEmpty()) << readout->text().toStdString();
}

TEST_F(ViewWindow, ControlsReachDevice)
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_RGB8, 32, 8, 100);
    ASSERT_GE(device, 0);
    openWindow("SIM-VIEW");

    // The boxes start at the device's values, bounded by its limits.
    QSpinBox* exposure = m_window->findChild<QSpinBox*>(QStringLiteral("exposureBox"));
    QSpinBox* gain = m_window->findChild<QSpinBox*>(QStringLiteral("gainBox"));
    EXPECT_EQ(exposure->minimum(), 20);
    EXPECT_EQ(exposure->maximum(), 500000);
    EXPECT_EQ(exposure->value(), 1000);
    EXPECT_EQ(gain->maximum(), 12);
    EXPECT_EQ(gain->value(), 3);

    struct Row {
        const char* box;
        int value;
        double (*reached)(const MvsimDeviceState&);
    };
    const Row rows[] = {
        {"exposureBox", 2500, [](const MvsimDeviceState& s) { return static_cast<double>(s.exposure); }},
        {"gainBox", 7, [](const MvsimDeviceState& s) { return static_cast<double>(s.gain); }},
        {"wbRedBox", 2000, [](const MvsimDeviceState& s) { return static_cast<double>(s.balanceRatioRed); }},
        {"wbGreenBox", 1100, [](const MvsimDeviceState& s) { return static_cast<double>(s.balanceRatioGreen); }},
        {"wbBlueBox", 3000, [](const MvsimDeviceState& s) { return static_cast<double>(s.balanceRatioBlue); }},
    };
    for (const Row& row : rows) {
        m_window->findChild<QSpinBox*>(QLatin1String(row.box))->setValue(row.value);
        EXPECT_EQ(row.reached(stateOf(device)), row.value) << row.box;
    }

    // Past the limits: the session bounds what it sends.
    QString error;
    ASSERT_TRUE(m_session->setExposure(10000000, &error));
    EXPECT_EQ(stateOf(device).exposure, 500000.0f);
    ASSERT_TRUE(m_session->setGain(-5, &error));
    EXPECT_EQ(stateOf(device).gain, 0.0f);
}

TEST_F(ViewWindow, TriggerModesSnapAndPulse)
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 32, 8, 100);
    ASSERT_GE(device, 0);
    openWindow("SIM-VIEW");
    QComboBox* trigger = m_window->findChild<QComboBox*>(QStringLiteral("triggerBox"));
    const kwview::ViewReceiver& receiver = m_session->receiver();

    struct Row {
        int index;
        unsigned source;
        const char* button;
    };
    const Row rows[] = {{2, MVSIM_TRIGGER_SOURCE_SOFTWARE, "snapButton"},
                        {1, MVSIM_TRIGGER_SOURCE_LINE0, "pulseButton"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        Q_EMIT trigger->activated(row.index);
        const MvsimDeviceState state = stateOf(device);
        EXPECT_EQ(state.grabbing, 1);
        EXPECT_EQ(state.triggerMode, 1u);
        EXPECT_EQ(state.triggerSource, row.source);
        EXPECT_TRUE(m_window->findChild<QPushButton*>(QLatin1String(row.button))->isEnabled());
        // Nothing arrives untriggered; one click, one frame.
        ASSERT_EQ(MVSIM_WaitIdle(device, kTimeoutMs), MVSIM_OK);
        const quint64 before = receiver.frames();
        click(m_window.get(), row.button);
        ASSERT_TRUE(waitFor([&]() { return receiver.frames() > before; }));
        ASSERT_EQ(MVSIM_WaitIdle(device, kTimeoutMs), MVSIM_OK);
        EXPECT_EQ(receiver.frames(), before + 1);
    }

    // Back to free-running: frames flow again.
    Q_EMIT trigger->activated(0);
    EXPECT_EQ(stateOf(device).triggerMode, 0u);
    EXPECT_FALSE(m_window->findChild<QPushButton*>(QStringLiteral("snapButton"))->isEnabled());
    const quint64 before = receiver.frames();
    EXPECT_TRUE(waitFor([&]() { return receiver.frames() > before + 2; }));
}

TEST_F(ViewWindow, StatusCountsMatchDevice)
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 32, 8, 200);
    ASSERT_GE(device, 0);
    openWindow("SIM-VIEW");
    ASSERT_TRUE(waitFor([&]() { return m_session->receiver().frames() >= 20; }));
    freeze();
    EXPECT_EQ(stateOf(device).grabbing, 0);
    m_window->updateStatus();

    MvsimCounters counters;
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), MVSIM_OK);
    const quint64 frames = m_session->receiver().frames();
    EXPECT_EQ(frames, static_cast<quint64>(counters.delivered));
    EXPECT_EQ(m_session->receiver().bytes(), frames * 32 * 8);
    EXPECT_EQ(m_window->framesShown() + m_window->framesSkipped(), frames);
    const QString status = m_window->statusText();
    EXPECT_TRUE(status.startsWith(QStringLiteral("%1 frames · ").arg(frames))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral(" · lost %1").arg(counters.lost))) << status.toStdString();
    EXPECT_TRUE(status.contains(
        QStringLiteral("shown %1, skipped %2").arg(m_window->framesShown()).arg(m_window->framesSkipped())))
        << status.toStdString();
}

TEST_F(ViewWindow, StatusLineShowsPluginsLastWarningNotItsFrameEntries)
{
    kwview::installWarningLog();
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 32, 8, 0);
    ASSERT_GE(device, 0);
    openWindow("SIM-VIEW", TriggerChoice::Software);
    QLabel* message = m_window->findChild<QLabel*>(QStringLiteral("messageLabel"));
    quint64 before = 0;
    const QString earlier = kwview::lastWarning(&before);

    // A frame comes with the plug-in's entry for it, a warning that is no
    // news.
    click(m_window.get(), "snapButton");
    ASSERT_TRUE(waitFor([&]() { return m_session->receiver().frames() == 1; }));
    ASSERT_EQ(MVSIM_WaitIdle(device, kTimeoutMs), MVSIM_OK);
    m_window->updateStatus();
    quint64 count = 0;
    EXPECT_EQ(kwview::lastWarning(&count), earlier);
    EXPECT_EQ(count, before);

    // A trigger the SDK refuses: the plug-in's warning reaches the line.
    MVSIM_FailCall("MV_CC_SetCommandValue", 1, MVSIM_E_CALLORDER);
    click(m_window.get(), "snapButton");
    m_window->updateStatus();
    EXPECT_EQ(kwview::lastWarning(&count).isEmpty(), false);
    EXPECT_EQ(count, before + 1);
    EXPECT_TRUE(message->text().startsWith(QStringLiteral("plug-in: ")) &&
                message->text().contains(QStringLiteral("ISnapCamera")))
        << message->text().toStdString();
    qInstallMessageHandler(nullptr);
}

TEST_F(ViewWindow, SaveWritesFrameOnScreen)
{
    ASSERT_GE(addDevice("SIM-VIEW", MVSIM_PIXEL_MONO16, 32, 8, 100), 0);
    openWindow("SIM-VIEW");
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(m_window->saveFrame(dir.filePath(QStringLiteral("early.pgm")), &error));
    EXPECT_EQ(error, QStringLiteral("no frame to save yet"));

    waitForFrame();
    freeze();
    const quint32 number = frameNumberOf(m_window->currentFrame());
    const QString path = dir.filePath(QStringLiteral("frame.pgm"));
    ASSERT_TRUE(m_window->saveFrame(path, &error)) << error.toStdString();

    // 16 bits kept: maxval 65535, samples big-endian, as kwcam grab --save
    // writes them.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QByteArray header("P5\n32 8\n65535\n");
    ASSERT_TRUE(bytes.startsWith(header));
    ASSERT_EQ(bytes.size(), header.size() + 32 * 8 * 2);
    const int offset = header.size() + (3 * 32 + 7) * 2;  // pixel (7, 3)
    const int sample = (static_cast<unsigned char>(bytes[offset]) << 8) | static_cast<unsigned char>(bytes[offset + 1]);
    EXPECT_EQ(sample, static_cast<int>(MVSIM_PatternValue(7, 3, number, 0) * 257));

    EXPECT_FALSE(m_window->saveFrame(dir.filePath(QStringLiteral("frame.bmp")), &error));
    EXPECT_FALSE(error.isEmpty());
}

// Free-running as fast as the host takes frames, and a camera waiting for a
// pulse on line 0 that never comes: closing the window stops and closes it.
TEST_F(ViewWindow, ClosingStopsAndClosesCamera)
{
    for (TriggerChoice trigger : {TriggerChoice::Free, TriggerChoice::Hardware}) {
        SCOPED_TRACE(trigger == TriggerChoice::Free ? "while grabbing" : "while waiting for a trigger");
        MVSIM_Reset();
        const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 640, 480, 0);
        ASSERT_GE(device, 0);
        openWindow("SIM-VIEW", trigger);
        EXPECT_EQ(stateOf(device).grabbing, 1);
        if (trigger == TriggerChoice::Free) {
            ASSERT_TRUE(waitFor([&]() { return m_session->receiver().frames() > 100; }));
        }

        EXPECT_TRUE(m_window->close());
        const MvsimDeviceState state = stateOf(device);
        EXPECT_EQ(state.grabbing, 0);
        EXPECT_EQ(state.openHandles, 0);
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
        EXPECT_FALSE(m_session->isOpen());
        closeWindow();
    }
}

TEST_F(ViewWindow, UnpluggedCameraIsSaidGoneAndOpensAgainOnceBack)
{
    const int device = addDevice("KW-AWAY", MVSIM_PIXEL_MONO8, 64, 48, 200);
    ASSERT_GE(device, 0);
    openWindow("KW-AWAY");
    waitForFrame();
    ASSERT_EQ(MVSIM_UnplugDevice(device), MVSIM_OK);
    ASSERT_TRUE(waitFor([&]() { return !m_window->awayKey().isEmpty(); })) << "the loss was not noticed";
    EXPECT_EQ(m_window->awayKey(), keyOf("KW-AWAY"));
    EXPECT_FALSE(m_session->isOpen());
    ASSERT_EQ(MVSIM_ReplugDevice(device), MVSIM_OK);
    ASSERT_TRUE(waitFor([&]() { return m_session->isOpen() && m_window->awayKey().isEmpty(); }))
        << "not opened again after the replug";
    waitForFrame();
}

TEST_F(ViewWindow, CameraHeldElsewhereIsRefusedWithTheReason)
{
    const int device = addDevice("KW-HELD", MVSIM_PIXEL_MONO8, 64, 48, 200);
    ASSERT_GE(device, 0);
    MV_CC_DEVICE_INFO_LIST list;
    memset(&list, 0, sizeof list);
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), 0);
    void* handle = nullptr;
    for (unsigned int i = 0; i < list.nDeviceNum && handle == nullptr; ++i) {
        if (strcmp(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chModelName), "KW-HELD") == 0) {
            ASSERT_EQ(MV_CC_CreateHandle(&handle, list.pDeviceInfo[i]), 0);
        }
    }
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0), 0);
    m_session.reset(new kwview::CameraSession(plugin()));
    m_window.reset(new ViewerWindow(*m_session));
    QString error;
    EXPECT_FALSE(m_window->openCamera(keyOf("KW-HELD"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("held by another process"))) << error.toStdString();
    MV_CC_DestroyHandle(handle);
    EXPECT_TRUE(m_window->openCamera(keyOf("KW-HELD"), &error)) << error.toStdString();
}
