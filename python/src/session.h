// What the module takes from the host layer (tools/host) to reach a
// plug-in: choosing and loading the SDK and the plug-in once per process,
// listing and choosing cameras, and the plug-in's log. Everything here runs
// without the interpreter and reports failures as HostFailure, which the
// bindings turn into kwcamera.CameraError.
#ifndef KWPY_SESSION_H
#define KWPY_SESSION_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <stdexcept>
#include <string>

#include "kwhost/plugin.h"

namespace kwpy {

class HostFailure : public std::runtime_error {
public:
    explicit HostFailure(const QString& reason) : std::runtime_error(reason.toStdString()) {}
};

// The SDK and plug-in of this process. The first call loads them: sdk is
// "sim", "genicam", a path or empty (then $KWCAM_SDK, else the one the
// plug-in finds, else the simulator with a notice); plugin is a path or
// empty (then $KWCAM_PLUGIN, else the one installed beside the module, else
// the build tree's). A process binds to one SDK and one plug-in for its
// life: later calls that name others fail. Thread-safe. *notice gets what
// the user should hear that is no failure (the simulator taken for want of
// an SDK), else stays as it is.
const kwhost::Plugin& loadHost(const QString& sdk, const QString& plugin, QString* notice);
// The file of the SDK library the plug-in bound to.
QString loadedSdk();

// The keys as the plug-in lists them; a listing the SDK failed is a failure,
// not an empty list.
QStringList cameraKeys(const kwhost::Plugin& plugin);
// The key a choice names as kwcam -c reads it: empty for the first, an
// index, or a part of exactly one key.
QString chooseKey(const kwhost::Plugin& plugin, const QString& choice);

// Keeps a warning of the plug-in for the LogCapture of this thread.
void keepLogLine(const QString& line);

// While one lives, the warnings the plug-in logs on this thread are kept:
// the reason behind a refusal, for the error's message.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // The warnings so far, on one line; empty when there were none.
    QString reasons() const;

private:
    QStringList m_lines;
    LogCapture* m_outer;
    friend void keepLogLine(const QString& line);
};

}  // namespace kwpy

#endif  // KWPY_SESSION_H
