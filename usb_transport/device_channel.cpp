// Requests to the printer driver's device files.
#include "device_channel.h"

#include "kernel/last_error.h"
#include "kernel/served_device.h"
#include "kernel/sync.h"
#include "usbio.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace tramline {
namespace {

using EnumDeviceInterfaces = BOOL (*)(HDEVINFO, SP_DEVINFO_DATA*, const GUID*, DWORD, SP_DEVICE_INTERFACE_DATA*);
using GetDeviceInterfaceDetail = BOOL (*)(HDEVINFO, SP_DEVICE_INTERFACE_DATA*, SP_DEVICE_INTERFACE_DETAIL_DATA_A*,
                                          DWORD, DWORD*, SP_DEVINFO_DATA*);

// The device-setup calls are looked up by name, as the system's setup
// library would be loaded: a process without it gets a status, not a failed
// load of this library.
struct SetupCalls {
    EnumDeviceInterfaces enumerate = nullptr;
    GetDeviceInterfaceDetail detail = nullptr;
};

SetupCalls FindSetupCalls() {
    SetupCalls calls;
    calls.enumerate = reinterpret_cast<EnumDeviceInterfaces>(::dlsym(RTLD_DEFAULT, "SetupDiEnumDeviceInterfaces"));
    calls.detail =
        reinterpret_cast<GetDeviceInterfaceDetail>(::dlsym(RTLD_DEFAULT, "SetupDiGetDeviceInterfaceDetailA"));
    return calls;
}

// The path of the `number`-th interface of the class in `set`.
DWORD InterfacePath(const SetupCalls& calls, HDEVINFO set, const GUID& classGuid, int number, std::string& path) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!calls.enumerate(set, nullptr, &classGuid, static_cast<DWORD>(number), &data))
        return GetLastError() == ERROR_NO_MORE_ITEMS ? USBIO_STATUS_NO_SUCH_DEVICE_INSTANCE : GetLastError();
    DWORD required = 0;
    calls.detail(set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return GetLastError() != 0 ? GetLastError() : USBIO_STATUS_INVALID_PARAMETER;
    std::vector<uint8_t> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!calls.detail(set, &data, detail, required, nullptr, nullptr))
        return GetLastError();
    size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    path.assign(detail->DevicePath, strnlen(detail->DevicePath, room));
    return USBIO_STATUS_SUCCESS;
}

}  // namespace

GUID DriverInterfaceClass() {
    GUID guid{};
    guid.Data1 = USBIO_INTERFACE_CLASS.Data1;
    guid.Data2 = USBIO_INTERFACE_CLASS.Data2;
    guid.Data3 = USBIO_INTERFACE_CLASS.Data3;
    std::memcpy(guid.Data4, USBIO_INTERFACE_CLASS.Data4, sizeof guid.Data4);
    return guid;
}

DWORD DeviceChannel::Open(int number, HDEVINFO set, const GUID& classGuid) {
    SetupCalls calls = FindSetupCalls();
    if (calls.enumerate == nullptr || calls.detail == nullptr)
        return USBIO_STATUS_SETUP_API_UNAVAILABLE;
    if (IsOpen())
        return USBIO_STATUS_SUCCESS;
    std::string path;
    if (set != nullptr) {
        DWORD status = InterfacePath(calls, set, classGuid, number, path);
        if (status != USBIO_STATUS_SUCCESS)
            return status;
    } else {
        char name[64];
        std::snprintf(name, sizeof name, USBIO_DEVICE_NAME_FORMAT, number);
        path = name;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return USBIO_STATUS_DEVICE_NOT_FOUND;
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        CloseHandle(file);
        return USBIO_STATUS_NO_MEMORY;
    }
    m_file = file;
    m_overlapped = OVERLAPPED{};
    m_overlapped.hEvent = event;
    m_path = path;
    UsbioDriverInfo info{};
    DWORD returned = 0;
    DWORD status = Request(USBIO_IOCTL_GET_DRIVER_INFO, nullptr, 0, &info, sizeof info, &returned);
    if (status == USBIO_STATUS_SUCCESS && (returned < sizeof info || info.APIVersion != USBIO_API_VERSION))
        status = USBIO_STATUS_VERSION_MISMATCH;
    if (status != USBIO_STATUS_SUCCESS)
        Close();
    return status;
}

void DeviceChannel::Close() {
    if (m_file != nullptr) {
        CloseHandle(m_file);
        m_file = nullptr;
    }
    if (m_overlapped.hEvent != nullptr) {
        CloseHandle(m_overlapped.hEvent);
        m_overlapped.hEvent = nullptr;
    }
    m_path.clear();
}

DWORD DeviceChannel::Request(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                             DWORD* returned) {
    if (returned != nullptr)
        *returned = 0;
    if (!IsOpen())
        return USBIO_STATUS_DEVICE_NOT_OPEN;
    std::lock_guard guard(m_lock);
    DWORD count = 0;
    if (!DeviceIoControl(m_file, code, input, inputSize, output, outputSize, &count, &m_overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return error;
        if (!GetOverlappedResultEx(m_file, &m_overlapped, &count, kRequestTimeoutMs, FALSE)) {
            error = GetLastError();
            if (error != WAIT_TIMEOUT)
                return error;
            CancelIoEx(m_file, &m_overlapped);
            // Once cancelled the request no longer touches `output`; collect
            // its end so the OVERLAPPED is free for the next one.
            GetOverlappedResult(m_file, &m_overlapped, &count, TRUE);
            return USBIO_STATUS_TIMEOUT;
        }
    }
    if (returned != nullptr)
        *returned = count;
    return USBIO_STATUS_SUCCESS;
}

DWORD DeviceChannel::GetDescriptor(uint8_t type, uint8_t index, uint16_t language, size_t maximum,
                                   std::vector<uint8_t>& reply) {
    UsbioDescriptorRequest request{USBIO_RECIPIENT_DEVICE, type, index, language};
    reply.assign(maximum, 0);
    DWORD returned = 0;
    DWORD status = Request(USBIO_IOCTL_GET_DESCRIPTOR, &request, sizeof request, reply.data(),
                           static_cast<DWORD>(reply.size()), &returned);
    // Only the bytes the device returned are kept: a short answer is never
    // read past.
    reply.resize(status == USBIO_STATUS_SUCCESS ? std::min<size_t>(returned, maximum) : 0);
    return status;
}

DWORD DeviceChannel::GetDeviceId(size_t maximum, std::vector<uint8_t>& reply) {
    UsbioClassOrVendorRequest request{USBIO_SHORT_TRANSFER_OK, USBIO_REQUEST_TYPE_CLASS, USBIO_RECIPIENT_DEVICE, 0, 0,
                                      0, 0};
    reply.assign(maximum, 0);
    DWORD returned = 0;
    DWORD status = Request(USBIO_IOCTL_CLASS_OR_VENDOR_IN_REQUEST, &request, sizeof request, reply.data(),
                           static_cast<DWORD>(reply.size()), &returned);
    reply.resize(status == USBIO_STATUS_SUCCESS ? std::min<size_t>(returned, maximum) : 0);
    return status;
}

DWORD DeviceChannel::GetConfiguration(uint8_t& value) {
    value = 0;
    DWORD returned = 0;
    DWORD status = Request(USBIO_IOCTL_GET_CONFIGURATION, nullptr, 0, &value, 1, &returned);
    if (status == USBIO_STATUS_SUCCESS && returned < 1)
        value = 0;
    return status;
}

DWORD DeviceChannel::SetConfiguration() {
    UsbioSetConfiguration request{};
    request.ConfigurationIndex = 0;
    request.NbOfInterfaces = 1;
    request.InterfaceList[0].InterfaceIndex = 0;
    request.InterfaceList[0].AlternateSettingIndex = 0;
    request.InterfaceList[0].MaximumTransferSize = 0x4000;
    return Request(USBIO_IOCTL_SET_CONFIGURATION, &request, sizeof request, nullptr, 0);
}

DWORD DeviceChannel::Unconfigure() { return Request(USBIO_IOCTL_UNCONFIGURE_DEVICE, nullptr, 0, nullptr, 0); }

DWORD DeviceChannel::BindPipe(uint8_t endpointAddress) {
    UsbioBindPipe request{endpointAddress};
    return Request(USBIO_IOCTL_BIND_PIPE, &request, sizeof request, nullptr, 0);
}

}  // namespace tramline
