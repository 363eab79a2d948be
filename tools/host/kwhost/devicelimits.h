// The bounds of a camera's exposure time and gain, as the SDK itself
// reports them: its float records carry the current value, the maximum and
// the minimum. The plug-in passes values through without telling their
// bounds, so a host asks the SDK with a handle of its own, before the
// plug-in opens the camera (a camera takes one handle at a time).
#ifndef KWHOST_DEVICELIMITS_H
#define KWHOST_DEVICELIMITS_H

#include <QtCore/QString>

namespace kwhost {

struct DeviceLimits {
    float exposure = 0;  // microseconds
    float exposureMin = 0;
    float exposureMax = 0;
    float gain = 0;  // dB
    float gainMin = 0;
    float gainMax = 0;
};

// Reads the limits of the camera with this key ("MODEL SERIAL") through the
// SDK the plug-in loaded. False with the reason when the SDK is not loaded,
// lists no such camera, or refuses to open it (also when the camera is
// open already).
bool readDeviceLimits(const QString& key, DeviceLimits* limits, QString* error);

}  // namespace kwhost

#endif  // KWHOST_DEVICELIMITS_H
