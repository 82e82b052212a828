// A broadcast played for minutes, as a host would play a radio stream: per minute, the peak memory of this
// process (and of a peer reading the same URL), the samples, the links crossed and announced, ticks and
// errors. Then the server is stalled (its feeder stopped with SIGSTOP) and, while a read of the source waits
// for it, the host's calls are timed.
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "live_host.h"
#include "proc_memory.h"
#include "subcommands.h"

namespace bench {
namespace {

// KB as MB with two decimals (10 KB steps: growth per minute shows), "n/a" when not known.
std::string Mb(long kb) {
    char text[32];
    if (kb < 0) return "n/a";
    std::snprintf(text, sizeof text, "%.2f", kb / 1024.0);
    return text;
}

void PlayUntil(LiveHost* host, Clock::time_point until) {
    while (Clock::now() < until) {
        host->Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct Peaks {
    long open = -1; // ours, from the start of the process to the first minute (the open and the start)
    long firstOurs = -1, lastOurs = -1, firstPeer = -1, lastPeer = -1;
};

// One row per minute of play (the last one shorter when the time is not whole minutes); each minute's peak
// memory is the VmHWM read at its end, the peak having been started anew at its beginning.
Peaks PlayMinutes(LiveHost* host, int seconds, pid_t peer) {
    std::printf(
        "| minute | peak RSS MB, ours | peak RSS MB, ffmpeg | samples | sample KB | KB read | links crossed "
        "| MESourceMetadataChanged | ticks | errors | longest wait between samples, s |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|\n");
    Peaks peaks;
    const auto t0 = Clock::now();
    LiveCounts before = host->Counts();
    uint64_t readBefore = host->BytesRead();
    peaks.open = PeakRssKb(0);
    ResetPeakRss(0);
    if (peer) ResetPeakRss(peer);
    for (int m = 0; m * 60 < seconds; ++m) {
        const int end = std::min(seconds, (m + 1) * 60); // the last minute may be shorter: it says so
        PlayUntil(host, t0 + std::chrono::seconds(end));
        const long ours = PeakRssKb(0), theirs = peer ? PeakRssKb(peer) : -1;
        ResetPeakRss(0);
        if (peer) ResetPeakRss(peer);
        const LiveCounts& now = host->Counts();
        const uint64_t read = host->BytesRead();
        const std::string minute =
            std::to_string(m + 1) + (end - m * 60 < 60 ? " (" + std::to_string(end - m * 60) + " s)" : "");
        std::printf("| %s | %s | %s | %llu | %llu | %llu | %llu | %llu | %llu | %llu | %.2f |\n",
                    minute.c_str(), Mb(ours).c_str(), Mb(theirs).c_str(),
                    static_cast<unsigned long long>(now.samples - before.samples),
                    static_cast<unsigned long long>((now.sampleBytes - before.sampleBytes) / 1024),
                    static_cast<unsigned long long>((read - readBefore) / 1024),
                    static_cast<unsigned long long>(now.linksCrossed - before.linksCrossed),
                    static_cast<unsigned long long>(now.metadata - before.metadata),
                    static_cast<unsigned long long>(now.ticks - before.ticks),
                    static_cast<unsigned long long>(now.errors - before.errors),
                    host->TakeLongestGapMs() / 1000);
        std::fflush(stdout);
        if (m == 0) peaks.firstOurs = ours, peaks.firstPeer = theirs;
        peaks.lastOurs = ours, peaks.lastPeer = theirs;
        before = now;
        readBefore = read;
    }
    return peaks;
}

// Waits until a read of the source has waited for the stalled server: the byte stream says it is buffering
// (a read has waited 250 ms without its data) and the feeder was stopped at least 500 ms ago.
bool ReadWaitsOnStall(LiveHost* host, Clock::time_point stopped) {
    const auto deadline = stopped + std::chrono::seconds(8); // Icecast drops a silent feeder after 10 s
    while (Clock::now() < deadline) {
        host->Pump();
        if (Clock::now() - stopped >= std::chrono::milliseconds(500) && host->ReadWaits()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Five rounds of the calls a host makes on a playing source: questions, an event of its own, a rate, and
// pause, resume, stop and start again, each timed; after a call that changes the state its event is waited
// for (what a host needs before it goes on). False when an event did not come within 3 s.
bool StallRounds(LiveHost* host, IMFMediaSource* source, CallTimes* times) {
    PlatRef<IMFPresentationDescriptor> pd;
    PlatRef<IMFRateControl> rate;
    if (FAILED(source->CreatePresentationDescriptor(&pd)) ||
        FAILED(source->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&rate))))
        return false;
    PROPVARIANT empty;
    PropVariantInit(&empty);
    // answer MEUnknown: nothing to wait for. A refused call sends no event either (the table counts it).
    auto step = [&](const char* name, MediaEventType answer, const std::function<HRESULT()>& call) {
        return FAILED(times->Time(name, call)) || answer == MEUnknown ||
               host->PumpUntil(answer, std::chrono::milliseconds(3000));
    };
    auto start = [&] { return source->Start(pd.Get(), nullptr, &empty); };
    for (int round = 0; round < 5; ++round) {
        DWORD characteristics = 0;
        PlatRef<IMFPresentationDescriptor> copy;
        if (!step("GetCharacteristics", MEUnknown,
                  [&] { return source->GetCharacteristics(&characteristics); }) ||
            !step("CreatePresentationDescriptor", MEUnknown,
                  [&] { return source->CreatePresentationDescriptor(&copy); }) ||
            !step("QueueEvent", MEUnknown,
                  [&] { return source->QueueEvent(MEUnknown, GUID_NULL, S_OK, nullptr); }) ||
            !step("SetRate (1)", MESourceRateChanged, [&] { return rate->SetRate(FALSE, 1.0f); }) ||
            !step("Pause", MESourcePaused, [&] { return source->Pause(); }) ||
            !step("Start (resume)", MESourceStarted, start) ||
            !step("Stop", MESourceStopped, [&] { return source->Stop(); }) ||
            !step("Start (after stop)", MESourceStarted, start))
            return false;
    }
    return true;
}

// Whether the memory stayed flat: the last minute's peak against the first's (a minute holds three links of
// the chain, so what a link leaves behind shows as growth). Allocator noise is a few hundred KB.
constexpr long kFlatKb = 1024;

void PrintSummary(const LiveHost& host, const Peaks& peaks, int seconds) {
    const LiveCounts& c = host.Counts();
    std::printf("\nPeak RSS of the first minute / the last: ours %s / %s MB (%s MB up to the start), "
                "ffmpeg %s / %s MB.\n",
                Mb(peaks.firstOurs).c_str(), Mb(peaks.lastOurs).c_str(), Mb(peaks.open).c_str(),
                Mb(peaks.firstPeer).c_str(), Mb(peaks.lastPeer).c_str());
    const long growth = peaks.lastOurs - peaks.firstOurs;
    if (seconds > 60 && peaks.firstOurs >= 0 && peaks.lastOurs >= 0)
        std::printf(
            "Memory from the first minute to the last: %+.2f MB, %s (flat: less than %.0f MB more).\n",
            growth / 1024.0, growth < kFlatKb ? "flat" : "NOT flat", kFlatKb / 1024.0);
    else
        std::printf("Memory flat or not: needs more than one minute of play.\n");
    std::printf(
        "In all: %llu samples (the first %.0f ms after Start), %llu links crossed, %llu "
        "MESourceMetadataChanged, %llu ticks, %llu format changes, %llu errors (first: %s), %llu ends "
        "of stream.\n\n",
        static_cast<unsigned long long>(c.samples), host.FirstSampleMs(),
        static_cast<unsigned long long>(c.linksCrossed), static_cast<unsigned long long>(c.metadata),
        static_cast<unsigned long long>(c.ticks), static_cast<unsigned long long>(c.formats),
        static_cast<unsigned long long>(c.errors),
        SUCCEEDED(c.firstError) ? "none" : host::HResultText(c.firstError).c_str(),
        static_cast<unsigned long long>(c.ends));
}

int StallServer(LiveHost* host, IMFMediaSource* source, IMFByteStream* stream, pid_t feeder) {
    if (!host->BufferingEvents()) {
        std::printf(
            "The byte stream gives no buffering events: a waiting read cannot be seen; no stall measured.\n");
        return 1;
    }
    const auto stopped = Clock::now();
    kill(feeder, SIGSTOP);
    const bool waiting = ReadWaitsOnStall(host, stopped);
    const uint64_t endedBefore = host->Counts().bufferingStopped, at = host->BytesRead();
    CallTimes times;
    host->TimeCalls(&times);
    const bool answered = waiting && StallRounds(host, source, &times);
    host->TimeCalls(nullptr);
    // The read that waited when the calls began still waits: its buffering did not end, no byte came.
    host->Pump();
    const bool stillWaiting =
        host->ReadWaits() && host->Counts().bufferingStopped == endedBefore && host->BytesRead() == at;
    const double callsEnded = Ms(Clock::now() - stopped);
    times.Time("Shutdown", [&] { return source->Shutdown(); });
    const double shutdownEnded = Ms(Clock::now() - stopped);
    // The source has no events after Shutdown: that no byte came says the read is still where it was (only
    // Close ends it).
    const bool waitingAfterShutdown = host->BytesRead() == at;
    stream->Close(); // the host made the byte stream: it closes it too, which ends the read
    kill(feeder, SIGCONT);
    times.Print();
    std::printf(
        "\nServer stalled at 0 ms. A read of the source waited on it: %s. The calls "
        "(5 rounds, the events of Pause, Start, Stop, Start and SetRate awaited) %s by %.1f ms, "
        "the same read still waiting: %s. Shutdown came back by %.1f ms, the read still waiting: %s.\n",
        waiting ? "yes" : "NO (none seen within 8 s)", answered ? "answered" : "NOT all answered within 3 s",
        callsEnded, stillWaiting ? "yes" : "no", shutdownEnded, waitingAfterShutdown ? "yes" : "no");
    PrintTargets(times);
    return waiting && answered && stillWaiting && waitingAfterShutdown ? 0 : 3;
}
} // namespace

int Live(const char* url, int seconds, pid_t feeder, pid_t peer) {
    PlatRef<IMFMediaSource> source;
    PlatRef<IMFByteStream> stream;
    const auto opening = Clock::now();
    HRESULT hr = host::OpenUrl(url, &source, &stream);
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: %s %s\n", url, host::HResultText(hr).c_str(),
                     host::NetworkErrorText().c_str());
        return 1;
    }
    const double openMs = Ms(Clock::now() - opening);
    DWORD characteristics = 0;
    source->GetCharacteristics(&characteristics);
    LiveHost host(source.Get(), stream.Get());
    if (FAILED(hr = host.Start())) {
        std::fprintf(stderr, "%s: Start failed, %s\n", url, host::HResultText(hr).c_str());
        return 1;
    }
    std::printf("Opened in %.0f ms; %s; played for %d s.\n\n", openMs,
                characteristics & MFMEDIASOURCE_IS_LIVE ? "MFMEDIASOURCE_IS_LIVE" : "NOT live", seconds);
    const Peaks peaks = PlayMinutes(&host, seconds, peer);
    PrintSummary(host, peaks, seconds);
    if (feeder > 0) return StallServer(&host, source.Get(), stream.Get(), feeder);
    source->Shutdown();
    stream->Close();
    return 0;
}
} // namespace bench
