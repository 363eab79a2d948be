// A second process for the cross-process tests: loads a configuration, opens
// the device with the given serial number and prints "open <result>".
// "try" then exits; "hold" keeps the device open until it is killed.
// "enum CONFIG KB" lists the devices of CONFIG (loaded by that first call)
// with the address space limited to KB kilobytes more than the process uses
// already, and prints "enum <result>": the call must fail, not abort.
#include "mvcameracontrol.h"
#include "mvsim/control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/resource.h>

#include <unistd.h>

namespace {

// Bytes of address space the process holds now.
unsigned long long addressSpace()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmSize:") {
            unsigned long long kb = 0;
            status >> kb;
            return kb * 1024;
        }
    return 0;
}

int listUnderLimit(const char* config, const char* headroomKb)
{
    setenv("MVSIM_CONFIG", config, 1);
    const unsigned long long limit = addressSpace() + std::strtoull(headroomKb, nullptr, 10) * 1024;
    const rlimit rl{limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0)
        return 1;
    static MV_CC_DEVICE_INFO_LIST list;
    const int code = MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list);
    // Written without stdio's buffer, which may not be had any more.
    char line[32];
    const int n = std::snprintf(line, sizeof line, "enum %d\n", code);
    return write(STDOUT_FILENO, line, static_cast<std::size_t>(n)) == n ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "enum") == 0)
        return listUnderLimit(argv[2], argv[3]);
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
