// The check after a download: the printer's own account of the logo stored.
#include "marquen_doc.h"

#include "printer_commands.h"

bool CMarquenDoc::VerifyLogoChecksum(int nLogo, uint16_t wChecksum, ICommunication* pComm)
{
    // The logo number travels as one byte: the page's list holds 0 to 255.
    printer_commands::Reply reply =
        printer_commands::RequestReply(pComm, printer_commands::LogoStatus(static_cast<uint8_t>(nLogo)));
    if (!reply.Has(4)) {
        ShowMessage(printer_strings::kCommunicationFailure);
        return false;
    }
    if (reply.bytes[1] == 0) {
        ShowMessage(printer_strings::kLogoNotDownloaded);
        return false;
    }
    if (reply.bytes[2] == (wChecksum & 0xFF) && reply.bytes[3] == (wChecksum >> 8))
        return true;
    ShowMessage(printer_strings::kChecksumWrong);
    return false;
}
