#include "tcp_port.h"

#include "diagnostics/diagnostics.h"
#include "kernel/device_io.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace fundaport {
namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive probes: the first after 10 s of silence, then every 5 s; three
// unanswered ones end the connection, so a printer switched off or
// unplugged is noticed within about 25 s instead of the system's two hours.
constexpr int kKeepAliveIdleSeconds = 10;
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kKeepAliveProbes = 3;

void Report(const std::string& message) {
    marquen::diagnostics::Report(marquen::diagnostics::Level::kError, "port library: " + message);
}

void SetOption(int fd, int level, int name, int value) {
    // Tuning only: a system that refuses one still gives a working socket.
    (void)::setsockopt(fd, level, name, &value, sizeof value);
}

// Connects fd (non-blocking) to one address, waiting at most until deadline.
// 0, or the errno of the failure (ETIMEDOUT when the deadline passed).
int ConnectBefore(int fd, const addrinfo& address, Clock::time_point deadline) {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0)
        return 0;
    if (errno != EINPROGRESS && errno != EINTR)
        return errno;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd probe{fd, POLLOUT, 0};
        int ready = ::poll(&probe, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        return error;
    }
}

}  // namespace

std::string TcpAddressText(const std::string& host, int port) {
    const bool bracket = host.find(':') != std::string::npos;
    return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

HANDLE OpenTcpPort(const std::string& host, int port) {
    const std::string where = TcpAddressText(host, port);
    if (host.empty() || port < 1 || port > 65535) {
        Report("no printer address to connect to ('" + where + "')");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
        const int cause = resolved == EAI_SYSTEM ? errno : 0;
        Report("cannot find the printer '" + host + "': " +
               (resolved == EAI_SYSTEM ? std::string(std::strerror(cause)) : std::string(::gai_strerror(resolved))));
        SetLastErrorWithErrno(ERROR_NOT_FOUND, cause);
        return nullptr;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);
    int lastError = ECONNREFUSED;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        lastError = ConnectBefore(fd, *address, deadline);
        if (lastError != 0) {
            ::close(fd);
            if (lastError == ETIMEDOUT)
                break;  // the whole time-out is spent
            continue;
        }
        SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
        SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
        SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
        SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
        SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
        HANDLE device = CreateDeviceHandle(fd);  // owns fd from here on
        if (device == nullptr)
            Report("cannot use the connection to " + where);
        return device;
    }
    if (lastError == ETIMEDOUT) {
        Report("the printer at " + where + " did not answer within " +
               std::to_string(kTcpConnectTimeoutMs / 1000) + " s");
        SetLastErrorWithErrno(ERROR_TIMEOUT, ETIMEDOUT);
    } else {
        Report("cannot connect to the printer at " + where + ": " + std::strerror(lastError));
        SetLastErrorFromErrno(lastError);
    }
    return nullptr;
}

}  // namespace fundaport
