// Loading the camera plug-in as any host does: by path, through its two
// exported entry points. A host knows the library's file name and the
// contract, nothing else of the plug-in.
#ifndef KWHOST_PLUGIN_H
#define KWHOST_PLUGIN_H

#include <QtCore/QLibrary>
#include <QtCore/QString>

#include "cameraobject.h"
#include "kwhost/options.h"

namespace kwhost {

class Plugin {
public:
    // Loads the plug-in named by path, else by $KWCAM_PLUGIN, else the one
    // installed as ../lib/kwcamera/ relative to the program, else the one of
    // the build tree the program came from. The library stays loaded for the
    // life of the process: camera objects and the SDK's threads must never
    // outlive their code. Returns false with the reason in error.
    bool load(const QString& path, QString* error);
    QString fileName() const { return m_library.fileName(); }

    ICameraObject* create(tagQZ_CAMERA_CONFIG* config, ICameraCallback* callback) const;
    void destroy(ICameraObject* camera) const;

private:
    QLibrary m_library;
    CameraCreateFunc m_create = nullptr;
    CameraDeleteFunc m_delete = nullptr;
};

// A camera object for the length of a scope. The configuration record and
// the callback must outlive it: the object keeps pointers to both.
class CameraObject {
public:
    CameraObject(const Plugin& plugin, tagQZ_CAMERA_CONFIG* config, ICameraCallback* callback);
    ~CameraObject();
    CameraObject(const CameraObject&) = delete;
    CameraObject& operator=(const CameraObject&) = delete;

    ICameraObject* get() const { return m_camera; }
    ICameraObject* operator->() const { return m_camera; }
    explicit operator bool() const { return m_camera != nullptr; }

private:
    const Plugin& m_plugin;
    ICameraObject* m_camera;
};

// The camera SDK the plug-in binds to. The plug-in names the library
// libMVCameraControl.so and takes whichever the system's loader finds; a
// library loaded before the plug-in under that name is the one it binds to.
// The stand-in is installed where the loader does not look by itself
// (lib/kwcamera/sim/), so that a vendor's SDK comes first.

// The stand-in: installed beside the plug-in under sim/, else the one of
// the build tree the program came from.
QString simulatorPath();
// Loads the SDK library at path process-wide, before the plug-in. Returns
// false with the reason.
bool preloadSdk(const QString& path, QString* error);
// True when a plug-in failed to load (error from Plugin::load) because the
// loader found no SDK library at all.
bool sdkMissing(const QString& error);
// The GenICam SDK library: installed beside the plug-in under genicam/,
// else the one of the build tree the program came from.
QString genicamPath();
// The file of the SDK library that serves the SDK's functions in this
// process; empty before any is loaded.
QString loadedSdkPath();

// What every host does first: loads the SDK that options choose ($KWCAM_SDK
// when they choose none, with the same values), then the plug-in, which
// binds to it. With no choice at all and no SDK on the loader's path, the
// stand-in after all. sdkLine gets the one line that says which SDK is in
// use (hosts print it on stderr unless quiet). False with the reason.
bool loadPluginAndSdk(const HostOptions& options, Plugin* plugin, QString* sdkLine, QString* error);

// An empty configuration record: type, pixel format and timeout as a host
// that knows nothing of the camera yet leaves them.
tagQZ_CAMERA_CONFIG emptyConfig();

}  // namespace kwhost

#endif  // KWHOST_PLUGIN_H
