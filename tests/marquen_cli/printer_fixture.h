#pragma once
// What the marquen-cli tests that talk to a printer share: the communication
// server registered in the scratch configuration folder, a patterned one-bit
// bitmap to download, and the dots of a picture file to compare.
#include "picture_loader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace cli_printer_fixture {

/// Registers the built server in the registry of $XDG_CONFIG_HOME, which the
/// caller has set (the programs it starts inherit it).
inline void RegisterServer()
{
    std::filesystem::path module = testing_support::BinaryDir() / "libquorlink.so";
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<int32_t (*)()>(::dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), 0);
    ::dlclose(handle);
}

/// Writes a one-bit bitmap of width x height dots with a pattern to path.
inline void WritePatternBitmap(const std::filesystem::path& path, uint32_t width, uint32_t height)
{
    const uint32_t rowBytes = (width + 31) / 32 * 4;
    std::vector<uint8_t> file(62 + rowBytes * height, 0);
    auto put = [&](size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<uint32_t>(file.size()), 4);
    put(10, 62, 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);
    put(28, 1, 2);
    put(34, rowBytes * height, 4);
    put(54, 0x00FFFFFF, 4);
    for (size_t i = 62; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3));
    testing_support::WriteFileBytes(path, file);
}

/// The dots of a picture file; empty (and the test failed) when it cannot be
/// read.
inline std::vector<uint8_t> PictureBits(const std::string& path)
{
    LoadedPicture loaded = LoadPictureFile(path);
    EXPECT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    if (!loaded.picture)
        return {};
    return std::vector<uint8_t>(loaded.picture->Bits().begin(), loaded.picture->Bits().end());
}

}  // namespace cli_printer_fixture
