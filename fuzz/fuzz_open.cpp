// Arbitrary bytes opened through the handler, then the presentation and every stream's media type read, every
// value of the property store, and every name the metadata provider gives for the presentation and each
// stream; one input in eight has its open cancelled at once (the cancel races the open).
#include "fuzz_common.h"
#include "fuzz_services.h"
#include "probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatRef<IMFMediaSource> source = fuzz::Open(data, size, fuzz::Bytes::File, size % 8 == 7);
    if (!source) return 0;
    nlohmann::json j;
    host::Describe(source.Get(), &j);
    fuzz::ReadServices(source.Get());
    source->Shutdown();
    return 0;
}
