// The view's and the frame's arithmetic: scroll bars and their steps, the
// wheel, the layout of a small window, the repaint areas, the open dialog's
// initial name, the wait dialog's dashes and the status texts.
#include "command_ids.h"
#include "command_table.h"
#include "view_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace view_logic;

TEST(ViewLogicTest, ScrollBarsShowOnlyForPicturesLargerThanTheRoom)
{
    // 600 - 40 = 560 >= 500: no bar; 500 - 40 = 460 < 500: a bar, page 460.
    EXPECT_FALSE(ComputeScrollBar(600, 40, 500).visible);
    EXPECT_EQ(ComputeScrollBar(500, 40, 500), (ScrollBarState{true, 500, 460}));
    // Down: 220 pixels are not picture room.
    EXPECT_EQ(ComputeScrollBar(400, 220, 200), (ScrollBarState{true, 200, 180}));
    EXPECT_FALSE(ComputeScrollBar(420, 220, 200).visible);
    // No picture: nothing to scroll.
    EXPECT_FALSE(ComputeScrollBar(100, 220, 0).visible);
}

TEST(ViewLogicTest, AClientAreaWithNoRoomKeepsThePictureReachable)
{
    // Lower than 220 and narrower than 40: the bars stay, with a page of one dot
    // (never a wrapped page larger than the range), so the whole picture can be
    // scrolled through.
    for (int extent : {0, 1, 39, 40}) {
        ScrollBarState across = ComputeScrollBar(extent, 40, 300);
        EXPECT_TRUE(across.visible);
        EXPECT_EQ(across.page, 1);
        EXPECT_EQ(across.range, 300);
    }
    ScrollBarState down = ComputeScrollBar(190, 220, 50);
    EXPECT_EQ(down, (ScrollBarState{true, 50, 1}));

    // The frame's smallest client area (600 x about 190): nothing negative.
    ViewLayout layout = ComputeViewLayout(584, 150, 300, 50);
    EXPECT_EQ(layout.tabControl, (Rect{0, 0, 584, 150}));
    EXPECT_EQ(layout.pictureArea.height, 0);
    EXPECT_EQ(layout.verticalBar.height, 0);
    for (const Rect& r : {layout.tabControl, layout.verticalBar, layout.horizontalBar, layout.pictureArea}) {
        EXPECT_GE(r.width, 0);
        EXPECT_GE(r.height, 0);
    }
    EXPECT_FALSE(layout.vertical.visible);
    // 29 pixels below the tab control: no room for the bar's arrows.
    EXPECT_FALSE(ComputeViewLayout(584, 229, 300, 50).vertical.visible);
    ViewLayout justRoom = ComputeViewLayout(584, 230, 300, 50);
    EXPECT_TRUE(justRoom.vertical.visible);
    EXPECT_EQ(justRoom.vertical.page, 10);
    EXPECT_EQ(justRoom.pictureArea, (Rect{0, 200, 569, 30}));
    ViewLayout tiny = ComputeViewLayout(-5, 0, 10, 10);
    EXPECT_EQ(tiny.pictureArea, (Rect{0, 200, 0, 0}));
}

TEST(ViewLogicTest, LayoutPlacesTheBarsBesideThePictureArea)
{
    // 500 x 400 with a 600 x 600 picture: both bars.
    ViewLayout layout = ComputeViewLayout(500, 400, 600, 600);
    EXPECT_EQ(layout.tabControl, (Rect{0, 0, 500, 200}));
    EXPECT_EQ(layout.verticalBar, (Rect{485, 200, 15, 200}));
    EXPECT_EQ(layout.horizontalBar, (Rect{0, 385, 485, 15}));
    EXPECT_EQ(layout.pictureArea, (Rect{0, 200, 485, 185}));
    EXPECT_EQ(layout.horizontal.page, 460);
    EXPECT_EQ(layout.vertical.page, 180);
    // Only the horizontal bar: it runs the whole width.
    ViewLayout wide = ComputeViewLayout(500, 800, 600, 100);
    EXPECT_FALSE(wide.vertical.visible);
    EXPECT_EQ(wide.horizontalBar, (Rect{0, 785, 500, 15}));
    EXPECT_EQ(wide.pictureArea, (Rect{0, 200, 500, 585}));
}

TEST(ViewLogicTest, ScrollStepsFollowTheTable)
{
    EXPECT_EQ(ScrollStep(ScrollCode::PageUp, 5, 50), 5);
    EXPECT_EQ(ScrollStep(ScrollCode::LineUp, 5, 50), 4);
    EXPECT_EQ(ScrollStep(ScrollCode::PageUp, 11, 50), 1);
    EXPECT_EQ(ScrollStep(ScrollCode::LineUp, 0, 50), 0);
    // A picture 300 wide and 50 high bounds the steps by its extents.
    EXPECT_EQ(ScrollStep(ScrollCode::LineDown, 299, 300), 300);
    EXPECT_EQ(ScrollStep(ScrollCode::LineDown, 300, 300), 300);
    EXPECT_EQ(ScrollStep(ScrollCode::PageDown, 289, 300), 299);
    EXPECT_EQ(ScrollStep(ScrollCode::PageDown, 290, 300), 290);
    EXPECT_EQ(ScrollStep(ScrollCode::PageDown, 39, 50), 49);
    EXPECT_EQ(ScrollStep(ScrollCode::PageDown, 40, 50), 40);
    EXPECT_EQ(ScrollStep(ScrollCode::ThumbPosition, 3, 50, 27), 27);
    EXPECT_EQ(ScrollStep(ScrollCode::ThumbPosition, 3, 50, 80), 50);
    EXPECT_EQ(ScrollStep(ScrollCode::ThumbTrack, 3, 50, 27), 3);
    EXPECT_EQ(ScrollStep(ScrollCode::Other, 3, 50), 3);
}

TEST(ViewLogicTest, WheelPagesTheOneBarThatMatters)
{
    // Toward the user over a view with only a horizontal bar: one page right.
    EXPECT_EQ(WheelActionFor(true, false, -120), WheelAction::PageRight);
    EXPECT_EQ(WheelActionFor(true, false, 120), WheelAction::PageLeft);
    EXPECT_EQ(WheelActionFor(true, true, -120), WheelAction::PageDown);
    EXPECT_EQ(WheelActionFor(false, true, 120), WheelAction::PageUp);
    EXPECT_EQ(WheelActionFor(false, false, 120), WheelAction::None);
}

TEST(ViewLogicTest, OnlyWhatChangedInTheOutputIsRepainted)
{
    RepaintMemory memory;
    // Input shown: everything, and the memory starts over.
    Invalidation all = InvalidateAfterUpdate(memory, true, 100, 50, 0, 0);
    EXPECT_TRUE(all.wholeClient);
    // The first output after it: everything once more.
    EXPECT_TRUE(InvalidateAfterUpdate(memory, false, 100, 50, 0, 0).wholeClient);
    EXPECT_EQ(memory.lastWidth, -1);
    // Then the picture's rectangle and the strips that changed.
    Invalidation first = InvalidateAfterUpdate(memory, false, 100, 50, 0, 0);
    EXPECT_FALSE(first.wholeClient);
    ASSERT_EQ(first.areas.size(), 3u);
    EXPECT_EQ(first.areas[0], (Rect{20, 220, 100, 50}));
    // Narrower: only the strip between the two right edges.
    Invalidation narrower = InvalidateAfterUpdate(memory, false, 80, 50, 0, 0);
    ASSERT_EQ(narrower.areas.size(), 1u);
    EXPECT_EQ(narrower.areas[0], (Rect{99, 220, 22, 50}));
    // Lower: the strip between the two bottom edges.
    Invalidation lower = InvalidateAfterUpdate(memory, false, 80, 30, 0, 0);
    ASSERT_EQ(lower.areas.size(), 1u);
    EXPECT_EQ(lower.areas[0], (Rect{20, 249, 80, 22}));
    // A new offset: the whole picture; with both offsets above 0 less the last.
    Invalidation moved = InvalidateAfterUpdate(memory, false, 80, 30, 5, 0);
    ASSERT_EQ(moved.areas.size(), 1u);
    EXPECT_EQ(moved.areas[0], (Rect{20, 220, 80, 30}));
    Invalidation movedAgain = InvalidateAfterUpdate(memory, false, 80, 30, 7, 0);
    ASSERT_EQ(movedAgain.areas.size(), 1u);
    EXPECT_EQ(movedAgain.areas[0], (Rect{20, 220, 75, 30}));
    // Nothing changed: nothing repainted.
    EXPECT_TRUE(InvalidateAfterUpdate(memory, false, 80, 30, 7, 0).areas.empty());
}

TEST(ViewLogicTest, OpenDialogStartsFromTheLastFolderAndExtension)
{
    EXPECT_EQ(InitialOpenFileName(""), "*.*");
    EXPECT_EQ(InitialOpenFileName("/logos/shop.bmp"), "/logos/*.bmp");
    EXPECT_EQ(InitialOpenFileName("/a.b/logo"), "/a.b/*.*");
    EXPECT_EQ(InitialOpenFileName("logo.old.gfx"), "*.old.gfx");
    EXPECT_EQ(InitialOpenFileName("/x/"), "/x/*.*");
}

TEST(ViewLogicTest, WaitDashesDoubleUpTo32AndStartOver)
{
    std::string dashes = "-";
    const size_t message = std::strlen(kWaitText);
    std::vector<size_t> counts;
    for (int tick = 1; tick <= 7; ++tick) {
        std::string text = NextWaitText(dashes);
        size_t count = (text.size() - message) / 2;
        EXPECT_EQ(text, std::string(count, '-') + kWaitText + std::string(count, '-'));
        counts.push_back(count);
    }
    // Five ticks: 16 dashes a side; after the sixth the dashes are one again.
    EXPECT_EQ(counts, (std::vector<size_t>{1, 2, 4, 8, 16, 32, 1}));
}

TEST(ViewLogicTest, StatusTexts)
{
    EXPECT_EQ(PictureSizeText(576, 240), "Width:576 - Height:240");
    EXPECT_EQ(PictureBytesText(17342), "17342 bytes");
    EXPECT_EQ(StatusBarAccessibleText({"Input picture displayed - Ready to communicate", "Width:576 - Height:240",
                                       "  17342 bytes", "", "NUM", "   "}),
              "Input picture displayed - Ready to communicate\nWidth:576 - Height:240\n17342 bytes\nNUM");
}

TEST(ViewLogicTest, EveryCommandHasOneToolkitIdBelowTheLimit)
{
    const int commands[] = {ID_WINDOW_INPUT, ID_WINDOW_OUTPUT, ID_HELP_MANUAL, ID_BACKGROUND_COLOR,
                            ID_FILE_NEW,     ID_FILE_OPEN,     ID_FILE_SAVE,   ID_FILE_SAVE_AS,
                            ID_FILE_MRU_FIRST, ID_FILE_MRU_FIRST + 3, ID_APP_ABOUT, ID_APP_EXIT};
    std::set<int> seen;
    for (int id : commands) {
        int wx = command_table::ToWxId(id);
        EXPECT_GT(wx, 0) << id;
        EXPECT_LT(wx, 0x7FFF) << id;
        EXPECT_TRUE(seen.insert(wx).second) << id;
        EXPECT_EQ(command_table::ToSystemId(wx), id);
    }
    EXPECT_EQ(command_table::ToWxId(ID_FILE_MRU_FIRST + 4), 0);
    EXPECT_EQ(command_table::ToSystemId(1), 0);
}
