#include "parallel_port.h"

#include "devices/port_lock.h"
#include "devices/port_map.h"
#include "kernel/device_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace fundaport {

HANDLE OpenParallelPort(int index, bool* readable) {
    *readable = false;
    auto node = marquen::devices::ResolvePortName("LPT" + std::to_string(index + 1));
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    int fd = ::open(node->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        *readable = true;
    } else if (errno == EACCES || errno == EPERM || errno == EROFS) {
        // A printer node writable only: still a port, just not bidirectional.
        fd = ::open(node->c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (int error = marquen::devices::LockPortNode(fd); error != 0) {
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    return CreateDeviceHandle(fd);
}

}  // namespace fundaport
