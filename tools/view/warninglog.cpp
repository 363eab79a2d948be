#include "warninglog.h"

#include <QtCore/QByteArray>
#include <QtCore/QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kwview {

namespace {

std::mutex g_mutex;
QString g_last;
quint64 g_count = 0;
std::atomic<bool> g_quiet{false};

bool isPerFrameEntry(const QString& message)
{
    return message.contains(QLatin1String(" Camera image get:"));
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool warning = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
    if (warning && isPerFrameEntry(message))
        return;
    const QString text = message.trimmed();
    // The plug-in logs with its source file as context; Qt's own libraries
    // (built without it) do not, and their warnings are not the camera's:
    // the platform's chatter ("XDG_RUNTIME_DIR not set", the offscreen
    // platform's unsupported calls) is no news to a user, so it is not
    // printed. Fatal ones still are, before the abort.
    if (context.file == nullptr && type != QtFatalMsg)
        return;
    if (warning) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_last = text;
        ++g_count;
    }
    if (!warning && g_quiet.load(std::memory_order_relaxed))
        return;
    const QByteArray line = "kwcam-view: " + text.toLocal8Bit() + '\n';
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    if (type == QtFatalMsg)
        abort();
}

}  // namespace

void installWarningLog()
{
    qInstallMessageHandler(handleMessage);
}

void setQuietLog(bool quiet)
{
    g_quiet.store(quiet, std::memory_order_relaxed);
}

QString lastWarning(quint64* count)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (count != nullptr)
        *count = g_count;
    return g_last;
}

}  // namespace kwview
