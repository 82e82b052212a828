// Arbitrary bytes opened and played, every stream selected, to the end or a bounded number of samples.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatRef<IMFMediaSource> source = fuzz::Open(data, size);
    if (!source) return 0;
    fuzz::Play(source.Get(), 400);
    source->Shutdown();
    return 0;
}
