// One acquisition from start to summary: starts the opened camera in the
// chosen trigger mode, fires triggers from the main thread's timer, reports
// progress, saves frames, and ends on the frame target, the time-out or an
// interrupt, always stopping and closing the camera before it reports.
#ifndef KWCAM_GRABSESSION_H
#define KWCAM_GRABSESSION_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>

#include "cameraobject.h"
#include "commandline.h"
#include "framereceiver.h"
#include "interrupt.h"
#include "progress.h"
#include "sdkcontrol.h"
#include "summary.h"
#include "wakeup.h"

namespace kwcam {

class GrabSession : public QObject {
    Q_OBJECT
public:
    // camera is open and has receiver as its callback, which notifies
    // wakeup; device is the SDK's device id when the SDK can tell it, else -1.
    GrabSession(ICameraObject* camera, FrameReceiver* receiver, const Wakeup& wakeup, const SdkControl& sdk, int device,
                const GrabOptions& options, const QString& plugin, const QString& key, const QString& deviceType);

    // Runs to the end, prints the summary on stdout, returns the exit code.
    int run();

private:
    enum class Outcome { Running, Completed, TimedOut, Interrupted, SaveFailed };

    void finish(Outcome outcome);
    void fireTrigger();
    void reportProgress();
    void takeNews();
    void saveCopiedFrames();
    bool readLostCounter(quint64* lost) const;
    QString triggerDescription() const;
    int conclude();

    ICameraObject* const m_camera;
    FrameReceiver* const m_receiver;
    const SdkControl& m_sdk;
    const int m_device;
    const GrabOptions m_options;
    const QString m_plugin;
    const QString m_key;
    const QString m_deviceType;

    QEventLoop m_loop;
    QTimer m_triggerTimer;
    QTimer m_progressTimer;
    QTimer m_timeoutTimer;
    InterruptWatcher m_interrupts;
    Progress m_progress;
    QElapsedTimer m_clock;
    qint64 m_startNs = 0;  // steady clock, for the pictures the grab received
    double m_seconds = 0;

    Outcome m_outcome = Outcome::Running;
    bool m_haveLostBefore = false;
    quint64 m_lostBefore = 0;
    bool m_haveLostAfter = false;
    quint64 m_lostAfter = 0;
    quint64 m_framesSaved = 0;
    QString m_saveError;
};

}  // namespace kwcam

#endif  // KWCAM_GRABSESSION_H
