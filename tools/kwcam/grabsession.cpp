#include "grabsession.h"

#include <QtCore/QTextStream>

#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "exitcodes.h"
#include "imagewriter.h"
#include "picturereport.h"

namespace kwcam {

namespace {

int contractTriggerMode(TriggerChoice trigger)
{
    switch (trigger) {
    case TriggerChoice::Hardware:
        return CameraTriggerModeHardware;
    case TriggerChoice::Software:
        return CameraTriggerModeSoftware;
    case TriggerChoice::Free:
        break;
    }
    return CameraTriggerModeFreeRun;
}

void printErr(const QString& text)
{
    const QByteArray bytes = (QStringLiteral("kwcam: ") + text + QLatin1Char('\n')).toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    fflush(stderr);
}

}  // namespace

GrabSession::GrabSession(ICameraObject* camera, FrameReceiver* receiver, const Wakeup& wakeup, const SdkControl& sdk,
                         int device, const GrabOptions& options, const QString& plugin, const QString& key,
                         const QString& deviceType)
    : m_camera(camera),
      m_receiver(receiver),
      m_sdk(sdk),
      m_device(device),
      m_options(options),
      m_plugin(plugin),
      m_key(key),
      m_deviceType(deviceType),
      m_progress(options.frames, isatty(STDERR_FILENO) != 0)
{
    // The receiver's news arrive through the wake-up, on the main thread,
    // where all of the session's work happens.
    connect(&wakeup, &Wakeup::woken, this, &GrabSession::takeNews);
    connect(&m_interrupts, &InterruptWatcher::interrupted, this, [this](int) { finish(Outcome::Interrupted); });

    m_triggerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_triggerTimer, &QTimer::timeout, this, &GrabSession::fireTrigger);
    m_progressTimer.setInterval(m_progress.intervalMs());
    connect(&m_progressTimer, &QTimer::timeout, this, &GrabSession::reportProgress);
    m_timeoutTimer.setSingleShot(true);
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this]() { finish(Outcome::TimedOut); });
}

int GrabSession::run()
{
    m_haveLostBefore = readLostCounter(&m_lostBefore);

    m_camera->m_nTriggerMode = contractTriggerMode(m_options.trigger);
    m_clock.start();
    m_startNs = steadyNowNs();
    if (!m_camera->IStartCamera()) {
        printErr(QStringLiteral("cannot start acquisition on %1 (%2)").arg(m_key, triggerDescription()));
        m_camera->ICloseCamera();
        return kExitFailure;
    }
    printErr(QStringLiteral("grabbing %1 frames from %2, %3; Ctrl-C stops")
                 .arg(m_options.frames)
                 .arg(m_key, triggerDescription()));

    const bool triggering = m_options.trigger != TriggerChoice::Free && m_options.rateHz > 0;
    if (triggering) {
        m_triggerTimer.setInterval(qMax(1, static_cast<int>(std::lround(1000.0 / m_options.rateHz))));
        m_triggerTimer.start();
        fireTrigger();
    }
    m_progressTimer.start();
    m_timeoutTimer.start(static_cast<int>(std::ceil(m_options.timeoutSeconds * 1000.0)));

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
    m_haveLostAfter = m_haveLostBefore && readLostCounter(&m_lostAfter);
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
    m_progress.report(m_receiver->framesSoFar(), m_receiver->bytesSoFar(),
                      static_cast<double>(m_clock.nsecsElapsed()) / 1e9);
}

void GrabSession::takeNews()
{
    saveCopiedFrames();
    if (m_receiver->targetReached())
        finish(Outcome::Completed);
}

void GrabSession::saveCopiedFrames()
{
    for (const FrameCopy& frame : m_receiver->takeCopiedFrames()) {
        if (!m_saveError.isEmpty())
            return;
        FrameImage image;
        image.data = frame.bytes.data();
        image.width = frame.width;
        image.height = frame.height;
        image.layout = frame.layout;
        const QString path = framePath(m_options.savePath, frame.number);
        const QString error = writeImage(path, image);
        if (!error.isEmpty()) {
            m_saveError = QStringLiteral("cannot save frame %1 to %2: %3").arg(frame.number).arg(path, error);
            finish(Outcome::SaveFailed);
            return;
        }
        ++m_framesSaved;
    }
}

bool GrabSession::readLostCounter(quint64* lost) const
{
    MvsimCounters counters;
    if (!m_sdk.counters(m_device, &counters))
        return false;
    *lost = counters.lost;
    return true;
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

    // Once the camera is closed the SDK runs no callback any more: from here
    // on the receiver's statistics and buffers belong to this thread.
    m_camera->IStopCamera();
    m_camera->ICloseCamera();
    // Frames copied before the stop may still wait for saving.
    saveCopiedFrames();
    m_progress.finish();

    const FrameStats& stats = m_receiver->stats();
    Summary summary;
    summary.plugin = m_plugin;
    summary.key = m_key;
    summary.trigger = triggerDescription();
    summary.target = m_options.frames;
    summary.stats = stats;
    summary.seconds = m_seconds;
    summary.deviceType = m_deviceType;
    summary.pictures = picturesReceived(m_device, m_startNs);
    if (m_haveLostAfter) {
        summary.lostSource = Summary::LostSource::Counters;
        summary.lost = m_lostAfter - m_lostBefore;
    } else if (stats.frames > 0 && stats.numbered) {
        summary.lostSource = Summary::LostSource::FrameNumbers;
        summary.lost = stats.missingNumbers;
    }

    if (!m_options.savePath.isEmpty() && m_saveError.isEmpty()) {
        if (savesEveryFrame(m_options.savePath)) {
            summary.saved = QStringLiteral("%1 frames as %2").arg(m_framesSaved).arg(m_options.savePath);
        } else if (m_receiver->hasLastFrame()) {
            const QString error = writeImage(m_options.savePath, m_receiver->lastFrame());
            if (error.isEmpty())
                summary.saved = QStringLiteral("%1 (frame %2)")
                                    .arg(m_options.savePath)
                                    .arg(m_receiver->lastFrameNumber());
            else
                m_saveError = QStringLiteral("cannot save the last frame to %1: %2").arg(m_options.savePath, error);
        } else {
            m_saveError = QStringLiteral("no frame to save to %1").arg(m_options.savePath);
        }
    }

    QTextStream(stdout) << formatSummary(summary);

    switch (m_outcome) {
    case Outcome::TimedOut:
        printErr(QStringLiteral("timed out after %1 s with %2 of %3 frames")
                     .arg(m_options.timeoutSeconds)
                     .arg(stats.frames)
                     .arg(m_options.frames));
        if (!m_saveError.isEmpty())
            printErr(m_saveError);
        return kExitFailure;
    case Outcome::Interrupted:
        printErr(QStringLiteral("interrupted with %1 of %2 frames").arg(stats.frames).arg(m_options.frames));
        return kExitFailure;
    default:
        break;
    }
    if (!m_saveError.isEmpty()) {
        printErr(m_saveError);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace kwcam
