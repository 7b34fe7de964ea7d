#include "marquen_doc.h"

#include "command_ids.h"
#include "logo_file.h"
#include "picture_loader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The framework's check before a document is opened: the file must open for
// reading. Returns an empty string when it does, else the report to show.
std::string CheckReadable(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int error = errno;
    if (fd >= 0) {
        struct stat info {};
        bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        error = regular ? 0 : EISDIR;
        ::close(fd);
        if (regular)
            return {};
    }
    return "Cannot open the document \"" + path + "\".\n" + std::strerror(error);
}

// Picture bits that cover width x height; a picture object without them is
// never handed to an encoder.
bool HasBitsFor(const PictureFile& picture)
{
    uint64_t needed = static_cast<uint64_t>(BytesPerRow(picture.Width())) * picture.Height();
    return picture.HasPicture() && picture.Bits().size() >= needed;
}

// Whether two paths name the same file: the same text, or one file reached
// through two spellings (a link, "./", a relative path).
bool SameFile(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    if (a == b)
        return true;
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

std::string SaveAsSuggestion(const std::string& inputPath, PictureType type)
{
    const char* extension = type == BITMAP ? "bmp" : type == LOGO ? "log" : "gfx";
    std::filesystem::path suggestion(inputPath);
    suggestion.replace_extension(extension);
    return suggestion.string();
}

CMarquenDoc::CMarquenDoc(IMessageBox& messageBox, IStatusLine& statusLine)
    : m_messageBox(messageBox), m_statusLine(statusLine)
{
}

CMarquenDoc::~CMarquenDoc() = default;

void CMarquenDoc::ShowMessage(const std::string& text)
{
    m_messageBox.ShowMessage(text, MessageButtons::Ok, MessageIcon::Warning);
}

void CMarquenDoc::SetPathName(const std::string& path)
{
    m_strPathName = path;
    std::string::size_type slash = path.find_last_of('/');
    m_strTitle = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CMarquenDoc::OnNewDocument()
{
    m_strPathName.clear();
    m_strTitle = doc_strings::kDefaultTitle;
    SetModifiedFlag(false);
    m_bNewInput = true;
    return true;
}

bool CMarquenDoc::PrepareOpen(const std::string& path)
{
    m_pendingImport.reset();
    m_bOpenCancelled = false;
    std::optional<std::vector<uint8_t>> bytes = ImportableFileBytes(path);
    if (!bytes)
        return true;
    return PrepareImport(path, std::move(*bytes));
}

bool CMarquenDoc::PrepareImport(const std::string& path, std::vector<uint8_t> bytes)
{
    m_pendingImport.reset();
    m_bOpenCancelled = false;
    std::optional<ImageFormat> format = DetectImageFormat(bytes);
    GreyPicture grey;
    std::string error;
    if (!format || !ReadGreyPicture(bytes, 0, grey, error)) {
        ShowMessage(error.empty() ? std::string(doc_strings::kPictureNotSupported) : error);
        return false;
    }
    ImportOptions options = ClampImportOptions(m_pImportStore != nullptr ? m_pImportStore->LoadImportOptions()
                                                                          : ImportOptions{});
    ImportPreview preview(std::move(bytes), std::move(grey));
    if (m_pImportQuestion != nullptr) {
        ImportRequest request{path, *format, &preview};
        std::optional<ImportOptions> chosen = m_pImportQuestion->AskImportOptions(request, options);
        if (!chosen) {
            m_bOpenCancelled = true;
            return false;
        }
        options = ClampImportOptions(*chosen);
        if (m_pImportStore != nullptr)
            m_pImportStore->SaveImportOptions(options);
    }
    ImportedPicture dots;
    if (!preview.Compute(options, dots, error)) {
        ShowMessage(error);
        return false;
    }
    // A bitmap of the dots, as an uploaded logo is; it keeps the file's path,
    // which names the picture on the page.
    std::unique_ptr<PictureFile> picture = CreatePictureFile(BITMAP, path);
    if (picture->ExtractWindow(dots.width, dots.height, 0, 0, dots.width, dots.height, dots.bits, error) != PR_OK) {
        ShowMessage(error);
        return false;
    }
    m_pendingImport = PendingImport{path, std::move(picture)};
    return true;
}

bool CMarquenDoc::OnOpenDocument(const std::string& path)
{
    std::string report = CheckReadable(path);
    if (!report.empty()) {
        m_pendingImport.reset();
        ShowMessage(report);
        return false;
    }
    // Called without PrepareOpen (or for another file): the question is asked
    // now, still before anything changes.
    if (!m_pendingImport || m_pendingImport->path != path) {
        m_pendingImport.reset();
        m_bOpenCancelled = false;
        if (std::optional<std::vector<uint8_t>> bytes = ImportableFileBytes(path)) {
            if (!PrepareImport(path, std::move(*bytes)))
                return false;
        }
    }
    SetModifiedFlag(false);

    m_strInputPath = path;
    m_bNewInput = true;
    bool switched = m_bOutputChecked;
    if (m_bOutputChecked)
        CheckInputItem();
    m_bShowInput = true;
    // The status line follows every switch of the displayed picture, this one
    // included, or it would keep saying that the output is displayed.
    if (switched)
        UpdateStatusText();
    if (m_pendingImport) {
        DiscardInput();
        m_pInput = std::move(m_pendingImport->picture);
        m_pendingImport.reset();
        m_bInputImported = true;
        UpdateAllViews(HINT_INPUT_PICTURE);
        return true;
    }
    return LoadInputPicture();
}

bool CMarquenDoc::LoadInputPicture()
{
    // The previous input goes as soon as the search starts, whatever it finds.
    DiscardInput();
    m_bInputImported = false;
    LoadedPicture loaded = LoadPictureFile(m_strInputPath);
    switch (loaded.outcome) {
    case LoadOutcome::Loaded:
        m_pInput = std::move(loaded.picture);
        UpdateAllViews(HINT_INPUT_PICTURE);
        return true;
    case LoadOutcome::NotSupported:
        ShowMessage(doc_strings::kPictureNotSupported);
        return false;
    case LoadOutcome::OpenFailed:
    case LoadOutcome::Invalid:
    case LoadOutcome::DecodeFailed:
        break;
    }
    ShowMessage(loaded.error);
    return false;
}

void CMarquenDoc::LoadInputFromMemory(const uint8_t* bytes, size_t length)
{
    DiscardInput();
    m_bInputImported = false;
    m_pOutput.reset();
    static const uint8_t kNothing = 0;
    LoadedPicture loaded = LoadBitmapFromMemory(bytes != nullptr ? bytes : &kNothing, bytes != nullptr ? length : 0);
    switch (loaded.outcome) {
    case LoadOutcome::Loaded:
        break;
    case LoadOutcome::NotSupported:
        ShowMessage(doc_strings::kPictureNotSupported);
        return;
    case LoadOutcome::OpenFailed:
    case LoadOutcome::Invalid:
    case LoadOutcome::DecodeFailed:
        ShowMessage(loaded.error);
        return;
    }
    m_pInput = std::move(loaded.picture);
    m_bNewInput = true;
    if (!m_bInputChecked)
        OnInputPicture();
    else
        UpdateAllViews(HINT_INPUT_PICTURE);
}

bool CMarquenDoc::CreateOutputPicture(int nType, const std::string& path, int nWidth, int nHeight, int nOffsetX,
                                      int nOffsetY)
{
    // Reachable without an input only after a failed upload while the output
    // was displayed; there is nothing to cut the window from, and the failure
    // has already been reported.
    if (!m_pInput)
        return false;
    m_bNewInput = false;
    m_pOutput.reset();
    if (nType < 0 || static_cast<uint32_t>(nType) >= kPictureTypeCount) {
        ShowMessage(doc_strings::kUnknownOutputType);
        return false;
    }
    std::unique_ptr<PictureFile> output = CreatePictureFile(static_cast<PictureType>(nType), path);
    std::string error;
    // The page's integers become the window's 32-bit unsigned arithmetic.
    PictureResult result = output->ExtractWindow(m_pInput->Width(), m_pInput->Height(),
                                                 static_cast<uint32_t>(nOffsetX), static_cast<uint32_t>(nOffsetY),
                                                 static_cast<uint32_t>(nWidth), static_cast<uint32_t>(nHeight),
                                                 m_pInput->Bits(), error);
    if (result != PR_OK) {
        // An output object without picture bits would be drawn, saved and
        // encoded as if it had them; there is no output picture instead.
        ShowMessage(error);
        return false;
    }
    m_pOutput = std::move(output);
    return true;
}

bool CMarquenDoc::BuildDownloadStream(std::vector<uint8_t>& stream)
{
    stream.clear();
    LogoFile logo{std::string()};
    const PictureFile* source = m_pOutput ? m_pOutput.get() : m_pInput.get();
    if (source == nullptr || !HasBitsFor(*source)) {
        ShowMessage(doc_strings::kNoPictureToDownload);
        return false;
    }
    uint32_t width = source->Width();
    uint32_t height = source->Height();
    size_t length = static_cast<size_t>(BytesPerRow(width)) * height;
    logo.SetPicture(source->Bits().data(), length);
    std::string error;
    PictureResult result = logo.EncodeToMemory(width, height, error, stream);
    if (result != PR_OK && result != PR_SIZE_ADJUSTED) {
        stream.clear();
        if (!error.empty())
            ShowMessage(error);
        return false;
    }
    return true;
}

std::string CMarquenDoc::DownloadSizeError() const
{
    const PictureFile* source = m_pOutput ? m_pOutput.get() : m_pInput.get();
    if (source == nullptr || !HasBitsFor(*source))
        return {};
    return LogoFile::SizeLimitError(source->Width(), source->Height());
}

bool CMarquenDoc::OnSaveDocument(const std::string& path)
{
    // Save and Save As check neither; without them there is nothing to write
    // and no format to write it in.
    if (!m_pOutput || !HasBitsFor(*m_pOutput) || m_nOutputType >= kPictureTypeCount) {
        ShowMessage(doc_strings::kUnknownOutputType);
        return false;
    }
    std::string name = path.empty() ? m_pOutput->Path() : path;
    m_pOutput->SetPath(name);

    std::unique_ptr<PictureFile> writer = CreatePictureFile(m_nOutputType, name);
    std::string error;
    // Opening for writing creates only a temporary file beside the target; an
    // existing file is replaced once the whole new file is on disk.
    if (writer->Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error) != PR_OK) {
        ShowMessage(error);
        return false;
    }
    // Everything the writer needs is copied before the views update: a view may
    // rebuild (and so replace) the output picture in its update.
    writer->SetPicture(m_pOutput->Bits());
    uint32_t width = m_pOutput->Width();
    uint32_t height = m_pOutput->Height();
    UpdateAllViews(HINT_OUTPUT_PICTURE);

    PictureResult result = writer->Write(width, height, error);
    writer.reset();
    if (result == PR_OK)
        return true;
    ShowMessage(error);
    return false;
}

void CMarquenDoc::OnFileSave()
{
    // The command is disabled without an input picture; an accelerator that
    // slips through finds nothing to save.
    if (!m_pInput)
        return;
    if (m_bInputChecked)
        OnOutputPicture();
    // The output path starts as the input file's own path: saving another
    // format there would destroy the user's picture. The user chooses the
    // name instead, offered with the output type's extension. An imported
    // picture's file is in none of the output types.
    if (m_pOutput && m_pInput && (m_bInputImported || m_pInput->Type() != m_nOutputType) &&
        SameFile(m_pOutput->Path(), m_strInputPath)) {
        RunSaveAs(SaveAsSuggestion(m_strInputPath, m_nOutputType));
        return;
    }
    OnSaveDocument(std::string());
}

void CMarquenDoc::OnFileSaveAs()
{
    if (!m_pInput)
        return;
    if (m_bInputChecked)
        OnOutputPicture();
    RunSaveAs(std::string());
}

void CMarquenDoc::RunSaveAs(const std::string& initialFileName)
{
    SaveDialogRequest request;
    request.initialFileName = initialFileName;
    request.overwritePrompt = true;
    request.hideReadOnly = true;
    switch (m_nOutputType) {
    case BITMAP:
        request.filterText = "Windows bitmap (*.bmp)";
        request.defaultExtension = "bmp";
        break;
    case EPSON_GFX:
        request.filterText = "EPSON GFX (*.gfx)";
        request.defaultExtension = "gfx";
        break;
    case LOGO:
        request.filterText = "LOGO (*.log)";
        request.defaultExtension = "log";
        break;
    case RASTER_GFX:
        request.filterText = "RASTER GFX (*.gfx)";
        request.defaultExtension = "gfx";
        break;
    case RASTER_GFX_EXT:
        request.filterText = "RASTER GFX EXT(*.gfx)";
        request.defaultExtension = "gfx";
        break;
    default:
        ShowMessage(doc_strings::kUnknownOutputType);
        return;
    }
    if (m_pWindows == nullptr)
        return;
    std::optional<std::string> chosen = m_pWindows->RunSaveDialog(request);
    if (!chosen)
        return;
    const std::string path = *chosen;  // stays valid during the broadcast
    OnSaveDocument(path);
    if (m_pWindows != nullptr)
        m_pWindows->SendOutputSaved(path);
}

void CMarquenDoc::CheckInputItem()
{
    m_bInputChecked = true;
    m_bOutputChecked = false;
}

void CMarquenDoc::CheckOutputItem()
{
    m_bInputChecked = false;
    m_bOutputChecked = true;
}

void CMarquenDoc::OnInputPicture()
{
    if (m_bInputChecked) {
        CheckOutputItem();
        SetModifiedFlag(true);  // the output is rebuilt when shown
    } else {
        CheckInputItem();
    }
    m_bShowInput = m_bInputChecked;
    UpdateStatusText();
    UpdateAllViews(m_bShowInput ? HINT_INPUT_PICTURE : HINT_OUTPUT_PICTURE);
}

void CMarquenDoc::OnOutputPicture()
{
    if (m_bOutputChecked) {
        CheckInputItem();
    } else {
        SetModifiedFlag(true);
        CheckOutputItem();
    }
    m_bShowInput = m_bInputChecked;
    UpdateStatusText();
    UpdateAllViews(m_bShowInput ? HINT_INPUT_PICTURE : HINT_OUTPUT_PICTURE);
}

bool CMarquenDoc::IsChecked(int nCommandId) const
{
    if (nCommandId == ID_WINDOW_INPUT)
        return m_bInputChecked;
    if (nCommandId == ID_WINDOW_OUTPUT)
        return m_bOutputChecked;
    return false;
}

bool CMarquenDoc::OnCommand(int nCommandId)
{
    switch (nCommandId) {
    case ID_WINDOW_INPUT:
        OnInputPicture();
        return true;
    case ID_WINDOW_OUTPUT:
        OnOutputPicture();
        return true;
    case ID_FILE_SAVE:
        OnFileSave();
        return true;
    case ID_FILE_SAVE_AS:
        OnFileSaveAs();
        return true;
    default:
        return false;
    }
}

std::optional<bool> CMarquenDoc::OnUpdateCommand(int nCommandId) const
{
    if (nCommandId == ID_FILE_SAVE || nCommandId == ID_FILE_SAVE_AS)
        return OnUpdateFileSave();
    return std::nullopt;
}

void CMarquenDoc::UpdateStatusText()
{
    if (!m_statusLine.HasMainWindow())
        return;
    bool open = m_statusLine.IsPortOpen();
    std::string text = m_bShowInput ? "Input picture displayed" : "Output picture displayed";
    text += open ? " - Ready to communicate" : " - Communication broken";
    m_statusLine.SetStatusText(text);
}

void CMarquenDoc::UpdateAllViews(long lHint)
{
    if (m_pWindows != nullptr)
        m_pWindows->UpdateAllViews(lHint);
}
