#include "interrupt.h"

#include <QtCore/QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kwcam {

namespace {

// The pipe, shared with the handler; -1 while nobody watches.
volatile sig_atomic_t g_writeEnd = -1;
int g_readEnd = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeEnd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending stop request.
        ssize_t written = write(fd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

const int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

InterruptWatcher::InterruptWatcher()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    for (int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    g_readEnd = fds[0];
    g_writeEnd = fds[1];

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signalNumber : kSignals)
        sigaction(signalNumber, &action, nullptr);

    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    // No arguments taken: the signal has different parameters across Qt 5.
    connect(m_notifier, &QSocketNotifier::activated, this, [this]() { readPipe(); });
}

InterruptWatcher::~InterruptWatcher()
{
    if (m_notifier == nullptr)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kSignals)
        sigaction(signalNumber, &action, nullptr);
    delete m_notifier;
    const int writeEnd = g_writeEnd;
    g_writeEnd = -1;
    close(writeEnd);
    close(g_readEnd);
    g_readEnd = -1;
}

void InterruptWatcher::readPipe()
{
    unsigned char byte = 0;
    if (read(g_readEnd, &byte, 1) == 1)
        Q_EMIT interrupted(byte);
}

}  // namespace kwcam
