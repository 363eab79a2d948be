#include "registry.h"

#include "acquisition.h"
#include "calllog.h"
#include "faults.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mvsim {

ThreadsToJoin::~ThreadsToJoin()
{
    for (std::thread& t : threads_)
        if (t.joinable())
            t.join();
}

Registry& Registry::instance()
{
    static Registry* registry = new Registry;
    return *registry;
}

std::unique_lock<std::mutex> Registry::lock(bool loadFirst)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!loaded_ && loadFirst) {
        // Nothing runs yet, so there is nothing to join.
        ThreadsToJoin none;
        const char* path = std::getenv("MVSIM_CONFIG");
        if (path && *path)
            load(loadConfigFile(path), none);
        else
            load(ConfigResult{true, defaultDevices(), {}}, none);
    }
    return lock;
}

Handle* Registry::findHandle(void* handle) const
{
    // The value is only compared, never dereferenced, until it is known live.
    auto it = handles_.find(static_cast<Handle*>(handle));
    return it == handles_.end() ? nullptr : *it;
}

Device* Registry::findDevice(int id) const
{
    if (id < 0 || static_cast<std::size_t>(id) >= devices_.size())
        return nullptr;
    return devices_[static_cast<std::size_t>(id)].get();
}

// A record the stand-in handed out is recognised by its address; any other
// record by the model name and serial number it holds, among the devices
// still listed.
Device* Registry::findDeviceByRecord(const MV_CC_DEVICE_INFO* record) const
{
    for (const auto& d : devices_)
        if (d->record() == record)
            return d.get();
    for (const auto& d : devices_)
        if (d->present() && d->namedBy(*record))
            return d.get();
    return nullptr;
}

int Registry::findDeviceByName(const char* modelName, const char* serialNumber) const
{
    if (!modelName || !serialNumber)
        return MVSIM_E_NODEVICE;
    for (const auto& d : devices_)
        if (!d->removed() && d->setup().modelName == modelName && d->setup().serialNumber == serialNumber)
            return d->id();
    return MVSIM_E_NODEVICE;
}

int Registry::enumerate(unsigned transportMask, MV_CC_DEVICE_INFO_LIST* list)
{
    if (configFailed_)
        return MVSIM_E_CONFIG;
    std::memset(list, 0, sizeof *list);
    for (const auto& d : devices_) {
        if (!d->present() || !(d->setup().transport & transportMask) || list->nDeviceNum == MV_MAX_DEVICE_NUM)
            continue;
        d->fillRecord();
        list->pDeviceInfo[list->nDeviceNum++] = d->record();
    }
    return MVSIM_OK;
}

int Registry::listedDevices() const
{
    int n = 0;
    for (const auto& d : devices_)
        n += d->present() ? 1 : 0;
    return n;
}

int Registry::addDevice(const DeviceSetup& setup)
{
    if (const std::string problem = checkSetup(setup); !problem.empty()) {
        std::fprintf(stderr, "mvsim: MVSIM_AddDevice: %s\n", problem.c_str());
        return MVSIM_E_PARAMETER;
    }
    if (listedDevices() >= MV_MAX_DEVICE_NUM || devices_.size() >= INT_MAX)
        return MVSIM_E_RESOURCE;
    devices_.push_back(std::make_unique<Device>(static_cast<int>(devices_.size()), setup));
    return devices_.back()->id();
}

Handle* Registry::createHandle(Device& device)
{
    auto handle = std::make_unique<Handle>();
    handle->device = &device;
    handle->generation = device.generation();
    handles_.insert(handle.get());
    return handle.release();
}

void Registry::destroyHandle(Handle* handle, ThreadsToJoin& joins)
{
    Device& device = *handle->device;
    if (device.openedBy() == handle) {
        stopAcquisition(device, joins);
        device.close();
    }
    handles_.erase(handle);
    retire(handle);
    reapParked(false, joins);
}

int Registry::openDevice(Device& device, Handle& handle)
{
    if (device.openedBy())
        return MVSIM_E_ACCESS;
    const int code = device.open(&handle);
    if (code == MVSIM_OK)
        handle.open = true;
    return code;
}

int Registry::startAcquisition(Device& device, Handle& handle, ThreadsToJoin& joins)
{
    reapParked(false, joins);
    return device.startGrab(handle);
}

void Registry::retire(Handle* handle)
{
    constexpr std::size_t keptHandles = 4096;
    handle->device = nullptr;
    retiredHandles_.emplace_back(handle);
    if (retiredHandles_.size() > keptHandles)
        retiredHandles_.pop_front();
}

void Registry::stopAcquisition(Device& device, ThreadsToJoin& joins, unsigned fate)
{
    StoppedGrab stopped = device.stopGrab(fate);
    if (!stopped.acquisition)
        return;
    if (stopped.thread.get_id() == std::this_thread::get_id()) {
        // Called from the image callback, on the acquisition thread itself:
        // it cannot join itself. It leaves its loop as soon as the callback
        // returns and touches nothing but its own context on the way out.
        parked_.push_back(std::move(stopped));
        return;
    }
    joins.add(std::move(stopped.thread));
}

void Registry::takeDevice(Device& device, bool remove, ThreadsToJoin& joins)
{
    stopAcquisition(device, joins, MVSIM_FATE_UNPLUGGED);
    device.unplug(remove);
}

void Registry::reapParked(bool all, ThreadsToJoin& joins)
{
    for (auto it = parked_.begin(); it != parked_.end();) {
        const bool self = it->thread.get_id() == std::this_thread::get_id();
        if (self && all) {
            // A reset from inside a callback: the thread ends by itself.
            it->thread.detach();
            it = parked_.erase(it);
        } else if (!self && (all || it->acquisition->finished())) {
            joins.add(std::move(it->thread));
            it = parked_.erase(it);
        } else {
            ++it;
        }
    }
}

void Registry::reset(ThreadsToJoin& joins)
{
    loaded_ = true;
    configFailed_ = false;
    scribbleOnFailure_ = false;
    for (const auto& d : devices_) {
        stopAcquisition(*d, joins);
        d->close();
    }
    reapParked(true, joins);
    for (Handle* h : handles_)
        retire(h);
    handles_.clear();
    for (auto& d : devices_)
        retiredRecords_.push_back(d->takeRecord());
    devices_.clear();
    faults::clear();
    calllog::clear();
}

int Registry::load(const ConfigResult& config, ThreadsToJoin& joins)
{
    reset(joins);
    if (!config.ok) {
        std::fprintf(stderr, "mvsim: %s\n", config.error.c_str());
        configFailed_ = true;
        return MVSIM_E_CONFIG;
    }
    for (const DeviceSetup& setup : config.devices)
        addDevice(setup);
    return MVSIM_OK;
}

}  // namespace mvsim
