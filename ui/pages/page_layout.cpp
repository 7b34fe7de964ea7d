#include "page_layout.h"

#include <initializer_list>

namespace page_layout {

namespace {

void MoveTo(Rect& rect, int x, int y)
{
    rect.x = x;
    rect.y = y;
}

}  // namespace

bool LayoutCommunicationPage(int width, int height, CommunicationRects& r)
{
    if (width < kMinimumLayoutWidth)
        return false;
    const int half = width / 2;
    r.leftFrame = {0, 0, half - 10, height};
    r.rightFrame = {half + 10, 0, half - 10, height};
    const int left = r.rightFrame.x;
    const int right = r.rightFrame.Right();

    for (Rect* label : {&r.portLabel, &r.baudLabel, &r.parityLabel, &r.stopBitsLabel, &r.handshakeLabel}) {
        label->x = left + 20;
        label->width = right - left - 40;
    }
    r.serialPorts.x = left + 125;
    // One place for both port lists: only one of them is ever shown.
    r.parallelPorts = r.serialPorts;
    for (Rect* list : {&r.baudRate, &r.parity, &r.stopBits, &r.handshaking})
        list->x = left + 125;
    return true;
}

bool LayoutPictureInfoPage(int width, int height, PictureInfoRects& r)
{
    if (width < kMinimumLayoutWidth)
        return false;
    const int half = width / 2;
    r.inputFrame = {0, 0, half - 10, height};
    r.outputFrame = {half + 10, 0, half - 10, height};
    const int gl = r.outputFrame.x;
    const int gr = r.outputFrame.Right();

    r.inputFile.width = half - 65;
    r.openButton = {r.inputFile.Right(), r.inputFile.y, r.browseButtonWidth, r.inputFile.height};
    r.outputFile.x = gl + 20;
    r.outputFile.width = gr - gl - 55;
    r.saveAsButton = {r.outputFile.Right(), r.outputFile.y, r.browseButtonWidth, r.outputFile.height};

    for (Rect* label : {&r.typeLabel, &r.sizeLabel, &r.widthLabel, &r.heightLabel})
        label->x = gl + 20;
    for (Rect* control : {&r.outputType, &r.outputSize, &r.outputWidth, &r.outputHeight})
        control->x = gl + 60;
    r.bytesLabel = {gl + 130, r.outputSize.y, r.outputSize.width, r.outputSize.height};

    // Each size row carries its spin button, the offset's label, the offset
    // and its spin button, on columns set by the width of the size field.
    auto row = [gl](const Rect& edit, Rect& sizeSpin, Rect& offsetLabel, Rect& offset, Rect& offsetSpin) {
        const int w = edit.width;
        sizeSpin = {gl + 60 + w, edit.y, 15, edit.height};
        offsetLabel = {gl + 90 + w, edit.y, 35, edit.height};
        offset = {gl + 130 + w, edit.y, w, edit.height};
        offsetSpin = {gl + 130 + 2 * w, edit.y, 15, edit.height};
    };
    row(r.outputWidth, r.widthSpin, r.offsetXLabel, r.offsetX, r.offsetXSpin);
    row(r.outputHeight, r.heightSpin, r.offsetYLabel, r.offsetY, r.offsetYSpin);
    return true;
}

bool LayoutDownloadPage(int width, int height, DownloadRects& r)
{
    if (width < kMinimumLayoutWidth)
        return false;
    r.progress = {0, height - r.progress.height, width, r.progress.height};
    // Five elevenths, truncated as the stored factor gives it (800 -> 363).
    const int leftWidth = static_cast<int>(width * 0.45454545454545453);
    r.leftFrame = {0, 0, leftWidth, height - r.progress.height};

    const Rect a = r.leftFrame;
    const int middle = a.x + (a.width - 150) / 2 + 40;
    MoveTo(r.logoNumberLabel, a.x + 5, a.y + 20);
    MoveTo(r.logoNumber, (a.width - 85) / 2 + a.x + 20, a.y + 20);
    MoveTo(r.upload, a.Right() - 90, a.y + 20);
    MoveTo(r.x1hx1w, a.x + 5, a.y + 60);
    MoveTo(r.x1hx2w, middle, a.y + 60);
    MoveTo(r.download, a.Right() - 90, a.y + 60);
    MoveTo(r.x2hx1w, a.x + 5, a.y + 100);
    r.x2hx2w = {middle, a.y + 100, r.x2hx1w.width, r.x2hx1w.height};
    MoveTo(r.print, a.Right() - 90, a.y + 100);

    r.rightFrame = {a.Right() + 10, 0, width - a.width - 10, a.height};
    const Rect b = r.rightFrame;
    const int valueColumn = static_cast<int>(b.width * 0.7 + b.x);
    for (int line = 0; line < 3; ++line) {
        const int top = b.y + 10 + 30 * line;
        MoveTo(r.memoryLabels[line], b.x + 10, top);
        MoveTo(r.memoryValues[line], valueColumn, top);
        MoveTo(r.memoryUnits[line], b.Right() - 40, top);
    }
    MoveTo(r.setup, b.x + 10, b.Bottom() - r.setup.height - 10);
    MoveTo(r.erase, b.Right() - r.erase.width - 10, b.Bottom() - r.erase.height - 10);
    MoveTo(r.refresh, b.width / 2 - r.refresh.width / 2 + b.x, b.Bottom() - r.refresh.height - 10);
    return true;
}

}  // namespace page_layout
