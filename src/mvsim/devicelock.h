// Exclusive access across processes: a device held open by one process
// cannot be opened by another. The holder keeps an advisory lock on a file
// named after the device in the runtime directory; the kernel drops it when
// the process ends, however it ends, so a killed holder blocks nothing.
#ifndef MVSIM_DEVICELOCK_H
#define MVSIM_DEVICELOCK_H

#include <string>

namespace mvsim {

// $MVSIM_RUNTIME_DIR, else $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp.
std::string runtimeDirectory();

// The lock file of a device: <dir>/mvsim-<model>-<serial>.lock, with bytes
// other than letters, digits, '.', '-' and '_' written as %XX.
std::string lockPath(const std::string& model, const std::string& serial);

// Takes the device's lock. Returns a descriptor (>= 0) to pass to
// releaseDeviceLock, -1 when another process holds it, -2 when the lock
// file cannot be opened (reason on stderr).
int acquireDeviceLock(const std::string& model, const std::string& serial);
void releaseDeviceLock(int fd);

}  // namespace mvsim

#endif  // MVSIM_DEVICELOCK_H
