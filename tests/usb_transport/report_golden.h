#pragma once
// The report of the maker's bulk-only printer without strings, whose
// IEEE 1284 id is "MFG:A;CMD:B;", piece by piece: the golden text that the
// report's unit tests and the runs against the virtual printer share.
#include <string>

namespace {

const std::string kBanner = "*************************************************\r\n"
                            "*            USB DEVICE PROPERTIES              *\r\n"
                            "*************************************************\r\n\r\n";

const std::string kDeviceSection = "************ DEVICE DESCRIPTOR ******************\r\n"
                                   "bLength             = 0x12\r\n"
                                   "bDescriptorType     = 0x01\r\n"
                                   "bcdUSB              = 0x0200\r\n"
                                   "bDeviceClass        = 0x00 - See Interface Descriptors\r\n"
                                   "bDeviceSubClass     = 0x00\r\n"
                                   "bDeviceProtocol     = 0x00\r\n"
                                   "bMaxPacketSize0     = 0x40\r\n"
                                   "idVendor            = 0xF5A7\r\n"
                                   "idProduct           = 0xA000\r\n"
                                   "bcdDevice           = 0x0100\r\n"
                                   "iManufacturer       = 0x00 - Not supported\r\n"
                                   "iProduct            = 0x00 - Not supported\r\n"
                                   "iSerialNumber       = 0x00 - Not supported\r\n"
                                   "bNumConfigurations  = 0x01\r\n\r\n";

const std::string kConfigurationSection = "************ CONFIGURATION DESCRIPTOR ***********\r\n"
                                          "bLength             = 0x09\r\n"
                                          "bDescriptorType     = 0x02\r\n"
                                          "wTotalLength        = 0x0020\r\n"
                                          "bNumInterfaces      = 0x01\r\n"
                                          "bConfigurationValue = 0x01\r\n"
                                          "iConfiguration      = 0x00\r\n"
                                          "bmAttributes        = 0xC0 - Self powered\r\n"
                                          "MaxPower            = 0x32 - 100 mA\r\n\r\n";

const std::string kInterfaceSection = "************ INTERFACE DESCRIPTOR ***************\r\n"
                                      "bLength             = 0x09\r\n"
                                      "bDescriptorType     = 0x04\r\n"
                                      "bInterfaceNumber    = 0x00\r\n"
                                      "bAlternateSetting   = 0x00\r\n"
                                      "bNumEndpoints       = 0x02\r\n"
                                      "bInterfaceClass     = 0x07 - Printer\r\n"
                                      "bInterfaceSubClass  = 0x01 - Printer\r\n"
                                      "bInterfaceProtocol  = 0x02 - Bidirectional interface\r\n"
                                      "iInterface          = 0x00\r\n\r\n";

std::string EndpointSection(const std::string& address, const std::string& direction) {
    return "************ ENDPOINT DESCRIPTOR ****************\r\n"
           "bLength             = 0x07\r\n"
           "bDescriptorType     = 0x05\r\n"
           "bEndpointAddress    = 0x" + address + " - " + direction + "\r\n"
           "bmAttributes        = 0x02 - BULK\r\n"
           "wMaxPacketSize      = 0x0040\r\n"
           "bInterval           = 0x00 - 0 ms\r\n\r\n";
}

const std::string kLanguageSection = "************ LANGUAGE ID ************************\r\n"
                                     "************ STRING DESCRIPTOR ******************\r\n"
                                     "bLength             = 0x04\r\n"
                                     "bDescriptorType     = 0x03\r\n"
                                     "bString (hex)       = 09 04" + std::string(48, ' ') + ".\r\n\r\n\r\n";

const std::string kDeviceIdSection = "************ IEEE1284 DEVICE STRING **********************\r\n"
                                     "Length = 14\r\n"
                                     "Data   = MFG:A;\r\n"
                                     "         CMD:B;\r\n"
                                     "\r\n"
                                     "0000: 00 0E 4D 46  47 3A 41 3B  43 4D 44 3A  42 3B" +
                                     std::string(9, ' ') + "..MFG:A;CMD:B;\r\n";

}  // namespace
