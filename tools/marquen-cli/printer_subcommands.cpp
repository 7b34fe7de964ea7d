// The printer subcommands: the program's own communication client and
// "Download" page logic, driven from the command line. Messages the program
// would show in a box go to standard error (and make the exit status 1);
// results go to standard output. Every wait ends: the object bounds each
// request by its read time-out, and the transfers here by time limits of
// their own.
#include "command.h"
#include "picture_loader.h"
#include "printer_session.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int64_t kLastLogo = 255;

// Bits a byte takes on the line: start, 8 data, stop.
constexpr int64_t kBitsPerByte = 10;

// SIGINT and SIGTERM are noted instead of ending the program, while one
// lives; the earlier handlers come back with its end.
class InterruptCatcher {
public:
    InterruptCatcher()
    {
        s_caught = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { s_caught = 1; };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previousInt);
        ::sigaction(SIGTERM, &action, &m_previousTerm);
    }
    ~InterruptCatcher()
    {
        ::sigaction(SIGINT, &m_previousInt, nullptr);
        ::sigaction(SIGTERM, &m_previousTerm, nullptr);
    }
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    bool Caught() const { return s_caught != 0; }

private:
    static inline volatile std::sig_atomic_t s_caught = 0;
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};

// The exit status after a run: 1 when the program showed a message.
int Outcome(PrinterSession& session)
{
    return session.Messages().Count() == 0 ? kExitOk : kExitFailure;
}

int Failure(CommandStreams& streams, const std::string& text)
{
    streams.err << "marquen-cli: " << text << '\n';
    return kExitFailure;
}

int LogoNumber(const ParsedArguments& args)
{
    std::optional<int64_t> logo = args.Integer("logo", 0, kLastLogo);
    if (!logo)
        throw UsageError("missing --logo N (0 to 255)");
    return static_cast<int>(*logo);
}

void PrintMemory(PrinterSession& session, CommandStreams& streams)
{
    ConsolePageControls& controls = session.Controls();
    if (std::optional<std::string> total = controls.FieldText(IDC_TOTAL_MEMORY))
        streams.out << "total: " << *total << " kbytes\n";
    if (std::optional<std::string> area = controls.FieldText(IDC_LOGO_AREA))
        streams.out << "logo area: " << *area << " kbytes\n";
    if (std::optional<std::string> free = controls.FieldText(IDC_FREE_MEMORY))
        streams.out << "free: " << *free << " bytes\n";
}

// --- ports ---------------------------------------------------------------------

// The names of a port list the object put into list, in order.
std::vector<std::string> PortNames(VARIANT& list)
{
    std::vector<std::string> names;
    if (list.vt != (VT_ARRAY | VT_BSTR) || list.parray == nullptr || SafeArrayGetDim(list.parray) != 1)
        return names;
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(list.parray, 1, &lower);
    SafeArrayGetUBound(list.parray, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR name = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(list.parray, &i, &name)))
            names.push_back(Bstr::Adopt(name).Utf8());
    }
    return names;
}

int RunPorts(const ParsedArguments& args, CommandStreams& streams)
{
    PrinterSession session(streams, ParseLineOptions(args), false);
    if (!session.Start())
        return kExitFailure;
    ICommunication* comm = session.App().m_pComm.Get();
    try {
        for (bool serial : {true, false}) {
            VARIANT list;
            VariantInit(&list);
            LONG count = 0;
            HRESULT hr = serial ? comm->GetComPorts(&list, &count) : comm->GetLptPorts(&list, &count);
            std::vector<std::string> names = PortNames(list);
            VariantClear(&list);
            ThrowIfFailed(hr, IID_ICommunication);
            for (const std::string& name : names)
                streams.out << name << '\n';
        }
    } catch (const _com_error& error) {
        session.App().ReportComError(error);
    }
    return Outcome(session);
}

// --- download ------------------------------------------------------------------

constexpr std::array<std::string_view, 1> kDownloadOperands{"FILE"};
constexpr std::array<OptionSpec, 1> kLogoOption{{{"logo", "N"}}};

int RunDownload(const ParsedArguments& args, CommandStreams& streams)
{
    int logo = LogoNumber(args);
    PrinterSession session(streams, ParseLineOptions(args));
    if (!session.Start())
        return kExitFailure;
    CMarquenApp& app = session.App();
    if (app.OpenDocumentFile(args.Positionals()[0]) == nullptr)
        return kExitFailure;

    CDownloadPage& page = session.Page();
    session.Controls().SelectLogo(logo);
    session.Controls().ShowProgress(true);
    page.OnDownload();
    if (!page.HasTransferArray())
        return kExitFailure;  // not started; the message has been shown

    // The line time of the stream at the set speed, twice over, with the
    // write time-out for the last packet and the read time-out for the check.
    std::vector<uint8_t> stream;
    app.GetDocument()->BuildDownloadStream(stream);
    int64_t lineMs = static_cast<int64_t>(stream.size()) * kBitsPerByte * 1000 / std::max(app.m_nBaudRate, 1);
    milliseconds limit(2 * lineMs + app.m_nWriteTimeout + app.m_nReadTimeout + 5000);
    // Ctrl-C (or a polite kill) stops the transfer as the Abort button does,
    // so the user hears that the printer waits for the rest of the logo.
    InterruptCatcher interrupt;
    if (!session.WaitFor([&] { return !page.HasTransferArray() || interrupt.Caught(); }, limit) ||
        page.HasTransferArray()) {
        // No end came, or the user stopped it: stop the object's writer
        // before giving up.
        try {
            page.AbortDownload();
        } catch (const _com_error& error) {
            app.ReportComError(error);
        }
        return Failure(streams, interrupt.Caught() ? "the download was interrupted"
                                                   : "the transfer did not end in time; it has been aborted");
    }
    if (session.Messages().Count() != 0 || session.Controls().GetProgressPos() != 100)
        return kExitFailure;
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04X", page.m_wChecksum);
    streams.out << "logo " << logo << ": " << stream.size() << " bytes, checksum " << checksum
                << " confirmed by the printer\n";
    return kExitOk;
}

// --- upload ----------------------------------------------------------------------

constexpr std::array<std::string_view, 1> kUploadOperands{"OUTPUT"};
constexpr std::array<OptionSpec, 2> kUploadOptions{{{"logo", "N"}, {"type", "T"}}};

PictureType OutputType(const ParsedArguments& args, const std::string& output)
{
    if (std::optional<std::string> name = args.Value("type")) {
        std::optional<PictureType> type = ParsePictureType(*name);
        if (!type)
            throw UsageError("unknown picture type '" + *name + "'");
        return *type;
    }
    std::string extension = std::filesystem::path(output).extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".bmp")
        return BITMAP;
    if (extension == ".log")
        return LOGO;
    if (extension == ".gfx")
        throw UsageError("a .gfx file can be EPSON GFX, RASTER GFX or RASTER GFX EXT: give --type T");
    throw UsageError("cannot tell the picture type of '" + output + "' from its name: give --type T");
}

// Opens path for writing as type T: only a temporary file beside it is made,
// which the object discards unless Write completes. Null after the message.
std::unique_ptr<PictureFile> OpenOutput(PictureType type, const std::string& path, CommandStreams& streams)
{
    std::string error;
    std::unique_ptr<PictureFile> output = CreatePictureFile(type, path);
    if (output->Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error) != PR_OK) {
        streams.err << error << '\n';
        return nullptr;
    }
    return output;
}

int WritePicture(const PictureFile& picture, PictureFile& output, const std::string& path, CommandStreams& streams)
{
    std::string error;
    output.SetPicture(picture.Bits().data(), picture.Bits().size());
    uint32_t width = picture.Width();
    uint32_t height = picture.Height();
    PictureResult result = output.Write(width, height, error);
    if (result != PR_OK)
        streams.err << error << '\n';
    if (result != PR_OK && result != PR_SIZE_ADJUSTED)
        return kExitFailure;
    streams.out << "logo uploaded: " << width << " x " << height << " dots, written to " << path << '\n';
    return kExitOk;
}

int RunUpload(const ParsedArguments& args, CommandStreams& streams)
{
    int logo = LogoNumber(args);
    const std::string& output = args.Positionals()[0];
    PictureType type = OutputType(args, output);
    LineOptions lineOptions = ParseLineOptions(args);
    // A file that cannot be written is found out before the printer is asked
    // for anything, not after the whole transfer.
    std::unique_ptr<PictureFile> outputFile = OpenOutput(type, output, streams);
    if (!outputFile)
        return kExitFailure;
    PrinterSession session(streams, lineOptions);
    if (!session.Start())
        return kExitFailure;
    CMarquenApp& app = session.App();
    CDownloadPage& page = session.Page();
    session.Controls().SelectLogo(logo);
    session.Controls().ShowProgress(true);
    page.OnUpload();
    if (session.Messages().Count() != 0)
        return kExitFailure;

    // The answer is over once the picture is in, or the printer has said why
    // not; it has failed when the upload makes no progress for a read
    // time-out. Only bytes that reach the upload buffer count: a line that
    // carries noise but no answer must not keep the wait going.
    const milliseconds silence(std::max(session.ReadTimeout(), 1000));
    Clock::time_point lastProgress = Clock::now();
    int lastReceived = app.GetUploadReceived();
    auto over = [&] {
        if (app.GetDocument()->GetInput() != nullptr || session.Messages().Count() != 0)
            return true;
        if (app.GetUploadReceived() != lastReceived) {
            lastReceived = app.GetUploadReceived();
            lastProgress = Clock::now();
        }
        return Clock::now() - lastProgress > silence;
    };
    // Each wait below is bounded by the silence rule; the outer limit only
    // guards against a printer that trickles bytes for ever.
    const milliseconds limit(10 * 60 * 1000);
    session.WaitFor(over, limit);
    const PictureFile* picture = app.GetDocument()->GetInput();
    if (picture == nullptr) {
        bool uploading = app.IsUploadInProgress();
        if (session.Controls().GetControlText(IDC_UPLOAD) == printer_strings::kAbort)
            page.OnUpload();  // abort, as the user would
        app.StartUpload(-1);
        if (session.Messages().Count() != 0)
            return kExitFailure;
        return Failure(streams, uploading ? "the printer stopped sending the logo; the upload has been aborted"
                                          : "the printer did not answer the upload request");
    }
    if (session.Messages().Count() != 0)
        return kExitFailure;
    return WritePicture(*picture, *outputFile, output, streams);
}

// --- erase -----------------------------------------------------------------------

int RunErase(const ParsedArguments& args, CommandStreams& streams)
{
    PrinterSession session(streams, ParseLineOptions(args));
    if (!session.Start())
        return kExitFailure;
    CDownloadPage& page = session.Page();
    ConsolePageControls& controls = session.Controls();
    page.OnErase();
    if (session.Messages().Count() != 0)
        return kExitFailure;
    // The printer answers 0D once its memory is erased; the page is then idle.
    auto idle = [&] { return controls.GetControlText(IDC_ERASE) != page.m_strAbort; };
    if (!session.WaitFor(idle, milliseconds(session.ReadTimeout()))) {
        page.SetTransferState(true, IDC_NO_BUTTON);
        return Failure(streams, "the printer did not report the end of the erase in time");
    }
    if (session.Messages().Count() != 0)
        return kExitFailure;
    streams.out << "logos erased\n";
    return kExitOk;
}

// --- print -----------------------------------------------------------------------

constexpr std::array<OptionSpec, 2> kPrintOptions{{{"logo", "N"}, {"size", "x1H-x1W|x1H-x2W|x2H-x1W|x2H-x2W"}}};

int RunPrint(const ParsedArguments& args, CommandStreams& streams)
{
    int logo = LogoNumber(args);
    int radio = IDC_X1H_X1W;
    if (std::optional<std::string> size = args.Value("size")) {
        constexpr std::array<std::string_view, 4> kSizes = {"x1H-x1W", "x1H-x2W", "x2H-x1W", "x2H-x2W"};
        auto found = std::find(kSizes.begin(), kSizes.end(), *size);
        if (found == kSizes.end())
            throw UsageError("--size takes x1H-x1W, x1H-x2W, x2H-x1W or x2H-x2W");
        radio = IDC_X1H_X1W + static_cast<int>(found - kSizes.begin());
    }
    PrinterSession session(streams, ParseLineOptions(args));
    if (!session.Start())
        return kExitFailure;
    session.Controls().SelectLogo(logo);
    session.Controls().CheckRadioButton(IDC_X1H_X1W, IDC_X2H_X2W, radio);
    session.Page().OnPrint();
    return Outcome(session);
}

// --- memory and set-logo-area --------------------------------------------------------

int RunMemory(const ParsedArguments& args, CommandStreams& streams)
{
    PrinterSession session(streams, ParseLineOptions(args));
    if (!session.Start())
        return kExitFailure;
    session.Page().OnRefresh();
    // A reply that was missing or not of its shape may have put the others
    // out of step (noise, the rest of an upload): then no figure is sure.
    if (session.Messages().Count() != 0)
        return kExitFailure;
    PrintMemory(session, streams);
    if (!session.Controls().FieldText(IDC_FREE_MEMORY) && !session.Controls().FieldText(IDC_TOTAL_MEMORY))
        return Failure(streams, "the printer did not answer");
    return kExitOk;
}

constexpr std::array<std::string_view, 1> kSetAreaOperands{"KBYTES"};

int RunSetLogoArea(const ParsedArguments& args, CommandStreams& streams)
{
    std::optional<int64_t> kbytes = ParseInteger(args.Positionals()[0]);
    if (!kbytes || *kbytes < 0 || *kbytes > 1280 || *kbytes % 64 != 0)
        throw UsageError("KBYTES is a size from 0 to 1280 in steps of 64");
    PrinterSession session(streams, ParseLineOptions(args));
    if (!session.Start())
        return kExitFailure;
    CDownloadPage& page = session.Page();
    // The program reads the figures when its page is created; Setup offers
    // sizes up to the total memory read then.
    page.OnRefresh();
    session.ChooseMemorySize(static_cast<int>(*kbytes));
    page.OnSetup();
    if (!session.MemorySizeOffered())
        return kExitFailure;
    if (session.Messages().Count() != 0)
        return kExitFailure;
    PrintMemory(session, streams);
    return kExitOk;
}

const std::vector<OptionSpec> kPortsOptions = WithPrinterOptions({});
const std::vector<OptionSpec> kDownloadOptionList = WithPrinterOptions(kLogoOption);
const std::vector<OptionSpec> kUploadOptionList = WithPrinterOptions(kUploadOptions);
const std::vector<OptionSpec> kPrintOptionList = WithPrinterOptions(kPrintOptions);

// The line options are listed once, at the end of the usage text.
#define PRINTER_OPTIONS_TEXT "[LINE OPTIONS]"

const std::array<Command, 7> kPrinterCommands{{
    {"ports", PRINTER_OPTIONS_TEXT, "List the serial (COM) and parallel (LPT) port names.",
     CommandSyntax{{}, kPortsOptions}, RunPorts},
    {"download", "FILE --logo N " PRINTER_OPTIONS_TEXT,
     "Store the picture FILE in logo slot N (0-255) and check the checksum the printer reports.",
     CommandSyntax{kDownloadOperands, kDownloadOptionList}, RunDownload},
    {"upload", "OUTPUT --logo N [--type T] " PRINTER_OPTIONS_TEXT,
     "Read logo slot N back from the printer into OUTPUT (type T, or .bmp BITMAP, .log LOGO).",
     CommandSyntax{kUploadOperands, kUploadOptionList}, RunUpload},
    {"erase", PRINTER_OPTIONS_TEXT, "Erase every logo stored in the printer and wait until it is done.",
     CommandSyntax{{}, kPortsOptions}, RunErase},
    {"print", "--logo N [--size x1H-x1W|x1H-x2W|x2H-x1W|x2H-x2W] " PRINTER_OPTIONS_TEXT,
     "Print logo slot N at single or double height and width.",
     CommandSyntax{{}, kPrintOptionList}, RunPrint},
    {"memory", PRINTER_OPTIONS_TEXT,
     "Print the printer's total memory, logo area (not with --printer-version 0) and free logo memory.",
     CommandSyntax{{}, kPortsOptions}, RunMemory},
    {"set-logo-area", "KBYTES " PRINTER_OPTIONS_TEXT,
     "Set the size of the printer's logo area (0-1280 kbytes in steps of 64); exit 0 once it accepts.",
     CommandSyntax{kSetAreaOperands, kPortsOptions}, RunSetLogoArea},
}};

}  // namespace

std::span<const Command> PrinterCommands()
{
    return kPrinterCommands;
}

}  // namespace cli
