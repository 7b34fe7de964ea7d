#include "printer_session.h"

#include "devices/port_lock.h"
#include "event_pump.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace cli {

namespace {

constexpr std::array<OptionSpec, 9> kPrinterOptions{{
    {"port", "COMn|LPTn|USB"},
    {"baud", "N"},
    {"parity", "none|odd|even"},
    {"stop", "1|1.5|2"},
    {"flow", "none|dtr-dsr|dsr|cts|xon-xoff"},
    {"printer-version", "N"},
    {"read-timeout", "MS"},
    {"write-timeout", "MS"},
    {"yes", ""},
}};

// Ten minutes: longer than any exchange with a printer should ever take.
constexpr int64_t kLongestTimeoutMs = 600000;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The position of value in names, or nothing.
std::optional<int> IndexOf(std::string_view value, std::initializer_list<std::string_view> names)
{
    int index = 0;
    for (std::string_view name : names) {
        if (value == name)
            return index;
        ++index;
    }
    return std::nullopt;
}

}  // namespace

std::span<const OptionSpec> PrinterOptionSpecs()
{
    return kPrinterOptions;
}

std::vector<OptionSpec> WithPrinterOptions(std::span<const OptionSpec> own)
{
    std::vector<OptionSpec> all(own.begin(), own.end());
    all.insert(all.end(), kPrinterOptions.begin(), kPrinterOptions.end());
    return all;
}

LineOptions ParseLineOptions(const ParsedArguments& args)
{
    LineOptions options;
    if (std::optional<std::string> port = args.Value("port")) {
        std::string name = Lower(*port);
        if (name == "usb") {
            options.interface = kInterfaceUsb;
            return FinishLineOptions(args, options);
        }
        std::optional<int64_t> number;
        if (name.size() > 3 && (name.starts_with("com") || name.starts_with("lpt")))
            number = ParseInteger(std::string_view(name).substr(3));
        if (!number || *number < 1 || *number > 256 || name[3] == '+' || name[3] == '-')
            throw UsageError("--port takes a name COMn or LPTn (n from 1 to 256) or USB, not '" + *port + "'");
        options.interface = name.starts_with("com") ? 0 : 1;
        options.port = static_cast<int>(*number - 1);
    }
    return FinishLineOptions(args, options);
}

LineOptions FinishLineOptions(const ParsedArguments& args, LineOptions& options)
{
    options.yes = args.Has("yes");
    if (std::optional<int64_t> baud = args.Integer("baud", 1, 1000000)) {
        if (!IndexOf(std::to_string(*baud), {"4800", "9600", "19200", "38400", "57600", "115200"}))
            throw UsageError("--baud takes 4800, 9600, 19200, 38400, 57600 or 115200");
        options.baudRate = static_cast<int>(*baud);
    }
    if (std::optional<std::string> parity = args.Value("parity")) {
        options.parity = IndexOf(Lower(*parity), {"none", "odd", "even"});
        if (!options.parity)
            throw UsageError("--parity takes none, odd or even");
    }
    if (std::optional<std::string> stop = args.Value("stop")) {
        options.stopBits = IndexOf(*stop, {"1", "1.5", "2"});
        if (!options.stopBits)
            throw UsageError("--stop takes 1, 1.5 or 2");
    }
    if (std::optional<std::string> flow = args.Value("flow")) {
        options.flowControl = IndexOf(Lower(*flow), {"none", "dtr-dsr", "dsr", "cts", "xon-xoff"});
        if (!options.flowControl)
            throw UsageError("--flow takes none, dtr-dsr, dsr, cts or xon-xoff");
    }
    if (std::optional<int64_t> version = args.Integer("printer-version", 0, INT32_MAX))
        options.version = static_cast<int>(*version);
    if (std::optional<int64_t> read = args.Integer("read-timeout", 1, kLongestTimeoutMs))
        options.readTimeout = static_cast<int>(*read);
    if (std::optional<int64_t> write = args.Integer("write-timeout", 1, kLongestTimeoutMs))
        options.writeTimeout = static_cast<int>(*write);
    return options;
}

/// The program's application object with the console in place of the desktop:
/// the command line's settings take the profile's place before the port is
/// opened, and the exit writes no settings (they were this run's only).
class PrinterSession::CliApp : public CMarquenApp {
public:
    CliApp(ConsoleMessageBox& messages, IDocumentWindows& windows, LineOptions options, bool bConnect)
        : CMarquenApp(messages), m_messages(messages), m_windows(windows), m_options(options), m_bConnect(bConnect)
    {
    }

    void ConnectPrinter() override
    {
        auto apply = [](std::optional<int> value, int& field) {
            if (value)
                field = *value;
        };
        apply(m_options.interface, m_nInterface);
        apply(m_options.port, m_nPort);
        apply(m_options.baudRate, m_nBaudRate);
        apply(m_options.parity, m_nParity);
        apply(m_options.stopBits, m_nStopBits);
        apply(m_options.flowControl, m_nFlowControl);
        apply(m_options.version, m_nVersion);
        apply(m_options.readTimeout, m_nReadTimeout);
        apply(m_options.writeTimeout, m_nWriteTimeout);
        if (!m_bConnect)
            return;
        // Without --yes the question before a driver switch is answered
        // Cancel: nothing is switched and nothing is sent.
        if (m_nInterface == kInterfaceUsb && !m_options.yes)
            m_messages.SetOkCancelAnswer(MessageAnswer::Cancel);
        CMarquenApp::ConnectPrinter();
        m_messages.SetOkCancelAnswer(MessageAnswer::Ok);
    }

    int ExitInstance() override
    {
        ShutdownCommunication();
        // Only a switch made with --yes is offered back, and answered Yes.
        OfferDriverSwitchBack();
        return 0;
    }

    /// Whether the start-up opens the port.
    bool Connects() const { return m_bConnect; }

protected:
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        doc.AttachWindows(&m_windows);
        return true;
    }

private:
    ConsoleMessageBox& m_messages;
    IDocumentWindows& m_windows;
    LineOptions m_options;
    bool m_bConnect;
};

PrinterSession::PrinterSession(CommandStreams& streams, LineOptions options, bool bConnect)
    : m_streams(streams), m_messages(streams.err), m_controls(streams.err), m_memoryDialog(streams.err),
      m_app(std::make_unique<CliApp>(m_messages, m_windows, options, bConnect))
{
    m_page = std::make_unique<CDownloadPage>(*m_app, m_controls, m_memoryDialog);
    m_view = std::make_unique<CDownloadPageMessages>(*m_page);
    m_controls.AttachPage(m_page.get());
}

PrinterSession::~PrinterSession()
{
    m_app->SetCommView(nullptr);
    m_controls.AttachPage(nullptr);
    // The page goes before the object it talks to; the port is closed and the
    // sink disconnected before the object is released.
    m_view.reset();
    m_page.reset();
    if (m_started)
        m_app->ExitInstance();
    if (CMarquenDoc* doc = m_app->GetDocument())
        doc->AttachWindows(nullptr);
    m_app.reset();
}

bool PrinterSession::Start()
{
    if (!m_app->InitInstance())
        return false;
    m_started = true;
    // Every command would fail on a closed port with the program's general
    // "not sent" message; the port's name says more.
    if (m_app->Connects() && m_app->m_nInterface == kInterfaceUsb) {
        if (!m_app->IsPortOpen()) {
            // The search and the switch have said why, when they know.
            if (m_messages.Cancelled())
                m_streams.err << "marquen-cli: the driver was not switched (--yes switches it); nothing was sent\n";
            else if (m_messages.Count() == 0)
                m_streams.err << "marquen-cli: the USB printer could not be opened\n";
            return false;
        }
        // The switch question, answered, is no failure of the command.
        m_messages.ForgetTexts();
    }
    if (m_app->Connects() && m_messages.Count() == 0 && !m_app->IsPortOpen()) {
        const std::string name = (m_app->m_nInterface == 0 ? "COM" : "LPT") +
                                 std::to_string(static_cast<long long>(m_app->m_nPort) + 1);
        switch (m_app->m_nInterface) {
        case 0:
        case 1:
            // A second program on one printer would mix its bytes into the
            // other's: the port library refuses a port that is held.
            if (marquen::devices::IsPortInUse(name))
                m_streams.err << "marquen-cli: the port " << name << " is in use by another program\n";
            else
                m_streams.err << "marquen-cli: the port " << name << " could not be opened\n";
            break;
        default:
            m_streams.err << "marquen-cli: the profile names no serial or parallel port; give --port COMn|LPTn|USB\n";
            break;
        }
        return false;
    }
    m_app->SetCommView(m_view.get());
    return true;
}

CMarquenApp& PrinterSession::App()
{
    return *m_app;
}

int PrinterSession::ReadTimeout() const
{
    return m_app->m_nReadTimeout;
}

bool PrinterSession::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return PumpMessagesUntil(done, timeout);
}

}  // namespace cli
