// IMFMediaType and its construction from a DirectShow media type record.
#include <cstdlib>
#include <numeric>

#include "attributes.h"
#include "mfapi.h"

// Where the whole DirectShow format block is kept, so that GetRepresentation can give it back.
PLAT_GUID(MF_MT_PLAT_FORMAT_BLOCK, 0x6a1f3b52, 0x0c7e, 0x4f1d, 0x9b, 0x2a, 0x71, 0x4e, 0x83, 0x5d, 0x20, 0xc6);

namespace {
constexpr DWORD MF_MEDIATYPE_EQUAL_MAJOR_TYPES = 0x1;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_TYPES = 0x2;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_DATA = 0x4;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA = 0x8;

UINT64 Pack(UINT32 hi, UINT32 lo) { return (static_cast<UINT64>(hi) << 32) | lo; }

UINT64 Ratio(UINT64 num, UINT64 den) {
    UINT64 g = std::gcd(num, den);
    if (g) {
        num /= g;
        den /= g;
    }
    while (num > 0xFFFFFFFFu || den > 0xFFFFFFFFu) {
        num >>= 1;
        den >>= 1;
    }
    return Pack(static_cast<UINT32>(num), static_cast<UINT32>(den ? den : 1));
}

class MediaType final : public TAttributes<IMFMediaType> {
    PLAT_REFCOUNT(MediaType)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(MediaType, IMFMediaType), QITABENT(MediaType, IMFAttributes),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetMajorType(GUID* major) override {
        if (!major) return E_POINTER;
        return m_attrs.GetGUID(MF_MT_MAJOR_TYPE, major);
    }
    HRESULT IsCompressedFormat(BOOL* compressed) override {
        if (!compressed) return E_POINTER;
        UINT32 v = 0;
        if (SUCCEEDED(m_attrs.GetUINT32(MF_MT_COMPRESSED, &v))) {
            *compressed = v != 0;
        } else {
            *compressed = !(SUCCEEDED(m_attrs.GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &v)) && v);
        }
        return S_OK;
    }
    HRESULT IsEqual(IMFMediaType* other, DWORD* flags) override;
    HRESULT GetRepresentation(GUID representation, LPVOID* ppv) override;
    HRESULT FreeRepresentation(GUID representation, LPVOID pv) override;

    virtual ~MediaType() = default;
};

bool SameItem(IMFAttributes* a, IMFAttributes* b, REFGUID key) {
    PROPVARIANT va, vb;
    PropVariantInit(&va);
    PropVariantInit(&vb);
    bool inA = SUCCEEDED(a->GetItem(key, &va)), inB = SUCCEEDED(b->GetItem(key, &vb));
    BOOL same = FALSE;
    if (inA && inB) a->CompareItem(key, vb, &same);
    PropVariantClear(&va);
    PropVariantClear(&vb);
    return (inA == inB) && (!inA || same);
}

HRESULT MediaType::IsEqual(IMFMediaType* other, DWORD* flags) {
    if (!other || !flags) return E_POINTER;
    *flags = 0;
    if (SameItem(this, other, MF_MT_MAJOR_TYPE)) *flags |= MF_MEDIATYPE_EQUAL_MAJOR_TYPES;
    if (SameItem(this, other, MF_MT_SUBTYPE)) *flags |= MF_MEDIATYPE_EQUAL_FORMAT_TYPES;
    if (SameItem(this, other, MF_MT_USER_DATA)) *flags |= MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA;
    BOOL same = FALSE;
    Compare(other, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same);
    if (same) *flags |= MF_MEDIATYPE_EQUAL_FORMAT_DATA;
    return *flags == 0xF ? S_OK : S_FALSE;
}

HRESULT MediaType::GetRepresentation(GUID representation, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    if (!IsEqualGUID(representation, AM_MEDIA_TYPE_REPRESENTATION)) return MF_E_UNSUPPORTED_REPRESENTATION;
    auto* am = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!am) return E_OUTOFMEMORY;
    std::memset(am, 0, sizeof *am);
    UINT32 v = 0;
    m_attrs.GetGUID(MF_MT_MAJOR_TYPE, &am->majortype);
    m_attrs.GetGUID(MF_MT_SUBTYPE, &am->subtype);
    m_attrs.GetGUID(MF_MT_AM_FORMAT_TYPE, &am->formattype);
    am->bFixedSizeSamples = SUCCEEDED(m_attrs.GetUINT32(MF_MT_FIXED_SIZE_SAMPLES, &v)) && v;
    am->bTemporalCompression = !(SUCCEEDED(m_attrs.GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &v)) && v);
    if (SUCCEEDED(m_attrs.GetUINT32(MF_MT_SAMPLE_SIZE, &v))) am->lSampleSize = v;
    UINT32 cb = 0;
    if (SUCCEEDED(m_attrs.GetAllocatedBlob(MF_MT_PLAT_FORMAT_BLOCK, &am->pbFormat, &cb))) am->cbFormat = cb;
    *ppv = am;
    return S_OK;
}

HRESULT MediaType::FreeRepresentation(GUID representation, LPVOID pv) {
    if (!IsEqualGUID(representation, AM_MEDIA_TYPE_REPRESENTATION)) return MF_E_UNSUPPORTED_REPRESENTATION;
    if (auto* am = static_cast<AM_MEDIA_TYPE*>(pv)) {
        CoTaskMemFree(am->pbFormat);
        if (am->pUnk) am->pUnk->Release();
        CoTaskMemFree(am);
    }
    return S_OK;
}

void SetUserData(IMFMediaType* t, const BYTE* block, ULONG cb, ULONG offset, ULONG extra) {
    if (offset >= cb || extra == 0) return;
    if (extra > cb - offset) extra = cb - offset;
    t->SetBlob(MF_MT_USER_DATA, block + offset, extra);
}

void FromWaveFormat(IMFMediaType* t, const BYTE* block, ULONG cb) {
    if (cb < sizeof(WAVEFORMATEX)) return;
    WAVEFORMATEX wf;
    std::memcpy(&wf, block, sizeof wf);
    t->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, wf.nChannels);
    t->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, wf.nSamplesPerSec);
    t->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, wf.nAvgBytesPerSec);
    t->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, wf.nBlockAlign);
    if (wf.wBitsPerSample) t->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, wf.wBitsPerSample);
    SetUserData(t, block, cb, sizeof(WAVEFORMATEX), wf.cbSize);
}

void FromVideoFields(IMFMediaType* t, const BITMAPINFOHEADER& bmi, REFERENCE_TIME avg, DWORD bitrate) {
    UINT32 height = static_cast<UINT32>(std::abs(static_cast<long long>(bmi.biHeight)));
    t->SetUINT64(MF_MT_FRAME_SIZE, Pack(static_cast<UINT32>(bmi.biWidth), height));
    if (avg > 0) t->SetUINT64(MF_MT_FRAME_RATE, Ratio(10000000, static_cast<UINT64>(avg)));
    if (bitrate) t->SetUINT32(MF_MT_AVG_BITRATE, bitrate);
}

void FromVideoInfo(IMFMediaType* t, const BYTE* block, ULONG cb) {
    if (cb < sizeof(VIDEOINFOHEADER)) return;
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, block, sizeof vih);
    FromVideoFields(t, vih.bmiHeader, vih.AvgTimePerFrame, vih.dwBitRate);
    t->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pack(1, 1));
    SetUserData(t, block, cb, sizeof(VIDEOINFOHEADER), cb - static_cast<ULONG>(sizeof(VIDEOINFOHEADER)));
}

void FromVideoInfo2(IMFMediaType* t, const BYTE* block, ULONG cb) {
    if (cb < sizeof(VIDEOINFOHEADER2)) return;
    VIDEOINFOHEADER2 vih;
    std::memcpy(&vih, block, sizeof vih);
    FromVideoFields(t, vih.bmiHeader, vih.AvgTimePerFrame, vih.dwBitRate);
    UINT64 w = static_cast<UINT32>(vih.bmiHeader.biWidth);
    UINT64 h = static_cast<UINT32>(std::abs(static_cast<long long>(vih.bmiHeader.biHeight)));
    if (vih.dwPictAspectRatioX && vih.dwPictAspectRatioY && w && h)
        t->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Ratio(vih.dwPictAspectRatioX * h, vih.dwPictAspectRatioY * w));
    SetUserData(t, block, cb, sizeof(VIDEOINFOHEADER2), cb - static_cast<ULONG>(sizeof(VIDEOINFOHEADER2)));
}
} // namespace

extern "C" HRESULT MFCreateMediaType(IMFMediaType** type) { return PlatCreate<MediaType>(type); }

extern "C" HRESULT MFInitMediaTypeFromAMMediaType(IMFMediaType* t, const AM_MEDIA_TYPE* am) {
    if (!t || !am) return E_POINTER;
    if (am->cbFormat && !am->pbFormat) return E_INVALIDARG;
    t->DeleteAllItems();
    HRESULT hr = t->SetGUID(MF_MT_MAJOR_TYPE, am->majortype);
    if (SUCCEEDED(hr)) hr = t->SetGUID(MF_MT_SUBTYPE, am->subtype);
    if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, am->bFixedSizeSamples ? 1 : 0);
    if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, am->bTemporalCompression ? 0 : 1);
    if (SUCCEEDED(hr) && am->bFixedSizeSamples) hr = t->SetUINT32(MF_MT_SAMPLE_SIZE, am->lSampleSize);
    if (SUCCEEDED(hr)) hr = t->SetGUID(MF_MT_AM_FORMAT_TYPE, am->formattype);
    if (SUCCEEDED(hr) && am->cbFormat) hr = t->SetBlob(MF_MT_PLAT_FORMAT_BLOCK, am->pbFormat, am->cbFormat);
    if (FAILED(hr)) return hr;
    if (IsEqualGUID(am->formattype, FORMAT_WaveFormatEx)) FromWaveFormat(t, am->pbFormat, am->cbFormat);
    else if (IsEqualGUID(am->formattype, FORMAT_VideoInfo)) FromVideoInfo(t, am->pbFormat, am->cbFormat);
    else if (IsEqualGUID(am->formattype, FORMAT_VideoInfo2)) FromVideoInfo2(t, am->pbFormat, am->cbFormat);
    return S_OK;
}
