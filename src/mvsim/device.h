// A simulated device and a handle on it, as the registry keeps them.
#ifndef MVSIM_DEVICE_H
#define MVSIM_DEVICE_H

#include "deliverygate.h"
#include "exports.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace mvsim {

class Acquisition;

// What a device is made from: a configuration entry or MVSIM_AddDevice.
// Exposure and gain hold the current values once the device exists.
struct DeviceSetup {
    std::string modelName;
    std::string serialNumber;
    unsigned transport = MVSIM_TRANSPORT_GIGE;
    unsigned width = 640;
    unsigned height = 480;
    unsigned pixelType = MVSIM_PIXEL_MONO8;
    float exposureMin = 10.0f;
    float exposureMax = 1000000.0f;
    float exposure = 10000.0f;
    float gainMin = 0.0f;
    float gainMax = 20.0f;
    float gain = 0.0f;
    double frameRate = 0.0;
    double linePulseRate = 0.0;
};

// Frame counters and the frame number of a device. Shared with the
// acquisition context so that a thread that stopped itself from inside its
// callback can finish its bookkeeping without touching the Device, which the
// registry may free or reuse meanwhile.
struct DeviceStats {
    std::atomic<unsigned long long> produced{0};
    std::atomic<unsigned long long> delivered{0};
    std::atomic<unsigned long long> lost{0};
    std::atomic<unsigned> frameNumber{0};  // last number handed out; reset when a handle opens the device

    unsigned nextFrameNumber() { return frameNumber.fetch_add(1) + 1; }
};

struct Handle;

// All fields are guarded by the registry mutex.
struct Device {
    int id = 0;
    DeviceSetup setup;
    bool present = true;   // false once unplugged or removed
    bool removed = false;  // forgotten: not found by id-less lookups any more
    Handle* openedBy = nullptr;
    unsigned exposureAuto = 2;
    unsigned balanceWhiteAuto = 1;
    unsigned balanceRatio[3] = {1024, 1024, 1024};
    unsigned triggerMode = 0;
    unsigned triggerSource = MVSIM_TRIGGER_SOURCE_LINE0;
    // The enumeration record. Allocated once and kept for the device's life
    // (and retired, not freed, on reset) so a record a caller still holds
    // from an earlier enumeration never dangles.
    std::unique_ptr<MV_CC_DEVICE_INFO> record;
    std::shared_ptr<DeviceStats> stats = std::make_shared<DeviceStats>();
    std::shared_ptr<DeliveryGate> gate = std::make_shared<DeliveryGate>();
    // Set while grabbing. The device owns the thread; whoever stops the
    // acquisition takes both out of the device and joins the thread.
    std::shared_ptr<Acquisition> acquisition;
    std::thread thread;
};

// A handle as MV_CC_CreateHandle hands it out. Callers only ever see its
// address; the registry checks that address against its set of live handles
// before it looks inside.
struct Handle {
    Device* device = nullptr;
    bool open = false;
    MvImageCallback callback = nullptr;
    void* user = nullptr;
};

}  // namespace mvsim

#endif  // MVSIM_DEVICE_H
