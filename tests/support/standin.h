// The SDK stand-in as the tests observe it: devices set up with its
// defaults, what a device holds, the call log; and a guard that turns a call
// that never returns into a failed run instead of a hung one.
#ifndef KWCAM_TESTS_SUPPORT_STANDIN_H
#define KWCAM_TESTS_SUPPORT_STANDIN_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "mvsim/control.h"

namespace kwtest {

// A device setup with the stand-in's defaults and the given texts.
MvsimDeviceSetup deviceSetup(const char* model, const char* serial);

// What the stand-in's device holds now (a test failure when it is unknown).
MvsimDeviceState deviceState(int deviceId);

// Entry i of the stand-in's call log, "<none>" past its end.
std::string callLogEntry(int i);
// The call log, one string per SDK call.
std::vector<std::string> callLog();
// The call log without the arguments: only the function names.
std::vector<std::string> callNames();

// Ends the test binary with "<what> did not return within <limit> s:
// deadlock" on stderr: what a wait that ran out of time means.
[[noreturn]] void deadlocked(const char* what, std::chrono::seconds limit);

// Runs f on another thread; a call that does not return within `limit` is a
// deadlock, and the test binary ends with a message instead of hanging.
void returnsWithin(std::chrono::seconds limit, const char* what, const std::function<void()>& f);

}  // namespace kwtest

#endif  // KWCAM_TESTS_SUPPORT_STANDIN_H
