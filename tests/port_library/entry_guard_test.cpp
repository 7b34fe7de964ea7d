// Nothing thrown inside the port library leaves a Comm_ entry point: the test
// build's entry-fault seam throws inside each one, and the caller sees the
// entry point's failure value and a last error instead of a terminate.
#include "entry_guard.h"
#include "fundaport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

enum class Thrown { kBadAlloc, kSystemError, kOther };

// Read by the fault on whichever thread calls an entry point; the tests call
// them all from the test's own thread.
std::string g_failingEntry;
Thrown g_thrown = Thrown::kBadAlloc;

void ThrowInside(const char* entry) {
    if (g_failingEntry != entry)
        return;
    switch (g_thrown) {
    case Thrown::kBadAlloc: throw std::bad_alloc();
    case Thrown::kSystemError: throw std::system_error(EIO, std::generic_category(), "scan");
    case Thrown::kOther: throw std::runtime_error("unexpected");
    }
}

struct EntryPoint {
    const char* name;
    // Calls it; true when it answered its failure value.
    std::function<bool()> callFails;
};

std::vector<EntryPoint> EveryEntryPoint() {
    static char buffer[4];
    static DWORD count;
    static OVERLAPPED overlapped;
    return {
        {"Comm_OpenSetup", [] { return Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1) == 0; }},
        {"Comm_IsConnectionValid",
         [] { return Comm_IsConnectionValid(0, 64, 4, 0, 0, 3, 0) == FUNDAPORT_CONNECTION_REFUSED; }},
        {"Comm_UpdateConnection",
         [] {
             int codes[5] = {4, 0, 0, 3, 0};
             return Comm_UpdateConnection(0, 0, codes[0], codes[1], codes[2], codes[3], codes[4]) == 0;
         }},
        {"Comm_IsPortAvailable", [] { return Comm_IsPortAvailable() == 0; }},
        {"Comm_SetConnect", [] { Comm_SetConnect(1); return true; }},
        {"Comm_IsOpened", [] { return Comm_IsOpened() == 0; }},
        {"Comm_IsConnected", [] { return Comm_IsConnected() == 0; }},
        {"Comm_BreakDownCommPort", [] { return Comm_BreakDownCommPort() == 0; }},
        {"Comm_CloseCleanuo", [] { Comm_CloseCleanuo(); return true; }},
        {"Comm_GethCommPortTX", [] { return Comm_GethCommPortTX() == nullptr; }},
        {"Comm_GethCommPortRX", [] { return Comm_GethCommPortRX() == nullptr; }},
        {"Comm_GetOverlappedTX", [] { return Comm_GetOverlappedTX() == nullptr; }},
        {"Comm_GetOverlappedRX", [] { return Comm_GetOverlappedRX() == nullptr; }},
        {"Comm_WritePort",
         [] { return Comm_WritePort(nullptr, buffer, sizeof buffer, &count, &overlapped) == FALSE; }},
        {"Comm_ReadPort",
         [] { return Comm_ReadPort(nullptr, buffer, sizeof buffer, &count, &overlapped) == FALSE; }},
        {"Comm_IsDevicePresent", [] { return Comm_IsDevicePresent() == 0; }},
        {"Comm_IsBidirectional", [] { return Comm_IsBidirectional() == 0; }},
    };
}

class EntryGuardTest : public ::testing::Test {
protected:
    void SetUp() override { fundaport::SetEntryFaultForTesting(ThrowInside); }
    void TearDown() override {
        fundaport::SetEntryFaultForTesting(nullptr);
        g_failingEntry.clear();
        Comm_CloseCleanuo();
    }

    // Makes `entry` throw `thrown` once called; returns whether it answered
    // its failure value, with the last error in *lastError.
    static bool FailInside(const EntryPoint& entry, Thrown thrown, DWORD* lastError) {
        g_failingEntry = entry.name;
        g_thrown = thrown;
        SetLastError(ERROR_SUCCESS);
        bool failed = entry.callFails();
        *lastError = GetLastError();
        g_failingEntry.clear();
        return failed;
    }
};

TEST_F(EntryGuardTest, MemoryRunningOutInsideAnyEntryPointIsItsFailureWithOutOfMemory) {
    // With the port library set up, so that a failure value is not simply
    // what an idle library answers anyway.
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);
    for (const EntryPoint& entry : EveryEntryPoint()) {
        if (std::string(entry.name) == "Comm_OpenSetup")
            continue;
        DWORD lastError = 0;
        EXPECT_TRUE(FailInside(entry, Thrown::kBadAlloc, &lastError)) << entry.name;
        EXPECT_EQ(lastError, ERROR_OUTOFMEMORY) << entry.name;
    }
    // None of the failed calls did anything: still set up (the clean-up
    // failed too), still no port.
    EXPECT_EQ(Comm_IsOpened(), 1);
    EXPECT_EQ(Comm_IsConnected(), 0);
    EXPECT_NE(Comm_GetOverlappedTX(), nullptr);

    Comm_CloseCleanuo();
    ASSERT_EQ(Comm_IsOpened(), 0);
    DWORD lastError = 0;
    EXPECT_TRUE(FailInside(EveryEntryPoint().front(), Thrown::kBadAlloc, &lastError));
    EXPECT_EQ(lastError, ERROR_OUTOFMEMORY);
    EXPECT_EQ(Comm_IsOpened(), 0);
    // The library works as before once memory is there again.
    EXPECT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);
}

TEST_F(EntryGuardTest, ASystemErrorKeepsItsCauseAndAnythingElseIsAnInternalError) {
    const EntryPoint update = EveryEntryPoint()[2];
    ASSERT_STREQ(update.name, "Comm_UpdateConnection");
    ASSERT_EQ(Comm_OpenSetup(nullptr, FUNDAPORT_KIND_SERIAL, 1), 1);

    DWORD lastError = 0;
    EXPECT_TRUE(FailInside(update, Thrown::kSystemError, &lastError));
    EXPECT_EQ(lastError, Win32ErrorFromErrno(EIO));
    EXPECT_EQ(GetLastErrno(), EIO);

    EXPECT_TRUE(FailInside(update, Thrown::kOther, &lastError));
    EXPECT_EQ(lastError, ERROR_INTERNAL_ERROR);
    EXPECT_EQ(GetLastErrno(), 0);

    const EntryPoint write = EveryEntryPoint()[13];
    ASSERT_STREQ(write.name, "Comm_WritePort");
    EXPECT_TRUE(FailInside(write, Thrown::kOther, &lastError));
    EXPECT_EQ(lastError, ERROR_INTERNAL_ERROR);
}

}  // namespace
