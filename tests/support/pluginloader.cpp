#include "pluginloader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace kwtest {

PluginEntries loadPluginEntries(const char* path)
{
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load the plug-in %s: %s\n", path, dlerror());
        std::abort();
    }
    PluginEntries plugin;
    plugin.create = reinterpret_cast<CameraCreateFunc>(dlsym(library, "Camera_Create"));
    plugin.destroy = reinterpret_cast<CameraDeleteFunc>(dlsym(library, "Camera_Delete"));
    if (plugin.create == nullptr || plugin.destroy == nullptr) {
        std::fprintf(stderr, "the plug-in %s lacks Camera_Create or Camera_Delete\n", path);
        std::abort();
    }
    return plugin;
}

}  // namespace kwtest
