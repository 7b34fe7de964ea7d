#include "download_page.h"

#include "command_ids.h"
#include "marquen_app.h"
#include "picture_file.h"

#include <algorithm>
#include <array>
#include <new>

using namespace printer_commands;

namespace {

// Every control that SetTransferState enables or disables.
constexpr std::array<int, 11> kTransferControls = {
    IDC_ERASE,  IDC_UPLOAD,      IDC_DOWNLOAD, IDC_PRINT,   IDC_SETUP,   IDC_REFRESH,
    IDC_LOGO_NUMBER, IDC_X1H_X1W, IDC_X1H_X2W, IDC_X2H_X1W, IDC_X2H_X2W,
};

constexpr int kLogoCount = 256;
// The memory figures come in steps of 64 kbytes.
constexpr int kMemoryStepKbytes = 64;
// Setup's largest size for a printer that cannot report its total memory.
constexpr int kVersion0MaxSize = 1024;

// Interface value of a serial port in the settings.
constexpr int kInterfaceSerial = 0;
// The most of a logo stream that may still be queued once the object has
// written all of it: a serial port's own queue is drained by then, but a
// pseudo-terminal (about 20 KB here) or a USB-serial adapter holds tens of
// kilobytes that no drain sees.
constexpr size_t kMaxQueuedBytes = 64 * 1024;
// Bits a byte takes on the line: start, 8 data, stop.
constexpr int64_t kBitsPerByte = 10;
constexpr int kSlowestBaudRate = 4800;

// The printer answers Upload with 6A and a bitmap file: the letter j, then
// the signature "BM" and the file-size field of the bitmap file header.
constexpr uint8_t kUploadAnswer = 0x6A;
constexpr size_t kUploadHeaderBytes = 7;
// The smallest monochrome bitmap file: file header 14, information header 40,
// two palette entries 8. A smaller announced size holds no picture (and 0
// would leave nothing to count the progress against).
constexpr uint32_t kMinBitmapFileBytes = 62;
// The most any printer of this command set can store (255 x 64 kbytes); a
// larger announced size is no logo and is not allocated.
constexpr uint32_t kMaxUploadBytes = 255u * 64u * 1024u;

// 6A 00 00: the slot holds no logo.
bool IsNoLogoAnswer(const uint8_t* bytes, size_t nLength)
{
    return nLength == 3 && bytes[0] == kUploadAnswer && bytes[1] == 0 && bytes[2] == 0;
}

// 6A 42 4D and the file size: a bitmap file follows the 6A.
bool IsLogoAnswer(const uint8_t* bytes, size_t nLength)
{
    return nLength >= kUploadHeaderBytes && bytes[0] == kUploadAnswer && bytes[1] == 'B' && bytes[2] == 'M';
}

bool IsAnswer(const uint8_t* bytes, size_t nLength)
{
    return IsNoLogoAnswer(bytes, nLength) || IsLogoAnswer(bytes, nLength);
}

// Whether bytes could be the beginning of an answer to Upload that is not
// whole yet: fewer than the 7 bytes of 6A 42 4D and the file size, or the
// first 1 or 2 bytes of 6A 00 00.
bool IsAnswerStart(const uint8_t* bytes, size_t nLength)
{
    if (nLength == 0 || nLength >= kUploadHeaderBytes || bytes[0] != kUploadAnswer)
        return false;
    if (nLength == 1)
        return true;
    if (bytes[1] == 0)
        return nLength == 2;
    return bytes[1] == 'B' && (nLength == 2 || bytes[2] == 'M');
}

struct WaitCursor {
    explicit WaitCursor(IDownloadPageControls& controls) : m_controls(controls) { m_controls.BeginWaitCursor(); }
    ~WaitCursor() { m_controls.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    IDownloadPageControls& m_controls;
};

ICommunication* RequireComm(ICommunication* comm)
{
    if (comm == nullptr)
        _com_issue_errorex(E_POINTER, nullptr, IID_ICommunication);
    return comm;
}

// The object's read time-out lengthened by extraMs for one exchange, and put
// back afterwards.
class LongerReadTimeout {
public:
    LongerReadTimeout(ICommunication* comm, LONG extraMs) : m_comm(comm)
    {
        if (m_comm == nullptr || extraMs <= 0 || FAILED(m_comm->GetTimeout(&m_read, &m_write)))
            return;
        const int64_t longer = std::min<int64_t>(int64_t{std::max<LONG>(m_read, 0)} + extraMs, INT32_MAX);
        m_restore = SUCCEEDED(m_comm->SetTimeout(static_cast<LONG>(longer), m_write));
    }
    ~LongerReadTimeout()
    {
        if (m_restore)
            m_comm->SetTimeout(m_read, m_write);
    }
    LongerReadTimeout(const LongerReadTimeout&) = delete;
    LongerReadTimeout& operator=(const LongerReadTimeout&) = delete;

private:
    ICommunication* m_comm;
    LONG m_read = 0;
    LONG m_write = 0;
    bool m_restore = false;
};

}  // namespace

CDownloadPage::CDownloadPage(CMarquenApp& app, IDownloadPageControls& controls, IMemorySizeDlgRunner& memoryDialog)
    : m_strAbort(printer_strings::kAbort), m_app(app), m_controls(controls), m_memoryDialog(memoryDialog)
{
}

CDownloadPage::~CDownloadPage()
{
    // The object may still read the array of a download that never reported
    // its end; the abort waits for its writer to stop.
    if (m_transferArray && Comm() != nullptr)
        Comm()->AbortTransfert();
}

template <typename Handler>
void CDownloadPage::Guarded(Handler&& handler)
{
    try {
        handler();
    } catch (const _com_error& error) {
        m_app.ReportComError(error);
    } catch (const std::bad_alloc&) {
        // A handler is the window's event: nothing may leave it, or the
        // program ends with the user's work.
        ShowMessage(picture_messages::kMemoryAllocation);
    }
}

void CDownloadPage::ShowMessage(const std::string& text)
{
    m_app.GetMessageBox().ShowMessage(text, MessageButtons::Ok, MessageIcon::Warning);
}

ICommunication* CDownloadPage::Comm() const
{
    return m_app.m_pComm.Get();
}

CMarquenDoc* CDownloadPage::Document() const
{
    return m_app.GetDocument();
}

// --- Page creation -------------------------------------------------------------

void CDownloadPage::OnInitDialog()
{
    // Silent when the printer does not answer: the page is made at start-up,
    // often before the printer is on, and a figure it did not give is not
    // shown either way. Refresh says so.
    Guarded([&] { RefreshMemory(); });
    for (int n = 0; n < kLogoCount; ++n)
        m_controls.AddLogoNumber(std::to_string(n));
    m_controls.CheckRadioButton(IDC_X1H_X1W, IDC_X2H_X2W, IDC_X1H_X1W);
    // Printers of "Version" 0 cannot send a logo back.
    m_controls.ShowControl(IDC_UPLOAD, m_app.m_nVersion != 0);
}

// --- Download ------------------------------------------------------------------

bool CDownloadPage::SelectLogo()
{
    int selection = m_controls.GetLogoSelection();
    if (selection < 0 || selection >= kLogoCount) {
        ShowMessage(printer_strings::kSelectLogoNumber);
        m_controls.SetFocusTo(IDC_LOGO_NUMBER);
        return false;
    }
    return WriteCommand(Comm(), printer_commands::SelectLogo(static_cast<uint8_t>(selection))) == kWriteSent;
}

void CDownloadPage::OnDownload()
{
    Guarded([&] {
        // The button reads "Abort" only from the first progress above 0 %; a
        // press before that (a large logo on a slow line, a press queued
        // behind a message box) finds the transfer's array still held. Another
        // Select logo and stream would go out in the middle of this stream:
        // it is the same Abort.
        if (m_controls.GetControlText(IDC_DOWNLOAD) == m_strAbort || HasTransferArray()) {
            AbortDownload();
            return;
        }
        // A picture the logo format cannot hold is refused before anything is
        // sent: a Select logo alone would leave the printer on another slot.
        CMarquenDoc* doc = Document();
        if (doc != nullptr) {
            if (std::string tooLarge = doc->DownloadSizeError(); !tooLarge.empty()) {
                ShowMessage(tooLarge);
                return;
            }
        }
        if (!SelectLogo()) {
            ShowMessage(printer_strings::kCommunicationFailure);
            return;
        }
        std::vector<uint8_t> stream;
        if (doc == nullptr || !doc->BuildDownloadStream(stream))
            return;
        // One pass over exactly the bytes that go out, rounding included.
        m_wChecksum = LogoChecksum(stream);
        ByteArray array(stream, stream.size());
        const LONG length = static_cast<LONG>(stream.size());
        m_nStreamLength = stream.size();
        std::vector<uint8_t>().swap(stream);  // the document's copy goes; the array goes with the transfer
        if (WritePackets(Comm(), array, length) != kWriteSent) {
            ShowMessage(printer_strings::kCommunicationFailure);
            return;
        }
        // An earlier array is let go only now: the object ends a transfer
        // still running before it starts the next.
        m_transferArray = std::move(array);
    });
}

void CDownloadPage::AbortDownload()
{
    // The array is held from the start of the transfer to its end: packets
    // may have gone out, and the printer counts the rest of the logo from
    // the header it was sent.
    const bool started = HasTransferArray();
    ThrowIfFailed(RequireComm(Comm())->AbortTransfert(), IID_ICommunication);
    // The abort has waited for the writer: the array is free.
    ReleaseTransferArray();
    OnTransferProgress(0, IDC_DOWNLOAD);
    if (started)
        ShowMessage(printer_strings::kPrinterAwaitsLogoRest);
}

void CDownloadPage::OnTransferProgress(int nPercent, int nButtonId)
{
    bool busy = nPercent != 0 && nPercent != 100;
    m_controls.EnableCommunicationPage(!busy);
    // The bar follows last, even when the check below fails.
    struct ProgressLast {
        IDownloadPageControls& controls;
        int percent;
        ~ProgressLast() { controls.SetProgressPos(percent); }
    } progressLast{m_controls, nPercent};

    if (nButtonId == IDC_DOWNLOAD) {
        SetTransferState(!busy, IDC_DOWNLOAD);
        if (nPercent == 100) {
            // The object has written the last packet: it reads the array no more.
            ReleaseTransferArray();
            int selection = m_controls.GetLogoSelection();
            CMarquenDoc* doc = Document();
            if (doc != nullptr && selection >= 0 && selection < kLogoCount) {
                // 100 % means the port has taken the bytes, not that they have
                // crossed the line: the printer answers Logo status only after
                // the rest of the logo, so its reply may take that much longer.
                LongerReadTimeout longer(Comm(), StreamStillQueuedMs());
                doc->VerifyLogoChecksum(selection, m_wChecksum, Comm());
            }
            QueryFreeLogoMemory();
        }
        return;
    }
    if (busy) {
        m_controls.SetTimer(kUploadWatchTimerId, kUploadWatchTimerMs);
        SetTransferState(false, IDC_NO_BUTTON);
    } else {
        SetTransferState(true, nButtonId);
    }
}

void CDownloadPage::SetTransferState(bool bIdle, int nButtonId)
{
    if (bIdle) {
        for (int id : kTransferControls)
            m_controls.EnableControl(id, true);
        switch (nButtonId) {
        case IDC_ERASE:
            // The caption comes back even when the query fails.
            try {
                QueryFreeLogoMemory();
            } catch (...) {
                m_controls.SetControlText(IDC_ERASE, printer_strings::kErase);
                throw;
            }
            m_controls.SetControlText(IDC_ERASE, printer_strings::kErase);
            break;
        case IDC_UPLOAD:
            m_controls.SetControlText(IDC_UPLOAD, printer_strings::kUpload);
            break;
        case IDC_DOWNLOAD:
            m_controls.SetControlText(IDC_DOWNLOAD, printer_strings::kDownload);
            break;
        default:
            break;
        }
        return;
    }
    for (int id : kTransferControls)
        m_controls.EnableControl(id, id == nButtonId);
    switch (nButtonId) {
    case IDC_ERASE:
    case IDC_UPLOAD:
    case IDC_DOWNLOAD:
        m_controls.SetControlText(nButtonId, m_strAbort);
        break;
    case IDC_NO_BUTTON:
        m_controls.SetControlText(IDC_UPLOAD, m_strAbort);
        break;
    default:
        break;
    }
}

void CDownloadPage::OnTimer(unsigned nId)
{
    if (nId != kUploadWatchTimerId)
        return;
    Guarded([&] {
        m_controls.KillTimer(kUploadWatchTimerId);
        SetTransferState(m_controls.GetProgressPos() == 100, IDC_UPLOAD);
    });
}

void CDownloadPage::OnCommProgress(int nPercent)
{
    Guarded([&] { OnTransferProgress(nPercent, IDC_DOWNLOAD); });
}

void CDownloadPage::OnCommError()
{
    Guarded([&] {
        // One box: the failure, then why every later command would fail too.
        ShowMessage(std::string(printer_strings::kDownloadStopped) + "\n" + printer_strings::kPrinterAwaitsLogoRest);
        // The writer has stopped at the failed packet.
        ReleaseTransferArray();
        OnTransferProgress(0, IDC_DOWNLOAD);
    });
}

// --- Upload and the printer's unasked bytes --------------------------------------

void CDownloadPage::OnUpload()
{
    Guarded([&] {
        if (m_controls.GetControlText(IDC_UPLOAD) == m_strAbort) {
            ThrowIfFailed(RequireComm(Comm())->AbortTransfert(), IID_ICommunication);
            m_app.StartUpload(-1);
            m_answerStart.clear();
            OnTransferProgress(0, IDC_UPLOAD);
            return;
        }
        if (!SelectLogo()) {
            ShowMessage(printer_strings::kCommunicationFailure);
            return;
        }
        // A new request starts over: what is left of an earlier answer that
        // never completed would otherwise swallow this one.
        m_app.StartUpload(-1);
        m_answerStart.clear();
        if (WriteCommand(Comm(), UploadLogo()) != kWriteSent)
            ShowMessage(printer_strings::kCommunicationFailure);
    });
}

long CDownloadPage::OnCommBytes(const uint8_t* bytes, size_t nLength)
{
    if (bytes == nullptr || nLength == 0)
        return 0;
    Guarded([&] { OnReceivedBytes(bytes, nLength); });
    return 0;
}

void CDownloadPage::OnReceivedBytes(const uint8_t* bytes, size_t nLength)
{
    // While a logo comes in, every byte is the logo's: a slice that happens
    // to read 0D, 6A 00 00 or 6A 42 4D is picture data, not an answer.
    const bool uploading = m_app.IsUploadInProgress();
    int percent = m_app.AppendUpload(bytes, nLength);
    if (percent != 0)
        OnTransferProgress(percent, IDC_UPLOAD);
    if (percent == 100)
        CompleteUpload();
    if (uploading)
        return;

    // The printer's answer may be cut anywhere by the object's timer; a cut
    // inside its first 7 bytes would hide the header, and the logo that
    // follows would be lost. Such a start waits for the next block. It is
    // forgotten when that block is a whole answer of its own, or when the two
    // together make no answer.
    std::vector<uint8_t> joined;
    if (!m_answerStart.empty() && !IsAnswer(bytes, nLength)) {
        joined = std::move(m_answerStart);
        joined.insert(joined.end(), bytes, bytes + nLength);
        if (IsAnswer(joined.data(), joined.size()) || IsAnswerStart(joined.data(), joined.size())) {
            bytes = joined.data();
            nLength = joined.size();
        }
    }
    m_answerStart.clear();
    if (IsAnswerStart(bytes, nLength)) {
        m_answerStart.assign(bytes, bytes + nLength);
        return;
    }

    if (nLength == 1) {
        if (bytes[0] == kEraseFinished)
            SetTransferState(true, IDC_ERASE);
        return;
    }
    if (IsNoLogoAnswer(bytes, nLength)) {
        ShowMessage(printer_strings::kNoLogoAtLocation);
        return;
    }
    if (IsLogoAnswer(bytes, nLength)) {
        uint32_t size = uint32_t{bytes[3]} | uint32_t{bytes[4]} << 8 | uint32_t{bytes[5]} << 16 |
                        uint32_t{bytes[6]} << 24;
        if (size < kMinBitmapFileBytes || size > kMaxUploadBytes) {
            ShowMessage(printer_strings::kUploadNotAPicture);
            return;
        }
        m_app.StartUpload(static_cast<int>(size));
        if (!m_app.IsUploadInProgress()) {
            ShowMessage(picture_messages::kMemoryAllocation);
            return;
        }
        // The bitmap file starts after the 6A.
        int first = m_app.AppendUpload(bytes + 1, nLength - 1);
        if (first == 100) {
            // The whole file came in one block: nothing more will follow.
            OnTransferProgress(100, IDC_UPLOAD);
            CompleteUpload();
            return;
        }
        OnTransferProgress(0, IDC_UPLOAD);
    }
}

void CDownloadPage::CompleteUpload()
{
    if (CMarquenDoc* doc = Document())
        doc->LoadInputFromMemory(m_app.GetUploadBuffer(), static_cast<size_t>(m_app.GetUploadSize()));
    m_app.StartUpload(-1);
}

LONG CDownloadPage::StreamStillQueuedMs() const
{
    if (m_app.m_nInterface != kInterfaceSerial)
        return 0;
    // The object takes no rate below its slowest, 4800 (an edited profile's
    // other value leaves the line at one it knows).
    const int64_t baud = std::max(m_app.m_nBaudRate, kSlowestBaudRate);
    const int64_t queued = static_cast<int64_t>(std::min(m_nStreamLength, kMaxQueuedBytes));
    return static_cast<LONG>(queued * kBitsPerByte * 1000 / baud);
}

// --- Erase and Print ------------------------------------------------------------

void CDownloadPage::OnErase()
{
    Guarded([&] {
        if (m_controls.GetControlText(IDC_ERASE) == m_strAbort) {
            SetTransferState(true, IDC_ERASE);
        } else {
            // The printer's 0D must not be taken for logo data.
            m_app.StartUpload(-1);
            m_answerStart.clear();
            SetTransferState(false, IDC_ERASE);
        }
        if (WriteCommand(Comm(), EraseLogos()) != kWriteSent)
            ShowMessage(printer_strings::kCommunicationFailure);
    });
}

void CDownloadPage::OnPrint()
{
    Guarded([&] {
        if (!SelectLogo()) {
            ShowMessage(printer_strings::kCommunicationFailure);
            return;
        }
        uint8_t mode = 0;
        constexpr std::array<int, 4> kRadios = {IDC_X1H_X1W, IDC_X1H_X2W, IDC_X2H_X1W, IDC_X2H_X2W};
        for (size_t i = 0; i < kRadios.size(); ++i) {
            if (m_controls.IsButtonChecked(kRadios[i]))
                mode = static_cast<uint8_t>(i);
        }
        if (WriteCommand(Comm(), PrintLogo(mode)) != kWriteSent)
            ShowMessage(printer_strings::kCommunicationFailure);
    });
}

// --- Memory ---------------------------------------------------------------------

void CDownloadPage::OnRefresh()
{
    Guarded([&] {
        if (!RefreshMemory())
            ShowMessage(printer_strings::kCommunicationFailure);
    });
}

bool CDownloadPage::RefreshMemory()
{
    WaitCursor wait(m_controls);
    m_bMemoryReplyFailed = false;
    m_nTotalMemory = QueryTotalMemory();
    QueryLogoArea();
    QueryFreeLogoMemory();
    return !m_bMemoryReplyFailed;
}

int CDownloadPage::QueryMemoryFigure(const Command& command, size_t nStepsByte, int nFieldId)
{
    // Printers of "Version" 0 answer neither memory figure: nothing is sent.
    if (m_app.m_nVersion == 0)
        return 0;
    Reply reply = RequestReply(Comm(), command);
    if (!reply.Has(command.expectedReply)) {
        m_bMemoryReplyFailed = true;
        return 0;
    }
    int kbytes = reply.bytes[nStepsByte] * kMemoryStepKbytes;
    // The logo area is part of the total memory: a larger figure is a reply
    // shifted by stray bytes on the line (noise, the rest of an upload).
    if (nFieldId == IDC_LOGO_AREA && m_nTotalMemory > 0 && kbytes > m_nTotalMemory) {
        m_bMemoryReplyFailed = true;
        return 0;
    }
    m_controls.SetControlText(nFieldId, std::to_string(kbytes));
    return kbytes;
}

int CDownloadPage::QueryTotalMemory()
{
    return QueryMemoryFigure(ReadTotalMemory(), 0, IDC_TOTAL_MEMORY);
}

int CDownloadPage::QueryLogoArea()
{
    // Only the middle byte of the three counts.
    m_nLogoArea = QueryMemoryFigure(ReadLogoArea(), 1, IDC_LOGO_AREA);
    return m_nLogoArea;
}

void CDownloadPage::QueryFreeLogoMemory()
{
    Reply reply = RequestReply(Comm(), ReadFreeLogoMemory());
    if (!reply.bResult || reply.lRead <= 0) {
        m_bMemoryReplyFailed = true;
        return;
    }
    // Text, ended by a 00 byte or by the reply's end: a decimal number of
    // bytes. Anything else is not the printer's answer (noise on the line,
    // bytes of an upload that was cut off) and is not shown as a figure.
    auto end = std::find(reply.bytes.begin(), reply.bytes.end(), uint8_t{0});
    std::string text(reply.bytes.begin(), end);
    bool number = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    // At most 8 digits, so the value fits; it cannot exceed the logo area.
    if (number && m_nLogoArea > 0 && std::stoll(text) > int64_t{m_nLogoArea} * 1024)
        number = false;
    if (!number) {
        m_bMemoryReplyFailed = true;
        return;
    }
    m_controls.SetControlText(IDC_FREE_MEMORY, text);
}

void CDownloadPage::OnSetup()
{
    Guarded([&] {
        CMemorySizeDlg dlg(m_app.GetMessageBox());
        dlg.m_nMaxSize = m_app.m_nVersion != 0 ? m_nTotalMemory : kVersion0MaxSize;
        if (m_memoryDialog.DoModal(dlg) != IDOK)
            return;
        WaitCursor wait(m_controls);
        int steps = std::clamp(dlg.m_nSize / kMemoryStepKbytes, 0, 255);
        Reply reply = RequestReply(Comm(), SetLogoArea(static_cast<uint8_t>(steps)));
        bool shown = true;
        if (!reply.Has(1))
            ShowMessage(printer_strings::kCommunicationFailure);
        else if (reply.bytes[0] != kSetLogoAreaAccepted)
            ShowMessage(printer_strings::kPrinterReturnedError);
        else
            shown = false;
        // One message is enough when the command itself already failed.
        if (!RefreshMemory() && !shown)
            ShowMessage(printer_strings::kCommunicationFailure);
    });
}

// --- The view's forwarding --------------------------------------------------------

long ForwardCommMessage(CDownloadPage& page, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case WM_COMM_PROGRESS:
        page.OnCommProgress(static_cast<int>(wParam));
        return 0;
    case WM_COMM_ERROR:
        page.OnCommError();
        return 0;
    case WM_COMM_BYTES:
        return page.OnCommBytes(reinterpret_cast<const uint8_t*>(lParam), static_cast<size_t>(wParam));
    default:
        return 0;
    }
}
