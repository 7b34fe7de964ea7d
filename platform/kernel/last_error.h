#pragma once
// The calling thread's last error, as the kernel, window and device layers
// and the port library report it. The codes themselves are in win_types.h.
//
// Beside the system error code each thread keeps its cause: the errno it was
// mapped from, when a system call failed. The mapping folds many errno values
// into one code (EIO becomes a general failure), so a message that names the
// cause tells the user what really happened: an unplugged adapter's
// "Input/output error" rather than "A device attached to the system is not
// functioning."
#include "win_types.h"

#include <string>

/// Last error set on the calling thread (0 on a fresh thread). Any thread.
DWORD GetLastError();
/// Replaces the calling thread's last error; its cause becomes none. Any
/// thread.
void SetLastError(DWORD error);

/// The errno the calling thread's last error was set from, 0 when it was
/// set directly (SetLastError). Any thread.
int GetLastErrno();
/// Replaces the calling thread's last error and its cause (`errnoValue` 0:
/// none). Any thread.
void SetLastErrorWithErrno(DWORD error, int errnoValue);

/// The system error code for an errno value (ERROR_GEN_FAILURE for values
/// without a closer match).
DWORD Win32ErrorFromErrno(int errnoValue);
/// Sets the last error from an errno value, keeping the value as its cause,
/// and returns the code it set.
DWORD SetLastErrorFromErrno(int errnoValue);

/// The system's text for an errno value ("Input/output error"). Any thread.
std::string ErrnoText(int errnoValue);
/// The calling thread's last error for a message: its cause's text with the
/// errno's name when there is a cause ("Input/output error (EIO)"), else
/// "system error N". Any thread.
std::string LastErrorText();
