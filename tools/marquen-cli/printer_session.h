#pragma once
// One run of a printer subcommand: the program's application object with its
// communication client (the Communication object created by class id, the
// event sink), the document and the "Download" page, with the windows bound
// to the console. The line settings come from the user's profile, as the
// program's do, unless the command line gives them; nothing is written back.
#include "arguments.h"
#include "command.h"
#include "console_ui.h"
#include "download_page.h"
#include "marquen_app.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace cli {

/// The options every printer subcommand takes after its name.
std::span<const OptionSpec> PrinterOptionSpecs();
/// The same with the subcommand's own options added.
std::vector<OptionSpec> WithPrinterOptions(std::span<const OptionSpec> own);

/// The line settings of the command line; unset ones come from the profile.
struct LineOptions {
    std::optional<int> interface;  ///< 0 serial, 1 parallel, 2 USB
    std::optional<int> port;       ///< zero-based: COM1 is 0
    std::optional<int> baudRate;
    std::optional<int> parity;
    std::optional<int> stopBits;
    std::optional<int> flowControl;
    std::optional<int> version;
    std::optional<int> readTimeout;
    std::optional<int> writeTimeout;
    /// --yes: the USB driver switch's questions are answered OK / Yes.
    bool yes = false;
};

/// The "Interface" value of USB.
inline constexpr int kInterfaceUsb = 2;
/// Reads the printer options; UsageError for a value that is not one.
LineOptions ParseLineOptions(const ParsedArguments& args);
/// The options after --port (ParseLineOptions's second half).
LineOptions FinishLineOptions(const ParsedArguments& args, LineOptions& options);

class PrinterSession {
public:
    /// bConnect: open the port (every subcommand but "ports").
    PrinterSession(CommandStreams& streams, LineOptions options, bool bConnect = true);
    ~PrinterSession();
    PrinterSession(const PrinterSession&) = delete;
    PrinterSession& operator=(const PrinterSession&) = delete;

    /// Starts the application object as the program starts (profile, object,
    /// sink, connection, document). False when it could not start (the
    /// message has been shown).
    bool Start();

    CMarquenApp& App();
    CDownloadPage& Page() { return *m_page; }
    ConsolePageControls& Controls() { return m_controls; }
    ConsoleMessageBox& Messages() { return m_messages; }
    /// The memory-size dialog answers with nSize kbytes.
    void ChooseMemorySize(int nSize) { m_memoryDialog.SetSize(nSize); }
    bool MemorySizeOffered() const { return m_memoryDialog.Offered(); }

    /// Pumps the object's events until done() holds or timeout passes; true
    /// when it held.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    /// The read time-out in force, milliseconds.
    int ReadTimeout() const;

private:
    class CliApp;
    class MemoryDialog : public IMemorySizeDlgRunner {
    public:
        explicit MemoryDialog(std::ostream& err) : m_err(err) {}
        void SetSize(int nSize) { m_dialog = std::make_unique<ConsoleMemoryDialog>(m_err, nSize); }
        int DoModal(CMemorySizeDlg& dlg) override { return m_dialog ? m_dialog->DoModal(dlg) : IDCANCEL; }
        bool Offered() const { return m_dialog && m_dialog->Offered(); }

    private:
        std::ostream& m_err;
        std::unique_ptr<ConsoleMemoryDialog> m_dialog;
    };

    CommandStreams& m_streams;
    ConsoleMessageBox m_messages;
    ConsoleDocumentWindows m_windows;
    ConsolePageControls m_controls;
    MemoryDialog m_memoryDialog;
    std::unique_ptr<CliApp> m_app;
    std::unique_ptr<CDownloadPage> m_page;
    /// The view's forwarding of the event sink's messages to the page.
    std::unique_ptr<CDownloadPageMessages> m_view;
    bool m_started = false;
};

}  // namespace cli
