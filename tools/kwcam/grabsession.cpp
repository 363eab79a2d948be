#include "grabsession.h"

#include <QtCore/QTextStream>

#include <cmath>
#include <unistd.h>

#include "exitcodes.h"
#include "kwhost/imagewriter.h"
#include "kwhost/property.h"
#include "output.h"
#include "picturereport.h"

namespace kwcam {

GrabSession::GrabSession(const kwhost::Plugin& plugin, const Invocation& invocation)
    : m_plugin(plugin), m_host(invocation.host), m_options(invocation.grab), m_camera(plugin),
      m_progress(invocation.grab.frames, isatty(STDERR_FILENO) != 0, noticesShown())
{
    // The receiver's news arrive through the wake-up, on the main thread,
    // where all of the session's work happens.
    connect(&m_wakeup, &kwhost::SelfPipe::woken, this, &GrabSession::takeNews);
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
    if (!setUp() || !applySettings()) {
        m_camera.close();
        return kExitFailure;
    }
    if (!start())
        return kExitFailure;
    if (m_outcome == Outcome::Running)
        m_loop.exec();
    stopCamera();
    const Summary summary = summarise();
    QTextStream(stdout) << formatSummary(summary);
    return exitCode(summary);
}

// The camera chosen and open with the receiver, and the saving ready: every
// failure is said here, before acquisition starts.
bool GrabSession::setUp()
{
    QString error;
    if (!m_camera.choose(m_host, m_options.key, &error)) {
        printError(error);
        return false;
    }
    if (m_options.trigger == TriggerChoice::Hardware && m_options.rateHz > 0 && !m_camera.sdk().canPulse()) {
        printError(
            QStringLiteral("the loaded SDK cannot pulse line 0; with --rate 0 the tool waits for pulses "
                           "from outside"));
        return false;
    }
    FrameReceiver::SaveMode saveMode = FrameReceiver::SaveMode::None;
    if (!m_options.savePath.isEmpty())
        saveMode = kwhost::savesEveryFrame(m_options.savePath) ? FrameReceiver::SaveMode::EveryFrame
                                                               : FrameReceiver::SaveMode::LastFrame;
    if (saveMode == FrameReceiver::SaveMode::EveryFrame)
        m_writer.reset(
            new kwhost::FrameWriter(m_options.savePath, kwhost::kFrameWriterBudget, [this]() { m_wakeup.notify(); }));
    m_receiver.reset(new FrameReceiver(m_options.frames, m_camera.deviceLayout(), saveMode, m_wakeup, m_writer.get()));
    // The destination is checked with the device's layout before the camera
    // opens, where the SDK tells it; else with the plug-in's report, known
    // once the camera is open.
    const bool layoutKnown = m_camera.deviceLayout() != kwhost::PixelLayout::Unknown;
    if (layoutKnown && !destinationUsable())
        return false;
    if (!m_camera.open(m_receiver.get(), &error)) {
        printError(error);
        return false;
    }
    return layoutKnown || destinationUsable();
}

bool GrabSession::destinationUsable() const
{
    if (m_options.savePath.isEmpty())
        return true;
    const QString problem = kwhost::checkDestination(m_options.savePath, m_camera.layout());
    if (problem.isEmpty())
        return true;
    printError(QStringLiteral("cannot save to %1: %2").arg(m_options.savePath, problem));
    return false;
}

// Exposure and gain reach the camera twice, as a host configures them: once
// through the configuration record and IApplyParameters, which pushes both
// and reports nothing, then one by one through ISetProperty, which turns the
// automatic modes off and says whether the camera took the value.
bool GrabSession::applySettings()
{
    ICameraObject* camera = m_camera.object();
    if (m_options.exposureGiven || m_options.gainGiven) {
        // IApplyParameters would also push the value not given; it runs only
        // when that value can be kept as the device has it.
        tagQZ_CAMERA_CONFIG* config = m_camera.config();
        config->nExposureTime = m_options.exposureGiven ? m_options.exposure : 0;
        config->nGain = m_options.gainGiven ? m_options.gain : 0;
        const bool haveBoth = m_options.exposureGiven && m_options.gainGiven;
        const kwhost::Limits& kept = m_options.exposureGiven ? m_camera.gain() : m_camera.exposure();
        if (!haveBoth && kept.known) {
            (m_options.exposureGiven ? config->nGain : config->nExposureTime) =
                static_cast<int>(std::lround(kept.value));
        }
        if (haveBoth || kept.known)
            camera->IApplyParameters();
    }
    struct Setting {
        bool given;
        const char* name;
        int id;
        int value;
    };
    const Setting settings[] = {
        {m_options.exposureGiven, "exposure", CameraPropertyExposureTime, m_options.exposure},
        {m_options.gainGiven, "gain", CameraPropertyGain, m_options.gain},
        {m_options.whiteBalanceGiven, "wb-red", CameraPropertyBalanceRatioRed, m_options.whiteBalance[0]},
        {m_options.whiteBalanceGiven, "wb-green", CameraPropertyBalanceRatioGreen, m_options.whiteBalance[1]},
        {m_options.whiteBalanceGiven, "wb-blue", CameraPropertyBalanceRatioBlue, m_options.whiteBalance[2]},
    };
    bool ok = true;
    for (const Setting& setting : settings) {
        if (setting.given && !kwhost::setProperty(camera, setting.id, setting.value)) {
            printError(QStringLiteral("%1 = %2: failed").arg(QLatin1String(setting.name)).arg(setting.value));
            ok = false;
        }
    }
    return ok;
}

bool GrabSession::start()
{
    m_clock.start();
    m_startNs = steadyNowNs();
    QString error;
    if (!m_camera.start(m_options.trigger, &error)) {
        printError(QStringLiteral("%1 (%2)").arg(error, triggerDescription()));
        m_camera.close();
        return false;
    }
    const QString amount = m_options.durationSeconds > 0 ? QStringLiteral("for %1 s").arg(m_options.durationSeconds)
        : continuous()                                   ? QStringLiteral("continuously")
                                                         : QStringLiteral("%1 frames").arg(m_options.frames);
    printNotice(
        QStringLiteral("grabbing %1 from %2, %3; Ctrl-C stops").arg(amount, m_camera.key(), triggerDescription()));

    if (m_options.trigger != TriggerChoice::Free && m_options.rateHz > 0) {
        m_triggerTimer.setInterval(qMax(1, static_cast<int>(std::lround(1000.0 / m_options.rateHz))));
        m_triggerTimer.start();
        fireTrigger();
    }
    m_progressTimer.start();
    if (!continuous() || m_options.timeoutGiven)
        m_timeoutTimer.start(static_cast<int>(std::ceil(m_options.timeoutSeconds * 1000.0)));
    if (m_options.durationSeconds > 0)
        m_durationTimer.start(static_cast<int>(std::ceil(m_options.durationSeconds * 1000.0)));
    return true;
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
    m_camera.trigger();
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
    return m_camera.losses(m_receiver->framesSoFar() > 0 && m_receiver->numberedSoFar(), m_receiver->missingSoFar());
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

// Once the camera is closed the SDK runs no callback any more: from here on
// the receiver's statistics and buffers belong to this thread.
void GrabSession::stopCamera()
{
    m_triggerTimer.stop();
    m_progressTimer.stop();
    m_timeoutTimer.stop();
    m_durationTimer.stop();
    m_camera.close();
    m_progress.finish();
    endWrites();
    // What the stop cut off is told beside the losses, not among them.
    m_losses = m_losses.withEndingFrom(currentLosses());
}

Summary GrabSession::summarise()
{
    Summary summary;
    summary.plugin = m_plugin.fileName();
    summary.key = m_camera.key();
    summary.trigger = triggerDescription();
    summary.target = m_options.frames;
    summary.stats = m_receiver->stats();
    summary.seconds = m_seconds;
    if (m_camera.devicePixelType() != 0)
        summary.deviceType = kwhost::deviceTypeName(m_camera.devicePixelType());
    summary.pictures = picturesReceived(m_camera.sdk(), m_camera.device(), m_startNs);
    summary.losses = m_losses;
    saveFrames(&summary);
    return summary;
}

// The last frame is written now; every frame was written on the way.
void GrabSession::saveFrames(Summary* summary)
{
    if (m_options.savePath.isEmpty())
        return;
    if (m_writer != nullptr) {
        const kwhost::FrameWriter::Counts counts = m_writer->counts();
        m_saveError = counts.error;
        summary->everyFrame = true;
        summary->savedFrames = counts.saved;
        summary->notSaved = counts.notSaved;
        summary->abandoned = counts.abandoned;
        summary->writesAbandoned = m_writesAbandoned;
        summary->writingSeconds = counts.writingSeconds;
        summary->writingAfterSeconds = m_writingAfterSeconds;
        summary->saved = m_options.savePath;
    } else if (m_receiver->hasLastFrame()) {
        const QString path = kwhost::framePath(m_options.savePath, 0);
        const QString error = kwhost::writeImage(path, m_receiver->lastFrame());
        if (error.isEmpty())
            summary->saved = QStringLiteral("%1 (frame %2)").arg(path).arg(m_receiver->lastFrameNumber());
        else
            m_saveError = QStringLiteral("cannot save the last frame to %1: %2").arg(path, error);
    } else {
        m_saveError = QStringLiteral("no frame to save to %1").arg(m_options.savePath);
    }
}

int GrabSession::exitCode(const Summary& summary) const
{
    const quint64 frames = summary.stats.frames;
    // A grab without a frame count ends by time or by Ctrl-C: that is its
    // success, as long as frames came.
    if (continuous() && m_outcome != Outcome::SaveFailed && frames == 0) {
        printError(QStringLiteral("no frame arrived in %1 s").arg(m_seconds, 0, 'f', 1));
        return kExitFailure;
    }
    if (!continuous() && m_outcome == Outcome::TimedOut) {
        printError(QStringLiteral("timed out after %1 s with %2 of %3 frames")
                       .arg(m_options.timeoutSeconds)
                       .arg(frames)
                       .arg(m_options.frames));
        if (!m_saveError.isEmpty())
            printError(m_saveError);
        return kExitFailure;
    }
    if (!continuous() && m_outcome == Outcome::Interrupted) {
        printError(QStringLiteral("interrupted with %1 of %2 frames").arg(frames).arg(m_options.frames));
        return kExitFailure;
    }
    if (!m_saveError.isEmpty()) {
        printError(m_saveError);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace kwcam
