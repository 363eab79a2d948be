#include "hostsetup.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>

#include "kwhost/options.h"
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

// The library an sdk word names, as the host layer reads the words; empty
// for the loader's own.
bool resolveSdk(QString word, QString* path, QString* error)
{
    // As every host: with no choice of its own, $KWCAM_SDK's.
    if (word.isEmpty())
        word = QString::fromLocal8Bit(qgetenv("KWCAM_SDK"));
    path->clear();
    if (word.isEmpty())
        return true;
    kwhost::SdkChoice choice;
    if (!kwhost::sdkFromWord(word, &choice, error))
        return false;
    switch (choice.kind) {
    case kwhost::SdkKind::Default:
        break;
    case kwhost::SdkKind::Simulator:
        *path = simulatorPath();
        break;
    case kwhost::SdkKind::GenICam:
        *path = installedOr(KWGST_GENICAM_RELATIVE, KWGST_GENICAM_BUILD_PATH);
        if (!QFileInfo(*path).isFile()) {
            *error = QStringLiteral("the GenICam SDK is not installed: no %1").arg(*path);
            return false;
        }
        break;
    case kwhost::SdkKind::Path:
        *path = choice.path;
        break;
    }
    return true;
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
    const QString bound = kwhost::loadedSdkPath();
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
