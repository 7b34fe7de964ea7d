#pragma once
// Exclusive use of a port's device node. Two programs writing to one printer
// interleave their byte streams, and the printer runs the mixture: stray
// Select and Define logo commands that overwrite stored logos. So a port is
// held by one opener at a time: an advisory lock on the node (flock, which
// other terminal programs honour too) and, for a terminal, the kernel's
// exclusive mode (TIOCEXCL: later opens fail with EBUSY, except for root).
#include <string_view>

namespace marquen::devices {

/// Takes the node open on `fd` for this opener alone. 0, or EBUSY when
/// another opener holds it (the descriptor is then left unlocked), or the
/// errno of another failure. Never blocks.
int LockPortNode(int fd);
/// Gives the node up before `fd` is closed: ends the terminal's exclusive
/// mode, which would otherwise outlive the descriptor while any other
/// descriptor keeps the terminal open. The advisory lock goes with the
/// descriptor.
void UnlockPortNode(int fd);
/// Whether the node behind the port `name` (COMn, LPTn) is held by another
/// opener now. False when it is free or cannot be looked at.
bool IsPortInUse(std::string_view name);

}  // namespace marquen::devices
