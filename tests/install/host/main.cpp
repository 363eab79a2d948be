// The smallest host: loads the installed plug-in, asks it for the cameras,
// prints their keys one per line.
#include <cameraobject.h>

#include <dlfcn.h>

#include <cstdio>

int main()
{
    void* library = dlopen(KWCAM_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    using Create = ICameraObject* (*)(tagQZ_CAMERA_CONFIG*, ICameraCallback*);
    using Delete = void (*)(ICameraObject*);
    const Create create = reinterpret_cast<Create>(dlsym(library, "Camera_Create"));
    const Delete destroy = reinterpret_cast<Delete>(dlsym(library, "Camera_Delete"));
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "%s has no Camera_Create or Camera_Delete\n", KWCAM_PLUGIN_PATH);
        return 1;
    }

    tagQZ_CAMERA_CONFIG config;
    config.nCameraType = CameraTypeUnknown;
    config.nCameraIndex = 0;
    config.nPixelFormat = CameraPixelFormatNone;
    config.nTimeout = 0;
    config.nExposureTime = 0;
    config.nGain = 0;
    ICameraObject* camera = create(&config, nullptr);
    if (camera == nullptr) {
        std::fprintf(stderr, "Camera_Create gave no object\n");
        return 1;
    }
    const QStringList keys = camera->IGetCameraList();
    destroy(camera);
    for (const QString& key : keys)
        std::printf("%s\n", key.toUtf8().constData());
    return keys.isEmpty() ? 1 : 0;
}
