// Helpers shared by the stand-in's tests: devices, handles, frame recording
// and waiting on conditions with a deadline.
#ifndef MVSIM_SUPPORT_H
#define MVSIM_SUPPORT_H

#include "mvcameracontrol.h"
#include "mvsim/control.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace mvsimtest {

// Long enough for a loaded CI machine with sanitizers; only ever reached
// when something is broken.
constexpr std::chrono::seconds deadline{30};

inline int addDevice(const char* model, const char* serial, unsigned transport = MVSIM_TRANSPORT_GIGE,
                     unsigned width = 64, unsigned height = 8, unsigned pixelType = MVSIM_PIXEL_MONO8,
                     double frameRate = 0.0)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, model, serial);
    setup.transport = transport;
    setup.width = width;
    setup.height = height;
    setup.pixelType = pixelType;
    setup.frameRate = frameRate;
    return MVSIM_AddDevice(&setup);
}

// A 64 x 8 Mono8 device of the default setup with the given changes, added
// and opened (*handle, null when it could not be opened). Returns its id.
inline int addOpenDevice(const char* model, const char* serial, const std::function<void(MvsimDeviceSetup&)>& change,
                         void** handle);

// The device's ledger, oldest entry first.
inline std::vector<MvsimLedgerEntry> ledgerOf(int id)
{
    std::vector<MvsimLedgerEntry> entries;
    const int n = MVSIM_LedgerSize(id);
    for (int i = 0; i < n; ++i) {
        MvsimLedgerEntry e{};
        EXPECT_EQ(MVSIM_LedgerEntry(id, i, &e), MVSIM_OK);
        entries.push_back(e);
    }
    return entries;
}

inline MV_CC_DEVICE_INFO* recordOf(const char* serial)
{
    static MV_CC_DEVICE_INFO_LIST list;
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MVSIM_OK)
        return nullptr;
    for (unsigned i = 0; i < list.nDeviceNum; ++i)
        if (std::strncmp(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chSerialNumber), serial,
                         MV_SERIAL_NUMBER_SIZE) == 0)
            return list.pDeviceInfo[i];
    return nullptr;
}

inline void* createHandle(const char* serial)
{
    MV_CC_DEVICE_INFO* record = recordOf(serial);
    void* handle = nullptr;
    if (!record || MV_CC_CreateHandle(&handle, record) != MVSIM_OK)
        return nullptr;
    return handle;
}

inline void* openHandle(const char* serial)
{
    void* handle = createHandle(serial);
    if (handle && MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0) != MVSIM_OK) {
        MV_CC_DestroyHandle(handle);
        return nullptr;
    }
    return handle;
}

inline int addOpenDevice(const char* model, const char* serial, const std::function<void(MvsimDeviceSetup&)>& change,
                         void** handle)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, model, serial);
    setup.width = 64;
    setup.height = 8;
    change(setup);
    const int id = MVSIM_AddDevice(&setup);
    EXPECT_GE(id, 0);
    *handle = openHandle(serial);
    EXPECT_NE(*handle, nullptr);
    return id;
}

inline MvsimCounters counters(int deviceId)
{
    MvsimCounters c{};
    EXPECT_EQ(MVSIM_GetCounters(deviceId, &c), MVSIM_OK);
    return c;
}

inline MvsimDeviceState state(int deviceId)
{
    return kwtest::deviceState(deviceId);
}

// Polls a stand-in query until it holds, on a condition nobody signals.
// Only for states with no callback to wait on (threads winding down).
inline bool eventually(const std::function<bool()>& holds)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// Runs f on another thread; a call that does not return by the deadline is
// a deadlock, and the test binary ends with a message instead of hanging.
inline void returnsWithinDeadline(const char* what, const std::function<void()>& f)
{
    kwtest::returnsWithin(deadline, what, f);
}

struct Frame {
    unsigned number = 0;
    unsigned width = 0, height = 0, pixelType = 0, length = 0;
    unsigned long long timestamp = 0;
    std::vector<unsigned char> data;
};

// An image callback target that records frames and lets a test wait for them.
class Recorder {
public:
    static void callback(unsigned char* data, _MV_FRAME_OUT_INFO_* info, void* user)
    {
        static_cast<Recorder*>(user)->onFrame(data, info);
    }

    bool keepData = false;
    // Runs inside the callback, after the frame is recorded, without the
    // recorder's lock.
    std::function<void(const Frame&)> hook;

    bool waitForFrames(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return frames_.size() >= n; });
    }

    std::vector<Frame> frames()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_.size();
    }

    int active() const { return active_.load(); }

private:
    void onFrame(unsigned char* data, _MV_FRAME_OUT_INFO_* info)
    {
        ++active_;
        Frame frame;
        if (info) {
            frame.number = info->nFrameNum;
            frame.width = info->nWidth;
            frame.height = info->nHeight;
            frame.pixelType = info->enPixelType;
            frame.length = info->nFrameLen;
            frame.timestamp = info->nHostTimeStamp;
            if (keepData && data)
                frame.data.assign(data, data + info->nFrameLen);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(frame);
        }
        if (hook)
            hook(frame);
        --active_;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::atomic<int> active_{0};
};

// The frame numbers of recorded frames, in the order they arrived.
inline std::vector<unsigned> numbersOf(const std::vector<Frame>& frames)
{
    std::vector<unsigned> numbers;
    for (const Frame& f : frames)
        numbers.push_back(f.number);
    return numbers;
}

inline int registerRecorder(void* handle, Recorder& recorder)
{
    return MV_CC_RegisterImageCallBack(handle, &Recorder::callback, &recorder);
}

using kwtest::callLog;
using kwtest::callLogEntry;

// Signals one event between threads; waiting fails after the deadline.
class Latch {
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// The two ways a host triggers a device: a pulse on line 0 and a software
// trigger, each as the trigger source it needs and a call on (handle, id).
struct TriggerWay {
    const char* what;
    unsigned source;
    std::function<int(void*, int)> trigger;
};
inline const std::vector<TriggerWay>& triggerWays()
{
    static const std::vector<TriggerWay> ways = {
        {"line 0", MVSIM_TRIGGER_SOURCE_LINE0, [](void*, int id) { return MVSIM_PulseLine0(id); }},
        {"software", MVSIM_TRIGGER_SOURCE_SOFTWARE,
         [](void* h, int) { return MV_CC_SetCommandValue(h, "TriggerSoftware"); }},
    };
    return ways;
}

}  // namespace mvsimtest

#endif  // MVSIM_SUPPORT_H
