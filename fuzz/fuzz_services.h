// What a host reads of the source's tags, shared by the fuzz targets: every value of the property store, and
// every name the metadata provider gives for the presentation and each stream, with the calls that must
// refuse.
#pragma once
#include "fuzz_common.h"

namespace fuzz {

inline void ReadMetadata(IMFMetadataProvider* provider, IMFPresentationDescriptor* pd, DWORD id) {
    PlatRef<IMFMetadata> metadata;
    if (FAILED(provider->GetMFMetadata(pd, id, 0, &metadata))) return;
    PROPVARIANT names, v;
    PropVariantInit(&names);
    PropVariantInit(&v);
    if (SUCCEEDED(metadata->GetAllPropertyNames(&names)) && names.vt == (VT_VECTOR | VT_LPWSTR)) {
        for (ULONG i = 0; i < names.calpwstr.cElems; ++i) {
            metadata->GetProperty(names.calpwstr.pElems[i], &v);
            PropVariantClear(&v);
        }
    }
    PropVariantClear(&names);
    if (metadata->GetProperty(L"WM/NoSuchName", &v) != MF_E_PROPERTY_NOT_FOUND) std::abort();
    if (metadata->SetProperty(L"Title", &v) != STG_E_ACCESSDENIED) std::abort(); // read only
    if (metadata->DeleteProperty(L"Title") != STG_E_ACCESSDENIED) std::abort();
    LPWSTR language = nullptr;
    if (SUCCEEDED(metadata->SetLanguage(L"en-US")) && SUCCEEDED(metadata->GetLanguage(&language)))
        CoTaskMemFree(language);
    if (SUCCEEDED(metadata->GetAllLanguages(&v))) PropVariantClear(&v);
}

inline void ReadProvider(IMFMediaSource* source) {
    PlatRef<IMFMetadataProvider> provider;
    PlatRef<IMFPresentationDescriptor> pd;
    if (FAILED(MFGetService(source, MF_METADATA_PROVIDER_SERVICE, IID_IMFMetadataProvider,
                            reinterpret_cast<void**>(&provider))) ||
        FAILED(source->CreatePresentationDescriptor(&pd)))
        return;
    ReadMetadata(provider.Get(), pd.Get(), 0);
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    DWORD highest = 0;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        DWORD id = 0;
        if (FAILED(pd->GetStreamDescriptorByIndex(i, &selected, &sd)) || FAILED(sd->GetStreamIdentifier(&id)))
            continue;
        ReadMetadata(provider.Get(), pd.Get(), id);
        highest = id > highest ? id : highest;
    }
    PlatRef<IMFMetadata> none;
    if (count && highest < 0xffffffffu && SUCCEEDED(provider->GetMFMetadata(pd.Get(), highest + 1, 0, &none)))
        std::abort(); // no such stream
}

// Every value the store lists, read back; writes refused.
inline void ReadStore(IMFMediaSource* source) {
    PlatRef<IPropertyStore> store;
    if (FAILED(MFGetService(source, MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                            reinterpret_cast<void**>(&store))))
        return;
    DWORD count = 0;
    store->GetCount(&count);
    PROPVARIANT v;
    PropVariantInit(&v);
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        if (FAILED(store->GetAt(i, &key))) std::abort(); // an index it counted
        if (FAILED(store->GetValue(key, &v))) std::abort();
        PropVariantClear(&v);
    }
    if (store->SetValue(PKEY_Title, v) != STG_E_ACCESSDENIED || store->Commit() != STG_E_ACCESSDENIED)
        std::abort();
    PlatRef<IPropertyStoreCapabilities> capabilities;
    if (SUCCEEDED(
            store->QueryInterface(IID_IPropertyStoreCapabilities, reinterpret_cast<void**>(&capabilities))) &&
        capabilities->IsPropertyWritable(PKEY_Title) != S_FALSE)
        std::abort();
}

// Both, as a host asks for them before and while it plays.
inline void ReadServices(IMFMediaSource* source) {
    ReadStore(source);
    ReadProvider(source);
}

} // namespace fuzz
