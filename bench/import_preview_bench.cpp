// How long the import dialog's preview takes to follow a change: the dots of
// a picture recomputed for each method (the levels already decoded and
// fitted, as the dialog keeps them), and for a change of fit width (decoded
// and resampled again). A measuring program, not a test:
//   build/bin/marquen-bench-import-preview PICTURE [RUNS]
// prints the median and the slowest run of each, in milliseconds.
#include "import_question.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

template <typename Work>
void Measure(const char* what, int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-34s median %7.2f ms   slowest %7.2f ms\n", what, times[times.size() / 2], times.back());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PICTURE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    GreyPicture grey;
    std::string error;
    if (!ReadGreyPicture(bytes, 0, grey, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %u x %u, %d runs each\n", argv[1], grey.width, grey.height, runs);
    ImportPreview preview(bytes, grey);
    ImportedPicture dots;
    for (DitherMethod method : {DitherMethod::None, DitherMethod::Ordered, DitherMethod::FloydSteinberg,
                                DitherMethod::Atkinson, DitherMethod::Jarvis, DitherMethod::Stucki}) {
        ImportOptions options;
        options.dither.method = method;
        options.dither.brightness = 10;  // the tone table is part of every change
        std::string label = "method " + std::string(DitherMethodName(method));
        Measure(label.c_str(), runs, [&] { preview.Compute(options, dots, error); });
    }
    // A change of fit width decodes and resamples again (alternating widths,
    // so the kept levels never serve).
    int flip = 0;
    Measure("fit width change (384 <-> 640)", runs, [&] {
        ImportOptions options;
        options.fitWidth = (flip++ % 2) != 0 ? 384 : 640;
        if (!preview.Compute(options, dots, error))
            std::fprintf(stderr, "%s\n", error.c_str());
    });
    return 0;
}
