#pragma once
// Inside of the port library: a network printer's raw TCP port (9100 by
// custom), a two-way byte stream carrying the same commands and replies as a
// serial line.
#include "win_types.h"

#include <string>

namespace fundaport {

/// The port printers answer on when none is given.
constexpr int kDefaultTcpPort = 9100;
/// Longest wait for a printer to accept a connection, in milliseconds.
constexpr int kTcpConnectTimeoutMs = 5000;

/// Connects to host:port (a name or a numeric address; every address the
/// name resolves to is tried in turn, within one connect time-out overall)
/// and wraps the socket in a device handle: non-blocking, keep-alive on (a
/// printer that vanishes is noticed), Nagle off (the replies are small and
/// awaited). The handle, or null with the last error and a diagnostic that
/// names the host and the reason: ERROR_NOT_FOUND for a name that does
/// not resolve, ERROR_TIMEOUT when the name service or the printer did not
/// answer within the connect time-out, else the system error (a refused
/// connection: ECONNREFUSED). Blocks the calling thread at most
/// kTcpConnectTimeoutMs, the name look-up included.
HANDLE OpenTcpPort(const std::string& host, int port);

/// "host:port" as a user would type it (an IPv6 address in brackets).
std::string TcpAddressText(const std::string& host, int port);

}  // namespace fundaport
