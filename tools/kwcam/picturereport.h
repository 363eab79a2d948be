// Which recorded pictures a grab received, when the SDK is the stand-in
// and the device replays pictures: from the stand-in's ledger, found at run
// time like every control function the tool uses.
#ifndef KWCAM_PICTUREREPORT_H
#define KWCAM_PICTUREREPORT_H

#include <QtCore/QString>

#include "kwhost/sdkcontrol.h"

namespace kwcam {

// Steady-clock nanoseconds, the clock of the stand-in's ledger.
qint64 steadyNowNs();

// "12 frames: pictures 0-9, 0-1 of 10 (shot-0.png to shot-9.png) in DIR"
// for the frames the device delivered since `sinceNs`; empty when the SDK
// has no such functions or the device shows no pictures.
QString picturesReceived(const kwhost::SdkControl& sdk, int device, qint64 sinceNs);

}  // namespace kwcam

#endif  // KWCAM_PICTUREREPORT_H
