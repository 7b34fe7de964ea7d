// The network kind of the port library against a listening socket of the
// test: the set-up calls, overlapped I/O through the Comm_ calls, a printer
// that closes the connection, and addresses that lead nowhere.
#include "fundaport.h"
#include "tcp_port.h"

#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kLongWait = 10000;

class TcpPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_listen, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(m_listen, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
        ASSERT_EQ(::listen(m_listen, 4), 0);
        socklen_t length = sizeof where;
        ASSERT_EQ(::getsockname(m_listen, reinterpret_cast<sockaddr*>(&where), &length), 0);
        m_port = ntohs(where.sin_port);
    }
    void TearDown() override {
        Comm_CloseCleanuo();
        if (m_peer >= 0) ::close(m_peer);
        ::close(m_listen);
    }

    // The caller's set-up order for the network kind; true when connected.
    bool Connect() {
        if (!Comm_IsOpened()) Comm_OpenSetup(nullptr, FUNDAPORT_KIND_NETWORK, 1);
        unsigned verdict = Comm_IsConnectionValid(0, FUNDAPORT_OPTION_OVERLAPPED, 0, 0, 0, 0, 0);
        if (verdict == FUNDAPORT_CONNECTION_REBUILD) Comm_BreakDownCommPort();
        int unused = 0;
        if (verdict == FUNDAPORT_CONNECTION_REBUILD || verdict == FUNDAPORT_CONNECTION_SET)
            Comm_UpdateConnection(0, 0, unused, unused, unused, unused, unused);
        Comm_SetConnect(Comm_IsPortAvailable());
        return Comm_IsConnected() == 1;
    }

    void Accept() {
        pollfd ready{m_listen, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kLongWait)), 1);
        m_peer = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(m_peer, 0);
    }

    int m_listen = -1;
    int m_peer = -1;
    int m_port = 0;
};

TEST_F(TcpPortTest, ConnectsExchangesAndNoticesThePrinterClosing) {
    // No address yet: refused; bad addresses are not taken.
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_NETWORK, 1), 1);
    EXPECT_EQ(Comm_IsConnectionValid(0, FUNDAPORT_OPTION_OVERLAPPED, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REFUSED);
    EXPECT_EQ(Comm_SetNetworkAddress(nullptr, 9100), 0);
    EXPECT_EQ(Comm_SetNetworkAddress("", 9100), 0);
    EXPECT_EQ(Comm_SetNetworkAddress("127.0.0.1", 0), 0);
    EXPECT_EQ(Comm_SetNetworkAddress("127.0.0.1", 65536), 0);
    ASSERT_EQ(Comm_SetNetworkAddress("127.0.0.1", m_port), 1);
    EXPECT_EQ(Comm_IsConnectionValid(0, 7, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REFUSED);

    ASSERT_TRUE(Connect());
    Accept();
    EXPECT_EQ(Comm_IsConnectionValid(0, FUNDAPORT_OPTION_OVERLAPPED, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_UNCHANGED);
    EXPECT_EQ(Comm_IsDevicePresent(), 1);
    EXPECT_EQ(Comm_IsBidirectional(), 0);  // a parallel port's notion

    const char command[] = "\x1F\x77\x01";
    DWORD written = 0;
    OVERLAPPED* tx = Comm_GetOverlappedTX();
    if (!Comm_WritePort(Comm_GethCommPortTX(), command, 3, &written, tx)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_EQ(WaitForSingleObject(tx->hEvent, kLongWait), WAIT_OBJECT_0);
        ASSERT_TRUE(GetOverlappedResult(Comm_GethCommPortTX(), tx, &written, FALSE));
    }
    EXPECT_EQ(written, 3u);
    std::string got;
    while (got.size() < 3) {
        pollfd ready{m_peer, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kLongWait)), 1);
        char buffer[8];
        ssize_t n = ::recv(m_peer, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, std::string(command, 3));

    // The printer answers, then closes: the answer is read, then the end.
    ASSERT_EQ(::send(m_peer, "262144\0\0", 8, 0), 8);
    ::close(m_peer);
    m_peer = -1;
    OVERLAPPED* rx = Comm_GetOverlappedRX();
    char reply[16] = {};
    DWORD read = 0;
    if (!Comm_ReadPort(Comm_GethCommPortRX(), reply, sizeof reply, &read, rx)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_EQ(WaitForSingleObject(rx->hEvent, kLongWait), WAIT_OBJECT_0);
        ASSERT_TRUE(GetOverlappedResult(Comm_GethCommPortRX(), rx, &read, FALSE));
    }
    EXPECT_GE(read, 6u);
    EXPECT_EQ(std::string(reply), "262144");
    for (int i = 0; i < 100 && Comm_IsDevicePresent() == 1; ++i) {
        read = 0;
        if (!Comm_ReadPort(Comm_GethCommPortRX(), reply, sizeof reply, &read, rx) &&
            GetLastError() == ERROR_IO_PENDING)
            WaitForSingleObject(rx->hEvent, 100);
    }
    EXPECT_EQ(Comm_IsDevicePresent(), 0);
    // A write to the closed connection fails instead of raising SIGPIPE.
    for (int i = 0; i < 3; ++i) {
        if (!Comm_WritePort(Comm_GethCommPortTX(), command, 3, &written, tx) && GetLastError() == ERROR_IO_PENDING)
            WaitForSingleObject(tx->hEvent, kLongWait);
    }
    EXPECT_EQ(Comm_IsConnectionValid(0, FUNDAPORT_OPTION_OVERLAPPED, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);

    // The next set-up connects anew.
    ASSERT_TRUE(Connect());
    Accept();
    EXPECT_EQ(Comm_IsDevicePresent(), 1);
}

TEST_F(TcpPortTest, AddressesThatLeadNowhereSayWhy) {
    const std::vector<marquen::diagnostics::Entry> before = marquen::diagnostics::Recent();
    const uint64_t last = before.empty() ? 0 : before.back().sequence;
    EXPECT_EQ(fundaport::OpenTcpPort("no-such-printer.invalid", 9100), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    ::close(m_listen);
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);  // for TearDown
    EXPECT_EQ(fundaport::OpenTcpPort("127.0.0.1", m_port), nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    std::string messages;
    for (const auto& entry : marquen::diagnostics::Recent(last))
        messages += entry.message + "\n";
    EXPECT_NE(messages.find("cannot find the printer 'no-such-printer.invalid'"), std::string::npos) << messages;
    EXPECT_NE(messages.find("cannot connect to the printer at 127.0.0.1:" + std::to_string(m_port) +
                            ": Connection refused"),
              std::string::npos)
        << messages;
    EXPECT_EQ(fundaport::TcpAddressText("fd00::1", 9100), "[fd00::1]:9100");
}

}  // namespace
