// The first bytes choose start positions; the rest is the file. Each start is played for a few samples.
#include <cstring>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 12) return 0;
    uint32_t targets[3];
    std::memcpy(targets, data, sizeof targets);
    PlatRef<IMFMediaSource> source = fuzz::Open(data + 12, size - 12);
    if (!source) return 0;
    host::Player player(source.Get());
    for (uint32_t t : targets) {
        PlatRef<IMFPresentationDescriptor> pd;
        if (FAILED(source->CreatePresentationDescriptor(&pd))) break;
        host::PlayOptions o;
        o.startAt = true;
        o.start = static_cast<LONGLONG>(t) * 100; // up to about 7 minutes
        o.maxSamples = 6;
        o.timeoutMs = 20000;
        host::PlayResult r = player.Play(o);
        if (r.timedOut) std::abort();
        if (t & 1) source->Stop();
    }
    source->Shutdown();
    return 0;
}
