// The first call into the stand-in loads the file named by MVSIM_CONFIG. A
// process of its own: nothing may call the stand-in before the variable is
// set.
#include "mvsim_support.h"

#include <cstdlib>

namespace {

TEST(MvsimEnvironment, FirstCallLoadsTheFileNamedByMvsimConfig)
{
    const std::string path = std::string(MVSIM_TEST_DATA) + "/mvsim_config.json";
    ASSERT_EQ(setenv("MVSIM_CONFIG", path.c_str(), 1), 0);
    MV_CC_DEVICE_INFO_LIST list;
    ASSERT_EQ(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MVSIM_OK);
    ASSERT_EQ(list.nDeviceNum, 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.pDeviceInfo[0]->chModelName), "Line-Scan-1");
    EXPECT_STREQ(reinterpret_cast<const char*>(list.pDeviceInfo[2]->chSerialNumber), "CFG0003");
    // The load did not log itself: only the enumeration is there.
    EXPECT_EQ(MVSIM_CallLogSize(), 1);
}

}  // namespace
