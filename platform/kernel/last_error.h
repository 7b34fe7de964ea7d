#pragma once
// The calling thread's last error, as the kernel, window and device layers
// and the port library report it. The codes themselves are in win_types.h.
#include "win_types.h"

/// Last error set on the calling thread (0 on a fresh thread). Any thread.
DWORD GetLastError();
/// Replaces the calling thread's last error. Any thread.
void SetLastError(DWORD error);

/// The system error code for an errno value (ERROR_GEN_FAILURE for values
/// without a closer match).
DWORD Win32ErrorFromErrno(int errnoValue);
/// Sets the last error from an errno value and returns the code it set.
DWORD SetLastErrorFromErrno(int errnoValue);
