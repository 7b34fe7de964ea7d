#pragma once
// Everything of the kernel layer: last error, events and waits, threads and
// overlapped device I/O.
#include "kernel/device_io.h"
#include "kernel/last_error.h"
#include "kernel/sync.h"
#include "kernel/threads.h"
