#include "session.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QtGlobal>

#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

#include "kwhost/camera.h"
#include "kwhost/options.h"
#include "kwhost/sdkcontrol.h"

namespace kwpy {

namespace {

std::mutex g_loadMutex;
kwhost::Plugin* g_plugin = nullptr;  // loaded once, never unloaded
QString g_sdk;                       // as the user named it, resolved
QString g_sdkWord;                   // as the user named it
QString g_pluginWanted;

thread_local LogCapture* t_capture = nullptr;
bool g_logAll = false;

// The directory of this module's library file: the installed layout is found
// from there, as a program finds it from its own directory.
QString moduleDirectory()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath();
}

QString installedOrBuilt(const char* relative, const QString& built)
{
    const QString base = moduleDirectory();
    if (!base.isEmpty()) {
        const QString installed = QDir(base).absoluteFilePath(QLatin1String(relative));
        if (QFileInfo::exists(installed))
            return QDir::cleanPath(installed);
    }
    return built;
}

// The library an SDK word names: "sim" and "genicam" installed beside the
// module's plug-in, else where the host layer finds them (the build tree's);
// any other word is a path. Empty for none.
QString sdkPath(const QString& word)
{
    if (word.isEmpty())
        return QString();
    kwhost::SdkChoice choice;
    QString error;
    if (!kwhost::sdkFromWord(word, &choice, &error))
        throw HostFailure(error);
    switch (choice.kind) {
    case kwhost::SdkKind::Simulator:
        return installedOrBuilt(KWPY_SIM_RELATIVE, kwhost::simulatorPath());
    case kwhost::SdkKind::GenICam:
        return installedOrBuilt(KWPY_GENICAM_RELATIVE, kwhost::genicamPath());
    case kwhost::SdkKind::Path:
        return choice.path;
    case kwhost::SdkKind::Default:
        break;
    }
    return QString();
}

// The plug-in's per-frame entry is "<maker> Camera image get: <time>": never
// shown, it is the frame path's own.
bool isFrameEntry(const QString& message)
{
    static const QLatin1String marker(" Camera image get:");
    const int space = message.indexOf(QLatin1Char(' '));
    return space > 0 && message.indexOf(marker, space) == space;
}

// The process's log while the module is loaded: warnings are kept as
// reasons for the errors they explain, and only critical entries are shown
// unless $KWCAMERA_LOG asks for all.
void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    (void)context;
    if (type == QtWarningMsg && isFrameEntry(message))
        return;
    if (type == QtWarningMsg || type == QtCriticalMsg)
        keepLogLine(message.trimmed());
    if (g_logAll || type == QtCriticalMsg || type == QtFatalMsg) {
        const QByteArray line = "kwcamera: " + message.trimmed().toLocal8Bit() + '\n';
        // write(2): safe on any thread, the SDK's included.
        if (::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size())) < 0)
            return;
    }
}

}  // namespace

void keepLogLine(const QString& line)
{
    if (t_capture != nullptr && !line.isEmpty())
        t_capture->m_lines << line;
}

LogCapture::LogCapture() : m_outer(t_capture)
{
    t_capture = this;
}

LogCapture::~LogCapture()
{
    t_capture = m_outer;
}

QString LogCapture::reasons() const
{
    return m_lines.join(QStringLiteral("; "));
}

const kwhost::Plugin& loadHost(const QString& sdk, const QString& plugin, QString* notice)
{
    std::lock_guard<std::mutex> lock(g_loadMutex);
    if (g_plugin != nullptr) {
        if (!sdk.isEmpty() && sdk != g_sdkWord &&
            QFileInfo(sdkPath(sdk)).canonicalFilePath() != QFileInfo(loadedSdk()).canonicalFilePath())
            throw HostFailure(
                QStringLiteral("this process already uses the SDK %1; a process binds to one SDK").arg(loadedSdk()));
        if (!plugin.isEmpty() && plugin != g_pluginWanted &&
            QFileInfo(plugin).canonicalFilePath() != QFileInfo(g_plugin->fileName()).canonicalFilePath())
            throw HostFailure(QStringLiteral("this process already uses the plug-in %1; a process loads one")
                                  .arg(g_plugin->fileName()));
        return *g_plugin;
    }

    g_logAll = !qEnvironmentVariableIsEmpty("KWCAMERA_LOG");
    qInstallMessageHandler(handleMessage);

    QString chosenSdk = sdk.isEmpty() ? qEnvironmentVariable("KWCAM_SDK") : sdk;
    const QString sdkWord = chosenSdk;
    chosenSdk = sdkPath(chosenSdk);
    QString error;
    if (!chosenSdk.isEmpty() && !kwhost::preloadSdk(chosenSdk, &error))
        throw HostFailure(error);

    QString pluginPath = plugin;
    if (pluginPath.isEmpty() && qEnvironmentVariableIsEmpty("KWCAM_PLUGIN"))
        pluginPath = installedOrBuilt(KWPY_PLUGIN_RELATIVE, QStringLiteral(KWPY_PLUGIN_BUILD_PATH));

    auto* loaded = new kwhost::Plugin;
    bool ok = loaded->load(pluginPath, &error);
    if (!ok && chosenSdk.isEmpty() && kwhost::sdkMissing(error)) {
        const QString sim = sdkPath(QStringLiteral("sim"));
        QString simError;
        if (kwhost::preloadSdk(sim, &simError)) {
            ok = loaded->load(pluginPath, &error);
            if (ok) {
                chosenSdk = sim;
                *notice = QStringLiteral("no camera SDK (libMVCameraControl.so) found; using the simulated cameras");
            }
        } else {
            error = simError;
        }
    }
    if (!ok) {
        delete loaded;
        throw HostFailure(error);
    }
    g_plugin = loaded;
    g_sdk = chosenSdk;
    g_sdkWord = sdkWord;
    g_pluginWanted = plugin;
    return *g_plugin;
}

QString loadedSdk()
{
    const QString path = kwhost::loadedSdkPath();
    return path.isEmpty() ? g_sdk : QFileInfo(path).absoluteFilePath();
}

QStringList cameraKeys(const kwhost::Plugin& plugin)
{
    const QStringList keys = kwhost::listCameras(plugin);
    if (keys.isEmpty()) {
        const QString failure = kwhost::SdkControl().listingFailure();
        if (!failure.isEmpty())
            throw HostFailure(failure);
    }
    return keys;
}

QString chooseKey(const kwhost::Plugin& plugin, const QString& choice)
{
    const QStringList keys = cameraKeys(plugin);
    QString key;
    QString error;
    const bool ok = choice.trimmed().isEmpty() ? kwhost::chooseCamera(keys, QString(), &key, &error)
                                               : kwhost::chooseCameraByPart(keys, choice, &key, &error);
    if (!ok)
        throw HostFailure(error);
    return key;
}

}  // namespace kwpy
