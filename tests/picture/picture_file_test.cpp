#include "bmp_file.h"
#include "logo_file.h"
#include "picture_loader.h"

#include "picture_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace picture_test;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

size_t FilesIn(const std::filesystem::path& folder)
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

}  // namespace

TEST(PictureFile, OpenForReadingLoadsTheWholeFile)
{
    TempDir dir;
    const std::vector<uint8_t> content = RandomBits(1000, 1, 3);
    WriteFileBytes(dir / "in.bin", content);
    BmpFile file((dir / "in.bin").string());
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OK) << error;
    EXPECT_EQ(file.Size(), content.size());
    EXPECT_TRUE(std::equal(content.begin(), content.end(), file.RawData().begin(), file.RawData().end()));
    EXPECT_TRUE(file.IsFileOpen());  // until Decode

    WriteFileBytes(dir / "empty.bin", {});
    BmpFile empty((dir / "empty.bin").string());
    ASSERT_EQ(empty.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OK) << error;
    EXPECT_TRUE(empty.HasRawData());
    EXPECT_EQ(empty.Size(), 0u);
}

TEST(PictureFile, OpenFailuresNameThePath)
{
    TempDir dir;
    std::string error;
    const std::string missing = (dir / "missing.bmp").string();
    BmpFile reader(missing);
    EXPECT_EQ(reader.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : " + missing);

    BmpFile folder(dir.path().string());
    EXPECT_EQ(folder.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OPEN_FAILED);
    EXPECT_EQ(folder.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);

    const std::string nowhere = (dir / "no such folder" / "out.bmp").string();
    BmpFile writer(nowhere);
    EXPECT_EQ(writer.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : " + nowhere);

    // A pipe with no writer: refused at once rather than waited on; and not
    // replaced by a regular file when named as the target of a write.
    const std::string pipe = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    BmpFile fifo(pipe);
    EXPECT_EQ(fifo.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : " + pipe);
    error.clear();
    EXPECT_EQ(fifo.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : " + pipe);
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    std::filesystem::remove(pipe);

    // Beyond the size read into memory: said so, not taken for a lack of memory.
    const std::string huge = (dir / "huge.bmp").string();
    {
        std::ofstream file(huge, std::ios::binary);
        file << "BM";
    }
    std::filesystem::resize_file(huge, kMaxRawFileBytes + 1);  // sparse: no disk used
    BmpFile large(huge);
    EXPECT_EQ(large.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_NO_MEMORY);
    EXPECT_EQ(error, "Error - Picture file too large (67108865 bytes; at most 64 MiB are read)");
    std::filesystem::remove(huge);

    BmpFile unnamed("");
    EXPECT_EQ(unnamed.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : ");
    EXPECT_EQ(FilesIn(dir.path()), 0u);
}

TEST(PictureFile, WriteReplacesAnExistingFileOnlyWhenComplete)
{
    TempDir dir;
    const auto target = dir / "logo.log";
    const std::vector<uint8_t> before{'o', 'l', 'd'};
    WriteFileBytes(target, before);
    std::string error;

    // Refused by the encoder: the old file stays byte for byte, no temporary left.
    {
        LogoFile file(target.string());
        ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
        file.SetPicture(std::vector<uint8_t>(3000 / 8 * 8, 0xFF));
        uint32_t width = 3000, height = 8;
        EXPECT_EQ(file.Write(width, height, error), PR_INVALID);
        EXPECT_FALSE(file.IsFileOpen());
        EXPECT_EQ(ReadFileBytes(target), before);
        EXPECT_EQ(FilesIn(dir.path()), 1u);
    }
    // Opened for writing but destroyed before Write: nothing changes either.
    {
        LogoFile file(target.string());
        ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    }
    EXPECT_EQ(ReadFileBytes(target), before);
    EXPECT_EQ(FilesIn(dir.path()), 1u);

    // A successful write replaces it, keeping its permissions.
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    LogoFile file(target.string());
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    file.SetPicture(std::vector<uint8_t>(8, 0));
    uint32_t width = 8, height = 8;
    ASSERT_EQ(file.Write(width, height, error), PR_OK) << error;
    EXPECT_EQ(ReadFileBytes(target).size(), 12u);
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(file.Size(), 12u);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(PictureFile, WriteThroughASymbolicLinkReplacesTheFileItNames)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "store");
    const auto stored = dir / "store" / "logo.log";
    WriteFileBytes(stored, {'o', 'l', 'd'});
    const auto link = dir / "current.log";
    std::filesystem::create_symlink("store/logo.log", link);

    LogoFile file(link.string());
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    file.SetPicture(std::vector<uint8_t>(8, 0));
    uint32_t width = 8, height = 8;
    ASSERT_EQ(file.Write(width, height, error), PR_OK) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(stored).size(), 12u);
    EXPECT_EQ(FilesIn(dir / "store"), 1u);
    EXPECT_EQ(FilesIn(dir.path()), 2u);

    // A link whose file does not exist yet: the file is created where the
    // link points, through a second link too, and the links are kept.
    const auto dangling = dir / "next.log";
    std::filesystem::create_symlink("via.log", dangling);
    std::filesystem::create_symlink(dir / "store" / "new.log", dir / "via.log");
    LogoFile created(dangling.string());
    ASSERT_EQ(created.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    created.SetPicture(std::vector<uint8_t>(8, 0));
    ASSERT_EQ(created.Write(width, height, error), PR_OK) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "via.log"));
    EXPECT_EQ(ReadFileBytes(dir / "store" / "new.log").size(), 12u);

    // A loop of links ends nowhere: refused, nothing replaced.
    std::filesystem::create_symlink("loop-b.log", dir / "loop-a.log");
    std::filesystem::create_symlink("loop-a.log", dir / "loop-b.log");
    LogoFile loop((dir / "loop-a.log").string());
    EXPECT_EQ(loop.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "loop-a.log"));
}

TEST(PictureFile, NewFilesGetThePermissionsOfAnOrdinaryCreate)
{
    TempDir dir;
    const mode_t previous = umask(027);
    LogoFile file((dir / "new.log").string());
    std::string error;
    PictureResult opened = file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error);
    umask(previous);
    ASSERT_EQ(opened, PR_OK) << error;
    file.SetPicture(std::vector<uint8_t>(8, 0));
    uint32_t width = 8, height = 8;
    ASSERT_EQ(file.Write(width, height, error), PR_OK) << error;
    struct stat info {};
    ASSERT_EQ(stat((dir / "new.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(PictureFile, WriteKeepsOutOfFilesItMayNotWrite)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser may write any file";
    TempDir dir;
    const auto target = dir / "locked.bmp";
    WriteFileBytes(target, {1, 2, 3});
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    BmpFile file(target.string());
    std::string error;
    EXPECT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OPEN_FAILED);
    EXPECT_EQ(error, "Error - File Open : " + target.string());
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(PictureFile, LongFileNamesCanBeWritten)
{
    TempDir dir;
    const auto target = dir / (std::string(250, 'n') + ".log");
    LogoFile file(target.string());
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    file.SetPicture(std::vector<uint8_t>(8, 0));
    uint32_t width = 8, height = 8;
    ASSERT_EQ(file.Write(width, height, error), PR_OK) << error;
    EXPECT_EQ(ReadFileBytes(target).size(), 12u);
}

TEST(PictureFile, ShortWriteLeavesTheEarlierFile)
{
    TempDir dir;
    const auto target = dir / "logo.log";
    const std::vector<uint8_t> before(50, 0x42);
    WriteFileBytes(target, before);
    LogoFile file(target.string());
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    file.SetPicture(std::vector<uint8_t>(13 * 30, 0xFF));

    // A file size limit makes the write stop short (EFBIG instead of a signal).
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    uint32_t width = 100, height = 30;
    PictureResult result = file.Write(width, height, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, PR_WRITE_FAILED);
    EXPECT_EQ(error, "Error - File Write");
    EXPECT_FALSE(file.IsFileOpen());
    EXPECT_EQ(ReadFileBytes(target), before);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(PictureFile, WriteWithoutOpenFails)
{
    LogoFile file("");
    file.SetPicture(std::vector<uint8_t>(8, 0));
    uint32_t width = 8, height = 8;
    std::string error;
    EXPECT_EQ(file.Write(width, height, error), PR_WRITE_FAILED);
    EXPECT_EQ(error, "Error - File Write");
}

TEST(PictureFile, SetPictureAndSetRawDataKeepTheirOwnCopies)
{
    BmpFile file("");
    std::vector<uint8_t> bytes{1, 2, 3};
    file.SetPicture(bytes);
    EXPECT_EQ(file.Size(), 0u);  // the writer learns the size from Write
    EXPECT_EQ(file.Width(), 0u);
    EXPECT_EQ(file.SetRawData(bytes.data(), 2), 2u);
    EXPECT_EQ(file.Size(), 2u);
    bytes[0] = 9;
    EXPECT_EQ(BitsOf(file), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::vector<uint8_t>(file.RawData().begin(), file.RawData().end()), (std::vector<uint8_t>{1, 2}));
    file.SetRawData(nullptr, 0);
    EXPECT_TRUE(file.HasRawData());
    EXPECT_EQ(file.Size(), 0u);
}

TEST(PictureFile, DecodeNeedsRawBytesInEveryFormat)
{
    const std::vector<uint8_t> black(24, 0xFF);  // 8 x 24
    for (PictureType type : kPictureSearchOrder) {
        SCOPED_TRACE(PictureTypeDisplayString(type));
        std::string error;
        std::unique_ptr<PictureFile> empty = CreatePictureFile(type, "");
        EXPECT_FALSE(empty->Decode(error));
        EXPECT_EQ(error.rfind("Error - ", 0), 0u) << error;
        EXPECT_FALSE(empty->HasPicture());

        // A second Decode has no bytes left: it fails and keeps the picture.
        std::unique_ptr<PictureFile> writer = CreatePictureFile(type, "");
        writer->SetPicture(black);
        uint32_t width = 8, height = 24;
        std::vector<uint8_t> encoded;
        ASSERT_EQ(writer->Encode(width, height, error, encoded), PR_OK) << error;
        std::unique_ptr<PictureFile> reader = CreatePictureFile(type, "");
        ASSERT_EQ(DecodeBytes(*reader, encoded, error), PR_OK) << error;
        error.clear();
        EXPECT_FALSE(reader->Decode(error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(BitsOf(*reader), black);
    }
}
