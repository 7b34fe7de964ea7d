// The port library's USB kind through the shipped libfundaport.so, which
// loads libtramline.so from its own folder, against a fake driver serving a
// canned printer.
#include "fake_printer_driver.h"
#include "fundaport.h"
#include "kernel/kernel.h"

#include <gtest/gtest.h>

using namespace tramline_test;

namespace {

constexpr DWORD kWait = 5000;

// Finishes an overlapped Comm_ call (bounded) and gives its count, or -1.
long Finish(HANDLE handle, OVERLAPPED* overlapped, BOOL started, DWORD count) {
    if (started)
        return count;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    if (!GetOverlappedResultEx(handle, overlapped, &count, kWait, FALSE))
        return -1;
    return count;
}

TEST(PortLibraryUsb, ConnectsWritesReadsAndBreaksDownThroughTheTransport) {
    FakePrinterDriver driver({MakerPrinter(false, "")});
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    EXPECT_EQ(Comm_IsConnectionValid(64, 0, 1, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);
    int realTime = 1, hasIn = -1, hasOut = -1, scratch1 = 0, scratch2 = 0;
    ASSERT_EQ(Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2), 1) << GetLastError();
    EXPECT_EQ(hasIn, 0);
    EXPECT_EQ(hasOut, 0);
    EXPECT_EQ(realTime, 1);  // the caller's real-time flag is not rewritten
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 1);
    EXPECT_EQ(Comm_IsDevicePresent(), 1);
    // Without interrupt output the transport cleared the flag it keeps, so
    // asking again with the real-time flag set means a reconnection; with
    // it cleared, nothing to do.
    EXPECT_EQ(Comm_IsConnectionValid(64, 0, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_UNCHANGED);
    EXPECT_EQ(Comm_IsConnectionValid(64, 0, 1, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);

    HANDLE tx = Comm_GethCommPortTX();
    HANDLE rx = Comm_GethCommPortRX();
    ASSERT_NE(tx, nullptr);
    ASSERT_NE(rx, nullptr);
    EXPECT_NE(tx, rx);
    const uint8_t command[] = {0x1F, 0x65, 0x01};
    DWORD count = 0;
    BOOL started = Comm_WritePort(tx, command, sizeof command, &count, Comm_GetOverlappedTX());
    EXPECT_EQ(Finish(tx, Comm_GetOverlappedTX(), started, count), 3);
    EXPECT_EQ(driver.Printer(0).written[0x02], (Bytes{0x1F, 0x65, 0x01}));

    uint8_t reply[512];
    started = Comm_ReadPort(rx, reply, sizeof reply, &count, Comm_GetOverlappedRX());
    driver.QueueRead(0, 0x81, {0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(Finish(rx, Comm_GetOverlappedRX(), started, count), 4);
    EXPECT_EQ(reply[3], 0x78);

    // A read left pending ends when the connection is broken down.
    started = Comm_ReadPort(rx, reply, sizeof reply, &count, Comm_GetOverlappedRX());
    EXPECT_FALSE(started);
    EXPECT_EQ(Comm_BreakDownCommPort(), 1);
    EXPECT_EQ(WaitForSingleObject(Comm_GetOverlappedRX()->hEvent, kWait), WAIT_OBJECT_0);
    EXPECT_EQ(Comm_IsConnected(), 0);
    EXPECT_EQ(Comm_IsDevicePresent(), 0);
    EXPECT_EQ(Comm_GethCommPortTX(), nullptr);
    EXPECT_EQ(driver.Printer(0).configurationValue, 0);

    // Set up again after the break-down: a new transport object connects.
    ASSERT_EQ(Comm_UpdateConnection(1, 0, realTime, hasIn, hasOut, scratch1, scratch2), 1);
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 1);
    Comm_CloseCleanuo();
    EXPECT_EQ(Comm_IsOpened(), 0);
    EXPECT_EQ(driver.Printer(0).configurationValue, 0);
}

TEST(PortLibraryUsb, NoPrinterFailsCleanly) {
    FakePrinterDriver driver({});
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    int realTime = 0, hasIn = 0, hasOut = 0, scratch1 = 0, scratch2 = 0;
    EXPECT_EQ(Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2), 0);
    Comm_SetConnect(Comm_IsPortAvailable());
    EXPECT_EQ(Comm_IsConnected(), 0);
    EXPECT_EQ(Comm_GethCommPortRX(), nullptr);
    Comm_CloseCleanuo();
}

}  // namespace
