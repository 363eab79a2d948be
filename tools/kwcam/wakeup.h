// Wakes the main thread's event loop from another thread.
//
// The SDK's acquisition thread must never wait for the main thread, and the
// hand-over must be visible to thread checkers: a byte written into a
// non-blocking pipe, read by a socket notifier on the main thread. A full
// pipe already holds a pending wake-up, so a failed write loses nothing.
#ifndef KWCAM_WAKEUP_H
#define KWCAM_WAKEUP_H

#include <QtCore/QObject>

class QSocketNotifier;

namespace kwcam {

class Wakeup : public QObject {
    Q_OBJECT
public:
    Wakeup();
    ~Wakeup() override;
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Any thread.
    void notify() const;

Q_SIGNALS:
    // On the thread that owns the object, once for one or more notify().
    void woken();

private:
    void drain();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace kwcam

#endif  // KWCAM_WAKEUP_H
