// kwcam check: the conformance kit for camera plug-ins of the contract.
// kwcam's command line hands every "check" invocation to this one function.
#ifndef KWCHECK_CHECK_H
#define KWCHECK_CHECK_H

#include <QtCore/QStringList>

#include "kwhost/options.h"

namespace kwcheck {

// arguments: what follows "check" on the command line; global: the shared
// options given before "check" (the kit's own arguments may give them
// again). Returns the process's exit code: 0 nothing failed, 1 a check
// failed or the plug-in could not be checked, 2 usage.
int runCheckCommand(const QStringList& arguments, const kwhost::HostOptions& global);

}  // namespace kwcheck

#endif  // KWCHECK_CHECK_H
