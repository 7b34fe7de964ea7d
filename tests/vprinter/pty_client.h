#pragma once
// The client end of the virtual printer's line, as a serial program would
// use it: open the device, set raw mode and a speed, write, read with a
// time-out.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace pty_client {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

/// Generous: machines running the suite are shared and slow.
inline constexpr milliseconds kReplyTimeout{5000};

class Client {
public:
    Client() = default;
    explicit Client(const std::string& path, speed_t speed = B9600) { Open(path, speed); }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Open(const std::string& path, speed_t speed = B9600)
    {
        Close();
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) {
            ADD_FAILURE() << "cannot open " << path << ": " << errno;
            return false;
        }
        termios line {};
        if (::tcgetattr(m_fd, &line) != 0) {
            ADD_FAILURE() << "tcgetattr: " << errno;
            return false;
        }
        ::cfmakeraw(&line);
        ::cfsetspeed(&line, speed);
        if (::tcsetattr(m_fd, TCSANOW, &line) != 0) {
            ADD_FAILURE() << "tcsetattr: " << errno;
            return false;
        }
        ::tcflush(m_fd, TCIOFLUSH);
        return true;
    }

    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int Fd() const { return m_fd; }

    void Write(const Bytes& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ADD_FAILURE() << "write failed: " << errno;
                return;
            }
            done += static_cast<size_t>(n);
        }
    }

    /// Up to count bytes, waiting at most timeout for all of them; fewer when
    /// the time runs out or the line hangs up.
    Bytes Read(size_t count, milliseconds timeout = kReplyTimeout)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd fd{m_fd, POLLIN, 0};
            int ready = ::poll(&fd, 1, static_cast<int>(left.count()) + 1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            uint8_t buffer[4096];
            ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                m_hungUp = true;
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    /// Reads until the line hangs up (read gives 0 or EIO), at most timeout.
    /// True when it did hang up; the bytes read before are in `before`.
    bool WaitForHangUp(Bytes& before, milliseconds timeout = kReplyTimeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!m_hungUp && std::chrono::steady_clock::now() < deadline) {
            Bytes more = Read(1 << 20, std::chrono::duration_cast<milliseconds>(
                                           deadline - std::chrono::steady_clock::now()));
            before.insert(before.end(), more.begin(), more.end());
        }
        return m_hungUp;
    }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

}  // namespace pty_client
