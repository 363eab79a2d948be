// The smallest complete host: loads the plug-in, opens the first camera,
// receives five frames free-running, stops and cleans up.
#include <cameraobject.h>

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

// OnImageReady runs on the SDK's thread while the frame is valid: read the
// members, copy what is needed, return quickly. Never wait here for the
// thread that calls IStopCamera.
class Receiver : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (frames < 5)
            std::printf("frame %dx%d, %d bytes\n", camera->m_nWidth, camera->m_nHeight, camera->m_nImageSize);
        ++frames;
        arrived.notify_all();
    }
    std::mutex mutex;
    std::condition_variable arrived;
    int frames = 0;
};

int main(int, char* argv[])
{
    const char* program = argv[0];
    void* plugin = dlopen(KWCAM_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);  // kept loaded until exit
    if (plugin == nullptr) {
        const char* reason = dlerror();
        std::fprintf(stderr, "cannot load the plug-in: %s\n", reason);
        // The plug-in binds to the camera SDK the loader finds; the simulated
        // cameras' SDK is installed out of its way.
        if (std::strstr(reason, "libMVCameraControl.so") != nullptr)
            std::fprintf(stderr, "no camera SDK found; for the simulated cameras run: LD_LIBRARY_PATH=%s %s\n",
                         KWCAM_SIMULATOR_DIR, program);
        return 1;
    }
    const auto create = reinterpret_cast<CameraCreateFunc>(dlsym(plugin, "Camera_Create"));
    const auto destroy = reinterpret_cast<CameraDeleteFunc>(dlsym(plugin, "Camera_Delete"));
    if (create == nullptr || destroy == nullptr)
        return 1;

    // The record and the callback must outlive the object.
    tagQZ_CAMERA_CONFIG config{};
    config.nCameraType = CameraTypeUnknown;
    config.nPixelFormat = CameraPixelFormatNone;
    Receiver receiver;
    ICameraObject* camera = create(&config, &receiver);
    const QStringList keys = camera->IGetCameraList();
    if (keys.isEmpty()) {
        std::fprintf(stderr, "no cameras\n");
        destroy(camera);
        return 1;
    }
    config.strCameraKey = keys.first();  // "MODEL SERIAL"
    std::printf("camera %s\n", keys.first().toUtf8().constData());
    if (!camera->IOpenCamera()) {
        destroy(camera);
        return 1;
    }
    // A new object asks for hardware triggering: choose free-running.
    camera->m_nTriggerMode = CameraTriggerModeFreeRun;
    bool ok = camera->IStartCamera() != 0;
    if (ok) {
        std::unique_lock<std::mutex> lock(receiver.mutex);
        ok = receiver.arrived.wait_for(lock, std::chrono::seconds(10), [&] { return receiver.frames >= 5; });
    }
    camera->IStopCamera();  // no callback runs after it returns
    camera->ICloseCamera();
    destroy(camera);
    std::printf("%d frames\n", ok ? 5 : receiver.frames);
    return ok ? 0 : 1;
}
