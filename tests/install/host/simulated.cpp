// A host's test over the simulated cameras, built against the installed
// package: links the simulator (KwCamera::simulator), adds a device of its
// own through the control interface and finds its key through the plug-in.
#include <cameraobject.h>
#include <mvsim/control.h>

#include <dlfcn.h>

#include <cstdio>

int main()
{
    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "HOST-TEST", "T0001");
    if (MVSIM_AddDevice(&setup) < 0) {
        std::fprintf(stderr, "MVSIM_AddDevice refused the device\n");
        return 1;
    }
    void* library = dlopen(KWCAM_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    const auto create = reinterpret_cast<CameraCreateFunc>(dlsym(library, "Camera_Create"));
    const auto destroy = reinterpret_cast<CameraDeleteFunc>(dlsym(library, "Camera_Delete"));
    if (create == nullptr || destroy == nullptr)
        return 1;
    tagQZ_CAMERA_CONFIG config{};
    ICameraObject* camera = create(&config, nullptr);
    const QStringList keys = camera->IGetCameraList();
    destroy(camera);
    for (const QString& key : keys)
        std::printf("%s\n", key.toUtf8().constData());
    return keys == QStringList{QStringLiteral("HOST-TEST T0001")} ? 0 : 1;
}
