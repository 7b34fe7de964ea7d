#include "usb_search.h"

namespace quorlink {
namespace {

/// The system error code for a function this system does not offer.
constexpr LONG kErrorCallNotImplemented = 120;

}  // namespace

UsbSearchResult SearchUsbPrinter() { return {}; }

LONG UpdateUsbDriver(std::string_view location) {
    if (location.find(kUsbDriverInfFile) != std::string_view::npos)
        return kErrorCallNotImplemented;
    return 0;
}

}  // namespace quorlink
