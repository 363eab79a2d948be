// The one barrier between the host and the simulator's C++: every exported C
// function runs its body through guarded, so that no exception reaches the
// host. A body that throws gives a line on stderr naming the function and
// a failure code: MVSIM_E_RESOURCE when memory or a thread could not be had,
// MVSIM_E_UNKNOWN for anything else. Functions that return no code return
// nothing, or a zero value, instead.
#ifndef MVSIM_GUARD_H
#define MVSIM_GUARD_H

#include "faults.h"

#include <type_traits>

namespace mvsim {

// Called from a catch block only: says what was caught, on stderr, and
// returns the code for it.
int reportFailure(const char* function) noexcept;

template <typename Body> auto guarded(const char* function, Body body) noexcept -> decltype(body())
{
    using Result = decltype(body());
    try {
        faults::throwIfDue(function);
        return body();
    } catch (...) {
        const int code = reportFailure(function);
        if constexpr (std::is_void_v<Result>)
            return;
        else if constexpr (std::is_same_v<Result, int>)
            return code;
        else
            return Result{};
    }
}

}  // namespace mvsim

#endif  // MVSIM_GUARD_H
