// oggbench: what an open and a seek cost, measured through the host path with a counting byte stream.
//   oggbench open FILE [RUNS]          reads, bytes and the median wall time of an open
//   oggbench seek FILE [COUNT] [SEED]  median and worst time of seeks to random targets from the stopped
//                                      state, with bytes and reads: the search (Start with a position until
//                                      MESourceSeeked) and the preroll (until the first data sample of every
//                                      selected stream)
//   oggbench latency FILE [DELAY_MS]   how long each host call takes while the source's reader waits in a read
//                                      of DELAY_MS (2000): the slowest of five rounds per call, and Shutdown's
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host.h"

namespace {
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Counted {
    PlatRef<IMFByteStream> stream;
    PlatRef<IFaultByteStreamControl> control;
    explicit Counted(const char* path) {
        PlatRef<IMFByteStream> file;
        MFCreateFileByteStreamA(path, &file);
        if (file) MFCreateFaultByteStream(file.Get(), nullptr, &stream);
        if (stream) stream->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
    }
    void Counters(uint64_t* reads, uint64_t* bytes) { control->GetCounters(reads, bytes); }
};

bool WaitFor(IMFMediaSource* source, MediaEventType want) {
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(source->GetEvent(0, &e))) return false;
        MediaEventType t;
        HRESULT status;
        e->GetType(&t);
        e->GetStatus(&status);
        if (t == want) return SUCCEEDED(status);
    }
}

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
    std::printf("open %s: %llu reads, %llu bytes, median %.3f ms\n", path, static_cast<unsigned long long>(reads),
                static_cast<unsigned long long>(bytes), times[times.size() / 2]);
    return 0;
}

// The media streams a start announces, and the source's started or seeked event.
bool Announced(IMFMediaSource* source, std::vector<PlatRef<IMFMediaStream>>* streams) {
    streams->clear();
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(source->GetEvent(0, &e))) return false;
        MediaEventType t;
        HRESULT status;
        e->GetType(&t);
        e->GetStatus(&status);
        if (FAILED(status)) return false;
        if (t == MENewStream || t == MEUpdatedStream) {
            PROPVARIANT v;
            PropVariantInit(&v);
            e->GetValue(&v);
            PlatRef<IMFMediaStream> stream;
            if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&stream));
            PropVariantClear(&v);
            if (stream) streams->push_back(stream);
        }
        if (t == MESourceSeeked || t == MESourceStarted) return true;
    }
}

// The stream's first data sample of the run (the one marked as a discontinuity; codec headers come before it).
bool FirstSample(IMFMediaStream* stream) {
    if (FAILED(stream->RequestSample(nullptr))) return false;
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(stream->GetEvent(0, &e))) return false;
        MediaEventType t;
        e->GetType(&t);
        if (t == MEEndOfStream) return true;
        if (t != MEMediaSample) continue;
        PROPVARIANT v;
        PropVariantInit(&v);
        e->GetValue(&v);
        PlatRef<IMFSample> sample;
        if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&sample));
        PropVariantClear(&v);
        UINT32 discontinuity = 0;
        if (sample && SUCCEEDED(sample->GetUINT32(MFSampleExtension_Discontinuity, &discontinuity)) && discontinuity) return true;
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
            std::printf("%s %s: %d seeks, median %.3f ms, worst %.3f ms, %.0f bytes/seek, %.1f reads/seek\n", what, path, count,
                        times[times.size() / 2], times.back(), static_cast<double>(bytes) / count,
                        static_cast<double>(reads) / count);
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
// Every host call made while a read takes `delay` ms (the reads of the play, not of the open): the worst of five
// rounds per call.
int Latency(const char* path, int delay) {
    Counted c(path);
    PlatRef<IMFMediaSource> source;
    if (FAILED(host::OpenByteStream(c.stream.Get(), &source, path))) return 1;
    FaultConfig slow;
    slow.readDelayMicros = static_cast<unsigned>(delay) * 1000;
    c.control->Reconfigure(slow);
    uint64_t opened = 0;
    c.Counters(&opened, nullptr);
    PlatRef<IMFPresentationDescriptor> pd;
    source->CreatePresentationDescriptor(&pd);
    PROPVARIANT empty;
    PropVariantInit(&empty);
    if (FAILED(source->Start(pd.Get(), nullptr, &empty))) return 1;
    std::vector<PlatRef<IMFMediaStream>> streams;
    if (!Announced(source.Get(), &streams) || streams.empty()) return 1;
    PlatRef<IMFRateControl> rate;
    PlatRef<IMFRateSupport> support;
    source->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&rate));
    source->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&support));
    std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"GetCharacteristics", [&] { DWORD f; source->GetCharacteristics(&f); }},
        {"CreatePresentationDescriptor", [&] { PlatRef<IMFPresentationDescriptor> p; source->CreatePresentationDescriptor(&p); }},
        {"GetEvent (no wait)", [&] { PlatRef<IMFMediaEvent> e; source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e); }},
        {"QueueEvent", [&] { source->QueueEvent(MEUnknown, GUID_NULL, S_OK, nullptr); }},
        {"RequestSample", [&] { streams[0]->RequestSample(nullptr); }},
        {"GetStreamDescriptor", [&] { PlatRef<IMFStreamDescriptor> d; streams[0]->GetStreamDescriptor(&d); }},
        {"IsRateSupported", [&] { support->IsRateSupported(FALSE, 2.0f, nullptr); }},
        {"SetRate", [&] { rate->SetRate(FALSE, 1.0f); }},
        {"Pause", [&] { source->Pause(); }},
        {"Start (resume)", [&] { source->Start(pd.Get(), nullptr, &empty); }},
        {"Start (seek)", [&] { PROPVARIANT at; PropVariantInit(&at); at.vt = VT_I8; at.hVal.QuadPart = 10000000; source->Start(pd.Get(), nullptr, &at); }},
        {"Stop", [&] { source->Stop(); }},
    };
    std::printf("| call | worst of 5, ms (reads of %d ms) |\n|---|---|\n", delay);
    for (auto& [name, call] : calls) {
        double worst = 0;
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            call();
            worst = std::max(worst, Ms(Clock::now() - t0));
        }
        std::printf("| %s | %.3f |\n", name, worst);
    }
    uint64_t reads = 0;
    c.Counters(&reads, nullptr);
    const auto t0 = Clock::now();
    source->Shutdown();
    std::printf("| Shutdown | %.3f |\n", Ms(Clock::now() - t0));
    std::printf("reads of %d ms begun meanwhile: %llu (every call above came back while one was in flight)\n", delay,
                static_cast<unsigned long long>(reads - opened));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: oggbench open FILE [RUNS] | seek FILE [COUNT] [SEED] | latency FILE [DELAY_MS]\n");
        return 2;
    }
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    std::string verb = argv[1];
    int rc = verb == "open"      ? Open(argv[2], argc > 3 ? std::atoi(argv[3]) : 5)
             : verb == "seek"    ? Seek(argv[2], argc > 3 ? std::atoi(argv[3]) : 100, argc > 4 ? std::atoi(argv[4]) : 1)
             : verb == "latency" ? Latency(argv[2], argc > 3 ? std::atoi(argv[3]) : 2000)
                                 : 2;
    MFShutdown();
    return rc;
}
