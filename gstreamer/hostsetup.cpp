#include "hostsetup.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>

#include "kwhost/plugin.h"

namespace kwgst {

namespace {

// The directory of the library this code is linked into.
QString ownDirectory()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ownDirectory), &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

// The installed file at relative (from the element's directory), else the
// build tree's.
QString installedOr(const char* relative, const char* buildPath)
{
    const QString dir = ownDirectory();
    if (!dir.isEmpty()) {
        const QString installed = QDir(dir).absoluteFilePath(QString::fromUtf8(relative));
        if (QFileInfo::exists(installed))
            return QDir::cleanPath(installed);
    }
    return QString::fromUtf8(buildPath);
}

QString simulatorPath()
{
    return installedOr(KWGST_SIM_RELATIVE, KWGST_SIM_BUILD_PATH);
}

bool resolveSdk(QString choice, QString* path, QString* error)
{
    // As every host: with no choice of its own, $KWCAM_SDK's.
    QString source = QStringLiteral("sdk");
    if (choice.isEmpty()) {
        choice = QString::fromLocal8Bit(qgetenv("KWCAM_SDK"));
        source = QStringLiteral("$KWCAM_SDK");
    }
    if (choice.isEmpty() || choice.contains(QLatin1Char('/'))) {
        *path = choice;
        return true;
    }
    if (choice == QLatin1String("sim")) {
        *path = simulatorPath();
        return true;
    }
    if (choice == QLatin1String("genicam")) {
        *path = installedOr(KWGST_GENICAM_RELATIVE, KWGST_GENICAM_BUILD_PATH);
        if (!path->isEmpty() && QFileInfo::exists(*path))
            return true;
        *error = QStringLiteral("the GenICam SDK is not installed beside kwcamsrc");
        return false;
    }
    *error = QStringLiteral("%1 '%2': give sim, genicam or the path of an SDK library").arg(source, choice);
    return false;
}

// The file of the SDK the process has bound the SDK's functions to, or empty
// when none is loaded.
QString boundSdk()
{
    void* symbol = dlsym(RTLD_DEFAULT, "MV_CC_EnumDevices");
    Dl_info info;
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QString::fromLocal8Bit(info.dli_fname);
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

std::mutex g_mutex;
// Plug-ins by the path they were asked for; never unloaded, as SDK threads
// must not outlive their code.
std::map<QString, std::unique_ptr<kwhost::Plugin>> g_plugins;

}  // namespace

const kwhost::Plugin* loadHost(const QString& sdkChoice, const QString& pluginPath, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    QString sdk;
    if (!resolveSdk(sdkChoice, &sdk, error))
        return nullptr;
    const QString bound = boundSdk();
    if (!sdk.isEmpty()) {
        if (bound.isEmpty()) {
            if (!kwhost::preloadSdk(sdk, error))
                return nullptr;
        } else if (!sameFile(bound, sdk)) {
            *error = QStringLiteral("this process already uses the SDK %1; it cannot load %2 as well").arg(bound, sdk);
            return nullptr;
        }
    }

    QString chosen = pluginPath;
    if (chosen.isEmpty())
        chosen = QString::fromLocal8Bit(qgetenv("KWCAM_PLUGIN"));
    if (chosen.isEmpty())
        chosen = installedOr(KWGST_PLUGIN_RELATIVE, KWGST_PLUGIN_BUILD_PATH);
    auto found = g_plugins.find(chosen);
    if (found != g_plugins.end())
        return found->second.get();

    auto plugin = std::make_unique<kwhost::Plugin>();
    if (!plugin->load(chosen, error)) {
        // As kwcam does: with no SDK on the loader's path, the simulator.
        if (!sdk.isEmpty() || !kwhost::sdkMissing(*error) || !kwhost::preloadSdk(simulatorPath(), error) ||
            !plugin->load(chosen, error))
            return nullptr;
    }
    return g_plugins.emplace(chosen, std::move(plugin)).first->second.get();
}

}  // namespace kwgst
