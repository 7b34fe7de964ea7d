// Timings of the communication server against the virtual printer:
//   packets   a 520 kB Define logo in 64-byte packets, unpaced: bytes and
//             progress events per second;
//   paced     the same stream with the printer reading at 115200 baud: the
//             transfer time against the line time (bytes x 10 / 115200 s);
//   latency   bytes written by the printer to OnComm on this thread, against
//             the 100 ms timer period;
//   exchange  WriteAndRead round trips (Logo status request, 4-byte reply).
// Usage: marquen-bench-comm [packets|paced|latency|exchange]... (all by
// default). Runs in a scratch registry; needs libquorlink.so and regsvr
// beside it.
#include "com/com.h"
#include "icommunication.h"
#include "kernel/kernel.h"
#include "virtual_printer.h"
#include "window/message_window.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool PumpUntil(const std::function<bool()>& done, double timeoutSeconds) {
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    pollfd wake{marquen::window::MessageQueueWakeFd(), POLLIN, 0};
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        wake.revents = 0;
        if (poll(&wake, 1, 5) > 0)
            marquen::window::PumpPendingMessages();
    }
    return true;
}

// Counts the events and stamps the OnComm ones.
class Sink final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID__ICommunicationEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        ++events;
        if (id == DISPID_OnUpdateProgress)
            percent = params->rgvarg[0].lVal;
        else if (id == DISPID_OnError)
            ++errors;
        else if (id == DISPID_OnComm) {
            lastOnComm = Clock::now();
            received += static_cast<size_t>(params->rgvarg[0].lVal);
        }
        return S_OK;
    }
    uint64_t events = 0;
    LONG percent = 0;
    uint64_t errors = 0;
    size_t received = 0;
    Clock::time_point lastOnComm;
};

struct Bench {
    fs::path folder;
    std::unique_ptr<vprinter::VirtualPrinter> printer;
    ComPtr<ICommunication> comm;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    Sink sink;

    bool Start(uint32_t baud) {
        vprinter::VirtualPrinterOptions options;
        options.baud = baud;
        options.printer.logoAreaKbytes = 1024;
        printer = std::make_unique<vprinter::VirtualPrinter>(options);
        std::string error;
        if (!printer->Start(error)) {
            std::fprintf(stderr, "vprinter: %s\n", error.c_str());
            return false;
        }
        std::ofstream(folder / "ports") << "COM7=" << printer->SlavePath() << "\n";
        setenv("QUORLINK_PORT_MAP", (folder / "ports").c_str(), 1);
        if (FAILED(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                                    comm.PutVoid())))
            return false;
        ComPtr<IConnectionPointContainer> container;
        comm.As(container);
        container->FindConnectionPoint(DIID__ICommunicationEvents, point.Put());
        point->Advise(&sink, &cookie);
        Bstr name(L"COM7");
        LONG rc = 0;
        comm->put_Baudrate(BR_9600);
        comm->put_Baudrate(BR_115200);
        comm->OpenPort(name.Get(), &rc);
        return rc == 1;
    }
    void Stop() {
        if (comm) {
            comm->ClosePort();
            point->Unadvise(cookie);
        }
        point.Reset();
        comm.Reset();
        printer.reset();
    }
};

Bytes DefineLogo() {
    Bytes stream{0x1D, 0x2A, 255, 255};
    std::mt19937 random(7);
    for (size_t i = 0; i < 255u * 255u * 8u; ++i)
        stream.push_back(static_cast<uint8_t>(random()));
    return stream;
}

// One packetised transfer to its end; false on OnError or time-out.
bool Transfer(Bench& bench, const Bytes& stream, double timeoutSeconds, Clock::duration& took, uint64_t& events) {
    bench.sink = Sink{};
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(stream.size()));
    std::memcpy(array->pvData, stream.data(), stream.size());
    LONG written = 0;
    LONG rc = 0;
    auto start = Clock::now();
    bench.comm->WritePort(&array, static_cast<LONG>(stream.size()), &written, 64, &rc);
    SafeArrayDestroy(array);
    bool done = rc == WRITEPORT_RC_SUCCESS &&
                PumpUntil([&] { return bench.sink.percent == 100 || bench.sink.errors > 0; }, timeoutSeconds);
    // Progress 100 means the terminal took the last packet; the transfer is
    // over when the printer has read it.
    done = done && bench.sink.errors == 0 && bench.printer->WaitForDefineCompleted(0, std::chrono::seconds(30));
    took = Clock::now() - start;
    events = bench.sink.events;
    return done;
}

int Packets(Bench& bench) {
    if (!bench.Start(0))
        return 1;
    Bytes stream = DefineLogo();
    Clock::duration took{};
    uint64_t events = 0;
    bool ok = Transfer(bench, stream, 120, took, events);
    std::printf("packets: %zu bytes in 64-byte packets, unpaced: %.3f s, %.0f bytes/s, %llu events, %.0f events/s%s\n",
                stream.size(), Seconds(took), stream.size() / Seconds(took),
                static_cast<unsigned long long>(events), events / Seconds(took), ok ? "" : " (FAILED)");
    bench.Stop();
    return ok ? 0 : 1;
}

int Paced(Bench& bench) {
    if (!bench.Start(115200))
        return 1;
    Bytes stream = DefineLogo();
    Clock::duration took{};
    uint64_t events = 0;
    bool ok = Transfer(bench, stream, 300, took, events);
    double line = stream.size() * 10.0 / 115200.0;
    double over = (Seconds(took) / line - 1) * 100;
    std::printf("paced: %zu bytes at 115200 baud: %.2f s against a line time of %.2f s: %+.2f %% (goal <= 3 %%)%s\n",
                stream.size(), Seconds(took), line, over, ok ? "" : " (FAILED)");
    bench.Stop();
    return ok && over <= 3.0 ? 0 : 1;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    size_t index = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5));
    return values[index];
}

int Latency(Bench& bench, int samples) {
    if (!bench.Start(0))
        return 1;
    std::mt19937 random(3);
    std::vector<double> latencies;
    for (int i = 0; i < samples; ++i) {
        // Land anywhere in the timer period.
        PumpUntil([] { return false; }, std::uniform_real_distribution<double>(0.0, 0.1)(random));
        size_t before = bench.sink.received;
        uint64_t sentBefore = bench.printer->Counters().bytesSent;
        bench.printer->SendGarbage(8);
        // The printer's thread writes the bytes; the clock starts when they
        // are on the line.
        while (bench.printer->Counters().bytesSent < sentBefore + 8)
            std::this_thread::yield();
        auto written = Clock::now();
        if (!PumpUntil([&] { return bench.sink.received >= before + 8; }, 5))
            return 1;
        latencies.push_back(Milliseconds(bench.sink.lastOnComm - written));
    }
    double median = Percentile(latencies, 50);
    double p99 = Percentile(latencies, 99);
    std::printf("latency: %d samples, printer write to OnComm: median %.1f ms, p99 %.1f ms, max %.1f ms "
                "(timer period 100 ms; goal p99 <= 120 ms)\n",
                samples, median, p99, Percentile(latencies, 100));
    bench.Stop();
    return p99 <= 120 ? 0 : 1;
}

int Exchange(Bench& bench, int rounds) {
    if (!bench.Start(0))
        return 1;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        VARIANT buffer;
        VariantInit(&buffer);
        buffer.vt = VT_ARRAY | VT_UI1;
        buffer.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
        auto* bytes = static_cast<uint8_t*>(buffer.parray->pvData);
        bytes[0] = 0x1F;
        bytes[1] = 0x65;
        bytes[2] = static_cast<uint8_t>(i);
        LONG read = 4;
        LONG result = 0;
        auto start = Clock::now();
        bench.comm->WriteAndRead(&buffer, 3, &read, &result);
        times.push_back(Milliseconds(Clock::now() - start));
        VariantClear(&buffer);
        if (result != 1) {
            std::printf("exchange: no reply in round %d\n", i);
            return 1;
        }
        // A reply split over two reads leaves its rest queued: let it go.
        PumpUntil([] { return false; }, 0.001);
    }
    double median = Percentile(times, 50);
    std::printf("exchange: %d WriteAndRead round trips: median %.2f ms, p99 %.2f ms (goal: median < 5 ms)\n", rounds,
                median, Percentile(times, 99));
    bench.Stop();
    return median < 5 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> which(argv + 1, argv + argc);
    if (which.empty())
        which = {"packets", "paced", "latency", "exchange"};

    char folderTemplate[] = "/tmp/marquen-bench-comm-XXXXXX";
    if (!mkdtemp(folderTemplate))
        return 1;
    Bench bench;
    bench.folder = folderTemplate;
    setenv("XDG_CONFIG_HOME", folderTemplate, 1);
    fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    std::string command = "'" + (bin / "regsvr").string() + "' '" + (bin / "libquorlink.so").string() + "'";
    int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cannot register %s\n", (bin / "libquorlink.so").c_str());
        return 1;
    }
    CoInitialize(nullptr);
    int failures = 0;
    for (const std::string& name : which) {
        if (name == "packets")
            failures += Packets(bench);
        else if (name == "paced")
            failures += Paced(bench);
        else if (name == "latency")
            failures += Latency(bench, 200);
        else if (name == "exchange")
            failures += Exchange(bench, 500);
        else {
            std::fprintf(stderr, "unknown benchmark %s\n", name.c_str());
            ++failures;
        }
    }
    CoUninitialize();
    fs::remove_all(bench.folder);
    return failures == 0 ? 0 : 1;
}
