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

}  // namespace faults
}  // namespace mvsim

#endif  // MVSIM_FAULTS_H
