#include "view_logic.h"

#include <algorithm>
#include <cstdio>

namespace view_logic {

namespace {

Rect MakeRect(int left, int top, int right, int bottom)
{
    return Rect{left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

}  // namespace

ScrollBarState ComputeScrollBar(int clientExtent, int margin, int pictureExtent)
{
    ScrollBarState bar;
    int room = std::max(0, clientExtent - margin);
    bar.range = std::max(0, pictureExtent);
    bar.visible = room < bar.range;
    bar.page = std::max(1, room);
    return bar;
}

ViewLayout ComputeViewLayout(int width, int height, int pictureWidth, int pictureHeight)
{
    ViewLayout layout;
    width = std::max(0, width);
    height = std::max(0, height);
    layout.horizontal = ComputeScrollBar(width, kPictureLeft * 2, pictureWidth);
    layout.vertical = ComputeScrollBar(height, kPictureTop, pictureHeight);

    layout.tabControl = Rect{0, 0, width, std::min(height, kTabHeight)};
    const int below = std::max(0, height - kTabHeight);
    // A bar needs room for its two arrows; where there is none there is no
    // picture to see either, and the bar stays hidden until the window grows.
    layout.vertical.visible = layout.vertical.visible && below >= 2 * kScrollBarSize;
    layout.horizontal.visible = layout.horizontal.visible && below >= kScrollBarSize && width >= 2 * kScrollBarSize;
    layout.verticalBar = Rect{std::max(0, width - kScrollBarSize), kTabHeight, std::min(width, kScrollBarSize), below};
    const int barWidth = layout.vertical.visible ? std::max(0, width - kScrollBarSize) : width;
    layout.horizontalBar =
        Rect{0, std::max(kTabHeight, height - kScrollBarSize), barWidth, std::min(below, kScrollBarSize)};
    const int areaWidth = layout.vertical.visible ? barWidth : width;
    int areaHeight = layout.horizontal.visible ? std::max(0, below - kScrollBarSize) : below;
    // Too low for a bar is too low for a picture that starts 20 pixels down:
    // a sliver of it that could not be scrolled is not shown.
    if (below < 2 * kScrollBarSize)
        areaHeight = 0;
    layout.pictureArea = Rect{0, kTabHeight, areaWidth, areaHeight};
    return layout;
}

int ScrollStep(ScrollCode code, int p, int limit, int thumb)
{
    switch (code) {
    case ScrollCode::LineUp:
        return p >= 1 ? p - 1 : p;
    case ScrollCode::LineDown:
        return p < limit ? p + 1 : p;
    case ScrollCode::PageUp:
        return p - 10 >= 1 ? p - 10 : p;
    case ScrollCode::PageDown:
        return p + 10 < limit ? p + 10 : p;
    case ScrollCode::ThumbPosition:
        return std::clamp(thumb, 0, std::max(0, limit));
    case ScrollCode::ThumbTrack:
    case ScrollCode::Other:
        break;
    }
    return p;
}

WheelAction WheelActionFor(bool horizontalVisible, bool verticalVisible, int delta)
{
    if (horizontalVisible && !verticalVisible)
        return delta > 0 ? WheelAction::PageLeft : WheelAction::PageRight;
    if (verticalVisible)
        return delta > 0 ? WheelAction::PageUp : WheelAction::PageDown;
    return WheelAction::None;
}

Invalidation InvalidateAfterUpdate(RepaintMemory& memory, bool showInput, int w, int h, int offsetX, int offsetY,
                                   int top)
{
    Invalidation result;
    if (showInput) {
        memory.lastOffsetX = 0;
        memory.lastOffsetY = 0;
        memory.lastWidth = -1;
        memory.lastHeight = -1;
        memory.repaintAll = true;
        result.wholeClient = true;
        return result;
    }
    if (memory.repaintAll) {
        memory.repaintAll = false;
        result.wholeClient = true;
        return result;
    }
    const int left = kPictureLeft;
    if (memory.lastWidth == -1 && memory.lastHeight == -1)
        result.areas.push_back(MakeRect(left, top, left + w, top + h));
    if (w != memory.lastWidth) {
        result.areas.push_back(MakeRect(std::min(w, memory.lastWidth) + left - 1, top,
                                        std::max(w, memory.lastWidth) + left + 1, top + h));
    }
    if (h != memory.lastHeight) {
        result.areas.push_back(MakeRect(left, std::min(h, memory.lastHeight) + top - 1, left + w,
                                        std::max(h, memory.lastHeight) + top + 1));
    }
    if (offsetX != memory.lastOffsetX) {
        int right = left + w - (offsetX > 0 && memory.lastOffsetX > 0 ? memory.lastOffsetX : 0);
        result.areas.push_back(MakeRect(left, top, right, top + h));
    }
    if (offsetY != memory.lastOffsetY) {
        int bottom = top + h - (offsetY > 0 && memory.lastOffsetY > 0 ? memory.lastOffsetY : 0);
        result.areas.push_back(MakeRect(left, top, left + w, bottom));
    }
    memory.lastWidth = w;
    memory.lastHeight = h;
    memory.lastOffsetX = offsetX;
    memory.lastOffsetY = offsetY;
    return result;
}

std::string InitialOpenFileName(const std::string& rememberedPath)
{
    if (rememberedPath.empty())
        return "*.*";
    std::string::size_type slash = rememberedPath.find_last_of('/');
    std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = rememberedPath.substr(nameStart);
    std::string::size_type dot = name.find('.');
    std::string pattern = dot == std::string::npos ? "*.*" : "*" + name.substr(dot);
    return rememberedPath.substr(0, nameStart) + pattern;
}

std::string NextWaitText(std::string& dashes)
{
    if (dashes.empty())
        dashes = "-";
    std::string text = dashes + kWaitText + dashes;
    if (text.size() <= 120)
        dashes += dashes;
    else
        dashes = "-";
    return text;
}

std::string PictureSizeText(uint32_t width, uint32_t height)
{
    char text[64];
    std::snprintf(text, sizeof text, "Width:%u - Height:%u", width, height);
    return text;
}

std::string PictureBytesText(uint64_t size)
{
    char text[48];
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(size));
    return text;
}

std::string StatusBarAccessibleText(const std::vector<std::string>& panes)
{
    std::string text;
    for (const std::string& pane : panes) {
        std::string::size_type first = pane.find_first_not_of(' ');
        if (first == std::string::npos)
            continue;
        std::string::size_type last = pane.find_last_not_of(' ');
        if (!text.empty())
            text += '\n';
        text += pane.substr(first, last - first + 1);
    }
    return text;
}

}  // namespace view_logic
