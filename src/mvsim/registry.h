// The registry of simulated devices and live handles, behind one mutex.
#ifndef MVSIM_REGISTRY_H
#define MVSIM_REGISTRY_H

#include "config.h"
#include "device.h"

#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace mvsim {

class Acquisition;

// Acquisition threads stopped under the registry lock, joined when this
// goes out of scope. Declare it before the lock so that the joins happen
// after the lock is released: a callback still running on such a thread may
// call into the stand-in and needs the lock to finish.
class ThreadsToJoin {
public:
    ThreadsToJoin() = default;
    ThreadsToJoin(const ThreadsToJoin&) = delete;
    ThreadsToJoin& operator=(const ThreadsToJoin&) = delete;
    ~ThreadsToJoin();

    void add(std::thread thread) { threads_.push_back(std::move(thread)); }

private:
    std::vector<std::thread> threads_;
};

class Registry {
public:
    // Never destroyed, so that no acquisition thread outlives it at exit.
    static Registry& instance();

    // Takes the registry lock. The first time, without a load or reset
    // before, loads $MVSIM_CONFIG or the built-in default; a reset or load
    // about to replace the registry passes false.
    std::unique_lock<std::mutex> lock(bool loadFirst = true);

    // Everything below needs the lock held.

    Handle* findHandle(void* handle) const;  // nullptr unless live
    Device* findDevice(int id) const;        // nullptr unless added since the last reset
    Device* findDeviceByRecord(const MV_CC_DEVICE_INFO* record) const;
    int findDeviceByName(const char* modelName, const char* serialNumber) const;
    int enumerate(unsigned transportMask, MV_CC_DEVICE_INFO_LIST* list);
    int listedDevices() const;
    int liveHandles() const { return static_cast<int>(handles_.size()); }
    // Whether a failing MV_CC_CreateHandle leaves junk in its output.
    bool scribbleOnFailure() const { return scribbleOnFailure_; }
    void setScribbleOnFailure(bool on) { scribbleOnFailure_ = on; }

    int addDevice(const DeviceSetup& setup);  // id, or a failure code
    Handle* createHandle(Device& device);
    void destroyHandle(Handle* handle, ThreadsToJoin& joins);
    // Opens the device for the handle: MVSIM_E_ACCESS when another handle
    // or another process holds it.
    int openDevice(Device& device, Handle& handle);
    int startAcquisition(Device& device, Handle& handle, ThreadsToJoin& joins);
    // Frames not yet delivered settle with `fate`.
    void stopAcquisition(Device& device, ThreadsToJoin& joins, unsigned fate = MVSIM_FATE_DROPPED);
    void takeDevice(Device& device, bool remove, ThreadsToJoin& joins);  // unplug or remove

    // Stops everything and forgets all devices and handles.
    void reset(ThreadsToJoin& joins);
    // Reset, then the given devices, or an empty registry that refuses to
    // enumerate when the configuration failed (reason printed on stderr).
    int load(const ConfigResult& config, ThreadsToJoin& joins);

private:
    Registry() = default;

    // Threads that stopped themselves from inside their callback: they could
    // not be joined then, so they wait here until whoever next starts,
    // destroys or resets joins them.
    using Parked = StoppedGrab;
    void reapParked(bool all, ThreadsToJoin& joins);

    std::mutex mutex_;
    bool loaded_ = false;
    bool configFailed_ = false;
    bool scribbleOnFailure_ = false;
    std::vector<std::unique_ptr<Device>> devices_;  // index = device id
    std::unordered_set<Handle*> handles_;
    std::vector<Parked> parked_;
    // Destroyed handles stay allocated for a while so that their addresses
    // are not handed out again at once: a caller's stale handle value then
    // stays unknown instead of naming someone else's new handle.
    std::deque<std::unique_ptr<Handle>> retiredHandles_;
    void retire(Handle* handle);
    // Records of devices forgotten by a reset: kept, never freed, since a
    // caller may still hold them and pass one to MV_CC_CreateHandle.
    std::vector<std::unique_ptr<MV_CC_DEVICE_INFO>> retiredRecords_;
};

}  // namespace mvsim

#endif  // MVSIM_REGISTRY_H
