#include "devices/port_lock.h"
#include "fundaport.h"
#include "serial_port.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using testing_support::TempDir;

namespace {

constexpr DWORD kLongWait = 10000;

// Baud, parity, handshake, data bits, stop bits codes.
struct Codes {
    int baud, parity, handshake, dataBits, stopBits;
};

// A pseudo-terminal whose slave is mapped to COM3 and LPT1; the test plays
// the printer on the master side.
class FundaportTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128];
        ASSERT_EQ(openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_slavePath = name;
        const char* previous = std::getenv("QUORLINK_PORT_MAP");
        if (previous) m_previousMap = previous;
        WriteMap("COM3=" + m_slavePath + "\nLPT1=" + m_slavePath + "\nCOM5=/dev/null\n");
    }
    void TearDown() override {
        Comm_CloseCleanuo();
        fundaport::SetModemLineReaderForTesting(nullptr);
        if (m_master >= 0) close(m_master);
        close(m_slave);
        if (m_previousMap) setenv("QUORLINK_PORT_MAP", m_previousMap->c_str(), 1);
        else unsetenv("QUORLINK_PORT_MAP");
    }
    void WriteMap(const std::string& text) {
        testing_support::WriteFileBytes(m_folder / "ports", std::vector<uint8_t>(text.begin(), text.end()));
        setenv("QUORLINK_PORT_MAP", (m_folder / "ports").c_str(), 1);
    }

    // The caller's set-up order for a serial port; returns what
    // Comm_IsConnectionValid answered.
    unsigned ConnectSerial(int index, Codes c) {
        if (!Comm_IsOpened()) Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1);
        unsigned verdict = Comm_IsConnectionValid(index, 64, c.baud, c.parity, c.handshake, c.dataBits, c.stopBits);
        if (verdict == FUNDAPORT_CONNECTION_REBUILD && Comm_IsConnected()) Comm_BreakDownCommPort();
        if (verdict == FUNDAPORT_CONNECTION_REBUILD || verdict == FUNDAPORT_CONNECTION_SET) {
            EXPECT_EQ(Comm_UpdateConnection(0, index, c.baud, c.parity, c.handshake, c.dataBits, c.stopBits), 1)
                << GetLastError();
        }
        Comm_SetConnect(Comm_IsPortAvailable());
        return verdict;
    }

    termios SlaveSettings() {
        termios t{};
        EXPECT_EQ(tcgetattr(m_slave, &t), 0);
        return t;
    }

    std::string ReadFromMaster(size_t count) {
        std::string got;
        while (got.size() < count) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, kLongWait) <= 0) break;
            char buffer[4096];
            ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    TempDir m_folder;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::optional<std::string> m_previousMap;
};

TEST_F(FundaportTest, SetUpOrderAndSettingsReachTheDevice) {
    EXPECT_EQ(Comm_IsOpened(), 0);
    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 4, 1, 3, 3, 2), FUNDAPORT_CONNECTION_REFUSED);  // not set up
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);
    EXPECT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 0);
    EXPECT_EQ(Comm_IsOpened(), 1);
    EXPECT_EQ(Comm_IsConnected(), 0);

    // 9600 baud, odd parity, CTS, 8 bits, two stop bits.
    EXPECT_EQ(ConnectSerial(2, {4, 1, 3, 3, 2}), FUNDAPORT_CONNECTION_SET);
    EXPECT_EQ(Comm_IsConnected(), 1);
    EXPECT_NE(Comm_GethCommPortTX(), nullptr);
    EXPECT_EQ(Comm_GethCommPortTX(), Comm_GethCommPortRX());
    termios t = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_cflag & PARODD);  // the pty driver itself clears PARENB and forces CS8
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 4, 1, 3, 3, 2), FUNDAPORT_CONNECTION_UNCHANGED);
    // 115200, no parity, XON/XOFF, 8 bits, one stop bit: a rebuild.
    EXPECT_EQ(ConnectSerial(2, {0, 0, 4, 3, 0}), FUNDAPORT_CONNECTION_REBUILD);
    t = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS | PARODD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    // Another port index is a rebuild too.
    EXPECT_EQ(Comm_IsConnectionValid(3, 64, 0, 0, 4, 3, 0), FUNDAPORT_CONNECTION_REBUILD);
}

TEST_F(FundaportTest, TermiosOfEveryCode) {
    termios base{};
    const speed_t speeds[] = {B115200, B57600, B38400, B19200, B9600, B4800};
    for (int baud = 0; baud <= 5; ++baud) {
        termios t = fundaport::BuildTermios({baud, 0, 0, 3, 0}, base);
        EXPECT_EQ(cfgetospeed(&t), speeds[baud]);
        EXPECT_EQ(cfgetispeed(&t), speeds[baud]);
    }
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int bits = 0; bits <= 3; ++bits) {
        EXPECT_EQ(fundaport::BuildTermios({0, 0, 0, bits, 0}, base).c_cflag & CSIZE, sizes[bits]);
    }
    EXPECT_EQ(fundaport::BuildTermios({0, 1, 0, 3, 0}, base).c_cflag & (PARENB | PARODD),
              static_cast<tcflag_t>(PARENB | PARODD));
    EXPECT_EQ(fundaport::BuildTermios({0, 2, 0, 3, 0}, base).c_cflag & (PARENB | PARODD),
              static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(fundaport::BuildTermios({0, 0, 0, 3, 1}, base).c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(fundaport::BuildTermios({0, 0, 0, 3, 2}, base).c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    for (int handshake : {0, 1, 2}) {
        termios t = fundaport::BuildTermios({0, 0, handshake, 3, 0}, base);
        EXPECT_FALSE(t.c_cflag & CRTSCTS);
        EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    }
    termios t = fundaport::BuildTermios({0, 0, 0, 3, 0}, base);
    EXPECT_TRUE(t.c_cflag & (CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 1);
}

TEST_F(FundaportTest, BadArgumentsAndUsbAreRefusedCleanly) {
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);
    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 6, 0, 0, 3, 0), FUNDAPORT_CONNECTION_REFUSED);  // baud code
    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 0, 0, 5, 3, 0), FUNDAPORT_CONNECTION_REFUSED);  // handshake
    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 0, 0, 0, 8, 0), FUNDAPORT_CONNECTION_REFUSED);  // byte size 4
    EXPECT_EQ(Comm_IsConnectionValid(2, 32, 0, 0, 0, 3, 0), FUNDAPORT_CONNECTION_REFUSED);  // option
    EXPECT_EQ(Comm_IsConnectionValid(-1, 64, 0, 0, 0, 3, 0), FUNDAPORT_CONNECTION_REFUSED);
    int b = 0, p = 0, h = 0, d = 3, s = 0;
    EXPECT_EQ(Comm_UpdateConnection(0, 8, b, p, h, d, s), 0);  // COM9 is not mapped
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Comm_UpdateConnection(0, 4, b, p, h, d, s), 0);  // COM5 is no terminal
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    d = 8;
    EXPECT_EQ(Comm_UpdateConnection(0, 2, b, p, h, d, s), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Comm_IsPortAvailable(), 0);
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 0);
    EXPECT_EQ(Comm_GethCommPortTX(), nullptr);
    Comm_CloseCleanuo();

    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    // USB goes on to the transport, which finds no printer here.
    EXPECT_EQ(Comm_IsConnectionValid(63, 0, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REFUSED);
    EXPECT_EQ(Comm_IsConnectionValid(64, 0, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);
    int v1 = 0, v2 = 0, x1 = 0, x2 = 0, rt = 0;
    EXPECT_EQ(Comm_UpdateConnection(0, 0, rt, v1, v2, x1, x2), 0);
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 0);
    Comm_CloseCleanuo();
    EXPECT_EQ(Comm_OpenSetup(nullptr, 7, 1), 0);
    EXPECT_EQ(Comm_IsOpened(), 0);
}

TEST_F(FundaportTest, OverlappedWriteAndReadThroughTheCommCalls) {
    ConnectSerial(2, {0, 0, 1, 3, 0});  // DTR/DSR: a pty has no modem lines, DSR counts as on
    HANDLE tx = Comm_GethCommPortTX();
    OVERLAPPED* txOv = Comm_GetOverlappedTX();
    DWORD count = 0;
    const char command[] = "\x1d\x23\x05";
    if (!Comm_WritePort(tx, command, 3, &count, txOv)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_EQ(WaitForSingleObject(txOv->hEvent, kLongWait), WAIT_OBJECT_0);
    }
    ASSERT_TRUE(GetOverlappedResult(tx, txOv, &count, FALSE));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(ReadFromMaster(3), std::string(command, 3));

    HANDLE rx = Comm_GethCommPortRX();
    OVERLAPPED* rxOv = Comm_GetOverlappedRX();
    char reply[512];
    EXPECT_FALSE(Comm_ReadPort(rx, reply, sizeof reply, &count, rxOv));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(write(m_master, "\x01\x01\xbf\xf7", 4), 4);
    ASSERT_EQ(WaitForSingleObject(rxOv->hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(rx, rxOv, &count, FALSE));
    EXPECT_EQ(std::string(reply, count), "\x01\x01\xbf\xf7");
    EXPECT_EQ(Comm_IsDevicePresent(), 1);
}

TEST_F(FundaportTest, HangUpEndsTheReadAndTheDeviceIsNoLongerPresent) {
    ConnectSerial(2, {4, 0, 0, 3, 0});
    HANDLE rx = Comm_GethCommPortRX();
    OVERLAPPED* rxOv = Comm_GetOverlappedRX();
    char reply[512];
    DWORD count;
    EXPECT_FALSE(Comm_ReadPort(rx, reply, sizeof reply, &count, rxOv));
    close(m_master);
    m_master = -1;
    ASSERT_EQ(WaitForSingleObject(rxOv->hEvent, kLongWait), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(rx, rxOv, &count, FALSE));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Comm_IsDevicePresent(), 0);
    EXPECT_EQ(Comm_IsPortAvailable(), 0);
    // Same settings, but the connection is dead: rebuild.
    EXPECT_EQ(Comm_IsConnectionValid(2, 64, 4, 0, 0, 3, 0), FUNDAPORT_CONNECTION_REBUILD);
}

TEST_F(FundaportTest, BreakDownWhileAReadIsPendingAbortsIt) {
    ConnectSerial(2, {0, 0, 0, 3, 0});
    HANDLE rx = Comm_GethCommPortRX();
    OVERLAPPED* rxOv = Comm_GetOverlappedRX();
    std::vector<char> reply(512);
    DWORD count;
    EXPECT_FALSE(Comm_ReadPort(rx, reply.data(), 512, &count, rxOv));
    EXPECT_EQ(Comm_BreakDownCommPort(), 1);
    EXPECT_EQ(Comm_BreakDownCommPort(), 0);
    ASSERT_EQ(WaitForSingleObject(rxOv->hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(rx, rxOv, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(Comm_IsConnected(), 0);
    EXPECT_EQ(Comm_IsOpened(), 1);
    EXPECT_EQ(Comm_GethCommPortRX(), nullptr);
    EXPECT_FALSE(Comm_ReadPort(rx, reply.data(), 512, &count, rxOv));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Comm_IsDevicePresent(), 0);
    // And the port can be connected again.
    EXPECT_EQ(ConnectSerial(2, {0, 0, 0, 3, 0}), FUNDAPORT_CONNECTION_SET);
    EXPECT_EQ(Comm_IsConnected(), 1);
}

TEST_F(FundaportTest, WriteToAPeerThatDoesNotReadStaysPendingUntilCleanUp) {
    ConnectSerial(2, {0, 0, 0, 3, 0});
    HANDLE tx = Comm_GethCommPortTX();
    OVERLAPPED* txOv = Comm_GetOverlappedTX();
    std::vector<uint8_t> logo(64 * 1024, 0xAA);
    DWORD count;
    EXPECT_FALSE(Comm_WritePort(tx, logo.data(), static_cast<DWORD>(logo.size()), &count, txOv));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(txOv->hEvent, 100), WAIT_TIMEOUT);  // the caller's time-out

    // The caller gave up on it; the next write replaces it on the same OVERLAPPED.
    std::vector<uint8_t> next(10, 0x1B);
    // The pty may have made a little room meanwhile, so this can also
    // complete at once; either way the old write must not hold it back.
    if (!Comm_WritePort(tx, next.data(), 10, &count, txOv)) {
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    std::string drained;
    for (int i = 0; i < 1000 && WaitForSingleObject(txOv->hEvent, 0) == WAIT_TIMEOUT; ++i) {
        drained += ReadFromMaster(1);  // make room until the new write is through
    }
    ASSERT_TRUE(GetOverlappedResult(tx, txOv, &count, FALSE));
    EXPECT_EQ(count, 10u);
    for (pollfd p{m_master, POLLIN, 0}; poll(&p, 1, 50) > 0; p.revents = 0) drained += ReadFromMaster(1);
    ASSERT_GE(drained.size(), 10u);
    EXPECT_EQ(drained.substr(drained.size() - 10), std::string(10, '\x1b'));
    EXPECT_LT(drained.size(), logo.size() + 10);  // the abandoned write's rest was dropped

    // Again a stuck write; clean-up ends it.
    EXPECT_FALSE(Comm_WritePort(tx, logo.data(), static_cast<DWORD>(logo.size()), &count, txOv));
    Comm_CloseCleanuo();
    ASSERT_EQ(WaitForSingleObject(txOv->hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(tx, txOv, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(Comm_IsOpened(), 0);
    EXPECT_EQ(Comm_IsConnected(), 0);
}

std::atomic<bool> g_dsr{false};
int FakeModemLines(int, int* bits) {
    *bits = TIOCM_CTS | (g_dsr ? TIOCM_DSR : 0);
    return 0;
}

TEST_F(FundaportTest, DsrHandshakeHoldsWritesWhileDsrIsLow) {
    g_dsr = false;
    fundaport::SetModemLineReaderForTesting(FakeModemLines);
    ConnectSerial(2, {0, 0, 2, 3, 0});
    HANDLE tx = Comm_GethCommPortTX();
    OVERLAPPED* txOv = Comm_GetOverlappedTX();
    DWORD count;
    EXPECT_FALSE(Comm_WritePort(tx, "\x1f\x77\x01", 3, &count, txOv));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(txOv->hEvent, 60), WAIT_TIMEOUT);
    pollfd p{m_master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);  // nothing went out
    g_dsr = true;
    ASSERT_EQ(WaitForSingleObject(txOv->hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(tx, txOv, &count, FALSE));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(ReadFromMaster(3), "\x1f\x77\x01");

    // Without DSR handshaking the line does not matter.
    g_dsr = false;
    ConnectSerial(2, {0, 0, 0, 3, 0});
    tx = Comm_GethCommPortTX();
    if (!Comm_WritePort(tx, "ok", 2, &count, txOv)) {
        ASSERT_EQ(WaitForSingleObject(txOv->hEvent, kLongWait), WAIT_OBJECT_0);
    }
    EXPECT_EQ(ReadFromMaster(2), "ok");
}

TEST_F(FundaportTest, ParallelPortWritesAndReportsReading) {
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_PARALLEL, 1), 1);
    EXPECT_EQ(Comm_IsConnectionValid(0, 64, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_SET);
    int scratch[5] = {};
    ASSERT_EQ(Comm_UpdateConnection(0, 0, scratch[0], scratch[1], scratch[2], scratch[3], scratch[4]), 1);
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 1);
    EXPECT_EQ(Comm_IsBidirectional(), 1);
    EXPECT_EQ(Comm_IsConnectionValid(0, 64, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_UNCHANGED);
    EXPECT_EQ(Comm_IsConnectionValid(1, 64, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);
    HANDLE tx = Comm_GethCommPortTX();
    OVERLAPPED* txOv = Comm_GetOverlappedTX();
    DWORD count;
    if (!Comm_WritePort(tx, "\x1d\x2f\x00", 3, &count, txOv)) {
        ASSERT_EQ(WaitForSingleObject(txOv->hEvent, kLongWait), WAIT_OBJECT_0);
    }
    EXPECT_EQ(ReadFromMaster(3), std::string("\x1d\x2f\x00", 3));
    EXPECT_EQ(Comm_UpdateConnection(0, 1, scratch[0], scratch[1], scratch[2], scratch[3], scratch[4]), 0);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);  // LPT2 is not mapped
    EXPECT_EQ(Comm_IsBidirectional(), 0);
}

// How an unprivileged program fares opening path: 0, or the errno of open.
// Root is exempt from a terminal's exclusive mode, so the child gives up
// root first when it has it.
int OpenAsUnprivileged(const std::string& path) {
    pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    if (child < 0)
        return -1;
    return testing_support::WaitForChild(child, std::chrono::seconds(30));
}

TEST_F(FundaportTest, APortIsHeldByOneOpenerAtATime) {
    // Reachable by the unprivileged child; the test restores nothing, the
    // terminal goes with the fixture.
    ASSERT_EQ(chmod(m_slavePath.c_str(), 0666), 0);
    EXPECT_FALSE(marquen::devices::IsPortInUse("COM3"));

    // Another program holds the port: the open is refused at once, and the
    // holder's line is left as it was.
    int other = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    termios before = SlaveSettings();
    EXPECT_TRUE(marquen::devices::IsPortInUse("COM3"));
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);
    ASSERT_EQ(Comm_IsConnectionValid(2, 64, 4, 0, 0, 3, 0), FUNDAPORT_CONNECTION_SET);
    int baud = 4, parity = 0, handshake = 0, dataBits = 3, stopBits = 0;
    EXPECT_EQ(Comm_UpdateConnection(0, 2, baud, parity, handshake, dataBits, stopBits), 0);
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    termios after = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(other);
    Comm_CloseCleanuo();

    // This library holds it: a second opener meets the lock, and an
    // unprivileged one cannot even open the terminal.
    ConnectSerial(2, {4, 0, 0, 3, 0});
    ASSERT_EQ(Comm_IsConnected(), 1);
    EXPECT_TRUE(marquen::devices::IsPortInUse("COM3"));
    int second = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(second, 0);
    EXPECT_EQ(marquen::devices::LockPortNode(second), EBUSY);
    close(second);
    EXPECT_EQ(OpenAsUnprivileged(m_slavePath), EBUSY);

    // Closed: free again for everyone, although the terminal itself stays
    // open on this side.
    Comm_CloseCleanuo();
    EXPECT_FALSE(marquen::devices::IsPortInUse("COM3"));
    EXPECT_EQ(OpenAsUnprivileged(m_slavePath), 0);
}

}  // namespace
