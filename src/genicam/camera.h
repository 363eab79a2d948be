// One SDK handle: a device chosen at MV_CC_CreateHandle, opened with its
// control privilege, its features by their GenICam names, its acquisition.
//
// Aravis is not thread-safe: every use of the ArvCamera holds m_lock. The
// lock is never held while waiting for the stream's thread (that thread may
// be in the image callback, calling back into this camera).
#ifndef KWCAM_GENICAM_CAMERA_H
#define KWCAM_GENICAM_CAMERA_H

#include <memory>
#include <mutex>
#include <string>

#include <arv.h>

#include "mvcameracontrol.h"
#include "stream.h"

namespace genicam {

class Camera {
public:
    Camera(std::string deviceId, unsigned int transport);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int open(unsigned int accessMode);
    // Stops grabbing and gives up the device; the handle may be opened again.
    int close();

    int registerCallback(MvImageCallback callback, void* user);
    int width(MVCC_INTVALUE* value);
    int height(MVCC_INTVALUE* value);
    int pixelFormat(MVCC_ENUMVALUE* value);
    int setExposure(float value);
    int exposure(MVCC_FLOATVALUE* value);
    int setGain(float value);
    int gain(MVCC_FLOATVALUE* value);
    int setExposureAuto(unsigned int mode);
    int setBalanceWhiteAuto(unsigned int mode);
    int setBalanceRatio(const char* channel, unsigned int value);
    int setEnum(const char* key, unsigned int value);
    int command(const char* key);
    int startGrabbing();
    int stopGrabbing();

private:
    int regionSide(bool horizontal, MVCC_INTVALUE* value);
    // What a call needs before it touches the device; with m_lock held.
    int usable() const;
    // The result of a device call: MV_OK, or the code for its error (a
    // time-out marks the device gone, so that later calls fail at once).
    int result(GError* error);
    bool has(const char* feature);
    int setEnumEntry(const char* feature, const char* entry);
    // Stops the acquisition with m_lock held and returns the stream that
    // must be freed off the lock (on the reaper when on the stream's thread).
    std::shared_ptr<Stream> detachStream();
    static void release(std::shared_ptr<Stream> stream, bool lost);

    const std::string m_deviceId;
    const unsigned int m_transport;
    std::mutex m_lock;
    ArvCamera* m_camera = nullptr;
    gulong m_lostHandler = 0;
    LostFlag m_lost;
    MvImageCallback m_callback = nullptr;
    void* m_user = nullptr;
    std::shared_ptr<Stream> m_stream;
};

}  // namespace genicam

#endif  // KWCAM_GENICAM_CAMERA_H
