// Enumeration of GenICam devices through Aravis's device list, into the
// SDK's device records.
#ifndef KWCAM_GENICAM_DISCOVERY_H
#define KWCAM_GENICAM_DISCOVERY_H

#include <mutex>
#include <string>

#include "mvcameracontrol.h"

namespace genicam {

// Aravis's interface and device lists are process-wide and unlocked: every
// use of them (enumeration, opening by id) holds this lock.
std::mutex& aravisListLock();

// Lists the devices of the transports in `mask` (MV_GIGE_DEVICE,
// MV_USB_DEVICE) into `list`, at most MV_MAX_DEVICE_NUM, sorted by Aravis's
// device id so that the order holds from call to call. The records belong to
// this library and stay valid until the next enumeration.
int enumerate(unsigned int mask, MV_CC_DEVICE_INFO_LIST* list);

// The Aravis device id and transport of a record of the last enumeration,
// found by its address or, for a host's copy, by transport, model and serial
// number. False when no listed device matches.
bool deviceOf(const MV_CC_DEVICE_INFO* record, std::string* id, unsigned int* transport);

}  // namespace genicam

#endif  // KWCAM_GENICAM_DISCOVERY_H
