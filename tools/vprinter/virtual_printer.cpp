#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace vprinter {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr size_t kReadChunk = 4096;
// With pacing, the line is read and written in slices of about 10 ms of
// transfer, so the rate holds over short exchanges as well as long ones.
constexpr uint32_t kPacingSlicesPerSecond = 100;
// How long a hang-up waits for the client to read what was sent before it.
constexpr milliseconds kHangUpDrainLimit{2000};
constexpr milliseconds kHangUpDrainPoll{5};
constexpr milliseconds kHangUpSettle{20};
constexpr size_t kGarbageBacklogLimit = 64 * 1024;
// How often the line is looked at for an exclusive mode its client left
// behind.
constexpr milliseconds kAbandonedLinePoll{1000};

size_t PacedChunk(uint32_t baud)
{
    return std::max<size_t>(1, baud / 10 / kPacingSlicesPerSecond);
}

nanoseconds TransferTime(size_t bytes, uint32_t baud)
{
    // 10 bits a byte: start, 8 data, stop.
    return nanoseconds(static_cast<int64_t>(bytes) * 10 * 1'000'000'000 / baud);
}

std::string HexBytes(std::span<const uint8_t> bytes, size_t limit = 16)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += cell;
    }
    if (bytes.size() > limit)
        text += " ...";
    return text;
}

}  // namespace

VirtualPrinter::VirtualPrinter(VirtualPrinterOptions options)
    : m_options(std::move(options)),
      m_model(m_options.printer),
      m_fixedBaud(m_options.baud),
      m_paceFromLine(m_options.paceFromLine),
      m_random(m_options.seed)
{
    // Lives as long as the object, so Wake is safe from any thread at any time.
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

VirtualPrinter::~VirtualPrinter()
{
    Stop();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool VirtualPrinter::Start(std::string& error)
{
    if (m_thread.joinable()) {
        error = "the printer is already started";
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        error = ValidateConfig(m_model.Config());
    }
    if (!error.empty())
        return false;
    if (m_wakeFd < 0) {
        error = "eventfd failed";
        return false;
    }
    if (!m_terminal.Open(error))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_slavePath = m_terminal.SlavePath();
        m_stopRequested = false;
        m_running = true;
        m_hungUp = false;
        m_nextGarbage = Clock::now();
    }
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void VirtualPrinter::Stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    Wake();
    m_thread.join();
    m_terminal.Close();
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_changed.notify_all();
}

std::string VirtualPrinter::SlavePath() const
{
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

bool VirtualPrinter::Running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

bool VirtualPrinter::HungUp() const
{
    std::lock_guard lock(m_mutex);
    return m_hungUp;
}

PrinterModel VirtualPrinter::Snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_model;
}

bool VirtualPrinter::WaitUntil(const std::function<bool(const PrinterModel&)>& pred, milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&]() REQUIRES(m_mutex) { return pred(m_model); });
}

bool VirtualPrinter::WaitForDefineCompleted(uint8_t slot, milliseconds timeout)
{
    return WaitUntil([slot](const PrinterModel& model) { return model.DefineCount(slot) > 0; }, timeout);
}

bool VirtualPrinter::WaitUntilIdle(milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&]() REQUIRES(m_mutex) {
        return !m_running ||
               (m_transmit.empty() && !m_model.InsideCommand() && !m_model.NextDeadline());
    });
}

void VirtualPrinter::Stall(std::optional<milliseconds> duration)
{
    {
        std::lock_guard lock(m_mutex);
        m_stallAtByte.reset();
        m_stallActive = true;
        m_stallForever = !duration;
        m_stallEnd = Clock::now() + duration.value_or(milliseconds(0));
    }
    StateChanged();
}

void VirtualPrinter::StallAfterBytes(uint64_t bytes, std::optional<milliseconds> duration)
{
    {
        std::lock_guard lock(m_mutex);
        m_stallAtByte = bytes;
        m_stallAtByteDuration = duration;
    }
    StateChanged();
}

void VirtualPrinter::EndStall()
{
    {
        std::lock_guard lock(m_mutex);
        m_stallActive = false;
        m_stallForever = false;
        m_stallAtByte.reset();
    }
    StateChanged();
}

bool VirtualPrinter::Stalled() const
{
    std::lock_guard lock(m_mutex);
    return m_stallActive;
}

bool VirtualPrinter::WaitForStall(milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&]() REQUIRES(m_mutex) { return m_stallActive; });
}

void VirtualPrinter::PowerCycle()
{
    {
        std::lock_guard lock(m_mutex);
        m_powerCycleRequested = true;
    }
    StateChanged();
}

void VirtualPrinter::SendGarbage(size_t count)
{
    {
        std::lock_guard lock(m_mutex);
        AppendGarbage(count);
    }
    StateChanged();
}

void VirtualPrinter::SetPeriodicGarbage(size_t count, milliseconds interval)
{
    {
        std::lock_guard lock(m_mutex);
        m_garbageCount = interval.count() > 0 ? count : 0;
        m_garbageInterval = interval;
        m_nextGarbage = Clock::now() + interval;
    }
    StateChanged();
}

void VirtualPrinter::SetPacing(uint32_t baud, bool fromLine)
{
    {
        std::lock_guard lock(m_mutex);
        m_fixedBaud = baud;
        m_paceFromLine = fromLine;
    }
    StateChanged();
}

LineCounters VirtualPrinter::Counters() const
{
    std::lock_guard lock(m_mutex);
    return m_counters;
}

void VirtualPrinter::AppendGarbage(size_t count)
{
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t i = 0; i < count; ++i)
        m_transmit.push_back(static_cast<uint8_t>(byte(m_random)));
    m_counters.garbageSent += count;
}

uint32_t VirtualPrinter::CurrentBaud() const
{
    if (m_fixedBaud != 0)
        return m_fixedBaud;
    return m_paceFromLine ? m_terminal.LineBaud() : 0;
}

void VirtualPrinter::StateChanged()
{
    m_changed.notify_all();
    Wake();
}

void VirtualPrinter::Wake()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost when this fails.
    [[maybe_unused]] ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
}

// The printer's thread. The lock is held while the model and the queues are
// looked at, never while waiting: the wait is one ppoll on the line and the
// wake-up descriptor, bounded by the nearest deadline (a delayed reply, the
// end of a stall, the next garbage burst, the pacing of either direction).
void VirtualPrinter::Serve()
{
    std::vector<uint8_t> received(kReadChunk);
    std::vector<std::string> logLines;
    size_t transmitOffset = 0;  // bytes of m_transmit already written
    Clock::time_point readFreeAt = Clock::now();
    Clock::time_point writeFreeAt = Clock::now();
    std::optional<Clock::time_point> hangUpGiveUp;
    Clock::time_point lastWrite{};
    Clock::time_point nextLineCheck = Clock::now() + kAbandonedLinePoll;
    const int master = m_terminal.MasterFd();

    std::unique_lock lock(m_mutex);
    while (!m_stopRequested) {
        Clock::time_point now = Clock::now();
        if (m_powerCycleRequested) {
            m_powerCycleRequested = false;
            const uint32_t awaited = m_model.DefineBytesAwaited();
            m_model.PowerCycle();
            m_transmit.clear();
            transmitOffset = 0;
            ::tcflush(master, TCIOFLUSH);
            logLines.push_back(awaited != 0 ? "switched off and on: the logo still awaiting " +
                                                  std::to_string(awaited) + " bytes is dropped"
                                            : "switched off and on");
        }
        if (now >= nextLineCheck) {
            if (m_terminal.ReleaseAbandonedExclusiveMode())
                logLines.push_back("exclusive mode left behind by a client that is gone: ended");
            nextLineCheck = now + kAbandonedLinePoll;
        }
        if (m_stallActive && !m_stallForever && now >= m_stallEnd)
            m_stallActive = false;
        if (m_stallAtByte && m_counters.bytesReceived >= *m_stallAtByte) {
            m_stallActive = true;
            m_stallForever = !m_stallAtByteDuration;
            m_stallEnd = now + m_stallAtByteDuration.value_or(milliseconds(0));
            m_stallAtByte.reset();
            logLines.push_back("stall begins");
        }
        if (m_garbageCount > 0 && now >= m_nextGarbage) {
            // With nobody reading, periodic garbage would pile up without end.
            if (m_transmit.size() - transmitOffset < kGarbageBacklogLimit)
                AppendGarbage(m_garbageCount);
            m_nextGarbage = now + m_garbageInterval;
        }
        std::vector<uint8_t> replies = m_model.TakeOutput(now);
        m_transmit.insert(m_transmit.end(), replies.begin(), replies.end());
        if (transmitOffset == m_transmit.size()) {
            m_transmit.clear();
            transmitOffset = 0;
        }
        // Closing the master discards whatever the client has not read yet,
        // so a hang-up waits (a while) for the bytes sent before it to be
        // taken, as they would have crossed a real cable before it was pulled.
        bool hangUpWaits = false;
        if (m_model.HangUpRequested() && m_transmit.empty()) {
            if (!hangUpGiveUp)
                hangUpGiveUp = now + kHangUpDrainLimit;
            // The kernel hands written bytes to the slave's queue a moment
            // after the write, so an empty queue counts only once it has had
            // time to fill.
            hangUpWaits = now < *hangUpGiveUp &&
                          (now - lastWrite < kHangUpSettle || m_terminal.UnreadByClient() > 0);
        }
        if (m_model.HangUpRequested() && m_transmit.empty() && !hangUpWaits) {
            m_terminal.Close();
            m_hungUp = true;
            m_running = false;
            lock.unlock();
            m_changed.notify_all();
            if (m_options.log) {
                logLines.push_back("hang-up: line closed");
                for (const std::string& line : logLines)
                    m_options.log(line);
            }
            return;
        }

        const uint32_t baud = CurrentBaud();
        const bool readNow = !m_stallActive && (baud == 0 || now >= readFreeAt);
        const bool writeNow = !m_transmit.empty() && (baud == 0 || now >= writeFreeAt);
        std::optional<Clock::time_point> deadline = m_model.NextDeadline();
        auto consider = [&](Clock::time_point t) {
            if (!deadline || t < *deadline)
                deadline = t;
        };
        if (m_stallActive && !m_stallForever)
            consider(m_stallEnd);
        if (m_garbageCount > 0)
            consider(m_nextGarbage);
        consider(nextLineCheck);
        if (baud != 0 && !m_stallActive && !readNow)
            consider(readFreeAt);
        if (baud != 0 && !m_transmit.empty() && !writeNow)
            consider(writeFreeAt);
        if (hangUpWaits)  // nothing signals that the client has read: look again soon
            consider(now + kHangUpDrainPoll);
        lock.unlock();

        m_changed.notify_all();
        if (m_options.log) {
            for (const std::string& line : logLines)
                m_options.log(line);
        }
        logLines.clear();

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {master, 0, 0}};
        if (readNow)
            fds[1].events |= POLLIN;
        if (writeNow)
            fds[1].events |= POLLOUT;
        timespec wait {};
        timespec* waitFor = nullptr;
        if (deadline) {
            nanoseconds left = std::max(nanoseconds(0), duration_cast<nanoseconds>(*deadline - Clock::now()));
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            waitFor = &wait;
        }
        int ready = ::ppoll(fds, 2, waitFor, nullptr);
        if (ready < 0 && errno != EINTR) {
            // Not expected for these descriptors; do not spin on it.
            timespec pause {0, 50'000'000};
            ::nanosleep(&pause, nullptr);
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] ssize_t ignored = ::read(m_wakeFd, &count, sizeof count);
        }
        if (ready > 0 && (fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) {
            // The slave is held open here, so this should not last; if it
            // does, look again later rather than spin.
            timespec pause {0, 20'000'000};
            ::nanosleep(&pause, nullptr);
        }

        lock.lock();
        // Looked at again: a client may have set its speed during the wait.
        const uint32_t lineBaud = CurrentBaud();
        if (ready > 0 && (fds[1].revents & POLLIN) && readNow && !m_stallActive) {
            size_t limit = lineBaud != 0 ? PacedChunk(lineBaud) : received.size();
            if (m_stallAtByte)
                limit = static_cast<size_t>(
                    std::min<uint64_t>(limit, *m_stallAtByte - std::min(*m_stallAtByte, m_counters.bytesReceived)));
            ssize_t got = limit == 0 ? 0 : ::read(master, received.data(), limit);
            if (got > 0) {
                const Clock::time_point at = Clock::now();
                const size_t count = static_cast<size_t>(got);
                m_counters.bytesReceived += count;
                const uint64_t commandsBefore = m_model.CommandsRecorded();
                const uint64_t unknownBefore = m_model.UnknownByteCount();
                const size_t consumed = m_model.Feed(std::span<const uint8_t>(received.data(), count), at);
                if (lineBaud != 0)
                    readFreeAt = std::max(readFreeAt, at) + TransferTime(count, lineBaud);
                if (m_options.log) {
                    const auto& commands = m_model.CommandLog();
                    uint64_t fresh = std::min<uint64_t>(m_model.CommandsRecorded() - commandsBefore, commands.size());
                    for (auto it = commands.end() - static_cast<ptrdiff_t>(fresh); it != commands.end(); ++it)
                        logLines.push_back(std::string(CommandName(it->command)) + " " + HexBytes(it->bytes) +
                                           (it->refused ? " (refused)" : ""));
                    if (m_model.UnknownByteCount() > unknownBefore)
                        logLines.push_back("ignored " + std::to_string(m_model.UnknownByteCount() - unknownBefore) +
                                           " unknown bytes");
                    if (consumed < count)
                        logLines.push_back("hang-up fault fired");
                }
            }
        }
        if (ready > 0 && (fds[1].revents & POLLOUT) && writeNow && transmitOffset < m_transmit.size()) {
            size_t length = m_transmit.size() - transmitOffset;
            if (lineBaud != 0)
                length = std::min(length, PacedChunk(lineBaud));
            ssize_t sent = ::write(master, m_transmit.data() + transmitOffset, length);
            if (sent > 0) {
                lastWrite = Clock::now();
                transmitOffset += static_cast<size_t>(sent);
                m_counters.bytesSent += static_cast<uint64_t>(sent);
                if (lineBaud != 0)
                    writeFreeAt =
                        std::max(writeFreeAt, Clock::now()) + TransferTime(static_cast<size_t>(sent), lineBaud);
                if (transmitOffset == m_transmit.size()) {
                    m_transmit.clear();
                    transmitOffset = 0;
                }
            }
        }
    }
}

}  // namespace vprinter
