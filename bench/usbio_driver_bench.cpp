// The same bulk OUT stream as marquen-bench-usb-bulk, through the driver
// stand-in: device file, set configuration, bind pipe, then one overlapped
// WriteFile per packet awaited with GetOverlappedResultEx. Against the bare
// libusb figure it gives the cost of the platform layer and the stand-in.
//   build/bin/vprinter --usb --usb-kernel-driver none -- build/bin/marquen-bench-usbio [KBYTES] [PACKET]
#include "kernel/kernel.h"
#include "kernel/served_device.h"
#include "usbio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

HANDLE Open() {
    return CreateFileA("\\\\.\\USBIO_Device0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool Control(HANDLE file, DWORD code, const void* input, DWORD size, OVERLAPPED& overlapped) {
    DWORD count = 0;
    if (DeviceIoControl(file, code, input, size, nullptr, 0, &count, &overlapped)) return true;
    return GetLastError() == ERROR_IO_PENDING && GetOverlappedResultEx(file, &overlapped, &count, 5000, FALSE);
}

}  // namespace

int main(int argc, char** argv) {
    long kbytes = argc > 1 ? std::atol(argv[1]) : 520;
    DWORD packet = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 64;
    if (kbytes <= 0 || packet == 0 || packet > 16384) {
        std::fprintf(stderr, "usage: marquen-bench-usbio [KBYTES] [PACKET]\n");
        return 2;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE device = Open();
    HANDLE pipe = Open();
    UsbioSetConfiguration configuration{};
    configuration.NbOfInterfaces = 1;
    configuration.InterfaceList[0].MaximumTransferSize = 0x4000;
    UsbioBindPipe bind{0x02};
    if (device == INVALID_HANDLE_VALUE || pipe == INVALID_HANDLE_VALUE ||
        !Control(device, USBIO_IOCTL_SET_CONFIGURATION, &configuration, sizeof configuration, overlapped) ||
        !Control(pipe, USBIO_IOCTL_BIND_PIPE, &bind, sizeof bind, overlapped)) {
        std::fprintf(stderr, "no served printer (run under vprinter --usb --usb-kernel-driver none): 0x%08X\n",
                     GetLastError());
        return 1;
    }
    std::vector<unsigned char> data(packet, 'A');
    long packets = (kbytes * 1024 + packet - 1) / packet;
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    for (long i = 0; i < packets; ++i) {
        DWORD written = 0;
        BOOL done = WriteFile(pipe, data.data(), packet, &written, &overlapped);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            done = GetOverlappedResultEx(pipe, &overlapped, &written, 5000, FALSE);
        }
        if (!done || written != packet) {
            std::fprintf(stderr, "packet %ld: 0x%08X\n", i, GetLastError());
            status = 1;
            break;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%ld packets=%ld packet_size=%u total_s=%.3f per_packet_us=%.1f rate_kB_s=%.1f\n",
                packets * static_cast<long>(packet), packets, packet, seconds,
                seconds * 1e6 / static_cast<double>(packets),
                static_cast<double>(packets) * packet / 1024.0 / seconds);
    Control(device, USBIO_IOCTL_UNCONFIGURE_DEVICE, nullptr, 0, overlapped);
    CloseHandle(pipe);
    CloseHandle(device);
    CloseHandle(overlapped.hEvent);
    return status;
}
