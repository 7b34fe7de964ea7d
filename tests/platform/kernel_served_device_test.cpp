// Served device files: a provider registered for a prefix serves CreateFileA,
// DeviceIoControl and overlapped reads and writes; cancelling and closing
// leave no caller buffer in use; device-interface sets list what a lister
// gives.
#include "devices/device_interfaces.h"
#include "kernel/kernel.h"
#include "kernel/served_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace marquen::kernel;

namespace {

// Echoes writes back to reads; an I/O control request 1 answers its input
// reversed at once; request 2 stays pending until cancelled; a read waits
// for a write.
class EchoFile : public ServedFile {
public:
    void Start(const DeviceOperationPtr& operation) override {
        std::unique_lock lock(m_lock);
        switch (operation->kind()) {
        case DeviceOperation::Kind::IoControl:
            if (operation->controlCode() == 1) {
                auto input = operation->input();
                size_t n = std::min(input.size(), operation->output().size());
                std::copy(input.rbegin(), input.rbegin() + static_cast<long>(n), operation->output().begin());
                lock.unlock();
                operation->Complete(0, static_cast<DWORD>(n));
            } else if (operation->controlCode() == 2) {
                m_parked.push_back(operation);
            } else {
                lock.unlock();
                operation->Complete(0xE0001105, 0);
            }
            break;
        case DeviceOperation::Kind::Write:
            m_data.insert(m_data.end(), operation->input().begin(), operation->input().end());
            lock.unlock();
            operation->Complete(0, static_cast<DWORD>(operation->input().size()));
            ServeReads();
            break;
        case DeviceOperation::Kind::Read:
            m_reads.push_back(operation);
            lock.unlock();
            ServeReads();
            break;
        }
    }
    void Cancel(const DeviceOperationPtr& operation) override {
        if (m_ignoreCancel) {
            return;
        }
        std::unique_lock lock(m_lock);
        std::erase(m_parked, operation);
        std::erase(m_reads, operation);
        lock.unlock();
        operation->Complete(ERROR_OPERATION_ABORTED, 0);
    }
    void Close() override { closed = true; }

    bool closed = false;
    bool m_ignoreCancel = false;

private:
    void ServeReads() {
        std::unique_lock lock(m_lock);
        while (!m_reads.empty() && !m_data.empty()) {
            auto read = m_reads.front();
            m_reads.erase(m_reads.begin());
            size_t n = std::min(m_data.size(), read->output().size());
            std::copy(m_data.begin(), m_data.begin() + static_cast<long>(n), read->output().begin());
            m_data.erase(m_data.begin(), m_data.begin() + static_cast<long>(n));
            lock.unlock();
            read->Complete(0, static_cast<DWORD>(n));
            lock.lock();
        }
    }
    std::mutex m_lock;
    std::vector<uint8_t> m_data;
    std::vector<DeviceOperationPtr> m_reads, m_parked;
};

class EchoProvider : public DeviceProvider {
public:
    std::shared_ptr<ServedFile> Open(const std::string& path, DWORD* error) override {
        if (path.find("Missing") != std::string::npos) {
            *error = 0xE0001100;
            return nullptr;
        }
        last = std::make_shared<EchoFile>();
        return last;
    }
    std::shared_ptr<EchoFile> last;
};

class ServedDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("MARQUEN_USER_DRIVERS", "", 1);  // only the provider of this test
        provider = std::make_shared<EchoProvider>();
        RegisterDeviceProvider("\\\\.\\Echo", provider);
        event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    void TearDown() override {
        UnregisterDeviceProvider("\\\\.\\Echo");
        CloseHandle(event);
    }
    HANDLE Open(const char* path) {
        return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    std::shared_ptr<EchoProvider> provider;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
};

TEST_F(ServedDeviceTest, OpenFailsWithTheProvidersErrorOrFileNotFound) {
    EXPECT_EQ(Open("\\\\.\\EchoMissing"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0xE0001100u);
    EXPECT_EQ(Open("\\\\.\\Nobody0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE lowerCase = Open("\\\\.\\echo0");  // prefixes compare ignoring case
    ASSERT_NE(lowerCase, INVALID_HANDLE_VALUE);
    CloseHandle(lowerCase);
}

TEST_F(ServedDeviceTest, ImmediateControlRequestsAnswerAtOnceWithTheirStatus) {
    HANDLE file = Open("\\\\.\\Echo0");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const uint8_t input[3] = {1, 2, 3};
    uint8_t output[8] = {};
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(file, 1, input, 3, output, sizeof output, &returned, &overlapped));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(output[0], 3);
    EXPECT_EQ(output[2], 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    EXPECT_FALSE(DeviceIoControl(file, 7, nullptr, 0, nullptr, 0, &returned, &overlapped));
    EXPECT_EQ(GetLastError(), 0xE0001105u);
    DWORD count = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &count, TRUE));
    EXPECT_EQ(GetLastError(), 0xE0001105u);

    EXPECT_FALSE(DeviceIoControl(file, 1, input, 3, output, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(provider->last->closed);
    EXPECT_FALSE(DeviceIoControl(file, 1, input, 3, output, 8, &returned, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ServedDeviceTest, PendingReadTimesOutThenCompletesFromAnotherThread) {
    HANDLE file = Open("\\\\.\\Echo0");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    uint8_t buffer[16] = {};
    DWORD count = 0;
    ASSERT_FALSE(ReadFile(file, buffer, sizeof buffer, &count, &overlapped));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(GetOverlappedResultEx(file, &overlapped, &count, 20, FALSE));
    EXPECT_EQ(GetLastError(), WAIT_TIMEOUT);

    std::thread writer([&] {
        OVERLAPPED writeOverlapped{};
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, "abc", 3, &written, &writeOverlapped));
        EXPECT_EQ(written, 3u);
    });
    EXPECT_TRUE(GetOverlappedResultEx(file, &overlapped, &count, 5000, FALSE));
    writer.join();
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
    CloseHandle(file);
}

TEST_F(ServedDeviceTest, CancelEndsPendingRequestsEvenWhenTheProviderIgnoresIt) {
    HANDLE file = Open("\\\\.\\Echo0");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    uint8_t output[4];
    DWORD count = 0;
    ASSERT_FALSE(DeviceIoControl(file, 2, nullptr, 0, output, 4, &count, &overlapped));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    // The same OVERLAPPED cannot start a second request while in use.
    OVERLAPPED* same = &overlapped;
    EXPECT_FALSE(DeviceIoControl(file, 1, nullptr, 0, output, 4, &count, same));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CancelIo(file));
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(CancelIoEx(file, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);

    provider->last->m_ignoreCancel = true;
    ASSERT_FALSE(DeviceIoControl(file, 2, nullptr, 0, output, 4, &count, &overlapped));
    EXPECT_TRUE(CancelIoEx(file, &overlapped));  // the layer ends it itself after its grace time
    EXPECT_TRUE(HasOverlappedIoCompleted(&overlapped));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(file);
}

TEST(DeviceInterfaceSetTest, ListsThePathsOfTheClassAndSizesTheDetail) {
    setenv("MARQUEN_USER_DRIVERS", "", 1);
    const GUID cls = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID other = {0x99999999, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    marquen::devices::RegisterDeviceInterfaceClass(cls, [] {
        return std::vector<std::string>{"\\\\?\\first#{x}", "\\\\?\\second#{x}"};
    });
    EXPECT_EQ(SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT),
              reinterpret_cast<HDEVINFO>(~uintptr_t{0}));
    HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, reinterpret_cast<HDEVINFO>(~uintptr_t{0}));
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    std::vector<std::string> paths;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data); ++i) {
        DWORD needed = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<char> storage(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed - 1, nullptr, nullptr));
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\?\\first#{x}", "\\\\?\\second#{x}"}));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    marquen::devices::RegisterDeviceInterfaceClass(cls, {});
}

}  // namespace
