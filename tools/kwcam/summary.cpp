#include "summary.h"

#include <QtCore/QStringList>

#include "cameraobject.h"

namespace kwcam {

namespace {

const double kMiB = 1024.0 * 1024.0;

QString line(const char* name, const QString& value)
{
    return QStringLiteral("%1 %2\n").arg(QLatin1String(name) + QLatin1Char(':'), -13).arg(value);
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString pluginFormatName(int format)
{
    const QString name = CameraPixelFormatNames.value(static_cast<CameraPixelFormat>(format));
    return name.isEmpty() ? QStringLiteral("code %1").arg(format) : QStringLiteral("%1 (%2)").arg(name).arg(format);
}

}  // namespace

QString formatSummary(const Summary& summary)
{
    const FrameStats& stats = summary.stats;
    QString text;
    text += line("plug-in", summary.plugin);
    text += line("camera", summary.key);
    text += line("trigger", summary.trigger);
    text += line("frames",
                 summary.target == 0 ? QStringLiteral("%1 (no frame count)").arg(stats.frames)
                                     : QStringLiteral("%1 of %2").arg(stats.frames).arg(summary.target));
    text += line("seconds", number(summary.seconds, 3));
    // From the arrivals alone: the wait for the first frame is not part of
    // the camera's rate.
    text += line("frame rate",
                 stats.intervals > 0 && stats.sumIntervalMs > 0
                     ? number(1000.0 * static_cast<double>(stats.intervals) / stats.sumIntervalMs, 2) +
                         QStringLiteral(" fps")
                     : QStringLiteral("unknown"));
    if (stats.intervals > 0) {
        text += line("interval",
                     QStringLiteral("min %1 ms, mean %2 ms, max %3 ms")
                         .arg(number(stats.minIntervalMs, 3),
                              number(stats.sumIntervalMs / static_cast<double>(stats.intervals), 3),
                              number(stats.maxIntervalMs, 3)));
    } else {
        text += line("interval", QStringLiteral("unknown (fewer than two frames)"));
    }

    if (stats.frames > 0) {
        QString geometry = QStringLiteral("%1x%2, plug-in format %3 at %4 bits, read as %5")
                               .arg(stats.last.width)
                               .arg(stats.last.height)
                               .arg(pluginFormatName(stats.last.pluginFormat))
                               .arg(stats.last.pluginBitsPerPixel)
                               .arg(kwhost::layoutName(stats.last.layout));
        if (!summary.deviceType.isEmpty())
            geometry += QStringLiteral(" (device pixel type %1)").arg(summary.deviceType);
        if (stats.geometryChanged)
            geometry += QStringLiteral("; changed during the grab");
        text += line("geometry", geometry);
        text += line("data",
                     QStringLiteral("%1 MiB, %2 MiB/s")
                         .arg(number(static_cast<double>(stats.bytes) / kMiB, 3))
                         .arg(summary.seconds > 0 ? number(static_cast<double>(stats.bytes) / kMiB / summary.seconds, 3)
                                                  : QStringLiteral("unknown")));
    } else {
        text += line("geometry", QStringLiteral("unknown (no frame)"));
    }

    text += line("frames lost", summary.losses.text());

    const kwhost::FrameNumbers& numbers = stats.numbers;
    if (stats.frames == 0)
        text += line("in sequence", QStringLiteral("unknown (no frame)"));
    else if (!numbers.numbered())
        text += line("in sequence", QStringLiteral("unknown (frames carry no frame number)"));
    else if (numbers.inSequence())
        text += line("in sequence",
                     QStringLiteral("yes (frame numbers %1 to %2)").arg(numbers.first()).arg(numbers.last()));
    else
        text +=
            line("in sequence", QStringLiteral("no (frame numbers %1 to %2)").arg(numbers.first()).arg(numbers.last()));

    if (!summary.pictures.isEmpty())
        text += line("pictures", summary.pictures);
    if (summary.everyFrame) {
        QString saved =
            QStringLiteral("%1 of %2 frames as %3").arg(summary.savedFrames).arg(stats.frames).arg(summary.saved);
        if (summary.notSaved > 0)
            saved += QStringLiteral("; %1 not saved (writer busy or failed)").arg(summary.notSaved);
        if (summary.abandoned > 0)
            saved += QStringLiteral("; %1 queued, abandoned when the grab ended").arg(summary.abandoned);
        text += line("saved", saved);
        text += line("writing",
                     QStringLiteral("%1 s writing files, %2 s waited after the grab%3")
                         .arg(number(summary.writingSeconds, 3), number(summary.writingAfterSeconds, 3),
                              summary.writesAbandoned ? QStringLiteral(" (queue abandoned)")
                                                      : QStringLiteral(" (queue finished)")));
    } else if (!summary.saved.isEmpty()) {
        text += line("saved", summary.saved);
    }
    return text;
}

}  // namespace kwcam
