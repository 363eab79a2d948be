// kwcam check: the conformance kit for camera plug-ins of the contract.
// kwcam's command line hands every "check" invocation to this one function.
#ifndef KWCHECK_CHECK_H
#define KWCHECK_CHECK_H

#include <QtCore/QStringList>

namespace kwcheck {

// arguments: the whole command line, program name first, "check" second.
// Returns the process's exit code: 0 nothing failed, 1 a check failed or the
// plug-in could not be checked, 2 usage.
int runCheckCommand(const QStringList& arguments);

}  // namespace kwcheck

#endif  // KWCHECK_CHECK_H
