// The USB transport against the virtual USB printer: run under
// `vprinter --usb ... --`, one case per run (CMake registers each with the
// printer options it needs). The driver stand-in serves the printer through
// libusb, as it would a real one.
#include "fundaport.h"
#include "kernel/kernel.h"
#include "report_golden.h"
#include "tramline.h"
#include "usb_test_support.h"
#include "usbio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace tramline_test;

namespace {

constexpr DWORD kWait = 5000;

std::unique_ptr<CCommInfo> NewObject(HWND window, int checkDriver) {
    return std::unique_ptr<CCommInfo>(GetNewUsbInfo(window, checkDriver));
}

class VirtualPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("UMOCKDEV_DIR") == nullptr)
            GTEST_SKIP() << "runs under vprinter --usb only";
    }
};

// Writes `bytes` and reads the reply (bounded), through the object's pipes.
std::vector<uint8_t> Exchange(CCommInfo& info, const std::vector<uint8_t>& bytes) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD count = 0;
    if (!info.WriteData(info.m_hWrite, bytes.data(), static_cast<DWORD>(bytes.size()), &count, &overlapped)) {
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_TRUE(GetOverlappedResultEx(info.m_hWrite, &overlapped, &count, kWait, FALSE)) << GetLastError();
    }
    EXPECT_EQ(count, bytes.size());
    std::vector<uint8_t> reply(512);
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    count = 0;
    if (!info.ReadData(info.m_hRead, reply.data(), static_cast<DWORD>(reply.size()), &count, &overlapped)) {
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        if (!GetOverlappedResultEx(info.m_hRead, &overlapped, &count, kWait, FALSE)) {
            CancelIo(info.m_hRead);
            GetOverlappedResult(info.m_hRead, &overlapped, &count, TRUE);
            count = 0;
        }
    }
    CloseHandle(event);
    reply.resize(count);
    return reply;
}

TEST_F(VirtualPrinter, BulkOnlyPrinterConnectsWithUseInterruptOutClearedAndAnswers) {
    PostRecorder posts;
    auto info = NewObject(posts.window(), 1);
    EXPECT_EQ(info->NeedsReconnect(8, 0, 1, 0, 0, 0, 0), 1);  // never configured
    int useInterruptOut = 1, hasIn = -1, hasOut = -1;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1) << std::hex << GetLastError();
    EXPECT_EQ(useInterruptOut, 0);
    EXPECT_EQ(hasIn, 0);
    EXPECT_EQ(hasOut, 0);
    EXPECT_EQ(info->m_hStatus, nullptr);
    EXPECT_EQ(info->IsConfigured(), 1);
    EXPECT_EQ(info->NeedsReconnect(8, 0, 0, 0, 0, 0, 0), 0);
    // Read total memory: 2048 kbytes in steps of 64.
    EXPECT_EQ(Exchange(*info, {0x1D, 0x0B}), (std::vector<uint8_t>{0x20}));
    EXPECT_TRUE(posts.Codes().empty());
    EXPECT_EQ(info->Disconnect(), 1);
    EXPECT_EQ(info->IsConfigured(), 0);
}

TEST_F(VirtualPrinter, PrinterWithInterruptEndpointsBindsThemAsAsked) {
    auto info = NewObject(nullptr, 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1) << std::hex << GetLastError();
    EXPECT_EQ(hasIn, 1);
    EXPECT_EQ(hasOut, 1);
    EXPECT_EQ(useInterruptOut, 0);
    EXPECT_NE(info->m_hStatus, nullptr);
    EXPECT_EQ(Exchange(*info, {0x1D, 0x0B}), (std::vector<uint8_t>{0x20}));
    // Reopened to write through the interrupt output.
    useInterruptOut = 1;
    ASSERT_EQ(info->Connect(1, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1) << std::hex << GetLastError();
    EXPECT_EQ(useInterruptOut, 1);
    EXPECT_NE(info->m_hWrite, nullptr);
}

// Run without the driver stand-in: the check posts why the printer cannot
// be reached (EXPECTED_POST: 7 or 8).
TEST_F(VirtualPrinter, DriverCheckPostsWhichDriverIsLoaded) {
    const char* expected = std::getenv("EXPECTED_POST");
    ASSERT_NE(expected, nullptr);
    PostRecorder posts;
    auto info = NewObject(posts.window(), 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    EXPECT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    EXPECT_EQ(posts.Codes(), (std::vector<WPARAM>{static_cast<WPARAM>(std::atoi(expected))}));
}

// Printer without strings, IEEE 1284 id "MFG:A;CMD:B;"; STALL_LANGUAGE set
// when the printer stalls the language request.
TEST_F(VirtualPrinter, WholeReport) {
    auto info = NewObject(nullptr, 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1) << std::hex << GetLastError();
    std::vector<char> text(TRAMLINE_REPORT_TEXT_SIZE, '\0');
    EXPECT_EQ(info->GetDeviceReport(text.data()), 1);
    bool stalled = std::getenv("STALL_LANGUAGE") != nullptr;
    EXPECT_EQ(std::string(text.data()), kBanner + kDeviceSection + kConfigurationSection + kInterfaceSection +
                                            EndpointSection("81", "IN") + EndpointSection("02", "OUT") +
                                            (stalled ? std::string() : kLanguageSection) + kDeviceIdSection);
}

// The port library's USB kind end to end: libfundaport.so loads
// libtramline.so and moves bytes through the Comm_ calls.
TEST_F(VirtualPrinter, PortLibraryConnectsAndExchanges) {
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    ASSERT_EQ(Comm_IsConnectionValid(64, 0, 0, 0, 0, 0, 0), FUNDAPORT_CONNECTION_REBUILD);
    int realTime = 0, hasIn = 0, hasOut = 0, scratch1 = 0, scratch2 = 0;
    ASSERT_EQ(Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2), 1)
        << std::hex << GetLastError();
    Comm_SetConnect(Comm_IsPortAvailable());
    ASSERT_EQ(Comm_IsConnected(), 1);
    HANDLE tx = Comm_GethCommPortTX();
    HANDLE rx = Comm_GethCommPortRX();
    const uint8_t command[] = {0x1D, 0x0B};
    DWORD count = 0;
    if (!Comm_WritePort(tx, command, sizeof command, &count, Comm_GetOverlappedTX())) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResultEx(tx, Comm_GetOverlappedTX(), &count, kWait, FALSE));
    }
    EXPECT_EQ(count, 2u);
    uint8_t reply[512];
    if (!Comm_ReadPort(rx, reply, sizeof reply, &count, Comm_GetOverlappedRX())) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResultEx(rx, Comm_GetOverlappedRX(), &count, kWait, FALSE));
    }
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(reply[0], 0x20);
    EXPECT_EQ(Comm_IsDevicePresent(), 1);
    EXPECT_EQ(Comm_BreakDownCommPort(), 1);
    Comm_CloseCleanuo();
}

}  // namespace

namespace {

// The printer is pulled out 1 s after start, during a pending read: the read
// ends in failure, the port library says the device is gone, and breaking
// down and cleaning up still work.
TEST_F(VirtualPrinter, UnpluggedDuringARead) {
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    int realTime = 0, hasIn = 0, hasOut = 0, scratch1 = 0, scratch2 = 0;
    ASSERT_EQ(Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2), 1)
        << std::hex << GetLastError();
    Comm_SetConnect(Comm_IsPortAvailable());
    ASSERT_EQ(Comm_IsDevicePresent(), 1);
    HANDLE rx = Comm_GethCommPortRX();
    uint8_t reply[512];
    DWORD count = 0;
    ASSERT_FALSE(Comm_ReadPort(rx, reply, sizeof reply, &count, Comm_GetOverlappedRX()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(WaitForSingleObject(Comm_GetOverlappedRX()->hEvent, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(rx, Comm_GetOverlappedRX(), &count, FALSE));
    EXPECT_EQ(GetLastError(), USBIO_STATUS_DEVICE_GONE);
    EXPECT_EQ(Comm_IsDevicePresent(), 0);
    const uint8_t command[] = {0x1D, 0x0B};
    HANDLE tx = Comm_GethCommPortTX();
    BOOL written = Comm_WritePort(tx, command, sizeof command, &count, Comm_GetOverlappedTX());
    if (!written && GetLastError() == ERROR_IO_PENDING)
        written = GetOverlappedResultEx(tx, Comm_GetOverlappedTX(), &count, kWait, FALSE);
    EXPECT_FALSE(written) << "a write to a printer pulled out succeeded";
    EXPECT_EQ(Comm_BreakDownCommPort(), 1);
    Comm_CloseCleanuo();
    // Connecting again finds no printer.
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1), 1);
    EXPECT_EQ(Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2), 0);
    Comm_CloseCleanuo();
}

}  // namespace
