// Files described by the input and written as valid pages: opened, played with every stream and several
// requests, started again at a position the input picks, at a rate it picks, and stopped; the tags read
// before the play and after each round (they follow the link played).
#include <cstdio>
#include <cstdlib>

#include "fuzz_common.h"
#include "fuzz_services.h"
#include "structured_file.h"

namespace fuzz {
// What a host asks of the rate services before it plays: the limits, and rates the input picks.
void AskRates(IMFMediaSource* source, Input* in) {
    PlatRef<IMFGetService> service;
    if (FAILED(source->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service)))) return;
    PlatRef<IMFRateSupport> support;
    PlatRef<IMFRateControl> control;
    service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateSupport, reinterpret_cast<void**>(&support));
    service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&control));
    float rate = 0;
    BOOL thin = FALSE;
    for (int i = 0; support && i < 2; ++i) {
        const MFRATE_DIRECTION direction = in->Bit() ? MFRATE_REVERSE : MFRATE_FORWARD;
        support->GetSlowestRate(direction, in->Bit(), &rate);
        support->GetFastestRate(direction, in->Bit(), &rate);
        float asked = static_cast<float>(static_cast<int16_t>(in->U16())) / 64.0f, nearest = 0;
        support->IsRateSupported(in->Bit(), asked, in->Bit() ? &nearest : nullptr);
        if (control && in->Bit()) {
            const BOOL thinned = in->Bit();
            const HRESULT hr = control->SetRate(thinned, asked);
            if (std::getenv("OGGSOURCE_FUZZ_DUMP"))
                std::fprintf(stderr, "SetRate(%d, %g): 0x%08x\n", thinned, asked, static_cast<unsigned>(hr));
        }
    }
    if (control) control->GetRate(&thin, &rate);
}
} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const std::vector<uint8_t> file = fuzz::BuildFile(&in);
    if (const char* dump =
            std::getenv("OGGSOURCE_FUZZ_DUMP")) { // the file written, to look at with other tools
        if (FILE* out = std::fopen(dump, "wb")) {
            std::fwrite(file.data(), 1, file.size(), out);
            std::fclose(out);
        }
    }
    // The bytes from a file, read once, or as a broadcast (chains followed as they come). Bytes read once are
    // played in one round, without a restart: every start of such a source is from the current position,
    // which resumes a run that goes on, and this host cannot tell which of its streams that run already ended
    // (it would wait for their ends again).
    const auto bytes = static_cast<fuzz::Bytes>(in.Below(3));
    PlatRef<IMFMediaSource> source = fuzz::Open(file.data(), file.size(), bytes);
    if (!source) return 0;
    std::vector<DWORD> all = fuzz::StreamIds(source.Get());
    fuzz::AskRates(source.Get(), &in);
    fuzz::ReadServices(source.Get());
    host::Player player(source.Get());
    static const float kRates[] = {1.0f, 2.0f, 0.5f, 0.0f, -1.0f, 100.0f};
    for (int round = 0; round < (bytes == fuzz::Bytes::File ? 3 : 1); ++round) {
        host::PlayOptions o;
        o.streams = all;
        o.requests = 1 + static_cast<int>(in.Below(4));
        o.maxSamples = 40 + in.Below(200);
        // Later rounds start again at a position (a new run). A start from the current position while a run
        // goes on resumes it, and this host cannot tell which of its streams that run already ended.
        o.startAt = round > 0;
        o.start = static_cast<LONGLONG>(in.U32()) * (in.Bit() ? 1 : 1000);
        o.rate = kRates[in.Below(6)];
        o.timeoutMs = 20000;
        o.checksums = false;
        if (in.Below(4) == 0 && bytes == fuzz::Bytes::File) {
            o.seekWhen = static_cast<LONGLONG>(in.U16()) * 10000;
            o.seekTo = static_cast<LONGLONG>(in.U32()) * 100;
        }
        if (std::getenv("OGGSOURCE_FUZZ_DUMP"))
            std::fprintf(stderr,
                         "round %d: requests %d, samples %zu, start %s %lld, rate %g, seek at %lld to %lld\n",
                         round, o.requests, o.maxSamples, o.startAt ? "at" : "from the current position",
                         static_cast<long long>(o.start), o.rate, static_cast<long long>(o.seekWhen),
                         static_cast<long long>(o.seekTo));
        host::PlayResult r = player.Play(o);
        if (r.timedOut && std::getenv("OGGSOURCE_FUZZ_DUMP")) {
            std::fprintf(stderr, "round %d timed out after %zu samples; source events:", round,
                         r.sampleCount);
            for (MediaEventType t : r.sourceEvents)
                std::fprintf(stderr, " %s", host::EventName(t).c_str());
            for (const auto& [id, events] : r.streamEvents) {
                std::fprintf(stderr, "\nstream %u:", static_cast<unsigned>(id));
                for (MediaEventType t : events)
                    std::fprintf(stderr, " %s", host::EventName(t).c_str());
            }
            std::fprintf(stderr, "\n");
        }
        if (r.timedOut) std::abort(); // the source fell silent
        fuzz::ReadServices(source.Get());
        if (in.Bit()) source->Stop();
    }
    source->Shutdown();
    return 0;
}
