// Arbitrary bytes opened and played, every stream selected, to the end or a bounded number of samples: from a
// file, read once or as a broadcast (the input's size picks which, so that each input keeps its way).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatRef<IMFMediaSource> source = fuzz::Open(data, size, static_cast<fuzz::Bytes>(size % 3));
    if (!source) return 0;
    fuzz::Play(source.Get(), 400);
    source->Shutdown();
    return 0;
}
