// The plug-in's two exported entry points. Everything else a host does goes
// through the ICameraObject it receives here.
#include "camerahik.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) ICameraObject* Camera_Create(tagQZ_CAMERA_CONFIG* pConfig,
                                                                               ICameraCallback* pCallback)
{
    // The constructor reads the record at once; without one there is no
    // object to make. A null callback is fine: such an object can list and
    // open cameras, and its frames are counted but announced to nobody.
    if (pConfig == nullptr)
        return nullptr;
    return new CCameraHik(pConfig, pCallback);
}

extern "C" __attribute__((visibility("default"))) void Camera_Delete(ICameraObject* pCamera)
{
    delete pCamera;
}

// The exports have the types that hosts resolve them as.
static_assert(std::is_same<decltype(&Camera_Create), CameraCreateFunc>::value, "Camera_Create's type");
static_assert(std::is_same<decltype(&Camera_Delete), CameraDeleteFunc>::value, "Camera_Delete's type");
