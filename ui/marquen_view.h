#pragma once
// CMarquenView: the one view of the document. Its top 200 pixels hold the tab
// control with the three pages; below them the picture area draws the
// displayed picture (input or output) on white over the background colour,
// with a scroll bar in each direction for pictures larger than the room left.
// It receives the communication client's messages and hands them to the
// Download page. Everything runs on the user-interface thread.
#include "comm_event_sink.h"
#include "pages/view_pages.h"
#include "view_logic.h"

#include <wx/colour.h>
#include <wx/panel.h>

#include <functional>
#include <memory>
#include <optional>

class CMarquenApp;
class CMainFrame;
class PictureFile;
class wxNotebook;
class wxScrollBar;
class wxScrollEvent;
class wxKeyEvent;

/// Control id of the tab control.
inline constexpr int IDC_TAB_CONTROL = 1111;
/// Control id of both scroll bars.
inline constexpr int IDC_SCROLL_BAR = 100;

class CMarquenView : public wxPanel, public ICommMessageTarget {
public:
    CMarquenView(CMainFrame* frame, CMarquenApp& app);
    ~CMarquenView() override;

    /// The document's update: hint 1 for the input picture, 0 for the output.
    void OnUpdate(long lHint);
    /// The key filter: true when the view consumed the key (Ctrl+Tab,
    /// Ctrl+Shift+Tab, Enter, Escape).
    bool FilterKey(const wxKeyEvent& event);
    /// Selects the next (or previous) page, wrapping around.
    void AdvancePage(bool bForward);
    /// The "Background color" command: the colour chooser, stored in the
    /// setting on OK.
    void OnBackgroundColor();
    /// The toolkit's colour dialog over parent, opened on current with the
    /// custom colours shown: the colour chosen, nothing for Cancel.
    static std::optional<wxColour> RunColourDialog(wxWindow* parent, const wxColour& current);
    /// The colour chooser OnBackgroundColor runs: RunColourDialog, or a
    /// stand-in set by a test that drives the view.
    std::function<std::optional<wxColour>(wxWindow*, const wxColour&)> m_colourChooser = RunColourDialog;
    /// One wheel turn of delta over the picture.
    void OnWheel(int delta);
    /// A scroll of one bar (bVertical) by code.
    void Scroll(bool bVertical, view_logic::ScrollCode code, int thumb = 0);

    // --- ICommMessageTarget ----------------------------------------------------
    LRESULT SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    IViewPages& Pages() { return *m_pPages; }
    wxNotebook* TabControl() { return m_pTabs; }
    wxWindow* PictureArea() { return m_pPictureArea; }
    wxScrollBar* HorizontalBar() { return m_pHorizontal; }
    wxScrollBar* VerticalBar() { return m_pVertical; }
    /// The picture now displayed, or null.
    const PictureFile* DisplayedPicture() const;
    /// The scroll positions the picture is drawn from.
    int HorizontalPosition() const { return m_nHorizontal; }
    int VerticalPosition() const { return m_nVertical; }
    /// Lays the children out again for the current size.
    void Relayout();
    /// Draws the picture area into dc (size: the area's).
    void DrawPicture(wxDC& dc, const wxSize& size);

private:
    void OnSize(wxSizeEvent& event);
    void OnScrollEvent(wxScrollEvent& event, bool bVertical);
    void ShowStatusPanes(const PictureFile& picture);

    CMainFrame* m_pFrame;
    CMarquenApp& m_app;
    wxNotebook* m_pTabs = nullptr;
    std::unique_ptr<IViewPages> m_pPages;
    wxWindow* m_pPictureArea = nullptr;
    wxScrollBar* m_pHorizontal = nullptr;
    wxScrollBar* m_pVertical = nullptr;
    int m_nHorizontal = 0;
    int m_nVertical = 0;
    view_logic::ViewLayout m_layout;
    view_logic::RepaintMemory m_repaint;
};
