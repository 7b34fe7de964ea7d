#include "devices/serial_config.h"
#include "devices_test_support.h"
#include "kernel/last_error.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

using devices_testing::ScopedEnvironment;
using marquen::devices::ReadSerialDefaults;
using marquen::devices::SerialDefaults;
using marquen::devices::SerialDefaultsFromTermios;
using marquen::devices::SerialParity;
using marquen::devices::SerialStopBits;
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

    SerialDefaults defaults;
    ASSERT_TRUE(ReadSerialDefaults("com3", defaults)) << GetLastError();
    EXPECT_EQ(defaults.baudRate, 9600u);
    EXPECT_EQ(defaults.dataBits, 8);
    EXPECT_EQ(defaults.parity, SerialParity::None);
    EXPECT_EQ(defaults.stopBits, SerialStopBits::Two);
    EXPECT_TRUE(defaults.ctsFlow);
    EXPECT_TRUE(defaults.xonXoff);

    pty.Configure(B115200, CS8, IXOFF);
    ASSERT_TRUE(ReadSerialDefaults("COM3:", defaults));
    EXPECT_EQ(defaults.baudRate, 115200u);
    EXPECT_EQ(defaults.stopBits, SerialStopBits::One);
    EXPECT_FALSE(defaults.ctsFlow);
    EXPECT_FALSE(defaults.xonXoff);  // input flow control alone is not XON/XOFF output
}

TEST(DevicesSerialConfig, ByteSizeParityAndStopBitsOfATermios) {
    termios settings{};
    settings.c_cflag = CS7 | PARENB | PARODD | CSTOPB;
    cfsetospeed(&settings, B19200);  // the speed lives in c_cflag too
    SerialDefaults defaults = SerialDefaultsFromTermios(settings);
    EXPECT_EQ(defaults.baudRate, 19200u);
    EXPECT_EQ(defaults.dataBits, 7);
    EXPECT_EQ(defaults.parity, SerialParity::Odd);
    EXPECT_EQ(defaults.stopBits, SerialStopBits::Two);
    settings.c_cflag = CS5 | PARENB | CSTOPB;
    defaults = SerialDefaultsFromTermios(settings);
    EXPECT_EQ(defaults.dataBits, 5);
    EXPECT_EQ(defaults.parity, SerialParity::Even);
    EXPECT_EQ(defaults.stopBits, SerialStopBits::OneAndHalf);  // what a UART sends for "two" with five bits
    settings.c_cflag = CS6 | PARENB | CMSPAR | PARODD;
    defaults = SerialDefaultsFromTermios(settings);
    EXPECT_EQ(defaults.dataBits, 6);
    EXPECT_EQ(defaults.parity, SerialParity::Mark);
}

TEST(DevicesSerialConfig, FailuresSayWhy) {
    ScopedEnvironment environment;
    TempDir folder;
    devices_testing::UsePortMap(environment, folder,
                                "COM1=/dev/null\nCOM2=" + (folder / "gone").string() + "\nLPT1=/dev/null\n");
    SerialDefaults defaults;
    EXPECT_FALSE(ReadSerialDefaults("COM9", defaults));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(ReadSerialDefaults("LPT1", defaults));  // not a serial port
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(ReadSerialDefaults("COM2", defaults));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(ReadSerialDefaults("COM1", defaults));  // no terminal
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

}  // namespace
