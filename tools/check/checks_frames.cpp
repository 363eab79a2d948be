// Frames and timing: exactly the frames asked for, members that describe
// the frame being announced, numbers in sequence, pixels left alone, rates.
#include <algorithm>

#include "harness.h"
#include "kwhost/losses.h"
#include "report.h"

namespace kwcheck {

namespace {

int deviceOf(const Context& context, const QString& key)
{
    return context.sim != nullptr ? context.sim->device(key) : -1;
}

// Format and bits per pixel that hosts read for a device pixel type: the
// four types with a format of their own, everything else as 8-bit grey.
void expectedFormat(unsigned int pixelType, int* format, int* bits)
{
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
        *format = CameraPixelFormatGray8, *bits = 8;
        break;
    case MVSIM_PIXEL_RGB8:
        *format = CameraPixelFormatRgb24, *bits = 24;
        break;
    case MVSIM_PIXEL_RGBA8:
        *format = CameraPixelFormatRgb32, *bits = 32;
        break;
    case MVSIM_PIXEL_RGB16:
        *format = CameraPixelFormatGray16, *bits = 16;
        break;
    default:
        *format = CameraPixelFormatGray8, *bits = 8;
        break;
    }
}

// The members of every frame of a session opened once: pixels there, count
// up by one from 1, size and format as expected (format < 0: not known, only
// consistent with the bits).
void expectMembers(const std::vector<Frame>& frames, int width, int height, int format, int bits, Verdict* verdict)
{
    bool sizeStale = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        const QString where = QStringLiteral("frame %1: ").arg(i + 1);
        verdict->expect(f.data != nullptr, where + QStringLiteral("m_pImageData is null"));
        verdict->expect(f.frameCount == static_cast<int>(i) + 1,
                        where + QStringLiteral("m_nFrameCount is %1").arg(f.frameCount));
        verdict->expect(
            f.width == width && f.height == height,
            where + QStringLiteral("%1x%2, the device sends %3x%4").arg(f.width).arg(f.height).arg(width).arg(height));
        if (format >= 0)
            verdict->expect(f.pixelFormat == format && f.bitsPerPixel == bits,
                            where +
                                QStringLiteral("format %1 at %2 bits, expected %3 at %4")
                                    .arg(f.pixelFormat)
                                    .arg(f.bitsPerPixel)
                                    .arg(format)
                                    .arg(bits));
        else
            verdict->expect(f.bitsPerPixel > 0 && f.pixelFormat > 0,
                            where + QStringLiteral("format %1 at %2 bits").arg(f.pixelFormat).arg(f.bitsPerPixel));
        const qint64 size = static_cast<qint64>(f.width) * f.height * ((f.bitsPerPixel + 7) / 8);
        if (f.imageSize == 0 && size != 0)
            sizeStale = true;
        else
            verdict->expect(
                f.imageSize == size,
                where + QStringLiteral("m_nImageSize %1, width x height x bytes is %2").arg(f.imageSize).arg(size));
    }
    if (sizeStale)
        verdict->warnAbout(QStringLiteral("m_nImageSize stays 0 while frames come"));
}

Outcome softwareTriggers(Context& context, int n)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeSoftware, &verdict))
        return verdict.outcome();
    int resent = 0;
    for (int i = 1; i <= n; ++i) {
        if (!verdict.expect(triggerFrame(context, session, static_cast<size_t>(i), &resent),
                            QStringLiteral("trigger %1 of %2 brought no frame").arg(i).arg(n)))
            break;
    }
    session.recorder.staysQuiet();
    session->IStopCamera();
    verdict.expect(session.recorder.count() == static_cast<size_t>(n),
                   QStringLiteral("%1 frames for %2 software triggers").arg(session.recorder.count()).arg(n));
    if (resent > 0)
        verdict.warnAbout(QStringLiteral("%1 triggers brought no frame within 500 ms and were sent again: the "
                                         "camera may not take a trigger right after a frame")
                              .arg(resent));
    return verdict.outcome();
}

Outcome linePulses(Context& context)
{
    const int n = 13;
    Verdict verdict;
    Session session(context, context.key);
    const int device = deviceOf(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeHardware, &verdict))
        return verdict.outcome();
    const MvsimDeviceState state = context.sim->state(device);
    verdict.expect(state.triggerMode == 1 && state.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0,
                   QStringLiteral("the device is in trigger mode %1 from source %2, not line 0")
                       .arg(state.triggerMode)
                       .arg(state.triggerSource));
    for (int i = 1; i <= n && !verdict.failed(); ++i) {
        context.sim->waitIdle(device);
        verdict.expect(context.sim->pulse(device), QStringLiteral("pulse %1 found the device not armed").arg(i));
        verdict.expect(session.recorder.waitFor(static_cast<size_t>(i)),
                       QStringLiteral("pulse %1 brought no frame").arg(i));
    }
    session.recorder.staysQuiet();
    session->IStopCamera();
    verdict.expect(session.recorder.count() == static_cast<size_t>(n),
                   QStringLiteral("%1 frames for %2 line-0 pulses").arg(session.recorder.count()).arg(n));
    return verdict.outcome();
}

Outcome freeRunningCounters(Context& context)
{
    Verdict verdict;
    const int device = deviceOf(context, context.key);
    const MvsimCounters before = context.sim->counters(device);
    kwhost::LossWatch losses(*context.sim, device);
    losses.begin();
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    verdict.expect(session.recorder.waitFor(200), QStringLiteral("fewer than 200 frames while free-running"));
    session->IStopCamera();
    const MvsimCounters after = context.sim->counters(device);
    const unsigned long long delivered = after.delivered - before.delivered;
    verdict.expect(
        session.recorder.count() == delivered,
        QStringLiteral("the host got %1 frames, the device delivered %2").arg(session.recorder.count()).arg(delivered));
    verdict.note(QStringLiteral("%1 frames, %2").arg(delivered).arg(lossesNote(losses.sinceBegin(false, 0))));
    return verdict.outcome();
}

Outcome membersOfKey(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    const int width = session->m_nWidth;
    const int height = session->m_nHeight;
    if (!session.start(CameraTriggerModeSoftware, &verdict))
        return verdict.outcome();
    int resent = 0;
    for (int i = 1; i <= 3; ++i) {
        if (!verdict.expect(triggerFrame(context, session, static_cast<size_t>(i), &resent),
                            QStringLiteral("trigger %1 brought no frame").arg(i)))
            break;
    }
    session->IStopCamera();
    expectMembers(session.recorder.frames(), width, height, -1, 0, &verdict);
    return verdict.outcome();
}

Outcome membersOfType(Context& context, size_t index)
{
    const cameras::Typed& camera = cameras::typed()[index];
    const QString key = QString::fromLatin1(camera.key);
    Verdict verdict;
    Session session(context, key);
    const MvsimDeviceState state = context.sim->state(context.sim->device(key));
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    verdict.expect(session.recorder.waitFor(5), QStringLiteral("fewer than 5 frames"));
    session->IStopCamera();
    int format = 0;
    int bits = 0;
    expectedFormat(camera.pixelType, &format, &bits);
    std::vector<Frame> frames = session.recorder.frames();
    frames.resize(std::min<size_t>(frames.size(), 20));
    expectMembers(frames, static_cast<int>(state.width), static_cast<int>(state.height), format, bits, &verdict);
    return verdict.outcome();
}

Outcome frameCount(Context& context)
{
    // Counts on across stop and start; starts again at 1 after an open.
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    size_t expected = 0;
    for (int run = 0; run < 3 && !verdict.failed(); ++run) {
        if (run == 2) {
            session->ICloseCamera();
            session.open(&verdict);
            expected = 0;
        }
        const size_t first = session.recorder.count();
        if (!session.start(CameraTriggerModeFreeRun, &verdict))
            break;
        verdict.expect(session.recorder.waitFor(first + 10),
                       QStringLiteral("fewer than 10 frames in run %1").arg(run + 1));
        session->IStopCamera();
        const std::vector<Frame> frames = session.recorder.frames();
        for (size_t i = first; i < frames.size(); ++i) {
            ++expected;
            verdict.expect(frames[i].frameCount == static_cast<int>(expected),
                           QStringLiteral("run %1: m_nFrameCount %2 where %3 was due")
                               .arg(run + 1)
                               .arg(frames[i].frameCount)
                               .arg(expected));
        }
    }
    return verdict.outcome();
}

Outcome stampSequence(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    session.recorder.readStamps = true;
    if (!session.open(&verdict) || !session.start(CameraTriggerModeSoftware, &verdict))
        return verdict.outcome();
    const int n = 21;
    for (int i = 1; i <= n; ++i) {
        snapOnce(context, session);
        if (!verdict.expect(session.recorder.waitFor(static_cast<size_t>(i)),
                            QStringLiteral("trigger %1 brought no frame").arg(i)))
            break;
    }
    session->IStopCamera();
    const std::vector<Frame> frames = session.recorder.frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        verdict.expect(frames[i].stamped, QStringLiteral("frame %1 carries no stamp in m_pImageData").arg(i + 1));
        if (i > 0)
            verdict.expect(frames[i].stampNumber == frames[i - 1].stampNumber + 1,
                           QStringLiteral("frame %1 carries number %2 after %3")
                               .arg(i + 1)
                               .arg(frames[i].stampNumber)
                               .arg(frames[i - 1].stampNumber));
    }
    return verdict.outcome();
}

Outcome pixelsKept(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    session.recorder.keepBytes = 1 << 24;
    session.recorder.keepFor = std::chrono::milliseconds(2);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    verdict.expect(session.recorder.waitFor(20), QStringLiteral("fewer than 20 frames"));
    session->IStopCamera();
    int changed = 0;
    for (const Frame& f : session.recorder.frames())
        changed += f.pixelsKept ? 0 : 1;
    verdict.expect(changed == 0, QStringLiteral("the pixels of %1 frames changed during OnImageReady").arg(changed));
    return verdict.outcome();
}

Outcome freeRunningRate(Context& context)
{
    const int frames = 100;
    Verdict verdict;
    Session session(context, QString::fromLatin1(cameras::kRate));
    session.recorder.readStamps = true;
    if (!session.open(&verdict) || !session.start(CameraTriggerModeFreeRun, &verdict))
        return verdict.outcome();
    const bool enough = session.recorder.waitFor(frames + 1, 3000);
    session->IStopCamera();
    if (!verdict.expect(enough,
                        QStringLiteral("%1 frames in 3 s from a camera at %2 fps")
                            .arg(session.recorder.count())
                            .arg(cameras::kRateFps)))
        return verdict.outcome();
    const std::vector<Frame> seen = session.recorder.frames();
    const double seconds = std::chrono::duration<double>(seen[frames].at - seen[0].at).count();
    const double rate = frames / seconds;
    const QString text =
        QStringLiteral("%1 fps, the device runs at %2 fps").arg(rate, 0, 'f', 1).arg(cameras::kRateFps);
    const bool near = rate >= cameras::kRateFps * 0.9 && rate <= cameras::kRateFps * 1.1;
    // Frame events the host did not get still carry numbers: when those
    // kept the pace, the frames were lost to a busy machine, not slowed.
    const double events = (seen[frames].stampNumber - seen[0].stampNumber) / seconds;
    const bool eventsNear = events >= cameras::kRateFps * 0.9 && events <= cameras::kRateFps * 1.1;
    if (!near && eventsNear && seen[0].stamped)
        verdict.warnAbout(text +
                          QStringLiteral(", with %1 frames lost on the way (a busy machine?)")
                              .arg(seen[frames].stampNumber - seen[0].stampNumber - frames));
    else
        verdict.expect(near, text);
    verdict.note(text);
    return verdict.outcome();
}

Outcome triggerLatency(Context& context)
{
    const int n = 20;
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict) || !session.start(CameraTriggerModeSoftware, &verdict))
        return verdict.outcome();
    std::vector<double> latencies;
    int resent = 0;
    for (int i = 1; i <= n; ++i) {
        std::chrono::steady_clock::time_point sent;
        if (!verdict.expect(triggerFrame(context, session, static_cast<size_t>(i), &resent, &sent),
                            QStringLiteral("trigger %1 brought no frame").arg(i)))
            break;
        latencies.push_back(
            std::chrono::duration<double, std::micro>(session.recorder.frames().back().at - sent).count());
    }
    session->IStopCamera();
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        double sum = 0;
        for (double l : latencies)
            sum += l;
        verdict.note(QStringLiteral("ISnapCamera to OnImageReady: mean %1 us, median %2 us, max %3 us")
                         .arg(sum / latencies.size(), 0, 'f', 0)
                         .arg(latencies[latencies.size() / 2], 0, 'f', 0)
                         .arg(latencies.back(), 0, 'f', 0));
    }
    if (resent > 0)
        verdict.note(QStringLiteral("%1 triggers sent again").arg(resent));
    return verdict.outcome();
}

}  // namespace

void addFrameChecks(std::vector<CheckInfo>* checks)
{
    const QString group = QStringLiteral("frames");
    const char* pulses = "the simulator's line-0 pulses";
    const char* counters = "the simulator's frame counters";
    const char* cameras = "the simulator's cameras of each pixel type";
    const char* stamps = "the simulator's frame stamps";
    checks->push_back({QStringLiteral("frames.software-1"), group, nullptr, withValues<softwareTriggers, 1>});
    checks->push_back({QStringLiteral("frames.software-2"), group, nullptr, withValues<softwareTriggers, 2>});
    checks->push_back({QStringLiteral("frames.software-3"), group, nullptr, withValues<softwareTriggers, 3>});
    checks->push_back({QStringLiteral("frames.software-5"), group, nullptr, withValues<softwareTriggers, 5>});
    checks->push_back({QStringLiteral("frames.software-8"), group, nullptr, withValues<softwareTriggers, 8>});
    checks->push_back({QStringLiteral("frames.software-89"), group, nullptr, withValues<softwareTriggers, 89>});
    checks->push_back({QStringLiteral("frames.line0-pulses"), group, pulses, linePulses});
    checks->push_back({QStringLiteral("frames.free-running-counters"), group, counters, freeRunningCounters});
    checks->push_back({QStringLiteral("frames.members"), group, nullptr, membersOfKey});
    checks->push_back({QStringLiteral("frames.members-mono8"), group, cameras, withValues<membersOfType, 0>});
    checks->push_back({QStringLiteral("frames.members-rgb8"), group, cameras, withValues<membersOfType, 1>});
    checks->push_back({QStringLiteral("frames.members-rgba8"), group, cameras, withValues<membersOfType, 2>});
    checks->push_back({QStringLiteral("frames.members-rgb16"), group, cameras, withValues<membersOfType, 3>});
    checks->push_back({QStringLiteral("frames.members-mono16"), group, cameras, withValues<membersOfType, 4>});
    checks->push_back({QStringLiteral("frames.members-bayer8"), group, cameras, withValues<membersOfType, 5>});
    checks->push_back({QStringLiteral("frames.frame-count"), group, nullptr, frameCount});
    checks->push_back({QStringLiteral("frames.stamp-sequence"), group, stamps, stampSequence});
    checks->push_back({QStringLiteral("frames.pixels-kept"), group, nullptr, pixelsKept});
    checks->push_back({QStringLiteral("timing.free-running-rate"), QStringLiteral("timing"),
                       "the simulator's camera of a known rate", freeRunningRate});
    checks->push_back({QStringLiteral("timing.trigger-latency"), QStringLiteral("timing"), nullptr, triggerLatency});
}

}  // namespace kwcheck
