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

QString genicamPath()
{
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(KWCAM_GENICAM_RELATIVE));
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    return QStringLiteral(KWCAM_GENICAM_BUILD_PATH);
}

QString loadedSdkPath()
{
    void* symbol = dlsym(RTLD_DEFAULT, "MV_CC_EnumDevices");
    Dl_info info;
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QString::fromLocal8Bit(info.dli_fname);
}

namespace {

// The library a choice names; empty for the loader's own. False when the
// named SDK is not there.
bool chosenLibrary(const SdkChoice& choice, QString* path, QString* what, QString* error)
{
    switch (choice.kind) {
    case SdkKind::Default:
        path->clear();
        return true;
    case SdkKind::Simulator:
        *path = simulatorPath();
        *what = QStringLiteral("the simulated cameras");
        return true;
    case SdkKind::GenICam:
        *path = genicamPath();
        *what = QStringLiteral("GenICam");
        if (!QFileInfo(*path).isFile()) {
            *error = QStringLiteral("the GenICam SDK is not installed: no %1").arg(*path);
            return false;
        }
        return true;
    case SdkKind::Path:
        *path = choice.path;
        return true;
    }
    return true;
}

}  // namespace

bool loadPluginAndSdk(const HostOptions& options, Plugin* plugin, QString* sdkLine, QString* error)
{
    SdkChoice choice = options.sdk;
    const QString fromEnvironment = QString::fromLocal8Bit(qgetenv("KWCAM_SDK"));
    if (choice.kind == SdkKind::Default && !fromEnvironment.isEmpty() && !sdkFromWord(fromEnvironment, &choice, error))
        return false;
    QString library;
    QString what;
    if (!chosenLibrary(choice, &library, &what, error))
        return false;
    // A chosen SDK is loaded first, so that the plug-in binds to it rather
    // than to what the system's loader would find.
    if (!library.isEmpty()) {
        if (!preloadSdk(library, error) || !plugin->load(options.pluginPath, error))
            return false;
        const QString loaded = loadedSdkPath();
        *sdkLine = what.isEmpty() ? QStringLiteral("SDK: %1").arg(loaded.isEmpty() ? library : loaded)
                                  : QStringLiteral("SDK: %1 (%2)").arg(what, loaded.isEmpty() ? library : loaded);
        return true;
    }
    if (plugin->load(options.pluginPath, error)) {
        *sdkLine = QStringLiteral("SDK: %1").arg(loadedSdkPath());
        return true;
    }
    if (!sdkMissing(*error))
        return false;
    error->clear();
    if (!preloadSdk(simulatorPath(), error) || !plugin->load(options.pluginPath, error))
        return false;
    *sdkLine = QStringLiteral("no camera SDK (libMVCameraControl.so) found; using the simulated cameras");
    return true;
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
