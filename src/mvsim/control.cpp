// The control interface (mvsim/control.h) over the registry.
#include "exports.h"

#include "acquisition.h"
#include "calllog.h"
#include "config.h"
#include "delivery.h"
#include "device.h"
#include "faults.h"
#include "framesource.h"
#include "guard.h"
#include "pattern.h"
#include "picturefeed.h"
#include "registry.h"
#include "replaysetup.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

using namespace mvsim;

namespace {

// Fills one record of a device from read(device), under the registry's lock:
// a null record is a parameter error, an unknown device MVSIM_E_NODEVICE.
template <typename Record, typename Read> int readDevice(int deviceId, Record* record, Read read)
{
    Registry& registry = Registry::instance();
    auto lock = registry.lock();
    if (!record)
        return MVSIM_E_PARAMETER;
    Device* d = registry.findDevice(deviceId);
    if (!d)
        return MVSIM_E_NODEVICE;
    *record = read(*d);
    return MVSIM_OK;
}

// What fn(device) answers, under the registry's lock; MVSIM_E_NODEVICE for
// an unknown device.
template <typename Fn> int onDevice(int deviceId, Fn fn)
{
    Registry& registry = Registry::instance();
    auto lock = registry.lock();
    Device* d = registry.findDevice(deviceId);
    if (!d)
        return MVSIM_E_NODEVICE;
    return fn(*d);
}

// Devices that unplugging or removing may still act on: not yet removed.
Device* knownDevice(Registry& registry, int id)
{
    Device* device = registry.findDevice(id);
    return device && !device->removed() ? device : nullptr;
}

}  // namespace

extern "C" {

MVSIM_EXPORT void MVSIM_DefaultSetup(MvsimDeviceSetup* setup, const char* modelName, const char* serialNumber)
{
    return guarded(__func__, [&] {
        if (!setup)
            return;
        DeviceSetup d;
        d.instant = true;  // tests and benchmarks want frames at once
        d.to(setup);
        setup->modelName = modelName;
        setup->serialNumber = serialNumber;
    });
}

MVSIM_EXPORT unsigned int MVSIM_PatternValue(unsigned int x, unsigned int y, unsigned int frameNumber,
                                             unsigned int channel)
{
    return guarded(__func__, [&] { return patternValue(x, y, frameNumber, channel); });
}

MVSIM_EXPORT void MVSIM_Reset(void)
{
    return guarded(__func__, [&] {
        ThreadsToJoin joins;
        Registry& registry = Registry::instance();
        auto lock = registry.lock(false);
        registry.reset(joins);
    });
}

MVSIM_EXPORT void MVSIM_SetScribbleOnFailure(int on)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        registry.setScribbleOnFailure(on != 0);
    });
}

MVSIM_EXPORT int MVSIM_LoadConfig(const char* path)
{
    return guarded(__func__, [&] {
        if (!path)
            return MVSIM_E_PARAMETER;
        const ConfigResult config = loadConfigFile(path);
        ThreadsToJoin joins;
        Registry& registry = Registry::instance();
        auto lock = registry.lock(false);
        return registry.load(config, joins);
    });
}

MVSIM_EXPORT int MVSIM_LoadDefaultConfig(void)
{
    return guarded(__func__, [&] {
        ThreadsToJoin joins;
        Registry& registry = Registry::instance();
        auto lock = registry.lock(false);
        return registry.load(ConfigResult{true, defaultDevices(), {}}, joins);
    });
}

MVSIM_EXPORT int MVSIM_AddDevice(const MvsimDeviceSetup* setup)
{
    return guarded(__func__, [&] {
        if (!setup || !setup->modelName || !setup->serialNumber)
            return MVSIM_E_PARAMETER;
        DeviceSetup device = DeviceSetup::from(*setup);
        if (!device.replay.images.empty()) {
            // Reading the pictures takes time: outside the registry lock.
            ReplayGeometry geometry;
            geometry.width = device.width;
            geometry.height = device.height;
            geometry.pixelType = device.pixelType;
            geometry.widthGiven = device.width != 0;
            geometry.heightGiven = device.height != 0;
            geometry.pixelTypeGiven = device.pixelType != 0;
            const std::string problem = prepareReplay(&device.replay, &geometry, {});
            if (!problem.empty()) {
                std::fprintf(stderr, "mvsim: MVSIM_AddDevice: %s\n", problem.c_str());
                return MVSIM_E_PARAMETER;
            }
            device.width = geometry.width;
            device.height = geometry.height;
            device.pixelType = geometry.pixelType;
        }
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        return registry.addDevice(device);
    });
}

namespace {

// Unplugs or removes a device; its threads are joined after the lock is
// released (joins is destroyed last).
int takeDevice(int deviceId, bool remove)
{
    ThreadsToJoin joins;
    Registry& registry = Registry::instance();
    auto lock = registry.lock();
    Device* device = knownDevice(registry, deviceId);
    if (!device)
        return MVSIM_E_NODEVICE;
    registry.takeDevice(*device, remove, joins);
    return MVSIM_OK;
}

}  // namespace

MVSIM_EXPORT int MVSIM_RemoveDevice(int deviceId)
{
    return guarded(__func__, [&] { return takeDevice(deviceId, true); });
}

MVSIM_EXPORT int MVSIM_UnplugDevice(int deviceId)
{
    return guarded(__func__, [&] { return takeDevice(deviceId, false); });
}

MVSIM_EXPORT int MVSIM_ReplugDevice(int deviceId)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* device = knownDevice(registry, deviceId);
        if (!device)
            return MVSIM_E_NODEVICE;
        if (device->present())
            return MVSIM_E_CALLORDER;
        if (registry.listedDevices() >= MV_MAX_DEVICE_NUM)
            return MVSIM_E_RESOURCE;
        device->replug();
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_DeviceCount(void)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        return registry.listedDevices();
    });
}

MVSIM_EXPORT int MVSIM_FindDevice(const char* modelName, const char* serialNumber)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        return registry.findDeviceByName(modelName, serialNumber);
    });
}

MVSIM_EXPORT int MVSIM_GetDeviceState(int deviceId, MvsimDeviceState* state)
{
    return guarded(__func__, [&] { return readDevice(deviceId, state, [](const Device& d) { return d.state(); }); });
}

MVSIM_EXPORT int MVSIM_GetCounters(int deviceId, MvsimCounters* counters)
{
    return guarded(__func__,
                   [&] { return readDevice(deviceId, counters, [](Device& d) { return d.ledger().counters(); }); });
}

MVSIM_EXPORT int MVSIM_SetPictures(int deviceId, const char* path, int once)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        ReplaySetup replay;
        ReplayGeometry geometry;
        {
            auto lock = registry.lock();
            Device* d = knownDevice(registry, deviceId);
            if (!d)
                return MVSIM_E_NODEVICE;
            if (d->grabbing())
                return MVSIM_E_CALLORDER;
            geometry.width = d->setup().width;
            geometry.height = d->setup().height;
            geometry.pixelType = d->setup().pixelType;
            replay.stamp = d->replay().stamp;
            replay.zeroCopy = d->replay().zeroCopy;
        }
        geometry.widthGiven = geometry.heightGiven = geometry.pixelTypeGiven = true;
        replay.once = once != 0;
        if (path && *path) {
            // Reading the pictures takes time: outside the registry lock.
            replay.images = path;
            const std::string problem = prepareReplay(&replay, &geometry, {});
            if (!problem.empty()) {
                std::fprintf(stderr, "mvsim: MVSIM_SetPictures: %s\n", problem.c_str());
                return MVSIM_E_PARAMETER;
            }
        }
        auto lock = registry.lock();
        Device* d = knownDevice(registry, deviceId);
        if (!d)
            return MVSIM_E_NODEVICE;
        if (d->grabbing())
            return MVSIM_E_CALLORDER;
        d->setPictures(replay);
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_RewindPictures(int deviceId)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* d = knownDevice(registry, deviceId);
        if (!d)
            return MVSIM_E_NODEVICE;
        if (d->replay().files.empty())
            return MVSIM_E_CALLORDER;
        if (d->pictureFeedIfMade()) {
            d->pictureFeedIfMade()->rewind();
            if (d->grabbing())
                d->acquisition()->picturesChanged();
        }
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_PictureCount(int deviceId)
{
    return guarded(__func__, [&] {
        return onDevice(deviceId, [](Device& d) {
            return static_cast<int>(std::min<std::size_t>(d.replay().files.size(), INT_MAX));
        });
    });
}

MVSIM_EXPORT int MVSIM_PictureName(int deviceId, int index, char* buffer, size_t cap)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* d = registry.findDevice(deviceId);
        if (!d)
            return MVSIM_E_NODEVICE;
        const std::vector<std::string>& files = d->replay().files;
        if (index < 0 || static_cast<std::size_t>(index) >= files.size() || (!buffer && cap > 0))
            return MVSIM_E_PARAMETER;
        const std::string& name = files[static_cast<std::size_t>(index)];
        if (cap > 0) {
            const std::size_t n = std::min(cap - 1, name.size());
            std::memcpy(buffer, name.data(), n);
            buffer[n] = '\0';
        }
        return static_cast<int>(std::min<std::size_t>(name.size(), INT_MAX));
    });
}

MVSIM_EXPORT int MVSIM_GetFrameFates(int deviceId, MvsimFrameFates* fates)
{
    return guarded(__func__, [&] { return readDevice(deviceId, fates, [](Device& d) { return d.ledger().fates(); }); });
}

MVSIM_EXPORT int MVSIM_FateCount(void)
{
    return guarded(__func__, [&] { return static_cast<int>(kFateCount); });
}

MVSIM_EXPORT int MVSIM_FateInfo(unsigned int fate, const char** name, int* countsAsLost)
{
    return guarded(__func__, [&] {
        if (fate >= kFateCount)
            return MVSIM_E_PARAMETER;
        if (name)
            *name = kFates[fate].name;
        if (countsAsLost)
            *countsAsLost = kFates[fate].countsAsLost ? 1 : 0;
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_GetFateCounts(int deviceId, unsigned long long* counts, unsigned int capacity)
{
    return guarded(__func__, [&] {
        if (!counts)
            return MVSIM_E_PARAMETER;
        return onDevice(deviceId, [&](Device& d) {
            d.ledger().fateCounts(counts, capacity);
            return static_cast<int>(capacity < kFateCount ? capacity : kFateCount);
        });
    });
}

MVSIM_EXPORT int MVSIM_GetDeviceTiming(int deviceId, MvsimDeviceTiming* timing)
{
    return guarded(__func__, [&] {
        return readDevice(deviceId, timing, [](const Device& d) {
            const DeviceSetup& setup = d.setup();
            MvsimDeviceTiming t{};
            t.frameRate = setup.frameRate;
            t.linePulseRate = setup.linePulseRate;
            t.bandwidthMBps = setup.instant ? 0.0 : setup.bandwidth();
            t.bufferCount = setup.bufferCount;
            t.instantTiming = setup.instant ? 1 : 0;
            return t;
        });
    });
}

MVSIM_EXPORT int MVSIM_LedgerSize(int deviceId)
{
    return guarded(__func__,
                   [&] { return onDevice(deviceId, [](Device& d) { return static_cast<int>(d.ledger().size()); }); });
}

MVSIM_EXPORT int MVSIM_LedgerEntry(int deviceId, int i, MvsimLedgerEntry* entry)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* d = registry.findDevice(deviceId);
        if (!d)
            return MVSIM_E_NODEVICE;
        if (!entry || i < 0 || !d->ledger().entry(static_cast<std::size_t>(i), entry))
            return MVSIM_E_PARAMETER;
        return MVSIM_OK;
    });
}

MVSIM_EXPORT void MVSIM_FailCall(const char* functionName, unsigned int nth, int code)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();  // a first-call load would clear the fault
        faults::add(functionName, nth, code);
    });
}

MVSIM_EXPORT void MVSIM_ThrowInCall(const char* point, unsigned int nth)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();  // a first-call load would clear the fault
        faults::addThrow(point, nth);
    });
}

MVSIM_EXPORT void MVSIM_ClearFaults(void)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        faults::clear();
    });
}

MVSIM_EXPORT int MVSIM_CallLogSize(void)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        return calllog::size();
    });
}

MVSIM_EXPORT int MVSIM_CallLogEntry(int i, char* buffer, size_t cap)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        return calllog::entry(i, buffer, cap);
    });
}

MVSIM_EXPORT unsigned long long MVSIM_CallLogDropped(void)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        return calllog::dropped();
    });
}

MVSIM_EXPORT void MVSIM_ClearCallLog(void)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        calllog::clear();
    });
}

MVSIM_EXPORT int MVSIM_LiveHandles(void)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        return registry.liveHandles();
    });
}

MVSIM_EXPORT int MVSIM_AcquisitionThreads(void)
{
    return guarded(__func__, [&] {
        auto lock = Registry::instance().lock();
        return Acquisition::runningThreads();
    });
}

MVSIM_EXPORT int MVSIM_PulseLine0(int deviceId)
{
    return guarded(__func__, [&] {
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* device = registry.findDevice(deviceId);
        if (!device || !device->present())
            return MVSIM_E_NODEVICE;
        return device->pulseLine0();
    });
}

MVSIM_EXPORT int MVSIM_WaitIdle(int deviceId, unsigned int timeoutMs)
{
    return guarded(__func__, [&] {
        std::shared_ptr<Acquisition> acquisition;
        {
            Registry& registry = Registry::instance();
            auto lock = registry.lock();
            Device* device = registry.findDevice(deviceId);
            if (!device || !device->present())
                return MVSIM_E_NODEVICE;
            acquisition = device->acquisition();
        }
        // Waits without the registry lock: the callback may need it to finish.
        if (!acquisition || !acquisition->waitIdle(std::chrono::milliseconds(timeoutMs)))
            return MVSIM_E_CALLORDER;
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_DeliverFrame(int deviceId, unsigned int flags)
{
    return guarded(__func__, [&] { return MVSIM_DeliverFrameAs(deviceId, nullptr, 0, 0, 0, flags); });
}

// The frame is numbered and counted like any other; the callback runs with
// no lock held, on copies of the callback and user pointer taken under the
// lock, so a handle destroyed meanwhile is never touched.
MVSIM_EXPORT int MVSIM_DeliverFrameAs(int deviceId, unsigned char* data, unsigned int width, unsigned int height,
                                      unsigned int pixelType, unsigned int flags)
{
    return guarded(__func__, [&] {
        MvImageCallback callback = nullptr;
        void* user = nullptr;
        FrameSettings settings;
        unsigned number = 0;
        std::shared_ptr<Ledger> ledger;
        std::shared_ptr<DeliveryGate> gate;
        Ledger::Id id = 0;
        {
            Registry& registry = Registry::instance();
            auto lock = registry.lock();
            Device* device = registry.findDevice(deviceId);
            if (!device || !device->present())
                return MVSIM_E_NODEVICE;
            if (!device->openedBy() || !device->openedBy()->callback)
                return MVSIM_E_CALLORDER;
            callback = device->openedBy()->callback;
            user = device->openedBy()->user;
            settings = device->frameSettings();
            if (width || height || pixelType) {
                settings.width = width;
                settings.height = height;
                settings.pixelType = pixelType;
            }
            if (frameBytes(settings.width, settings.height, settings.pixelType) > UINT_MAX)
                return MVSIM_E_RESOURCE;
            ledger = device->sharedLedger();
            gate = device->gate();
            MvsimLedgerEntry entry{};
            entry.cause = MVSIM_CAUSE_REQUEST;
            entry.triggerTime = nowNs();
            entry.exposureStart = entry.triggerTime;
            id = ledger->open(entry, &number);
        }

        _MV_FRAME_OUT_INFO_ info;
        std::vector<unsigned char> own;
        try {
            PatternSource source(settings.width, settings.height, settings.pixelType);
            if (!data) {
                own.resize(source.frameBytes());
                composeFrame(source, own.data(), number, 0, settings, &info);
                data = own.data();
            } else {
                composeFrame(source, nullptr, number, 0, settings, &info);  // the caller's bytes as they are
            }
        } catch (const std::bad_alloc&) {
            ledger->settle(id, MVSIM_FATE_DROPPED);
            return MVSIM_E_RESOURCE;
        }
        ledger->stamp(id, 0, static_cast<long long>(info.nHostTimeStamp), 0, 0);

        Handover handover;
        handover.callback = callback;
        handover.data = (flags & MVSIM_DELIVER_NULL_DATA) ? nullptr : data;
        handover.info = (flags & MVSIM_DELIVER_NULL_INFO) ? nullptr : &info;
        handover.user = (flags & MVSIM_DELIVER_NULL_USER) ? nullptr : user;
        // Takes turns with the acquisition thread's callback. From inside a
        // callback of the same device the turn is already this thread's; a
        // thread of our own then runs while this one only waits for it.
        const Turn turn = gate->heldByThisThread() ? Turn::Held : Turn::Take;
        const auto deliver = [&] {
            std::chrono::steady_clock::time_point end;
            deliverFrame(handover, *ledger, id, *gate, turn, nullptr, 0, &end);
        };
        if (flags & MVSIM_DELIVER_OWN_THREAD) {
            try {
                std::thread thread(deliver);
                thread.join();
            } catch (const std::system_error&) {
                ledger->settle(id, MVSIM_FATE_DROPPED);
                return MVSIM_E_RESOURCE;
            }
        } else {
            deliver();
        }
        return MVSIM_OK;
    });
}

MVSIM_EXPORT int MVSIM_GetImageCallback(int deviceId,
                                        void (**callback)(unsigned char*, struct _MV_FRAME_OUT_INFO_*, void*),
                                        void** user)
{
    return guarded(__func__, [&] {
        if (!callback || !user)
            return MVSIM_E_PARAMETER;
        *callback = nullptr;
        *user = nullptr;
        Registry& registry = Registry::instance();
        auto lock = registry.lock();
        Device* device = registry.findDevice(deviceId);
        if (!device || !device->present())
            return MVSIM_E_NODEVICE;
        if (device->openedBy()) {
            *callback = device->openedBy()->callback;
            *user = device->openedBy()->user;
        }
        return MVSIM_OK;
    });
}

}  // extern "C"
