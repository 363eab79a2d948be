// Setting a camera's properties through the contract, as every host does:
// the names the tools give them, the device's limits, and one ISetProperty.
#ifndef KWHOST_PROPERTY_H
#define KWHOST_PROPERTY_H

#include <QtCore/QString>

#include "cameraobject.h"
#include "mvcameracontrol.h"

namespace kwhost {

// The properties by name: "exposure", "gain", "wb-red", "wb-green",
// "wb-blue"; false (and id untouched) for any other name.
bool propertyFromName(const QString& name, int* id);
// The names, for messages: "exposure, gain, wb-red, wb-green, wb-blue".
QString propertyNames();

// A setting's value and limits as the device reports them (through the
// SDK, see readDevice); known is false when it does not.
struct Limits {
    bool known = false;
    float value = 0;
    float min = 0;
    float max = 0;
};
Limits limitsOf(bool known, const MVCC_FLOATVALUE& record);
// A whole value within the limits, both rounded inwards; as it is when they
// are not known.
int boundedValue(int value, const Limits& limits);

// One ISetProperty: true when the camera took the value.
bool setProperty(ICameraObject* camera, int id, int value);
// The value bounded by the limits, then set; applied gets what was sent.
bool setBounded(ICameraObject* camera, int id, int value, const Limits& limits, int* applied);

// The white-balance ratios a camera takes: 0 to this.
const int kMaxWhiteBalance = 16383;

}  // namespace kwhost

#endif  // KWHOST_PROPERTY_H
