#include "kernel/last_error.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local int t_lastErrno = 0;
}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) {
    t_lastError = error;
    t_lastErrno = 0;
}

int GetLastErrno() { return t_lastErrno; }

void SetLastErrorWithErrno(DWORD error, int errnoValue) {
    t_lastError = error;
    t_lastErrno = errnoValue;
}

DWORD Win32ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_OUTOFMEMORY;
    case EBUSY: return ERROR_BUSY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return ERROR_HANDLE_DISK_FULL;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFAULT: return ERROR_NOACCESS;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EAGAIN: return ERROR_NOT_READY;
    default: return ERROR_GEN_FAILURE;
    }
}

DWORD SetLastErrorFromErrno(int errnoValue) {
    DWORD error = Win32ErrorFromErrno(errnoValue);
    SetLastErrorWithErrno(error, errnoValue);
    return error;
}

std::string ErrnoText(int errnoValue) {
    // strerror is not required to be thread-safe; strerror_r is (the GNU
    // form, which returns the text, possibly a static one, rather than 0).
    char buffer[128];
    const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
    return text != nullptr ? text : "Unknown error " + std::to_string(errnoValue);
}

std::string LastErrorText() {
    const int cause = t_lastErrno;
    if (cause != 0) {
        std::string text = ErrnoText(cause);
        if (const char* name = strerrorname_np(cause))
            text += std::string(" (") + name + ")";
        return text;
    }
    return "system error " + std::to_string(t_lastError);
}
