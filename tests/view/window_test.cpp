// The viewer's window over the plug-in and the SDK stand-in, headless: what
// it shows for each pixel type, the cursor readout, controls reaching the
// device, the status counts, and closing while grabbing or waiting for a
// trigger. The stand-in is linked for its control interface; the plug-in is
// loaded as the program loads it.
#include <QtTest/QtTest>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>

#include <cstring>

#include "camerasession.h"
#include "imageview.h"
#include "kwhost/plugin.h"
#include "mvsim/control.h"
#include "viewerwindow.h"

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

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void shownImageMatchesFrame_data();
    void shownImageMatchesFrame();
    void cursorReadoutShowsRawSample();
    void controlsReachDevice();
    void triggerModesSnapAndPulse();
    void statusCountsMatchDevice();
    void saveWritesFrameOnScreen();
    void closingStopsAndClosesCamera_data();
    void closingStopsAndClosesCamera();

private:
    // A window over a fresh camera, open and grabbing.
    void openWindow(const char* model, TriggerChoice trigger = TriggerChoice::Free);
    void waitForFrame();

    kwhost::Plugin m_plugin;
    std::unique_ptr<kwview::CameraSession> m_session;
    std::unique_ptr<ViewerWindow> m_window;
};

void WindowTest::initTestCase()
{
    QString error;
    QVERIFY2(m_plugin.load(QStringLiteral(KWCAM_PLUGIN_PATH), &error), qPrintable(error));
}

void WindowTest::init()
{
    MVSIM_Reset();
}

void WindowTest::cleanup()
{
    m_window.reset();
    m_session.reset();
    MVSIM_Reset();
}

void WindowTest::openWindow(const char* model, TriggerChoice trigger)
{
    m_session.reset(new kwview::CameraSession(m_plugin));
    m_window.reset(new ViewerWindow(*m_session));
    m_window->setTrigger(trigger);
    m_window->show();
    QString error;
    QVERIFY2(m_window->openCamera(keyOf(model), &error), qPrintable(error));
}

void WindowTest::waitForFrame()
{
    const quint64 before = m_window->currentSequence();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->currentSequence() > before, kTimeoutMs);
}

void WindowTest::shownImageMatchesFrame_data()
{
    QTest::addColumn<uint>("pixelType");
    QTest::addColumn<QVector<int>>("channelOf");  // pattern channel shown as red, green, blue
    QTest::newRow("Mono8") << uint(MVSIM_PIXEL_MONO8) << QVector<int>{0, 0, 0};
    QTest::newRow("Mono16") << uint(MVSIM_PIXEL_MONO16) << QVector<int>{0, 0, 0};
    QTest::newRow("RGB8") << uint(MVSIM_PIXEL_RGB8) << QVector<int>{0, 1, 2};
    QTest::newRow("RGBa8") << uint(MVSIM_PIXEL_RGBA8) << QVector<int>{0, 1, 2};
    QTest::newRow("RGB16") << uint(MVSIM_PIXEL_RGB16) << QVector<int>{0, 1, 2};
    QTest::newRow("BGR8") << 0x02180015u << QVector<int>{2, 1, 0};
    QTest::newRow("BayerRG8 raw") << uint(MVSIM_PIXEL_BAYERRG8) << QVector<int>{0, 0, 0};
}

void WindowTest::shownImageMatchesFrame()
{
    QFETCH(uint, pixelType);
    QFETCH(QVector<int>, channelOf);
    const int w = 32;
    const int h = 8;
    QVERIFY(addDevice("SIM-VIEW", pixelType, w, h, 100) >= 0);
    openWindow("SIM-VIEW");
    // The full scale for wide samples: value * 257 shows as value.
    kwview::DisplayOptions options;
    options.autoStretch = false;
    options.demosaic = false;
    m_window->setDisplayOptions(options);
    waitForFrame();

    const QImage image = m_window->imageView()->image();
    const quint32 number = frameNumberOf(m_window->currentFrame());
    QVERIFY(number > 0);
    QCOMPARE(image.size(), QSize(w, h));
    // Row 0 carries the stamp.
    for (int y = 1; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb expected = qRgb(static_cast<int>(MVSIM_PatternValue(x, y, number, channelOf[0])),
                                       static_cast<int>(MVSIM_PatternValue(x, y, number, channelOf[1])),
                                       static_cast<int>(MVSIM_PatternValue(x, y, number, channelOf[2])));
            QVERIFY2(image.pixel(x, y) == expected,
                     qPrintable(QStringLiteral("pixel (%1, %2) of frame %3: %4 instead of %5")
                                    .arg(x)
                                    .arg(y)
                                    .arg(number)
                                    .arg(image.pixel(x, y) & 0xFFFFFF, 6, 16)
                                    .arg(expected & 0xFFFFFF, 6, 16)));
        }
    }
}

void WindowTest::cursorReadoutShowsRawSample()
{
    QVERIFY(addDevice("SIM-VIEW", MVSIM_PIXEL_RGB16, 32, 8, 100) >= 0);
    openWindow("SIM-VIEW");
    waitForFrame();
    // A still frame: stop, and take what the buffer still holds.
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("stopButton")), Qt::LeftButton);
    m_window->refresh();

    kwview::ImageView* view = m_window->imageView();
    QLabel* readout = m_window->findChild<QLabel*>(QStringLiteral("cursorLabel"));
    const quint32 number = frameNumberOf(m_window->currentFrame());
    const QPoint pixel(5, 3);
    pointAt(view, view->widgetPosition(QPointF(pixel) + QPointF(0.5, 0.5)).toPoint());
    // The raw 16-bit samples, not the display's 8-bit values.
    QCOMPARE(readout->text(), QStringLiteral("(5, 3)  R %1  G %2  B %3")
                                  .arg(MVSIM_PatternValue(5, 3, number, 0) * 257)
                                  .arg(MVSIM_PatternValue(5, 3, number, 1) * 257)
                                  .arg(MVSIM_PatternValue(5, 3, number, 2) * 257));

    // At a zoom of 4 the same point of the widget falls on another pixel.
    view->setZoom(4.0);
    const QPoint zoomed(20, 6);
    pointAt(view, view->widgetPosition(QPointF(zoomed) + QPointF(0.5, 0.5)).toPoint());
    QVERIFY2(readout->text().startsWith(QStringLiteral("(20, 6)  R %1 ")
                                            .arg(MVSIM_PatternValue(20, 6, number, 0) * 257)),
             qPrintable(readout->text()));

    // Off the image: nothing.
    view->setFitted(true);
    pointAt(view, QPoint(1, 1));
    QVERIFY(readout->text().isEmpty());
}

void WindowTest::controlsReachDevice()
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_RGB8, 32, 8, 100);
    QVERIFY(device >= 0);
    openWindow("SIM-VIEW");

    // The boxes start at the device's values, bounded by its limits.
    QSpinBox* exposure = m_window->findChild<QSpinBox*>(QStringLiteral("exposureBox"));
    QSpinBox* gain = m_window->findChild<QSpinBox*>(QStringLiteral("gainBox"));
    QCOMPARE(exposure->minimum(), 20);
    QCOMPARE(exposure->maximum(), 500000);
    QCOMPARE(exposure->value(), 1000);
    QCOMPARE(gain->maximum(), 12);
    QCOMPARE(gain->value(), 3);

    struct Row {
        const char* box;
        int value;
        float MvsimDeviceState::*floatMember;
        unsigned MvsimDeviceState::*ratioMember;
    };
    const Row rows[] = {
        {"exposureBox", 2500, &MvsimDeviceState::exposure, nullptr},
        {"gainBox", 7, &MvsimDeviceState::gain, nullptr},
        {"wbRedBox", 2000, nullptr, &MvsimDeviceState::balanceRatioRed},
        {"wbGreenBox", 1100, nullptr, &MvsimDeviceState::balanceRatioGreen},
        {"wbBlueBox", 3000, nullptr, &MvsimDeviceState::balanceRatioBlue},
    };
    for (const Row& row : rows) {
        m_window->findChild<QSpinBox*>(QLatin1String(row.box))->setValue(row.value);
        const MvsimDeviceState state = stateOf(device);
        const double reached = row.floatMember != nullptr ? static_cast<double>(state.*row.floatMember)
                                                          : static_cast<double>(state.*row.ratioMember);
        QVERIFY2(reached == row.value, row.box);
    }

    // Past the limits: the session bounds what it sends.
    QString error;
    QVERIFY(m_session->setExposure(10000000, &error));
    QCOMPARE(stateOf(device).exposure, 500000.0f);
    QVERIFY(m_session->setGain(-5, &error));
    QCOMPARE(stateOf(device).gain, 0.0f);
}

void WindowTest::triggerModesSnapAndPulse()
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 32, 8, 100);
    QVERIFY(device >= 0);
    openWindow("SIM-VIEW");
    QComboBox* trigger = m_window->findChild<QComboBox*>(QStringLiteral("triggerBox"));
    QPushButton* snap = m_window->findChild<QPushButton*>(QStringLiteral("snapButton"));
    QPushButton* pulse = m_window->findChild<QPushButton*>(QStringLiteral("pulseButton"));
    const kwview::ViewReceiver& receiver = m_session->receiver();

    struct Row {
        int index;
        unsigned source;
        QPushButton* button;
    };
    const Row rows[] = {{2, MVSIM_TRIGGER_SOURCE_SOFTWARE, snap}, {1, MVSIM_TRIGGER_SOURCE_LINE0, pulse}};
    for (const Row& row : rows) {
        Q_EMIT trigger->activated(row.index);
        const MvsimDeviceState state = stateOf(device);
        QCOMPARE(state.grabbing, 1);
        QCOMPARE(state.triggerMode, 1u);
        QCOMPARE(state.triggerSource, row.source);
        QVERIFY(row.button->isEnabled());
        // Nothing arrives untriggered; one click, one frame.
        QCOMPARE(MVSIM_WaitIdle(device, kTimeoutMs), MVSIM_OK);
        const quint64 before = receiver.frames();
        QTest::mouseClick(row.button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.frames(), before + 1, kTimeoutMs);
        QCOMPARE(MVSIM_WaitIdle(device, kTimeoutMs), MVSIM_OK);
        QCOMPARE(receiver.frames(), before + 1);
    }

    // Back to free-running: frames flow again.
    Q_EMIT trigger->activated(0);
    QCOMPARE(stateOf(device).triggerMode, 0u);
    QVERIFY(!snap->isEnabled());
    const quint64 before = receiver.frames();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.frames() > before + 2, kTimeoutMs);
}

void WindowTest::statusCountsMatchDevice()
{
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 32, 8, 200);
    QVERIFY(device >= 0);
    openWindow("SIM-VIEW");
    QTRY_VERIFY_WITH_TIMEOUT(m_session->receiver().frames() >= 20, kTimeoutMs);
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("stopButton")), Qt::LeftButton);
    QCOMPARE(stateOf(device).grabbing, 0);
    m_window->refresh();
    m_window->updateStatus();

    MvsimCounters counters;
    QCOMPARE(MVSIM_GetCounters(device, &counters), MVSIM_OK);
    const quint64 frames = m_session->receiver().frames();
    QCOMPARE(frames, static_cast<quint64>(counters.delivered));
    QCOMPARE(m_session->receiver().bytes(), frames * 32 * 8);
    QCOMPARE(m_window->framesShown() + m_window->framesSkipped(), frames);
    const QString status = m_window->statusText();
    QVERIFY2(status.startsWith(QStringLiteral("%1 frames · ").arg(frames)), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral(" · lost %1 · ").arg(counters.lost)), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("shown %1, skipped %2")
                                 .arg(m_window->framesShown())
                                 .arg(m_window->framesSkipped())),
             qPrintable(status));
}

void WindowTest::saveWritesFrameOnScreen()
{
    QVERIFY(addDevice("SIM-VIEW", MVSIM_PIXEL_MONO16, 32, 8, 100) >= 0);
    openWindow("SIM-VIEW");
    QTemporaryDir dir;
    QString error;
    QVERIFY(!m_window->saveFrame(dir.filePath(QStringLiteral("early.pgm")), &error));
    QCOMPARE(error, QStringLiteral("no frame to save yet"));

    waitForFrame();
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("stopButton")), Qt::LeftButton);
    m_window->refresh();
    const quint32 number = frameNumberOf(m_window->currentFrame());
    const QString path = dir.filePath(QStringLiteral("frame.pgm"));
    QVERIFY2(m_window->saveFrame(path, &error), qPrintable(error));

    // 16 bits kept: maxval 65535, samples big-endian, as kwcam grab --save
    // writes them.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QByteArray header("P5\n32 8\n65535\n");
    QVERIFY(bytes.startsWith(header));
    QCOMPARE(bytes.size(), header.size() + 32 * 8 * 2);
    const int offset = header.size() + (3 * 32 + 7) * 2;  // pixel (7, 3)
    const int sample = (static_cast<unsigned char>(bytes[offset]) << 8) | static_cast<unsigned char>(bytes[offset + 1]);
    QCOMPARE(sample, static_cast<int>(MVSIM_PatternValue(7, 3, number, 0) * 257));

    QVERIFY(!m_window->saveFrame(dir.filePath(QStringLiteral("frame.bmp")), &error));
    QVERIFY2(error.contains(QStringLiteral(".bmp")) || error.contains(QStringLiteral("extension")), qPrintable(error));
}

void WindowTest::closingStopsAndClosesCamera_data()
{
    QTest::addColumn<int>("trigger");
    QTest::addColumn<double>("frameRate");
    // Free-running as fast as the host takes frames, and a camera waiting
    // for a pulse on line 0 that never comes.
    QTest::newRow("while grabbing") << static_cast<int>(TriggerChoice::Free) << 0.0;
    QTest::newRow("while waiting for a trigger") << static_cast<int>(TriggerChoice::Hardware) << 0.0;
}

void WindowTest::closingStopsAndClosesCamera()
{
    QFETCH(int, trigger);
    QFETCH(double, frameRate);
    const int device = addDevice("SIM-VIEW", MVSIM_PIXEL_MONO8, 640, 480, frameRate);
    QVERIFY(device >= 0);
    openWindow("SIM-VIEW", static_cast<TriggerChoice>(trigger));
    QCOMPARE(stateOf(device).grabbing, 1);
    if (static_cast<TriggerChoice>(trigger) == TriggerChoice::Free)
        QTRY_VERIFY_WITH_TIMEOUT(m_session->receiver().frames() > 100, kTimeoutMs);

    QVERIFY(m_window->close());
    const MvsimDeviceState state = stateOf(device);
    QCOMPARE(state.grabbing, 0);
    QCOMPARE(state.openHandles, 0);
    QCOMPARE(MVSIM_AcquisitionThreads(), 0);
    QCOMPARE(MVSIM_LiveHandles(), 0);
    QVERIFY(!m_session->isOpen());
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
