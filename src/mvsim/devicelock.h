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

// A device's lock, owned: released on release() or when its owner goes.
class DeviceLock {
public:
    enum class Result { Held, Busy, Failed };

    DeviceLock() = default;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock() { release(); }

    // Takes the lock of the device: Busy when another process holds it,
    // Failed when the lock file cannot be opened (reason on stderr).
    Result acquire(const std::string& model, const std::string& serial);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;  // closing the only descriptor drops the lock
};

}  // namespace mvsim

#endif  // MVSIM_DEVICELOCK_H
