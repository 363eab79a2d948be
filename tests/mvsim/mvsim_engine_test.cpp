// The acquisition engine: free-running and triggered frames, stopping from
// outside and from inside the callback, unplugging, counters, frame content.
#include "mvsim_support.h"

#include <atomic>
#include <thread>

using namespace mvsimtest;

namespace {

const char* const serial = "SN-E";
const unsigned waitMs = static_cast<unsigned>(std::chrono::milliseconds(deadline).count());

class EngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        MVSIM_Reset();
        device = addDevice("Engine", serial, MVSIM_TRANSPORT_GIGE, 64, 8, MVSIM_PIXEL_MONO8);
        ASSERT_GE(device, 0);
        handle = openHandle(serial);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }

    void triggerMode(unsigned source)
    {
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", source), MVSIM_OK);
    }

    int device = -1;
    void* handle = nullptr;
};

std::vector<unsigned> oneTo(unsigned n)
{
    std::vector<unsigned> numbers;
    for (unsigned i = 1; i <= n; ++i)
        numbers.push_back(i);
    return numbers;
}

MvsimFrameStamp stampOf(const Frame& frame)
{
    MvsimFrameStamp stamp{};
    std::memcpy(&stamp, frame.data.data(), std::min(sizeof stamp, frame.data.size()));
    return stamp;
}

TEST_F(EngineTest, FreeRunningFramesAreNumberedConsecutivelyFromOne)
{
    Recorder recorder;
    recorder.keepData = true;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(MV_CC_StartGrabbing(handle), MVSIM_E_CALLORDER);
    EXPECT_EQ(MV_CC_RegisterImageCallBack(handle, nullptr, nullptr), MVSIM_E_CALLORDER);
    EXPECT_EQ(state(device).grabbing, 1);
    ASSERT_TRUE(recorder.waitForFrames(20)) << "free-running device delivered no 20 frames";
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_E_CALLORDER);

    const std::vector<Frame> frames = recorder.frames();
    EXPECT_EQ(numbersOf(frames), oneTo(static_cast<unsigned>(frames.size())));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].width, 64u);
        EXPECT_EQ(frames[i].height, 8u);
        EXPECT_EQ(frames[i].pixelType, MVSIM_PIXEL_MONO8);
        ASSERT_EQ(frames[i].length, 64u * 8u);
        EXPECT_EQ(stampOf(frames[i]).frameNumber, frames[i].number);
        EXPECT_EQ(stampOf(frames[i]).triggerSource, MVSIM_FREE_RUNNING);
        if (i > 0) {
            EXPECT_GE(frames[i].timestamp, frames[i - 1].timestamp);
        }
    }
    const MvsimCounters c = counters(device);
    EXPECT_EQ(c.delivered, frames.size());
    EXPECT_EQ(c.produced, c.delivered);
    EXPECT_EQ(c.lost, 0u);
}

TEST_F(EngineTest, FramesWithNoCallbackAreProducedNotDelivered)
{
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    EXPECT_TRUE(eventually([&] { return counters(device).produced >= 10; }));
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(counters(device).delivered, 0u);
}

TEST_F(EngineTest, NoCallbackRunsOnceStopDestroyUnplugOrResetReturns)
{
    const struct {
        const char* what;
        std::function<void(void*, int)> stop;
    } cases[] = {
        {"StopGrabbing", [](void* h, int) { EXPECT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK); }},
        {"DestroyHandle", [](void* h, int) { EXPECT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK); }},
        {"UnplugDevice", [](void*, int id) { EXPECT_EQ(MVSIM_UnplugDevice(id), MVSIM_OK); }},
        {"Reset", [](void*, int) { MVSIM_Reset(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        const int id = addDevice("Engine", serial, MVSIM_TRANSPORT_GIGE, 640, 480, MVSIM_PIXEL_RGB8);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        std::atomic<bool> returned{false};
        std::atomic<int> late{0};
        Recorder recorder;
        recorder.hook = [&](const Frame&) {
            if (returned)
                ++late;
        };
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        ASSERT_TRUE(recorder.waitForFrames(5));
        c.stop(h, id);
        returned = true;
        EXPECT_EQ(recorder.active(), 0) << "a callback still ran when the call returned";
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0) << "the acquisition thread outlived the call";
        const std::size_t seen = recorder.count();
        MVSIM_Reset();
        EXPECT_EQ(late.load(), 0) << "callback after the call returned";
        EXPECT_EQ(recorder.count(), seen);
    }
}

TEST_F(EngineTest, StopOrDestroyFromInsideTheCallbackReturns)
{
    const struct {
        const char* what;
        int (*call)(void*);
        bool destroys;
    } cases[] = {
        {"StopGrabbing", MV_CC_StopGrabbing, false},
        {"DestroyHandle", MV_CC_DestroyHandle, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        addDevice("Engine", serial);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        Recorder recorder;
        Latch called;
        std::atomic<int> result{-1};
        std::atomic<int> afterCall{0};
        std::atomic<bool> done{false};
        recorder.hook = [&](const Frame& frame) {
            if (done) {
                ++afterCall;
            } else if (frame.number == 3) {
                result = c.call(h);
                done = true;
                called.open();
            }
        };
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        if (!called.wait())
            kwtest::deadlocked((std::string(c.what) + " from inside the image callback").c_str(), deadline);
        EXPECT_EQ(result.load(), MVSIM_OK);
        EXPECT_TRUE(eventually([] { return MVSIM_AcquisitionThreads() == 0; }))
            << "acquisition thread did not end after stopping itself";
        EXPECT_EQ(afterCall.load(), 0) << "callback ran after the call made in the callback";
        EXPECT_EQ(recorder.count(), 3u);
        EXPECT_EQ(state(0).grabbing, 0);
        if (c.destroys) {
            EXPECT_EQ(MVSIM_LiveHandles(), 0);
            EXPECT_EQ(state(0).openHandles, 0);
            continue;
        }
        // The parked thread is reaped by the next start; grabbing resumes.
        returnsWithinDeadline("StartGrabbing after a stop in the callback",
                              [&] { EXPECT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK); });
        EXPECT_TRUE(recorder.waitForFrames(6));
        returnsWithinDeadline("StopGrabbing", [&] { EXPECT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK); });
        EXPECT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK);
    }
}

TEST_F(EngineTest, EachTriggerGivesOneFrame)
{
    for (const TriggerWay& c : triggerWays()) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        const int id = addDevice("Engine", serial);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", c.source), MVSIM_OK);
        EXPECT_NE(c.trigger(h, id), MVSIM_OK) << "trigger taken while not grabbing";
        Recorder recorder;
        recorder.keepData = true;
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        for (unsigned i = 1; i <= 5; ++i) {
            ASSERT_EQ(c.trigger(h, id), MVSIM_OK);
            ASSERT_TRUE(recorder.waitForFrames(i)) << "no frame for trigger " << i;
        }
        ASSERT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK);
        // Frame 1 came from the first trigger: nothing before it.
        const std::vector<Frame> frames = recorder.frames();
        EXPECT_EQ(numbersOf(frames), oneTo(5));
        EXPECT_EQ(stampOf(frames.back()).triggerSource, c.source);
        const MvsimCounters counts = counters(id);
        EXPECT_EQ(counts.produced, 5u);
        EXPECT_EQ(counts.lost, 0u);
    }
}

TEST_F(EngineTest, TriggersOfTheWrongSourceAreRefused)
{
    Recorder recorder;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_E_CALLORDER) << "not grabbing";
    triggerMode(MVSIM_TRIGGER_SOURCE_LINE0);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_E_CALLORDER) << "source is line 0";
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", 7), MVSIM_OK);
    EXPECT_EQ(MVSIM_PulseLine0(device), MVSIM_E_CALLORDER) << "source is software";
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 0), MVSIM_OK);
    EXPECT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_E_CALLORDER) << "trigger mode off";
    EXPECT_EQ(MVSIM_PulseLine0(device), MVSIM_E_CALLORDER) << "trigger mode off";
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
}

TEST_F(EngineTest, TheThreadFollowsTriggerChangesWhileGrabbing)
{
    Recorder recorder;
    recorder.keepData = true;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    triggerMode(MVSIM_TRIGGER_SOURCE_SOFTWARE);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetCommandValue(handle, "TriggerSoftware"), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(1));
    ASSERT_EQ(MVSIM_WaitIdle(device, waitMs), MVSIM_OK);
    EXPECT_EQ(recorder.count(), 1u);

    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 0), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(10)) << "no free-running frames after trigger mode went off";
    EXPECT_EQ(stampOf(recorder.frames().back()).triggerSource, MVSIM_FREE_RUNNING);

    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", 0), MVSIM_OK);
    // A free-running frame may still be in the callback.
    ASSERT_EQ(MVSIM_WaitIdle(device, waitMs), MVSIM_OK);
    const std::size_t before = recorder.count();
    ASSERT_EQ(MVSIM_PulseLine0(device), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(before + 1));
    ASSERT_EQ(MVSIM_WaitIdle(device, waitMs), MVSIM_OK);
    EXPECT_EQ(recorder.count(), before + 1) << "frames after the switch to line-0 trigger without a pulse";
    EXPECT_EQ(stampOf(recorder.frames().back()).triggerSource, MVSIM_TRIGGER_SOURCE_LINE0);
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
}

TEST_F(EngineTest, TheLinePulseGeneratorTriggersFrames)
{
    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "Engine", serial);
    setup.linePulseRate = 200.0;
    device = MVSIM_AddDevice(&setup);
    handle = openHandle(serial);
    ASSERT_NE(handle, nullptr);
    Recorder recorder;
    recorder.keepData = true;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    triggerMode(MVSIM_TRIGGER_SOURCE_LINE0);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(5)) << "pulse generator triggered no frames";
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    for (const Frame& f : recorder.frames())
        EXPECT_EQ(stampOf(f).triggerSource, MVSIM_TRIGGER_SOURCE_LINE0);
}

TEST_F(EngineTest, TriggersWhileTheConsumerIsBusyAreLostButNumbered)
{
    const struct {
        const char* what;
        unsigned source;
        std::function<int(void*, int)> trigger;
        int lostResult;
    } cases[] = {
        {"line 0", MVSIM_TRIGGER_SOURCE_LINE0, [](void*, int id) { return MVSIM_PulseLine0(id); }, MVSIM_OK},
        {"software", MVSIM_TRIGGER_SOURCE_SOFTWARE,
         [](void* h, int) { return MV_CC_SetCommandValue(h, "TriggerSoftware"); }, MVSIM_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        // One frame buffer, held by the callback: the triggered frames
        // complete with none free.
        MvsimDeviceSetup setup;
        MVSIM_DefaultSetup(&setup, "Engine", serial);
        setup.bufferCount = 1;
        const int id = MVSIM_AddDevice(&setup);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", c.source), MVSIM_OK);
        Recorder recorder;
        Latch entered;
        Latch release;
        recorder.hook = [&](const Frame& frame) {
            if (frame.number == 1) {
                entered.open();
                release.wait();
            }
        };
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        ASSERT_EQ(c.trigger(h, id), MVSIM_OK);
        ASSERT_TRUE(entered.wait()) << "first frame never reached the callback";
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(c.trigger(h, id), c.lostResult) << "trigger " << i << " while busy";
        EXPECT_TRUE(eventually([&] {
            MvsimFrameFates fates{};
            return MVSIM_GetFrameFates(id, &fates) == MVSIM_OK && fates.noBuffer == 3;
        }));
        release.open();
        ASSERT_EQ(MVSIM_WaitIdle(id, waitMs), MVSIM_OK);
        ASSERT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK);
        const MvsimCounters counts = counters(id);
        EXPECT_EQ(counts.produced, 1u);
        EXPECT_EQ(counts.delivered, 1u);
        EXPECT_EQ(counts.lost, 3u);
        // The lost triggers used up numbers 2..4.
        ASSERT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK);
        const std::vector<Frame> frames = recorder.frames();
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[1].number, 5u);
    }
}

TEST_F(EngineTest, ASlowConsumerLosesTicksAndTheNumbersAccountForThem)
{
    MVSIM_Reset();
    device = addDevice("Engine", serial, MVSIM_TRANSPORT_GIGE, 64, 8, MVSIM_PIXEL_MONO8, 500.0);
    handle = openHandle(serial);
    ASSERT_NE(handle, nullptr);
    Recorder recorder;
    // The consumer's processing time: five frame periods per frame.
    recorder.hook = [](const Frame&) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(5));
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);

    const MvsimCounters counts = counters(device);
    const std::vector<Frame> frames = recorder.frames();
    EXPECT_EQ(counts.delivered, frames.size());
    EXPECT_EQ(counts.produced, counts.delivered);
    EXPECT_GT(counts.lost, 0u) << "ticks during a 10 ms callback at 500 fps were not lost";
    unsigned long long skipped = frames.front().number - 1;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].number, frames[i - 1].number);
        skipped += frames[i].number - frames[i - 1].number - 1;
    }
    EXPECT_LE(skipped, counts.lost);

    // The next frame event takes the number after every one used so far.
    Recorder after;
    ASSERT_EQ(registerRecorder(handle, after), MVSIM_OK);
    ASSERT_EQ(MVSIM_DeliverFrame(device, 0), MVSIM_OK);
    ASSERT_EQ(after.count(), 1u);
    // Frames still in buffers at the stop were dropped; they had numbers too.
    MvsimFrameFates fates{};
    ASSERT_EQ(MVSIM_GetFrameFates(device, &fates), MVSIM_OK);
    EXPECT_EQ(after.frames()[0].number, counts.produced + counts.lost + fates.dropped + 1);
}

TEST_F(EngineTest, UnplugWhileGrabbingStopsFrames)
{
    Recorder recorder;
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(3));
    ASSERT_EQ(MVSIM_UnplugDevice(device), MVSIM_OK);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    EXPECT_EQ(recorder.active(), 0);
    EXPECT_EQ(state(device).grabbing, 0);
    EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_E_NODEVICE);
    EXPECT_EQ(MV_CC_StartGrabbing(handle), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_DeliverFrame(device, 0), MVSIM_E_NODEVICE);
    EXPECT_EQ(MV_CC_DestroyHandle(handle), MVSIM_OK);
}

unsigned char expectedByte(unsigned pixelType, std::size_t i, unsigned y, unsigned n)
{
    const unsigned bits = (pixelType >> 16) & 0xFF;
    if (pixelType == MVSIM_PIXEL_MONO16 || pixelType == MVSIM_PIXEL_RGB16) {
        const unsigned pixelBytes = bits / 8;
        const unsigned value =
            MVSIM_PatternValue(static_cast<unsigned>(i / pixelBytes), y, n, static_cast<unsigned>(i % pixelBytes / 2));
        const unsigned word = value * 257;
        return static_cast<unsigned char>(i % 2 == 0 ? word & 0xFF : word >> 8);
    }
    if (bits % 8 == 0)
        return static_cast<unsigned char>(
            MVSIM_PatternValue(static_cast<unsigned>(i / (bits / 8)), y, n, static_cast<unsigned>(i % (bits / 8))));
    return static_cast<unsigned char>(MVSIM_PatternValue(static_cast<unsigned>(i), y, n, 0));
}

TEST(PatternTest, PatternValueFollowsTheFormula)
{
    const struct {
        unsigned x, y, n, channel, value;
    } cases[] = {
        {0, 0, 0, 0, 0},   {1, 2, 3, 1, 78}, {200, 100, 10, 3, 110}, {255, 0, 0, 0, 255},
        {256, 0, 0, 0, 0}, {0, 0, 0, 4, 0},  {0, 128, 0, 0, 0},      {10, 0, 86, 0, 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MVSIM_PatternValue(c.x, c.y, c.n, c.channel), c.value)
            << c.x << "," << c.y << " frame " << c.n << " channel " << c.channel;
}

TEST_F(EngineTest, FramesCarryThePatternAndStampForEveryPixelType)
{
    const struct {
        const char* what;
        unsigned pixelType, width, height, frameLen;
    } cases[] = {
        {"Mono8 wider than the pattern period", MVSIM_PIXEL_MONO8, 300, 3, 900},
        {"Mono8 rows of one 32-byte move", MVSIM_PIXEL_MONO8, 32, 3, 96},
        {"Mono8 rows of 256 bytes, the longest short rows", MVSIM_PIXEL_MONO8, 256, 3, 768},
        {"RGB8", MVSIM_PIXEL_RGB8, 37, 5, 555},
        {"RGBa8", MVSIM_PIXEL_RGBA8, 17, 2, 136},
        {"RGB16", MVSIM_PIXEL_RGB16, 9, 3, 162},
        {"Mono16", MVSIM_PIXEL_MONO16, 260, 2, 1040},
        {"BayerRG8", MVSIM_PIXEL_BAYERRG8, 16, 4, 64},
        {"12-bit packed code", 0x010C0006u, 5, 3, 24},
        {"frame smaller than the stamp", MVSIM_PIXEL_MONO8, 3, 2, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MVSIM_Reset();
        const int id = addDevice("Engine", serial, MVSIM_TRANSPORT_GIGE, c.width, c.height, c.pixelType);
        ASSERT_GE(id, 0);
        void* h = openHandle(serial);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(MV_CC_SetExposureTime(h, 123.5f), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetGain(h, 4.5f), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 1), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", 7), MVSIM_OK);
        Recorder recorder;
        recorder.keepData = true;
        ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
        for (unsigned i = 1; i <= 2; ++i) {
            ASSERT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
            ASSERT_TRUE(recorder.waitForFrames(i));
        }
        ASSERT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK);
        // Frames from the ring and a frame delivered on request look alike.
        ASSERT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK);

        for (const Frame& frame : recorder.frames()) {
            ASSERT_EQ(frame.length, c.frameLen);
            ASSERT_EQ(frame.data.size(), c.frameLen);
            EXPECT_EQ(frame.pixelType, c.pixelType);
            MvsimFrameStamp stamp{};
            stamp.magic = MVSIM_STAMP_MAGIC;
            stamp.frameNumber = frame.number;
            stamp.exposure = 123.5f;
            stamp.gain = 4.5f;
            stamp.triggerSource = MVSIM_TRIGGER_SOURCE_SOFTWARE;
            unsigned char stampBytes[sizeof stamp];
            std::memcpy(stampBytes, &stamp, sizeof stamp);
            const std::size_t rowBytes = c.frameLen / c.height;
            int wrong = 0;
            for (std::size_t i = 0; i < frame.data.size() && wrong < 5; ++i) {
                const unsigned y = static_cast<unsigned>(i / rowBytes);
                const unsigned char expected =
                    i < sizeof stamp ? stampBytes[i] : expectedByte(c.pixelType, i % rowBytes, y, frame.number);
                if (frame.data[i] != expected) {
                    ++wrong;
                    ADD_FAILURE() << "frame " << frame.number << " byte " << i << ": "
                                  << static_cast<int>(frame.data[i]) << " instead of " << static_cast<int>(expected);
                }
            }
        }
    }
}

struct Delivery {
    std::thread::id thread;
    bool data = false, info = false, user = false;
    unsigned char* dataPointer = nullptr;
    unsigned width = 0, height = 0, pixelType = 0, number = 0;
};

Delivery lastDelivery;

void recordDelivery(unsigned char* data, _MV_FRAME_OUT_INFO_* info, void* user)
{
    lastDelivery.thread = std::this_thread::get_id();
    lastDelivery.data = data != nullptr;
    lastDelivery.info = info != nullptr;
    lastDelivery.user = user != nullptr;
    lastDelivery.dataPointer = data;
    if (info) {
        lastDelivery.width = info->nWidth;
        lastDelivery.height = info->nHeight;
        lastDelivery.pixelType = info->enPixelType;
        lastDelivery.number = info->nFrameNum;
    }
}

TEST_F(EngineTest, DeliverFrameHonoursItsFlags)
{
    int user = 0;
    ASSERT_EQ(MV_CC_RegisterImageCallBack(handle, recordDelivery, &user), MVSIM_OK);
    const struct {
        unsigned flags;
        bool ownThread, data, info, user;
    } cases[] = {
        {0, false, true, true, true},
        {MVSIM_DELIVER_OWN_THREAD, true, true, true, true},
        {MVSIM_DELIVER_NULL_DATA, false, false, true, true},
        {MVSIM_DELIVER_NULL_INFO, false, true, false, true},
        {MVSIM_DELIVER_NULL_USER | MVSIM_DELIVER_OWN_THREAD, true, true, true, false},
        {MVSIM_DELIVER_NULL_DATA | MVSIM_DELIVER_NULL_INFO | MVSIM_DELIVER_NULL_USER, false, false, false, false},
    };
    for (const auto& c : cases) {
        lastDelivery = Delivery{};
        ASSERT_EQ(MVSIM_DeliverFrame(device, c.flags), MVSIM_OK) << "flags " << c.flags;
        EXPECT_EQ(lastDelivery.thread != std::this_thread::get_id(), c.ownThread) << "flags " << c.flags;
        EXPECT_NE(lastDelivery.thread, std::thread::id()) << "callback not run before return";
        EXPECT_EQ(lastDelivery.data, c.data) << "flags " << c.flags;
        EXPECT_EQ(lastDelivery.info, c.info) << "flags " << c.flags;
        EXPECT_EQ(lastDelivery.user, c.user) << "flags " << c.flags;
    }

    unsigned char bytes[12] = {};
    ASSERT_EQ(MVSIM_DeliverFrameAs(device, bytes, 2, 2, MVSIM_PIXEL_RGB8, 0), MVSIM_OK);
    EXPECT_EQ(lastDelivery.dataPointer, bytes);
    EXPECT_EQ(lastDelivery.width, 2u);
    EXPECT_EQ(lastDelivery.height, 2u);
    EXPECT_EQ(lastDelivery.pixelType, MVSIM_PIXEL_RGB8);
    EXPECT_EQ(lastDelivery.number, static_cast<unsigned>(std::size(cases) + 1));
    EXPECT_EQ(bytes[0], 0) << "caller's frame bytes were written";

    ASSERT_EQ(MV_CC_RegisterImageCallBack(handle, nullptr, nullptr), MVSIM_OK);
    EXPECT_EQ(MVSIM_DeliverFrame(device, 0), MVSIM_E_CALLORDER) << "delivered with the callback unregistered";
}

TEST_F(EngineTest, DeliveredFramesTakeTurnsWithGrabbedOnes)
{
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    Recorder recorder;
    recorder.hook = [&](const Frame&) {
        if (++inside > 1)
            ++overlaps;
        std::this_thread::yield();  // widen the window an overlap needs
        --inside;
    };
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(MVSIM_DeliverFrame(device, i % 2 ? MVSIM_DELIVER_OWN_THREAD : 0), MVSIM_OK);
    }
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);
    EXPECT_EQ(overlaps.load(), 0) << "two callbacks of one device ran at once";
    EXPECT_GE(recorder.count(), 50u);
}

TEST_F(EngineTest, CallbacksMayDeliverAndStopWithoutDeadlock)
{
    const struct {
        const char* what;
        std::function<void(void*, int)> fromCallback;
    } cases[] = {
        {"DeliverFrame", [](void*, int id) { EXPECT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK); }},
        {"DeliverFrame on its own thread",
         [](void*, int id) { EXPECT_EQ(MVSIM_DeliverFrame(id, MVSIM_DELIVER_OWN_THREAD), MVSIM_OK); }},
        {"WaitIdle", [](void*, int id) { EXPECT_EQ(MVSIM_WaitIdle(id, waitMs), MVSIM_E_CALLORDER); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        std::atomic<bool> once{false};
        Latch done;
        recorder.hook = [&](const Frame&) {
            if (!once.exchange(true)) {
                c.fromCallback(handle, device);
                done.open();
            }
        };
        ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
        ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
        if (!done.wait())
            kwtest::deadlocked((std::string(c.what) + " from inside the image callback").c_str(), deadline);
        returnsWithinDeadline("StopGrabbing", [&] { EXPECT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK); });
    }

    // A delivered frame's callback stops the acquisition whose next frame
    // waits for its turn.
    Recorder recorder;
    std::atomic<std::thread::id> deliverer{std::thread::id()};
    std::atomic<int> stopResult{-1};
    recorder.hook = [&](const Frame&) {
        if (std::this_thread::get_id() == deliverer.load()) {
            stopResult = MV_CC_StopGrabbing(handle);
        }
    };
    ASSERT_EQ(registerRecorder(handle, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(3));
    returnsWithinDeadline("DeliverFrame whose callback stops grabbing", [&] {
        deliverer = std::this_thread::get_id();
        EXPECT_EQ(MVSIM_DeliverFrame(device, 0), MVSIM_OK);
    });
    EXPECT_EQ(stopResult.load(), MVSIM_OK);
    EXPECT_EQ(state(device).grabbing, 0);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
}

}  // namespace
