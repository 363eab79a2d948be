// The viewer's main window: the live image, a side panel with the camera,
// acquisition, settings and display controls and the histogram, and a
// status line with the counts.
//
// The window never waits for the camera: a timer at the screen's rate takes
// the newest frame from the receiver's triple buffer, if there is one, and
// converts and paints it; frames that came and went in between are counted
// as skipped. Closing the window stops and closes the camera.
#ifndef KWVIEW_VIEWERWINDOW_H
#define KWVIEW_VIEWERWINDOW_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QMainWindow>

#include "camerasession.h"
#include "frameconvert.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace kwview {

class HistogramView;
class ImageView;

class ViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ViewerWindow(CameraSession& session, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Opens the camera (the first listed for an empty key) and starts it in
    // the trigger mode chosen; false with the reason shown in the status
    // line and returned in error.
    bool openCamera(const QString& key, QString* error = nullptr);
    void closeCamera();
    void setTrigger(TriggerChoice trigger);

    // Takes the newest frame, if any, and shows it; true when it did.
    // The paint timer calls it at the screen's rate.
    bool refresh();
    // The frame on screen (its bytes as received), invalid before the first.
    FrameView currentFrame() const;
    quint64 currentSequence() const { return m_currentSequence; }
    quint64 framesShown() const { return m_framesShown; }
    // Frames received since open that were never shown.
    quint64 framesSkipped() const;

    DisplayOptions displayOptions() const { return m_display; }
    void setDisplayOptions(const DisplayOptions& options);
    bool saveFrame(const QString& path, QString* error);

    // The status line's counts as shown; updated every half second and by
    // updateStatus().
    QString statusText() const;
    // The status line of those counts; lost as every host states losses.
    static QString statusText(quint64 frames, double fps, double mibPerSecond, const kwhost::Losses& lost,
                              quint64 shown, quint64 skipped);
    void updateStatus();
    QString cursorReadout() const;
    ImageView* imageView() const { return m_view; }
    HistogramView* histogramView() const { return m_histogram; }

Q_SIGNALS:
    void frameShown(quint64 sequence);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildPanel();
    void fillCameraList();
    void toggleOpen();
    void startOrStop(bool start);
    void applyExposure(int value);
    void applyGain(int value);
    void applyWhiteBalance(int channel, int value);
    void displayControlsChanged();
    void showCursor(const QPoint& pixel);
    void saveClicked();
    void showError(const QString& text);
    void syncControls();
    void redisplay();

    CameraSession& m_session;
    DisplayOptions m_display;

    ImageView* m_view = nullptr;
    HistogramView* m_histogram = nullptr;
    QComboBox* m_cameraBox = nullptr;
    QPushButton* m_openButton = nullptr;
    QLabel* m_formatLabel = nullptr;
    QComboBox* m_triggerBox = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_snapButton = nullptr;
    QPushButton* m_pulseButton = nullptr;
    QSpinBox* m_exposureBox = nullptr;
    QSpinBox* m_gainBox = nullptr;
    QSpinBox* m_balanceBoxes[3] = {nullptr, nullptr, nullptr};
    QCheckBox* m_fitBox = nullptr;
    QCheckBox* m_demosaicBox = nullptr;
    QCheckBox* m_autoStretchBox = nullptr;
    QSpinBox* m_lowBox = nullptr;
    QSpinBox* m_highBox = nullptr;
    QPushButton* m_saveButton = nullptr;
    QLabel* m_countsLabel = nullptr;
    QLabel* m_cursorLabel = nullptr;
    QLabel* m_messageLabel = nullptr;

    QTimer m_paintTimer;
    QTimer m_statusTimer;
    const FrameSlot* m_current = nullptr;  // valid until the next take
    quint64 m_currentSequence = 0;
    quint64 m_framesShown = 0;
    QPoint m_cursor{-1, -1};

    // Rates over the last status interval.
    QElapsedTimer m_rateClock;
    quint64 m_rateFrames = 0;
    quint64 m_rateBytes = 0;
    double m_fps = 0;
    double m_mibPerSecond = 0;
    QString m_status;
    QString m_error;
};

}  // namespace kwview

#endif  // KWVIEW_VIEWERWINDOW_H
