#include "kwhost/plugin.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <dlfcn.h>

namespace kwhost {

namespace {

QString defaultPluginPath()
{
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(KWCAM_PLUGIN_RELATIVE));
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    return QStringLiteral(KWCAM_PLUGIN_PATH);
}

const char kSdkFileName[] = "libMVCameraControl.so";

}  // namespace

QString simulatorPath()
{
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(KWCAM_SIM_RELATIVE));
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    return QStringLiteral(KWCAM_SIM_BUILD_PATH);
}

bool preloadSdk(const QString& path, QString* error)
{
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("cannot load the SDK %1: no such file").arg(path);
        return false;
    }
    // Never unloaded: the plug-in binds to it for the life of the process.
    if (dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_GLOBAL) == nullptr) {
        *error = QStringLiteral("cannot load the SDK %1: %2").arg(path, QString::fromLocal8Bit(dlerror()));
        return false;
    }
    return true;
}

bool sdkMissing(const QString& error)
{
    return error.contains(QLatin1String(kSdkFileName)) &&
        error.contains(QLatin1String("cannot open shared object file"));
}

bool Plugin::load(const QString& path, QString* error)
{
    QString chosen = path;
    if (chosen.isEmpty())
        chosen = QString::fromLocal8Bit(qgetenv("KWCAM_PLUGIN"));
    if (chosen.isEmpty())
        chosen = defaultPluginPath();

    // The plug-in's SDK must be visible process-wide: the tool looks up the
    // SDK's optional control functions by name once the plug-in has pulled
    // the SDK in.
    // QLibrary tries variants of a name it cannot load (other directories,
    // prefixes, suffixes) and reports the last: a path that names no file is
    // said as it was given.
    if (chosen.contains(QLatin1Char('/')) && !QFileInfo(chosen).isFile()) {
        *error =
            QStringLiteral("cannot load the plug-in %1: %2")
                .arg(chosen, QFileInfo::exists(chosen) ? QStringLiteral("not a file") : QStringLiteral("no such file"));
        return false;
    }
    m_library.setFileName(chosen);
    m_library.setLoadHints(QLibrary::ExportExternalSymbolsHint);
    if (!m_library.load()) {
        *error = QStringLiteral("cannot load the plug-in %1: %2").arg(chosen, m_library.errorString());
        return false;
    }
    m_create = reinterpret_cast<CameraCreateFunc>(m_library.resolve("Camera_Create"));
    m_delete = reinterpret_cast<CameraDeleteFunc>(m_library.resolve("Camera_Delete"));
    if (m_create == nullptr || m_delete == nullptr) {
        *error = QStringLiteral("%1 is no camera plug-in: Camera_Create or Camera_Delete is missing").arg(chosen);
        return false;
    }
    return true;
}

ICameraObject* Plugin::create(tagQZ_CAMERA_CONFIG* config, ICameraCallback* callback) const
{
    return m_create(config, callback);
}

void Plugin::destroy(ICameraObject* camera) const
{
    // The object was made by the plug-in's allocator and goes back through it.
    m_delete(camera);
}

CameraObject::CameraObject(const Plugin& plugin, tagQZ_CAMERA_CONFIG* config, ICameraCallback* callback)
    : m_plugin(plugin), m_camera(plugin.create(config, callback))
{}

CameraObject::~CameraObject()
{
    if (m_camera != nullptr)
        m_plugin.destroy(m_camera);
}

tagQZ_CAMERA_CONFIG emptyConfig()
{
    tagQZ_CAMERA_CONFIG config;
    config.nCameraType = CameraTypeUnknown;
    config.nCameraIndex = 0;
    config.nPixelFormat = CameraPixelFormatNone;
    config.nTimeout = 0;
    config.nExposureTime = 0;
    config.nGain = 0;
    return config;
}

}  // namespace kwhost
