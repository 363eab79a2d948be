#include "progress.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include "messagelog.h"
#include "output.h"

namespace kwcam {

namespace {

const int kBarWidth = 30;
const double kMiB = 1024.0 * 1024.0;

}  // namespace

Progress::Progress(quint64 target, bool terminal, bool shown) : m_target(target), m_terminal(terminal), m_shown(shown)
{}

void Progress::report(quint64 frames, quint64 bytes, double elapsedSeconds, qint64 lost)
{
    const double span = elapsedSeconds - m_lastSeconds;
    const double fps = span > 0 ? static_cast<double>(frames - m_lastFrames) / span : 0.0;
    const double mibps = span > 0 ? static_cast<double>(bytes - m_lastBytes) / kMiB / span : 0.0;
    m_lastFrames = frames;
    m_lastBytes = bytes;
    m_lastSeconds = elapsedSeconds;
    if (!m_shown)
        return;

    QString rates = QStringLiteral("%1/%2 frames  %3 fps  %4 MiB/s")
                        .arg(frames)
                        .arg(m_target)
                        .arg(fps, 0, 'f', 1)
                        .arg(mibps, 0, 'f', 2);
    if (m_target == 0) {
        rates = QStringLiteral("%1 frames  %2 fps  %3 MiB/s  %4 lost")
                    .arg(frames)
                    .arg(fps, 0, 'f', 1)
                    .arg(mibps, 0, 'f', 2)
                    .arg(lost >= 0 ? QString::number(lost) : QStringLiteral("?"));
    }
    if (!m_terminal) {
        writeStderr(QStringLiteral("kwcam: %1  %2 s\n").arg(rates).arg(elapsedSeconds, 0, 'f', 1).toLocal8Bit());
        return;
    }
    if (m_target == 0) {
        writeStderr(QStringLiteral("\r\033[K%1  %2 s").arg(rates).arg(elapsedSeconds, 0, 'f', 0).toLocal8Bit());
        m_drawn = true;
        setStatusLineActive(true);
        return;
    }
    const int filled = m_target == 0 ? 0 : static_cast<int>(qMin<quint64>(frames, m_target) * kBarWidth / m_target);
    const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.'));
    writeStderr(QStringLiteral("\r\033[K[%1] %2").arg(bar, rates).toLocal8Bit());
    m_drawn = true;
    setStatusLineActive(true);
}

void Progress::finish()
{
    if (!m_drawn)
        return;
    setStatusLineActive(false);
    writeStderr("\r\033[K");
    m_drawn = false;
}

}  // namespace kwcam
