// Arbitrary bytes opened through the handler, then the presentation and every stream's media type read (with the
// tags, through the property store), and every name the metadata provider gives for the presentation and each
// stream read back; one input in eight has its open cancelled at once (the cancel races the open).
#include "fuzz_common.h"
#include "probe.h"

namespace {
void ReadMetadata(IMFMetadataProvider* provider, IMFPresentationDescriptor* pd, DWORD id) {
    PlatRef<IMFMetadata> metadata;
    if (FAILED(provider->GetMFMetadata(pd, id, 0, &metadata))) return;
    PROPVARIANT names;
    PropVariantInit(&names);
    if (SUCCEEDED(metadata->GetAllPropertyNames(&names)) && names.vt == (VT_VECTOR | VT_LPWSTR)) {
        for (ULONG i = 0; i < names.calpwstr.cElems; ++i) {
            PROPVARIANT v;
            PropVariantInit(&v);
            metadata->GetProperty(names.calpwstr.pElems[i], &v);
            PropVariantClear(&v);
        }
    }
    PropVariantClear(&names);
}

void ReadProvider(IMFMediaSource* source) {
    PlatRef<IMFMetadataProvider> provider;
    PlatRef<IMFPresentationDescriptor> pd;
    if (FAILED(MFGetService(source, MF_METADATA_PROVIDER_SERVICE, IID_IMFMetadataProvider,
                            reinterpret_cast<void**>(&provider))) ||
        FAILED(source->CreatePresentationDescriptor(&pd)))
        return;
    ReadMetadata(provider.Get(), pd.Get(), 0);
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        DWORD id = 0;
        if (SUCCEEDED(pd->GetStreamDescriptorByIndex(i, &selected, &sd)) && SUCCEEDED(sd->GetStreamIdentifier(&id)))
            ReadMetadata(provider.Get(), pd.Get(), id);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatRef<IMFMediaSource> source = fuzz::Open(data, size, fuzz::Bytes::File, size % 8 == 7);
    if (!source) return 0;
    nlohmann::json j;
    host::Describe(source.Get(), &j);
    ReadProvider(source.Get());
    source->Shutdown();
    return 0;
}
