// The 21 SDK functions over Aravis. Each validates its handle against the
// registry of live handles (a stale or foreign pointer is refused, never
// dereferenced) and lets no exception out.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#pragma GCC visibility push(default)
#include "mvcameracontrol.h"
#pragma GCC visibility pop

#include "camera.h"
#include "discovery.h"

namespace genicam {
namespace {

// Handles are tokens, never addresses: a destroyed handle's value is not
// given out again, so a stale one cannot reach another camera.
class Registry {
public:
    void* add(std::shared_ptr<Camera> camera)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_next += 16;
        void* handle = reinterpret_cast<void*>(m_next);
        m_cameras.emplace(handle, std::move(camera));
        return handle;
    }
    std::shared_ptr<Camera> find(void* handle)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto it = m_cameras.find(handle);
        return it == m_cameras.end() ? nullptr : it->second;
    }
    std::shared_ptr<Camera> take(void* handle)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto it = m_cameras.find(handle);
        if (it == m_cameras.end())
            return nullptr;
        std::shared_ptr<Camera> camera = std::move(it->second);
        m_cameras.erase(it);
        return camera;
    }

private:
    std::mutex m_mutex;
    std::map<void*, std::shared_ptr<Camera>> m_cameras;
    std::uintptr_t m_next = 0x6b770000;
};

Registry& registry()
{
    static Registry* instance = new Registry;  // outlives every static destructor that may call in
    return *instance;
}

template <typename F> int guarded(F&& f) noexcept
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return MV_E_RESOURCE;
    } catch (...) {
        return MV_E_DEVICE;
    }
}

template <typename F> int onCamera(void* handle, F&& f) noexcept
{
    return guarded([&] {
        const std::shared_ptr<Camera> camera = registry().find(handle);
        if (!camera)
            return MV_E_HANDLE;
        return f(*camera);
    });
}

}  // namespace
}  // namespace genicam

using genicam::Camera;
using genicam::onCamera;

extern "C" {

int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList)
{
    return genicam::guarded([&] { return genicam::enumerate(nTLayerType, pstDevList); });
}

int MV_CC_CreateHandle(void** phHandle, const MV_CC_DEVICE_INFO* pstDevInfo)
{
    return genicam::guarded([&] {
        if (phHandle == nullptr || pstDevInfo == nullptr)
            return MV_E_PARAMETER;
        std::string id;
        unsigned int transport = 0;
        if (!genicam::deviceOf(pstDevInfo, &id, &transport))
            return MV_E_NODEVICE;
        *phHandle = genicam::registry().add(std::make_shared<Camera>(id, transport));
        return MV_OK;
    });
}

int MV_CC_OpenDevice(void* hHandle, unsigned int nAccessMode, unsigned short)
{
    return onCamera(hHandle, [&](Camera& c) { return c.open(nAccessMode); });
}

int MV_CC_RegisterImageCallBack(void* hHandle,
                                void (*cbOutput)(unsigned char* pData, _MV_FRAME_OUT_INFO_* pFrameInfo, void* pUser),
                                void* pUser)
{
    return onCamera(hHandle, [&](Camera& c) { return c.registerCallback(cbOutput, pUser); });
}

int MV_CC_DestroyHandle(void* hHandle)
{
    return genicam::guarded([&] {
        const std::shared_ptr<Camera> camera = genicam::registry().take(hHandle);
        if (!camera)
            return MV_E_HANDLE;
        // From inside the image callback too: the stream is then freed by
        // the reaper, and the camera object goes with the last call that
        // still uses it.
        return camera->close();
    });
}

// The handle is checked before the record pointer.
#define KWCAM_RECORD_CALL(call)                                                                                        \
    return onCamera(hHandle, [&](Camera& c) { return pstValue == nullptr ? MV_E_PARAMETER : c.call(pstValue); })

int MV_CC_GetWidth(void* hHandle, MVCC_INTVALUE* pstValue)
{
    KWCAM_RECORD_CALL(width);
}

int MV_CC_GetHeight(void* hHandle, MVCC_INTVALUE* pstValue)
{
    KWCAM_RECORD_CALL(height);
}

int MV_CC_GetPixelFormat(void* hHandle, MVCC_ENUMVALUE* pstValue)
{
    KWCAM_RECORD_CALL(pixelFormat);
}

int MV_CC_GetExposureTime(void* hHandle, MVCC_FLOATVALUE* pstValue)
{
    KWCAM_RECORD_CALL(exposure);
}

int MV_CC_GetGain(void* hHandle, MVCC_FLOATVALUE* pstValue)
{
    KWCAM_RECORD_CALL(gain);
}

#undef KWCAM_RECORD_CALL

int MV_CC_SetExposureTime(void* hHandle, float fValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setExposure(fValue); });
}

int MV_CC_SetGain(void* hHandle, float fValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setGain(fValue); });
}

int MV_CC_SetExposureAutoMode(void* hHandle, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setExposureAuto(nValue); });
}

int MV_CC_SetBalanceWhiteAuto(void* hHandle, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setBalanceWhiteAuto(nValue); });
}

int MV_CC_SetBalanceRatioRed(void* hHandle, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setBalanceRatio("Red", nValue); });
}

int MV_CC_SetBalanceRatioGreen(void* hHandle, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setBalanceRatio("Green", nValue); });
}

int MV_CC_SetBalanceRatioBlue(void* hHandle, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return c.setBalanceRatio("Blue", nValue); });
}

int MV_CC_SetEnumValue(void* hHandle, const char* strKey, unsigned int nValue)
{
    return onCamera(hHandle, [&](Camera& c) { return strKey == nullptr ? MV_E_PARAMETER : c.setEnum(strKey, nValue); });
}

int MV_CC_SetCommandValue(void* hHandle, const char* strKey)
{
    return onCamera(hHandle, [&](Camera& c) { return strKey == nullptr ? MV_E_PARAMETER : c.command(strKey); });
}

int MV_CC_StartGrabbing(void* hHandle)
{
    return onCamera(hHandle, [&](Camera& c) { return c.startGrabbing(); });
}

int MV_CC_StopGrabbing(void* hHandle)
{
    return onCamera(hHandle, [&](Camera& c) { return c.stopGrabbing(); });
}

}  // extern "C"
