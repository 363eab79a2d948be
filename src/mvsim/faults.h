// Faults injected with MVSIM_FailCall.
#ifndef MVSIM_FAULTS_H
#define MVSIM_FAULTS_H

namespace mvsim {
namespace faults {

void add(const char* functionName, unsigned nth, int code);
void clear();
// Counts one call of the function against its pending faults. Returns true
// and the code when this call is one that must fail.
bool take(const char* functionName, int* code);

// Faults added with MVSIM_ThrowInCall: the nth time the named point is
// passed, throwIfDue throws std::bad_alloc there. Points are the exported
// functions' names (passed as the call begins) and the inner points named in
// mvsim/control.h.
void addThrow(const char* point, unsigned nth);
void throwIfDue(const char* point);

}  // namespace faults
}  // namespace mvsim

#endif  // MVSIM_FAULTS_H
