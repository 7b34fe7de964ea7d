#pragma once
// The virtual USB printer behind a umockdev testbed: it serves the usbfs
// requests that libusb sends to the device node (descriptors, configuration,
// claiming and the kernel driver, URBs on the control, bulk and interrupt
// endpoints) and feeds the bulk OUT bytes to the printer model, whose
// replies go out on bulk IN.
//
// Threads: the testbed's worker thread runs the request handler; a timer
// thread of this object answers parked REAPs, delayed replies and notices
// clients that went away; Plug/Unplug run on the caller's thread. One lock
// guards everything.
#include "printer_model.h"
#include "usb_descriptors.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace vprinter {

struct UsbPrinterOptions {
    UsbDescriptors descriptors;
    UsbStrings strings;
    std::string deviceId = DefaultDeviceId();
    bool stallLanguage = false;
    bool heldByUsblp = true;  ///< the kernel driver holds the printer interface at plug-in
    PrinterConfig printer;
    ModelFaults faults;
    bool verbose = false;
};

class UsbPrinter {
public:
    UsbPrinter(UMockdevTestbed* testbed, UsbPrinterOptions options);
    /// Stops the timer thread and lets go of what the handlers kept. Destroy
    /// it after the testbed: unplug, unref the testbed (which ends its
    /// worker thread, the one that calls the handlers), then this.
    ~UsbPrinter();
    UsbPrinter(const UsbPrinter&) = delete;
    UsbPrinter& operator=(const UsbPrinter&) = delete;

    /// Plugs the printer in on a fresh device number (2, 3, ...); a freshly
    /// plugged printer is held by usblp when the options say so. False with
    /// a reason when the testbed refused it.
    bool Plug(std::string& error);
    /// Pulls the cable: pending URBs end with -ESHUTDOWN, every later request
    /// of the old node fails with ENODEV, the remove events go out and the
    /// device leaves sysfs.
    void Unplug();
    bool Plugged() const;

    /// Bulk OUT bytes received and bulk IN bytes sent so far.
    uint64_t BytesReceived() const;
    uint64_t BytesSent() const;

private:
    struct Urb;
    struct Plugging;

    static int HandleIoctlThunk(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool HandleIoctl(Plugging& plug, UMockdevIoctlClient* client);
    bool Submit(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Reap(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool mayPark);
    void Discard(Plugging& plug, UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Control(Plugging& plug, Urb& urb);
    void Transfer(Plugging& plug, Urb& urb);
    void PumpModel();
    void ServeReads();
    void DeliverParkedReaps(std::chrono::steady_clock::time_point now, bool timeOutAll);
    void Finish(std::shared_ptr<Urb> urb, int status, int actualLength);
    void ReleaseVanishedClients();
    void TimerLoop();
    void SetKernelDriver(Plugging& plug, bool held);
    void Log(const std::string& line);

    UMockdevTestbed* m_testbed;
    const UsbPrinterOptions m_options;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    PrinterModel m_model;                               // GUARDED_BY(m_lock)
    std::deque<uint8_t> m_replies;                      // GUARDED_BY(m_lock): model output not yet sent
    std::vector<std::unique_ptr<Plugging>> m_plugs;     // GUARDED_BY(m_lock); the last is the live one
    int m_nextDeviceNumber = 2;                         // GUARDED_BY(m_lock)
    uint64_t m_bytesReceived = 0;                       // GUARDED_BY(m_lock)
    uint64_t m_bytesSent = 0;                           // GUARDED_BY(m_lock)
    bool m_stop = false;                                // GUARDED_BY(m_lock)
    std::thread m_timer;
};

}  // namespace vprinter
