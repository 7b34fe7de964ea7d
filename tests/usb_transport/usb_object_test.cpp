// The USB object against a fake driver serving canned printers: connecting
// with and without interrupt endpoints, reads and writes on the bound pipes,
// reconnect decisions, the serial list and the report.
#include "fake_printer_driver.h"
#include "kernel/kernel.h"
#include "usb_comm_info.h"
#include "usb_test_support.h"
#include "usbio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <string>

using namespace tramline_test;

namespace {
// Set on a thread, every allocation of that thread fails.
thread_local bool t_failAllocations = false;
}  // namespace

// GCC pairs the inlined std::free below with callers' operator new and warns
// of a mismatch; the replacement pair is malloc/free throughout.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (t_failAllocations)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace {

std::unique_ptr<CCommInfo> NewObject(HWND window, int checkDriver) {
    return std::unique_ptr<CCommInfo>(GetNewUsbInfo(window, checkDriver));
}

// Waits (bounded) for an overlapped operation and gives its count, or -1.
long Finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD count) {
    if (started)
        return count;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    if (!GetOverlappedResultEx(handle, &overlapped, &count, 5000, FALSE))
        return -1;
    return count;
}

TEST(UsbObject, BulkOnlyPrinterConnectsClearsUseInterruptOutAndMovesBytes) {
    FakePrinterDriver driver({MakerPrinter(false, "")});
    PostRecorder posts;
    auto info = NewObject(posts.window(), 1);
    ASSERT_NE(info, nullptr);
    int useInterruptOut = 1, hasIn = -1, hasOut = -1;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    EXPECT_EQ(useInterruptOut, 0);
    EXPECT_EQ(hasIn, 0);
    EXPECT_EQ(hasOut, 0);
    EXPECT_EQ(info->m_bConnected, 1);
    EXPECT_NE(info->m_hWrite, nullptr);
    EXPECT_NE(info->m_hRead, nullptr);
    EXPECT_EQ(info->m_hStatus, nullptr);
    EXPECT_EQ(info->IsConfigured(), 1);
    EXPECT_EQ(driver.Printer(0).boundPipes, (Bytes{0x02, 0x81}));
    EXPECT_TRUE(posts.Codes().empty());

    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const uint8_t command[] = {0x1D, 0x23, 0x05};
    DWORD count = 0;
    BOOL started = info->WriteData(info->m_hWrite, command, sizeof command, &count, &overlapped);
    EXPECT_EQ(Finish(info->m_hWrite, overlapped, started, count), 3);
    EXPECT_EQ(driver.Printer(0).written[0x02], (Bytes{0x1D, 0x23, 0x05}));

    uint8_t reply[512] = {};
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    started = info->ReadData(info->m_hRead, reply, sizeof reply, &count, &overlapped);
    driver.QueueRead(0, 0x81, {0x37, 0x22});
    EXPECT_EQ(Finish(info->m_hRead, overlapped, started, count), 2);
    EXPECT_EQ(reply[0], 0x37);
    CloseHandle(event);

    EXPECT_EQ(info->Disconnect(), 1);
    EXPECT_EQ(driver.Printer(0).configurationValue, 0);
    info->Reset();
    EXPECT_EQ(info->m_bConnected, 0);
    EXPECT_EQ(info->m_bReset, 1);
    EXPECT_EQ(info->m_hWrite, nullptr);
}

TEST(UsbObject, InterruptOutputIsWrittenThroughOnlyWhenAsked) {
    FakePrinterDriver driver({MakerPrinter(true, "")});
    auto info = NewObject(nullptr, 1);
    int useInterruptOut = 1, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    EXPECT_EQ(useInterruptOut, 1);
    EXPECT_EQ(hasIn, 1);
    EXPECT_EQ(hasOut, 1);
    EXPECT_NE(info->m_hStatus, nullptr);
    EXPECT_EQ(driver.Printer(0).boundPipes, (Bytes{0x04, 0x81, 0x83}));

    // Reopened without the interrupt output: the bulk output is bound.
    useInterruptOut = 0;
    ASSERT_EQ(info->Connect(1, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    EXPECT_EQ(useInterruptOut, 0);
    EXPECT_EQ(hasOut, 1);
    EXPECT_EQ(driver.Printer(0).unconfigures, 1);
    EXPECT_EQ(driver.Printer(0).boundPipes, (Bytes{0x04, 0x81, 0x83, 0x02, 0x81, 0x83}));
}

TEST(UsbObject, NeedsReconnectBeforeTheFirstConnectAndWhenTheChoiceChanges) {
    FakePrinterDriver driver({MakerPrinter(false, "")});
    auto info = NewObject(nullptr, 1);
    EXPECT_EQ(info->IsConfigured(), 0);
    EXPECT_EQ(info->NeedsReconnect(8, 0, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(info->m_nTransferSize, 4096);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    EXPECT_EQ(info->NeedsReconnect(6, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(info->m_nTransferSize, 256);
    EXPECT_EQ(info->NeedsReconnect(0, 1, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(info->NeedsReconnect(0, 0, 1, 0, 0, 0, 0), 1);
    EXPECT_EQ(info->m_nTransferSize, 1);
    // An index past the table leaves the size.
    EXPECT_EQ(info->NeedsReconnect(9, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(info->m_nTransferSize, 1);
}

TEST(UsbObject, ConnectFailuresPostWithoutDriverCheckAndLeaveTheFlags) {
    // No printer at all: enumeration finds none, configuring fails.
    FakePrinterDriver driver({});
    PostRecorder posts;
    auto info = NewObject(posts.window(), 0);
    int useInterruptOut = 1, hasIn = -1, hasOut = -1;
    EXPECT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    EXPECT_EQ(posts.Codes(), (std::vector<WPARAM>{TRAMLINE_POST_DRIVER_NOT_LOADED}));
    EXPECT_EQ(hasIn, 0);
    EXPECT_EQ(hasOut, 1);  // the flag's value at creation
    EXPECT_EQ(useInterruptOut, 1);
    EXPECT_EQ(info->m_bConnected, 1);
}

TEST(UsbObject, ConfigurationsWithoutPipesOrWithUnknownDescriptorsFail) {
    FakePrinter noInput = MakerPrinter(false, "");
    noInput.configuration.resize(25);  // the bulk output is gone
    noInput.configuration[13] = 1;
    noInput.configuration[18 + 2] = 0x02;  // and the remaining one is an output
    FakePrinter unknown = MakerPrinter(false, "");
    unknown.configuration.insert(unknown.configuration.begin() + 18, {0x03, 0x30, 0x00});
    FakePrinter wrongVersion = MakerPrinter(false, "");
    wrongVersion.apiVersion = 0x0140;
    FakePrinterDriver driver({noInput, unknown, wrongVersion});
    PostRecorder posts;
    auto info = NewObject(posts.window(), 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    // The enumeration refuses the third printer's driver version for all.
    EXPECT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    EXPECT_EQ(GetLastError(), USBIO_STATUS_VERSION_MISMATCH);

    FakePrinterDriver twoPrinters({noInput, unknown});
    EXPECT_EQ(info->Connect(1, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    EXPECT_EQ(GetLastError(), TRAMLINE_STATUS_NO_PIPES);
    EXPECT_EQ(info->Connect(1, 1, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    EXPECT_EQ(posts.Codes(), (std::vector<WPARAM>{TRAMLINE_POST_UNKNOWN_DESCRIPTOR}));
}

TEST(UsbObject, ReconnectCountsDevicesAndBoundsTheirSerials) {
    FakePrinterDriver driver({MakerPrinter(false, "A1"), MakerPrinter(true, std::string(126, 'S'))});
    auto info = NewObject(nullptr, 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 1, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    std::vector<char> serials(TRAMLINE_SERIALS_SIZE + 1, '#');
    int count = -1;
    hasIn = hasOut = -1;
    EXPECT_EQ(info->Reconnect(&hasIn, &hasOut, &count, serials.data()), 1);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(serials.data(), "A1");
    EXPECT_EQ(std::string(serials.data() + TRAMLINE_SERIAL_SLOT), std::string(126, 'S'));
    EXPECT_EQ(serials[TRAMLINE_SERIALS_SIZE], '#');
    EXPECT_EQ(hasIn, 1);
    EXPECT_EQ(hasOut, 1);
}

TEST(UsbObject, ReportOfTheConnectedPrinterStaysInsideTheCallersBuffer) {
    FakePrinterDriver driver({MakerPrinter(false, "")});
    auto info = NewObject(nullptr, 1);
    std::vector<char> text(TRAMLINE_REPORT_TEXT_SIZE, '\0');
    // Not connected: the device request fails at once.
    EXPECT_EQ(info->GetDeviceReport(text.data()), 0);
    EXPECT_EQ(std::string(text.data()).find("DEVICE DESCRIPTOR"), std::string::npos);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    text[0] = '\0';
    EXPECT_EQ(info->GetDeviceReport(text.data()), 1);
    std::string report = text.data();
    EXPECT_TRUE(report.starts_with("*************************************************\r\n"));
    EXPECT_NE(report.find("idVendor            = 0xF5A7\r\n"), std::string::npos);
    EXPECT_NE(report.find("************ LANGUAGE ID ************************\r\n"), std::string::npos);
    EXPECT_NE(report.find("Data   = MFG:Vantrex;\r\n         CMD:ESC;\r\n"), std::string::npos);

    // A caller's text almost full: the report is cut at the buffer's end.
    std::fill(text.begin(), text.end() - 20, 'x');
    text[TRAMLINE_REPORT_TEXT_SIZE - 20] = '\0';
    EXPECT_EQ(info->GetDeviceReport(text.data()), 1);
    EXPECT_EQ(text[TRAMLINE_REPORT_TEXT_SIZE - 1], '\0');
    EXPECT_EQ(std::strlen(text.data()), TRAMLINE_REPORT_TEXT_SIZE - 1);
}

TEST(UsbObject, MemoryRunningOutGivesTheFailureResultNotAnException) {
    FakePrinterDriver driver({MakerPrinter(false, "")});
    auto info = NewObject(nullptr, 1);
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    ASSERT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
    std::vector<char> text(TRAMLINE_REPORT_TEXT_SIZE, '\0');
    int serialCount = 0;
    std::vector<char> serials(TRAMLINE_SERIALS_SIZE);

    t_failAllocations = true;
    int report = info->GetDeviceReport(text.data());
    DWORD reportError = GetLastError();
    int connect = info->Connect(1, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0);
    DWORD connectError = GetLastError();
    int reconnect = info->Reconnect(&hasIn, &hasOut, &serialCount, serials.data());
    CCommInfo* another = GetNewUsbInfo(nullptr, 1);
    DWORD createError = GetLastError();
    t_failAllocations = false;

    EXPECT_EQ(report, 0);
    EXPECT_EQ(reportError, ERROR_OUTOFMEMORY);
    EXPECT_EQ(connect, 0);
    EXPECT_EQ(connectError, ERROR_OUTOFMEMORY);
    EXPECT_EQ(reconnect, 0);
    EXPECT_EQ(another, nullptr);
    EXPECT_EQ(createError, ERROR_OUTOFMEMORY);
    // Memory back: the same object connects again.
    EXPECT_EQ(info->Connect(1, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
}

}  // namespace
