// Which SDK and plug-in the element loads, found from where the element's
// own library lies (a GStreamer element has no program directory of its
// own: gst-launch-1.0 lives in bin/ of another prefix).
//
// The host layer reads the SDK words and finds the loaded SDK; where the
// files lie it answers relative to the program (QCoreApplication), which
// for an element is GStreamer's or the application's: this part stays here.
#ifndef KWGST_HOSTSETUP_H
#define KWGST_HOSTSETUP_H

#include <QtCore/QString>

namespace kwhost {
class Plugin;
}

namespace kwgst {

// The plug-in, loaded once per path for the life of the process, bound to
// the SDK sdkChoice names: "" the one the system's loader finds (the
// simulator when there is none), "sim", "genicam" or a library's path.
// pluginPath "" means $KWCAM_PLUGIN, else the one installed beside the
// element, else the build tree's. Any thread. Null with the reason in error;
// a process binds to one SDK: asking for another one later fails.
const kwhost::Plugin* loadHost(const QString& sdkChoice, const QString& pluginPath, QString* error);

}  // namespace kwgst

#endif  // KWGST_HOSTSETUP_H
