#include "messagelog.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QtGlobal>

#include <atomic>
#include <cstdlib>

#include "output.h"

namespace kwcam {

namespace {

std::atomic<bool> g_showFrameEntries{false};
std::atomic<bool> g_quiet{false};
std::atomic<bool> g_statusLineActive{false};

// The plug-in's per-frame entry is "<maker> Camera image get: <time>".
bool isFrameEntry(const QString& message)
{
    static const QLatin1String marker(" Camera image get:");
    const int space = message.indexOf(QLatin1Char(' '));
    return space > 0 && message.indexOf(marker, space) == space;
}

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "log";
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    (void)context;
    if (g_quiet.load(std::memory_order_relaxed) && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    if (type == QtWarningMsg && !g_showFrameEntries.load(std::memory_order_relaxed) && isFrameEntry(message))
        return;
    QByteArray line;
    if (g_statusLineActive.load(std::memory_order_relaxed))
        line += "\r\033[K";
    line += "kwcam: [";
    line += levelName(type);
    line += "] ";
    line += message.trimmed().toLocal8Bit();
    line += '\n';
    writeStderr(line);
    if (type == QtFatalMsg)
        abort();
}

}  // namespace

void installMessageLog(Verbosity verbosity)
{
    g_showFrameEntries.store(verbosity == Verbosity::Verbose, std::memory_order_relaxed);
    g_quiet.store(verbosity == Verbosity::Quiet, std::memory_order_relaxed);
    setNoticesShown(verbosity != Verbosity::Quiet);
    qInstallMessageHandler(handleMessage);
}

void setStatusLineActive(bool active)
{
    g_statusLineActive.store(active, std::memory_order_relaxed);
}

}  // namespace kwcam
