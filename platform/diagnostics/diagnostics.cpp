// Locking: g_handlerLock is held while the handler runs, which is what lets
// SetHandler promise that a replaced handler is no longer called once it
// returns; the log has its own lock, never held while calling out, so that a
// handler reading the log does not deadlock. Lock order: handler, then log.
#include "diagnostics/diagnostics.h"

#include <deque>
#include <mutex>
#include <utility>

namespace marquen::diagnostics {
namespace {

struct Log {
    std::mutex lock;
    // GUARDED_BY(lock)
    std::deque<Entry> entries;
    uint64_t lastSequence = 0;
};

struct Sink {
    std::mutex lock;
    // GUARDED_BY(lock)
    Handler handler;
};

// Never destroyed: libraries may report from their own destructors and
// threads during the process's exit.
Log& TheLog() {
    static Log* log = new Log;
    return *log;
}
Sink& TheSink() {
    static Sink* sink = new Sink;
    return *sink;
}

// Set while this thread runs the handler: a report from inside it only goes
// to the log, instead of deadlocking on the handler's lock.
thread_local bool t_inHandler = false;

}  // namespace

const char* LevelName(Level level) {
    switch (level) {
    case Level::kError: return "error";
    case Level::kWarning: return "warning";
    case Level::kInfo: return "info";
    case Level::kDebug: return "debug";
    }
    return "debug";
}

void SetHandler(Handler handler) {
    Sink& sink = TheSink();
    Handler previous;
    {
        std::lock_guard guard(sink.lock);
        previous = std::exchange(sink.handler, std::move(handler));
    }
    // `previous` (and whatever it holds) goes here, outside the lock.
}

void Report(Level level, std::string_view message) noexcept {
    if (message.size() > kMaxMessageLength)
        message = message.substr(0, kMaxMessageLength);
    try {
        Log& log = TheLog();
        {
            Entry entry{0, std::chrono::system_clock::now(), level, std::string(message)};
            std::lock_guard guard(log.lock);
            entry.sequence = ++log.lastSequence;
            log.entries.push_back(std::move(entry));
            if (log.entries.size() > kRecentCapacity)
                log.entries.pop_front();
        }
        if (t_inHandler)
            return;
        Sink& sink = TheSink();
        std::lock_guard guard(sink.lock);
        if (sink.handler) {
            t_inHandler = true;
            try {
                sink.handler(level, message);
            } catch (...) {
                // A handler that throws loses this message, nothing else.
            }
            t_inHandler = false;
        }
    } catch (...) {
        // Out of memory or a lock that failed: the message is dropped.
    }
}

std::vector<Entry> Recent(uint64_t afterSequence) {
    Log& log = TheLog();
    std::lock_guard guard(log.lock);
    std::vector<Entry> recent;
    for (const Entry& entry : log.entries) {
        if (entry.sequence > afterSequence)
            recent.push_back(entry);
    }
    return recent;
}

void ClearRecent() {
    Log& log = TheLog();
    std::lock_guard guard(log.lock);
    log.entries.clear();
}

}  // namespace marquen::diagnostics
