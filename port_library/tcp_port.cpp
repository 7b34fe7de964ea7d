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
#include <mutex>
#include <vector>

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

// A name look-up that may not outlast the deadline. The system's resolver
// blocks as long as its DNS servers keep it waiting (several times the
// resolv.conf time-out); the asynchronous look-up runs it in the C library's
// own thread while this one waits until the deadline at most.
struct NameLookup {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
};

struct LookupResult {
    addrinfo* found = nullptr;  ///< owned by the caller (freeaddrinfo)
    int status = 0;             ///< 0, an EAI_ code, or EAI_AGAIN with timedOut
    int cause = 0;              ///< errno for EAI_SYSTEM
    bool timedOut = false;
};

// ThreadSanitizer cannot follow the C library's own look-up thread (it is
// not created through the interposed pthread_create, and the sanitizer's
// allocator then crashes in it): its builds look names up the blocking way.
#if defined(__SANITIZE_THREAD__)
#define MARQUEN_BLOCKING_NAME_LOOKUP 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MARQUEN_BLOCKING_NAME_LOOKUP 1
#endif
#endif

LookupResult LookUpBefore(const std::string& host, const std::string& service, const addrinfo& hints,
                          Clock::time_point deadline) {
    LookupResult result;
    // A numeric address needs no name service, and no thread.
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    result.status = ::getaddrinfo(host.c_str(), service.c_str(), &numeric, &result.found);
    if (result.status != EAI_NONAME) {
        result.cause = result.status == EAI_SYSTEM ? errno : 0;
        return result;
    }
    result = LookupResult();
#ifdef MARQUEN_BLOCKING_NAME_LOOKUP
    (void)deadline;
    result.status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result.found);
    result.cause = result.status == EAI_SYSTEM ? errno : 0;
    return result;
#else
    auto lookup = std::make_unique<NameLookup>();
    lookup->host = host;
    lookup->service = service;
    lookup->hints = hints;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    if (int started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); started != 0) {
        result.status = started;
        result.cause = errno;
        return result;
    }
    while (::gai_error(&lookup->request) == EAI_INPROGRESS) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        (void)::gai_suspend(list, 1, &wait);  // done, time up or a signal: the loop looks
    }
    int status = ::gai_error(&lookup->request);
    if (status == EAI_INPROGRESS) {
        if (::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
            // The resolver still writes into the request: it must outlive
            // this call. Kept for good (a few hundred bytes per look-up
            // given up), where the leak checkers can see it is meant.
            static std::mutex abandonedLock;
            static auto* abandoned = new std::vector<std::unique_ptr<NameLookup>>();
            std::lock_guard guard(abandonedLock);
            abandoned->push_back(std::move(lookup));
            result.status = EAI_AGAIN;
            result.timedOut = true;
            return result;
        }
        status = ::gai_error(&lookup->request);
        if (status == EAI_CANCELED || status == EAI_INPROGRESS) {
            result.status = EAI_AGAIN;
            result.timedOut = true;
            return result;
        }
        // Finished while being cancelled: take its answer.
    }
    result.status = status;
    if (status == EAI_SYSTEM)
        result.cause = EIO;  // the resolver thread's errno is not ours to read
    result.found = status == 0 ? lookup->request.ar_result : nullptr;
    if (status != 0 && lookup->request.ar_result != nullptr)
        ::freeaddrinfo(lookup->request.ar_result);
    return result;
#endif
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
    // One time-out for the look-up and the connection together.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTcpConnectTimeoutMs);
    LookupResult lookup = LookUpBefore(host, std::to_string(port), hints, deadline);
    if (lookup.timedOut) {
        Report("cannot find the printer '" + host + "': no answer from the name service within " +
               std::to_string(kTcpConnectTimeoutMs / 1000) + " s");
        SetLastErrorWithErrno(ERROR_TIMEOUT, ETIMEDOUT);
        return nullptr;
    }
    if (lookup.status != 0) {
        const int cause = lookup.status == EAI_SYSTEM ? lookup.cause : 0;
        Report("cannot find the printer '" + host + "': " +
               (lookup.status == EAI_SYSTEM ? std::string(std::strerror(cause)) : std::string(::gai_strerror(lookup.status))));
        SetLastErrorWithErrno(ERROR_NOT_FOUND, cause);
        return nullptr;
    }
    addrinfo* found = lookup.found;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);

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
