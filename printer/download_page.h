#pragma once
// CDownloadPage: the operations of the "Download" tab page. It downloads the
// picture on display into one of the printer's 256 logo slots and checks the
// checksum the printer reports, uploads a stored logo back as the input
// picture, erases the logos, prints one, shows the printer's memory figures
// and changes the size of its logo area.
//
// Every byte goes through the application's one Communication object. Its
// events come back as the view messages WM_COMM_PROGRESS, WM_COMM_ERROR and
// WM_COMM_BYTES, which the view hands to OnCommProgress, OnCommError and
// OnCommBytes (CDownloadPageMessages does that headless).
//
// The page's controls are reached through IDownloadPageControls. The
// handlers named On... are the ones the window calls; each catches a COM
// error raised by the communication object and shows its text, and reports
// memory that ran out, so neither ends the program. The other members let
// them through.
//
// Single-threaded: everything runs on the user-interface thread, which also
// receives the object's events, so no handler ever runs during another.
#include "comm_event_sink.h"
#include "download_page_controls.h"
#include "memory_size_dlg.h"
#include "printer_commands.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CMarquenApp;
class CMarquenDoc;

class CDownloadPage {
public:
    /// app, controls and memoryDialog must outlive the page.
    CDownloadPage(CMarquenApp& app, IDownloadPageControls& controls, IMemorySizeDlgRunner& memoryDialog);
    /// A download still running is aborted first: its array must outlive the
    /// object's writer.
    ~CDownloadPage();
    CDownloadPage(const CDownloadPage&) = delete;
    CDownloadPage& operator=(const CDownloadPage&) = delete;

    // --- Window handlers ------------------------------------------------------
    /// Page creation: reads the memory figures, fills the logo number list
    /// (no entry selected), checks "x1H x1W", shows the Upload button only
    /// for a printer with "Version" nonzero.
    void OnInitDialog();
    /// Button 1053: starts a download, or, while one runs (its caption
    /// "Abort", or its array still held before the first progress), aborts it.
    void OnDownload();
    void OnUpload();    ///< button 1051
    void OnErase();     ///< button 1044
    void OnPrint();     ///< button 1045
    void OnSetup();     ///< button 1050
    void OnRefresh();   ///< button 1052
    /// The page's timer (kUploadWatchTimerId) ran out.
    void OnTimer(unsigned nId);
    /// WM_COMM_PROGRESS: progress of the download.
    void OnCommProgress(int nPercent);
    /// WM_COMM_ERROR: a packet of the download failed.
    void OnCommError();
    /// WM_COMM_BYTES: bytes the printer sent unasked (answers of Upload and
    /// Erase), at most 1024 at a time, in order. Returns 0.
    long OnCommBytes(const uint8_t* bytes, size_t nLength);

    // --- Operations -----------------------------------------------------------
    /// Sends Select logo for the selected logo number. False, after "Please
    /// select a logo number." with the focus on the list, when none is
    /// selected; false when the write was not sent.
    bool SelectLogo();
    /// Stops the download in progress (the object's writer has ended when
    /// this returns) and, when part of the logo may have gone out, tells the
    /// user that the printer is still expecting the rest and how to recover.
    /// The Download button's abort; also for a program that gives up waiting.
    void AbortDownload();
    /// The idle/busy switch: which controls are enabled and which caption reads
    /// "Abort". nButtonId is IDC_ERASE, IDC_UPLOAD, IDC_DOWNLOAD or IDC_NO_BUTTON.
    void SetTransferState(bool bIdle, int nButtonId);
    /// Progress of the transfer that button nButtonId (IDC_DOWNLOAD or
    /// IDC_UPLOAD) started; busy while nPercent is neither 0 nor 100.
    void OnTransferProgress(int nPercent, int nButtonId);
    /// The three memory queries under the wait cursor. False when a query got
    /// no usable reply (the caller says so); its field is then left as it was.
    bool RefreshMemory();
    /// Total memory in kbytes, shown in field 1060; 0 without a usable reply
    /// or with "Version" 0 (then nothing is sent).
    int QueryTotalMemory();
    /// Logo area in kbytes, shown in field 1061; 0 as QueryTotalMemory. A
    /// figure above the total memory is no usable reply.
    int QueryLogoArea();
    /// Free logo memory, shown as the printer's text in field 1068. Only a
    /// decimal number counts, and none larger than the logo area.
    void QueryFreeLogoMemory();

    /// Whether a download's array is still held for the object's writer.
    bool HasTransferArray() const { return static_cast<bool>(m_transferArray); }

    // --- Fields ---------------------------------------------------------------
    std::string m_strAbort;     ///< "Abort"
    int m_nTotalMemory = 0;     ///< kbytes from the last Read total memory; 0 without a reply
    uint16_t m_wChecksum = 0;   ///< checksum of the last stream Download sent

private:
    template <typename Handler>
    void Guarded(Handler&& handler);
    void ShowMessage(const std::string& text);
    ICommunication* Comm() const;
    CMarquenDoc* Document() const;
    /// Ends the hold on the download's array: the object no longer reads it.
    void ReleaseTransferArray() { m_transferArray.Reset(); }
    void OnReceivedBytes(const uint8_t* bytes, size_t nLength);
    /// Sends a memory query (not with "Version" 0); its reply byte nStepsByte
    /// counts steps of 64 kbytes, shown in field nFieldId. 0 without a usable
    /// reply, the field then left as it was.
    int QueryMemoryFigure(const printer_commands::Command& command, size_t nStepsByte, int nFieldId);
    /// The upload buffer is full: it becomes the input picture and is released.
    void CompleteUpload();
    /// Line time, in ms, of the part of the last stream that may still be on
    /// its way to the printer when the object reports 100 %.
    LONG StreamStillQueuedMs() const;

    CMarquenApp& m_app;
    IDownloadPageControls& m_controls;
    IMemorySizeDlgRunner& m_memoryDialog;
    /// Set by a memory query that got no usable reply since RefreshMemory
    /// began.
    bool m_bMemoryReplyFailed = false;
    /// The logo area in kbytes from the last usable reply; 0 when unknown.
    int m_nLogoArea = 0;
    /// Length of the last Define logo stream handed to the object.
    size_t m_nStreamLength = 0;
    /// The Define logo stream while the object writes it in packets.
    printer_commands::ByteArray m_transferArray;
    /// The first bytes of an answer to Upload, too few yet to tell it apart
    /// (at most 6); joined with the next block.
    std::vector<uint8_t> m_answerStart;
};

/// The view's forwarding of the event sink's messages to the page, as the
/// desktop view does it: WM_COMM_PROGRESS, WM_COMM_ERROR and WM_COMM_BYTES;
/// other messages answer 0 and change nothing.
long ForwardCommMessage(CDownloadPage& page, uint32_t message, uintptr_t wParam, intptr_t lParam);

/// The same forwarding as the target of the event sink's messages, for a
/// program without the desktop's view (marquen-cli, tests).
class CDownloadPageMessages : public ICommMessageTarget {
public:
    /// page must outlive this object.
    explicit CDownloadPageMessages(CDownloadPage& page) : m_page(page) {}
    LRESULT SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return ForwardCommMessage(m_page, message, wParam, lParam);
    }

private:
    CDownloadPage& m_page;
};
