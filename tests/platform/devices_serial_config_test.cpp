#include "devices/serial_config.h"
#include "devices_test_support.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

using devices_testing::ScopedEnvironment;
using testing_support::TempDir;

namespace {

struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    std::string path;
    PseudoTerminal() {
        char name[128];
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
    }
    ~PseudoTerminal() {
        close(slave);
        close(master);
    }
    void Configure(speed_t speed, tcflag_t cflagOn, tcflag_t iflagOn) {
        termios settings{};
        tcgetattr(slave, &settings);
        cfmakeraw(&settings);
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
        settings.c_cflag = (settings.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) | cflagOn;
        settings.c_iflag |= iflagOn;
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    }
};

// A pseudo-terminal keeps speed, stop bits and flow control as set, but its
// driver forces CS8 and clears PARENB on every change; byte size and parity
// are so checked on the conversion alone below.
TEST(DevicesSerialConfig, ReadsTheLineSettingsOfTheMappedNode) {
    ScopedEnvironment environment;
    TempDir folder;
    PseudoTerminal pty;
    pty.Configure(B9600, CS8 | CSTOPB | CRTSCTS, IXON);
    devices_testing::UsePortMap(environment, folder, "COM3=" + pty.path + "\n");

    COMMCONFIG config;
    DWORD size = sizeof config;
    ASSERT_TRUE(GetDefaultCommConfig("com3", &config, &size)) << GetLastError();
    EXPECT_EQ(config.dcb.BaudRate, 9600u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.Parity, NOPARITY);
    EXPECT_EQ(config.dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(config.dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(config.dcb.fOutX, 1u);
    EXPECT_EQ(config.dcb.fInX, 0u);
    EXPECT_EQ(config.dcb.fOutxDsrFlow, 0u);

    pty.Configure(B115200, CS8, IXOFF);
    ASSERT_TRUE(GetDefaultCommConfig("COM3:", &config, &size));
    EXPECT_EQ(config.dcb.BaudRate, 115200u);
    EXPECT_EQ(config.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(config.dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(config.dcb.fOutX, 0u);
    EXPECT_EQ(config.dcb.fInX, 1u);
}

TEST(DevicesSerialConfig, ByteSizeParityAndStopBitsOfATermios) {
    termios settings{};
    settings.c_cflag = CS7 | PARENB | PARODD | CSTOPB;
    cfsetospeed(&settings, B19200);  // the speed lives in c_cflag too
    DCB dcb = DcbFromTermios(settings);
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    settings.c_cflag = CS5 | PARENB | CSTOPB;
    dcb = DcbFromTermios(settings);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);  // what a UART sends for "two" with five bits
    settings.c_cflag = CS6 | PARENB | CMSPAR | PARODD;
    dcb = DcbFromTermios(settings);
    EXPECT_EQ(dcb.ByteSize, 6);
    EXPECT_EQ(dcb.Parity, MARKPARITY);
}

TEST(DevicesSerialConfig, FailuresSayWhy) {
    ScopedEnvironment environment;
    TempDir folder;
    devices_testing::UsePortMap(environment, folder,
                                "COM1=/dev/null\nCOM2=" + (folder / "gone").string() + "\nLPT1=/dev/null\n");
    COMMCONFIG config;
    DWORD size = sizeof config;
    EXPECT_FALSE(GetDefaultCommConfig("COM9", &config, &size));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(GetDefaultCommConfig("LPT1", &config, &size));  // not a serial port
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(GetDefaultCommConfig("COM2", &config, &size));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(GetDefaultCommConfig("COM1", &config, &size));  // no terminal
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    size = 4;
    EXPECT_FALSE(GetDefaultCommConfig("COM1", &config, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, sizeof(COMMCONFIG));
}

}  // namespace
