// Acquisition control: start, stop, software triggers and the lazy
// reconciliation of the requested trigger mode with the applied one.
#include <gtest/gtest.h>

#include <climits>

#include "pluginhost.h"

using namespace kwtest;

namespace {

using Calls = std::vector<std::string>;

const std::string kSourceLine0 = "MV_CC_SetEnumValue TriggerSource 0";
const std::string kSourceSoftware = "MV_CC_SetEnumValue TriggerSource 7";
const std::string kModeOn = "MV_CC_SetEnumValue TriggerMode 1";
const std::string kModeOff = "MV_CC_SetEnumValue TriggerMode 0";
const std::string kStart = "MV_CC_StartGrabbing";
const std::string kStop = "MV_CC_StopGrabbing";
const std::string kFire = "MV_CC_SetCommandValue TriggerSoftware";

// What the start of a requested code sends before acquisition starts.
Calls settingsFor(int code)
{
    switch (code) {
    case 1:
        return {kSourceLine0, kModeOn};
    case 2:
    case 3:
        return {kModeOff};
    case 4:
        return {kSourceSoftware, kModeOn};
    default:
        return {};
    }
}

QString startWarning(const char* text, int code)
{
    return warning(QStringLiteral("\"%1\"  -  CCameraHik::IStartCamera").arg(QString::fromLatin1(text).arg(code)));
}

class TriggerTest : public FreshCameraTest<> {
protected:
    void SetUp() override { fresh(); }

    // Puts `code` into effect and leaves the object open and not grabbing.
    void applyMode(int code)
    {
        camera->m_nTriggerMode = code;
        ASSERT_EQ(camera->IStartCamera(), 1);
        camera->IStopCamera();
        ASSERT_FALSE(camera->m_bGrabbing);
        ASSERT_EQ(camera->m_nCurTriggerMode, code);
        MVSIM_ClearCallLog();
    }
};

const int kRequested[] = {0, 1, 2, 3, 4, 5, -1, 65535, INT_MIN};
const int kApplied[] = {0, 1, 2, 3, 4};

TEST_F(TriggerTest, StartSendsWhatTheRequestedCodeNeedsThenStarts)
{
    for (int applied : kApplied) {
        for (int requested : kRequested) {
            SCOPED_TRACE(testing::Message() << "applied " << applied << ", requested " << requested);
            fresh();
            applyMode(applied);
            LogCapture log;
            camera->m_nTriggerMode = requested;
            EXPECT_EQ(camera->IStartCamera(), 1);
            Calls expected = requested == applied ? Calls{} : settingsFor(requested);
            expected.push_back(kStart);
            EXPECT_EQ(callLog(), expected);
            EXPECT_EQ(camera->m_nCurTriggerMode, requested);
            EXPECT_EQ(camera->m_nTriggerMode, requested);
            EXPECT_TRUE(camera->m_bGrabbing);
            EXPECT_TRUE(log.lines().isEmpty());
            camera->IStopCamera();
        }
    }
}

TEST_F(TriggerTest, ModeChangeWhileGrabbingIsSentWithoutStartingAgain)
{
    for (int applied : kApplied) {
        for (int requested : kRequested) {
            SCOPED_TRACE(testing::Message() << "applied " << applied << ", requested " << requested);
            fresh();
            camera->m_nTriggerMode = applied;
            ASSERT_EQ(camera->IStartCamera(), 1);
            MVSIM_ClearCallLog();
            camera->m_nTriggerMode = requested;
            EXPECT_EQ(camera->IStartCamera(), 1);
            EXPECT_EQ(callLog(), requested == applied ? Calls{} : settingsFor(requested));
            EXPECT_EQ(camera->m_nCurTriggerMode, requested);
            EXPECT_TRUE(camera->m_bGrabbing);
            EXPECT_EQ(deviceState().grabbing, 1);
        }
    }
}

TEST_F(TriggerTest, RequestedModeReachesTheDevice)
{
    struct Case {
        int code;
        unsigned int triggerMode, triggerSource;
    };
    for (const Case& c : {Case{1, 1, 0}, Case{2, 0, 0}, Case{3, 0, 0}, Case{4, 1, 7}}) {
        fresh();
        camera->m_nTriggerMode = c.code;
        ASSERT_EQ(camera->IStartCamera(), 1);
        const MvsimDeviceState state = deviceState();
        EXPECT_EQ(state.triggerMode, c.triggerMode) << c.code;
        if (c.triggerMode == 1) {
            EXPECT_EQ(state.triggerSource, c.triggerSource) << c.code;
        }
    }
}

TEST_F(TriggerTest, StartWithoutAnOpenDevice)
{
    HostCamera closed("MV-TEST 0001");
    LogCapture log;
    MVSIM_ClearCallLog();
    EXPECT_EQ(closed->IStartCamera(), 0);
    closed->IStopCamera();
    closed->ISnapCamera();
    EXPECT_EQ(closed->m_nCurTriggerMode, 0);
    EXPECT_FALSE(closed->m_bGrabbing);

    camera->m_bOpened = false;  // a host that scribbled over the flag
    EXPECT_EQ(camera->IStartCamera(), 0);
    camera->m_bOpened = true;
    EXPECT_TRUE(callLog().empty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(TriggerTest, FailedSettingLeavesEverythingAndIsRepeatedFromTheStart)
{
    struct Case {
        int requested;
        int failingSetting;  // nth MV_CC_SetEnumValue of the sequence
        const char* text;
    };
    const Case cases[] = {
        {1, 1, "Error: TriggerSource to line0 failed [%1]"},    {1, 2, "Error: SetTriggerMode to on failed [%1]"},
        {2, 1, "Error: SetTriggerMode to off failed [%1]"},     {3, 1, "Error: SetTriggerMode to off failed [%1]"},
        {4, 1, "Error: TriggerSource to software failed [%1]"}, {4, 2, "Error: SetTriggerMode to on failed [%1]"},
    };
    for (const int code : {INT_MIN, static_cast<int>(0x80000004), 7}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "requested " << c.requested << ", setting " << c.failingSetting << ", code " << code);
            fresh();
            applyMode(c.requested == 2 ? 1 : 2);
            const int applied = camera->m_nCurTriggerMode;
            camera->m_nTriggerMode = c.requested;
            LogCapture log;
            MVSIM_FailCall("MV_CC_SetEnumValue", c.failingSetting, code);
            EXPECT_EQ(camera->IStartCamera(), 0);
            const Calls settings = settingsFor(c.requested);
            EXPECT_EQ(callLog(), Calls(settings.begin(), settings.begin() + c.failingSetting));
            EXPECT_EQ(log.lines(), QStringList{startWarning(c.text, code)});
            EXPECT_EQ(camera->m_nCurTriggerMode, applied);
            EXPECT_FALSE(camera->m_bGrabbing);

            MVSIM_ClearCallLog();
            EXPECT_EQ(camera->IStartCamera(), 1);
            Calls again = settings;
            again.push_back(kStart);
            EXPECT_EQ(callLog(), again);
            EXPECT_EQ(camera->m_nCurTriggerMode, c.requested);
        }
    }
}

TEST_F(TriggerTest, FailedStartKeepsTheAppliedModeAndTriesAgain)
{
    LogCapture log;
    MVSIM_FailCall("MV_CC_StartGrabbing", 1, INT_MIN);
    EXPECT_EQ(camera->IStartCamera(), 0);
    EXPECT_EQ(log.lines(), QStringList{startWarning("Error: StartGrabbing failed [%1]", INT_MIN)});
    EXPECT_EQ(log.lines().value(0),
              warning("\"Error: StartGrabbing failed [-2147483648]\"  -  CCameraHik::IStartCamera"));
    EXPECT_EQ(camera->m_nCurTriggerMode, 1);
    EXPECT_FALSE(camera->m_bGrabbing);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    MVSIM_ClearCallLog();
    EXPECT_EQ(camera->IStartCamera(), 1);
    EXPECT_EQ(callLog(), Calls{kStart});
    EXPECT_TRUE(camera->m_bGrabbing);
}

TEST_F(TriggerTest, StopOnlyStopsAGrabbingOpenObject)
{
    LogCapture log;
    camera->IStopCamera();  // open, not grabbing
    EXPECT_TRUE(callLog().empty());

    ASSERT_EQ(camera->IStartCamera(), 1);
    MVSIM_ClearCallLog();
    camera->m_bOpened = false;
    camera->IStopCamera();
    camera->m_bOpened = true;
    EXPECT_TRUE(callLog().empty()) << "not open";
    EXPECT_TRUE(log.lines().isEmpty());

    MVSIM_FailCall("MV_CC_StopGrabbing", 1, static_cast<int>(0x80000003));
    camera->IStopCamera();
    EXPECT_EQ(callLog(), Calls{kStop});
    EXPECT_EQ(log.lines(),
              QStringList{warning("\"Error: StopGrabbing failed [-2147483645]\"  -  CCameraHik::IStopCamera")});
    EXPECT_TRUE(camera->m_bGrabbing) << "a failed stop leaves the object grabbing";
    EXPECT_EQ(deviceState().grabbing, 1);

    camera->IStopCamera();
    EXPECT_FALSE(camera->m_bGrabbing);
    EXPECT_EQ(deviceState().grabbing, 0);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
}

TEST_F(TriggerTest, SnapSwitchesToSoftwareTriggeringOnceThenOnlyFires)
{
    applyMode(1);
    ASSERT_EQ(camera->IStartCamera(), 1);
    MVSIM_ClearCallLog();
    LogCapture log;
    camera->ISnapCamera();
    EXPECT_EQ(callLog(), (Calls{kSourceSoftware, kModeOn, kFire}));
    EXPECT_EQ(camera->m_nCurTriggerMode, 4);
    EXPECT_EQ(camera->m_nTriggerMode, 1) << "snap never writes the requested mode";
    ASSERT_TRUE(host->callback.waitForFrames(1)) << "the trigger produced no frame";

    MVSIM_ClearCallLog();
    camera->ISnapCamera();
    EXPECT_EQ(callLog(), Calls{kFire});
    ASSERT_TRUE(host->callback.waitForFrames(2));

    // The next start puts the host's mode back into effect.
    MVSIM_ClearCallLog();
    EXPECT_EQ(camera->IStartCamera(), 1);
    EXPECT_EQ(callLog(), (Calls{kSourceLine0, kModeOn}));
    EXPECT_EQ(camera->m_nCurTriggerMode, 1);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(TriggerTest, SoftwareModeRequestedBeforeTheFirstStartTakesEffect)
{
    camera->m_nTriggerMode = 4;
    ASSERT_EQ(camera->IStartCamera(), 1);
    EXPECT_EQ(callLog(), (Calls{kSourceSoftware, kModeOn, kStart}));
    MVSIM_ClearCallLog();
    camera->ISnapCamera();
    EXPECT_EQ(callLog(), Calls{kFire});
    ASSERT_TRUE(host->callback.waitForFrames(1));
    EXPECT_EQ(host->callback.count(), 1);
}

TEST_F(TriggerTest, SnapWithoutAcquisitionStillSendsItsSettings)
{
    LogCapture log;
    camera->ISnapCamera();
    EXPECT_EQ(callLog(), (Calls{kSourceSoftware, kModeOn, kFire}));
    EXPECT_EQ(camera->m_nCurTriggerMode, 4);
    EXPECT_EQ(log.lines(), QStringList{warning("Failed to set triggerSoftware -  CCameraHik::ISnapCamera")});
    EXPECT_EQ(host->callback.count(), 0);
}

TEST_F(TriggerTest, FailedSnapSettingLeavesTheAppliedMode)
{
    struct Case {
        int failingSetting;
        const char* text;
        Calls calls;
    };
    const Case cases[] = {
        {1, "\"Error: TriggerSource to software failed [-2147483648]\"  -  CCameraHik::ISnapCamera", {kSourceSoftware}},
        {2,
         "\"Error: SetTriggerMode to on failed [-2147483648]\"  -  CCameraHik::ISnapCamera",
         {kSourceSoftware, kModeOn}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failingSetting);
        fresh();
        applyMode(2);
        LogCapture log;
        MVSIM_FailCall("MV_CC_SetEnumValue", c.failingSetting, INT_MIN);
        camera->ISnapCamera();
        EXPECT_EQ(callLog(), c.calls);
        EXPECT_EQ(log.lines(), QStringList{warning(c.text)});
        EXPECT_EQ(camera->m_nCurTriggerMode, 2);
        MVSIM_ClearCallLog();
        camera->ISnapCamera();
        EXPECT_EQ(callLog(), (Calls{kSourceSoftware, kModeOn, kFire})) << "repeated from the beginning";
    }
}

TEST_F(TriggerTest, AppliedModeSurvivesCloseAndOpen)
{
    applyMode(2);
    camera->ICloseCamera();
    ASSERT_EQ(camera->IOpenCamera(), 1);
    EXPECT_EQ(camera->m_nCurTriggerMode, 2);
    MVSIM_ClearCallLog();
    camera->m_nTriggerMode = 2;
    EXPECT_EQ(camera->IStartCamera(), 1);
    EXPECT_EQ(callLog(), Calls{kStart});
}

TEST_F(TriggerTest, FramesArriveOnlyWhenTriggered)
{
    // Line 0: nothing without a pulse, one frame per pulse.
    camera->m_nTriggerMode = 1;
    ASSERT_EQ(camera->IStartCamera(), 1);
    MvsimCounters counters{};
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
    EXPECT_EQ(counters.produced, 0u);
    ASSERT_EQ(MVSIM_PulseLine0(device), 0);
    ASSERT_TRUE(host->callback.waitForFrames(1)) << "no frame after a line-0 pulse";
    camera->IStopCamera();
    EXPECT_EQ(host->callback.count(), 1);

    // Free-running: frames flow without any trigger.
    camera->m_nTriggerMode = 2;
    ASSERT_EQ(camera->IStartCamera(), 1);
    ASSERT_TRUE(host->callback.waitForFrames(5)) << "free-running produced no frames";
    camera->IStopCamera();
    const int afterStop = host->callback.count();
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), 0);
    EXPECT_EQ(counters.delivered, static_cast<unsigned long long>(afterStop)) << "no frame after stop returned";
}

}  // namespace

namespace {

TEST_F(TriggerTest, UnpluggedWhileGrabbing)
{
    camera->m_nTriggerMode = 2;
    ASSERT_EQ(camera->IStartCamera(), 1);
    ASSERT_TRUE(host->callback.waitForFrames(3)) << "free-running produced no frames";
    ASSERT_EQ(MVSIM_UnplugDevice(device), 0);
    const int afterUnplug = host->callback.count();
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0) << "frames stop with the device";

    LogCapture log;
    camera->IStopCamera();
    EXPECT_EQ(
        log.lines(),
        QStringList{warning(
            QStringLiteral("\"Error: StopGrabbing failed [%1]\"  -  CCameraHik::IStopCamera").arg(MVSIM_E_NODEVICE))});
    EXPECT_TRUE(camera->m_bGrabbing);
    camera->ICloseCamera();
    EXPECT_FALSE(camera->m_bOpened);
    EXPECT_EQ(MVSIM_LiveHandles(), 0) << "the handle of an unplugged device is still released";
    EXPECT_EQ(host->callback.count(), afterUnplug);
    EXPECT_TRUE(camera->IGetCameraList().isEmpty());
    EXPECT_EQ(camera->IOpenCamera(), 0);
}

}  // namespace
