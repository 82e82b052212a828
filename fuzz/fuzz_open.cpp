// Arbitrary bytes opened through the handler, then the presentation and every stream's media type read, every
// value of the property store, and every name the metadata provider gives for the presentation and each
// stream; one input in eight has its open cancelled at once (the cancel races the open). The same bytes go to
// the shell property handler too: every value it lists read back, and as many as the source's store lists.
#include "fuzz_common.h"
#include "fuzz_services.h"
#include "probe.h"
#include "shell/shell_property_handler.h"

namespace {
// How many values the handler's store lists over the bytes (-1: Initialize refused them).
long ReadShellHandler(const uint8_t* data, size_t size) {
    PlatRef<IStream> stream;
    stream.Attach(SHCreateMemStream(data, static_cast<UINT>(size)));
    PlatRef<IInitializeWithStream> handler;
    PlatRef<IPropertyStore> store;
    if (!stream ||
        FAILED(CreateShellPropertyHandler(nullptr, IID_IInitializeWithStream,
                                          reinterpret_cast<void**>(&handler))) ||
        FAILED(handler->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store))))
        return -1;
    if (FAILED(handler->Initialize(stream.Get(), STGM_READ))) return -1;
    if (handler->Initialize(stream.Get(), STGM_READ) != HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED))
        std::abort();
    DWORD count = 0;
    if (FAILED(store->GetCount(&count))) std::abort();
    PROPVARIANT v;
    PropVariantInit(&v);
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        if (FAILED(store->GetAt(i, &key)) || FAILED(store->GetValue(key, &v)))
            std::abort(); // a key it counted
        PropVariantClear(&v);
    }
    if (store->SetValue(PKEY_Title, v) != STG_E_ACCESSDENIED) std::abort();
    return static_cast<long>(count);
}

long SourceStoreCount(IMFMediaSource* source) {
    PlatRef<IPropertyStore> store;
    DWORD count = 0;
    if (FAILED(MFGetService(source, MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                            reinterpret_cast<void**>(&store))) ||
        FAILED(store->GetCount(&count)))
        return -1;
    return static_cast<long>(count);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatRef<IMFMediaSource> source = fuzz::Open(data, size, fuzz::Bytes::File, size % 8 == 7);
    const long handlerCount = ReadShellHandler(data, size);
    if (!source) return 0;
    const long sourceCount = SourceStoreCount(source.Get());
    // Where both read the file, they tell the same properties.
    if (handlerCount >= 0 && sourceCount >= 0 && handlerCount != sourceCount) std::abort();
    nlohmann::json j;
    host::Describe(source.Get(), &j);
    fuzz::ReadServices(source.Get());
    source->Shutdown();
    return 0;
}
