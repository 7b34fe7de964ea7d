#pragma once
// CMarquenDoc: the program's one document. It owns the input picture (the
// file the user opened, or a logo uploaded from the printer) and the output
// picture (a window of the input in the chosen output format), chooses which
// of the two is displayed, saves the output and encodes the picture to
// download.
//
// The document is reused for every file. Its modified flag has one meaning
// only: the output picture is stale and must be rebuilt before it is shown.
// It never stands for unsaved user data, so nothing ever asks to save it.
//
// Single-threaded: every member runs on the user-interface thread.
#include "document_views.h"
#include "import_question.h"
#include "picture_file.h"
#include "user_interface.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ICommunication;

/// Texts of the string table that the document shows.
namespace doc_strings {
inline constexpr int IDS_UNKNOWN_OUTPUT_TYPE = 61211;
inline constexpr int IDS_PICTURE_NOT_SUPPORTED = 61213;
inline constexpr int IDS_NO_PICTURE_TO_DOWNLOAD = 61214;
inline constexpr const char* kUnknownOutputType = "Error - unknown output type.";
inline constexpr const char* kPictureNotSupported = "Picture type not supported.";
inline constexpr const char* kNoPictureToDownload =
    "There is no picture to downoad, please display one before to proceed.";
/// The framework's title for a document with no file.
inline constexpr const char* kDefaultTitle = "Untitled";
}  // namespace doc_strings

/// The name Save offers instead of the input file: inputPath with its
/// extension replaced by the extension of type (bmp, log, gfx).
std::string SaveAsSuggestion(const std::string& inputPath, PictureType type);

class CMarquenDoc {
public:
    /// messageBox and statusLine must outlive the document.
    CMarquenDoc(IMessageBox& messageBox, IStatusLine& statusLine);
    virtual ~CMarquenDoc();
    CMarquenDoc(const CMarquenDoc&) = delete;
    CMarquenDoc& operator=(const CMarquenDoc&) = delete;

    /// The view, page broadcast and Save As dialog; null detaches them (then
    /// view updates go nowhere and Save As does nothing). Must outlive the
    /// document or be detached first.
    void AttachWindows(IDocumentWindows* windows) { m_pWindows = windows; }
    /// The question asked before a colour or grey picture is imported, and the
    /// store of the last choices; null for either: the picture is imported
    /// without asking, with the kept (or default) choices. Both must outlive
    /// the document or be detached first.
    void AttachImportQuestion(IImportQuestion* question, IImportSettingsStore* store)
    {
        m_pImportQuestion = question;
        m_pImportStore = store;
    }

    // --- The framework's document state ------------------------------------
    const std::string& GetPathName() const { return m_strPathName; }
    /// Records the file the document now shows; the title becomes its name.
    void SetPathName(const std::string& path);
    const std::string& GetTitle() const { return m_strTitle; }
    void SetTitle(std::string title) { m_strTitle = std::move(title); }
    /// True when the output picture is stale.
    virtual bool IsModified() const { return m_bModified; }
    /// Stores the stale flag, with no other effect.
    virtual void SetModifiedFlag(bool bModified = true) { m_bModified = bModified; }
    /// The framework's "save changes?" step before the document is replaced or
    /// the program ends. Always true without asking: the modified flag only
    /// means that the output is stale, and a save here would write the output
    /// format over the input file.
    bool SaveModified() { return true; }

    // --- Opening -------------------------------------------------------------
    /// Runs before anything of the document changes for an open of path. When
    /// path is a colour or grey picture (PNG, JPEG, GIF, WebP, TIFF, a bitmap
    /// that is not monochrome) it is decoded and the user is asked how to turn
    /// it into dots; the dots are then kept for OnOpenDocument (path). False,
    /// with the document untouched, when the user cancels (OpenWasCancelled) or
    /// the picture cannot be read (message shown). True for any other file:
    /// OnOpenDocument reads it and reports its faults.
    bool PrepareOpen(const std::string& path);
    /// Whether the last PrepareOpen or OnOpenDocument ended because the user
    /// cancelled the import question (not a fault of the file).
    bool OpenWasCancelled() const { return m_bOpenCancelled; }
    /// True while the input picture is an imported colour or grey picture: its
    /// path names a file that no output type may be written over.
    bool IsInputImported() const { return m_bInputImported; }
    /// Clears the path name, sets the default title, clears the stale flag and
    /// marks the input as new. The pictures stay. Always true.
    virtual bool OnNewDocument();
    /// Opens path as the new input picture and shows the input. False (with
    /// its message shown) when the file cannot be opened or read as a picture.
    /// A colour or grey picture becomes a BITMAP input made of the dots
    /// PrepareOpen (path) prepared, or, when it was not called for path, of
    /// the dots the import question gives now; a cancelled question changes
    /// nothing and returns false.
    virtual bool OnOpenDocument(const std::string& path);
    /// Reads the input path into the input picture, trying the five formats in
    /// their fixed order; the output picture is not touched. False with the
    /// message shown; there is then no input picture.
    bool LoadInputPicture();
    /// Makes the input picture from a bitmap file image in memory (a logo
    /// uploaded from the printer). Removes the output picture; keeps the input
    /// path, path name and title; shows the input. On failure shows the message
    /// and leaves neither picture.
    void LoadInputFromMemory(const uint8_t* bytes, size_t length);

    // --- The output picture and the download stream --------------------------
    /// Replaces the output picture by the window (offsetX, offsetY, width,
    /// height) of the input picture in the class of nType. Offsets and sizes are
    /// taken as 32-bit unsigned numbers, so negative offsets shift the input
    /// right or down. False without an input picture (no message) and on a
    /// failure (message shown).
    bool CreateOutputPicture(int nType, const std::string& path, int nWidth, int nHeight, int nOffsetX,
                             int nOffsetY);
    /// Encodes the output picture, or the input picture when there is no output
    /// picture, as a logo command for the printer. False without any picture
    /// (message shown) or when the encoder fails (its message shown). The
    /// stream is the caller's.
    bool BuildDownloadStream(std::vector<uint8_t>& stream);
    /// Why the picture BuildDownloadStream would encode cannot be a logo (too
    /// large for the format), so that nothing is sent to the printer for it;
    /// empty when it can, or when there is no picture.
    std::string DownloadSizeError() const;
    /// Asks the printer, through pComm, for the status of logo slot nLogo
    /// (Logo status, 4 reply bytes, bounded by the object's read time-out) and
    /// shows what went wrong: no usable reply, no logo stored, or a checksum
    /// other than wChecksum. True, with nothing shown, when the printer holds
    /// the logo with checksum wChecksum. A COM error of the object, or a null
    /// pComm (E_POINTER), is thrown as _com_error.
    bool VerifyLogoChecksum(int nLogo, uint16_t wChecksum, ICommunication* pComm);

    // --- Saving --------------------------------------------------------------
    /// Writes the output picture in the current output type to path, or to the
    /// output picture's own path when path is empty. An existing file is
    /// replaced only by a complete new one. True when written as it is; false
    /// with the message shown otherwise (a rounded size is written and reported).
    virtual bool OnSaveDocument(const std::string& path);
    /// File > Save: shows (and so rebuilds) the output picture, then saves it to
    /// its own path. When that path is the input file and the output type is
    /// not the input's, it runs Save As instead, offering the input's name with
    /// the output type's extension: Save never writes another format over the
    /// picture the user opened.
    void OnFileSave();
    /// File > Save As: shows the output picture, asks for a file of the output
    /// type, saves it there and tells the windows the new path.
    void OnFileSaveAs();
    /// Whether File > Save and Save As are enabled: exactly when there is an
    /// input picture.
    bool OnUpdateFileSave() const { return m_pInput != nullptr; }

    // --- Display -------------------------------------------------------------
    /// "Window" > "Input picture": toggles, see OnOutputPicture.
    void OnInputPicture();
    /// "Window" > "Output picture": shows the output (rebuilt from the current
    /// input) when the input is displayed, else the input.
    void OnOutputPicture();
    /// Whether the "Window" menu item id (ID_WINDOW_INPUT or ID_WINDOW_OUTPUT)
    /// carries its check mark. The menu mirrors this.
    bool IsChecked(int nCommandId) const;
    /// Runs the handler of a command routed to the document. False when the
    /// document does not handle nCommandId.
    bool OnCommand(int nCommandId);
    /// Enabled state of a command whose state the document decides (Save,
    /// Save As); nothing for other commands.
    std::optional<bool> OnUpdateCommand(int nCommandId) const;
    /// Rewrites the status line: which picture is displayed and whether the
    /// printer connection is open. Nothing before the main window exists.
    void UpdateStatusText();
    /// Forwards to the attached windows.
    void UpdateAllViews(long lHint);

    // --- State read by the view, the pages and the printer commands ----------
    const PictureFile* GetInput() const { return m_pInput.get(); }
    const PictureFile* GetOutput() const { return m_pOutput.get(); }
    const std::string& GetInputPath() const { return m_strInputPath; }
    PictureType GetOutputType() const { return m_nOutputType; }
    /// Written by the "Picture Info" page; any value may arrive, out-of-range
    /// ones are refused where the type is used.
    void SetOutputType(PictureType type) { m_nOutputType = type; }
    bool IsNewInput() const { return m_bNewInput; }
    bool IsShowInput() const { return m_bShowInput; }

private:
    void ShowMessage(const std::string& text);
    /// The import of path (whose bytes are given) up to the dots kept in
    /// m_pendingImport; false when cancelled or failed (message shown).
    bool PrepareImport(const std::string& path, std::vector<uint8_t> bytes);
    /// Save As with initialFileName suggested (empty: none).
    void RunSaveAs(const std::string& initialFileName);
    void DiscardInput() { m_pInput.reset(); }
    void CheckInputItem();
    void CheckOutputItem();

    IMessageBox& m_messageBox;
    IStatusLine& m_statusLine;
    IDocumentWindows* m_pWindows = nullptr;
    IImportQuestion* m_pImportQuestion = nullptr;
    IImportSettingsStore* m_pImportStore = nullptr;

    /// Dots of an imported picture, prepared for the open of path.
    struct PendingImport {
        std::string path;
        std::unique_ptr<PictureFile> picture;
    };
    std::optional<PendingImport> m_pendingImport;
    bool m_bOpenCancelled = false;
    bool m_bInputImported = false;

    std::string m_strPathName;
    std::string m_strTitle = doc_strings::kDefaultTitle;
    bool m_bModified = false;

    // The "Window" menu's marks. The menu resource starts with "Input picture".
    bool m_bInputChecked = true;
    bool m_bOutputChecked = false;

    std::string m_strInputPath;
    std::unique_ptr<PictureFile> m_pInput;
    std::unique_ptr<PictureFile> m_pOutput;
    /// The "Picture Info" page writes it whenever a new input is shown, before
    /// anything reads it; BITMAP is the first entry of its list.
    PictureType m_nOutputType = BITMAP;
    bool m_bNewInput = true;
    bool m_bShowInput = true;
};
