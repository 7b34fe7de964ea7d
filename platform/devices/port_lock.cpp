#include "devices/port_lock.h"

#include "devices/port_map.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace marquen::devices {

int LockPortNode(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    // Not a terminal (a parallel node): the advisory lock is all there is.
    if (::isatty(fd))
        (void)::ioctl(fd, TIOCEXCL);
    return 0;
}

void UnlockPortNode(int fd) {
    if (fd >= 0 && ::isatty(fd))
        (void)::ioctl(fd, TIOCNXCL);
}

bool IsPortInUse(std::string_view name) {
    std::optional<std::string> node = ResolvePortName(name);
    if (!node)
        return false;
    // Write-only as a printer node may be; no controlling terminal, no wait
    // for carrier. Closing this second descriptor leaves the holder's line
    // as it is.
    int fd = ::open(node->c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;  // held in exclusive mode
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // the probe's lock, if it got one, goes with it
    return held;
}

}  // namespace marquen::devices
