#include "picture_painter.h"

#include "picture_file.h"
#include "view_logic.h"

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dc.h>
#include <wx/pen.h>
#include <wx/image.h>

#include <algorithm>
#include <array>
#include <cstring>

void PaintPicture(wxDC& dc, const wxSize& size, const wxColour& background, const PictureFile* picture, int h,
                  int v)
{
    dc.SetBackground(wxBrush(background));
    if (picture == nullptr || !picture->HasPicture()) {
        dc.Clear();
        return;
    }
    const int width = static_cast<int>(picture->Width());
    const int height = static_cast<int>(picture->Height());
    const int left = view_logic::kPictureLeft;
    const int top = view_logic::kPictureTop - view_logic::kTabHeight;
    // Only the dots that can show are made into a bitmap: a 2040 x 2040
    // picture costs what the window shows of it, not four million dots.
    const int shownWidth = std::min(width - h, size.x - left);
    const int shownHeight = std::min(height - v, size.y - top);
    if (shownWidth <= 0 || shownHeight <= 0) {
        dc.Clear();
        return;
    }
    // The background around the picture; the picture covers the rest.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(0, 0, size.x, top);
    dc.DrawRectangle(0, top, left, size.y - top);
    dc.DrawRectangle(left + shownWidth, top, size.x - left - shownWidth, size.y - top);
    dc.DrawRectangle(left, top + shownHeight, shownWidth, size.y - top - shownHeight);
    const std::span<const uint8_t> bits = picture->Bits();
    const size_t rowBytes = BytesPerRow(static_cast<uint32_t>(width));
    // Eight dots at a time: each byte of the picture (shifted to start at
    // dot h) becomes 24 bytes of RGB from a table.
    static const auto kExpand = [] {
        std::array<std::array<unsigned char, 24>, 256> table{};
        for (int byte = 0; byte < 256; ++byte) {
            for (int dot = 0; dot < 8; ++dot) {
                const unsigned char value = (byte & (0x80 >> dot)) != 0 ? 0 : 255;
                table[byte][dot * 3] = table[byte][dot * 3 + 1] = table[byte][dot * 3 + 2] = value;
            }
        }
        return table;
    }();
    wxImage image(shownWidth, shownHeight, false);
    unsigned char* rgb = image.GetData();
    const int shift = h % 8;
    const size_t firstByte = static_cast<size_t>(h) / 8;
    const size_t byteCount = (static_cast<size_t>(shownWidth) + 7) / 8;
    for (int y = 0; y < shownHeight; ++y) {
        const size_t rowStart = static_cast<size_t>(y + v) * rowBytes + firstByte;
        unsigned char* out = rgb + static_cast<size_t>(y) * shownWidth * 3;
        size_t remaining = static_cast<size_t>(shownWidth) * 3;
        for (size_t i = 0; i < byteCount; ++i) {
            const size_t index = rowStart + i;
            unsigned int byte = index < bits.size() ? bits[index] : 0u;
            if (shift != 0) {
                const unsigned int next = index + 1 < bits.size() ? bits[index + 1] : 0u;
                byte = ((byte << shift) | (next >> (8 - shift))) & 0xFFu;
            }
            const size_t n = std::min<size_t>(24, remaining);
            std::memcpy(out, kExpand[byte].data(), n);
            out += n;
            remaining -= n;
        }
    }
    dc.DrawBitmap(wxBitmap(image), left, top);
}

