// The bare libusb cost of bulk OUT transfers on the virtual USB printer: the
// floor any transport over this device can reach. Run it under the testbed:
//   build/bin/vprinter --usb --usb-kernel-driver none -- build/bin/marquen-bench-usb-bulk [KBYTES] [PACKET]
// Sends KBYTES (default 520) in PACKET-byte transfers (default 64), one
// synchronous libusb_bulk_transfer each, and prints the total time and the
// cost per packet. The bytes are 'A's: no command, the printer drops them.
#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    long kbytes = argc > 1 ? std::atol(argv[1]) : 520;
    int packet = argc > 2 ? std::atoi(argv[2]) : 64;
    if (kbytes <= 0 || packet <= 0 || packet > 16384) {
        std::fprintf(stderr, "usage: marquen-bench-usb-bulk [KBYTES] [PACKET]\n");
        return 2;
    }
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        std::fprintf(stderr, "libusb does not start\n");
        return 1;
    }
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0xF5A7, 0xA000);
    if (handle == nullptr) {
        std::fprintf(stderr, "no printer F5A7:A000 (run under vprinter --usb)\n");
        libusb_exit(context);
        return 1;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    int result = libusb_claim_interface(handle, 0);
    if (result != 0) {
        std::fprintf(stderr, "claim: %s\n", libusb_error_name(result));
        libusb_close(handle);
        libusb_exit(context);
        return 1;
    }
    std::vector<unsigned char> data(static_cast<size_t>(packet), 'A');
    long total = kbytes * 1024;
    long packets = (total + packet - 1) / packet;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < packets; ++i) {
        int sent = 0;
        result = libusb_bulk_transfer(handle, 0x02, data.data(), packet, &sent, 5000);
        if (result != 0 || sent != packet) {
            std::fprintf(stderr, "transfer %ld: %s\n", i, libusb_error_name(result));
            break;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%ld packets=%ld packet_size=%d total_s=%.3f per_packet_us=%.1f rate_kB_s=%.1f\n",
                packets * packet, packets, packet, seconds, seconds * 1e6 / static_cast<double>(packets),
                static_cast<double>(packets * packet) / 1024.0 / seconds);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_exit(context);
    return result == 0 ? 0 : 1;
}
