// Timing program for the desktop (run on an X server, e.g. under xvfb-run):
// - repaints of a 2040 x 2040 picture as the view draws it, for the picture
//   area of a 1280 x 1024 screen and for the whole picture (median and
//   longest, milliseconds);
// - the user-interface thread's longest stall while the program downloads a
//   2040 x 2040 logo, started with the Download page's button, to the virtual
//   printer paced at 115200 baud: the longest time the running event loop
//   could not serve a 5 ms timer, apart from the button's own handler (the
//   request/reply exchanges run there and at the end, blocking by design).
#include "desktop_app.h"
#include "download_page_controls.h"
#include "main_frame.h"
#include "marquen_view.h"
#include "picture_file.h"
#include "picture_loader.h"
#include "picture_painter.h"
#include "virtual_printer.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <memory>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

void Series(const char* name, const PictureFile& picture, wxSize area, int runs)
{
    wxBitmap target(area.x, area.y, 24);
    wxMemoryDC dc(target);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        PaintPicture(dc, area, *wxBLUE, &picture, i % 2, 0);
        auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s median %6.2f ms   longest %6.2f ms   (%d runs)\n", name, times[times.size() / 2],
                times.back(), runs);
}

// Answers every message box with its first button, and counts them.
class CountingMessageBox : public IMessageBox {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        ++shown;
        return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageAnswer::Yes
                                                                                          : MessageAnswer::Ok;
    }
    int shown = 0;
};

template <class Control>
Control* FindOnPage(CMarquenView& view, int page, int id)
{
    return dynamic_cast<Control*>(view.TabControl()->GetPage(page)->FindWindow(id));
}

// The download of a 2040 x 2040 logo, with the loop's turns timed.
int MeasureDownloadStall(const PictureFile& picture)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("marquen-bench-ui-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    const std::string bin = ProgramFolder();
    const std::string regsvr = "'" + bin + "/regsvr' '" + bin + "/libquorlink.so' >/dev/null";
    if (std::system(regsvr.c_str()) != 0) {
        std::fprintf(stderr, "regsvr failed\n");
        return 1;
    }
    vprinter::VirtualPrinterOptions options;
    options.baud = 115200;
    options.printer.totalMemoryKbytes = 16320;
    options.printer.logoAreaKbytes = 4096;
    vprinter::VirtualPrinter printer(options);
    std::string error;
    if (!printer.Start(error)) {
        std::fprintf(stderr, "vprinter: %s\n", error.c_str());
        return 1;
    }
    std::ofstream(folder / "ports") << "COM1=" << printer.SlavePath() << "\n";
    ::setenv("QUORLINK_PORT_MAP", (folder / "ports").c_str(), 1);
    std::ofstream(folder / "Marquen.conf") << "[Settings]\nFlow\\ control=0\nVersion=1\n";

    // The picture as a bitmap file on the command line.
    const std::string file = (folder / "large.bmp").string();
    {
        std::unique_ptr<PictureFile> writer = CreatePictureFile(BITMAP, file);
        writer->Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error);
        writer->SetPicture(picture.Bits());
        uint32_t width = picture.Width();
        uint32_t height = picture.Height();
        if (writer->Write(width, height, error) != PR_OK) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }

    int result = 1;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        CountingMessageBox messages;
        CMessageQueueSource queue;
        auto app = std::make_unique<CDesktopApp>(messages);
        app->SetProfilePath((folder / "Marquen.conf").string());
        app->SetWaitDialogProgram("");
        app->SetCommandLine({file});
        if (app->InitInstance() && queue.Attach()) {
            using Clock = std::chrono::steady_clock;
            auto turn = [] {
                wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
                wxTheApp->ProcessIdle();
            };
            for (auto until = Clock::now() + std::chrono::milliseconds(500); Clock::now() < until;)
                turn();
            CMarquenView& view = *app->GetFrame()->GetView();
            view.TabControl()->SetSelection(kDownloadPageIndex);
            auto* logos = FindOnPage<wxChoice>(view, kDownloadPageIndex, IDC_LOGO_NUMBER);
            auto* button = FindOnPage<wxButton>(view, kDownloadPageIndex, IDC_DOWNLOAD);
            if (logos != nullptr && button != nullptr) {
                logos->SetSelection(7);
                wxCommandEvent choose(wxEVT_CHOICE, IDC_LOGO_NUMBER);
                choose.SetEventObject(logos);
                choose.SetInt(7);
                logos->GetEventHandler()->ProcessEvent(choose);
                turn();
                const auto pressed = Clock::now();
                wxCommandEvent click(wxEVT_BUTTON, IDC_DOWNLOAD);
                click.SetEventObject(button);
                button->GetEventHandler()->ProcessEvent(click);
                const auto handled = Clock::now();
                // The real event loop runs; a 5 ms timer probes it: the time
                // between two of its ticks is the longest the loop could not
                // answer (draw, take a click) during the transfer.
                auto last = handled;
                std::vector<double> gaps;
                std::vector<std::pair<double, double>> longGaps;  // (gap, seconds since the click)
                bool started = false;
                wxGUIEventLoop running;
                wxTimer probe;
                probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
                    const auto now = Clock::now();
                    const double gap = std::chrono::duration<double, std::milli>(now - last).count();
                    gaps.push_back(gap);
                    if (gap > 20)
                        longGaps.emplace_back(gap, std::chrono::duration<double>(now - pressed).count());
                    last = now;
                    started = started || view.Pages().IsTransferBusy();
                    if ((started && !view.Pages().IsTransferBusy()) || now - handled > std::chrono::minutes(10))
                        running.Exit();
                });
                probe.Start(5);
                running.Run();
                probe.Stop();
                std::sort(gaps.begin(), gaps.end());
                const double total = std::chrono::duration<double>(Clock::now() - pressed).count();
                std::printf("download 2040 x 2040 at 115200 baud: %.1f s; button handler %.1f ms; probe ticks %zu, "
                            "median gap %.2f ms, longest %.1f ms (the last one holds the Logo status "
                            "exchange); stored: %s; messages: %d\n",
                            total, std::chrono::duration<double, std::milli>(handled - pressed).count(),
                            gaps.size(), gaps.empty() ? 0.0 : gaps[gaps.size() / 2],
                            gaps.empty() ? 0.0 : gaps.back(), printer.Snapshot().Slot(7).stored ? "yes" : "no",
                            messages.shown);
                for (const auto& [gap, at] : longGaps)
                    std::printf("  gap of %.1f ms at %.2f s\n", gap, at);
                result = 0;
            }
        }
        if (CMainFrame* frame = app->GetFrame())
            frame->Close();
        app->ExitInstance();
        app.reset();
        queue.Detach();
    }
    printer.Stop();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    constexpr uint32_t kSide = 2040;
    std::vector<uint8_t> bits(static_cast<size_t>(BytesPerRow(kSide)) * kSide);
    std::mt19937 random(7);
    for (uint8_t& byte : bits)
        byte = static_cast<uint8_t>(random());
    std::unique_ptr<PictureFile> picture = CreatePictureFile(BITMAP, std::string());
    std::string error;
    if (picture->ExtractWindow(kSide, kSide, 0, 0, kSide, kSide, bits, error) != PR_OK) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // A maximised 1280 x 1024 window: about 1265 x 760 below the tab control.
    Series("2040 x 2040, picture area 1265 x 760", *picture, wxSize(1265, 760), 60);
    Series("2040 x 2040, whole picture (2060 x 2060 area)", *picture, wxSize(2060, 2060), 20);
    int result = MeasureDownloadStall(*picture);
    wxEntryCleanup();
    return result;
}
