// Opening and closing ports, the line settings as the device sees them,
// synchronous write results, and the port lists.
#include "comm_test_support.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace comm_testing;

namespace {

class Port : public CommServerTest {
protected:
    /// The line settings of the printer's terminal as a client set them.
    termios Line() {
        termios settings{};
        int fd = ::open(Printer().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(tcgetattr(fd, &settings), 0);
        ::close(fd);
        return settings;
    }
    void SetLineSpeed(speed_t speed) {
        int fd = ::open(Printer().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios settings{};
        ASSERT_EQ(tcgetattr(fd, &settings), 0);
        cfsetspeed(&settings, speed);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
        ::close(fd);
    }
    tBaudRate Baudrate() {
        tBaudRate rate{};
        EXPECT_EQ(m_comm->get_Baudrate(&rate), S_OK);
        return rate;
    }
};

}  // namespace

TEST_F(Port, AMissingPortFailsWithoutTouchingThePortLibrary) {
    EXPECT_EQ(Open(L"COM9"), 0) << "not in the port map";
    WriteMap("COM9=" + (m_dir / "no-such-node").string() + "\n");
    EXPECT_EQ(Open(L"COM9"), 0) << "mapped to a node that is not there";
    EXPECT_EQ(PortLibrary<int>("Comm_IsOpened"), 0);
    EXPECT_EQ(Opened(), 0);
    EXPECT_EQ(Write({0x1B, 0x40}), WRITEPORT_RC_FAILED) << "a failed open leaves the object closed";
}

TEST_F(Port, LowerCaseNameTakesIndexAndDefaultConfiguration) {
    SetLineSpeed(B19200);
    ASSERT_EQ(Open(L"com3"), 1);
    EXPECT_EQ(Opened(), 1);
    EXPECT_EQ(Baudrate(), BR_19200) << "the port's default configuration";
    tParity parity{};
    tDataBits dataBits{};
    tStopBits stopBits{};
    tHandshaking handshake = XON_XOFF;
    m_comm->get_Parity(&parity);
    m_comm->get_Databits(&dataBits);
    m_comm->get_Stopbits(&stopBits);
    m_comm->get_Handshaking(&handshake);
    EXPECT_EQ(parity, PAR_NONE);
    EXPECT_EQ(dataBits, DBITS_8);
    EXPECT_EQ(stopBits, SBITS_10);
    EXPECT_EQ(handshake, 0);
    // The library is connected to index 2 (COM3) with exactly those codes.
    EXPECT_EQ(PortLibrary<unsigned>("Comm_IsConnectionValid", 2, 64, 3, 0, 0, 3, 0), 0u);
    EXPECT_EQ(PortLibrary<unsigned>("Comm_IsConnectionValid", 6, 64, 3, 0, 0, 3, 0), 1u);

    // After a put, a new open ignores the default configuration ...
    m_comm->ClosePort();
    EXPECT_EQ(Opened(), 0);
    SetLineSpeed(B57600);
    ASSERT_EQ(m_comm->put_Baudrate(BR_38400), S_OK);
    ASSERT_EQ(m_comm->put_Baudrate(BR_4800), S_OK);
    ASSERT_EQ(Open(L"COM7"), 1);
    EXPECT_EQ(Baudrate(), BR_4800);
    termios line = Line();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B4800));
    // ... until ClosePort.
    m_comm->ClosePort();
    SetLineSpeed(B57600);
    ASSERT_EQ(Open(L"COM7"), 1);
    EXPECT_EQ(Baudrate(), BR_57600);
}

TEST_F(Port, LineSettingsReachTheDevice) {
    ASSERT_EQ(Open(), 1);
    // Each property goes through two values so the last one is new to the
    // process even when the test is repeated.
    ASSERT_EQ(m_comm->put_Baudrate(BR_115200), S_OK);
    ASSERT_EQ(m_comm->put_Baudrate(BR_9600), S_OK);
    ASSERT_EQ(m_comm->put_Parity(PAR_EVEN), S_OK);
    ASSERT_EQ(m_comm->put_Parity(PAR_ODD), S_OK);
    ASSERT_EQ(m_comm->put_Stopbits(SBITS_10), S_OK);
    ASSERT_EQ(m_comm->put_Stopbits(SBITS_20), S_OK);
    ASSERT_EQ(m_comm->put_Handshaking(XON_XOFF), S_OK);
    ASSERT_EQ(m_comm->put_Handshaking(CTS), S_OK);
    termios line = Line();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_TRUE(line.c_cflag & PARODD);  // a pseudo-terminal clears PARENB itself
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_TRUE(line.c_cflag & CRTSCTS);
    EXPECT_FALSE(line.c_iflag & IXON);

    ASSERT_EQ(m_comm->put_Handshaking(XON_XOFF), S_OK);
    line = Line();
    EXPECT_TRUE(line.c_iflag & IXON);
    EXPECT_FALSE(line.c_cflag & CRTSCTS);
    EXPECT_EQ(Opened(), 1);

    // The same value again reconnects nothing: the line stays as a client
    // left it.
    SetLineSpeed(B1200);
    ASSERT_EQ(m_comm->put_Handshaking(XON_XOFF), S_OK);
    line = Line();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B1200));
    // An unlisted rate changes nothing either.
    ASSERT_EQ(m_comm->put_Baudrate(static_cast<tBaudRate>(1234)), S_OK);
    EXPECT_EQ(Baudrate(), BR_9600);

    // Real-time mode drops the handshake and gives it back.
    ASSERT_EQ(m_comm->put_RealTime(1), S_OK);
    tHandshaking handshake{};
    m_comm->get_Handshaking(&handshake);
    EXPECT_EQ(handshake, 0);
    EXPECT_FALSE(Line().c_iflag & IXON);
    ASSERT_EQ(m_comm->put_RealTime(0), S_OK);
    m_comm->get_Handshaking(&handshake);
    EXPECT_EQ(handshake, XON_XOFF);
    EXPECT_TRUE(Line().c_iflag & IXON);
    LONG realTime = -1;
    m_comm->get_RealTime(&realTime);
    EXPECT_EQ(realTime, 0);
}

TEST_F(Port, AnotherObjectsLastValueDoesNotHideAPut) {
    ASSERT_EQ(m_comm->put_Parity(PAR_NONE), S_OK);
    ASSERT_EQ(m_comm->put_Parity(PAR_EVEN), S_OK);
    ComPtr<ICommunication> other;
    ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                               other.PutVoid()),
              S_OK);
    ASSERT_EQ(other->put_Parity(PAR_EVEN), S_OK);
    tParity parity{};
    ASSERT_EQ(other->get_Parity(&parity), S_OK);
    EXPECT_EQ(parity, PAR_EVEN);
}

TEST_F(Port, SynchronousWriteResults) {
    LONG rc = 77;
    // Two dimensions: S_FALSE, pRC untouched.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* square = SafeArrayCreate(VT_UI1, 2, bounds);
    LONG written = 0;
    EXPECT_EQ(m_comm->WritePort(&square, 4, &written, 0, &rc), S_FALSE);
    EXPECT_EQ(rc, 77);
    EXPECT_EQ(Write({1, 2, 3}), WRITEPORT_RC_FAILED) << "before any OpenPort";

    ASSERT_EQ(Open(), 1);
    EXPECT_EQ(m_comm->WritePort(&square, 4, &written, 0, &rc), S_FALSE);
    EXPECT_EQ(rc, 77);
    SafeArrayDestroy(square);
    HRESULT hr = S_OK;
    EXPECT_EQ(Write({1, 2, 3}, 0, 4, nullptr, &hr), WRITEPORT_RC_FAILED) << "longer than the array";
    EXPECT_EQ(Write({1, 2, 3}, 0, -1, nullptr, &hr), WRITEPORT_RC_FAILED);
    EXPECT_EQ(Write({1, 2, 3}, 64, 4, nullptr, &hr), WRITEPORT_RC_FAILED) << "in packets too";
    EXPECT_EQ(hr, S_OK);

    // Select logo 42, written at once: the printer sees it.
    EXPECT_EQ(Write({0x1D, 0x23, 42, 0xFF}, 0, 3, &written), WRITEPORT_RC_SUCCESS);
    EXPECT_EQ(written, 3);
    EXPECT_TRUE(Printer().WaitUntil([](const vprinter::PrinterModel& m) { return m.SelectedSlot() == 42; },
                                    milliseconds(kEventWaitMs)));
    EXPECT_EQ(Printer().Snapshot().UnknownByteCount(), 0u) << "only the bytes asked for";

    // The library not connected: 8.
    PortLibrary<int>("Comm_BreakDownCommPort");
    EXPECT_EQ(Opened(), 0);
    EXPECT_EQ(Write({0x1D, 0x23, 1}), WRITEPORT_RC_NOT_CONNECTED);
}

TEST_F(Port, AWriteTheDeviceDoesNotTakeTimesOut) {
    ASSERT_EQ(Open(), 1);
    Printer().Stall(std::nullopt);
    // Far more than the terminal buffers: the device cannot take it within 1 s.
    Bytes big(4 << 20, ' ');
    LONG written = -1;
    auto start = Clock::now();
    EXPECT_EQ(Write(big, 0, std::nullopt, &written), WRITEPORT_RC_INCOMPLETE);
    auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_GE(took.count(), 900);
    EXPECT_EQ(Opened(), 1) << "a time-out leaves the port open";
    Printer().EndStall();
    // The port still works: the next write goes out.
    EXPECT_EQ(Write({0x1D, 0x23, 9}), WRITEPORT_RC_SUCCESS);
}

TEST_F(Port, PortListsComeFromThePortMap) {
    VARIANT list;
    VariantInit(&list);
    LONG count = -1;
    ASSERT_EQ(m_comm->GetComPorts(&list, &count), S_OK);
    ASSERT_EQ(count, 3);
    ASSERT_EQ(list.vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(SafeArrayGetDim(list.parray), 1u);
    std::vector<std::string> names;
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        ASSERT_EQ(SafeArrayGetElement(list.parray, &i, &name), S_OK);
        names.push_back(Bstr::Adopt(name).Utf8());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"COM7", "COM3", "COM2"})) << "in the port map's order";
    VariantClear(&list);
    ASSERT_EQ(m_comm->GetLptPorts(&list, &count), S_OK);
    ASSERT_EQ(count, 1);
    LONG first = 0;
    BSTR name = nullptr;
    ASSERT_EQ(SafeArrayGetElement(list.parray, &first, &name), S_OK);
    EXPECT_EQ(Bstr::Adopt(name).Utf8(), "LPT1");
    VariantClear(&list);

    // A machine without serial ports: 0, and the variant left as it was.
    ComPtr<ICommunication> other;
    ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                               other.PutVoid()),
              S_OK);
    WriteMap("LPT2=/dev/null\n");
    VARIANT untouched;
    VariantInit(&untouched);
    untouched.vt = VT_I4;
    untouched.lVal = 1234;
    ASSERT_EQ(other->GetComPorts(&untouched, &count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(untouched.vt, VT_I4);
    EXPECT_EQ(untouched.lVal, 1234);
    // Without both kinds the port map is read each time: a new port shows.
    WriteMap("LPT2=/dev/null\nCOM4=/dev/null\n");
    ASSERT_EQ(other->GetComPorts(&list, &count), S_OK);
    EXPECT_EQ(count, 1);
    VariantClear(&list);
    // With both kinds the first answer stays.
    WriteMap("COM5=/dev/null\n");
    ASSERT_EQ(other->GetLptPorts(&list, &count), S_OK);
    EXPECT_EQ(count, 1);
    VariantClear(&list);
}
