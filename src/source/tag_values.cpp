#include "tag_values.h"

#include <cstdlib>

#include "support/alloc.h"

HRESULT TagToCoTaskWide(tags::TagText text, LPWSTR* out) {
    if (!out) return E_POINTER;
    const size_t units = tags::WideUnits(text);
    auto* wide = static_cast<LPWSTR>(CoTaskMemAlloc((units + 1) * sizeof(WCHAR)));
    if (!wide) return E_OUTOFMEMORY;
    tags::ToWide(text, wide);
    *out = wide;
    return S_OK;
}

HRESULT TagToPropVariant(tags::TagText text, PROPVARIANT* value) {
    PropVariantInit(value);
    HRESULT hr = TagToCoTaskWide(text, &value->pwszVal);
    if (SUCCEEDED(hr)) value->vt = VT_LPWSTR;
    return hr;
}

HRESULT TagValuesToPropVariant(const tags::CPresentationTags& tags, tags::TagProperty property, bool asVector,
                               PROPVARIANT* value) {
    PropVariantInit(value);
    const size_t count = tags.ValueCount(property);
    if (count == 0) return S_FALSE;
    if (!asVector) return TagToPropVariant(tags.Value(property, 0), value);
    auto* items = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    if (!items) return E_OUTOFMEMORY;
    value->vt = VT_VECTOR | VT_LPWSTR;
    value->calpwstr.pElems = items;
    for (size_t i = 0; i < count; ++i) {
        HRESULT hr = TagToCoTaskWide(tags.Value(property, i), &items[i]);
        if (FAILED(hr)) {
            PropVariantClear(value); // frees the strings made so far
            return hr;
        }
        value->calpwstr.cElems = static_cast<ULONG>(i + 1);
    }
    return S_OK;
}

HRESULT SetTagAttribute(IMFAttributes* attributes, REFGUID key, tags::TagText text) {
    if (text.Empty()) return S_FALSE;
    LPWSTR wide = nullptr;
    HRESULT hr = TagToCoTaskWide(text, &wide);
    if (SUCCEEDED(hr)) hr = attributes->SetString(key, wide);
    CoTaskMemFree(wide);
    return hr;
}

int32_t TagStreamIndex(const tags::CPresentationTags& tags, uint32_t serial) {
    for (size_t i = 0; i < tags.StreamCount(); ++i)
        if (tags.StreamAt(i)->Serial() == serial) return static_cast<int32_t>(i);
    return -1;
}
