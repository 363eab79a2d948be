// One acquisition from choice to summary: chooses and opens the camera,
// starts it in the chosen trigger mode, fires triggers from the main
// thread's timer, reports progress, saves frames, and ends on the frame
// target, the time-out or an interrupt, always stopping and closing the
// camera before it reports.
#ifndef KWCAM_GRABSESSION_H
#define KWCAM_GRABSESSION_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>

#include <memory>

#include "cameraobject.h"
#include "commandline.h"
#include "framereceiver.h"
#include "kwhost/camerasession.h"
#include "kwhost/framewriter.h"
#include "kwhost/losses.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/selfpipe.h"
#include "progress.h"
#include "summary.h"

namespace kwcam {

class GrabSession : public QObject {
    Q_OBJECT
public:
    GrabSession(const kwhost::Plugin& plugin, const Invocation& invocation);

    // Sets itself up, grabs, and ends: prints the summary on stdout and
    // returns the exit code.
    int run();

private:
    // Ended: the --duration is over.
    enum class Outcome { Running, Completed, Ended, TimedOut, Interrupted, SaveFailed };

    // The steps of run().
    bool setUp();
    bool destinationUsable() const;
    bool applySettings();
    bool start();
    void stopCamera();
    Summary summarise();
    void saveFrames(Summary* summary);
    int exitCode(const Summary& summary) const;

    void finish(Outcome outcome);
    void fireTrigger();
    void reportProgress();
    void takeNews();
    void onSignal();
    void endWrites();
    kwhost::Losses currentLosses() const;
    QString triggerDescription() const;
    bool continuous() const { return m_options.frames == 0; }

    const kwhost::Plugin& m_plugin;
    const kwhost::HostOptions m_host;
    const GrabOptions m_options;
    kwhost::CameraSession m_camera;
    kwhost::SelfPipe m_wakeup;  // the receiver's and the writer's news
    std::unique_ptr<kwhost::FrameWriter> m_writer;
    std::unique_ptr<FrameReceiver> m_receiver;

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
    kwhost::Losses m_losses;  // read as the grab ends, before the stop
    QString m_saveError;
    bool m_draining = false;
    bool m_writesAbandoned = false;
    double m_writingAfterSeconds = 0;
};

}  // namespace kwcam

#endif  // KWCAM_GRABSESSION_H
