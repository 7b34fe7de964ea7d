// Served device files: the handle object, the operations' completion, the
// provider table and the loading of user-mode drivers.
//
// Lock order: a file's state lock, then SignalLock() (a completion signals
// the caller's event with the state lock held). A provider's Start, Cancel
// and Close are called with no lock of this layer held, so a provider may
// complete an operation from inside them.
#include "kernel/served_device.h"

#include "diagnostics/diagnostics.h"
#include "kernel/handle_table.h"
#include "kernel/last_error.h"
#include "kernel/served_device_internal.h"
#include "kernel/sync.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace marquen::kernel {

// How long CancelIo waits for a provider to finish a cancelled operation
// before it finishes the operation itself (the provider's late completion
// then changes nothing).
constexpr auto kCancelGrace = std::chrono::seconds(2);

namespace {

void StoreOutcome(OVERLAPPED* overlapped, uintptr_t status) {
    std::atomic_ref<uintptr_t>(overlapped->Internal).store(status, std::memory_order_release);
}
uintptr_t LoadOutcome(const OVERLAPPED* overlapped) {
    return std::atomic_ref<uintptr_t>(const_cast<OVERLAPPED*>(overlapped)->Internal).load(std::memory_order_acquire);
}

// The pending operations of one file; shared with the operations, so a
// provider that completes one after the handle is gone finds it still there.
struct FileState {
    std::mutex lock;
    std::condition_variable completed;
    std::vector<DeviceOperationPtr> pending;  // GUARDED_BY(lock)
    bool closed = false;                      // GUARDED_BY(lock)
};

}  // namespace

struct DeviceOperation::Completion {
    std::shared_ptr<FileState> state;
    OVERLAPPED* overlapped = nullptr;
    void* callerBuffer = nullptr;  // output goes here on completion
    std::atomic<bool> cancelRequested{false};
    bool completed = false;  // GUARDED_BY(state->lock)

    // With state->lock held.
    void FinishLocked(DeviceOperation& operation, DWORD status, DWORD bytes) {
        if (completed) {
            return;
        }
        completed = true;
        if (status == ERROR_IO_PENDING) {
            status = ERROR_GEN_FAILURE;  // a provider must not leave it pending
        }
        if (operation.kind() == DeviceOperation::Kind::Write) {
            bytes = std::min<DWORD>(bytes, static_cast<DWORD>(operation.input().size()));
        } else {
            bytes = std::min<DWORD>(bytes, static_cast<DWORD>(operation.output().size()));
            if (bytes > 0 && callerBuffer != nullptr) {
                std::memcpy(callerBuffer, operation.output().data(), bytes);
            }
        }
        overlapped->InternalHigh = bytes;
        StoreOutcome(overlapped, uintptr_t{status});
        if (overlapped->hEvent != nullptr) {
            SetEvent(overlapped->hEvent);
        }
        auto& list = state->pending;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const DeviceOperationPtr& entry) { return entry.get() == &operation; }),
                   list.end());
        state->completed.notify_all();
    }
};

DeviceOperation::DeviceOperation(Kind kind, DWORD controlCode, std::vector<uint8_t> input, size_t outputLength)
    : m_kind(kind), m_controlCode(controlCode), m_input(std::move(input)), m_output(outputLength) {}

void DeviceOperation::Complete(DWORD status, DWORD bytes) {
    auto completion = m_completion;
    if (!completion) {
        return;
    }
    std::lock_guard lock(completion->state->lock);
    completion->FinishLocked(*this, status, bytes);
}

bool DeviceOperation::cancelRequested() const {
    return m_completion && m_completion->cancelRequested.load(std::memory_order_acquire);
}

class ServedDeviceObject final : public Object {
public:
    explicit ServedDeviceObject(std::shared_ptr<ServedFile> file)
        : m_file(std::move(file)), m_state(std::make_shared<FileState>()) {}
    ~ServedDeviceObject() override { Shutdown(); }

    void OnClose() override { Shutdown(); }

    BOOL Start(DeviceOperation::Kind kind, DWORD controlCode, const void* input, DWORD inputLength, void* output,
               DWORD outputLength, DWORD* transferred, OVERLAPPED* overlapped) {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        if (overlapped == nullptr || (input == nullptr && inputLength > 0) ||
            (output == nullptr && outputLength > 0)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::vector<uint8_t> inputCopy;
        if (inputLength > 0) {
            auto bytes = static_cast<const uint8_t*>(input);
            inputCopy.assign(bytes, bytes + inputLength);
        }
        auto operation = std::make_shared<DeviceOperation>(kind, controlCode, std::move(inputCopy), outputLength);
        auto completion = std::make_shared<DeviceOperation::Completion>();
        completion->state = m_state;
        completion->overlapped = overlapped;
        completion->callerBuffer = output;
        operation->m_completion = completion;
        {
            std::lock_guard lock(m_state->lock);
            if (m_state->closed) {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            for (const auto& entry : m_state->pending) {
                if (entry->m_completion->overlapped == overlapped) {
                    SetLastError(ERROR_INVALID_PARAMETER);  // that OVERLAPPED is still in use
                    return FALSE;
                }
            }
            if (overlapped->hEvent != nullptr) {
                ResetEvent(overlapped->hEvent);
            }
            overlapped->InternalHigh = 0;
            StoreOutcome(overlapped, ERROR_IO_PENDING);
            m_state->pending.push_back(operation);
        }
        m_file->Start(operation);
        std::lock_guard lock(m_state->lock);
        if (!completion->completed) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        if (transferred != nullptr) {
            *transferred = static_cast<DWORD>(overlapped->InternalHigh);
        }
        auto status = static_cast<DWORD>(LoadOutcome(overlapped));
        if (status != ERROR_SUCCESS) {
            SetLastError(status);
            return FALSE;
        }
        return TRUE;
    }

    bool IsGone() const { return m_file->IsGone(); }

    // Waits until `overlapped` is no longer pending; false on time-out.
    bool WaitResult(OVERLAPPED* overlapped, DWORD milliseconds) {
        std::unique_lock lock(m_state->lock);
        auto done = [&] { return LoadOutcome(overlapped) != ERROR_IO_PENDING; };
        if (milliseconds == INFINITE) {
            m_state->completed.wait(lock, done);
            return true;
        }
        return m_state->completed.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
    }

    // Cancels the pending operations of `overlapped` (all with null) and
    // returns how many there were. Once it returns none of them touches the
    // caller's buffers again.
    size_t Cancel(OVERLAPPED* overlapped) {
        std::vector<DeviceOperationPtr> chosen;
        {
            std::lock_guard lock(m_state->lock);
            for (const auto& entry : m_state->pending) {
                if (overlapped == nullptr || entry->m_completion->overlapped == overlapped) {
                    entry->m_completion->cancelRequested.store(true, std::memory_order_release);
                    chosen.push_back(entry);
                }
            }
        }
        for (const auto& operation : chosen) {
            m_file->Cancel(operation);
        }
        std::unique_lock lock(m_state->lock);
        auto deadline = std::chrono::steady_clock::now() + kCancelGrace;
        auto allDone = [&] {
            return std::all_of(chosen.begin(), chosen.end(),
                               [](const DeviceOperationPtr& entry) { return entry->m_completion->completed; });
        };
        m_state->completed.wait_until(lock, deadline, allDone);
        for (const auto& operation : chosen) {
            operation->m_completion->FinishLocked(*operation, ERROR_OPERATION_ABORTED, 0);
        }
        return chosen.size();
    }

private:
    void Shutdown() {
        {
            std::lock_guard lock(m_state->lock);
            if (m_state->closed) {
                return;
            }
            m_state->closed = true;
        }
        Cancel(nullptr);
        m_file->Close();
    }

    std::shared_ptr<ServedFile> m_file;
    std::shared_ptr<FileState> m_state;
};

namespace {

std::shared_ptr<ServedDeviceObject> LookupServed(HANDLE handle) { return LookupAs<ServedDeviceObject>(handle); }

std::string Lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

struct ProviderTable {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<DeviceProvider>> byPrefix;  // GUARDED_BY(lock), lower case
    std::vector<std::string> drivers;                                  // GUARDED_BY(lock)
};
ProviderTable& Providers() {
    static ProviderTable table;
    return table;
}

std::shared_ptr<DeviceProvider> ProviderFor(const std::string& path) {
    std::string lowered = Lowered(path);
    auto& table = Providers();
    std::lock_guard lock(table.lock);
    std::shared_ptr<DeviceProvider> best;
    size_t bestLength = 0;
    for (const auto& [prefix, provider] : table.byPrefix) {
        if (lowered.compare(0, prefix.size(), prefix) == 0 && (!best || prefix.size() > bestLength)) {
            best = provider;
            bestLength = prefix.size();
        }
    }
    return best;
}

// The user-mode drivers loaded by default, looked for beside this library.
constexpr const char* kDefaultDrivers[] = {"libusbio.so"};
// Every driver library exports this, as DWORD(void): 0 when it registered.
constexpr const char* kDriverEntryName = "DriverEntry";

std::string DirectoryOfThisLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadUserModeDrivers), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void LoadDriver(const std::string& nameOrPath, bool quietIfMissing) {
    using diagnostics::Level;
    void* library = dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (!quietIfMissing) {
            const char* why = dlerror();
            diagnostics::Report(Level::kWarning, "User-mode driver " + nameOrPath +
                                                     " not loaded: " + (why != nullptr ? why : "unknown reason"));
        }
        return;
    }
    using Entry = DWORD (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(library, kDriverEntryName));
    if (entry == nullptr) {
        diagnostics::Report(Level::kWarning, "User-mode driver " + nameOrPath + " has no " + kDriverEntryName);
        return;  // stays loaded: unloading a library that may have started threads is not safe
    }
    DWORD result = entry();
    if (result != 0) {
        diagnostics::Report(Level::kWarning, "User-mode driver " + nameOrPath + " did not start: system error " +
                                                 std::to_string(result));
    }
}

}  // namespace

void RegisterDeviceProvider(const std::string& prefix, std::shared_ptr<DeviceProvider> provider) {
    auto& table = Providers();
    std::lock_guard lock(table.lock);
    table.byPrefix[Lowered(prefix)] = std::move(provider);
}

void UnregisterDeviceProvider(const std::string& prefix) {
    auto& table = Providers();
    std::lock_guard lock(table.lock);
    table.byPrefix.erase(Lowered(prefix));
}

void RegisterUserModeDriver(const std::string& driverFileName) {
    auto& table = Providers();
    std::lock_guard lock(table.lock);
    if (std::find(table.drivers.begin(), table.drivers.end(), driverFileName) == table.drivers.end()) {
        table.drivers.push_back(driverFileName);
    }
}

void LoadUserModeDrivers() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const char* list = std::getenv("MARQUEN_USER_DRIVERS"); list != nullptr) {
            std::string text = list;
            size_t start = 0;
            while (start <= text.size()) {
                size_t end = text.find(':', start);
                if (end == std::string::npos) {
                    end = text.size();
                }
                if (end > start) {
                    LoadDriver(text.substr(start, end - start), false);
                }
                start = end + 1;
            }
            return;
        }
        std::string directory = DirectoryOfThisLibrary();
        for (const char* name : kDefaultDrivers) {
            std::string beside = directory.empty() ? std::string() : directory + "/" + name;
            if (!beside.empty() && ::access(beside.c_str(), R_OK) == 0) {
                LoadDriver(beside, false);
            } else {
                LoadDriver(name, true);  // not installed: nothing to say
            }
        }
    });
}

std::vector<std::string> LoadedUserModeDrivers() {
    LoadUserModeDrivers();
    auto& table = Providers();
    std::lock_guard lock(table.lock);
    return table.drivers;
}

bool IsServedDevice(HANDLE handle) { return static_cast<bool>(LookupServed(handle)); }

BOOL ServedReadWrite(HANDLE handle, bool isRead, void* buffer, DWORD length, DWORD* transferred,
                     OVERLAPPED* overlapped) {
    auto object = LookupServed(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (isRead) {
        return object->Start(DeviceOperation::Kind::Read, 0, nullptr, 0, buffer, length, transferred, overlapped);
    }
    return object->Start(DeviceOperation::Kind::Write, 0, buffer, length, nullptr, 0, transferred, overlapped);
}

bool ServedWaitResult(HANDLE handle, OVERLAPPED* overlapped, DWORD milliseconds) {
    auto object = LookupServed(handle);
    return object && object->WaitResult(overlapped, milliseconds);
}

size_t ServedCancel(HANDLE handle, OVERLAPPED* overlapped) {
    auto object = LookupServed(handle);
    return object ? object->Cancel(overlapped) : 0;
}

bool ServedIsGone(HANDLE handle) {
    auto object = LookupServed(handle);
    return !object || object->IsGone();
}

}  // namespace marquen::kernel

using namespace marquen::kernel;

HANDLE CreateFileA(const char* fileName, DWORD /*desiredAccess*/, DWORD /*shareMode*/, void* securityAttributes,
                   DWORD /*creationDisposition*/, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    if (fileName == nullptr || securityAttributes != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = fileName;
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0) {
        LoadUserModeDrivers();
    }
    auto provider = ProviderFor(path);
    if (!provider) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::shared_ptr<ServedFile> file = provider->Open(path, &error);
    if (!file) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = InsertHandle(std::make_shared<ServedDeviceObject>(std::move(file)));
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, const void* inBuffer, DWORD inBufferSize, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, OVERLAPPED* overlapped) {
    auto object = LookupServed(device);
    if (!object) {
        if (bytesReturned != nullptr) {
            *bytesReturned = 0;
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Start(DeviceOperation::Kind::IoControl, controlCode, inBuffer, inBufferSize, outBuffer,
                         outBufferSize, bytesReturned, overlapped);
}
