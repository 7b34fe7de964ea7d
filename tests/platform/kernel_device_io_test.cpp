#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kLongWait = 10000;

// One pipe whose read end is wrapped in a device handle, or whose write end is.
struct Pipe {
    int readFd = -1;
    int writeFd = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        readFd = fds[0];
        writeFd = fds[1];
    }
    ~Pipe() {
        if (readFd >= 0) close(readFd);
        if (writeFd >= 0) close(writeFd);
    }
    // Hands one end to a device handle, which now owns it.
    HANDLE WrapRead() {
        HANDLE h = CreateDeviceHandle(readFd);
        readFd = -1;
        return h;
    }
    HANDLE WrapWrite() {
        HANDLE h = CreateDeviceHandle(writeFd);
        writeFd = -1;
        return h;
    }
};

struct Overlapped : OVERLAPPED {
    Overlapped() { hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(hEvent); }
};

TEST(KernelDeviceIo, ReadIsPendingThenCompletesWithWhatArrived) {
    Pipe pipe;
    HANDLE device = pipe.WrapRead();
    ASSERT_NE(device, nullptr);
    Overlapped ov;
    SetEvent(ov.hEvent);  // ReadFile must clear it
    std::array<char, 512> buffer{};
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(device, buffer.data(), buffer.size(), &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(HasOverlappedIoCompleted(&ov));
    EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(GetOverlappedResultEx(device, &ov, &count, 20, FALSE));
    EXPECT_EQ(GetLastError(), WAIT_TIMEOUT);

    ASSERT_EQ(write(pipe.writeFd, "abc", 3), 3);
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(count, 3u);  // no waiting for the rest of the 512
    EXPECT_EQ(std::string(buffer.data(), 3), "abc");

    // Bytes already there: completed at once, event signalled too.
    ASSERT_EQ(write(pipe.writeFd, "xy", 2), 2);
    EXPECT_TRUE(ReadFile(device, buffer.data(), buffer.size(), &count, &ov));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(device));
}

TEST(KernelDeviceIo, PendingWriteCompletesWhenThePeerDrains) {
    Pipe pipe;
    HANDLE device = pipe.WrapWrite();
    Overlapped ov;
    std::vector<uint8_t> data(256 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(device, data.data(), static_cast<DWORD>(data.size()), &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);

    std::vector<uint8_t> received;
    std::array<uint8_t, 8192> chunk;
    while (received.size() < data.size()) {
        ssize_t n = read(pipe.readFd, chunk.data(), chunk.size());
        ASSERT_GT(n, 0);
        received.insert(received.end(), chunk.begin(), chunk.begin() + n);
    }
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(device, &ov, &count, TRUE));
    EXPECT_EQ(count, data.size());
    EXPECT_EQ(received, data);
    CloseHandle(device);
}

TEST(KernelDeviceIo, CancelAndCloseEndPendingOperationsAndReleaseBuffers) {
    Pipe readSide, writeSide;
    HANDLE reader = readSide.WrapRead();
    HANDLE writer = writeSide.WrapWrite();
    Overlapped readOv, writeOv, readOv2;
    auto buffer = std::make_unique<std::array<char, 64>>();
    DWORD count;
    EXPECT_FALSE(ReadFile(reader, buffer->data(), 64, &count, &readOv));
    // The same OVERLAPPED cannot start a second operation while pending.
    EXPECT_FALSE(ReadFile(reader, buffer->data(), 64, &count, &readOv));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(CancelIo(reader));
    ASSERT_EQ(WaitForSingleObject(readOv.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(reader, &readOv, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(CancelIoEx(reader, &readOv));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);

    // Closing with a read and a write pending aborts both; the buffers may go
    // right after (AddressSanitizer checks that nothing touches them).
    EXPECT_FALSE(ReadFile(reader, buffer->data(), 64, &count, &readOv2));
    auto big = std::make_unique<std::vector<uint8_t>>(1 << 20, 0x55);
    EXPECT_FALSE(WriteFile(writer, big->data(), static_cast<DWORD>(big->size()), &count, &writeOv));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(writer));
    buffer.reset();
    big.reset();
    EXPECT_EQ(WaitForSingleObject(readOv2.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(writeOv.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(writer, &writeOv, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_GT(count, 0u);  // what the pipe took before
    EXPECT_LT(count, 1u << 20);
    EXPECT_FALSE(ReadFile(reader, nullptr, 0, &count, &readOv));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(KernelDeviceIo, RequiresAnOverlappedStructure) {
    Pipe pipe;
    HANDLE device = pipe.WrapRead();
    char byte;
    DWORD count;
    EXPECT_FALSE(ReadFile(device, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    Overlapped ov;
    EXPECT_FALSE(ReadFile(event, &byte, 1, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(DeviceHandleDescriptor(event), -1);
    EXPECT_GE(DeviceHandleDescriptor(device), 0);
    CloseHandle(event);
    CloseHandle(device);
}

TEST(KernelDeviceIo, PeerGoneEndsReadsAndWritesWithoutSignals) {
    {
        Pipe pipe;
        HANDLE device = pipe.WrapRead();
        Overlapped ov;
        char buffer[16];
        DWORD count;
        EXPECT_FALSE(ReadFile(device, buffer, sizeof buffer, &count, &ov));
        EXPECT_FALSE(IsDeviceHungUp(device));
        close(pipe.writeFd);
        pipe.writeFd = -1;
        ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
        EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
        EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
        EXPECT_EQ(GetLastErrno(), 0);  // an end of file is no system error
        EXPECT_TRUE(IsDeviceHungUp(device));
        CloseHandle(device);
    }
    {
        // Without care this raises SIGPIPE and ends the test program.
        Pipe pipe;
        HANDLE device = pipe.WrapWrite();
        close(pipe.readFd);
        pipe.readFd = -1;
        Overlapped ov;
        DWORD count;
        EXPECT_FALSE(WriteFile(device, "x", 1, &count, &ov));
        EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
        EXPECT_EQ(GetLastErrno(), EPIPE);
        EXPECT_TRUE(IsDeviceHungUp(device));
        CloseHandle(device);
    }
}

TEST(KernelDeviceIo, AWriteThatFailsOnTheWorkerHandsItsErrnoToTheCaller) {
    Pipe pipe;
    HANDLE device = pipe.WrapWrite();
    // More than the pipe holds: the write stays pending on the worker.
    std::vector<char> bytes(1 << 20, 'x');
    Overlapped ov;
    DWORD count;
    EXPECT_FALSE(WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), &count, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    close(pipe.readFd);
    pipe.readFd = -1;
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    EXPECT_EQ(GetLastErrno(), EPIPE);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, bytes.size());
    CloseHandle(device);
}

TEST(KernelDeviceIo, PseudoTerminalHangUpCompletesThePendingRead) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    HANDLE device = CreateDeviceHandle(slave);
    Overlapped ov;
    char buffer[512];
    DWORD count;
    EXPECT_FALSE(ReadFile(device, buffer, sizeof buffer, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(write(master, "\x1b\x40", 2), 2);
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(std::string(buffer, count), "\x1b\x40");

    EXPECT_FALSE(ReadFile(device, buffer, sizeof buffer, &count, &ov));
    EXPECT_FALSE(IsDeviceHungUp(device));
    close(master);
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);  // a hung-up terminal reads as end of file
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(IsDeviceHungUp(device));
    // ... and refuses writes with EIO, which is kept beside the code, and in
    // the operation's outcome for GetOverlappedResult.
    EXPECT_FALSE(WriteFile(device, "z", 1, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(GetLastErrno(), EIO);
    EXPECT_EQ(LastErrorText(), "Input/output error (EIO)");
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(GetLastErrno(), EIO);
    SetLastError(ERROR_ACCESS_DENIED);  // set directly: no cause
    EXPECT_EQ(GetLastErrno(), 0);
    EXPECT_EQ(LastErrorText(), "system error 5");
    CloseHandle(device);
}

TEST(KernelDeviceIo, WriteGateHoldsWritesBackUntilItOpens) {
    Pipe pipe;
    HANDLE device = pipe.WrapWrite();
    auto open = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(SetDeviceWriteGate(device, [open] { return open->load(); }, 5));
    Overlapped ov;
    DWORD count;
    EXPECT_FALSE(WriteFile(device, "held", 4, &count, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 50), WAIT_TIMEOUT);
    char probe[8];
    ASSERT_EQ(fcntl(pipe.readFd, F_SETFL, O_NONBLOCK), 0);
    EXPECT_EQ(read(pipe.readFd, probe, sizeof probe), -1);  // nothing went out

    *open = true;
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, kLongWait), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(device, &ov, &count, FALSE));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(read(pipe.readFd, probe, sizeof probe), 4);
    CloseHandle(device);
}

}  // namespace
