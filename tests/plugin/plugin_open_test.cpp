// Discovery, open, close and IApplyParameters over the stand-in.
#include <gtest/gtest.h>

#include <algorithm>

#include "pluginhost.h"

using namespace kwtest;

namespace {

const QString kOpenSuffix = QStringLiteral("  -  CCameraHik::IOpenCamera");

QString notValidKey(const QString& key)
{
    return warning(QStringLiteral("Not valid camera key: \"%1\"").arg(key) + kOpenSuffix);
}

QString foundCamera(const QString& key)
{
    return debug(QStringLiteral("Found camera  \"%1\"").arg(key) + kOpenSuffix);
}

QString openedCamera(const QString& key)
{
    return debug(QStringLiteral("Successfully open camera:  \"%1\"").arg(key) + kOpenSuffix);
}

QString openFailure(const char* text)
{
    return warning(QString::fromLatin1(text) + kOpenSuffix);
}

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }

    int addDevice(const char* model, const char* serial, unsigned width = 640, unsigned height = 480)
    {
        MvsimDeviceSetup setup = deviceSetup(model, serial);
        setup.width = width;
        setup.height = height;
        const int id = MVSIM_AddDevice(&setup);
        EXPECT_GE(id, 0);
        return id;
    }
};

TEST_F(OpenTest, ListsKeysInEnumerationOrder)
{
    addDevice("MV-A", "001");
    MvsimDeviceSetup usb = deviceSetup("MV-B", "002");
    usb.transport = MVSIM_TRANSPORT_USB;
    MVSIM_AddDevice(&usb);
    addDevice("MV-C", "003");
    HostCamera camera;
    EXPECT_EQ(camera->IGetCameraList(), (QStringList{"MV-A 001", "MV-B 002", "MV-C 003"}));
    EXPECT_EQ(callLog(), (std::vector<std::string>{"MV_CC_EnumDevices 5 ptr"}));
}

TEST_F(OpenTest, ListAnswersEmptyWithoutDevicesOrWhenEnumerationFails)
{
    LogCapture log;
    HostCamera camera;
    EXPECT_TRUE(camera->IGetCameraList().isEmpty());
    addDevice("MV-A", "001");
    MVSIM_FailCall("MV_CC_EnumDevices", 1, MVSIM_E_RESOURCE);
    EXPECT_TRUE(camera->IGetCameraList().isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(camera->IGetCameraList(), QStringList{"MV-A 001"});
}

TEST_F(OpenTest, DeviceTextsAreReadWithinTheirFields)
{
    // Texts as long as their fields carry no terminator.
    const char* model = "M23456789012345678901234567890AB";  // 32 bytes
    const char* serial = "S234567890ABCDEF";                 // 16 bytes
    addDevice(model, serial);
    addDevice("Mod%2", "%1x");
    HostCamera camera(QString::fromLatin1(model) + " " + serial);
    EXPECT_EQ(camera->IGetCameraList(), (QStringList{QString::fromLatin1(model) + " " + serial, "Mod%2 %1x"}));
    EXPECT_EQ(camera->IOpenCamera(), 1);
}

TEST_F(OpenTest, KeyMatching)
{
    addDevice("MV-CA", "00123", 1280, 1024);
    addDevice("MV-CB", "00456", 800, 600);
    addDevice("mv-ca", "00123", 320, 240);
    addDevice("MV-CB", "00456", 100, 100);  // duplicate of the second: the first wins
    struct Case {
        const char* name;
        QString key;
        int width;  // 0: the open fails
    };
    const Case cases[] = {
        {"plain", "MV-CA 00123", 1280},
        {"extra spaces", "  MV-CA   00123  ", 1280},
        {"three pieces", "MV-CB 00456 left-door", 800},
        {"lower case names another device", "mv-ca 00123", 320},
        {"serial differs", "MV-CA 00123X", 0},
        {"model case differs", "Mv-CA 00123", 0},
        {"swapped", "00123 MV-CA", 0},
        {"duplicate devices", "MV-CB 00456", 800},
        {"one piece", "MV-CA", -1},
        {"empty", "", -1},
        {"only spaces", "   ", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        MVSIM_ClearCallLog();
        HostCamera camera(c.key);
        const int result = camera->IOpenCamera();
        if (c.width > 0) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(camera->m_nWidth, c.width);
            EXPECT_EQ(log.lines(), (QStringList{foundCamera(c.key), openedCamera(c.key)}));
        } else if (c.width == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(log.lines(), QStringList{openFailure("Failed to get camera parameters.")});
            EXPECT_EQ(callNames(), std::vector<std::string>{"MV_CC_EnumDevices"});
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(log.lines(), QStringList{notValidKey(c.key)});
            EXPECT_TRUE(callLog().empty());
        }
        camera.destroy();
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
    }
}

TEST_F(OpenTest, DevicesWhoseKeysCannotBeMatched)
{
    addDevice("MV CA", "001");  // space inside the model name
    addDevice("", "002");       // empty model name: a key of one piece
    addDevice("MV-E", "");
    HostCamera camera;
    const QStringList keys = camera->IGetCameraList();
    EXPECT_EQ(keys, (QStringList{"MV CA 001", " 002", "MV-E "}));

    struct Case {
        QString key;
        QString message;
    };
    const Case cases[] = {{keys[0], openFailure("Failed to get camera parameters.")},
                          {keys[1], notValidKey(keys[1])},
                          {keys[2], notValidKey(keys[2])}};
    for (const Case& c : cases) {
        LogCapture log;
        camera->m_pConfig->strCameraKey = c.key;
        EXPECT_EQ(camera->IOpenCamera(), 0) << c.key.toStdString();
        EXPECT_EQ(log.lines(), QStringList{c.message});
    }
}

TEST_F(OpenTest, NoDevicesOrFailedEnumeration)
{
    LogCapture log;
    HostCamera camera("MV-CA 00123");
    EXPECT_EQ(camera->IOpenCamera(), 0);
    addDevice("MV-CA", "00123");
    MVSIM_FailCall("MV_CC_EnumDevices", 1, MVSIM_E_RESOURCE);
    EXPECT_EQ(camera->IOpenCamera(), 0);
    EXPECT_EQ(log.lines(),
              (QStringList{openFailure("Failed to get camera parameters."), openFailure("Failed to EnumDevices.")}));
    EXPECT_EQ(camera->IOpenCamera(), 1);
}

TEST_F(OpenTest, EveryFailingStepReleasesTheHandleAndTheNextOpenStartsAfresh)
{
    const int id = addDevice("MV-CA", "00123", 1280, 1024);
    struct Case {
        const char* function;
        const char* message;
        int failureAt;  // the nth call of that function in one open
    };
    const Case cases[] = {
        {"MV_CC_CreateHandle", "Failed to CreateHandle.", 1},
        {"MV_CC_OpenDevice", "Failed to OpenDevice.", 1},
        {"MV_CC_RegisterImageCallBack", "Failed to RegisterImageCallBack.", 1},
        {"MV_CC_GetWidth", "Failed to get camera parameters.", 1},
        {"MV_CC_GetHeight", "Failed to get camera parameters.", 1},
        {"MV_CC_GetPixelFormat", "Failed to get camera parameters.", 1},
    };
    const std::vector<std::string> fullOpen = {"MV_CC_EnumDevices",           "MV_CC_CreateHandle", "MV_CC_OpenDevice",
                                               "MV_CC_RegisterImageCallBack", "MV_CC_GetWidth",     "MV_CC_GetHeight",
                                               "MV_CC_GetPixelFormat"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        HostCamera camera("MV-CA 00123");
        LogCapture log;
        MVSIM_ClearCallLog();
        MVSIM_FailCall(c.function, 1, MVSIM_E_RESOURCE);
        EXPECT_EQ(camera->IOpenCamera(), 0);
        EXPECT_EQ(log.lines(), (QStringList{foundCamera("MV-CA 00123"), openFailure(c.message)}));
        EXPECT_FALSE(camera->m_bOpened);
        EXPECT_EQ(memberAt<void*>(camera.object, 80), nullptr);
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
        std::vector<std::string> expected(fullOpen.begin(),
                                          std::find(fullOpen.begin(), fullOpen.end(), c.function) + 1);
        if (expected.size() > 2)
            expected.push_back("MV_CC_DestroyHandle");
        EXPECT_EQ(callNames(), expected);

        // Nothing of the attempt is left: close and apply make no call, the
        // device is free for another host, and the next open starts afresh.
        MVSIM_ClearCallLog();
        camera->ICloseCamera();
        camera->IApplyParameters();
        EXPECT_TRUE(callLog().empty());
        MvsimDeviceState state;
        ASSERT_EQ(MVSIM_GetDeviceState(id, &state), 0);
        EXPECT_EQ(state.openHandles, 0);
        EXPECT_EQ(camera->IOpenCamera(), 1);
        EXPECT_EQ(callNames(), fullOpen);
        EXPECT_EQ(camera->m_nWidth, 1280);
        EXPECT_EQ(camera->m_nHeight, 1024);
    }
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
}

TEST_F(OpenTest, WhatAFailedCreateHandleLeftIsNoHandle)
{
    addDevice("MV-CA", "00123");
    MVSIM_SetScribbleOnFailure(1);
    MVSIM_FailCall("MV_CC_CreateHandle", 1, MVSIM_E_RESOURCE);
    HostCamera camera("MV-CA 00123");
    EXPECT_EQ(camera->IOpenCamera(), 0);
    EXPECT_EQ(memberAt<void*>(camera.object, 80), nullptr);
    MVSIM_ClearCallLog();
    camera->ISnapCamera();
    tagQZ_CAMERA_PROPERTY property{0x10000, 5};
    camera->ISetProperty(&property);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"MV_CC_SetExposureAutoMode", "MV_CC_GetGain"}))
        << "snap without a handle calls nothing";
    EXPECT_EQ(camera->IOpenCamera(), 1);
}

TEST_F(OpenTest, SecondHostCannotOpenAnOpenDevice)
{
    addDevice("MV-CA", "00123");
    HostCamera first("MV-CA 00123");
    HostCamera second("MV-CA 00123");
    ASSERT_EQ(first->IOpenCamera(), 1);
    LogCapture log;
    EXPECT_EQ(second->IOpenCamera(), 0);
    EXPECT_EQ(log.lines(), (QStringList{foundCamera("MV-CA 00123"), openFailure("Failed to OpenDevice.")}));
    EXPECT_EQ(MVSIM_LiveHandles(), 1);
    first->ICloseCamera();
    EXPECT_EQ(second->IOpenCamera(), 1);
}

TEST_F(OpenTest, SuccessfulOpenSetsTheOpenState)
{
    const int id = addDevice("MV-CA", "00123", 1280, 1024);
    HostCamera camera("MV-CA 00123", 1);
    ASSERT_EQ(camera->IOpenCamera(), 1);
    EXPECT_EQ(camera->m_nPixelFormat, 0) << "the format follows frames only";
    ASSERT_EQ(MVSIM_DeliverFrame(id, 0), 0);
    ASSERT_EQ(MVSIM_DeliverFrame(id, 0), 0);
    EXPECT_EQ(camera->m_nFrameCount, 2);
    camera->ICloseCamera();
    EXPECT_EQ(camera->m_nFrameCount, 2) << "close keeps the count";

    ASSERT_EQ(camera->IOpenCamera(), 1);
    EXPECT_TRUE(camera->m_bOpened);
    EXPECT_FALSE(camera->m_bGrabbing);
    EXPECT_EQ(camera->m_nFrameCount, 0) << "open resets the count";
    EXPECT_EQ(camera->m_nWidth, 1280);
    EXPECT_EQ(camera->m_nHeight, 1024);
    EXPECT_EQ(camera->m_nImageSize, 1280 * 1024) << "size follows the geometry read at open";
    EXPECT_EQ(memberAt<int>(camera.object, 104), static_cast<int>(MVSIM_PIXEL_MONO8)) << "m_nDevicePixelType";
    EXPECT_NE(memberAt<void*>(camera.object, 80), nullptr);
}

TEST_F(OpenTest, OpenOnAnOpenObjectChangesNothing)
{
    addDevice("MV-CA", "00123");
    addDevice("MV-CB", "00456");
    HostCamera camera("MV-CA 00123");
    ASSERT_EQ(camera->IOpenCamera(), 1);
    void* handle = memberAt<void*>(camera.object, 80);
    camera->m_pConfig->strCameraKey = "MV-CB 00456";
    camera->m_pConfig->strCameraKey = "nonsense";
    LogCapture log;
    MVSIM_ClearCallLog();
    EXPECT_EQ(camera->IOpenCamera(), 1);
    EXPECT_TRUE(callLog().empty());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(memberAt<void*>(camera.object, 80), handle);
}

TEST_F(OpenTest, NullConfigurationFailsBeforeAnythingElse)
{
    addDevice("MV-CA", "00123");
    HostCamera camera("MV-CA 00123");
    tagQZ_CAMERA_CONFIG* config = camera->m_pConfig;
    camera->m_pConfig = nullptr;
    LogCapture log;
    EXPECT_EQ(camera->IOpenCamera(), 0);
    camera->IApplyParameters();
    camera->m_pConfig = config;
    ASSERT_EQ(camera->IOpenCamera(), 1);
    camera->m_pConfig = nullptr;
    MVSIM_ClearCallLog();
    EXPECT_EQ(camera->IOpenCamera(), 0) << "even on an open object";
    camera->IApplyParameters();
    EXPECT_TRUE(callLog().empty());
    EXPECT_EQ(log.lines(), (QStringList{foundCamera("MV-CA 00123"), openedCamera("MV-CA 00123")}))
        << "only the open with a record logs";
    camera->m_pConfig = config;
}

TEST_F(OpenTest, CloseStopsAcquisitionBeforeReleasingTheDevice)
{
    for (bool stopFails : {false, true}) {
        SCOPED_TRACE(stopFails ? "stop fails" : "stop succeeds");
        MVSIM_Reset();
        addDevice("MV-CA", "00123");
        HostCamera camera("MV-CA 00123");
        ASSERT_EQ(camera->IOpenCamera(), 1);
        ASSERT_EQ(camera->IStartCamera(), 1);
        MVSIM_ClearCallLog();
        if (stopFails)
            MVSIM_FailCall("MV_CC_StopGrabbing", 1, MVSIM_E_RESOURCE);
        camera->ICloseCamera();
        EXPECT_EQ(callNames(), (std::vector<std::string>{"MV_CC_StopGrabbing", "MV_CC_DestroyHandle"}));
        EXPECT_FALSE(camera->m_bOpened);
        EXPECT_FALSE(camera->m_bGrabbing);
        EXPECT_EQ(memberAt<void*>(camera.object, 80), nullptr);
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);

        MVSIM_ClearCallLog();
        camera->ICloseCamera();
        EXPECT_TRUE(callLog().empty()) << "close of a closed object";
    }
}

TEST_F(OpenTest, DeletingAGrabbingObjectClosesIt)
{
    addDevice("MV-CA", "00123");
    HostCamera camera("MV-CA 00123");
    ASSERT_EQ(camera->IOpenCamera(), 1);
    ASSERT_EQ(camera->IStartCamera(), 1);
    MVSIM_ClearCallLog();
    camera.destroy();
    EXPECT_EQ(callNames(), (std::vector<std::string>{"MV_CC_StopGrabbing", "MV_CC_DestroyHandle"}));
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
    EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
}

TEST_F(OpenTest, ApplyParametersPassesTheConfiguredValues)
{
    addDevice("MV-CA", "00123");
    HostCamera camera("MV-CA 00123");
    camera.config.nExposureTime = 100;
    camera.config.nGain = -3;
    camera->IApplyParameters();
    EXPECT_TRUE(callLog().empty()) << "no handle before open";

    ASSERT_EQ(camera->IOpenCamera(), 1);
    MVSIM_ClearCallLog();
    LogCapture log;
    camera->IApplyParameters();
    // The gain of -3 is outside the device's limits: the result is not looked at.
    EXPECT_EQ(callLog(), (std::vector<std::string>{"MV_CC_SetExposureTime 100", "MV_CC_SetGain -3"}));
    EXPECT_TRUE(log.lines().isEmpty());
}

}  // namespace
