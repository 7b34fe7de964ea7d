// usbfs requests of the virtual USB printer. A URB's life: SUBMITURB
// resolves the client's URB and its buffer into local copies and keeps them;
// the URB finishes (control at once, bulk OUT at once, bulk IN when the
// printer has reply bytes, interrupt IN never); REAPURB(NDELAY) hands a
// finished one back by pointing the client's argument at the kept copy,
// which umockdev writes back into the client's memory on completion.
#include "usb_printer.h"

#include <sys/ioctl.h>  // before linux/usbdevice_fs.h
#include <linux/usbdevice_fs.h>

#include <umockdev.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace vprinter {
namespace {

using Clock = std::chrono::steady_clock;

// libusb polls the device node, which is a regular file here and so always
// "ready": it would reap in a busy loop. The second empty REAP in a row is
// answered this much later (or as soon as a URB finishes), which keeps the
// idle cost low without slowing transfers down.
constexpr auto kParkedReapDelay = std::chrono::milliseconds(5);
// umockdev does not tell when a client closes its node: the claims of the
// clients that went away are released on this period.
constexpr auto kClientCheckPeriod = std::chrono::milliseconds(200);

constexpr uint8_t kGetStatus = 0;
constexpr uint8_t kClearFeature = 1;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kGetConfiguration = 8;
constexpr uint8_t kSetConfiguration = 9;
constexpr uint8_t kGetInterface = 10;
constexpr uint8_t kSetInterface = 11;
// Printer class requests.
constexpr uint8_t kGetDeviceId = 0;
constexpr uint8_t kGetPortStatus = 1;
constexpr uint8_t kSoftReset = 2;

std::string NodeName(int deviceNumber) {
    char name[64];
    std::snprintf(name, sizeof name, "/dev/bus/usb/001/%03d", deviceNumber);
    return name;
}

}  // namespace

struct UsbPrinter::Urb {
    UMockdevIoctlClient* client = nullptr;  // a reference
    UMockdevIoctlData* data = nullptr;      // the URB (a reference)
    UMockdevIoctlData* buffer = nullptr;    // its buffer (a reference)
    uint8_t type = 0;
    uint8_t endpoint = 0;
    int bufferLength = 0;
    bool finished = false;

    usbdevfs_urb* Fields() { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    ~Urb() {
        if (buffer != nullptr) umockdev_ioctl_data_unref(buffer);
        if (data != nullptr) umockdev_ioctl_data_unref(data);
        if (client != nullptr) g_object_unref(client);
    }
};

struct UsbPrinter::Plugging {
    UsbPrinter* owner = nullptr;
    int deviceNumber = 0;
    std::string node;
    std::string devicePath;     // sysfs path of the device
    std::string interfacePath;  // and of its printer interface
    UMockdevIoctlBase* handler = nullptr;
    bool gone = false;
    bool heldByKernel = false;
    uint8_t configuration = 0;
    std::map<unsigned, UMockdevIoctlClient*> claims;  // interface -> client (a reference)
    std::vector<std::shared_ptr<Urb>> urbs;           // submitted, not yet reaped
    struct ParkedReap {
        UMockdevIoctlClient* client;  // a reference
        Clock::time_point due;
    };
    std::vector<ParkedReap> parked;
    std::map<UMockdevIoctlClient*, int> emptyReaps;
};

UsbPrinter::UsbPrinter(UMockdevTestbed* testbed, UsbPrinterOptions options)
    : m_testbed(testbed), m_options(std::move(options)), m_model(m_options.printer) {
    m_model.Faults() = m_options.faults;
    m_timer = std::thread([this] { TimerLoop(); });
}

UsbPrinter::~UsbPrinter() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_timer.join();
    std::lock_guard lock(m_lock);
    for (auto& plug : m_plugs) {
        for (auto& parked : plug->parked) {
            umockdev_ioctl_client_complete(parked.client, -1, ENODEV);
            g_object_unref(parked.client);
        }
        plug->parked.clear();
        plug->urbs.clear();
        for (auto& [interface, client] : plug->claims) {
            g_object_unref(client);
        }
        plug->claims.clear();
        g_object_unref(plug->handler);
    }
}

void UsbPrinter::Log(const std::string& line) {
    if (m_options.verbose) {
        std::fprintf(stderr, "vprinter: usb: %s\n", line.c_str());
    }
}

bool UsbPrinter::Plugged() const {
    std::lock_guard lock(m_lock);
    return !m_plugs.empty() && !m_plugs.back()->gone;
}

uint64_t UsbPrinter::BytesReceived() const {
    std::lock_guard lock(m_lock);
    return m_bytesReceived;
}

uint64_t UsbPrinter::BytesSent() const {
    std::lock_guard lock(m_lock);
    return m_bytesSent;
}

bool UsbPrinter::Plug(std::string& error) {
    auto plug = std::make_unique<Plugging>();
    Plugging* raw = plug.get();
    {
        std::lock_guard lock(m_lock);
        plug->owner = this;
        plug->deviceNumber = m_nextDeviceNumber++;
        plug->node = NodeName(plug->deviceNumber);
        plug->devicePath = "/sys/devices/usb1/1-1";
        plug->interfacePath = plug->devicePath + "/1-1:1." + std::to_string(m_options.descriptors.interfaceNumber);
        plug->heldByKernel = m_options.heldByUsblp;
        plug->configuration = m_options.descriptors.configurationValue;
        plug->handler = umockdev_ioctl_base_new();
        m_plugs.push_back(std::move(plug));
    }
    // Once the handler is attached, the plug's state belongs to it (and m_lock).
    const bool heldAtStart = m_options.heldByUsblp;
    const uint8_t configurationAtStart = m_options.descriptors.configurationValue;
    g_signal_connect(raw->handler, "handle-ioctl", G_CALLBACK(HandleIoctlThunk), raw);

    // The kernel driver's folder must exist before the interface links to it.
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    std::string driverDirectory = std::string(root) + "/sys/bus/usb/drivers/usblp";
    g_free(root);
    g_mkdir_with_parents(driverDirectory.c_str(), 0755);

    GError* failure = nullptr;
    // The handler must be there before the add event, which goes out when
    // the paragraph is added.
    if (!umockdev_testbed_attach_ioctl(m_testbed, raw->node.c_str(), raw->handler, &failure)) {
        error = std::string("cannot serve ") + raw->node + ": " + (failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        return false;
    }
    const auto& d = m_options.descriptors;
    std::string hex;
    for (uint8_t byte : d.Concatenated()) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    char number[8];
    std::snprintf(number, sizeof number, "%03d", raw->deviceNumber);
    uint16_t vendor = static_cast<uint16_t>(d.device[8] | d.device[9] << 8);
    uint16_t product = static_cast<uint16_t>(d.device[10] | d.device[11] << 8);
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04x/%04x/%x", vendor, product, d.device[12] | d.device[13] << 8);
    std::string device = "P: " + raw->devicePath.substr(4) + "\n" +  // without "/sys"
                         "N: bus/usb/001/" + number + "\n" +
                         "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" +
                         "E: DEVNAME=/dev/bus/usb/001/" + number + "\n" + "E: BUSNUM=001\nE: DEVNUM=" + number +
                         "\n" + "E: PRODUCT=" + ids + "\n" + "A: busnum=1\\n\nA: devnum=" +
                         std::to_string(raw->deviceNumber) + "\\n\n" + "A: speed=12\\n\n" +
                         "A: bConfigurationValue=" + std::to_string(configurationAtStart) + "\\n\n";
    char hexId[16];
    std::snprintf(hexId, sizeof hexId, "%04x", vendor);
    device += std::string("A: idVendor=") + hexId + "\\n\n";
    std::snprintf(hexId, sizeof hexId, "%04x", product);
    device += std::string("A: idProduct=") + hexId + "\\n\n";
    if (d.ManufacturerIndex() != 0) device += "A: manufacturer=" + m_options.strings.manufacturer + "\\n\n";
    if (d.ProductIndex() != 0) device += "A: product=" + m_options.strings.product + "\\n\n";
    if (d.SerialIndex() != 0) device += "A: serial=" + m_options.strings.serial + "\\n\n";
    device += "H: descriptors=" + hex + "\n\n";
    if (!umockdev_testbed_add_from_string(m_testbed, device.c_str(), &failure)) {
        error = std::string("cannot add the device: ") + (failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        return false;
    }
    std::string interface = "P: " + raw->interfacePath.substr(4) + "\n" +
                            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=7/1/2\n" +
                            "A: bInterfaceClass=07\\n\nA: bInterfaceSubClass=01\\n\nA: bInterfaceProtocol=02\\n\n" +
                            "A: bInterfaceNumber=" + std::to_string(d.interfaceNumber) + "\\n\n";
    if (heldAtStart) {
        interface += "L: driver=../../../../bus/usb/drivers/usblp\n";
    }
    interface += "\n";
    if (!umockdev_testbed_add_from_string(m_testbed, interface.c_str(), &failure)) {
        error = std::string("cannot add the interface: ") + (failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        return false;
    }
    Log("plugged in as " + raw->node + (heldAtStart ? ", held by usblp" : ", no kernel driver"));
    return true;
}

void UsbPrinter::Unplug() {
    Plugging* plug;
    {
        std::lock_guard lock(m_lock);
        if (m_plugs.empty() || m_plugs.back()->gone) {
            return;
        }
        plug = m_plugs.back().get();
        plug->gone = true;
        for (auto& urb : plug->urbs) {
            if (!urb->finished) {
                Finish(urb, -ESHUTDOWN, 0);
            }
        }
        DeliverParkedReaps(Clock::now(), false);
    }
    // Remove events while sysfs still holds the device, interface first;
    // then the folders, interface first (the other order leaves a link that
    // breaks the next plug-in).
    umockdev_testbed_uevent(m_testbed, plug->interfacePath.c_str(), "remove");
    umockdev_testbed_uevent(m_testbed, plug->devicePath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, plug->interfacePath.c_str());
    umockdev_testbed_remove_device(m_testbed, plug->devicePath.c_str());
    Log("unplugged " + plug->node);
}

int UsbPrinter::HandleIoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* plugging) {
    auto* plug = static_cast<Plugging*>(plugging);
    return plug->owner->HandleIoctl(*plug, client) ? TRUE : FALSE;
}

void UsbPrinter::SetKernelDriver(Plugging& plug, bool held) {
    plug.heldByKernel = held;
    if (plug.gone) {
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    std::string link = std::string(root) + plug.interfacePath + "/driver";
    g_free(root);
    if (held) {
        umockdev_testbed_set_attribute_link(m_testbed, plug.interfacePath.c_str(), "driver",
                                            "../../../../bus/usb/drivers/usblp");
    } else {
        ::unlink(link.c_str());
    }
}

bool UsbPrinter::HandleIoctl(Plugging& plug, UMockdevIoctlClient* client) {
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(m_lock);
    if (plug.gone && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    const unsigned printerInterface = m_options.descriptors.interfaceNumber;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        if (caps == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_data_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        const char* name = nullptr;
        if (query->interface == printerInterface && plug.heldByKernel) {
            name = "usblp";
        } else if (plug.claims.count(query->interface) != 0) {
            name = "usbfs";
        }
        if (name != nullptr) {
            std::snprintf(query->driver, sizeof query->driver, "%s", name);
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        }
        umockdev_ioctl_data_unref(data);
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
        int error = 0;
        int result = 0;  // CONNECT answers 1 when a driver was bound, as the kernel does
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (static_cast<unsigned>(command->ifno) == printerInterface && plug.heldByKernel) {
                SetKernelDriver(plug, false);
                Log("usblp detached");
            } else {
                error = ENODATA;
            }
        } else if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (plug.claims.count(static_cast<unsigned>(command->ifno)) != 0) {
                error = EBUSY;
            } else if (static_cast<unsigned>(command->ifno) == printerInterface && !plug.heldByKernel) {
                SetKernelDriver(plug, true);
                Log("usblp attached");
                result = 1;
            }
        } else {
            error = ENOTTY;
        }
        umockdev_ioctl_data_unref(data);
        umockdev_ioctl_client_complete(client, error != 0 ? -1 : result, error);
        return true;
    }
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_CLAIMINTERFACE: {
        size_t size = request == USBDEVFS_CLAIMINTERFACE ? sizeof(unsigned) : sizeof(usbdevfs_disconnect_claim);
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        unsigned interface = *reinterpret_cast<unsigned*>(data->data);
        umockdev_ioctl_data_unref(data);
        if (request == USBDEVFS_DISCONNECT_CLAIM && interface == printerInterface && plug.heldByKernel) {
            SetKernelDriver(plug, false);
        }
        auto claimed = plug.claims.find(interface);
        int error = 0;
        if (interface == printerInterface && plug.heldByKernel) {
            error = EBUSY;
        } else if (claimed != plug.claims.end() && claimed->second != client) {
            error = EBUSY;
        } else if (claimed == plug.claims.end()) {
            plug.claims[interface] = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        }
        umockdev_ioctl_client_complete(client, error != 0 ? -1 : 0, error);
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        unsigned interface = *reinterpret_cast<unsigned*>(data->data);
        umockdev_ioctl_data_unref(data);
        auto claimed = plug.claims.find(interface);
        if (claimed != plug.claims.end() && claimed->second == client) {
            g_object_unref(claimed->second);
            plug.claims.erase(claimed);
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        }
        return true;
    }
    case USBDEVFS_SETCONFIGURATION: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);  // a bad pointer from the client
            return true;
        }
        int value = *reinterpret_cast<int*>(data->data);
        umockdev_ioctl_data_unref(data);
        if (value != 0 && value != -1 && value != m_options.descriptors.configurationValue) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        } else {
            plug.configuration = value > 0 ? static_cast<uint8_t>(value) : 0;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return true;
    }
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_SUBMITURB:
        return Submit(plug, client, arg);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        Reap(plug, client, arg, true);
        return true;
    case USBDEVFS_DISCARDURB:
        Discard(plug, client, arg);
        return true;
    default:
        return false;
    }
}

bool UsbPrinter::Submit(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    auto urb = std::make_shared<Urb>();
    urb->data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb->data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
    }
    usbdevfs_urb* fields = urb->Fields();
    urb->type = fields->type;
    urb->endpoint = fields->endpoint;
    urb->bufferLength = fields->buffer_length;
    if (urb->bufferLength < 0 || (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->bufferLength < 8)) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    if (urb->bufferLength > 0) {
        urb->buffer = umockdev_ioctl_data_resolve(urb->data, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(urb->bufferLength), nullptr);
        if (urb->buffer == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return true;
        }
    }
    urb->client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    fields->status = -EINPROGRESS;
    fields->actual_length = 0;
    plug.urbs.push_back(urb);
    umockdev_ioctl_client_complete(client, 0, 0);

    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        Control(plug, *urb);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK || urb->type == USBDEVFS_URB_TYPE_INTERRUPT) {
        Transfer(plug, *urb);
    } else {
        Finish(urb, -EINVAL, 0);
    }
    return true;
}

void UsbPrinter::Control(Plugging& plug, Urb& urb) {
    auto self = std::find_if(plug.urbs.begin(), plug.urbs.end(), [&](auto& entry) { return entry.get() == &urb; });
    std::shared_ptr<Urb> keep = *self;
    uint8_t* setup = urb.buffer->data;
    uint8_t requestType = setup[0];
    uint8_t request = setup[1];
    uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
    size_t room = std::min<size_t>(length, static_cast<size_t>(urb.bufferLength - 8));
    std::vector<uint8_t> reply;
    bool stall = false;
    const auto& d = m_options.descriptors;
    if (requestType == 0x80 && request == kGetDescriptor) {
        uint8_t type = static_cast<uint8_t>(value >> 8);
        uint8_t index = static_cast<uint8_t>(value & 0xFF);
        if (type == 1) {
            reply = d.device;
        } else if (type == 2 && index == 0) {
            reply = d.configuration;
        } else if (type == 3 && index == 0) {
            stall = m_options.stallLanguage;
            reply = {4, 3, 0x09, 0x04};  // US English
        } else if (type == 3 && index != 0 && index == d.ManufacturerIndex()) {
            reply = StringDescriptor(m_options.strings.manufacturer);
        } else if (type == 3 && index != 0 && index == d.ProductIndex()) {
            reply = StringDescriptor(m_options.strings.product);
        } else if (type == 3 && index != 0 && index == d.SerialIndex()) {
            reply = StringDescriptor(m_options.strings.serial);
        } else {
            stall = true;
        }
    } else if (requestType == 0x80 && request == kGetConfiguration) {
        reply = {plug.configuration};
    } else if (requestType == 0x80 && request == kGetStatus) {
        reply = {1, 0};  // self powered
    } else if (requestType == 0x81 && request == kGetInterface) {
        reply = {0};
    } else if (requestType == 0x00 && request == kSetConfiguration) {
        plug.configuration = static_cast<uint8_t>(value);
    } else if ((requestType == 0x01 && request == kSetInterface) || (requestType == 0x02 && request == kClearFeature)) {
        // nothing to change
    } else if ((requestType == 0xA1 || requestType == 0xA0) && request == kGetDeviceId) {
        // Asked of the interface, as the printer class says, or of the device.
        reply = DeviceIdReply(m_options.deviceId);
    } else if (requestType == 0xA1 && request == kGetPortStatus) {
        reply = {0x18};  // selected, no error
    } else if ((requestType == 0x21 || requestType == 0x23) && request == kSoftReset) {
        m_replies.clear();
    } else {
        stall = true;
    }
    if (stall) {
        Log("control request " + std::to_string(requestType) + "/" + std::to_string(request) + " stalled");
        Finish(keep, -EPIPE, 0);
        return;
    }
    size_t count = std::min(room, reply.size());
    std::memcpy(urb.buffer->data + 8, reply.data(), count);
    Finish(keep, 0, static_cast<int>(count));
}

void UsbPrinter::Transfer(Plugging& plug, Urb& urb) {
    auto self = std::find_if(plug.urbs.begin(), plug.urbs.end(), [&](auto& entry) { return entry.get() == &urb; });
    std::shared_ptr<Urb> keep = *self;
    const UsbEndpoint* endpoint = nullptr;
    for (const auto& candidate : m_options.descriptors.endpoints) {
        if (candidate.address == urb.endpoint) {
            endpoint = &candidate;
        }
    }
    if (endpoint == nullptr || plug.configuration == 0) {
        Finish(keep, endpoint == nullptr ? -ENOENT : -ESHUTDOWN, 0);
        return;
    }
    if (!endpoint->IsIn()) {
        if (urb.bufferLength > 0) {
            auto now = Clock::now();
            m_model.Feed(std::span<const uint8_t>(urb.buffer->data, static_cast<size_t>(urb.bufferLength)), now);
            m_bytesReceived += static_cast<uint64_t>(urb.bufferLength);
        }
        Finish(keep, 0, urb.bufferLength);
        PumpModel();
        return;
    }
    if (endpoint->IsBulk()) {
        ServeReads();
    }
    // An interrupt IN endpoint has nothing to say: its URB waits until discarded.
}

void UsbPrinter::PumpModel() {
    auto output = m_model.TakeOutput(Clock::now());
    if (!output.empty()) {
        m_replies.insert(m_replies.end(), output.begin(), output.end());
        ServeReads();
    }
    if (m_model.NextDeadline()) {
        m_wake.notify_all();
    }
}

void UsbPrinter::ServeReads() {
    if (m_plugs.empty()) {
        return;
    }
    Plugging& plug = *m_plugs.back();
    for (auto& urb : plug.urbs) {
        if (m_replies.empty()) {
            return;
        }
        if (urb->finished || urb->type != USBDEVFS_URB_TYPE_BULK || (urb->endpoint & 0x80) == 0) {
            continue;
        }
        size_t count = std::min(m_replies.size(), static_cast<size_t>(urb->bufferLength));
        std::copy(m_replies.begin(), m_replies.begin() + static_cast<long>(count), urb->buffer->data);
        m_replies.erase(m_replies.begin(), m_replies.begin() + static_cast<long>(count));
        m_bytesSent += count;
        Finish(urb, 0, static_cast<int>(count));
    }
}

void UsbPrinter::Finish(std::shared_ptr<Urb> urb, int status, int actualLength) {
    if (urb->finished) {
        return;
    }
    urb->finished = true;
    urb->Fields()->status = status;
    urb->Fields()->actual_length = actualLength;
    m_wake.notify_all();  // a parked REAP of its client can take it now
    DeliverParkedReaps(Clock::now(), false);
}

void UsbPrinter::Reap(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool mayPark) {
    for (auto it = plug.urbs.begin(); it != plug.urbs.end(); ++it) {
        std::shared_ptr<Urb> urb = *it;
        if (!urb->finished || urb->client != client) {
            continue;
        }
        plug.urbs.erase(it);
        plug.emptyReaps[client] = 0;
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        if (pointer == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        umockdev_ioctl_data_set_ptr(pointer, 0, urb->data);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(pointer);
        return;
    }
    if (plug.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    int& empty = plug.emptyReaps[client];
    if (!mayPark || ++empty < 2) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return;
    }
    plug.parked.push_back({static_cast<UMockdevIoctlClient*>(g_object_ref(client)), Clock::now() + kParkedReapDelay});
    m_wake.notify_all();
}

void UsbPrinter::DeliverParkedReaps(Clock::time_point now, bool timeOutAll) {
    for (auto& plug : m_plugs) {
        auto parked = std::move(plug->parked);
        plug->parked.clear();
        for (auto& entry : parked) {
            bool ready = std::any_of(plug->urbs.begin(), plug->urbs.end(), [&](auto& urb) {
                return urb->finished && urb->client == entry.client;
            });
            if (ready || plug->gone || timeOutAll || now >= entry.due) {
                Reap(*plug, entry.client, umockdev_ioctl_client_get_arg(entry.client), false);
                g_object_unref(entry.client);
            } else {
                plug->parked.push_back(entry);
            }
        }
    }
}

void UsbPrinter::Discard(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = *reinterpret_cast<gulong*>(arg->data);
    for (auto& urb : plug.urbs) {
        if (urb->client == client && urb->data->client_addr == address && !urb->finished) {
            Finish(urb, -ENOENT, 0);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void UsbPrinter::ReleaseVanishedClients() {
    for (auto& plug : m_plugs) {
        for (auto it = plug->claims.begin(); it != plug->claims.end();) {
            UMockdevIoctlClient* client = it->second;
            if (umockdev_ioctl_client_get_connected(client)) {
                ++it;
                continue;
            }
            Log("a client went away: interface " + std::to_string(it->first) + " released");
            std::erase_if(plug->urbs, [&](auto& urb) { return urb->client == client; });
            g_object_unref(client);
            it = plug->claims.erase(it);
        }
    }
}

void UsbPrinter::TimerLoop() {
    std::unique_lock lock(m_lock);
    auto nextClientCheck = Clock::now() + kClientCheckPeriod;
    while (!m_stop) {
        auto now = Clock::now();
        auto wakeAt = nextClientCheck;
        for (auto& plug : m_plugs) {
            for (auto& entry : plug->parked) {
                wakeAt = std::min(wakeAt, entry.due);
            }
        }
        if (auto deadline = m_model.NextDeadline()) {
            wakeAt = std::min(wakeAt, *deadline);
        }
        if (wakeAt > now) {
            m_wake.wait_until(lock, wakeAt);
            if (m_stop) {
                break;
            }
            now = Clock::now();
        }
        PumpModel();
        DeliverParkedReaps(now, false);
        if (now >= nextClientCheck) {
            ReleaseVanishedClients();
            nextClientCheck = now + kClientCheckPeriod;
        }
    }
}

}  // namespace vprinter
