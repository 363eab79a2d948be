// Choosing a camera among the listed ones and opening it: the routine every
// command of a host starts with.
#ifndef KWHOST_CAMERA_H
#define KWHOST_CAMERA_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>

#include "cameraobject.h"
#include "kwhost/plugin.h"

namespace kwhost {

// The camera keys, asked of an object made for no camera in particular, as
// hosts do to offer a choice; the object is gone before any camera is opened.
QStringList listCameras(const Plugin& plugin);

// The listed key the user meant: the same words, however spaced; an empty
// wish means the first camera. On failure returns false and the reason
// (several lines when it lists the cameras found).
bool chooseCamera(const QStringList& keys, const QString& wanted, QString* key, QString* error);

// The listed camera a short choice names (-c): an index into the list, as
// a number is written ("0", "12"; not "00" or "+1"), when the list is that
// long; else a part of exactly one key, in any case ("00a1", "4096"); a
// whole key wins over parts of others. An ambiguous part fails with the
// keys it matches.
bool chooseCameraByPart(const QStringList& keys, const QString& choice, QString* key, QString* error);

// One camera object with its configuration record, from choice to close.
// The record lives as long as the object, as the contract wants.
class Camera {
public:
    explicit Camera(const Plugin& plugin);
    ~Camera();  // deletes the object, which closes the camera
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Lists the cameras and chooses the one wanted names (see chooseCamera,
    // or chooseCameraByPart when byPart).
    bool select(const QString& wanted, QString* error, bool byPart = false);
    // The camera the shared -c names when given, else the key (empty: the
    // first listed).
    bool choose(const HostOptions& options, const QString& key, QString* error);
    // Makes the object for the selected key with callback (may be null) and
    // opens it. The callback must outlive this Camera.
    bool open(ICameraCallback* callback, QString* error);

    const QString& key() const { return m_key; }
    ICameraObject* object() const;
    ICameraObject* operator->() const { return object(); }
    tagQZ_CAMERA_CONFIG* config() { return &m_config; }

private:
    const Plugin& m_plugin;
    QString m_key;
    tagQZ_CAMERA_CONFIG m_config;
    std::unique_ptr<CameraObject> m_object;
};

}  // namespace kwhost

#endif  // KWHOST_CAMERA_H
