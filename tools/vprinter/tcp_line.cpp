#include "tcp_line.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

namespace vprinter {

namespace {

constexpr size_t kChunk = 16 * 1024;
// How often the printer is looked at for a hang-up when nothing moves.
constexpr int kHangUpPollMs = 20;
// A hang-up passes on what the printer sent before it for at most this long.
constexpr int kFlushLimitMs = 2000;

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Writes what the socket takes now; false when the peer is gone.
bool WriteSome(int fd, std::vector<uint8_t>& pending, bool socket)
{
    while (!pending.empty()) {
        ssize_t sent = socket ? ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL)
                              : ::write(fd, pending.data(), pending.size());
        if (sent > 0) {
            pending.erase(pending.begin(), pending.begin() + sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

}  // namespace

bool ParseTcpEndpoint(const std::string& text, std::string& address, uint16_t& port)
{
    size_t colon = text.rfind(':');
    std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    address = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    unsigned value = 0;
    auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || value > 65535 ||
        address.empty())
        return false;
    in_addr probe{};
    if (::inet_pton(AF_INET, address.c_str(), &probe) != 1)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

TcpLine::TcpLine(VirtualPrinter& printer) : m_printer(printer) {}

TcpLine::~TcpLine()
{
    Stop();
}

bool TcpLine::Start(const std::string& address, uint16_t port, std::string& error)
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_wakeFd < 0 || m_listen < 0) {
        error = ErrnoText("socket");
        return false;
    }
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "not an IPv4 address: '" + address + "'";
        return false;
    }
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        error = ErrnoText(("cannot listen on " + address + ":" + std::to_string(port)).c_str());
        return false;
    }
    if (::listen(m_listen, 8) != 0) {
        error = ErrnoText("listen");
        return false;
    }
    socklen_t length = sizeof where;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&where), &length);
    m_port = ntohs(where.sin_port);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void TcpLine::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    CloseClient();
    for (int* fd : {&m_line, &m_listen, &m_wakeFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool TcpLine::OpenPrinterLine()
{
    if (m_line >= 0)
        ::close(m_line);
    m_line = ::open(m_printer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return m_line >= 0;
}

void TcpLine::CloseClient()
{
    if (m_client >= 0)
        ::close(m_client);
    m_client = -1;
}

void TcpLine::Serve()
{
    std::vector<uint8_t> toPrinter;
    std::vector<uint8_t> toClient;
    std::vector<uint8_t> buffer(kChunk);
    OpenPrinterLine();
    while (!m_stop) {
        if (m_printer.HungUp()) {
            // The printer closed its line: what it sent before goes out, then
            // the connection closes, and the printer comes back for the next
            // client.
            if (m_client >= 0) {
                for (int waited = 0; !toClient.empty() && waited < kFlushLimitMs; waited += 5) {
                    if (!WriteSome(m_client, toClient, true))
                        break;
                    if (!toClient.empty())
                        ::usleep(5000);
                }
                ::shutdown(m_client, SHUT_RDWR);
                CloseClient();
                ++m_hangUps;
            }
            toPrinter.clear();
            toClient.clear();
            std::string error;
            m_printer.Stop();
            m_printer.WithModel([](PrinterModel& model) { model.ResumeAfterHangUp(); });
            if (!m_printer.Start(error) || !OpenPrinterLine())
                return;
            continue;
        }

        pollfd fds[3] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}, {m_line, 0, 0}};
        if (m_client < 0) {
            fds[1] = {m_listen, POLLIN, 0};
        } else {
            fds[1].fd = m_client;
            fds[1].events = static_cast<short>((toPrinter.empty() ? POLLIN : 0) | (toClient.empty() ? 0 : POLLOUT));
            fds[2].events = static_cast<short>((toClient.empty() ? POLLIN : 0) | (toPrinter.empty() ? 0 : POLLOUT));
        }
        int ready = ::poll(fds, 3, kHangUpPollMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            continue;  // Stop: the loop condition ends it

        if (m_client < 0) {
            if (fds[1].revents & POLLIN) {
                m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (m_client >= 0) {
                    int one = 1;
                    ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    // Replies no earlier client read are not this one's.
                    ::tcflush(m_line, TCIFLUSH);
                }
            } else if (fds[2].revents & POLLIN) {
                // Nobody connected: what the printer sends (garbage) is lost.
                [[maybe_unused]] ssize_t dropped = ::read(m_line, buffer.data(), buffer.size());
            }
            continue;
        }

        bool clientGone = false;
        if (fds[1].revents & POLLIN) {
            ssize_t got = ::recv(m_client, buffer.data(), buffer.size(), 0);
            if (got > 0)
                toPrinter.assign(buffer.begin(), buffer.begin() + got);
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                clientGone = true;
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            clientGone = true;
        }
        if (fds[2].revents & POLLIN) {
            ssize_t got = ::read(m_line, buffer.data(), buffer.size());
            if (got > 0)
                toClient.insert(toClient.end(), buffer.begin(), buffer.begin() + got);
        }
        if (!toPrinter.empty())
            WriteSome(m_line, toPrinter, false);
        if (!toClient.empty() && !WriteSome(m_client, toClient, true))
            clientGone = true;
        if (clientGone) {
            CloseClient();
            toPrinter.clear();
            toClient.clear();
        }
    }
}

}  // namespace vprinter
