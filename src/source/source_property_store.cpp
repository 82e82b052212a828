#include "source_property_store.h"

#include <new>

#include "module_object.h"
#include "support/alloc.h"
#include "tag_values.h"

using tags::TagProperty;

namespace {
// Reads go to a memory store filled once; writes are refused.
class CReadOnlyStore final : public IPropertyStore, public IPropertyStoreCapabilities, public CModuleObject {
public:
    explicit CReadOnlyStore(IPropertyStore* inner) : m_pInner(inner) { m_pInner->AddRef(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CReadOnlyStore, IPropertyStore),
                                      QITABENT(CReadOnlyStore, IPropertyStoreCapabilities),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override { return m_pInner->GetCount(count); }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
        return m_pInner->GetAt(index, key);
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        return m_pInner->GetValue(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY) override { return S_FALSE; }

private:
    ~CReadOnlyStore() override { m_pInner->Release(); }
    IPropertyStore* m_pInner;
};

// Sets a value the helper made (nothing for S_FALSE: the property is absent) and clears it.
HRESULT Put(IPropertyStore* store, REFPROPERTYKEY key, HRESULT made, PROPVARIANT* value) {
    HRESULT hr = made == S_OK ? store->SetValue(key, *value) : made;
    PropVariantClear(value);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT PutUInt32(IPropertyStore* store, REFPROPERTYKEY key, UINT32 v) {
    PROPVARIANT value;
    return Put(store, key, InitPropVariantFromUInt32(v, &value), &value);
}

HRESULT PutUInt64(IPropertyStore* store, REFPROPERTYKEY key, UINT64 v) {
    PROPVARIANT value;
    return Put(store, key, InitPropVariantFromUInt64(v, &value), &value);
}

// The cover as a stream over a copy of its image bytes (VT_STREAM).
HRESULT PutCover(IPropertyStore* store, const tags::CPresentationTags& tags) {
    tags::TagPicture cover;
    if (!tags.Cover(&cover) || cover.size == 0) return S_OK;
    IStream* stream = SHCreateMemStream(cover.data, static_cast<UINT>(cover.size));
    if (!stream) return E_OUTOFMEMORY;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_STREAM;
    value.pStream = stream; // the value's reference: PropVariantClear releases it
    return Put(store, PKEY_ThumbnailStream, S_OK, &value);
}

HRESULT PutTags(IPropertyStore* store, const tags::CPresentationTags& tags) {
    struct Text {
        const PROPERTYKEY* key;
        TagProperty property;
        bool vector; // the system's multi-valued properties
    };
    static const Text texts[] = {
        {&PKEY_Title, TagProperty::Title, false},
        {&PKEY_Music_Artist, TagProperty::Artist, true},
        {&PKEY_Music_AlbumTitle, TagProperty::Album, false},
        {&PKEY_Music_AlbumArtist, TagProperty::AlbumArtist, false},
        {&PKEY_Music_Genre, TagProperty::Genre, true},
        {&PKEY_Music_Composer, TagProperty::Composer, true},
        {&PKEY_Comment, TagProperty::Comment, false},
    };
    HRESULT hr = S_OK;
    for (const Text& t : texts) {
        PROPVARIANT value;
        hr = Put(store, *t.key, TagValuesToPropVariant(tags, t.property, t.vector, &value), &value);
        if (FAILED(hr)) return hr;
    }
    uint32_t n = 0;
    if (tags.TrackNumber(&n)) hr = PutUInt32(store, PKEY_Music_TrackNumber, n);
    if (SUCCEEDED(hr) && tags.Year(&n)) hr = PutUInt32(store, PKEY_Media_Year, n);
    if (SUCCEEDED(hr)) hr = PutCover(store, tags);
    return hr;
}

HRESULT PutFormat(IPropertyStore* store, const MediaSummary& s) {
    HRESULT hr = s.durationKnown ? PutUInt64(store, PKEY_Media_Duration, s.duration) : S_OK;
    if (SUCCEEDED(hr) && s.hasAudio && s.audioBitrate)
        hr = PutUInt32(store, PKEY_Audio_EncodingBitrate, s.audioBitrate);
    if (SUCCEEDED(hr) && s.channels) hr = PutUInt32(store, PKEY_Audio_ChannelCount, s.channels);
    if (SUCCEEDED(hr) && s.sampleRate) hr = PutUInt32(store, PKEY_Audio_SampleRate, s.sampleRate);
    if (SUCCEEDED(hr) && s.width) hr = PutUInt32(store, PKEY_Video_FrameWidth, s.width);
    if (SUCCEEDED(hr) && s.height) hr = PutUInt32(store, PKEY_Video_FrameHeight, s.height);
    // System.Video.FrameRate is in frames per 1000 seconds.
    if (SUCCEEDED(hr) && s.frameRateNumerator && s.frameRateDenominator) {
        const UINT64 rate = static_cast<UINT64>(s.frameRateNumerator) * 1000 / s.frameRateDenominator;
        hr = PutUInt32(store, PKEY_Video_FrameRate,
                       rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<UINT32>(rate));
    }
    return hr;
}
} // namespace

HRESULT CreateSourcePropertyStore(const tags::CPresentationTags* tags, const MediaSummary& summary,
                                  REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IPropertyStore* inner = nullptr;
    HRESULT hr = PSCreateMemoryPropertyStore(IID_IPropertyStore, reinterpret_cast<void**>(&inner));
    if (SUCCEEDED(hr) && tags) hr = PutTags(inner, *tags);
    if (SUCCEEDED(hr)) hr = PutFormat(inner, summary);
    CReadOnlyStore* store = nullptr;
    if (SUCCEEDED(hr)) {
        store = new CReadOnlyStore(inner);
        if (!store) hr = E_OUTOFMEMORY;
    }
    if (inner) inner->Release();
    if (SUCCEEDED(hr)) hr = store->QueryInterface(riid, ppv);
    if (store) store->Release();
    return hr;
}
