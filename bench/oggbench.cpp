// oggbench: what an open, a seek, a stalled read and a broadcast cost, measured through the host path.
//   oggbench open FILE [RUNS]          reads, bytes and the median wall time of an open
//   oggbench seek FILE [COUNT] [SEED]  median and worst time of seeks to random targets from the stopped
//                                      state, with bytes and reads: the search (Start with a position until
//                                      MESourceSeeked) and the preroll (until the first data sample of every
//                                      selected stream)
//   oggbench latency FILE [STALL_MS]   how long each host call takes while a read of the play is held at
//                                      the byte stream's gate (for STALL_MS, 2000): max and median of five
//                                      rounds, Shutdown last
//   oggbench live URL SECONDS [FEEDER_PID [PEER_PID]]
//                                      a broadcast played for SECONDS: peak memory, samples, links, ticks and
//                                      errors per minute (PEER_PID: a process reading the same URL, its peak
//                                      memory beside ours); then the feeder is stopped and the host calls are
//                                      timed while a read waits for the stalled server
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "subcommands.h"

namespace {
using namespace bench;

int Open(const char* path, int runs) {
    std::vector<double> times;
    uint64_t reads = 0, bytes = 0;
    for (int i = 0; i < runs; ++i) {
        Counted c(path);
        PlatRef<IMFMediaSource> source;
        auto t0 = Clock::now();
        HRESULT hr = host::OpenByteStream(c.stream.Get(), &source, path);
        times.push_back(Ms(Clock::now() - t0));
        if (FAILED(hr)) {
            std::fprintf(stderr, "%s: %s\n", path, host::HResultText(hr).c_str());
            return 1;
        }
        c.Counters(&reads, &bytes);
        source->Shutdown();
    }
    std::sort(times.begin(), times.end());
    std::printf("open %s: %llu reads, %llu bytes, median %.3f ms\n", path,
                static_cast<unsigned long long>(reads), static_cast<unsigned long long>(bytes),
                times[times.size() / 2]);
    return 0;
}

// The stream's first data sample of the run (the one marked as a discontinuity; codec headers come before
// it).
bool FirstSample(IMFMediaStream* stream) {
    if (FAILED(stream->RequestSample(nullptr))) return false;
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(stream->GetEvent(0, &e))) return false;
        MediaEventType t;
        e->GetType(&t);
        if (t == MEEndOfStream) return true;
        if (t != MEMediaSample) continue;
        PlatRef<IMFSample> sample = EventObject<IMFSample>(e.Get(), IID_IMFSample);
        UINT32 discontinuity = 0;
        if (sample && SUCCEEDED(sample->GetUINT32(MFSampleExtension_Discontinuity, &discontinuity)) &&
            discontinuity)
            return true;
        if (FAILED(stream->RequestSample(nullptr))) return false;
    }
}

// Seeks from the stopped state to random targets, each timed from Start to the first data sample of every
// selected stream (what a player needs before it can show the target), with the bytes and reads in between.
int Seek(const char* path, int count, unsigned seed) {
    Counted c(path);
    PlatRef<IMFMediaSource> source;
    HRESULT hr = host::OpenByteStream(c.stream.Get(), &source, path);
    if (FAILED(hr)) return 1;
    PlatRef<IMFPresentationDescriptor> pd;
    source->CreatePresentationDescriptor(&pd);
    UINT64 duration = 0;
    pd->GetUINT64(MF_PD_DURATION, &duration);
    std::mt19937_64 rng(seed);
    struct Phase {
        std::vector<double> times;
        uint64_t reads = 0, bytes = 0;
        void Print(const char* path, const char* what, int count) {
            std::sort(times.begin(), times.end());
            std::printf("%s %s: %d seeks, median %.3f ms, worst %.3f ms, %.0f bytes/seek, %.1f reads/seek\n",
                        what, path, count, times[times.size() / 2], times.back(),
                        static_cast<double>(bytes) / count, static_cast<double>(reads) / count);
        }
    } search, preroll;
    for (int i = 0; i < count; ++i) {
        PROPVARIANT at;
        PropVariantInit(&at);
        at.vt = VT_I8;
        at.hVal.QuadPart = 1 + static_cast<LONGLONG>(rng() % (duration > 1 ? duration - 1 : 1));
        uint64_t r0, b0, r1, b1, r2, b2;
        c.Counters(&r0, &b0);
        auto t0 = Clock::now();
        std::vector<PlatRef<IMFMediaStream>> streams;
        if (FAILED(source->Start(pd.Get(), nullptr, &at)) || !Announced(source.Get(), &streams)) return 1;
        search.times.push_back(Ms(Clock::now() - t0));
        c.Counters(&r1, &b1);
        for (auto& s : streams)
            if (!FirstSample(s.Get())) return 1;
        preroll.times.push_back(Ms(Clock::now() - t0));
        c.Counters(&r2, &b2);
        search.reads += r1 - r0;
        search.bytes += b1 - b0;
        preroll.reads += r2 - r0;
        preroll.bytes += b2 - b0;
        source->Stop();
        WaitFor(source.Get(), MESourceStopped);
    }
    source->Shutdown();
    search.Print(path, "search", count);
    preroll.Print(path, "preroll", count);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: oggbench open FILE [RUNS] | seek FILE [COUNT] [SEED] | latency FILE [STALL_MS] |\n"
            "       live URL SECONDS [FEEDER_PID [PEER_PID]]\n");
        return 2;
    }
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    std::string verb = argv[1];
    int rc = verb == "open" ? Open(argv[2], argc > 3 ? std::atoi(argv[3]) : 5)
             : verb == "seek"
                 ? Seek(argv[2], argc > 3 ? std::atoi(argv[3]) : 100, argc > 4 ? std::atoi(argv[4]) : 1)
             : verb == "latency" ? bench::StallLatency(argv[2], argc > 3 ? std::atoi(argv[3]) : 2000)
             : verb == "live"
                 ? bench::Live(argv[2], argc > 3 ? std::atoi(argv[3]) : 180,
                               argc > 4 ? std::atoi(argv[4]) : 0, argc > 5 ? std::atoi(argv[5]) : 0)
                 : 2;
    MFShutdown();
    return rc;
}
