// The USB subcommands: the search for the maker's printer, the driver
// switch in both directions, and the device report of the connected printer.
#include "command.h"
#include "printer_session.h"

#include "tramline.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 2> kDriverOptions{{
    {"install", ""},
    {"restore", "DESCRIPTION"},
}};

// The Communication object of a session that opens no port.
ICommunication* Communication(PrinterSession& session)
{
    return session.App().m_pComm.Get();
}

int Fail(CommandStreams& streams, const std::string& text)
{
    streams.err << "marquen-cli: " << text << '\n';
    return kExitFailure;
}

int RunSearch(const ParsedArguments&, CommandStreams& streams)
{
    PrinterSession session(streams, LineOptions{}, false);
    if (!session.Start())
        return kExitFailure;
    BSTR driver = SysAllocStringUtf8("");
    LONG connected = 0;
    HRESULT hr = Communication(session)->SearchUSBVantrexPrinter(&driver, &connected);
    Bstr text = Bstr::Adopt(driver);
    if (FAILED(hr))
        return Fail(streams, "the search failed: " + SystemMessageText(hr));
    streams.out << "connected: " << (connected ? 1 : 0) << '\n' << "driver: " << text.Utf8() << '\n';
    return connected ? kExitOk : kExitFailure;
}

int RunDriver(const ParsedArguments& args, CommandStreams& streams)
{
    const bool install = args.Has("install");
    std::optional<std::string> restore = args.Value("restore");
    if (install == restore.has_value())
        throw UsageError("give either --install or --restore DESCRIPTION");
    if (restore && restore->empty())
        throw UsageError("--restore takes the description of a driver, such as \"USB Printing Support\"");

    PrinterSession session(streams, LineOptions{}, false);
    if (!session.Start())
        return kExitFailure;
    const std::string location =
        install ? session.App().m_strProgramDir + app_strings::kDriverInformationFile : *restore;
    Bstr argument = Bstr::FromUtf8(location);
    LONG result = 0;
    HRESULT hr = Communication(session)->UpdateUSBDriver(argument.Get(), &result);
    if (FAILED(hr))
        return Fail(streams, "the driver switch failed: " + SystemMessageText(hr));
    // The information-file mode answers 0 for success (its message, if it
    // has one, is already on standard error); the description mode answers
    // nonzero.
    if (install)
        return result == 0 ? kExitOk : kExitFailure;
    if (result == 0)
        return Fail(streams, "no printer of the maker could be bound to \"" + *restore + "\"");
    return kExitOk;
}

int RunReport(const ParsedArguments&, CommandStreams& streams)
{
    const std::string path = ProgramFolder() + "/" + TRAMLINE_LIBRARY_NAME;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return Fail(streams, "the USB transport could not be loaded: " + std::string(dlerror()));
    using Factory = CCommInfo* (*)(HWND, int);
    auto factory = reinterpret_cast<Factory>(dlsym(library, TRAMLINE_GET_NEW_USB_INFO_SYMBOL));
    int status = kExitFailure;
    if (factory == nullptr) {
        Fail(streams, "the USB transport has no GetNewUsbInfo");
    } else if (std::unique_ptr<CCommInfo> info(factory(nullptr, 0)); !info) {
        Fail(streams, "out of memory");
    } else {
        int useInterruptOut = 0, hasInterruptIn = 0, hasInterruptOut = 0;
        if (!info->Connect(0, 0, &useInterruptOut, &hasInterruptIn, &hasInterruptOut, 0, 0)) {
            Fail(streams, "no USB printer of the maker could be opened (is it bound to the maker's driver? "
                          "see usb-search)");
        } else {
            std::vector<char> text(TRAMLINE_REPORT_TEXT_SIZE, '\0');
            int complete = info->GetDeviceReport(text.data());
            // Byte for byte, "\r\n" kept.
            streams.out.write(text.data(), static_cast<std::streamsize>(std::strlen(text.data())));
            streams.out.flush();
            if (!complete)
                Fail(streams, "a request of the report failed; the report is incomplete");
            status = complete ? kExitOk : kExitFailure;
            info->Disconnect();
        }
    }
    dlclose(library);
    return status;
}

constexpr std::array<Command, 3> kCommands{{
    {"usb-search", "",
     "Look for the maker's USB printer: print connected: 0|1 and the driver it is bound to (empty for the "
     "maker's driver); exit 0 when found",
     {{}, {}}, RunSearch},
    {"usb-driver", "--install | --restore DESCRIPTION",
     "Bind the maker's USB printer to the maker's driver (--install; the kernel's printer driver lets go of "
     "it) or back to the driver of that description (--restore \"USB Printing Support\")",
     {{}, kDriverOptions}, RunDriver},
    {"usb-report", "",
     "Print the device report of the USB printer on the maker's driver (descriptors, device id); exit 1 when "
     "a request failed (what was read is still printed)",
     {{}, {}}, RunReport},
}};

}  // namespace

std::span<const Command> UsbCommands()
{
    return kCommands;
}

}  // namespace cli
