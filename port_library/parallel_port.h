#pragma once
// Inside of the port library: opening a parallel port.
#include "win_types.h"

namespace fundaport {

/// Opens LPT(index+1) through the port map, for reading and writing if the
/// node allows, else for writing only (*readable false). The device handle,
/// or null with the last error.
HANDLE OpenParallelPort(int index, bool* readable);

}  // namespace fundaport
