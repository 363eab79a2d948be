#include "qtlog.h"

#include <gst/gst.h>

#include <QtCore/QByteArray>
#include <QtCore/QtGlobal>

GST_DEBUG_CATEGORY_EXTERN(kwcamsrc_debug);
#define GST_CAT_DEFAULT kwcamsrc_debug

namespace kwgst {

namespace {

thread_local WarningCapture* t_capture = nullptr;
QtMessageHandler g_previous = nullptr;

// The plug-in's per-frame entry is "<maker> Camera image get: <time>".
bool isFrameEntry(const QString& message)
{
    static const QLatin1String marker(" Camera image get:");
    const int space = message.indexOf(QLatin1Char(' '));
    return space > 0 && message.indexOf(marker, space) == space;
}

// Any thread the plug-in logs on, the SDK's included.
void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool frameEntry = type == QtWarningMsg && isFrameEntry(message);
    if ((type == QtWarningMsg || type == QtCriticalMsg) && !frameEntry)
        noteWarning(message);
    if (g_previous != nullptr) {
        g_previous(type, context, message);
        return;
    }
    GstDebugLevel level = GST_LEVEL_DEBUG;
    switch (type) {
    case QtDebugMsg:
        level = GST_LEVEL_DEBUG;
        break;
    case QtInfoMsg:
        level = GST_LEVEL_INFO;
        break;
    case QtWarningMsg:
        level = frameEntry ? GST_LEVEL_LOG : GST_LEVEL_WARNING;
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        level = GST_LEVEL_ERROR;
        break;
    }
    // Checked here, as GStreamer's macros do: the per-frame entry costs no
    // formatting unless asked for.
    if (level <= gst_debug_category_get_threshold(kwcamsrc_debug)) {
        const QByteArray text = message.trimmed().toUtf8();
        gst_debug_log(kwcamsrc_debug, level, context.file != nullptr ? context.file : "",
                      context.function != nullptr ? context.function : "", context.line, nullptr, "%s",
                      text.constData());
    }
    if (type == QtFatalMsg)
        abort();
}

}  // namespace

void noteWarning(const QString& message)
{
    if (t_capture == nullptr)
        return;
    // The plug-in ends its entries with " - <function>".
    QString reason = message.trimmed();
    const int tail = reason.lastIndexOf(QLatin1String(" - "));
    if (tail > 0)
        reason.truncate(tail);
    reason = reason.trimmed();
    // A QString streamed into the entry comes quoted.
    if (reason.size() >= 2 && reason.startsWith(QLatin1Char('"')) && reason.endsWith(QLatin1Char('"')))
        reason = reason.mid(1, reason.size() - 2);
    t_capture->m_last = reason;
}

void installQtLog()
{
    // Qt answers its own default handler for "none installed": asked twice,
    // the second answer is that default, which the first matches when the
    // application installed nothing.
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    const QtMessageHandler builtIn = qInstallMessageHandler(nullptr);
    g_previous = current == builtIn ? nullptr : current;
    qInstallMessageHandler(handleMessage);
}

WarningCapture::WarningCapture() : m_outer(t_capture)
{
    t_capture = this;
}

WarningCapture::~WarningCapture()
{
    t_capture = m_outer;
}

}  // namespace kwgst
