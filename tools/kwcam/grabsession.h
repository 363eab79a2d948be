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
#include "kwhost/losses.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/selfpipe.h"
#include "progress.h"
#include "summary.h"

namespace kwcam {

class GrabSession : public QObject {
    Q_OBJECT
public:
    // camera is open and has receiver as its callback, which notifies
    // wakeup; device is the SDK's device id when the SDK can tell it, else -1.
    // writer, when every frame is saved, notifies wakeup too.
    GrabSession(ICameraObject* camera, FrameReceiver* receiver, kwhost::FrameWriter* writer,
                const kwhost::SelfPipe& wakeup, const kwhost::SdkControl& sdk, int device, const GrabOptions& options,
                const QString& plugin, const QString& key, const QString& deviceType);

    // Runs to the end, prints the summary on stdout, returns the exit code.
    int run();

private:
    // Ended: the --duration is over.
    enum class Outcome { Running, Completed, Ended, TimedOut, Interrupted, SaveFailed };

    void finish(Outcome outcome);
    void fireTrigger();
    void reportProgress();
    void takeNews();
    void onSignal();
    void endWrites();
    kwhost::Losses currentLosses() const;
    QString triggerDescription() const;
    bool continuous() const { return m_options.frames == 0; }
    int conclude();

    ICameraObject* const m_camera;
    FrameReceiver* const m_receiver;
    kwhost::FrameWriter* const m_writer;
    const kwhost::SdkControl& m_sdk;
    const int m_device;
    const GrabOptions m_options;
    const QString m_plugin;
    const QString m_key;
    const QString m_deviceType;

    QEventLoop m_loop;
    QEventLoop m_writesLoop;  // after the grab: waits for the queued writes
    QTimer m_triggerTimer;
    QTimer m_progressTimer;
    QTimer m_timeoutTimer;
    QTimer m_durationTimer;
    // SIGINT and SIGTERM arrive through a pipe of their own: frame news
    // filling the other one cannot crowd them out.
    kwhost::SelfPipe m_signals;
    kwhost::SignalForwarder m_forwarder{m_signals};
    Progress m_progress;
    QElapsedTimer m_clock;
    qint64 m_startNs = 0;  // steady clock, for the pictures the grab received
    double m_seconds = 0;

    Outcome m_outcome = Outcome::Running;
    kwhost::LossWatch m_lossWatch;
    kwhost::Losses m_losses;  // read as the grab ends, before the stop
    QString m_saveError;
    bool m_draining = false;
    bool m_writesAbandoned = false;
    double m_writingAfterSeconds = 0;
};

}  // namespace kwcam

#endif  // KWCAM_GRABSESSION_H
