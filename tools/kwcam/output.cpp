#include "output.h"

#include <atomic>
#include <cstdio>

namespace kwcam {

namespace {

std::atomic<bool> g_noticesShown{true};

}  // namespace

void writeStderr(const QByteArray& bytes)
{
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    fflush(stderr);
}

void printError(const QString& text)
{
    writeStderr((QStringLiteral("kwcam: ") + text + QLatin1Char('\n')).toLocal8Bit());
}

}  // namespace kwcam

namespace kwcam {

void printNotice(const QString& text)
{
    if (noticesShown())
        printError(text);
}

void setNoticesShown(bool shown)
{
    g_noticesShown.store(shown, std::memory_order_relaxed);
}

bool noticesShown()
{
    return g_noticesShown.load(std::memory_order_relaxed);
}

}  // namespace kwcam
