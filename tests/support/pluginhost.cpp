#include "pluginhost.h"

#include "kwhost/plugin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace kwtest {

const PluginEntries& Plugin::get()
{
    static const PluginEntries plugin = loadPluginEntries(KWCAM_PLUGIN_PATH);
    return plugin;
}

namespace {
// The handler runs on acquisition threads too: a capture is installed,
// used and removed under this lock, so that no handler still running can
// reach a capture that is gone.
std::mutex g_captureMutex;
LogCapture* g_capture = nullptr;
}  // namespace

LogCapture::LogCapture(FrameEntries frames) : m_frames(frames)
{
    std::lock_guard<std::mutex> lock(g_captureMutex);
    g_capture = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(g_captureMutex);
    qInstallMessageHandler(m_previous);
    g_capture = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    std::lock_guard<std::mutex> captureLock(g_captureMutex);
    LogCapture* capture = g_capture;
    if (capture == nullptr)
        return;
    const bool frameEntry = text.startsWith(QLatin1String(kFrameEntryPrefix));
    if (frameEntry && capture->m_frames == FrameEntries::Count) {
        std::lock_guard<std::mutex> lock(capture->m_mutex);
        ++capture->m_frameEntries;
        return;
    }
    LogEntry entry{type,
                   text,
                   QString::fromUtf8(context.file ? context.file : ""),
                   context.line,
                   QString::fromUtf8(context.function ? context.function : ""),
                   QString::fromUtf8(context.category ? context.category : "")};
    std::lock_guard<std::mutex> lock(capture->m_mutex);
    if (frameEntry)
        ++capture->m_frameEntries;
    capture->m_entries.push_back(entry);
}

std::vector<LogEntry> LogCapture::all() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

QStringList LogCapture::lines() const
{
    QStringList result;
    for (const LogEntry& entry : all()) {
        if (entry.text.startsWith(QLatin1String(kFrameEntryPrefix)))
            continue;
        const char* level = entry.type == QtWarningMsg ? "W: " : entry.type == QtDebugMsg ? "D: " : "?: ";
        result.append(QString::fromLatin1(level) + entry.text);
    }
    return result;
}

long LogCapture::frameEntries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frameEntries;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_frameEntries = 0;
}

QString warning(const QString& text)
{
    return QStringLiteral("W: ") + text;
}

QString debug(const QString& text)
{
    return QStringLiteral("D: ") + text;
}

RecordingCallback::RecordingCallback()
{
    beforeRecording = [this](ICameraObject* camera) {
        if (onFrame)
            onFrame(camera);
    };
}

tagQZ_CAMERA_CONFIG hostConfig(const QString& key, int pixelFormat)
{
    tagQZ_CAMERA_CONFIG config = kwhost::emptyConfig();
    config.nCameraType = CameraTypeHik;
    config.strCameraName = QStringLiteral("test camera");
    config.strCameraKey = key;
    config.nPixelFormat = pixelFormat;
    config.nTimeout = 1000;
    return config;
}

int resetWithOneDevice()
{
    MVSIM_Reset();
    const MvsimDeviceSetup setup = deviceSetup("MV-TEST", "0001");
    const int id = MVSIM_AddDevice(&setup);
    MVSIM_ClearCallLog();
    return id;
}

}  // namespace kwtest
