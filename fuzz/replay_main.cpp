// Runs a fuzz target's input function over files, without libFuzzer: every
// argument is a file or a folder (searched recursively, in sorted order).
// A missing argument is reported and skipped, so a format with no test data
// yet still replays its corpus. Exits 1 when no input at all was found or a
// file could not be read, and dies (as libFuzzer would) when an input trips a check or a sanitizer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool Replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size heap copy, so a read one byte past the end is caught by
    // AddressSanitizer (an empty input gets a non-null pointer to no bytes).
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[content.size()]);
    std::copy(content.begin(), content.end(), bytes.get());
    LLVMFuzzerTestOneInput(bytes.get(), content.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    size_t unreadable = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path argument(argv[i]);
        std::error_code error;
        if (std::filesystem::is_regular_file(argument, error)) {
            (Replay(argument) ? replayed : unreadable) += 1;
            continue;
        }
        if (!std::filesystem::is_directory(argument, error)) {
            std::fprintf(stderr, "skipped %s: no such file or folder\n", argv[i]);
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (auto it = std::filesystem::recursive_directory_iterator(argument, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file())
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files)
            (Replay(file) ? replayed : unreadable) += 1;
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed > 0 && unreadable == 0 ? 0 : 1;
}
