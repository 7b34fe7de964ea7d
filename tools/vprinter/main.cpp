// vprinter: the virtual receipt printer as a program. The first line of
// standard output is the device path to open; the printer then serves until
// SIGTERM or SIGINT, until standard input closes, or until a hang-up fault
// closes the line. SIGHUP switches the printer off and on.
#include "program_options.h"
#ifdef MARQUEN_VPRINTER_USB
#include "usb_program.h"
#endif
#include "virtual_printer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace vprinter;

int main(int argc, char** argv)
{
#ifdef MARQUEN_VPRINTER_USB
    if (argc >= 2 && std::string(argv[1]) == "--usb")
        return RunUsbProgram(argc, argv);
#endif
    ProgramOptions options;
    std::string error;
    if (!ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "vprinter: %s\n\n%s", error.c_str(), ProgramUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ProgramUsage().c_str(), stdout);
        return 0;
    }

    // The signals are taken through a descriptor; blocked before the printer's
    // thread starts so that it inherits the mask and never receives them.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    int signals = ::signalfd(-1, &handled, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("vprinter: signalfd");
        return 1;
    }

    if (options.verbose) {
        options.printer.log = [](std::string_view line) {
            std::fprintf(stderr, "vprinter: %.*s\n", static_cast<int>(line.size()), line.data());
        };
    }
    VirtualPrinter printer(options.printer);
    printer.WithModel([&](PrinterModel& model) { model.Faults() = options.faults; });
    if (options.stall) {
        if (options.stallAfterBytes > 0)
            printer.StallAfterBytes(options.stallAfterBytes, options.stallDuration);
        else
            printer.Stall(options.stallDuration);
    }
    if (!printer.Start(error)) {
        std::fprintf(stderr, "vprinter: %s\n", error.c_str());
        return 1;
    }
    if (options.garbageCount > 0) {
        if (options.garbageInterval.count() > 0)
            printer.SetPeriodicGarbage(options.garbageCount, options.garbageInterval);
        else
            printer.SendGarbage(options.garbageCount);
    }
    std::printf("%s\n", printer.SlavePath().c_str());
    std::fflush(stdout);

    int status = 0;
    bool watchStdin = !options.ignoreStdin;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {watchStdin ? STDIN_FILENO : -1, POLLIN, 0}};
        // The time-out only bounds how late a hang-up fault is noticed.
        int ready = ::poll(fds, 2, 100);
        if (!printer.Running()) {
            std::fprintf(stderr, "vprinter: the line was hung up\n");
            break;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("vprinter: poll");
            status = 1;
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info {};
            if (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGUSR1) {
                    printer.EndStall();
                    continue;
                }
                if (info.ssi_signo == SIGHUP) {
                    printer.PowerCycle();
                    continue;
                }
                break;  // SIGTERM or SIGINT: a clean stop
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char discard[256];
            ssize_t got = ::read(STDIN_FILENO, discard, sizeof discard);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break;  // standard input closed
        }
    }
    printer.Stop();
    ::close(signals);
    return status;
}
