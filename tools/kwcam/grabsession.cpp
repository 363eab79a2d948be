#include "grabsession.h"

#include <QtCore/QTextStream>

#include <cmath>
#include <unistd.h>

#include "exitcodes.h"
#include "kwhost/imagewriter.h"
#include "output.h"
#include "picturereport.h"

namespace kwcam {

GrabSession::GrabSession(ICameraObject* camera, FrameReceiver* receiver, kwhost::FrameWriter* writer,
                         const kwhost::SelfPipe& wakeup, const kwhost::SdkControl& sdk, int device,
                         const GrabOptions& options, const QString& plugin, const QString& key,
                         const QString& deviceType)
    : m_camera(camera), m_receiver(receiver), m_writer(writer), m_sdk(sdk), m_device(device), m_options(options),
      m_plugin(plugin), m_key(key), m_deviceType(deviceType),
      m_progress(options.frames, isatty(STDERR_FILENO) != 0, noticesShown()), m_lossWatch(sdk, device)
{
    // The receiver's news arrive through the wake-up, on the main thread,
    // where all of the session's work happens.
    connect(&wakeup, &kwhost::SelfPipe::woken, this, &GrabSession::takeNews);
    connect(&m_signals, &kwhost::SelfPipe::woken, this, &GrabSession::onSignal);

    m_triggerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_triggerTimer, &QTimer::timeout, this, &GrabSession::fireTrigger);
    m_progressTimer.setInterval(m_progress.intervalMs());
    connect(&m_progressTimer, &QTimer::timeout, this, &GrabSession::reportProgress);
    m_timeoutTimer.setSingleShot(true);
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this]() { finish(Outcome::TimedOut); });
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, [this]() { finish(Outcome::Ended); });
}

int GrabSession::run()
{
    m_lossWatch.begin();

    m_camera->m_nTriggerMode = kwhost::contractTriggerMode(m_options.trigger);
    m_clock.start();
    m_startNs = steadyNowNs();
    if (!m_camera->IStartCamera()) {
        printError(QStringLiteral("cannot start acquisition on %1 (%2)").arg(m_key, triggerDescription()));
        m_camera->ICloseCamera();
        return kExitFailure;
    }
    const QString amount = m_options.durationSeconds > 0 ? QStringLiteral("for %1 s").arg(m_options.durationSeconds)
        : continuous()                                   ? QStringLiteral("continuously")
                                                         : QStringLiteral("%1 frames").arg(m_options.frames);
    printNotice(QStringLiteral("grabbing %1 from %2, %3; Ctrl-C stops").arg(amount, m_key, triggerDescription()));

    const bool triggering = m_options.trigger != TriggerChoice::Free && m_options.rateHz > 0;
    if (triggering) {
        m_triggerTimer.setInterval(qMax(1, static_cast<int>(std::lround(1000.0 / m_options.rateHz))));
        m_triggerTimer.start();
        fireTrigger();
    }
    m_progressTimer.start();
    if (!continuous() || m_options.timeoutGiven)
        m_timeoutTimer.start(static_cast<int>(std::ceil(m_options.timeoutSeconds * 1000.0)));
    if (m_options.durationSeconds > 0)
        m_durationTimer.start(static_cast<int>(std::ceil(m_options.durationSeconds * 1000.0)));

    if (m_outcome == Outcome::Running)
        m_loop.exec();
    return conclude();
}

void GrabSession::finish(Outcome outcome)
{
    if (m_outcome != Outcome::Running)
        return;
    m_outcome = outcome;
    m_seconds = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
    // Before the stop: frames the SDK loses while the grab winds down were
    // never wanted.
    m_losses = currentLosses();
    m_loop.quit();
}

void GrabSession::fireTrigger()
{
    if (m_options.trigger == TriggerChoice::Software)
        m_camera->ISnapCamera();
    else
        m_sdk.pulseLine0(m_device);  // a pulse the camera cannot take counts as lost
}

void GrabSession::reportProgress()
{
    const kwhost::Losses losses = currentLosses();
    const qint64 lost = losses.source == kwhost::Losses::Source::Unknown ? -1 : static_cast<qint64>(losses.lost);
    m_progress.report(m_receiver->framesSoFar(), m_receiver->bytesSoFar(),
                      static_cast<double>(m_clock.nsecsElapsed()) / 1e9, lost);
}

void GrabSession::takeNews()
{
    if (m_writer != nullptr) {
        const kwhost::FrameWriter::Counts counts = m_writer->counts();
        if (!counts.error.isEmpty())
            finish(Outcome::SaveFailed);
        if (m_draining && (counts.queued == 0 || !counts.error.isEmpty()))
            m_writesLoop.quit();
    }
    if (m_receiver->targetReached())
        finish(Outcome::Completed);
}

void GrabSession::onSignal()
{
    if (m_draining) {
        // The grab is over; the user no longer waits for the queued frames.
        m_writesAbandoned = true;
        m_writer->abandon();
        m_writesLoop.quit();
        return;
    }
    finish(Outcome::Interrupted);
}

// A completed grab writes what it queued, in the event loop so that Ctrl-C
// can still abandon it; a grab that timed out, was interrupted or failed to
// save abandons its queue at once.
void GrabSession::endWrites()
{
    if (m_writer == nullptr)
        return;
    QElapsedTimer clock;
    clock.start();
    if (m_outcome == Outcome::Completed || m_outcome == Outcome::Ended) {
        const kwhost::FrameWriter::Counts counts = m_writer->counts();
        if (counts.queued > 0 && counts.error.isEmpty()) {
            printNotice(QStringLiteral("writing %1 queued frames; Ctrl-C abandons them").arg(counts.queued));
            m_draining = true;
            m_writesLoop.exec();
            m_draining = false;
        }
    } else {
        m_writesAbandoned = m_writer->counts().queued > 0;
        m_writer->abandon();
    }
    m_writer->finish();
    m_writingAfterSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

kwhost::Losses GrabSession::currentLosses() const
{
    // Frame numbers are the fallback once a frame came: every frame so far
    // must have been stamped (the receiver counts the stamped frames' gaps).
    return m_lossWatch.sinceBegin(m_receiver->framesSoFar() > 0 && m_receiver->numberedSoFar(),
                                  m_receiver->missingSoFar());
}

QString GrabSession::triggerDescription() const
{
    switch (m_options.trigger) {
    case TriggerChoice::Free:
        return QStringLiteral("free-running");
    case TriggerChoice::Software:
        return QStringLiteral("software trigger at %1 Hz").arg(m_options.rateHz);
    case TriggerChoice::Hardware:
        break;
    }
    if (m_options.rateHz > 0)
        return QStringLiteral("hardware trigger (line 0) pulsed at %1 Hz").arg(m_options.rateHz);
    return QStringLiteral("hardware trigger (line 0) from outside");
}

int GrabSession::conclude()
{
    m_triggerTimer.stop();
    m_progressTimer.stop();
    m_timeoutTimer.stop();
    m_durationTimer.stop();

    // Once the camera is closed the SDK runs no callback any more: from here
    // on the receiver's statistics and buffers belong to this thread.
    m_camera->IStopCamera();
    m_camera->ICloseCamera();
    m_progress.finish();
    endWrites();
    // What the stop cut off is told beside the losses, not among them.
    m_losses = m_losses.withEndingFrom(currentLosses());

    const FrameStats& stats = m_receiver->stats();
    Summary summary;
    summary.plugin = m_plugin;
    summary.key = m_key;
    summary.trigger = triggerDescription();
    summary.target = m_options.frames;
    summary.stats = stats;
    summary.seconds = m_seconds;
    summary.deviceType = m_deviceType;
    summary.pictures = picturesReceived(m_sdk, m_device, m_startNs);
    summary.losses = m_losses;

    if (!m_options.savePath.isEmpty()) {
        if (m_writer != nullptr) {
            const kwhost::FrameWriter::Counts counts = m_writer->counts();
            m_saveError = counts.error;
            summary.everyFrame = true;
            summary.savedFrames = counts.saved;
            summary.notSaved = counts.notSaved;
            summary.abandoned = counts.abandoned;
            summary.writesAbandoned = m_writesAbandoned;
            summary.writingSeconds = counts.writingSeconds;
            summary.writingAfterSeconds = m_writingAfterSeconds;
            summary.saved = m_options.savePath;
        } else if (m_receiver->hasLastFrame()) {
            const QString path = kwhost::framePath(m_options.savePath, 0);
            const QString error = kwhost::writeImage(path, m_receiver->lastFrame());
            if (error.isEmpty())
                summary.saved = QStringLiteral("%1 (frame %2)").arg(path).arg(m_receiver->lastFrameNumber());
            else
                m_saveError = QStringLiteral("cannot save the last frame to %1: %2").arg(path, error);
        } else {
            m_saveError = QStringLiteral("no frame to save to %1").arg(m_options.savePath);
        }
    }

    QTextStream(stdout) << formatSummary(summary);

    // A grab without a frame count ends by time or by Ctrl-C: that is its
    // success, as long as frames came.
    if (continuous() && m_outcome != Outcome::SaveFailed) {
        if (stats.frames == 0) {
            printError(QStringLiteral("no frame arrived in %1 s").arg(m_seconds, 0, 'f', 1));
            return kExitFailure;
        }
        if (!m_saveError.isEmpty()) {
            printError(m_saveError);
            return kExitFailure;
        }
        return kExitSuccess;
    }
    switch (m_outcome) {
    case Outcome::TimedOut:
        printError(QStringLiteral("timed out after %1 s with %2 of %3 frames")
                       .arg(m_options.timeoutSeconds)
                       .arg(stats.frames)
                       .arg(m_options.frames));
        if (!m_saveError.isEmpty())
            printError(m_saveError);
        return kExitFailure;
    case Outcome::Interrupted:
        printError(QStringLiteral("interrupted with %1 of %2 frames").arg(stats.frames).arg(m_options.frames));
        return kExitFailure;
    default:
        break;
    }
    if (!m_saveError.isEmpty()) {
        printError(m_saveError);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace kwcam
