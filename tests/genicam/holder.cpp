// A second process that opens the emulated camera through the plug-in over
// the GenICam SDK: prints "held" and waits to be killed, or prints "refused"
// and exits 3.
#include <unistd.h>

#include <cstdio>

#include "cameraobject.h"
#include "mvcameracontrol.h"
#include "pluginloader.h"

// A use of the SDK keeps the GenICam SDK among this program's libraries
// (the linker drops unused ones), so the plug-in binds to it.
int (*const volatile g_keepSdk)(unsigned int, MV_CC_DEVICE_INFO_LIST*) = &MV_CC_EnumDevices;

int main()
{
    const kwtest::PluginEntries plugin = kwtest::loadPluginEntries(KWCAM_PLUGIN_PATH);
    tagQZ_CAMERA_CONFIG config{};
    config.nCameraType = CameraTypeHik;
    config.strCameraKey = QStringLiteral("Fake KW01");
    config.nPixelFormat = 1;
    ICameraObject* camera = plugin.create(&config, nullptr);
    if (camera->IOpenCamera() != 1) {
        std::printf("refused\n");
        std::fflush(stdout);
        plugin.destroy(camera);
        // Without freeing the refused connection at exit: that waits out a
        // refused write, and the test has no use for it.
        _exit(3);
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
