#include "standin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>

namespace kwtest {

MvsimDeviceSetup deviceSetup(const char* model, const char* serial)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, model, serial);
    return setup;
}

MvsimDeviceState deviceState(int deviceId)
{
    MvsimDeviceState state{};
    EXPECT_EQ(MVSIM_GetDeviceState(deviceId, &state), MVSIM_OK) << "device " << deviceId;
    return state;
}

std::string callLogEntry(int i)
{
    char text[512];
    if (MVSIM_CallLogEntry(i, text, sizeof text) < 0)
        return "<none>";
    return text;
}

std::vector<std::string> callLog()
{
    std::vector<std::string> entries;
    const int n = MVSIM_CallLogSize();
    for (int i = 0; i < n; ++i)
        entries.push_back(callLogEntry(i));
    return entries;
}

std::vector<std::string> callNames()
{
    std::vector<std::string> names;
    for (const std::string& entry : callLog())
        names.push_back(entry.substr(0, entry.find(' ')));
    return names;
}

void deadlocked(const char* what, std::chrono::seconds limit)
{
    std::fprintf(stderr, "%s did not return within %lld s: deadlock\n", what, static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(1);
}

void returnsWithin(std::chrono::seconds limit, const char* what, const std::function<void()>& f)
{
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(limit) != std::future_status::ready)
        deadlocked(what, limit);
    done.get();
}

}  // namespace kwtest
