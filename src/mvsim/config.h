// Device lists: the JSON configuration file, the built-in default and the
// checks every device goes through, whichever way it is added.
#ifndef MVSIM_CONFIG_H
#define MVSIM_CONFIG_H

#include "device.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mvsim {

struct ConfigResult {
    bool ok = false;
    std::vector<DeviceSetup> devices;
    std::string error;  // "<path>: <where>: <reason>" when not ok
};

// The memory a device's frame buffers may take together.
constexpr std::uint64_t maxBufferBytes = std::uint64_t(4096) << 20;

// A configuration file is read only when it is a regular file of at most
// this size.
constexpr std::size_t maxConfigBytes = 16u << 20;

ConfigResult loadConfigFile(const std::string& path);
std::vector<DeviceSetup> defaultDevices();

// Empty when the setup describes a device the stand-in can simulate,
// otherwise "<field>: <reason>".
std::string checkSetup(const DeviceSetup& setup);

}  // namespace mvsim

#endif  // MVSIM_CONFIG_H
