#include "metadata_provider.h"

#include <cstdlib>
#include <cstring>

#include "module_object.h"
#include "named_metadata.h"
#include "tag_values.h"

using tags::TagProperty;

namespace {
void PutUtf16(BYTE** at, tags::TagText t) {
    for (size_t i = 0; i < t.length; ++i) {
        (*at)[0] = static_cast<BYTE>(t.text[i]);
        (*at)[1] = static_cast<BYTE>(t.text[i] >> 8);
        *at += 2;
    }
    (*at)[0] = (*at)[1] = 0;
    *at += 2;
}

HRESULT AddText(CNamedMetadataBuilder* b, const char* name, const tags::CPresentationTags& tags,
                TagProperty p) {
    PROPVARIANT value;
    HRESULT hr = TagValuesToPropVariant(tags, p, tags.ValueCount(p) > 1, &value);
    if (hr == S_OK) hr = b->Add(name, &value);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT AddPresentation(CNamedMetadataBuilder* b, const tags::CPresentationTags& tags) {
    struct Name {
        const char* name;
        TagProperty property;
    };
    static const Name names[] = {
        {"Title", TagProperty::Title},         {"Author", TagProperty::Artist},
        {"WM/AlbumTitle", TagProperty::Album}, {"WM/AlbumArtist", TagProperty::AlbumArtist},
        {"WM/Genre", TagProperty::Genre},      {"WM/Composer", TagProperty::Composer},
        {"Description", TagProperty::Comment}};
    HRESULT hr = S_OK;
    for (const Name& n : names)
        if (SUCCEEDED(hr)) hr = AddText(b, n.name, tags, n.property);
    PROPVARIANT value;
    uint32_t number = 0;
    if (SUCCEEDED(hr) && tags.TrackNumber(&number)) {
        InitPropVariantFromUInt32(number, &value);
        hr = b->Add("WM/TrackNumber", &value);
    }
    if (SUCCEEDED(hr) && tags.Year(&number)) {
        WCHAR year[12] = {};
        int n = 0;
        char digits[12];
        for (uint32_t v = number; n == 0 || v; v /= 10)
            digits[n++] = static_cast<char>('0' + v % 10);
        for (int i = 0; i < n; ++i)
            year[i] = static_cast<WCHAR>(digits[n - 1 - i]);
        hr = InitPropVariantFromString(year, &value);
        if (SUCCEEDED(hr)) hr = b->Add("WM/Year", &value);
    }
    tags::TagPicture cover;
    if (SUCCEEDED(hr) && tags.Cover(&cover)) {
        hr = FlatPicture(cover, &value);
        if (SUCCEEDED(hr)) hr = b->Add("WM/Picture", &value);
    }
    return hr;
}

HRESULT AddStream(CNamedMetadataBuilder* b, const tags::CPresentationTags& tags, size_t index) {
    PROPVARIANT value;
    HRESULT hr = S_OK;
    if (!tags.StreamLanguage(index).Empty()) {
        hr = TagToPropVariant(tags.StreamLanguage(index), &value);
        if (SUCCEEDED(hr)) hr = b->Add("Language", &value);
    }
    if (SUCCEEDED(hr) && !tags.StreamName(index).Empty()) {
        hr = TagToPropVariant(tags.StreamName(index), &value);
        if (SUCCEEDED(hr)) hr = b->Add("Title", &value);
    }
    return hr;
}

class CMetadataProvider final : public IMFMetadataProvider, public CModuleObject {
public:
    CMetadataProvider() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CMetadataProvider, IMFMetadataProvider), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }
    HRESULT STDMETHODCALLTYPE GetMFMetadata(IMFPresentationDescriptor* pd, DWORD id, DWORD,
                                            IMFMetadata** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!pd) return E_INVALIDARG;
        IMFMetadata* found = id == 0 ? m_presentation : nullptr;
        for (size_t i = 0; !found && i < m_cStreams; ++i)
            if (m_streams[i].id == id) found = m_streams[i].metadata;
        if (!found) return MF_E_INVALIDSTREAMNUMBER;
        found->AddRef();
        *out = found;
        return S_OK;
    }

    HRESULT Build(const tags::CPresentationTags* tags, IMFPresentationDescriptor* pd) {
        CNamedMetadataBuilder presentation;
        HRESULT hr = tags ? AddPresentation(&presentation, *tags) : S_OK;
        if (SUCCEEDED(hr)) hr = presentation.Create(&m_presentation);
        DWORD count = 0;
        if (SUCCEEDED(hr)) hr = pd->GetStreamDescriptorCount(&count);
        if (SUCCEEDED(hr) && count > 0) {
            m_streams = static_cast<StreamMetadata*>(AllocZeroed(count, sizeof(StreamMetadata)));
            if (!m_streams) hr = E_OUTOFMEMORY;
        }
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i)
            hr = BuildStream(tags, pd, i);
        return hr;
    }

private:
    struct StreamMetadata {
        DWORD id;
        IMFMetadata* metadata;
    };
    ~CMetadataProvider() override {
        if (m_presentation) m_presentation->Release();
        for (size_t i = 0; i < m_cStreams; ++i)
            m_streams[i].metadata->Release();
        std::free(m_streams);
    }
    HRESULT BuildStream(const tags::CPresentationTags* tags, IMFPresentationDescriptor* pd, DWORD i) {
        BOOL selected = FALSE;
        IMFStreamDescriptor* sd = nullptr;
        DWORD id = 0;
        HRESULT hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = sd->GetStreamIdentifier(&id);
        if (sd) sd->Release();
        if (FAILED(hr) || id == 0) return hr; // identifier 0 names the presentation
        CNamedMetadataBuilder b;
        const int32_t index = tags ? TagStreamIndex(*tags, id) : -1;
        if (index >= 0) hr = AddStream(&b, *tags, static_cast<size_t>(index));
        IMFMetadata* metadata = nullptr;
        if (SUCCEEDED(hr)) hr = b.Create(&metadata);
        if (SUCCEEDED(hr)) m_streams[m_cStreams++] = StreamMetadata{id, metadata};
        return hr;
    }

    IMFMetadata* m_presentation = nullptr;
    StreamMetadata* m_streams = nullptr;
    size_t m_cStreams = 0;
};
} // namespace

HRESULT FlatPicture(const tags::TagPicture& picture, PROPVARIANT* value) {
    PropVariantInit(value);
    const size_t size =
        1 + 4 + (picture.mime.length + 1) * 2 + (picture.description.length + 1) * 2 + picture.size;
    if (picture.size > 0xFFFFFFFFu || size > 0xFFFFFFFFu) return E_INVALIDARG;
    auto* blob = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!blob) return E_OUTOFMEMORY;
    BYTE* at = blob;
    *at++ = static_cast<BYTE>(picture.type);
    for (int i = 0; i < 4; ++i)
        *at++ = static_cast<BYTE>(picture.size >> (8 * i));
    PutUtf16(&at, picture.mime);
    PutUtf16(&at, picture.description);
    if (picture.size) std::memcpy(at, picture.data, picture.size);
    value->vt = VT_BLOB;
    value->blob.cbSize = static_cast<ULONG>(size);
    value->blob.pBlobData = blob;
    return S_OK;
}

HRESULT CreateMetadataProvider(const tags::CPresentationTags* tags, IMFPresentationDescriptor* pd,
                               REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* provider = new CMetadataProvider();
    if (!provider) return E_OUTOFMEMORY;
    HRESULT hr = provider->Build(tags, pd);
    if (SUCCEEDED(hr)) hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
}
