#pragma once
// A stand-in for the printer driver inside a test: serves the driver's
// request table for canned printers through the platform's device-file
// registration, with their device files by number and by interface path.
// Writes are recorded; reads answer with queued bytes.
#include "kernel/served_device.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tramline_test {

using Bytes = std::vector<uint8_t>;

struct FakePrinter {
    Bytes device;         // 18 bytes
    Bytes configuration;  // with all that follows it
    std::map<int, Bytes> strings;  // by index; a missing index stalls
    Bytes deviceId;
    uint16_t apiVersion = 0x0141;

    // What the printer saw.
    uint8_t configurationValue = 0;
    std::vector<uint8_t> boundPipes;
    std::map<uint8_t, Bytes> written;  // by endpoint
    std::map<uint8_t, Bytes> toRead;   // by endpoint
    int unconfigures = 0;
};

/// A bulk-only printer of the maker (bulk in 0x81, bulk out 0x02), with
/// `interrupts` an interrupt in 0x83 and an interrupt out 0x04 as well.
FakePrinter MakerPrinter(bool interrupts, const std::string& serial);

class FakePrinterDriver {
public:
    /// Registers the provider and the interface lister; with
    /// `registerDriverName`, "Vantrex.sys" joins the loaded-driver list
    /// (for the rest of the process).
    explicit FakePrinterDriver(std::vector<FakePrinter> printers, bool registerDriverName = true);
    ~FakePrinterDriver();

    /// Copy of printer n's state, taken under the driver's lock.
    FakePrinter Printer(size_t n);
    void QueueRead(size_t n, uint8_t endpoint, const Bytes& bytes);

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace tramline_test
