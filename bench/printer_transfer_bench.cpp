// Download and upload of a 2040 x 2040 logo (about 520 kB) through the
// program's own communication client and "Download" page, to the virtual
// printer paced at 115200 baud: the time of each transfer against its line
// time, and the longest the user-interface thread waited between two events
// it handled during the download.
//
// build/bin/marquen-bench-printer [--baud N]. Needs libquorlink.so beside
// itself; registers it in a scratch registry, and maps COM7 to the printer.
#include "bmp_file.h"
#include "download_page.h"
#include "event_pump.h"
#include "marquen_app.h"
#include "virtual_printer.h"
#include "window/message_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration;
using std::chrono::milliseconds;

constexpr uint32_t kSide = 2040;

double Seconds(Clock::duration d)
{
    return duration<double>(d).count();
}

class QuietMessages : public IMessageBox {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons, MessageIcon) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        ++count;
        return MessageAnswer::Ok;
    }
    int count = 0;
};

class NoWindows : public IDocumentWindows {
public:
    void UpdateAllViews(long) override {}
    void SendOutputSaved(const std::string&) override {}
    std::optional<std::string> RunSaveDialog(const SaveDialogRequest&) override { return std::nullopt; }
};

class Controls : public IDownloadPageControls {
public:
    void EnableControl(int, bool) override {}
    std::string GetControlText(int nId) override { return texts[nId]; }
    void SetControlText(int nId, const std::string& text) override { texts[nId] = text; }
    void ShowControl(int, bool) override {}
    void AddLogoNumber(const std::string&) override {}
    int GetLogoSelection() override { return 7; }
    void SetFocusTo(int) override {}
    void CheckRadioButton(int, int, int) override {}
    bool IsButtonChecked(int nId) override { return nId == IDC_X1H_X1W; }
    void SetProgressPos(int nPos) override { progress = nPos; }
    int GetProgressPos() override { return progress; }
    void SetTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void EnableCommunicationPage(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    std::map<int, std::string> texts{{IDC_ERASE, "Erase"}, {IDC_UPLOAD, "Upload"}, {IDC_DOWNLOAD, "Download"}};
    int progress = 0;
};

class NoDialog : public IMemorySizeDlgRunner {
public:
    int DoModal(CMemorySizeDlg&) override { return IDCANCEL; }
};

class BenchApp : public CMarquenApp {
public:
    BenchApp(IMessageBox& messages, IDocumentWindows& windows, int baud)
        : CMarquenApp(messages), m_windows(windows), m_baud(baud)
    {
    }
    void ConnectPrinter() override
    {
        m_nPort = 6;
        m_nVersion = 1;
        m_nBaudRate = m_baud;
        CMarquenApp::ConnectPrinter();
    }

protected:
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        doc.AttachWindows(&m_windows);
        return true;
    }

private:
    IDocumentWindows& m_windows;
    int m_baud;
};

/// The view's forwarding, timing each message it hands on.
class TimedView : public ICommMessageTarget {
public:
    explicit TimedView(CDownloadPage& page) : m_page(page) {}
    LRESULT SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        Clock::time_point begin = Clock::now();
        if (last) {
            longestGap = std::max(longestGap, begin - *last);
            if (std::getenv("BENCH_TRACE") && begin - *last > milliseconds(30))
                std::fprintf(stderr, "gap %.1f ms before message %x %lu (event %ld)\n", Seconds(begin - *last) * 1000,
                             message, static_cast<unsigned long>(wParam), events);
        }
        LRESULT result = ForwardCommMessage(m_page, message, wParam, lParam);
        Clock::time_point end = Clock::now();
        if (std::getenv("BENCH_TRACE") && end - begin > milliseconds(30))
            std::fprintf(stderr, "handler %.1f ms for message %x %lu\n", Seconds(end - begin) * 1000, message,
                         static_cast<unsigned long>(wParam));
        longestHandler = std::max(longestHandler, end - begin);
        last = end;
        ++events;
        return result;
    }
    void Reset()
    {
        last.reset();
        longestGap = {};
        longestHandler = {};
        events = 0;
    }

    std::optional<Clock::time_point> last;
    Clock::duration longestGap{};
    Clock::duration longestHandler{};
    long events = 0;

private:
    CDownloadPage& m_page;
};

/// A 10 ms timer of the thread's own hidden window: the longest time between
/// two of its ticks is the longest the thread could not dispatch anything.
class ResponsivenessProbe {
public:
    ResponsivenessProbe()
    {
        m_window = marquen::window::CreateMessageWindow(
            [this](HWND, UINT message, WPARAM, LPARAM) { return OnMessage(message); });
        marquen::window::SetTimer(m_window, 1, 10);
    }
    ~ResponsivenessProbe() { marquen::window::DestroyWindow(m_window); }
    void Reset()
    {
        m_last.reset();
        longest = {};
    }
    Clock::duration longest{};

private:
    LRESULT OnMessage(UINT message)
    {
        if (message == marquen::window::WM_TIMER) {
            Clock::time_point now = Clock::now();
            if (m_last)
                longest = std::max(longest, now - *m_last);
            m_last = now;
        }
        return 0;
    }
    HWND m_window = nullptr;
    std::optional<Clock::time_point> m_last;
};

void WriteBitmap(const std::filesystem::path& path)
{
    // Random dots: the worst case for the logo stream's size and checksum.
    const size_t rowBytes = BytesPerRow(kSide);
    std::vector<uint8_t> bits(rowBytes * kSide);
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    BmpFile bitmap(path.string());
    std::string error;
    uint32_t width = kSide;
    uint32_t height = kSide;
    if (bitmap.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error) != PR_OK) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    bitmap.SetPicture(bits);
    if (bitmap.Write(width, height, error) != PR_OK) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
}

void Report(const char* what, size_t bytes, int baud, Clock::duration took)
{
    double line = static_cast<double>(bytes) * 10.0 / baud;
    double total = Seconds(took);
    std::printf("%-9s %8zu bytes  line %7.2f s  total %7.2f s  overhead %+6.2f %%  (goal: within 5 %%)\n", what,
                bytes, line, total, (total / line - 1.0) * 100.0);
}

}  // namespace

int main(int argc, char** argv)
{
    int baud = 115200;
    if (argc == 3 && std::string(argv[1]) == "--baud")
        baud = std::atoi(argv[2]);
    if (baud <= 0) {
        std::fprintf(stderr, "usage: marquen-bench-printer [--baud N]\n");
        return 2;
    }

    char pattern[] = "/tmp/marquen-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr)
        return 1;
    std::filesystem::path scratch(made);
    std::filesystem::create_directories(scratch / "config");
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    ::setenv("QUORLINK_PORT_MAP", (scratch / "ports").c_str(), 1);

    std::filesystem::path module = std::filesystem::path(ProgramFolder()) / "libquorlink.so";
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto reg = handle ? reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer")) : nullptr;
    if (reg == nullptr || FAILED(reg())) {
        std::fprintf(stderr, "cannot register %s\n", module.c_str());
        return 1;
    }
    ::dlclose(handle);

    vprinter::VirtualPrinterOptions options;
    options.baud = static_cast<uint32_t>(baud);
    // Room for the whole logo.
    options.printer.logoAreaKbytes = 1024;
    vprinter::VirtualPrinter printer(options);
    std::string error;
    if (!printer.Start(error)) {
        std::fprintf(stderr, "vprinter: %s\n", error.c_str());
        return 1;
    }
    std::ofstream(scratch / "ports") << "COM7=" << printer.SlavePath() << "\n";
    WriteBitmap(scratch / "logo.bmp");

    int status = 0;
    {
        QuietMessages messages;
        NoWindows windows;
        Controls controls;
        NoDialog dialog;
        BenchApp app(messages, windows, baud);
        app.SetProfilePath((scratch / "Marquen.conf").string());
        if (!app.InitInstance() || !app.IsPortOpen()) {
            std::fprintf(stderr, "cannot open COM7\n");
            return 1;
        }
        CDownloadPage page(app, controls, dialog);
        TimedView view(page);
        app.SetCommView(&view);
        app.OpenDocumentFile((scratch / "logo.bmp").string());

        std::vector<uint8_t> stream;
        app.GetDocument()->BuildDownloadStream(stream);
        ResponsivenessProbe probe;
        Clock::time_point start = Clock::now();
        page.OnDownload();
        bool done = PumpMessagesUntil([&] { return !page.HasTransferArray(); }, std::chrono::minutes(10));
        Clock::duration took = Clock::now() - start;
        if (!done || messages.count != 0 || controls.progress != 100) {
            std::fprintf(stderr, "download failed\n");
            status = 1;
        }
        Report("download", stream.size(), baud, took);
        std::printf("          %ld events; longest wait between two handled events %.1f ms, "
                    "longest handler %.1f ms\n",
                    view.events, Seconds(view.longestGap) * 1000, Seconds(view.longestHandler) * 1000);
        std::printf("          longest time the thread dispatched nothing (10 ms probe timer) %.1f ms\n",
                    Seconds(probe.longest) * 1000);

        view.Reset();
        probe.Reset();
        controls.progress = 0;
        start = Clock::now();
        page.OnUpload();
        done = PumpMessagesUntil([&] { return controls.progress == 100 && !app.IsUploadInProgress(); },
                                 std::chrono::minutes(10));
        took = Clock::now() - start;
        if (!done || messages.count != 0) {
            std::fprintf(stderr, "upload failed\n");
            status = 1;
        }
        size_t answer = 1 + 62 + static_cast<size_t>(4 * ((kSide + 31) / 32)) * kSide;
        Report("upload", answer, baud, took);
        std::printf("          %ld blocks; longest wait between two handled blocks %.1f ms, longest handler "
                    "%.1f ms, longest time the thread dispatched nothing %.1f ms\n",
                    view.events, Seconds(view.longestGap) * 1000, Seconds(view.longestHandler) * 1000,
                    Seconds(probe.longest) * 1000);
        app.SetCommView(nullptr);
        app.ExitInstance();
    }
    printer.Stop();
    std::filesystem::remove_all(scratch);
    return status;
}
