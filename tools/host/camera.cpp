#include "kwhost/camera.h"

#include <QtCore/QRegularExpression>

#include "kwhost/sdkcontrol.h"

namespace kwhost {

QStringList listCameras(const Plugin& plugin)
{
    tagQZ_CAMERA_CONFIG config = emptyConfig();
    CameraObject lister(plugin, &config, nullptr);
    if (!lister)
        return QStringList();
    return lister->IGetCameraList();
}

bool chooseCamera(const QStringList& keys, const QString& wanted, QString* key, QString* error)
{
    if (keys.isEmpty()) {
        const QString failure = SdkControl().listingFailure();
        *error = failure.isEmpty() ? QStringLiteral("no cameras found") : failure;
        return false;
    }
    if (wanted.trimmed().isEmpty()) {
        *key = keys.first();
        return true;
    }
    for (const QString& candidate : keys) {
        if (candidate.simplified() == wanted.simplified()) {
            *key = candidate;
            return true;
        }
    }
    *error = QStringLiteral("no camera '%1'; cameras found:\n  %2").arg(wanted, keys.join(QStringLiteral("\n  ")));
    return false;
}

bool chooseCameraByPart(const QStringList& keys, const QString& choice, QString* key, QString* error)
{
    if (keys.isEmpty())
        return chooseCamera(keys, choice, key, error);
    const QString wanted = choice.simplified();
    // An index is written as a number is: digits, no sign, no leading zero.
    static const QRegularExpression indexForm(QStringLiteral("^(0|[1-9][0-9]{0,8})$"));
    const bool numeric = indexForm.match(wanted).hasMatch();
    const int index = numeric ? wanted.toInt() : -1;
    if (numeric && index < keys.size()) {
        *key = keys.at(index);
        return true;
    }
    QStringList matches;
    for (const QString& candidate : keys) {
        if (candidate.simplified() == wanted) {
            *key = candidate;
            return true;
        }
        if (!wanted.isEmpty() && candidate.contains(wanted, Qt::CaseInsensitive))
            matches << candidate;
    }
    if (matches.size() == 1) {
        *key = matches.first();
        return true;
    }
    if (matches.isEmpty() && numeric)
        *error = QStringLiteral("no camera %1: %2 listed, numbered from 0, and no key contains '%1'")
                     .arg(wanted)
                     .arg(keys.size());
    else if (matches.isEmpty())
        *error = QStringLiteral("no camera matches '%1'; cameras found:\n  %2")
                     .arg(choice, keys.join(QStringLiteral("\n  ")));
    else
        *error = QStringLiteral("'%1' matches %2 cameras:\n  %3")
                     .arg(choice)
                     .arg(matches.size())
                     .arg(matches.join(QStringLiteral("\n  ")));
    return false;
}

Camera::Camera(const Plugin& plugin) : m_plugin(plugin), m_config(emptyConfig())
{}

Camera::~Camera() = default;

bool Camera::select(const QString& wanted, QString* error, bool byPart)
{
    const QStringList keys = listCameras(m_plugin);
    return byPart ? chooseCameraByPart(keys, wanted, &m_key, error) : chooseCamera(keys, wanted, &m_key, error);
}

bool Camera::open(ICameraCallback* callback, QString* error)
{
    m_config.strCameraKey = m_key;
    m_object.reset(new CameraObject(m_plugin, &m_config, callback));
    if (!*m_object) {
        m_object.reset();
        *error = QStringLiteral("the plug-in made no camera object");
        return false;
    }
    if (!(*m_object)->IOpenCamera()) {
        *error = QStringLiteral("cannot open camera %1").arg(m_key);
        return false;
    }
    return true;
}

ICameraObject* Camera::object() const
{
    return m_object ? m_object->get() : nullptr;
}

bool Camera::choose(const HostOptions& options, const QString& key, QString* error)
{
    const bool byPart = !options.camera.isNull();
    return select(byPart ? options.camera : key, error, byPart);
}

}  // namespace kwhost
