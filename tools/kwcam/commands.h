// The commands. Each returns the process exit code and has printed
// its reason on stderr when that code is not 0.
#ifndef KWCAM_COMMANDS_H
#define KWCAM_COMMANDS_H

#include "commandline.h"

namespace kwcam {

int runList(const Invocation& invocation);
int runGrab(const Invocation& invocation);
int runSet(const Invocation& invocation);
int runInfo(const Invocation& invocation);  // info.cpp

}  // namespace kwcam

#endif  // KWCAM_COMMANDS_H
