// A second process for the cross-process tests: loads a configuration, opens
// the device with the given serial number and prints "open <result>".
// "try" then exits; "hold" keeps the device open until it is killed.
#include "mvcameracontrol.h"
#include "mvsim/control.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "try") != 0 && std::strcmp(argv[1], "hold") != 0)) {
        std::fprintf(stderr, "usage: mvsim_holder try|hold CONFIG SERIAL\n");
        return 2;
    }
    if (MVSIM_LoadConfig(argv[2]) != MVSIM_OK)
        return 1;
    MV_CC_DEVICE_INFO_LIST list;
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MVSIM_OK)
        return 1;
    void* handle = nullptr;
    for (unsigned i = 0; i < list.nDeviceNum && !handle; ++i)
        if (std::strncmp(reinterpret_cast<const char*>(list.pDeviceInfo[i]->chSerialNumber), argv[3],
                         MV_SERIAL_NUMBER_SIZE) == 0 &&
            MV_CC_CreateHandle(&handle, list.pDeviceInfo[i]) != MVSIM_OK)
            return 1;
    if (!handle)
        return 1;
    std::printf("open %d\n", MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0));
    std::fflush(stdout);
    if (std::strcmp(argv[1], "hold") == 0)
        for (;;)
            pause();
    MV_CC_DestroyHandle(handle);
    return 0;
}
