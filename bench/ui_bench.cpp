// Timing program for the desktop's picture display (run on an X server, e.g.
// under xvfb-run): repaints of a 2040 x 2040 picture as the view draws it,
// for the picture area of a 1280 x 1024 screen and for the whole picture.
// Prints the median and the longest of each series in milliseconds.
#include "picture_file.h"
#include "picture_loader.h"
#include "picture_painter.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/init.h>

#include <algorithm>
#include <chrono>
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
    wxEntryCleanup();
    return 0;
}
