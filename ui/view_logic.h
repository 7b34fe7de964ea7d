#pragma once
// The view's and the frame's arithmetic, free of any window: the layout of
// the view's children, the scroll bars' ranges and steps, the mouse wheel,
// the areas to repaint when the output picture changes, the open dialog's
// initial file name, the wait dialog's dashes and the status bar's texts.
// The windows call these; the tests check them with the figures users see.
#include <cstdint>
#include <string>
#include <vector>

namespace view_logic {

/// Height of the tab control at the top of the view.
inline constexpr int kTabHeight = 200;
/// Height of a page inside the tab control.
inline constexpr int kPageHeight = 160;
/// Thickness of a scroll bar.
inline constexpr int kScrollBarSize = 15;
/// The picture's left edge, and its gap below the tab control.
inline constexpr int kPictureLeft = 20;
inline constexpr int kPictureTop = kTabHeight + 20;

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

/// One scroll bar: shown or hidden, its range (0 to range) and its page.
struct ScrollBarState {
    bool visible = false;
    int range = 0;
    int page = 1;
    bool operator==(const ScrollBarState&) const = default;
};

/// The scroll bar over one direction: clientExtent pixels of the view, of which
/// margin are not picture room (40 across, 220 down), for a picture
/// pictureExtent dots long. Shown exactly when the room left is shorter than
/// the picture. A view with no room at all keeps a page of one dot, so the
/// bar never gets a page larger than its range and the picture can still be
/// scrolled through (an unsigned page would have wrapped around).
ScrollBarState ComputeScrollBar(int clientExtent, int margin, int pictureExtent);

/// Where the view's children go for a client area of width x height.
struct ViewLayout {
    Rect tabControl;
    Rect verticalBar;
    Rect horizontalBar;
    /// The area the picture is drawn in: below the tab control, less the
    /// visible bars; empty when there is no room.
    Rect pictureArea;
    ScrollBarState horizontal;
    ScrollBarState vertical;
};

/// The layout for a client area of width x height and a picture of
/// pictureWidth x pictureHeight (0 x 0 when none is displayed). Negative or
/// zero client sizes give empty rectangles, never wrapped ones. A bar with no
/// room for its arrows (30 pixels) is hidden; the picture area then has no
/// room either.
ViewLayout ComputeViewLayout(int width, int height, int pictureWidth, int pictureHeight);

/// The scroll codes of a scroll bar.
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Other };

/// The bar's new position after code, from position p, for a bar whose limit
/// is limit (the picture's extent); thumb is the thumb's position for
/// ThumbPosition. Lines move by 1, pages by 10, within 0 to limit.
int ScrollStep(ScrollCode code, int p, int limit, int thumb = 0);

/// What one wheel turn does: nothing, or a page on one bar.
enum class WheelAction { None, PageLeft, PageRight, PageUp, PageDown };
/// A wheel turn of delta (positive: away from the user) over the view. With
/// only the horizontal bar visible it pages left or right; else the vertical
/// bar pages up or down when it is visible.
WheelAction WheelActionFor(bool horizontalVisible, bool verticalVisible, int delta);

/// What the view remembers between updates of the output picture, to repaint
/// only what changed.
struct RepaintMemory {
    int lastWidth = -1;
    int lastHeight = -1;
    int lastOffsetX = 0;
    int lastOffsetY = 0;
    bool repaintAll = true;
};

/// The areas to repaint after an update; wholeClient means all of it.
struct Invalidation {
    bool wholeClient = false;
    std::vector<Rect> areas;
};

/// The areas to repaint after the view showed a picture, in view coordinates
/// with the picture's top edge at top. For the input picture everything is
/// repainted and the memory reset; for the output picture (w x h, offsets)
/// only the strips that changed. Updates memory.
Invalidation InvalidateAfterUpdate(RepaintMemory& memory, bool showInput, int w, int h, int offsetX, int offsetY,
                                   int top = kPictureTop);

/// The open dialog's initial name from the path chosen last: "*.*" when none;
/// else the path with its file name replaced by "*" and the name's extension
/// from its first '.' on ("*.*" when it has none). '/' separates folders.
std::string InitialOpenFileName(const std::string& rememberedPath);

/// The wait dialog's line, before it is shown at each tick.
inline constexpr const char* kWaitText = "Please wait during Marquen try to communicate with the printer";
/// One tick of the wait dialog: the text to show (dashes, the message, dashes)
/// and the dashes for the next tick: doubled while the text is at most 120
/// characters long, else back to one. The count runs 1, 2, 4, 8, 16, 32, 1.
std::string NextWaitText(std::string& dashes);

/// Status pane 1's text for a picture of width x height.
std::string PictureSizeText(uint32_t width, uint32_t height);
/// Status pane 2's text for a picture of size bytes.
std::string PictureBytesText(uint64_t size);
/// The status bar's accessible name: its pane texts, one per line, each with
/// its surrounding blanks removed; empty panes are left out.
std::string StatusBarAccessibleText(const std::vector<std::string>& panes);

}  // namespace view_logic
