// Stress: many lifecycles with frames free-running as fast as the host takes
// them, deletion while grabbing, eight cameras at once, ten thousand software
// triggers, and stop, close and delete from inside OnImageReady.
//
// Frames flow by the hundred thousand here, so the host side counts instead of
// recording, and the per-frame log entries are only counted.
#include <gtest/gtest.h>

#include <QtCore/QByteArray>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

#include "pluginhost.h"

using namespace kwtest;

namespace {

// Generous: runs under ThreadSanitizer and valgrind too.
const std::chrono::seconds kTimeout(60);
const long kFramesPerCamera = 2000;

int lifecycleCycles()
{
    const QByteArray value = qgetenv("KWCAM_STRESS_CYCLES");
    bool ok = false;
    const int n = value.toInt(&ok);
    return ok && n > 0 ? n : 200;
}

// A host's callback that counts frames and checks that each notification is
// for its own camera and describes a stamped frame of the stand-in.
class CountingCallback : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override
    {
        if (camera != expected.load())
            ++m_foreign;
        MvsimFrameStamp stamp;
        std::memcpy(&stamp, camera->m_pImageData, sizeof stamp);
        if (stamp.magic != MVSIM_STAMP_MAGIC || camera->m_nWidth <= 0 || camera->m_nImageSize <= 0)
            ++m_malformed;
        if (afterDelete.load())
            ++m_late;
        if (onFrame)
            onFrame(camera);
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        m_arrived.notify_all();
    }

    bool waitFor(long n) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, kTimeout, [&] { return m_count >= n; });
    }
    long count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    long foreign() const { return m_foreign.load(); }
    long malformed() const { return m_malformed.load(); }
    long late() const { return m_late.load(); }

    // HostCamera's: the object this callback serves, and Camera_Delete
    // returned (no notification may follow).
    void attached(ICameraObject* object) { expected = object; }
    void deleted() { afterDelete = true; }

    std::atomic<ICameraObject*> expected{nullptr};
    std::atomic<bool> afterDelete{false};
    std::function<void(ICameraObject*)> onFrame;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    long m_count = 0;
    std::atomic<long> m_foreign{0};
    std::atomic<long> m_malformed{0};
    std::atomic<long> m_late{0};
};

// One camera of a host, counting its frames.
using Camera = BasicHostCamera<CountingCallback>;

int addFastDevice(const std::string& model, const std::string& serial, unsigned width = 64, unsigned height = 48)
{
    MvsimDeviceSetup setup = deviceSetup(model.c_str(), serial.c_str());
    setup.width = width;
    setup.height = height;
    setup.frameRate = 0;  // as fast as the host takes them
    return MVSIM_AddDevice(&setup);
}

// What a host does to its camera from inside OnImageReady.
enum class Action { Stop, Close, Delete };

void act(Action action, Camera& camera)
{
    if (action == Action::Stop)
        camera->IStopCamera();
    else if (action == Action::Close)
        camera->ICloseCamera();
    else
        camera.destroy();
}

class Stress : public ::testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }
    LogCapture log{LogCapture::FrameEntries::Count};
};

TEST_F(Stress, LifecycleCyclesWithFreeRunningFrames)
{
    const int device = addFastDevice("MV-FAST", "0001");
    ASSERT_GE(device, 0);
    Camera camera("MV-FAST 0001");
    camera->m_nTriggerMode = 2;
    const int cycles = lifecycleCycles();
    long total = 0;
    for (int i = 0; i < cycles; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(camera->IOpenCamera(), 1);
        ASSERT_EQ(camera->IStartCamera(), 1);
        ASSERT_TRUE(camera.callback.waitFor(total + 1)) << "no frame in cycle " << i;
        camera->IStopCamera();
        ASSERT_FALSE(camera->m_bGrabbing);
        camera->ICloseCamera();
        ASSERT_FALSE(camera->m_bOpened);
        ASSERT_EQ(MVSIM_LiveHandles(), 0);
        ASSERT_EQ(MVSIM_AcquisitionThreads(), 0) << "the acquisition outlived close";
        total = camera.callback.count();
    }
    MvsimCounters counters{};
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
    EXPECT_EQ(static_cast<unsigned long long>(total), counters.delivered) << "a frame announced after stop returned";
    EXPECT_EQ(log.frameEntries(), total);
    EXPECT_EQ(camera.callback.foreign(), 0);
    EXPECT_EQ(camera.callback.malformed(), 0);
}

TEST_F(Stress, DeleteWhileGrabbing)
{
    const int device = addFastDevice("MV-FAST", "0001");
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        auto camera = std::make_unique<Camera>("MV-FAST 0001");
        (*camera)->m_nTriggerMode = 2;
        ASSERT_EQ((*camera)->IOpenCamera(), 1);
        ASSERT_EQ((*camera)->IStartCamera(), 1);
        ASSERT_TRUE(camera->callback.waitFor(3));
        camera->destroy();  // frames still flowing
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
        EXPECT_EQ(camera->callback.late(), 0) << "notified after Camera_Delete returned";
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(device, &state), 0);
        EXPECT_EQ(state.openHandles, 0);
        EXPECT_EQ(state.grabbing, 0);
    }
}

TEST_F(Stress, EightCamerasGrabbingAtOnce)
{
    const int kCameras = 8;
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int i = 0; i < kCameras; ++i) {
        const std::string serial = "000" + std::to_string(i);
        ASSERT_GE(addFastDevice("MV-MULTI", serial, 64 + 8 * i, 48), 0);
        cameras.push_back(std::make_unique<Camera>(QString::fromStdString("MV-MULTI " + serial)));
    }
    // Each camera is driven by a host thread of its own, as a host with one
    // worker per camera would; objects are not shared between threads.
    std::vector<std::thread> hosts;
    std::atomic<int> failures{0};
    for (auto& camera : cameras) {
        Camera* c = camera.get();
        hosts.emplace_back([c, &failures] {
            (*c)->m_nTriggerMode = 2;
            if ((*c)->IOpenCamera() != 1 || (*c)->IStartCamera() != 1 || !c->callback.waitFor(kFramesPerCamera))
                ++failures;
            (*c)->IStopCamera();
        });
    }
    for (std::thread& t : hosts)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    for (int i = 0; i < kCameras; ++i) {
        SCOPED_TRACE(i);
        Camera& c = *cameras[i];
        EXPECT_EQ(c->m_nWidth, 64 + 8 * i) << "a frame of another device";
        EXPECT_EQ(c.callback.foreign(), 0);
        EXPECT_EQ(c.callback.malformed(), 0);
        MvsimCounters counters{};
        ASSERT_EQ(MVSIM_GetCounters(i, &counters), 0);
        EXPECT_EQ(static_cast<unsigned long long>(c.callback.count()), counters.delivered);
    }
}

TEST_F(Stress, TenThousandSoftwareTriggers)
{
    const int device = addFastDevice("MV-FAST", "0001");
    Camera camera("MV-FAST 0001");
    camera->m_nTriggerMode = 4;
    ASSERT_EQ(camera->IOpenCamera(), 1);
    ASSERT_EQ(camera->IStartCamera(), 1);

    // A trigger that finds the previous frame still in the host's hands (or
    // another trigger pending) is lost, and counted as lost before
    // MV_CC_SetCommandValue returns; every other one is delivered once. The
    // first half waits until the acquisition is idle before each trigger and
    // loses none; the second fires back to back.
    const int kTriggers = 10000;
    const unsigned kIdleTimeoutMs = 60000;
    MvsimCounters counters{};
    for (int i = 1; i <= kTriggers; ++i) {
        if (i <= kTriggers / 2) {
            ASSERT_EQ(MVSIM_WaitIdle(device, kIdleTimeoutMs), 0) << "before trigger " << i;
            camera->ISnapCamera();
            ASSERT_TRUE(camera.callback.waitFor(i)) << "trigger " << i << " produced no frame";
            if (i == kTriggers / 2) {
                ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
                EXPECT_EQ(counters.lost, 0u) << "a trigger sent to an idle acquisition was lost";
            }
        } else {
            camera->ISnapCamera();
        }
    }
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
    const long lost = static_cast<long>(counters.lost);
    ASSERT_TRUE(camera.callback.waitFor(kTriggers - lost))
        << "delivered " << camera.callback.count() << " + lost " << lost << " < " << kTriggers;
    camera->IStopCamera();
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
    EXPECT_EQ(counters.delivered + counters.lost, static_cast<unsigned long long>(kTriggers));
    EXPECT_EQ(static_cast<unsigned long long>(camera.callback.count()), counters.delivered);
    EXPECT_EQ(camera->m_nFrameCount, camera.callback.count());
    EXPECT_EQ(camera.callback.malformed(), 0);
}

// Stop, close or delete from inside OnImageReady, on the acquisition thread:
// the call must return without the thread joining itself, no notification may
// follow, and the device must be usable again.
TEST_F(Stress, StopCloseDeleteFromInsideTheCallback)
{
    for (Action action : {Action::Stop, Action::Close, Action::Delete}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "action " << static_cast<int>(action) << " round " << round);
            MVSIM_Reset();
            const int device = addFastDevice("MV-FAST", "0001");
            auto camera = std::make_unique<Camera>("MV-FAST 0001");
            // Acts on a frame after IStartCamera returned: a frame may arrive
            // before that, and the object is not to be used from two threads
            // at once.
            std::atomic<bool> started{false};
            std::atomic<int> acted{0};
            std::promise<void> done;  // set once the operation returned
            std::future<void> operationReturned = done.get_future();
            camera->callback.onFrame = [&](ICameraObject*) {
                if (!started.load() || acted.fetch_add(1) != 0)
                    return;
                act(action, *camera);
                done.set_value();
            };
            returnsWithin(kTimeout, "an operation from inside OnImageReady", [&] {
                (*camera)->m_nTriggerMode = 2;
                ASSERT_EQ((*camera)->IOpenCamera(), 1);
                ASSERT_EQ((*camera)->IStartCamera(), 1);
                started = true;
                ASSERT_EQ(operationReturned.wait_for(kTimeout), std::future_status::ready)
                    << "the operation from inside OnImageReady did not return";
                EXPECT_EQ(acted.load(), 1) << "a frame followed the operation";

                if (action == Action::Delete) {
                    EXPECT_EQ(MVSIM_LiveHandles(), 0);
                } else {
                    EXPECT_FALSE((*camera)->m_bGrabbing);
                    EXPECT_EQ((*camera)->m_bOpened, action == Action::Stop);
                    EXPECT_EQ(MVSIM_LiveHandles(), action == Action::Stop ? 1 : 0);
                }
                // The device serves again: the same object after a stop, a
                // new one otherwise.
                camera->callback.onFrame = nullptr;
                std::unique_ptr<Camera> next;
                Camera* user = camera.get();
                if (action != Action::Stop) {
                    camera->destroy();
                    next = std::make_unique<Camera>("MV-FAST 0001");
                    user = next.get();
                    (*user)->m_nTriggerMode = 2;
                    ASSERT_EQ((*user)->IOpenCamera(), 1);
                }
                const long seen = user->callback.count();
                ASSERT_EQ((*user)->IStartCamera(), 1);
                ASSERT_TRUE(user->callback.waitFor(seen + 1));
                (*user)->ICloseCamera();
            });
            MvsimDeviceState state{};
            ASSERT_EQ(MVSIM_GetDeviceState(device, &state), 0);
            EXPECT_EQ(state.openHandles, 0);
        }
    }
}

// A host that stops, closes or deletes its camera from inside OnImageReady of
// the first frame. With frames as fast as the host takes them, that frame
// usually arrives while the host's thread is still inside IStartCamera: the
// object must already count as grabbing then, and IStartCamera must not touch
// it once acquisition runs.
TEST_F(Stress, StopCloseOrDeleteFromTheFirstFrame)
{
    addFastDevice("MV-FAST", "0001");
    for (Action action : {Action::Stop, Action::Close, Action::Delete}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "action " << static_cast<int>(action) << ", round " << round);
            Camera camera("MV-FAST 0001");
            std::atomic<int> frames{0};
            camera.callback.onFrame = [&](ICameraObject*) {
                if (frames.fetch_add(1) != 0)
                    return;
                act(action, camera);
            };
            returnsWithin(kTimeout, "an operation from the first frame", [&] {
                ICameraObject* object = camera.object;
                object->m_nTriggerMode = 2;
                ASSERT_EQ(object->IOpenCamera(), 1);
                ASSERT_EQ(object->IStartCamera(), 1);
                ASSERT_TRUE(camera.callback.waitFor(1));
                if (action != Action::Delete) {
                    EXPECT_FALSE(object->m_bGrabbing);
                    EXPECT_EQ(object->m_bOpened, action == Action::Stop);
                    object->ICloseCamera();
                }
                EXPECT_EQ(frames.load(), 1) << "frames followed the operation";
                EXPECT_EQ(MVSIM_LiveHandles(), 0);
            });
        }
    }
}

}  // namespace
