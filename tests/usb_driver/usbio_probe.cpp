// usbio_probe: runs one scenario against the printer of the testbed it was
// started in (by `vprinter --usb ... -- usbio_probe SCENARIO`) and prints
// what it saw as "key=value" lines for the tests to check.
//   driver    the driver's requests through the platform's device calls
//   transfer  configure, bind, a command and its reply, a read that times out
//   unplug    a read pending while the cable is pulled
//   interrupt the interrupt pipes of a printer that has them
//   describe  the device as libusb sees it (strings, device id, driver)
//   watch MS  presence of the printer every 20 ms for MS milliseconds
#include "devices/device_interfaces.h"
#include "kernel/kernel.h"
#include "kernel/served_device.h"
#include "usbio.h"

#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
    }
    return text;
}

HANDLE Open(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// One request with its overlapped wait (5 s at most); the status, 0 on success.
DWORD Request(HANDLE file, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
              DWORD* returned) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    DWORD count = 0;
    DWORD status = 0;
    if (!DeviceIoControl(file, code, input, inputSize, output, outputSize, &count, &overlapped)) {
        status = GetLastError();
        if (status == ERROR_IO_PENDING) {
            status = GetOverlappedResultEx(file, &overlapped, &count, 5000, FALSE) ? 0 : GetLastError();
        }
    }
    CloseHandle(overlapped.hEvent);
    if (returned != nullptr) *returned = count;
    return status;
}

DWORD GetDescriptor(HANDLE file, uint8_t type, uint8_t index, uint16_t language, std::vector<uint8_t>& out) {
    UsbioDescriptorRequest request{USBIO_RECIPIENT_DEVICE, type, index, language};
    out.assign(2047, 0);
    DWORD count = 0;
    DWORD status = Request(file, USBIO_IOCTL_GET_DESCRIPTOR, &request, sizeof request, out.data(), 2047, &count);
    out.resize(status == 0 ? count : 0);
    return status;
}

DWORD Configure(HANDLE device) {
    UsbioSetConfiguration configuration{};
    configuration.NbOfInterfaces = 1;
    configuration.InterfaceList[0].MaximumTransferSize = 0x4000;
    return Request(device, USBIO_IOCTL_SET_CONFIGURATION, &configuration, sizeof configuration, nullptr, 0, nullptr);
}

HANDLE Bind(uint8_t address) {
    HANDLE pipe = Open("\\\\.\\USBIO_Device0");
    if (pipe == INVALID_HANDLE_VALUE) return pipe;
    UsbioBindPipe bind{address};
    DWORD status = Request(pipe, USBIO_IOCTL_BIND_PIPE, &bind, sizeof bind, nullptr, 0, nullptr);
    std::printf("bind_%02X=0x%08X\n", address, status);
    return pipe;
}

int Driver() {
    std::printf("loaded=%d\n", static_cast<int>(marquen::kernel::LoadedUserModeDrivers().size()));
    HANDLE device = Open("\\\\.\\USBIO_Device0");
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("open=0x%08X\n", GetLastError());
        HANDLE second = Open("\\\\.\\USBIO_Device1");
        std::printf("open1=0x%08X\n", second == INVALID_HANDLE_VALUE ? GetLastError() : 0);
        return 0;
    }
    std::printf("open=0x00000000\n");
    UsbioDriverInfo info{};
    DWORD count = 0;
    DWORD status = Request(device, USBIO_IOCTL_GET_DRIVER_INFO, nullptr, 0, &info, sizeof info, &count);
    std::printf("info=0x%08X api=0x%04X count=%u\n", status, info.APIVersion, count);
    std::vector<uint8_t> bytes;
    status = GetDescriptor(device, 1, 0, 0, bytes);
    std::printf("device=0x%08X %s\n", status, Hex(bytes.data(), bytes.size()).c_str());
    status = GetDescriptor(device, 2, 0, 0, bytes);
    std::printf("configuration=0x%08X %s\n", status, Hex(bytes.data(), bytes.size()).c_str());
    status = GetDescriptor(device, 3, 0, 0, bytes);
    std::printf("language=0x%08X %s\n", status, Hex(bytes.data(), bytes.size()).c_str());
    status = GetDescriptor(device, 3, 3, 0, bytes);
    std::printf("serial=0x%08X %s\n", status, Hex(bytes.data(), bytes.size()).c_str());
    uint8_t value = 0xFF;
    status = Request(device, USBIO_IOCTL_GET_CONFIGURATION, nullptr, 0, &value, 1, nullptr);
    std::printf("get_configuration=0x%08X value=%u\n", status, value);
    status = Configure(device);
    std::printf("set_configuration=0x%08X\n", status);
    status = Request(device, USBIO_IOCTL_GET_CONFIGURATION, nullptr, 0, &value, 1, nullptr);
    std::printf("get_configuration=0x%08X value=%u\n", status, value);
    UsbioClassOrVendorRequest classRequest{USBIO_SHORT_TRANSFER_OK, USBIO_REQUEST_TYPE_CLASS, USBIO_RECIPIENT_DEVICE,
                                           0, 0, 0, 0};
    bytes.assign(2047, 0);
    status = Request(device, USBIO_IOCTL_CLASS_OR_VENDOR_IN_REQUEST, &classRequest, sizeof classRequest,
                     bytes.data(), 2047, &count);
    std::printf("device_id=0x%08X %s\n", status, Hex(bytes.data(), status == 0 ? count : 0).c_str());
    status = Request(device, 0x80942999, nullptr, 0, nullptr, 0, nullptr);
    std::printf("unknown=0x%08X\n", status);

    // The same printer through device setup and its interface path.
    GUID cls{USBIO_INTERFACE_CLASS.Data1, USBIO_INTERFACE_CLASS.Data2, USBIO_INTERFACE_CLASS.Data3, {}};
    std::memcpy(cls.Data4, USBIO_INTERFACE_CLASS.Data4, 8);
    HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    int interfaces = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data); ++i) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
        std::vector<char> storage(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr)) {
            HANDLE byPath = Open(detail->DevicePath);
            std::printf("path=%s opened=%d\n", detail->DevicePath, byPath != INVALID_HANDLE_VALUE);
            if (byPath != INVALID_HANDLE_VALUE) CloseHandle(byPath);
        }
        ++interfaces;
    }
    std::printf("interfaces=%d\n", interfaces);
    SetupDiDestroyDeviceInfoList(set);
    status = Request(device, USBIO_IOCTL_UNCONFIGURE_DEVICE, nullptr, 0, nullptr, 0, nullptr);
    std::printf("unconfigure=0x%08X\n", status);
    CloseHandle(device);
    return 0;
}

int Transfer() {
    HANDLE device = Open("\\\\.\\USBIO_Device0");
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("open=0x%08X\n", GetLastError());
        return 1;
    }
    HANDLE early = Bind(0x02);  // before the configuration: refused
    CloseHandle(early);
    std::printf("set_configuration=0x%08X\n", Configure(device));
    HANDLE out = Bind(0x02);
    HANDLE in = Bind(0x81);
    HANDLE twice = Bind(0x81);  // a pipe has one handle
    CloseHandle(twice);
    HANDLE bogus = Bind(0x05);
    CloseHandle(bogus);

    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    const uint8_t command[] = {0x1D, 0x0B};  // read total memory
    BOOL done = WriteFile(out, command, sizeof command, &count, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) done = GetOverlappedResultEx(out, &overlapped, &count, 5000, FALSE);
    std::printf("write=%d count=%u\n", done, count);
    uint8_t reply[64] = {};
    done = ReadFile(in, reply, sizeof reply, &count, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) done = GetOverlappedResultEx(in, &overlapped, &count, 5000, FALSE);
    std::printf("read=%d reply=%s\n", done, Hex(reply, done ? count : 0).c_str());
    // Nothing more to read: the caller's time-out, then its cancel.
    auto start = std::chrono::steady_clock::now();
    done = ReadFile(in, reply, sizeof reply, &count, &overlapped);
    DWORD error = done ? 0 : GetLastError();
    if (error == ERROR_IO_PENDING) {
        done = GetOverlappedResultEx(in, &overlapped, &count, 300, FALSE);
        error = done ? 0 : GetLastError();
    }
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("idle_read=%u waited_ms=%lld\n", error, static_cast<long long>(waited.count()));
    CancelIo(in);
    done = GetOverlappedResult(in, &overlapped, &count, FALSE);
    std::printf("cancelled=%u\n", done ? 0 : GetLastError());
    // A write on the IN pipe is refused.
    done = WriteFile(in, command, sizeof command, &count, &overlapped);
    std::printf("write_on_in=0x%08X\n", done ? 0 : GetLastError());
    CloseHandle(overlapped.hEvent);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(device);
    return 0;
}

int Unplug() {
    HANDLE device = Open("\\\\.\\USBIO_Device0");
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("open=0x%08X\n", GetLastError());
        return 1;
    }
    std::printf("set_configuration=0x%08X\n", Configure(device));
    HANDLE in = Bind(0x81);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    uint8_t reply[64];
    DWORD count = 0;
    std::printf("hung_up_before=%d\n", IsDeviceHungUp(in));
    BOOL done = ReadFile(in, reply, sizeof reply, &count, &overlapped);
    DWORD error = done ? 0 : GetLastError();
    if (error == ERROR_IO_PENDING) {
        done = GetOverlappedResultEx(in, &overlapped, &count, 10000, FALSE);
        error = done ? 0 : GetLastError();
    }
    std::printf("read_during_unplug=0x%08X hung_up=%d\n", error, IsDeviceHungUp(in));
    DWORD status = Request(device, USBIO_IOCTL_GET_DRIVER_INFO, nullptr, 0, reply, 12, nullptr);
    std::printf("after=0x%08X\n", status);
    CloseHandle(overlapped.hEvent);
    CloseHandle(in);
    CloseHandle(device);
    HANDLE again = Open("\\\\.\\USBIO_Device0");
    std::printf("reopen=0x%08X\n", again == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    return 0;
}

// For a printer with interrupt endpoints 0x83 (IN) and 0x04 (OUT): a command
// through the interrupt OUT pipe, its reply on bulk IN, and the interrupt IN
// pipe, which has nothing to say, timing out.
int Interrupt() {
    HANDLE device = Open("\\\\.\\USBIO_Device0");
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("open=0x%08X\n", GetLastError());
        return 1;
    }
    std::printf("set_configuration=0x%08X\n", Configure(device));
    HANDLE out = Bind(0x04);
    HANDLE in = Bind(0x81);
    HANDLE status = Bind(0x83);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    const uint8_t command[] = {0x1D, 0x0B};
    BOOL done = WriteFile(out, command, sizeof command, &count, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) done = GetOverlappedResultEx(out, &overlapped, &count, 5000, FALSE);
    std::printf("write=%d count=%u\n", done, count);
    uint8_t reply[64] = {};
    done = ReadFile(in, reply, sizeof reply, &count, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) done = GetOverlappedResultEx(in, &overlapped, &count, 5000, FALSE);
    std::printf("read=%d reply=%s\n", done, Hex(reply, done ? count : 0).c_str());
    done = ReadFile(status, reply, 8, &count, &overlapped);
    DWORD error = done ? 0 : GetLastError();
    if (error == ERROR_IO_PENDING) {
        done = GetOverlappedResultEx(status, &overlapped, &count, 200, FALSE);
        error = done ? 0 : GetLastError();
    }
    std::printf("status_read=%u\n", error);
    CancelIo(status);
    CloseHandle(overlapped.hEvent);
    CloseHandle(status);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(device);
    return 0;
}

int Describe() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return 1;
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, USBIO_VENDOR_ID, USBIO_PRODUCT_ID);
    if (handle == nullptr) {
        std::printf("found=0\n");
        libusb_exit(context);
        return 0;
    }
    std::printf("found=1\n");
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(libusb_get_device(handle), &descriptor);
    std::printf("indices=%u,%u,%u\n", descriptor.iManufacturer, descriptor.iProduct, descriptor.iSerialNumber);
    for (uint8_t index : {descriptor.iManufacturer, descriptor.iProduct, descriptor.iSerialNumber}) {
        // Asked with language 0, as the transport does: no language list needed.
        unsigned char raw[256] = {};
        int length = index == 0 ? 0 : libusb_get_string_descriptor(handle, index, 0, raw, sizeof raw);
        if (length >= 2) {
            std::string text;
            for (int i = 2; i + 1 < length && i < raw[0]; i += 2) text += static_cast<char>(raw[i]);
            std::printf("string%u=%s\n", index, text.c_str());
        }
    }
    unsigned char language[8];
    int result = libusb_get_string_descriptor(handle, 0, 0, language, sizeof language);
    std::printf("language=%s\n", result < 0 ? libusb_error_name(result) : Hex(language, static_cast<size_t>(result)).c_str());
    unsigned char id[1024];
    result = libusb_control_transfer(handle, 0xA1, 0, 0, 0, id, sizeof id, 1000);
    std::printf("device_id=%s\n", result < 0 ? libusb_error_name(result) : Hex(id, static_cast<size_t>(result)).c_str());
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(libusb_get_device(handle), 0, &config) == 0) {
        const auto& alternate = config->interface[0].altsetting[0];
        std::printf("interface=%02X/%02X/%02X endpoints=", alternate.bInterfaceClass, alternate.bInterfaceSubClass,
                    alternate.bInterfaceProtocol);
        for (int e = 0; e < alternate.bNumEndpoints; ++e) {
            std::printf("%02X:%u,", alternate.endpoint[e].bEndpointAddress, alternate.endpoint[e].bmAttributes & 3);
        }
        std::printf("\n");
        libusb_free_config_descriptor(config);
    }
    std::printf("kernel_driver=%d\n", libusb_kernel_driver_active(handle, 0));
    std::printf("claim=%s\n", libusb_error_name(libusb_claim_interface(handle, 0)));
    std::printf("detach=%s\n", libusb_error_name(libusb_detach_kernel_driver(handle, 0)));
    std::printf("claim_after_detach=%s\n", libusb_error_name(libusb_claim_interface(handle, 0)));
    libusb_release_interface(handle, 0);
    std::printf("attach=%s\n", libusb_error_name(libusb_attach_kernel_driver(handle, 0)));
    std::printf("kernel_driver_after=%d\n", libusb_kernel_driver_active(handle, 0));
    libusb_close(handle);
    libusb_exit(context);
    return 0;
}

int Watch(int milliseconds) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return 1;
    int last = -1;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::string changes;
    while (std::chrono::steady_clock::now() < end) {
        libusb_device** list = nullptr;
        ssize_t count = libusb_get_device_list(context, &list);
        int present = 0;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            libusb_get_device_descriptor(list[i], &descriptor);
            present |= descriptor.idVendor == USBIO_VENDOR_ID && descriptor.idProduct == USBIO_PRODUCT_ID;
        }
        libusb_free_device_list(list, 1);
        if (present != last) {
            changes += present ? "P" : "A";
            last = present;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("presence=%s\n", changes.c_str());
    libusb_exit(context);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario = argc > 1 ? argv[1] : "";
    int result = 2;
    if (scenario == "driver") result = Driver();
    else if (scenario == "transfer") result = Transfer();
    else if (scenario == "unplug") result = Unplug();
    else if (scenario == "interrupt") result = Interrupt();
    else if (scenario == "describe") result = Describe();
    else if (scenario == "watch" && argc > 2) result = Watch(std::atoi(argv[2]));
    else std::fprintf(stderr, "usbio_probe: unknown scenario\n");
    std::fflush(stdout);
    return result;
}
