// The printer's command interpreter byte for byte, with no transport: what
// each command answers, how the logo memory is kept, and that a command split
// anywhere across reads is still understood.
#include "printer_model.h"

#include "bmp_file.h"
#include "logo_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vprinter;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A Define logo of x*8 by y*8 dots whose data bytes follow a pattern, so
// that a transposed or mirrored upload cannot pass for the original.
Bytes DefineLogo(uint8_t x, uint8_t y)
{
    Bytes stream{0x1D, 0x2A, x, y};
    for (size_t i = 0; i < size_t{x} * y * 8; ++i)
        stream.push_back(static_cast<uint8_t>(i * 37 + 11));
    return stream;
}

Bytes Select(uint8_t n) { return {0x1D, 0x23, n}; }
Bytes Status(uint8_t n) { return {0x1F, 0x65, n}; }
const Bytes kUpload{0x1F, 0x6A};
const Bytes kErase{0x1D, 0x40, 0x31};
const Bytes kTotalMemory{0x1D, 0x0B};
const Bytes kLogoArea{0x1F, 0x07, 0x55};
const Bytes kFreeMemory{0x1F, 0x77, 0x01};
Bytes SetArea(uint8_t s) { return {0x1D, 0x22, 0x55, s, 0x00}; }
Bytes Print(uint8_t m) { return {0x1D, 0x2F, m}; }

const Clock::time_point kStart{};

Bytes Exchange(PrinterModel& model, const Bytes& in, Clock::time_point now = kStart)
{
    EXPECT_EQ(model.Feed(in, now), in.size());
    return model.TakeOutput(now);
}

Bytes FreeMemoryAnswer(const std::string& digits)
{
    Bytes answer(digits.begin(), digits.end());
    answer.resize(8, 0x00);
    return answer;
}

}  // namespace

TEST(PrinterModel, ChecksumOfTheWholeStreamIsReportedLowByteFirst)
{
    Bytes stream{0x1D, 0x2A, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(LogoChecksum(stream), 0xF7BF);

    PrinterModel model;
    EXPECT_EQ(Exchange(model, Cat({Select(3), stream, Status(3)})), (Bytes{0x03, 0x01, 0xBF, 0xF7}));
    EXPECT_EQ(model.Slot(3).stream, stream);
    EXPECT_EQ(model.DefineCount(3), 1u);

    // A byte sum that is a multiple of 65536 gives checksum 0, reported as
    // a stored logo with 00 00: 1D 2A 21 01 (105), 256 x FF, 151, seven 00.
    Bytes zero{0x1D, 0x2A, 0x21, 0x01};
    zero.insert(zero.end(), 256, 0xFF);
    zero.push_back(151);
    zero.insert(zero.end(), 7, 0x00);
    ASSERT_EQ(zero.size(), 4u + 33 * 8);
    EXPECT_EQ(LogoChecksum(zero), 0);
    EXPECT_EQ(Exchange(model, Cat({Select(4), zero, Status(4)})), (Bytes{0x04, 0x01, 0x00, 0x00}));
}

TEST(PrinterModel, EmptySlotStatusAndLastSlotNumber)
{
    PrinterModel model;
    EXPECT_EQ(Exchange(model, Status(0xFF)), (Bytes{0xFF, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(model.StoreLogo(0xFF, DefineLogo(1, 1)));
    uint16_t checksum = LogoChecksum(DefineLogo(1, 1));
    EXPECT_EQ(Exchange(model, Status(0xFF)),
              (Bytes{0xFF, 0x01, static_cast<uint8_t>(checksum), static_cast<uint8_t>(checksum >> 8)}));
}

TEST(PrinterModel, CommandsSplitAtEveryByteBoundaryGiveTheSameAnswers)
{
    const Bytes script = Cat({{0x41, 0x0A}, Select(7), DefineLogo(2, 1), Status(7), Print(1), kFreeMemory,
                              kTotalMemory, kLogoArea, SetArea(5), Select(7), kUpload, Status(8), {0x1D}, Select(2)});
    PrinterModel whole;
    const Bytes expected = Exchange(whole, script);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(whole.SelectedSlot(), 2);

    for (size_t cut = 1; cut < script.size(); ++cut) {
        PrinterModel model;
        Bytes first(script.begin(), script.begin() + static_cast<ptrdiff_t>(cut));
        Bytes second(script.begin() + static_cast<ptrdiff_t>(cut), script.end());
        Bytes out = Exchange(model, first);
        Bytes rest = Exchange(model, second);
        out.insert(out.end(), rest.begin(), rest.end());
        ASSERT_EQ(out, expected) << "cut at " << cut;
        ASSERT_EQ(model.Slot(7).stream, whole.Slot(7).stream) << "cut at " << cut;
    }

    PrinterModel byteByByte;
    Bytes out;
    for (uint8_t byte : script) {
        Bytes reply = Exchange(byteByByte, {byte});
        out.insert(out.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(byteByByte.UnknownBytes(), whole.UnknownBytes());
    EXPECT_EQ(byteByByte.PrintLog().size(), 1u);
}

TEST(PrinterModel, UploadSendsTheStoredLogoAsABottomUpBitmapFile)
{
    PrinterModel model;
    const Bytes stream = DefineLogo(3, 2);  // 24 x 16 dots
    Exchange(model, Cat({Select(9), stream}));
    const Bytes answer = Exchange(model, Cat({Select(9), kUpload}));

    ASSERT_GT(answer.size(), 63u);
    EXPECT_EQ(answer[0], 0x6A);
    const Bytes file(answer.begin() + 1, answer.end());
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(file.size(), 62u + 16 * 4);  // 16 rows of one 32-bit word
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), (Bytes{0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0}));

    LogoFile logo("");
    logo.SetRawData(stream);
    std::string error;
    ASSERT_EQ(logo.Identify(error), PR_OK);
    ASSERT_TRUE(logo.Decode(error));
    BmpFile bitmap("");
    bitmap.SetRawData(file);
    ASSERT_EQ(bitmap.Identify(error), PR_OK) << error;
    ASSERT_TRUE(bitmap.Decode(error));
    EXPECT_EQ(bitmap.Width(), 24u);
    EXPECT_EQ(bitmap.Height(), 16u);
    EXPECT_EQ(Bytes(bitmap.Bits().begin(), bitmap.Bits().end()), Bytes(logo.Bits().begin(), logo.Bits().end()));

    // Bottom-up: the file's first row is the logo's last; the dot at column c,
    // row 15 is bit 7 - (15 mod 8) of data byte c * 2 + 1.
    const uint8_t firstFileByte = file[62];
    for (int c = 0; c < 8; ++c) {
        bool black = (stream[4 + c * 2 + 1] >> 0) & 1;
        EXPECT_EQ(((firstFileByte >> (7 - c)) & 1) != 0, black) << "column " << c;
    }
}

TEST(PrinterModel, UploadOfAnEmptySlotIsThreeBytes)
{
    PrinterModel model;
    ASSERT_TRUE(model.StoreLogo(1, DefineLogo(1, 1)));
    EXPECT_EQ(Exchange(model, Cat({Select(2), kUpload})), (Bytes{0x6A, 0x00, 0x00}));
}

TEST(PrinterModel, EraseEmptiesEverySlotAndAnswersOnlyAfterTheDelay)
{
    PrinterConfig config;
    config.eraseDelay = milliseconds(500);
    PrinterModel model(config);
    ASSERT_TRUE(model.StoreLogo(0, DefineLogo(1, 1)));
    ASSERT_TRUE(model.StoreLogo(200, DefineLogo(2, 2)));

    EXPECT_TRUE(Exchange(model, kErase).empty());
    EXPECT_FALSE(model.Slot(0).stored);
    EXPECT_FALSE(model.Slot(200).stored);
    EXPECT_EQ(model.UsedLogoBytes(), 0u);
    ASSERT_TRUE(model.NextDeadline().has_value());
    EXPECT_EQ(*model.NextDeadline(), kStart + milliseconds(500));

    // Commands keep being answered meanwhile; the 0D follows them when due.
    EXPECT_EQ(Exchange(model, Status(0), kStart + milliseconds(100)), (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(model.TakeOutput(kStart + milliseconds(499)).empty());
    EXPECT_EQ(model.TakeOutput(kStart + milliseconds(500)), (Bytes{0x0D}));
    EXPECT_FALSE(model.NextDeadline().has_value());
    EXPECT_TRUE(model.TakeOutput(kStart + milliseconds(5000)).empty());
}

TEST(PrinterModel, MemoryQueriesReportTheFigures)
{
    PrinterModel model;  // 2048 kbytes in all, 256 for logos
    EXPECT_EQ(Exchange(model, kTotalMemory), (Bytes{0x20}));
    EXPECT_EQ(Exchange(model, kLogoArea), (Bytes{0x55, 0x04, 0x00}));
    EXPECT_EQ(Exchange(model, kFreeMemory), FreeMemoryAnswer("262144"));

    Exchange(model, Cat({Select(4), DefineLogo(16, 8)}));  // 4 + 1024 bytes
    EXPECT_EQ(Exchange(model, kFreeMemory), FreeMemoryAnswer("261116"));
    // Replacing a logo frees what it held.
    Exchange(model, Cat({Select(4), DefineLogo(1, 1)}));
    EXPECT_EQ(model.UsedLogoBytes(), 12u);
    EXPECT_EQ(Exchange(model, kFreeMemory), FreeMemoryAnswer("262132"));

    PrinterConfig largest;
    largest.totalMemoryKbytes = kMaxMemoryKbytes;
    largest.logoAreaKbytes = kMaxMemoryKbytes;
    PrinterModel big(largest);
    EXPECT_EQ(Exchange(big, kTotalMemory), (Bytes{0xFF}));
    EXPECT_EQ(Exchange(big, kFreeMemory), FreeMemoryAnswer("16711680"));
}

TEST(PrinterModel, SetLogoAreaAcceptsWhatFitsAndRefusesTheRest)
{
    PrinterModel model;
    EXPECT_EQ(Exchange(model, SetArea(5)), (Bytes{0x06}));
    EXPECT_EQ(model.Config().logoAreaKbytes, 320u);
    EXPECT_EQ(Exchange(model, SetArea(32)), (Bytes{0x06}));  // the whole 2048
    EXPECT_EQ(Exchange(model, SetArea(33)), (Bytes{0x15}));
    EXPECT_EQ(model.Config().logoAreaKbytes, 2048u);

    // Shrinking below the logos already stored is refused and keeps them.
    for (uint8_t slot = 0; slot < 70; ++slot)
        ASSERT_TRUE(model.StoreLogo(slot, DefineLogo(255, 1)));  // 2044 bytes each
    EXPECT_EQ(Exchange(model, SetArea(2)), (Bytes{0x15}));
    EXPECT_EQ(model.Config().logoAreaKbytes, 2048u);
    EXPECT_TRUE(model.Slot(69).stored);
    EXPECT_EQ(Exchange(model, SetArea(3)), (Bytes{0x06}));
    EXPECT_EQ(Exchange(model, kErase), Bytes{});
    EXPECT_EQ(Exchange(model, SetArea(0)), (Bytes{0x06}));
    EXPECT_EQ(Exchange(model, kFreeMemory), FreeMemoryAnswer("0"));
}

TEST(PrinterModel, VersionZeroLeavesTheTwoMemoryQueriesUnanswered)
{
    PrinterConfig config;
    config.version = 0;
    PrinterModel model(config);
    EXPECT_TRUE(Exchange(model, Cat({kTotalMemory, kLogoArea})).empty());
    EXPECT_EQ(Exchange(model, Cat({kTotalMemory, kFreeMemory})), FreeMemoryAnswer("262144"));
    EXPECT_EQ(Exchange(model, SetArea(1)), (Bytes{0x06}));
    EXPECT_EQ(model.CommandCount(Command::ReadTotalMemory), 2u);
}

TEST(PrinterModel, DefineBeyondTheFreeMemoryIsDiscardedAndLeavesTheSlotEmpty)
{
    PrinterConfig config;
    config.logoAreaKbytes = 64;  // 65536 bytes
    PrinterModel model(config);
    ASSERT_TRUE(model.StoreLogo(1, DefineLogo(1, 1)));

    // 4 + 255 * 33 * 8 = 67324 bytes: too large; its data must still be
    // taken in, so the status request behind it is understood.
    const Bytes answer = Exchange(model, Cat({Select(1), DefineLogo(255, 33), Status(1)}));
    EXPECT_EQ(answer, (Bytes{0x01, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(model.Slot(1).stored);
    EXPECT_EQ(model.UsedLogoBytes(), 0u);
    EXPECT_EQ(model.DefineCount(1), 0u);
    ASSERT_FALSE(model.CommandLog().empty());
    EXPECT_TRUE(model.CommandLog()[model.CommandLog().size() - 2].refused);

    // The memory the refused logo would have taken is still free.
    EXPECT_TRUE(Exchange(model, Cat({Select(2), DefineLogo(8, 16)})).empty());  // 4 + 1024
    EXPECT_TRUE(model.Slot(2).stored);
}

TEST(PrinterModel, DefineOfZeroSizeIsStoredAsItsHeader)
{
    PrinterModel model;
    EXPECT_EQ(Exchange(model, Cat({Select(6), {0x1D, 0x2A, 0x00, 0x05}, Status(6)})),
              (Bytes{0x06, 0x01, static_cast<uint8_t>(LogoChecksum(Bytes{0x1D, 0x2A, 0x00, 0x05})),
                     static_cast<uint8_t>(LogoChecksum(Bytes{0x1D, 0x2A, 0x00, 0x05}) >> 8)}));
    EXPECT_EQ(model.UsedLogoBytes(), 4u);
}

TEST(PrinterModel, UnknownBytesAreLoggedAndNeverSwallowTheNextCommand)
{
    PrinterModel model;
    // 1D 41 is no command; 1F 07 is cut short by the 1F that begins a status.
    Exchange(model, Cat({{0xAB, 0x1D, 0x41}, Select(7), {0x1F, 0x07}, Status(2), {0x1D, 0x40, 0x1D, 0x0B}}));
    EXPECT_EQ(model.SelectedSlot(), 7);
    EXPECT_EQ(model.UnknownBytes(), (Bytes{0xAB, 0x1D, 0x41, 0x1F, 0x07, 0x1D, 0x40}));
    EXPECT_EQ(model.CommandCount(Command::LogoStatus), 1u);
    EXPECT_EQ(model.CommandCount(Command::ReadTotalMemory), 1u);
    // Set logo area must end in 00.
    EXPECT_TRUE(Exchange(model, {0x1D, 0x22, 0x55, 0x01, 0x01}).empty());
    EXPECT_EQ(model.Config().logoAreaKbytes, 256u);
}

TEST(PrinterModel, PrintRecordsTheSlotAndSize)
{
    PrinterModel model;
    ASSERT_TRUE(model.StoreLogo(4, DefineLogo(2, 3)));
    Exchange(model, Cat({Select(4), Print(3), Select(5), Print(0), Print(4)}));
    ASSERT_EQ(model.PrintLog().size(), 2u);
    EXPECT_EQ(model.PrintLog()[0].slot, 4);
    EXPECT_EQ(model.PrintLog()[0].mode, 3);
    EXPECT_TRUE(model.PrintLog()[0].stored);
    EXPECT_EQ(model.PrintLog()[0].width, 16u);
    EXPECT_EQ(model.PrintLog()[0].height, 24u);
    EXPECT_EQ(model.PrintLog()[1].slot, 5);
    EXPECT_FALSE(model.PrintLog()[1].stored);
    EXPECT_EQ(model.UnknownBytes(), (Bytes{0x1D, 0x2F, 0x04}));
}

TEST(PrinterModel, StoreLogoRefusesWhatDefineWouldNotStore)
{
    PrinterModel model;
    Bytes shortStream = DefineLogo(2, 2);
    shortStream.pop_back();
    EXPECT_FALSE(model.StoreLogo(0, shortStream));
    EXPECT_FALSE(model.StoreLogo(0, Bytes{0x1B, 0x2A, 0x00, 0x00}));
    EXPECT_FALSE(model.Slot(0).stored);
    EXPECT_FALSE(model.SetLogoAreaKbytes(100));
    EXPECT_FALSE(model.SetTotalMemoryKbytes(128));  // below the logo area
    EXPECT_NE(ValidateConfig(PrinterConfig{.totalMemoryKbytes = 128, .logoAreaKbytes = 192}), "");
    EXPECT_NE(ValidateConfig(PrinterConfig{.totalMemoryKbytes = 16384}), "");
}

TEST(PrinterModel, DroppedRepliesAreNotSentButTheCommandsStillAct)
{
    PrinterModel model;
    model.Faults().dropNextReplies = 1;
    model.Faults().dropRepliesOf[static_cast<size_t>(Command::ReadTotalMemory)] = true;
    EXPECT_TRUE(Exchange(model, Cat({SetArea(2), kTotalMemory})).empty());
    EXPECT_EQ(model.Config().logoAreaKbytes, 128u);
    EXPECT_EQ(Exchange(model, Cat({kTotalMemory, Status(0)})), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(model.RepliesDropped(), 3u);

    model.Faults().dropRepliesOf[static_cast<size_t>(Command::EraseLogos)] = true;
    Exchange(model, kErase);
    EXPECT_FALSE(model.NextDeadline().has_value());
}

TEST(PrinterModel, CorruptChecksumReportsAChecksumThatDoesNotMatch)
{
    PrinterModel model;
    const Bytes stream = DefineLogo(1, 1);
    ASSERT_TRUE(model.StoreLogo(0, stream));
    model.Faults().corruptChecksum = true;
    Bytes reply = Exchange(model, Status(0));
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply[1], 0x01);
    EXPECT_NE(reply[2] | reply[3] << 8, LogoChecksum(stream));
    // An empty slot still reads as empty.
    EXPECT_EQ(Exchange(model, Status(1)), (Bytes{0x01, 0, 0, 0}));
}

TEST(PrinterModel, HangUpFaultsStopTheStreamAtTheirByte)
{
    PrinterModel model;
    model.Faults().hangUpAfterDefineBytes = 10;
    const Bytes input = Cat({Select(3), DefineLogo(4, 4), Status(3)});
    EXPECT_EQ(model.Feed(input, kStart), 3u + 10u);
    EXPECT_TRUE(model.HangUpRequested());
    EXPECT_FALSE(model.Slot(3).stored);
    EXPECT_EQ(model.Feed(input, kStart), 0u);

    PrinterModel upload;
    ASSERT_TRUE(upload.StoreLogo(0, DefineLogo(2, 2)));
    upload.Faults().hangUpAfterUploadBytes = 20;
    ASSERT_EQ(upload.Feed(kUpload, kStart), 2u);
    EXPECT_FALSE(upload.HangUpRequested());  // not before the 20 bytes are taken
    Bytes sent = upload.TakeOutput(kStart);
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 3), (Bytes{0x6A, 'B', 'M'}));
    EXPECT_TRUE(upload.HangUpRequested());
}

TEST(PrinterModel, ADefineCutOffTakesTheNextCommandsAsLogoDataUntilSwitchedOffAndOn)
{
    PrinterModel model;
    ASSERT_TRUE(model.StoreLogo(7, DefineLogo(1, 1)));
    Bytes define = DefineLogo(2, 2);  // 4 + 32 bytes
    define.resize(4 + 10);            // the sender stopped after 10 data bytes
    EXPECT_TRUE(Exchange(model, Cat({Select(3), define})).empty());
    EXPECT_EQ(model.DefineBytesAwaited(), 22u);

    // Logo status and Read free logo memory are 6 bytes of logo data: no answer.
    EXPECT_TRUE(Exchange(model, Cat({Status(7), kFreeMemory})).empty());
    EXPECT_EQ(model.DefineBytesAwaited(), 16u);
    EXPECT_EQ(model.CommandCount(Command::LogoStatus), 0u);

    // Switched off and on: commands are commands again; the logo cut off is
    // not stored, the others are kept.
    model.PowerCycle();
    EXPECT_EQ(model.DefineBytesAwaited(), 0u);
    EXPECT_FALSE(model.InsideCommand());
    EXPECT_EQ(model.SelectedSlot(), 0);
    EXPECT_EQ(Exchange(model, Status(3)), (Bytes{3, 0, 0, 0}));
    Bytes stored = Exchange(model, Status(7));
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[1], 1);

    // A reply not yet sent and an Erase's late 0D go with the power.
    EXPECT_EQ(model.Feed(Cat({kErase, kTotalMemory}), kStart), 5u);
    model.PowerCycle();
    EXPECT_TRUE(model.TakeOutput(kStart + std::chrono::hours(1)).empty());
}
