// Wakes the event loop of the thread that owns the object from another
// thread or from a signal handler.
//
// notify() writes one byte into a non-blocking pipe (write is
// async-signal-safe, and the hand-over is visible to thread checkers); a
// socket notifier on the read end drains the pipe on the owner's thread and
// emits woken() with the bytes read. A full pipe already holds a pending
// wake-up, so a failed write loses nothing but a repeated byte.
//
// SignalForwarder routes SIGINT and SIGTERM into such a pipe, the signal's
// number as the byte, so that a host stops its camera from its event loop
// rather than from the handler.
#ifndef KWHOST_SELFPIPE_H
#define KWHOST_SELFPIPE_H

#include <QtCore/QByteArray>
#include <QtCore/QObject>

class QSocketNotifier;

namespace kwhost {

class SelfPipe : public QObject {
    Q_OBJECT
public:
    SelfPipe();
    ~SelfPipe() override;
    SelfPipe(const SelfPipe&) = delete;
    SelfPipe& operator=(const SelfPipe&) = delete;

    // Any thread, also a signal handler.
    void notify(unsigned char byte = 1) const;

Q_SIGNALS:
    // On the owner's thread, once for one or more notify(); bytes in order.
    void woken(const QByteArray& bytes);

private:
    void drain();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

// While it lives, SIGINT and SIGTERM write their number into pipe. The
// handlers reset themselves, so a second signal ends a program that no
// longer responds; the destructor restores the default actions. One at a
// time per process.
class SignalForwarder {
public:
    explicit SignalForwarder(const SelfPipe& pipe);
    ~SignalForwarder();
    SignalForwarder(const SignalForwarder&) = delete;
    SignalForwarder& operator=(const SignalForwarder&) = delete;
};

}  // namespace kwhost

#endif  // KWHOST_SELFPIPE_H
