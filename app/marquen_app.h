#pragma once
// CMarquenApp: the program's one application object. It holds the ten
// settings kept in the user's profile, the program folder and the one
// document, and runs the start-up and shutdown sequences.
//
// What the desktop adds is reached through the virtual hooks below: each
// default is what the program does without that layer (no wait dialog, no
// windows), which is how the tests run it. The hooks are called in the order
// of InitInstance and ExitInstance, on the user-interface thread.
//
// The communication client (comm_client.cpp) creates the one Communication
// object by its class id, connects the event sink, applies the settings and
// opens the port; the upload buffer (upload_buffer.cpp) assembles a logo the
// printer sends back. The component library is initialised for the thread
// that constructs the object, which must be the user-interface thread: the
// object's events arrive there while it pumps its messages.
#include "comm_event_sink.h"
#include "icommunication.h"
#include "marquen_doc.h"
#include "user_interface.h"
#include "wait_thread.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class wxConfigBase;

/// Names of the profile: company key, application name, section and keys.
namespace app_settings {
inline constexpr const char* kVendorName = "VANTREX";
inline constexpr const char* kAppName = "Marquen";
inline constexpr const char* kSection = "Settings";
inline constexpr const char* kInterface = "Interface";
inline constexpr const char* kPort = "Port";
inline constexpr const char* kBaudRate = "Baud rate";
inline constexpr const char* kParity = "Parity";
inline constexpr const char* kStop = "Stop";
inline constexpr const char* kFlowControl = "Flow control";
inline constexpr const char* kReadTimeout = "ReadTimeout";
inline constexpr const char* kWriteTimeout = "WriteTimeout";
inline constexpr const char* kVersion = "Version";
inline constexpr const char* kBackgroundColor = "Backgound color";
/// The network printer's address ("Interface" 3): a text and an integer.
inline constexpr const char* kHost = "Host";
inline constexpr const char* kTcpPort = "TCP port";
/// Entries of the recent-file list kept in the profile.
inline constexpr int kRecentFileCount = 4;

inline constexpr int kDefaultInterface = 0;       ///< serial ("RS232 / Bluetooth")
inline constexpr int kDefaultPort = 0;            ///< COM1
inline constexpr int kDefaultBaudRate = 115200;
inline constexpr int kDefaultParity = 0;          ///< none
inline constexpr int kDefaultStopBits = 0;        ///< one stop bit
inline constexpr int kDefaultFlowControl = 1;     ///< DTR/DSR
inline constexpr int kDefaultReadTimeout = 20000;  ///< milliseconds
inline constexpr int kDefaultWriteTimeout = 5000;  ///< milliseconds
inline constexpr uint32_t kDefaultBackground = 0xFF0000;  ///< blue, as 0x00BBGGRR
inline constexpr int kDefaultTcpPort = 9100;      ///< the raw printing port
/// "Interface" values: the page's radio buttons in order.
inline constexpr int kInterfaceSerial = 0;
inline constexpr int kInterfaceParallel = 1;
inline constexpr int kInterfaceUsb = 2;
inline constexpr int kInterfaceNetwork = 3;

/// The user's profile file: $XDG_CONFIG_HOME/Marquen.conf, or
/// ~/.config/Marquen.conf when that variable is unset or not absolute.
std::string DefaultProfilePath();
}  // namespace app_settings

/// Texts the communication client shows.
namespace app_strings {
inline constexpr int IDS_SINK_NOT_CONNECTED = 61215;
inline constexpr const char* kSinkNotConnected = "QUORLINK - Events : Unable to connect to the sink object.";
/// Followed by the system's text for the HRESULT.
inline constexpr const char* kCreateFailed = "Failed to create ICommunication instance\n";
inline constexpr int IDS_PRINTER_NOT_FOUND = 61212;
inline constexpr const char* kPrinterNotFound =
    "Your printer has not been found by the system. Please verify that your printer is well connected and "
    "powered on.";
/// The USB printer is bound to another driver (%s) on a system where the
/// program cannot switch it.
inline constexpr const char* kSwitchWithDeviceManager =
    "Your printer is well connected,but Marquen needs to switch from \"%s\"  to \"Vantrex USB Driver\".\nYou "
    "can do that with the Device manager in the control panel";
/// The question before the switch; both %s are the other driver.
inline constexpr const char* kSwitchQuestion =
    "Your printer is well connected,but Marquen needs to switch from \"%s\"  to \"Vantrex USB Driver\".\nYou "
    "will able to switch back to \"%s\" at the end of the session.\nDo you want to continue ?";
/// Shown, followed by the system's text, when switching to the maker's
/// driver fails with a code the communication server has no text for.
inline constexpr const char* kSwitchFailed = "Marquen could not switch your printer to \"Vantrex USB Driver\": ";
/// The question at exit; %s is the previous driver.
inline constexpr const char* kSwitchBackQuestion = "Do you want to re-load \"%s\" driver ?";
/// Where the maker's driver information file lies, after the program folder.
inline constexpr const char* kDriverInformationFile = "/USB Driver/vantrex.inf";
}  // namespace app_strings

/// The message shown for a COM error that ended a command: the system's text
/// of its HRESULT and the code.
std::string ComErrorText(const _com_error& error);

/// The communication object's port name of a network printer:
/// "TCP:HOST:PORT" (an IPv6 address in brackets).
std::string NetworkPortName(const std::string& host, int port);

class CMarquenApp : public IStatusLine, public ICommViewLocator {
public:
    /// messageBox must outlive the application object.
    explicit CMarquenApp(IMessageBox& messageBox);
    ~CMarquenApp() override;
    CMarquenApp(const CMarquenApp&) = delete;
    CMarquenApp& operator=(const CMarquenApp&) = delete;

    /// The profile file to use instead of DefaultProfilePath (tests point it at
    /// a temporary folder). Takes effect at the next opening of the profile.
    void SetProfilePath(std::string path) { m_strProfilePath = std::move(path); }
    /// The program's arguments, without the program name.
    void SetCommandLine(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }

    /// The start-up sequence. False ends the program (every failure has shown
    /// its message by then).
    virtual bool InitInstance();
    /// The shutdown sequence; returns the framework's exit code.
    virtual int ExitInstance();

    /// Sets every setting to its default, then reads the ten keys of section
    /// "Settings"; a missing key, or one that is not an integer of the field's
    /// range, keeps the default.
    void LoadSettings();
    /// Writes the ten keys and the profile file. False, with a warning shown,
    /// when the file cannot be written.
    bool SaveSettings();
    /// Writes the profile file as it is now (the recent-file list is kept in
    /// the profile too): the whole file is replaced at once, and only when
    /// something changed since it was read or last written. False when it
    /// cannot be written; nothing is shown. The destructor calls it as well.
    bool WriteProfile();
    /// The opened profile (the recent-file list lives there too); opens it on
    /// first use.
    wxConfigBase& GetProfile();
    const std::string& GetProfilePath() const { return m_strProfilePath; }

    /// Opens path as the document. Reopening the file that is open reloads it
    /// from disk. Null when there is no document yet or the file cannot be
    /// opened (the message has been shown).
    CMarquenDoc* OpenDocumentFile(const std::string& path);
    /// Marks the output stale and asks the views to show it anew. The "Picture
    /// Info" page calls it whenever an output size or offset changes.
    void UpdateOutputPicture();
    /// True when the document holds an input picture.
    bool IsInputLoaded() const;
    /// The framework's new-document command (Ctrl+N).
    void OnFileNew();
    /// Runs the handler of a command the application object handles (new
    /// document, About). False for other commands.
    bool OnCommand(int nCommandId);
    /// The one document; null before the document template exists.
    CMarquenDoc* GetDocument() const { return m_pDocument.get(); }
    IMessageBox& GetMessageBox() { return m_messageBox; }

    /// Stops the wait dialog's thread if it still runs. The USB search calls it
    /// before it shows a message.
    void StopWaitThread();
    /// Rewrites the status line through the document, if there is one.
    void RefreshStatusLine();
    /// The application's status text, as last written.
    const std::string& GetStatusText() const { return m_strStatusText; }

    // --- IStatusLine, for the document ---------------------------------------
    bool HasMainWindow() const override { return m_bMainWindow; }
    /// Whether the printer port is open: the object's Opened. False without
    /// an object, and when Opened fails (the status line never throws).
    bool IsPortOpen() override;
    void SetStatusText(const std::string& text) override;

    // --- Communication -----------------------------------------------------------
    /// Creates the Communication object by its class id (once) and connects a
    /// new event sink to it. False, after "Failed to create ICommunication
    /// instance" with the system's text of the HRESULT, when the object cannot
    /// be created, run or queried; that ends the start-up. A sink that cannot
    /// be connected is reported (61215) and the program goes on without events.
    virtual bool CreateCommunication();
    /// Applies the settings to the object and opens the port they name; the
    /// status line shows the outcome. Without an object it only refreshes the
    /// status line. A COM error of the object is shown, never thrown. The
    /// opening waits for the object (about a second for a serial port).
    virtual void ConnectPrinter();

    /// ICommViewLocator: the view the sink sends its messages to; the one set
    /// with SetCommView (null: events are dropped).
    ICommMessageTarget* FindActiveView() override { return m_pCommView; }
    /// The view that receives the sink's messages; null detaches it. Must
    /// outlive the application object or be detached first.
    void SetCommView(ICommMessageTarget* view) { m_pCommView = view; }

    // --- Upload buffer -------------------------------------------------------------
    /// nSize >= 0: releases any buffer and prepares one of exactly nSize bytes
    /// (none when memory runs out). -1 (or any negative size): releases it.
    void StartUpload(int nSize);
    /// Copies bytes behind those received, never past the size prepared (the
    /// rest is dropped), and returns the percentage received, 0 to 100. 0 and
    /// nothing stored without a buffer, or with a buffer of 0 bytes.
    int AppendUpload(const uint8_t* bytes, size_t nLength);
    /// Whether a buffer is prepared.
    bool IsUploadInProgress() const { return m_pUploadBuffer != nullptr; }
    /// The buffer and its expected size; null and -1 without one.
    const uint8_t* GetUploadBuffer() const { return m_pUploadBuffer.get(); }
    int GetUploadSize() const { return m_nUploadSize; }
    int GetUploadReceived() const { return m_nUploadReceived; }

    /// Shows a COM error that ended a command, with its HRESULT's text.
    void ReportComError(const _com_error& error);

    // --- Fields ---------------------------------------------------------------
    /// The wait dialog's thread while it runs; null otherwise.
    std::unique_ptr<IWaitThread> m_pWaitThread;
    /// The driver the USB printer used before it was switched; empty when no
    /// switch was made.
    std::string m_strPreviousDriver;
    /// The event sink; null before CreateCommunication and after the shutdown.
    std::unique_ptr<CCommEventSink> m_pSink;
    /// Folder of the program file, without a trailing separator.
    std::string m_strProgramDir;
    int m_nVersion = 0;                                  ///< "Version"
    uint32_t m_crBackground = app_settings::kDefaultBackground;  ///< "Backgound color"
    int m_nInterface = app_settings::kDefaultInterface;  ///< "Interface"
    int m_nPort = app_settings::kDefaultPort;            ///< "Port"
    int m_nBaudRate = app_settings::kDefaultBaudRate;    ///< "Baud rate"
    int m_nParity = app_settings::kDefaultParity;        ///< "Parity"
    int m_nStopBits = app_settings::kDefaultStopBits;    ///< "Stop"
    int m_nFlowControl = app_settings::kDefaultFlowControl;    ///< "Flow control"
    int m_nReadTimeout = app_settings::kDefaultReadTimeout;    ///< "ReadTimeout"
    int m_nWriteTimeout = app_settings::kDefaultWriteTimeout;  ///< "WriteTimeout"
    std::string m_strHost;                                     ///< "Host" (network printer)
    int m_nTcpPort = app_settings::kDefaultTcpPort;            ///< "TCP port"
    /// Upload buffer: expected size, bytes received and the bytes; -1, -1 and
    /// none while no upload is in progress.
    int m_nUploadSize = -1;
    int m_nUploadReceived = -1;
    std::unique_ptr<uint8_t[]> m_pUploadBuffer;
    /// The one Communication object, from CreateCommunication until the
    /// application object is destroyed.
    ComPtr<ICommunication> m_pComm;

protected:
    // --- Hooks of the start-up sequence, in their order ----------------------
    /// Framework support for hosted and three-dimensional controls.
    virtual void InitFrameworkSupport() {}
    /// Starts the thread that shows the wait dialog; null when there is none.
    virtual std::unique_ptr<IWaitThread> CreateWaitThread() { return nullptr; }
    /// The framework's own profile settings: the recent-file list of
    /// nRecentFiles entries.
    virtual void LoadStdProfileSettings(wxConfigBase& /*profile*/, int /*nRecentFiles*/) {}
    /// The component-support module the event sink uses.
    virtual void InitComponentSupport() {}
    /// Creates the main frame and the view for doc (hidden) and attaches its
    /// windows to doc. False ends the start-up.
    virtual bool CreateMainFrame(CMarquenDoc& /*doc*/) { return true; }
    /// Parses the command line: a file argument is opened, none gives an empty
    /// document. False ends the start-up.
    virtual bool ProcessCommandLine();
    /// Shows the main window and enables dropping files on it.
    virtual void ShowMainWindow() {}

    // --- Hooks of the framework's document handling --------------------------
    /// Adds a file that opened to the recent-file list.
    virtual void AddToRecentFileList(const std::string& /*path*/) {}
    /// Puts the status text into the main frame's message pane.
    virtual void ShowStatusText(const std::string& /*text*/) {}
    /// The "About Marquen" box.
    virtual void OnAppAbout() {}

    // --- Hooks of the shutdown sequence, in their order ----------------------
    /// Releases the upload buffer, disconnects and destroys the event sink,
    /// closes the port when it is open.
    virtual void ShutdownCommunication();
    /// Offers to switch the USB printer back to the driver it had before
    /// the switch (when one was made and the system can switch drivers);
    /// Yes rebinds it, whatever comes of that.
    virtual void OfferDriverSwitchBack();
    /// Ends the component-support module of InitComponentSupport.
    virtual void TermComponentSupport() {}
    /// The framework's exit processing; returns its exit code.
    virtual int FrameworkExit() { return 0; }

    // --- Hooks of the communication client -------------------------------------
    /// A new Communication object as its IUnknown: by its class id, in-process
    /// server, in-process handler or local server. Tests hand in a fake.
    virtual HRESULT CreateCommunicationInstance(IUnknown** ppUnknown);
    /// The USB branch of ConnectPrinter: the search for the printer and the
    /// driver switch. The port name ("USB") to open, or false when no port is
    /// to be opened (the status line has been refreshed). Shows the messages
    /// and asks the question of the driver switch; a failing search or switch
    /// throws _com_error.
    virtual bool ConnectUsbPrinter(std::string& portName);
    /// Whether the system belongs to the family where the program switches
    /// drivers itself. True on Linux: device setup detaches and re-attaches
    /// the kernel's printer driver.
    virtual bool IsWindowsNT();

    /// The framework's opening of a file as the single document: no question
    /// about unsaved changes, an open document of the same path is only
    /// returned, a failure restores the stale flag.
    CMarquenDoc* OpenDocumentFileDefault(const std::string& path);

private:
    bool CreateDocumentTemplate();
    /// ConnectPrinter's steps; a failing examined member throws _com_error.
    void ApplySettingsAndOpenPort();
    void DisconnectSink();
    void OpenProfile();

    IMessageBox& m_messageBox;
    std::unique_ptr<wxConfigBase> m_pProfile;
    /// The profile file exists but could not be read; it is then never replaced.
    bool m_bProfileUnreadable = false;
    /// The profile's text as read or last written; the file is written only
    /// when the profile differs from it.
    std::string m_strProfileWritten;
    std::string m_strProfilePath = app_settings::DefaultProfilePath();
    std::vector<std::string> m_arguments;
    std::unique_ptr<CMarquenDoc> m_pDocument;
    bool m_bMainWindow = false;
    std::string m_strStatusText;
    ICommMessageTarget* m_pCommView = nullptr;
    /// The component library was initialised by the constructor.
    bool m_bComInitialized = false;
};

/// Folder of the program's own files (its shared libraries, the manual, the
/// driver information file): beside the programs in a build, the package's
/// private library folder once installed. No trailing separator; empty when
/// it cannot be found.
std::string ProgramFolder();
