// A timing program for the USB path: a 520 kB logo (Define logo 255 x 255)
// sent in 64-byte packets through the port library and the USB transport,
// then the same bytes as bare libusb bulk transfers on the same device.
// Run it in front of the virtual USB printer:
//   vprinter --usb --usb-kernel-driver none -- build/bin/marquen-bench-usb
#include "fundaport.h"
#include "kernel/kernel.h"

#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kPacket = 64;
constexpr DWORD kPacketTimeoutMs = 5000;

std::vector<uint8_t> LogoStream() {
    std::vector<uint8_t> bytes = {0x1D, 0x23, 0x01, 0x1D, 0x2A, 255, 255};
    bytes.resize(bytes.size() + 255 * 255 * 8, 0x55);
    return bytes;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Through Comm_WritePort, one packet at a time as the server's packet writer
// sends them. Seconds, or a negative value on failure.
double ThroughPortLibrary(const std::vector<uint8_t>& bytes) {
    if (Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1) != 1)
        return -1;
    int realTime = 0, hasIn = 0, hasOut = 0, scratch1 = 0, scratch2 = 0;
    if (Comm_UpdateConnection(0, 0, realTime, hasIn, hasOut, scratch1, scratch2) != 1) {
        std::fprintf(stderr, "cannot connect: status 0x%X\n", GetLastError());
        Comm_CloseCleanuo();
        return -1;
    }
    Comm_SetConnect(Comm_IsPortAvailable());
    HANDLE tx = Comm_GethCommPortTX();
    OVERLAPPED* overlapped = Comm_GetOverlappedTX();
    auto start = Clock::now();
    bool ok = true;
    for (size_t sent = 0; ok && sent < bytes.size(); sent += kPacket) {
        DWORD length = static_cast<DWORD>(std::min(kPacket, bytes.size() - sent)), count = 0;
        if (!Comm_WritePort(tx, bytes.data() + sent, length, &count, overlapped)) {
            ok = GetLastError() == ERROR_IO_PENDING &&
                 GetOverlappedResultEx(tx, overlapped, &count, kPacketTimeoutMs, FALSE);
        }
        ok = ok && count == length;
    }
    double seconds = Seconds(Clock::now() - start);
    Comm_BreakDownCommPort();
    Comm_CloseCleanuo();
    return ok ? seconds : -1;
}

double BareLibusb(const std::vector<uint8_t>& bytes) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return -1;
    double seconds = -1;
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0xF5A7, 0xA000);
    if (handle != nullptr && libusb_claim_interface(handle, 0) == 0) {
        auto start = Clock::now();
        bool ok = true;
        for (size_t sent = 0; ok && sent < bytes.size(); sent += kPacket) {
            int length = static_cast<int>(std::min(kPacket, bytes.size() - sent)), count = 0;
            ok = libusb_bulk_transfer(handle, 0x02, const_cast<uint8_t*>(bytes.data() + sent), length, &count,
                                      kPacketTimeoutMs) == 0 &&
                 count == length;
        }
        if (ok)
            seconds = Seconds(Clock::now() - start);
        libusb_release_interface(handle, 0);
    }
    if (handle != nullptr)
        libusb_close(handle);
    libusb_exit(context);
    return seconds;
}

}  // namespace

int main() {
    const std::vector<uint8_t> bytes = LogoStream();
    const size_t packets = (bytes.size() + kPacket - 1) / kPacket;
    double transport = ThroughPortLibrary(bytes);
    double bare = BareLibusb(bytes);
    if (transport < 0 || bare < 0) {
        std::fprintf(stderr, "a transfer failed (port library %.3f s, libusb %.3f s)\n", transport, bare);
        return 1;
    }
    std::printf("%zu bytes in %zu packets of %zu\n", bytes.size(), packets, kPacket);
    std::printf("port library + USB transport: %.3f s, %.1f us per packet\n", transport, transport * 1e6 / packets);
    std::printf("bare libusb bulk transfers:   %.3f s, %.1f us per packet\n", bare, bare * 1e6 / packets);
    std::printf("ratio: %.2f\n", transport / bare);
    return 0;
}
