// A simulated device: its configuration, live feature values and the rules
// for setting them, its trigger state, its ledger and counters, its
// acquisition while grabbing. sdk.cpp and control.cpp translate arguments
// and results to and from it; the acquisition reads its settings from it.
#ifndef MVSIM_DEVICE_H
#define MVSIM_DEVICE_H

#include "deliverygate.h"
#include "devicelock.h"
#include "exports.h"
#include "framesettings.h"
#include "ledger.h"
#include "replaysetup.h"

#include <memory>
#include <string>
#include <thread>

namespace mvsim {

class Acquisition;
class PictureFeed;
struct Handle;

// What a device is made from: a configuration entry or MVSIM_AddDevice.
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
    unsigned bufferCount = 3;
    double bandwidthMBps = -1.0;  // < 0: the transport's
    bool instant = false;         // frames take no time
    unsigned ledgerSize = 65536;
    // Held exclusively across processes while open: devices of the
    // configuration (file or built-in), which stand for cameras every
    // process sees. Devices added through the control interface belong to
    // the process that added them.
    bool exclusive = false;
    // Recorded pictures instead of the test pattern, checked and listed.
    ReplaySetup replay;

    // MB/s the readout runs at; 0 for an instant readout.
    double bandwidth() const;

    static DeviceSetup from(const MvsimDeviceSetup& s);
    void to(MvsimDeviceSetup* s) const;  // texts point into this setup
};

constexpr double gigeBandwidthMBps = 115.0;
constexpr double usbBandwidthMBps = 380.0;
constexpr unsigned maxBufferCount = 64;
constexpr unsigned maxLedgerSize = 16777216;

// A stopped acquisition's thread, handed to whoever joins it, and the
// acquisition it runs (kept alive until it has finished).
struct StoppedGrab {
    std::thread thread;
    std::shared_ptr<Acquisition> acquisition;
};

// All members are guarded by the registry mutex.
class Device {
public:
    Device(int id, const DeviceSetup& setup);

    int id() const { return id_; }
    const DeviceSetup& setup() const { return live_; }
    bool present() const { return present_; }
    bool removed() const { return removed_; }
    unsigned generation() const { return generation_; }

    // Feature rules; each returns MVSIM_OK or the failure code of the call.
    int setExposure(float value);
    int setGain(float value);
    int setExposureAuto(unsigned mode);
    int setBalanceWhiteAuto(unsigned mode);
    int setBalanceRatio(int channel, unsigned value);
    int setEnum(const char* key, unsigned value);
    // A software trigger: MVSIM_E_CALLORDER unless grabbing and armed for it.
    // A trigger that comes during an exposure is accepted and missed.
    int softwareTrigger();
    int pulseLine0();

    FrameSettings frameSettings() const;
    MvsimDeviceState state() const;
    Ledger& ledger() { return *ledger_; }
    const std::shared_ptr<Ledger>& sharedLedger() const { return ledger_; }
    const std::shared_ptr<DeliveryGate>& gate() const { return gate_; }

    // Open/close by a handle. Opening restarts the frame numbers and takes
    // the device's lock when it is held exclusively across processes:
    // MVSIM_E_ACCESS when another process holds it, MVSIM_E_RESOURCE when
    // the lock cannot be had. Closing releases it.
    Handle* openedBy() const { return openedBy_; }
    int open(Handle* handle);
    void close();
    // Gone from the bus (unplug) or forgotten (remove), which releases its
    // lock; back in (replug): live features go back to the configured ones.
    void unplug(bool remove);
    void replug();

    // The enumeration record. Allocated once and kept for the device's life
    // (and retired, not freed, on reset) so a record a caller still holds
    // from an earlier enumeration never dangles.
    MV_CC_DEVICE_INFO* record() const { return record_.get(); }
    std::unique_ptr<MV_CC_DEVICE_INFO> takeRecord() { return std::move(record_); }
    void fillRecord();

    // Grabbing: the frame source and the acquisition for the handle's
    // callback, its threads started. MVSIM_OK, or MVSIM_E_RESOURCE (no
    // memory or thread, a frame too long for its record).
    int startGrab(const Handle& handle);
    // Frames not yet delivered settle with `fate`. The thread goes to the
    // caller, who joins it once no lock it holds can keep the callback from
    // returning (empty when the device was not grabbing).
    StoppedGrab stopGrab(unsigned fate);
    bool grabbing() const { return acquisition_ != nullptr; }
    // For waits that must not hold the registry lock: null unless grabbing.
    std::shared_ptr<Acquisition> acquisition() const { return acquisition_; }

    // The record of an enumeration names this device: model and serial
    // number as the record holds them.
    bool namedBy(const MV_CC_DEVICE_INFO& record) const;

    // Recorded pictures: what the device replays (files empty for the test
    // pattern), kept across replugs. The feed, with its loader and cache, is
    // made when the device first grabs and kept until the pictures change.
    const ReplaySetup& replay() const { return replay_; }
    void setPictures(const ReplaySetup& replay);
    std::shared_ptr<PictureFeed> pictureFeed();  // null for the test pattern; throws std::system_error
    const std::shared_ptr<PictureFeed>& pictureFeedIfMade() const { return pictures_; }

private:
    void pushSettings();

    const int id_;
    const DeviceSetup configured_;
    DeviceSetup live_;
    bool present_ = true;      // false once unplugged or removed
    bool removed_ = false;     // forgotten: not found by id-less lookups any more
    unsigned generation_ = 0;  // plug-ins so far; handles of an earlier one are dead
    Handle* openedBy_ = nullptr;
    unsigned exposureAuto_ = 2;
    unsigned balanceWhiteAuto_ = 1;
    unsigned balanceRatio_[3] = {1024, 1024, 1024};
    unsigned triggerMode_ = 0;
    unsigned triggerSource_ = MVSIM_TRIGGER_SOURCE_LINE0;
    std::unique_ptr<MV_CC_DEVICE_INFO> record_;
    std::shared_ptr<Ledger> ledger_;
    std::shared_ptr<DeliveryGate> gate_ = std::make_shared<DeliveryGate>();
    ReplaySetup replay_;
    std::shared_ptr<PictureFeed> pictures_;
    DeviceLock lock_;  // held while open, for a device held exclusively
    // Set while grabbing. The device owns the thread until stopGrab hands
    // it over.
    std::shared_ptr<Acquisition> acquisition_;
    std::thread thread_;
};

// A handle as MV_CC_CreateHandle hands it out. Callers only ever see its
// address; the registry checks that address against its set of live handles
// before it looks inside.
struct Handle {
    Device* device = nullptr;
    unsigned generation = 0;  // the device's plug-in the handle was made for
    bool open = false;
    MvImageCallback callback = nullptr;
    void* user = nullptr;
};

}  // namespace mvsim

#endif  // MVSIM_DEVICE_H
