#pragma once
// The print spooler's port list, at information levels 1 and 2: the COMn and
// LPTn names of the port map, in map order.
#include "kernel/last_error.h"
#include "win_types.h"

struct PORT_INFO_1 {
    char* pName;
};

struct PORT_INFO_2 {
    char* pPortName;
    char* pMonitorName;  // "Local Port"
    char* pDescription;  // the device node
    DWORD fPortType;
    DWORD Reserved;
};

constexpr DWORD PORT_TYPE_WRITE = 0x1;
constexpr DWORD PORT_TYPE_READ = 0x2;

/// Fills `buffer` with `*returned` PORT_INFO_1 or _2 entries followed by
/// their strings. `serverName` must be null (this machine). With a buffer
/// smaller than needed (or none): FALSE, ERROR_INSUFFICIENT_BUFFER, and
/// *needed set; with no port at all: TRUE, *needed 0, *returned 0. The
/// buffer should be aligned as for a pointer (as operator new gives).
BOOL EnumPorts(const char* serverName, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed, DWORD* returned);
