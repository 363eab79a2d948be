// Turns SIGINT and SIGTERM into a Qt signal on the main thread.
//
// The signal handler only writes the signal number into a pipe (write is
// async-signal-safe); a socket notifier on the pipe's other end hands it to
// the event loop, where stopping the camera is safe. The handler resets
// itself, so a second Ctrl-C ends a tool that no longer responds.
#ifndef KWCAM_INTERRUPT_H
#define KWCAM_INTERRUPT_H

#include <QtCore/QObject>

class QSocketNotifier;

namespace kwcam {

class InterruptWatcher : public QObject {
    Q_OBJECT
public:
    InterruptWatcher();
    ~InterruptWatcher() override;
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

Q_SIGNALS:
    void interrupted(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace kwcam

#endif  // KWCAM_INTERRUPT_H
