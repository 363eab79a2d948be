#include "devicelock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
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
    // Close-on-exec: a child process must not inherit the device.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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
