#include "devicelock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mvsim {

std::string runtimeDirectory()
{
    for (const char* name : {"MVSIM_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* dir = std::getenv(name);
        if (dir && *dir)
            return dir;
    }
    return "/tmp";
}

namespace {

void appendEscaped(std::string* out, const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_') {
            *out += static_cast<char>(c);
        } else {
            *out += '%';
            *out += hex[c >> 4];
            *out += hex[c & 15];
        }
    }
}

}  // namespace

std::string lockPath(const std::string& model, const std::string& serial)
{
    std::string path = runtimeDirectory() + "/mvsim-";
    appendEscaped(&path, model);
    path += '-';
    appendEscaped(&path, serial);
    return path + ".lock";
}

DeviceLock::Result DeviceLock::acquire(const std::string& model, const std::string& serial)
{
    release();
    const std::string path = lockPath(model, serial);
    // Every user of the machine shares the runtime folder's lock files (as
    // they share the cameras): read-only is enough for flock, so a file that
    // another user made serves everyone, and a new one is made readable by
    // all whatever the umask. An existing file is opened without O_CREAT, as
    // a sticky folder refuses O_CREAT on another user's file.
    // Close-on-exec: a child process must not inherit the device.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            ::fchmod(fd, 0666);
        else if (errno == EEXIST)  // made by another process meanwhile
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        std::fprintf(stderr, "mvsim: %s: cannot open the device lock: %s\n", path.c_str(), std::strerror(errno));
        return Result::Failed;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return Result::Busy;
    }
    fd_ = fd;
    return Result::Held;
}

void DeviceLock::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace mvsim
