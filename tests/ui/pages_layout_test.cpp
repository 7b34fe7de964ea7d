// The three pages' layouts as pure functions: the figures of a page resized
// to a given size, and nothing moving at 400 pixels or less.
#include "page_layout.h"

#include <gtest/gtest.h>

#include <cstring>

using page_layout::CommunicationRects;
using page_layout::DownloadRects;
using page_layout::PictureInfoRects;
using page_layout::Rect;

namespace {

/// The Download page's controls as created: sizes of their own, somewhere.
DownloadRects DownloadControls()
{
    DownloadRects r;
    r.progress = {3, 3, 100, 16};
    r.logoNumberLabel = {7, 7, 70, 30};
    r.logoNumber = {7, 7, 70, 30};
    for (Rect* button : {&r.upload, &r.download, &r.print, &r.setup, &r.erase, &r.refresh})
        *button = {1, 1, 80, 30};
    for (Rect* radio : {&r.x1hx1w, &r.x1hx2w, &r.x2hx1w})
        *radio = {2, 2, 75, 30};
    r.x2hx2w = {2, 2, 90, 20};
    for (int line = 0; line < 3; ++line) {
        r.memoryLabels[line] = {4, 4, 200 + line, 24};
        r.memoryValues[line] = {4, 4, 70, 24};
        r.memoryUnits[line] = {4, 4, 40, 24};
    }
    return r;
}

TEST(DownloadPageLayout, APage800WideGetsALeftFrame363Wide)
{
    DownloadRects r = DownloadControls();
    ASSERT_TRUE(page_layout::LayoutDownloadPage(800, 160, r));
    EXPECT_EQ(r.progress, (Rect{0, 144, 800, 16}));
    EXPECT_EQ(r.leftFrame, (Rect{0, 0, 363, 144}));
    EXPECT_EQ(r.logoNumberLabel, (Rect{5, 20, 70, 30}));
    EXPECT_EQ(r.logoNumber, (Rect{(363 - 85) / 2 + 20, 20, 70, 30}));
    EXPECT_EQ(r.upload, (Rect{273, 20, 80, 30}));
    EXPECT_EQ(r.x1hx1w, (Rect{5, 60, 75, 30}));
    EXPECT_EQ(r.x1hx2w, (Rect{(363 - 150) / 2 + 40, 60, 75, 30}));
    EXPECT_EQ(r.download, (Rect{273, 60, 80, 30}));
    EXPECT_EQ(r.x2hx1w, (Rect{5, 100, 75, 30}));
    // The last radio button takes the size of the one on its left.
    EXPECT_EQ(r.x2hx2w, (Rect{146, 100, 75, 30}));
    EXPECT_EQ(r.print, (Rect{273, 100, 80, 30}));

    EXPECT_EQ(r.rightFrame, (Rect{373, 0, 427, 144}));
    const int valueColumn = 671;  // trunc(427 * 0.7 + 373)
    for (int line = 0; line < 3; ++line) {
        SCOPED_TRACE(line);
        EXPECT_EQ(r.memoryLabels[line], (Rect{383, 10 + 30 * line, 200 + line, 24}));
        EXPECT_EQ(r.memoryValues[line], (Rect{valueColumn, 10 + 30 * line, 70, 24}));
        EXPECT_EQ(r.memoryUnits[line], (Rect{760, 10 + 30 * line, 40, 24}));
    }
    EXPECT_EQ(r.setup, (Rect{383, 104, 80, 30}));
    EXPECT_EQ(r.erase, (Rect{710, 104, 80, 30}));
    EXPECT_EQ(r.refresh, (Rect{427 / 2 - 40 + 373, 104, 80, 30}));
}

TEST(DownloadPageLayout, FractionsAreTruncated)
{
    DownloadRects r = DownloadControls();
    ASSERT_TRUE(page_layout::LayoutDownloadPage(1000, 200, r));
    EXPECT_EQ(r.leftFrame.width, 454);             // 454.54...
    EXPECT_EQ(r.rightFrame, (Rect{464, 0, 536, 184}));
    EXPECT_EQ(r.memoryValues[0].x, 839);           // 536 * 0.7 + 464 = 839.2
    EXPECT_EQ(r.refresh.x, 536 / 2 - 80 / 2 + 464);

    ASSERT_TRUE(page_layout::LayoutDownloadPage(401, 160, r));
    EXPECT_EQ(r.leftFrame.width, 182);  // 182.27...
}

TEST(PageLayouts, NothingMovesAt400PixelsOrLess)
{
    for (int width : {400, 250, 0, -5}) {
        SCOPED_TRACE(width);
        DownloadRects download = DownloadControls();
        const DownloadRects downloadBefore = download;
        EXPECT_FALSE(page_layout::LayoutDownloadPage(width, 300, download));
        EXPECT_EQ(std::memcmp(&download, &downloadBefore, sizeof download), 0);

        CommunicationRects communication;
        communication.serialPorts = {9, 9, 120, 30};
        const CommunicationRects communicationBefore = communication;
        EXPECT_FALSE(page_layout::LayoutCommunicationPage(width, 300, communication));
        EXPECT_EQ(std::memcmp(&communication, &communicationBefore, sizeof communication), 0);

        PictureInfoRects info;
        info.outputWidth = {9, 9, 60, 24};
        const PictureInfoRects infoBefore = info;
        EXPECT_FALSE(page_layout::LayoutPictureInfoPage(width, 300, info));
        EXPECT_EQ(std::memcmp(&info, &infoBefore, sizeof info), 0);
    }
}

TEST(CommunicationPageLayout, ListsLineUpInTheRightFrame)
{
    CommunicationRects r;
    Rect* labels[] = {&r.portLabel, &r.baudLabel, &r.parityLabel, &r.stopBitsLabel, &r.handshakeLabel};
    for (int row = 0; row < 5; ++row)
        *labels[row] = {2, 5 + 31 * row, 60, 30};
    r.serialPorts = {1, 5, 120, 30};
    r.parallelPorts = {50, 50, 10, 10};
    r.baudRate = {1, 36, 100, 30};
    r.parity = {1, 67, 101, 30};
    r.stopBits = {1, 98, 102, 30};
    r.handshaking = {1, 129, 103, 30};

    ASSERT_TRUE(page_layout::LayoutCommunicationPage(801, 160, r));
    EXPECT_EQ(r.leftFrame, (Rect{0, 0, 390, 160}));
    EXPECT_EQ(r.rightFrame, (Rect{410, 0, 390, 160}));
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(*labels[row], (Rect{430, 5 + 31 * row, 350, 30})) << row;
    EXPECT_EQ(r.serialPorts, (Rect{535, 5, 120, 30}));
    EXPECT_EQ(r.parallelPorts, r.serialPorts);  // one place for both port lists
    EXPECT_EQ(r.baudRate, (Rect{535, 36, 100, 30}));
    EXPECT_EQ(r.parity, (Rect{535, 67, 101, 30}));
    EXPECT_EQ(r.stopBits, (Rect{535, 98, 102, 30}));
    EXPECT_EQ(r.handshaking, (Rect{535, 129, 103, 30}));
}

TEST(PictureInfoPageLayout, OutputColumnsFollowTheWidthField)
{
    PictureInfoRects r;
    r.inputFile = {10, 18, 200, 24};
    r.outputFile = {0, 18, 200, 24};
    for (Rect* label : {&r.typeLabel, &r.sizeLabel, &r.widthLabel, &r.heightLabel})
        *label = {0, 50, 40, 24};
    r.outputType = {0, 46, 130, 30};
    r.outputSize = {0, 79, 60, 24};
    r.outputWidth = {0, 106, 60, 24};
    r.outputHeight = {0, 133, 64, 24};

    ASSERT_TRUE(page_layout::LayoutPictureInfoPage(800, 160, r));
    EXPECT_EQ(r.inputFrame, (Rect{0, 0, 390, 160}));
    EXPECT_EQ(r.outputFrame, (Rect{410, 0, 390, 160}));
    EXPECT_EQ(r.inputFile, (Rect{10, 18, 335, 24}));
    EXPECT_EQ(r.openButton, (Rect{345, 18, 15, 24}));
    EXPECT_EQ(r.outputFile, (Rect{430, 18, 335, 24}));
    EXPECT_EQ(r.saveAsButton, (Rect{765, 18, 15, 24}));
    EXPECT_EQ(r.typeLabel.x, 430);
    EXPECT_EQ(r.heightLabel.x, 430);
    EXPECT_EQ(r.outputType, (Rect{470, 46, 130, 30}));
    EXPECT_EQ(r.outputSize, (Rect{470, 79, 60, 24}));
    EXPECT_EQ(r.bytesLabel, (Rect{540, 79, 60, 24}));

    // Width row: w = 60.
    EXPECT_EQ(r.outputWidth, (Rect{470, 106, 60, 24}));
    EXPECT_EQ(r.widthSpin, (Rect{530, 106, 15, 24}));
    EXPECT_EQ(r.offsetXLabel, (Rect{560, 106, 35, 24}));
    EXPECT_EQ(r.offsetX, (Rect{600, 106, 60, 24}));
    EXPECT_EQ(r.offsetXSpin, (Rect{660, 106, 15, 24}));
    // Height row: its own field's width, w = 64.
    EXPECT_EQ(r.heightSpin, (Rect{534, 133, 15, 24}));
    EXPECT_EQ(r.offsetYLabel, (Rect{564, 133, 35, 24}));
    EXPECT_EQ(r.offsetY, (Rect{604, 133, 64, 24}));
    EXPECT_EQ(r.offsetYSpin, (Rect{668, 133, 15, 24}));

    // A wider "..." button where the toolkit needs one.
    r.browseButtonWidth = 26;
    ASSERT_TRUE(page_layout::LayoutPictureInfoPage(601, 160, r));
    EXPECT_EQ(r.inputFile.width, 235);
    EXPECT_EQ(r.openButton, (Rect{245, 18, 26, 24}));
    EXPECT_EQ(r.saveAsButton.width, 26);
}

}  // namespace
