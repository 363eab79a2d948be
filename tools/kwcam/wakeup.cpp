#include "wakeup.h"

#include <QtCore/QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace kwcam {

Wakeup::Wakeup()
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        qFatal("kwcam: no pipe for waking the main thread");
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    // No arguments taken: the signal has different parameters across Qt 5.
    connect(m_notifier, &QSocketNotifier::activated, this, [this]() { drain(); });
}

Wakeup::~Wakeup()
{
    delete m_notifier;
    close(m_writeEnd);
    close(m_readEnd);
}

void Wakeup::notify() const
{
    const char byte = 1;
    ssize_t written = write(m_writeEnd, &byte, 1);
    (void)written;
}

void Wakeup::drain()
{
    char bytes[64];
    while (read(m_readEnd, bytes, sizeof bytes) > 0) {
    }
    Q_EMIT woken();
}

}  // namespace kwcam
