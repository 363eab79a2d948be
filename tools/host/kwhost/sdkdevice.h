// Reading a device through the SDK's own functions (the 21 of
// mvcameracontrol.h, found at run time in the SDK the plug-in loaded), so
// that it works over the vendor's SDK as over the stand-in.
//
// The device is opened with a handle of its own: no camera object may hold
// it open meanwhile.
#ifndef KWHOST_SDKDEVICE_H
#define KWHOST_SDKDEVICE_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include "mvcameracontrol.h"

namespace kwhost {

struct DeviceReport {
    QString transport;  // "GigE", "USB" or the layer code
    bool widthKnown = false, heightKnown = false, pixelKnown = false, exposureKnown = false, gainKnown = false;
    MVCC_INTVALUE width = {};
    MVCC_INTVALUE height = {};
    MVCC_ENUMVALUE pixel = {};  // nCurValue: the device's pixel type; the supported ones
    MVCC_FLOATVALUE exposure = {};
    MVCC_FLOATVALUE gain = {};
};

// The SDK's list of devices as camera keys, as a plug-in builds them.
// Returns false with the reason when the SDK is missing or cannot list.
bool sdkDeviceKeys(QStringList* keys, QString* error);

// Opens the listed device whose key is key, reads what the SDK's getters
// tell, and closes it. Returns false with the reason when the device cannot
// be found or opened; a getter that fails leaves its part unknown.
bool readDevice(const QString& key, DeviceReport* report, QString* error);

// Why the SDK refuses to open the listed device whose key is key, in words a
// user acts on: "held by another process", "the camera went away" (not
// listed any more, or unplugged), else the failing call and its code. Asks
// the SDK with a handle of its own, so a host calls it after a plug-in's
// open failed (the plug-in only logs the failure); empty when the SDK opens
// the device now.
QString openRefusal(const QString& key);

// The words for a result code of the SDK's calls (the stand-in's and our
// GenICam SDK's codes): "held by another process" for a refused access,
// "the camera went away" for a missing device; empty for other codes.
QString sdkCodeReason(int result);

}  // namespace kwhost

#endif  // KWHOST_SDKDEVICE_H
