#include "kwhost/selfpipe.h"

#include <QtCore/QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kwhost {

namespace {

// The pipe the signal handler writes to; null while nobody forwards.
const SelfPipe* volatile g_signalPipe = nullptr;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const SelfPipe* pipe = g_signalPipe;
    if (pipe != nullptr)
        pipe->notify(static_cast<unsigned char>(signalNumber));
    errno = savedErrno;
}

const int kSignals[] = {SIGINT, SIGTERM};

void setHandler(void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    for (int signalNumber : kSignals)
        sigaction(signalNumber, &action, nullptr);
}

}  // namespace

SelfPipe::SelfPipe()
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        qFatal("no pipe for waking the event loop");
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    // No arguments taken: the signal has different parameters across Qt 5.
    connect(m_notifier, &QSocketNotifier::activated, this, [this]() { drain(); });
}

SelfPipe::~SelfPipe()
{
    delete m_notifier;
    close(m_writeEnd);
    close(m_readEnd);
}

void SelfPipe::notify(unsigned char byte) const
{
    ssize_t written = write(m_writeEnd, &byte, 1);
    (void)written;
}

void SelfPipe::drain()
{
    QByteArray bytes;
    char chunk[64];
    ssize_t n = 0;
    while ((n = read(m_readEnd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<int>(n));
    if (!bytes.isEmpty())
        Q_EMIT woken(bytes);
}

SignalForwarder::SignalForwarder(const SelfPipe& pipe)
{
    g_signalPipe = &pipe;
    setHandler(onSignal, SA_RESTART | SA_RESETHAND);
}

SignalForwarder::~SignalForwarder()
{
    setHandler(SIG_DFL, 0);
    g_signalPipe = nullptr;
}

}  // namespace kwhost
