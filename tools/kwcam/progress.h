// The live report of a grab on stderr: a bar redrawn in place on a
// terminal, a plain line per report otherwise (logs, pipes, tests).
#ifndef KWCAM_PROGRESS_H
#define KWCAM_PROGRESS_H

#include <QtCore/QtGlobal>

namespace kwcam {

class Progress {
public:
    // shown false: reports write nothing (--quiet).
    Progress(quint64 target, bool terminal, bool shown = true);

    // How often report() is meant to be called, milliseconds.
    int intervalMs() const { return m_terminal && m_target > 0 ? 200 : 1000; }

    // Rates are over the time since the previous report. lost: frames lost
    // so far, negative when unknown. Without a target (0) the report is a
    // statistics line a second.
    void report(quint64 frames, quint64 bytes, double elapsedSeconds, qint64 lost = -1);
    // Leaves the terminal's line empty for what follows.
    void finish();

private:
    const quint64 m_target;
    const bool m_terminal;
    const bool m_shown;
    quint64 m_lastFrames = 0;
    quint64 m_lastBytes = 0;
    double m_lastSeconds = 0;
    bool m_drawn = false;
};

}  // namespace kwcam

#endif  // KWCAM_PROGRESS_H
