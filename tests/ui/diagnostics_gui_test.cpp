// The diagnostics window under an X server (Xvfb): diagnostics reported on
// other threads reach an open window through the user-interface thread, with
// their time and level; the About box leads to it; Copy fills the clipboard.
#include "diagnostics_window.h"
#include "gui_test_main.h"
#include "small_dialogs.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/textctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <thread>
#include <vector>

namespace diagnostics = marquen::diagnostics;

namespace {

bool SpinUntil(const std::function<bool()>& done, int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        wxTheApp->Yield(true);
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST(DiagnosticsWindowTest, LinesCarryTimeLevelAndMessage)
{
    diagnostics::Entry entry;
    entry.time = std::chrono::system_clock::now();
    entry.level = diagnostics::Level::kWarning;
    entry.message = "port map line 3 ignored";
    EXPECT_TRUE(std::regex_match(FormatDiagnostic(entry),
                                 std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d warning port map line 3 ignored)")))
        << FormatDiagnostic(entry);
}

TEST(DiagnosticsWindowTest, ReportsFromOtherThreadsReachTheOpenWindow)
{
    diagnostics::ClearRecent();
    CDiagnosticsHandler handler;
    diagnostics::Report(diagnostics::Level::kError, "before the window");
    // Modeless here, as a window the toolkit deletes itself.
    auto* window = new CDiagnosticsDlg(nullptr);
    CDiagnosticsDlg& dialog = *window;
    dialog.Show();
    EXPECT_EQ(CDiagnosticsDlg::Open(), &dialog);
    EXPECT_NE(dialog.Text()->GetValue().Find(" error before the window\n"), wxNOT_FOUND) << dialog.Text()->GetValue();

    // Four threads at once: each line once, on the window's own thread.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                diagnostics::Report(diagnostics::Level::kInfo, "thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(SpinUntil([&] { return dialog.Text()->GetNumberOfLines() >= 42; }, 5000))
        << dialog.Text()->GetValue();
    const wxString text = dialog.Text()->GetValue();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i) {
            const wxString line = wxString::Format(" info thread %d line %d\n", t, i);
            const int at = text.Find(line);
            ASSERT_NE(at, wxNOT_FOUND) << line;
            EXPECT_EQ(text.find(line, static_cast<size_t>(at) + 1), wxString::npos) << "twice: " << line;
        }

    // A later report after more turns of the loop still arrives.
    diagnostics::Report(diagnostics::Level::kDebug, "the last one");
    ASSERT_TRUE(SpinUntil([&] { return dialog.Text()->GetValue().Contains("debug the last one"); }, 5000));

    if (dialog.CopyToClipboard()) {
        wxClipboardLocker locker;
        wxTextDataObject data;
        ASSERT_TRUE(wxTheClipboard->GetData(data));
        EXPECT_EQ(data.GetText(), dialog.Text()->GetValue());
    }
    dialog.Destroy();
    SpinUntil([] { return CDiagnosticsDlg::Open() == nullptr; }, 2000);
    EXPECT_EQ(CDiagnosticsDlg::Open(), nullptr);
    // Reports with no window open are kept for the next one.
    diagnostics::Report(diagnostics::Level::kWarning, "while closed");
    SpinUntil([] { return false; }, 50);
    CDiagnosticsDlg again(nullptr);
    EXPECT_TRUE(again.Text()->GetValue().Contains("warning while closed"));
}

TEST(DiagnosticsWindowTest, TheAboutBoxLeadsToIt)
{
    diagnostics::ClearRecent();
    CAboutDlg about(nullptr);
    auto* button = dynamic_cast<wxButton*>(about.FindWindow(IDC_SHOW_DIAGNOSTICS));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->GetLabel(), "Show diagnostics...");
    // The button opens the window modally; it is closed from the loop it runs.
    bool seen = false;
    wxTheApp->CallAfter([&] {
        CDiagnosticsDlg* open = CDiagnosticsDlg::Open();
        seen = open != nullptr && open->IsModal() && open->GetTitle() == "Diagnostics";
        if (open != nullptr)
            open->EndModal(wxID_CLOSE);
    });
    wxCommandEvent click(wxEVT_BUTTON, IDC_SHOW_DIAGNOSTICS);
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
    EXPECT_TRUE(seen);
    EXPECT_EQ(CDiagnosticsDlg::Open(), nullptr);
}

}  // namespace

int main(int argc, char** argv) { return testing_support::RunGuiTestProgram(argc, argv); }
