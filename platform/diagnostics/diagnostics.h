#pragma once
// Diagnostics of the libraries: messages for a user or a developer that are
// no result of a call (a map-file line ignored, a module that did not load,
// the system error behind a port that failed). Libraries report them here and
// never write to standard error themselves; the program decides where they
// go: a handler it installs (marquen-cli prints them with --verbose), and a
// bounded log of the recent ones that it can show.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marquen::diagnostics {

enum class Level {
    kError,    ///< something failed that the user asked for
    kWarning,  ///< something was ignored or replaced by a default
    kInfo,     ///< a step worth knowing of
    kDebug,    ///< a trace for a developer
};

/// "error", "warning", "info" or "debug".
const char* LevelName(Level level);

/// Receives each diagnostic: its level and one message without a line end.
using Handler = std::function<void(Level level, std::string_view message)>;

/// Installs `handler` (an empty one removes it). Once this returns, the
/// previous handler is not running and is not called again. The handler is
/// called on the thread that reports, one call at a time, so it must be
/// quick (print a line, or queue the message for the user-interface thread)
/// and must not wait for another thread that may be reporting. What it
/// reports itself only goes to the log. Any thread.
void SetHandler(Handler handler);

/// Reports one diagnostic: kept in the recent log and handed to the handler.
/// Never throws (a message that cannot be stored is dropped); any thread.
void Report(Level level, std::string_view message) noexcept;

/// Longest message kept; a longer one is cut there.
constexpr size_t kMaxMessageLength = 4096;
/// How many diagnostics the recent log keeps; older ones are dropped.
constexpr size_t kRecentCapacity = 256;

struct Entry {
    uint64_t sequence = 0;  ///< 1 for the first diagnostic of the process, then counting up
    std::chrono::system_clock::time_point time;
    Level level = Level::kDebug;
    std::string message;
};

/// The diagnostics still in the recent log with a sequence number above
/// `afterSequence`, oldest first: a viewer passes the last number it showed
/// to get only the new ones. Any thread.
std::vector<Entry> Recent(uint64_t afterSequence = 0);
/// Empties the recent log (sequence numbers go on counting). Any thread.
void ClearRecent();

}  // namespace marquen::diagnostics
