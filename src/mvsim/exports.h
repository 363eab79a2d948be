// Every source of the stand-in includes the public headers through this one.
// The library is built with hidden visibility; the pragma gives the SDK and
// control declarations default visibility, so exactly the declared C
// functions are exported and the internal C++ symbols stay private.
#ifndef MVSIM_EXPORTS_H
#define MVSIM_EXPORTS_H

#pragma GCC visibility push(default)
#include "mvcameracontrol.h"
#include "mvsim/control.h"
#pragma GCC visibility pop

#define MVSIM_EXPORT __attribute__((visibility("default")))

#endif  // MVSIM_EXPORTS_H
