// Loading the plug-in as a host does: dlopen, then the two entry points by
// name. The tests, the benchmarks and the fuzz target all load it this way.
#ifndef KWCAM_TESTS_SUPPORT_PLUGINLOADER_H
#define KWCAM_TESTS_SUPPORT_PLUGINLOADER_H

#include "cameraobject.h"

namespace kwtest {

struct PluginEntries {
    CameraCreateFunc create = nullptr;
    CameraDeleteFunc destroy = nullptr;
};

// The plug-in at `path` with both entry points resolved. Nothing can run
// without them: when the library or an entry point is missing, the process
// ends with the reason on stderr.
PluginEntries loadPluginEntries(const char* path);

}  // namespace kwtest

#endif  // KWCAM_TESTS_SUPPORT_PLUGINLOADER_H
