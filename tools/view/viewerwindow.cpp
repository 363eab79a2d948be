#include "viewerwindow.h"

#include <QtGui/QCloseEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

#include "histogramview.h"
#include "imageview.h"
#include "kwhost/imagewriter.h"
#include "warninglog.h"

namespace kwview {

namespace {

const int kStatusIntervalMs = 500;

int screenIntervalMs()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double rate = screen != nullptr && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    return std::max(1, static_cast<int>(std::floor(1000.0 / rate)));
}

QSpinBox* spinBox(const QString& name, int low, int high, const QString& suffix)
{
    QSpinBox* box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(low, high);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);  // a value counts once typed in full
    box->setAccelerated(true);
    return box;
}

QPushButton* button(const QString& name, const QString& text)
{
    QPushButton* b = new QPushButton(text);
    b->setObjectName(name);
    return b;
}

}  // namespace

ViewerWindow::ViewerWindow(CameraSession& session, QWidget* parent) : QMainWindow(parent), m_session(session)
{
    setWindowTitle(tr("kwcam view"));
    m_view = new ImageView;
    m_view->setObjectName(QStringLiteral("imageView"));
    connect(m_view, &ImageView::hovered, this, &ViewerWindow::showCursor);

    QSplitter* splitter = new QSplitter;
    splitter->addWidget(m_view);
    splitter->addWidget(buildPanel());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    setCentralWidget(splitter);

    m_countsLabel = new QLabel;
    m_countsLabel->setObjectName(QStringLiteral("countsLabel"));
    // Room for large counts, so that the line does not jump as they grow.
    m_countsLabel->setMinimumWidth(
        m_countsLabel->fontMetrics()
            .boundingRect(QStringLiteral(
                "0000000 frames · 00000.0 fps · 0000.0 MiB/s · lost 000000 · shown 0000000, skipped 0000000"))
            .width());
    m_cursorLabel = new QLabel;
    m_cursorLabel->setObjectName(QStringLiteral("cursorLabel"));
    m_cursorLabel->setMinimumWidth(220);
    m_messageLabel = new QLabel;
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    m_messageLabel->setStyleSheet(QStringLiteral("color: #e0a040"));
    statusBar()->addWidget(m_countsLabel);
    statusBar()->addWidget(m_messageLabel, 1);
    statusBar()->addPermanentWidget(m_cursorLabel);

    connect(&m_paintTimer, &QTimer::timeout, this, &ViewerWindow::refresh);
    m_paintTimer.start(screenIntervalMs());
    connect(&m_statusTimer, &QTimer::timeout, this, &ViewerWindow::updateStatus);
    m_statusTimer.start(kStatusIntervalMs);

    fillCameraList();
    syncControls();
    updateStatus();
    resize(1100, 720);
}

ViewerWindow::~ViewerWindow()
{
    closeCamera();
}

QWidget* ViewerWindow::buildPanel()
{
    QWidget* panel = new QWidget;
    panel->setMinimumWidth(290);
    panel->setMaximumWidth(330);
    QVBoxLayout* layout = new QVBoxLayout(panel);

    QGroupBox* cameraGroup = new QGroupBox(tr("Camera"));
    QVBoxLayout* cameraLayout = new QVBoxLayout(cameraGroup);
    m_cameraBox = new QComboBox;
    m_cameraBox->setObjectName(QStringLiteral("cameraBox"));
    m_openButton = button(QStringLiteral("openButton"), tr("Open"));
    connect(m_openButton, &QPushButton::clicked, this, &ViewerWindow::toggleOpen);
    m_formatLabel = new QLabel;
    m_formatLabel->setObjectName(QStringLiteral("formatLabel"));
    m_formatLabel->setWordWrap(true);
    cameraLayout->addWidget(m_cameraBox);
    cameraLayout->addWidget(m_openButton);
    cameraLayout->addWidget(m_formatLabel);
    layout->addWidget(cameraGroup);

    QGroupBox* acquisitionGroup = new QGroupBox(tr("Acquisition"));
    QGridLayout* acquisitionLayout = new QGridLayout(acquisitionGroup);
    m_triggerBox = new QComboBox;
    m_triggerBox->setObjectName(QStringLiteral("triggerBox"));
    m_triggerBox->addItem(tr("Free-running"), static_cast<int>(TriggerChoice::Free));
    m_triggerBox->addItem(tr("Hardware, line 0"), static_cast<int>(TriggerChoice::Hardware));
    m_triggerBox->addItem(tr("Software"), static_cast<int>(TriggerChoice::Software));
    connect(m_triggerBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { setTrigger(static_cast<TriggerChoice>(m_triggerBox->itemData(index).toInt())); });
    m_startButton = button(QStringLiteral("startButton"), tr("Start"));
    m_stopButton = button(QStringLiteral("stopButton"), tr("Stop"));
    m_snapButton = button(QStringLiteral("snapButton"), tr("Snap"));
    m_pulseButton = button(QStringLiteral("pulseButton"), tr("Pulse line 0"));
    m_pulseButton->setToolTip(tr("One pulse on the simulated camera's input line 0"));
    connect(m_startButton, &QPushButton::clicked, this, [this]() { startOrStop(true); });
    connect(m_stopButton, &QPushButton::clicked, this, [this]() { startOrStop(false); });
    connect(m_snapButton, &QPushButton::clicked, this, [this]() { m_session.snap(); });
    connect(m_pulseButton, &QPushButton::clicked, this, [this]() { m_session.pulseLine0(); });
    acquisitionLayout->addWidget(m_triggerBox, 0, 0, 1, 2);
    acquisitionLayout->addWidget(m_startButton, 1, 0);
    acquisitionLayout->addWidget(m_stopButton, 1, 1);
    acquisitionLayout->addWidget(m_snapButton, 2, 0);
    acquisitionLayout->addWidget(m_pulseButton, 2, 1);
    layout->addWidget(acquisitionGroup);

    QGroupBox* settingsGroup = new QGroupBox(tr("Settings"));
    QFormLayout* settingsLayout = new QFormLayout(settingsGroup);
    m_exposureBox = spinBox(QStringLiteral("exposureBox"), 0, 100000000, tr(" µs"));
    m_gainBox = spinBox(QStringLiteral("gainBox"), 0, 1000, tr(" dB"));
    connect(m_exposureBox, QOverload<int>::of(&QSpinBox::valueChanged), this, &ViewerWindow::applyExposure);
    connect(m_gainBox, QOverload<int>::of(&QSpinBox::valueChanged), this, &ViewerWindow::applyGain);
    settingsLayout->addRow(tr("Exposure"), m_exposureBox);
    settingsLayout->addRow(tr("Gain"), m_gainBox);
    static const char* const balanceNames[3] = {"wbRedBox", "wbGreenBox", "wbBlueBox"};
    static const char* const balanceLabels[3] = {"WB red", "WB green", "WB blue"};
    for (int c = 0; c < 3; ++c) {
        m_balanceBoxes[c] = spinBox(QLatin1String(balanceNames[c]), 0, CameraSession::maxWhiteBalance(), QString());
        connect(m_balanceBoxes[c], QOverload<int>::of(&QSpinBox::valueChanged), this,
                [this, c](int value) { applyWhiteBalance(c, value); });
        settingsLayout->addRow(tr(balanceLabels[c]), m_balanceBoxes[c]);
    }
    layout->addWidget(settingsGroup);

    QGroupBox* displayGroup = new QGroupBox(tr("Display"));
    QFormLayout* displayLayout = new QFormLayout(displayGroup);
    m_fitBox = new QCheckBox(tr("Fit to window"));
    m_fitBox->setObjectName(QStringLiteral("fitBox"));
    m_fitBox->setChecked(true);
    m_fitBox->setToolTip(tr("Off: 1:1, the wheel zooms about the cursor, a drag pans; a double click toggles"));
    connect(m_fitBox, &QCheckBox::toggled, m_view, &ImageView::setFitted);
    connect(m_view, &ImageView::fittedChanged, m_fitBox, &QCheckBox::setChecked);
    m_demosaicBox = new QCheckBox(tr("Bayer in colour"));
    m_demosaicBox->setObjectName(QStringLiteral("demosaicBox"));
    m_demosaicBox->setToolTip(tr("Off: the raw mosaic in grey"));
    m_autoStretchBox = new QCheckBox(tr("Stretch 16-bit to frame range"));
    m_autoStretchBox->setObjectName(QStringLiteral("autoStretchBox"));
    m_lowBox = spinBox(QStringLiteral("lowBox"), 0, 65534, QString());
    m_highBox = spinBox(QStringLiteral("highBox"), 1, 65535, QString());
    QHBoxLayout* rangeLayout = new QHBoxLayout;
    rangeLayout->addWidget(m_lowBox);
    rangeLayout->addWidget(new QLabel(QStringLiteral("–")));
    rangeLayout->addWidget(m_highBox);
    connect(m_demosaicBox, &QCheckBox::toggled, this, &ViewerWindow::displayControlsChanged);
    connect(m_autoStretchBox, &QCheckBox::toggled, this, &ViewerWindow::displayControlsChanged);
    connect(m_lowBox, QOverload<int>::of(&QSpinBox::valueChanged), this, &ViewerWindow::displayControlsChanged);
    connect(m_highBox, QOverload<int>::of(&QSpinBox::valueChanged), this, &ViewerWindow::displayControlsChanged);
    displayLayout->addRow(m_fitBox);
    displayLayout->addRow(m_demosaicBox);
    displayLayout->addRow(m_autoStretchBox);
    displayLayout->addRow(tr("Fixed range"), rangeLayout);
    m_saveButton = button(QStringLiteral("saveButton"), tr("Save frame…"));
    connect(m_saveButton, &QPushButton::clicked, this, &ViewerWindow::saveClicked);
    displayLayout->addRow(m_saveButton);
    layout->addWidget(displayGroup);
    setDisplayOptions(m_display);

    m_histogram = new HistogramView;
    m_histogram->setObjectName(QStringLiteral("histogramView"));
    QGroupBox* histogramGroup = new QGroupBox(tr("Histogram"));
    QVBoxLayout* histogramLayout = new QVBoxLayout(histogramGroup);
    histogramLayout->addWidget(m_histogram);
    layout->addWidget(histogramGroup);
    layout->addStretch(1);
    return panel;
}

void ViewerWindow::fillCameraList()
{
    const QString current = m_cameraBox->currentText();
    m_cameraBox->clear();
    m_cameraBox->addItems(m_session.cameraKeys());
    const int index = m_cameraBox->findText(current);
    if (index >= 0)
        m_cameraBox->setCurrentIndex(index);
}

bool ViewerWindow::openCamera(const QString& key, QString* error)
{
    QString why;
    // Whatever the last camera left in the triple buffer is not this one's.
    m_session.close();
    m_session.receiver().latest().takeNewest();
    m_current = nullptr;
    m_currentSequence = 0;
    m_framesShown = 0;
    const bool opened = m_session.open(key, &why) && m_session.start(&why);
    if (!opened) {
        if (m_session.isOpen())
            m_session.close();
        showError(why);
        if (error != nullptr)
            *error = why;
    } else {
        m_error.clear();
        m_messageLabel->clear();
        const int index = m_cameraBox->findText(m_session.key());
        if (index >= 0)
            m_cameraBox->setCurrentIndex(index);
        setWindowTitle(tr("kwcam view — %1").arg(m_session.key()));
    }
    m_rateClock.start();
    m_rateFrames = 0;
    m_rateBytes = 0;
    syncControls();
    updateStatus();
    return opened;
}

void ViewerWindow::closeCamera()
{
    m_session.close();
    if (m_openButton != nullptr)
        syncControls();
}

void ViewerWindow::setTrigger(TriggerChoice trigger)
{
    QString error;
    if (!m_session.setTrigger(trigger, &error))
        showError(error);
    syncControls();
}

void ViewerWindow::toggleOpen()
{
    if (m_session.isOpen()) {
        closeCamera();
        return;
    }
    if (m_cameraBox->count() == 0)
        fillCameraList();
    openCamera(m_cameraBox->currentText());
}

void ViewerWindow::startOrStop(bool start)
{
    QString error;
    if (!start)
        m_session.stop();
    else if (!m_session.start(&error))
        showError(error);
    syncControls();
}

void ViewerWindow::applyExposure(int value)
{
    QString error;
    if (m_session.isOpen() && !m_session.setExposure(value, &error))
        showError(error);
}

void ViewerWindow::applyGain(int value)
{
    QString error;
    if (m_session.isOpen() && !m_session.setGain(value, &error))
        showError(error);
}

void ViewerWindow::applyWhiteBalance(int channel, int value)
{
    QString error;
    if (m_session.isOpen() && !m_session.setWhiteBalance(channel, value, &error))
        showError(error);
}

void ViewerWindow::syncControls()
{
    const bool open = m_session.isOpen();
    const bool grabbing = m_session.isGrabbing();
    const TriggerChoice trigger = m_session.trigger();
    m_openButton->setText(open ? tr("Close") : tr("Open"));
    m_cameraBox->setEnabled(!open);
    m_startButton->setEnabled(open && !grabbing);
    m_stopButton->setEnabled(open && grabbing);
    m_snapButton->setEnabled(open && grabbing && trigger == TriggerChoice::Software);
    m_pulseButton->setVisible(m_session.canPulse() || !open);
    m_pulseButton->setEnabled(open && grabbing && trigger == TriggerChoice::Hardware && m_session.canPulse());
    m_triggerBox->setCurrentIndex(m_triggerBox->findData(static_cast<int>(trigger)));
    m_formatLabel->setText(open ? tr("Pixels: %1").arg(m_session.pixelTypeName()) : tr("No camera open"));

    // The limits bound the boxes; setting them must not send values back.
    QSpinBox* boxes[] = {m_exposureBox, m_gainBox, m_balanceBoxes[0], m_balanceBoxes[1], m_balanceBoxes[2]};
    for (QSpinBox* box : boxes) {
        box->blockSignals(true);
        box->setEnabled(open);
    }
    const std::pair<QSpinBox*, Bounds> bounded[] = {{m_exposureBox, m_session.exposure()},
                                                    {m_gainBox, m_session.gain()}};
    for (const auto& box : bounded) {
        if (open && box.second.known) {
            box.first->setRange(static_cast<int>(std::ceil(box.second.min)),
                                static_cast<int>(std::floor(box.second.max)));
            box.first->setValue(static_cast<int>(std::lround(box.second.value)));
        }
    }
    for (int c = 0; c < 3; ++c)
        m_balanceBoxes[c]->setValue(m_session.whiteBalance(c));
    for (QSpinBox* box : boxes)
        box->blockSignals(false);
}

void ViewerWindow::setDisplayOptions(const DisplayOptions& options)
{
    m_display = options;
    QWidget* controls[] = {m_demosaicBox, m_autoStretchBox, m_lowBox, m_highBox};
    for (QWidget* control : controls)
        control->blockSignals(true);
    m_demosaicBox->setChecked(options.demosaic);
    m_autoStretchBox->setChecked(options.autoStretch);
    m_lowBox->setValue(options.low);
    m_highBox->setValue(options.high);
    m_lowBox->setEnabled(!options.autoStretch);
    m_highBox->setEnabled(!options.autoStretch);
    for (QWidget* control : controls)
        control->blockSignals(false);
    redisplay();
}

void ViewerWindow::displayControlsChanged()
{
    DisplayOptions options;
    options.demosaic = m_demosaicBox->isChecked();
    options.autoStretch = m_autoStretchBox->isChecked();
    options.low = m_lowBox->value();
    options.high = m_highBox->value();
    setDisplayOptions(options);
}

bool ViewerWindow::refresh()
{
    const FrameSlot* slot = m_session.receiver().latest().takeNewest();
    if (slot == nullptr)
        return false;
    m_current = slot;
    m_currentSequence = slot->sequence;
    ++m_framesShown;
    redisplay();
    Q_EMIT frameShown(m_currentSequence);
    return true;
}

void ViewerWindow::redisplay()
{
    const FrameView frame = currentFrame();
    if (!frame.valid() || m_view == nullptr)
        return;
    m_view->setImage(toDisplayImage(frame, m_display));
    m_histogram->setHistogram(computeHistogram(frame));
    if (m_cursor.x() >= 0)
        m_cursorLabel->setText(cursorReadout());
}

FrameView ViewerWindow::currentFrame() const
{
    return m_current != nullptr ? m_current->view() : FrameView();
}

quint64 ViewerWindow::framesSkipped() const
{
    const quint64 received = m_session.receiver().frames();
    return received > m_framesShown ? received - m_framesShown : 0;
}

void ViewerWindow::showCursor(const QPoint& pixel)
{
    m_cursor = pixel;
    m_cursorLabel->setText(cursorReadout());
}

QString ViewerWindow::cursorReadout() const
{
    return m_cursor.x() < 0 ? QString() : pixelReadout(currentFrame(), m_cursor.x(), m_cursor.y());
}

void ViewerWindow::updateStatus()
{
    const ViewReceiver& receiver = m_session.receiver();
    const quint64 frames = receiver.frames();
    const quint64 bytes = receiver.bytes();
    const qint64 elapsedNs = m_rateClock.isValid() ? m_rateClock.nsecsElapsed() : 0;
    if (elapsedNs >= 100000000) {
        const double seconds = static_cast<double>(elapsedNs) / 1e9;
        m_fps = static_cast<double>(frames - std::min(frames, m_rateFrames)) / seconds;
        m_mibPerSecond = static_cast<double>(bytes - std::min(bytes, m_rateBytes)) / seconds / (1024.0 * 1024.0);
        m_rateFrames = frames;
        m_rateBytes = bytes;
        m_rateClock.restart();
    }
    if (!m_session.isOpen()) {
        m_fps = 0;
        m_mibPerSecond = 0;
    }
    m_status = statusText(frames, m_fps, m_mibPerSecond, m_session.lostFrames(), m_framesShown, framesSkipped());
    m_countsLabel->setText(m_status);
    if (m_error.isEmpty()) {
        const QString warning = lastWarning();
        m_messageLabel->setText(warning.isEmpty() ? QString() : tr("plug-in: %1").arg(warning));
    }
}

QString ViewerWindow::statusText() const
{
    return m_status;
}

bool ViewerWindow::saveFrame(const QString& path, QString* error)
{
    const FrameView frame = currentFrame();
    if (!frame.valid()) {
        *error = tr("no frame to save yet");
        return false;
    }
    *error = kwhost::checkSavePath(path);
    if (error->isEmpty()) {
        kwhost::FrameImage image;
        image.data = frame.data;
        image.width = frame.width;
        image.height = frame.height;
        image.layout = frame.layout;
        *error = kwhost::writeImage(path, image);
    }
    return error->isEmpty();
}

void ViewerWindow::saveClicked()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save frame"), QString(), tr("Pictures (*.png *.pgm *.ppm)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveFrame(path, &error))
        showError(error);
    else
        m_messageLabel->setText(tr("saved frame %1 to %2").arg(m_currentSequence).arg(path));
}

void ViewerWindow::showError(const QString& text)
{
    m_error = text;
    m_messageLabel->setText(text);
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    // Stop and close before the window goes: a camera that waits for a
    // trigger is woken by the stop.
    m_paintTimer.stop();
    m_statusTimer.stop();
    closeCamera();
    event->accept();
}

QString ViewerWindow::statusText(quint64 frames, double fps, double mibPerSecond, const kwhost::Losses& lost,
                                 quint64 shown, quint64 skipped)
{
    return tr("%1 frames · %2 fps · %3 MiB/s · lost %4 · shown %5, skipped %6")
        .arg(frames)
        .arg(fps, 0, 'f', 1)
        .arg(mibPerSecond, 0, 'f', 1)
        .arg(lost.text())
        .arg(shown)
        .arg(skipped);
}

}  // namespace kwview
