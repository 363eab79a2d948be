// ISetProperty: exposure time, gain and white-balance ratios with the
// automatic modes switched off and the device's limits checked.
#include <gtest/gtest.h>

#include <climits>

#include "pluginhost.h"

using namespace kwtest;

namespace {

using Calls = std::vector<std::string>;

const int kExposure = 1;
const int kRed = 2;
const int kGreen = 3;
const int kBlue = 4;
const int kGain = 0x10000;

QString propertyLine(const QString& text)
{
    return text + QStringLiteral("  -  CCameraHik::ISetProperty");
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

class PropertyTest : public FreshCameraTest<> {
protected:
    // A device with limits on exposure and gain.
    PropertyTest()
    {
        setup.exposureMin = 100;
        setup.exposureMax = 5000;
        setup.exposure = 1000;
        setup.gainMin = 0;
        setup.gainMax = 20;
        setup.gain = 1;
    }

    void SetUp() override { fresh(); }

    bool set(int id, int value)
    {
        tagQZ_CAMERA_PROPERTY property{id, value};
        const bool result = camera->ISetProperty(&property);
        EXPECT_EQ(property.nPropertyId, id) << "the host's record is not written";
        EXPECT_EQ(property.nValue, value);
        return result;
    }
};

TEST_F(PropertyTest, NullRecordAndCodesWithoutAProperty)
{
    LogCapture log;
    EXPECT_FALSE(camera->ISetProperty(nullptr));
    for (int code : {0, 5, 65535, 65537, -1, INT_MIN, INT_MAX, 0x20000})
        EXPECT_TRUE(set(code, 123)) << code;
    EXPECT_TRUE(callLog().empty());
    EXPECT_TRUE(log.all().empty());
}

TEST_F(PropertyTest, ExposureAndGainWithinInclusiveLimits)
{
    struct Case {
        const char* name;
        int id;
        int value;
        bool accepted;
        float deviceValue;  // what the device holds afterwards
    };
    const Case cases[] = {
        {"exposure at minimum", kExposure, 100, true, 100.0f},
        {"exposure at maximum", kExposure, 5000, true, 5000.0f},
        {"exposure inside", kExposure, 500, true, 500.0f},
        {"exposure below", kExposure, 99, false, 1000.0f},
        {"exposure above", kExposure, 5001, false, 1000.0f},
        {"exposure INT_MIN", kExposure, INT_MIN, false, 1000.0f},
        {"exposure INT_MAX", kExposure, INT_MAX, false, 1000.0f},
        {"gain at minimum", kGain, 0, true, 0.0f},
        {"gain at maximum", kGain, 20, true, 20.0f},
        {"gain below", kGain, -1, false, 1.0f},
        {"gain above", kGain, 21, false, 1.0f},
        {"gain INT_MIN", kGain, INT_MIN, false, 1.0f},
        {"gain INT_MAX", kGain, INT_MAX, false, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        LogCapture log;
        const bool exposure = c.id == kExposure;
        EXPECT_EQ(set(c.id, c.value), c.accepted);
        Calls expected = {"MV_CC_SetExposureAutoMode 0", exposure ? "MV_CC_GetExposureTime ptr" : "MV_CC_GetGain ptr"};
        if (c.accepted)
            expected.push_back((exposure ? "MV_CC_SetExposureTime " : "MV_CC_SetGain ") + std::to_string(c.value));
        EXPECT_EQ(callLog(), expected);
        const QString value = QString::number(c.value);
        QString line;
        if (exposure)
            line = c.accepted ? debug(propertyLine(quoted("Set exposure time value:" + value + " successfully.")))
                              : warning(propertyLine(quoted("Invalid exposure time value:" + value + ".")));
        else
            line = c.accepted ? debug(propertyLine(quoted("Set gain value:" + value + " successfully.")))
                              : warning(propertyLine(quoted("Invalid gain value:" + value + ".")));
        EXPECT_EQ(log.lines(), QStringList{line});
        const MvsimDeviceState state = deviceState();
        EXPECT_EQ(state.exposureAuto, 0u) << "automatic exposure stays off, also after a rejected value";
        EXPECT_EQ(exposure ? state.exposure : state.gain, c.deviceValue);
    }
}

TEST_F(PropertyTest, FailingStepsOfExposureAndGain)
{
    struct Case {
        int id;
        const char* failing;
        bool result;
        const char* message;
    };
    const Case cases[] = {
        {kExposure, "MV_CC_SetExposureAutoMode", true, "Failed to SetExposureAutoMode"},
        {kExposure, "MV_CC_GetExposureTime", false, "Failed to GetExposureTime"},
        {kExposure, "MV_CC_SetExposureTime", false, "Failed to SetExposureTime"},
        {kGain, "MV_CC_SetExposureAutoMode", true, "Failed to SetExposureAutoMode"},
        {kGain, "MV_CC_GetGain", false, "Failed to GetGain"},
        {kGain, "MV_CC_SetGain", false, "Failed to SetGain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        fresh();
        LogCapture log;
        MVSIM_FailCall(c.failing, 1, MVSIM_E_RESOURCE);
        EXPECT_EQ(set(c.id, c.id == kExposure ? 500 : 10), c.result);
        QStringList expected{warning(propertyLine(c.message))};
        if (c.result)
            expected.append(debug(propertyLine(quoted(c.id == kExposure ? "Set exposure time value:500 successfully."
                                                                        : "Set gain value:10 successfully."))));
        EXPECT_EQ(log.lines(), expected);
        const std::string last = callNames().back();
        EXPECT_EQ(last, c.result ? (c.id == kExposure ? "MV_CC_SetExposureTime" : "MV_CC_SetGain") : c.failing)
            << "a failed step ends the operation";
    }
}

TEST_F(PropertyTest, WhiteBalanceRatios)
{
    struct Case {
        int id;
        int value;
        const char* call;
        bool accepted;
    };
    const Case cases[] = {
        {kRed, 1500, "MV_CC_SetBalanceRatioRed", true},
        {kGreen, 0, "MV_CC_SetBalanceRatioGreen", true},
        {kBlue, 16383, "MV_CC_SetBalanceRatioBlue", true},
        {kRed, -1, "MV_CC_SetBalanceRatioRed", false},  // 4294967295: more than the device takes
        {kBlue, INT_MIN, "MV_CC_SetBalanceRatioBlue", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.call << " " << c.value);
        fresh();
        LogCapture log;
        const QString asUnsigned = QString::number(static_cast<unsigned int>(c.value));
        EXPECT_EQ(set(c.id, c.value), c.accepted);
        EXPECT_EQ(callLog(),
                  (Calls{"MV_CC_SetBalanceWhiteAuto 0", std::string(c.call) + " " + asUnsigned.toStdString()}));
        const QString text =
            (c.accepted ? "Successfully SetBalanceRatio to  " : "Failed to SetBalanceRatio to  ") + asUnsigned;
        EXPECT_EQ(log.lines(), QStringList{(c.accepted ? debug : warning)(propertyLine(text))});
        const MvsimDeviceState state = deviceState();
        EXPECT_EQ(state.balanceWhiteAuto, 0u);
        if (c.accepted) {
            const unsigned int ratio = c.id == kRed ? state.balanceRatioRed
                : c.id == kGreen                    ? state.balanceRatioGreen
                                                    : state.balanceRatioBlue;
            EXPECT_EQ(ratio, static_cast<unsigned int>(c.value));
        }
    }
}

TEST_F(PropertyTest, WhiteBalanceStopsWhenAutomaticModeCannotBeLeft)
{
    LogCapture log;
    MVSIM_FailCall("MV_CC_SetBalanceWhiteAuto", 1, MVSIM_E_RESOURCE);
    EXPECT_FALSE(set(kGreen, 1000));
    EXPECT_EQ(callLog(), Calls{"MV_CC_SetBalanceWhiteAuto 0"});
    EXPECT_EQ(log.lines(), QStringList{warning(propertyLine("Failed to SetBalanceWhiteAuto to OFF"))});
}

TEST_F(PropertyTest, ExposureIsPassedAsAWholeNumberFloat)
{
    EXPECT_TRUE(set(kExposure, 500));
    EXPECT_EQ(callLog().back(), "MV_CC_SetExposureTime 500");
    EXPECT_EQ(deviceState().exposure, 500.0f);
}

TEST_F(PropertyTest, WithoutAnOpenDeviceTheSdkAnswers)
{
    camera->ICloseCamera();
    MVSIM_ClearCallLog();
    LogCapture log;
    EXPECT_FALSE(set(kExposure, 500));
    EXPECT_FALSE(set(kRed, 500));
    EXPECT_FALSE(set(kGain, 5));
    EXPECT_EQ(callNames(),
              (Calls{"MV_CC_SetExposureAutoMode", "MV_CC_GetExposureTime", "MV_CC_SetBalanceWhiteAuto",
                     "MV_CC_SetExposureAutoMode", "MV_CC_GetGain"}));
    EXPECT_EQ(log.lines(),
              (QStringList{warning(propertyLine("Failed to SetExposureAutoMode")),
                           warning(propertyLine("Failed to GetExposureTime")),
                           warning(propertyLine("Failed to SetBalanceWhiteAuto to OFF")),
                           warning(propertyLine("Failed to SetExposureAutoMode")),
                           warning(propertyLine("Failed to GetGain"))}));
}

}  // namespace
