// A device's report as short texts, shared by kwcam info, list --long and
// the ranges in set's failures.
#ifndef KWCAM_DEVICEVIEW_H
#define KWCAM_DEVICEVIEW_H

#include <QtCore/QString>

#include "kwhost/sdkdevice.h"

namespace kwcam {

// "1280x1024 (width 64 to 4096, height 64 to 3000)" or parts unknown.
QString geometryText(const kwhost::DeviceReport& report);
// "Mono8 (supported: Mono8, Mono16)".
QString pixelTypeText(const kwhost::DeviceReport& report);
// "10000 us (15 to 100000)".
QString floatText(bool known, const MVCC_FLOATVALUE& value, const char* unit);
// "from 15 to 100000": the range of a property as the SDK reports it, or
// empty when it cannot (white balance has no getter).
QString propertyRange(const QString& key, int propertyId);
// One row of list --long.
QString deviceRow(const QString& key, int keyWidth);

}  // namespace kwcam

#endif  // KWCAM_DEVICEVIEW_H
