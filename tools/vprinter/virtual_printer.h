#pragma once
// The virtual printer served over a pseudo-terminal on a thread of its own.
// Tests of other subsystems run it in-process: Start, point the port map at
// SlavePath, talk to it through the system under test, inspect or change the
// printer with WithModel, wait for what they expect with WaitUntil, Stop.
//
// Every public function may be called from any thread except the printer's
// own (the log callback runs there: it must not call back in).
#include "printer_model.h"
#include "pseudo_terminal.h"
#include "thread_annotations.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

namespace vprinter {

struct VirtualPrinterOptions {
    PrinterConfig printer;
    /// Pace both directions at this rate (10 bits per byte); 0: no fixed rate.
    uint32_t baud = 0;
    /// Pace at the speed the client set on the line (ignored when baud is set).
    bool paceFromLine = false;
    /// Seed of the garbage fault's random bytes.
    uint32_t seed = 1;
    /// One line per command and fault, called on the printer thread.
    std::function<void(std::string_view)> log;
};

/// Statistics of the line, as the printer's thread counted them.
struct LineCounters {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint64_t garbageSent = 0;
};

class VirtualPrinter {
public:
    explicit VirtualPrinter(VirtualPrinterOptions options = {});
    ~VirtualPrinter();  ///< Stop
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    /// Opens the pseudo-terminal and starts serving on a new thread. False with
    /// a message when the configuration is unusable or the terminal cannot be
    /// made; false too when already started.
    bool Start(std::string& error);
    /// Ends the thread (joined before returning; the thread wakes at once) and
    /// closes the terminal. Safe to call more than once.
    void Stop();
    /// The device path clients open; empty before Start.
    std::string SlavePath() const;
    /// True from Start until Stop or a hang-up.
    bool Running() const;
    /// True once a hang-up fault closed the line; the thread has then ended.
    bool HungUp() const;

    /// Runs f on the model under the printer's lock and returns its result;
    /// the printer then acts on whatever f changed (faults, delays, slots).
    template <typename F>
    auto WithModel(F&& f) -> decltype(f(std::declval<PrinterModel&>()))
    {
        struct Notify {
            VirtualPrinter* self;
            ~Notify() { self->StateChanged(); }
        } notify{this};
        std::lock_guard lock(m_mutex);
        return f(m_model);
    }
    /// A copy of the whole model, taken under the lock.
    PrinterModel Snapshot() const;

    /// Waits until pred (run under the lock after every change) holds, at most
    /// timeout. True when it held.
    bool WaitUntil(const std::function<bool(const PrinterModel&)>& pred, std::chrono::milliseconds timeout);
    /// Waits until a Define logo for slot has completed since Start or the
    /// last ClearHistory of the model, at most timeout.
    bool WaitForDefineCompleted(uint8_t slot, std::chrono::milliseconds timeout);
    /// Waits until no reply byte is left to send (delayed ones included) and
    /// no command is half received, at most timeout.
    bool WaitUntilIdle(std::chrono::milliseconds timeout);

    // Transport faults.
    /// Stops reading the line for duration, or until EndStall when none.
    void Stall(std::optional<std::chrono::milliseconds> duration);
    /// Like Stall, but the stall begins once `bytes` bytes in all have been
    /// received (the line is read up to that byte, then left alone).
    void StallAfterBytes(uint64_t bytes, std::optional<std::chrono::milliseconds> duration);
    /// Reads the line again at once.
    void EndStall();
    bool Stalled() const;
    /// Waits until a stall is in force (one set by StallAfterBytes begins on
    /// the printer's thread), at most timeout. True when it is.
    bool WaitForStall(std::chrono::milliseconds timeout);
    /// Switches the printer off and on (PrinterModel::PowerCycle): bytes not
    /// yet sent, and those on the line not yet read, are lost with it.
    void PowerCycle();
    /// Sends count random bytes now, unasked, after any reply already queued.
    void SendGarbage(size_t count);
    /// Sends count random bytes every interval; count 0 ends it.
    void SetPeriodicGarbage(size_t count, std::chrono::milliseconds interval);
    /// Fixed pacing rate (0 none) and whether to follow the line's speed.
    void SetPacing(uint32_t baud, bool fromLine);

    LineCounters Counters() const;

private:
    void Serve();
    void StateChanged();
    void Wake();
    void AppendGarbage(size_t count) REQUIRES(m_mutex);
    /// Pacing rate now: the fixed rate, else the line's, else 0 (none).
    uint32_t CurrentBaud() const REQUIRES(m_mutex);

    VirtualPrinterOptions m_options;
    PseudoTerminal m_terminal;
    std::string m_slavePath;
    int m_wakeFd = -1;  ///< eventfd; written to wake the printer's thread
    std::thread m_thread;

    mutable marquen::Mutex m_mutex;
    std::condition_variable_any m_changed;
    PrinterModel m_model GUARDED_BY(m_mutex);
    bool m_stopRequested GUARDED_BY(m_mutex) = false;
    bool m_running GUARDED_BY(m_mutex) = false;
    bool m_hungUp GUARDED_BY(m_mutex) = false;
    bool m_powerCycleRequested GUARDED_BY(m_mutex) = false;  // done on the printer's thread
    std::vector<uint8_t> m_transmit GUARDED_BY(m_mutex);  // bytes taken from the model, not yet written
    // Stall: active while m_stallActive; ends at m_stallEnd unless forever.
    bool m_stallActive GUARDED_BY(m_mutex) = false;
    bool m_stallForever GUARDED_BY(m_mutex) = false;
    Clock::time_point m_stallEnd GUARDED_BY(m_mutex){};
    std::optional<uint64_t> m_stallAtByte GUARDED_BY(m_mutex);
    std::optional<std::chrono::milliseconds> m_stallAtByteDuration GUARDED_BY(m_mutex);
    size_t m_garbageCount GUARDED_BY(m_mutex) = 0;
    std::chrono::milliseconds m_garbageInterval GUARDED_BY(m_mutex){0};
    Clock::time_point m_nextGarbage GUARDED_BY(m_mutex){};
    uint32_t m_fixedBaud GUARDED_BY(m_mutex) = 0;
    bool m_paceFromLine GUARDED_BY(m_mutex) = false;
    std::mt19937 m_random GUARDED_BY(m_mutex);
    LineCounters m_counters GUARDED_BY(m_mutex);
};

}  // namespace vprinter
