#include "benchhost.h"

#include <QtCore/QLoggingCategory>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mvsim/control.h"

namespace kwbench {

namespace {

void discard(QtMsgType, const QMessageLogContext&, const QString&)
{}

}  // namespace

const Plugin& shippedPlugin()
{
    static const Plugin plugin = kwtest::loadPluginEntries(KWCAM_PLUGIN_PATH);
    return plugin;
}

const Plugin& streamedPlugin()
{
#ifdef KWCAM_STREAMED_PLUGIN_PATH
    static const Plugin plugin = kwtest::loadPluginEntries(KWCAM_STREAMED_PLUGIN_PATH);
#else
    static const Plugin plugin;
#endif
    return plugin;
}

DiscardingLog::DiscardingLog() : m_previous(qInstallMessageHandler(&discard))
{}

DiscardingLog::~DiscardingLog()
{
    qInstallMessageHandler(m_previous);
}

WarningsOff::WarningsOff()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
}

WarningsOff::~WarningsOff()
{
    QLoggingCategory::setFilterRules(QString());
}

void CountingHost::OnImageReady(ICameraObject* camera)
{
    m_checksum += camera->m_pImageData[0] + static_cast<unsigned>(camera->m_nWidth);
    // One writer per host (the camera's acquisition thread): a plain store,
    // not a locked read-modify-write, keeps the host's share of the frame
    // path at what a minimal host costs.
    m_frames.store(m_frames.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (m_notify.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_arrived.notify_all();
    }
}

bool CountingHost::waitBeyond(long seen)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return frames() > seen; });
}

HostCamera::HostCamera(const Plugin& p, const QString& key) : plugin(p)
{
    config.nCameraType = CameraTypeHik;
    config.strCameraKey = key;
    config.nPixelFormat = CameraPixelFormatGray8;
    object = plugin.create(&config, &host);
}

HostCamera::~HostCamera()
{
    plugin.destroy(object);
}

void resetWithDevices(int count, unsigned width, unsigned height)
{
    MVSIM_Reset();
    for (int i = 0; i < count; ++i) {
        const std::string serial = std::to_string(i);
        MvsimDeviceSetup setup;
        MVSIM_DefaultSetup(&setup, "MV-BENCH", serial.c_str());
        setup.width = width;
        setup.height = height;
        setup.frameRate = 0;
        if (MVSIM_AddDevice(&setup) < 0) {
            std::fprintf(stderr, "the stand-in refused device %d\n", i);
            std::abort();
        }
    }
}

QString benchKey(int i)
{
    return QStringLiteral("MV-BENCH %1").arg(i);
}

}  // namespace kwbench
