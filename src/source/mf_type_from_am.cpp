#include "mf_type_from_am.h"

#include <cstdlib>
#include <cstring>

#include "decoder_attributes.h"
#include "ogg/media_types.h"

namespace {
UINT64 Pair(UINT64 high, UINT64 low) { return high << 32 | (low & 0xFFFFFFFFu); }

UINT64 Reduced(UINT64 numerator, UINT64 denominator) {
    UINT64 a = numerator, b = denominator;
    while (b) {
        UINT64 r = a % b;
        a = b;
        b = r;
    }
    if (a > 1) numerator /= a, denominator /= a;
    return Pair(numerator, denominator);
}

// The bytes of the block after a header of `header` bytes, at most `wanted` of them.
HRESULT SetExtraBytes(IMFMediaType* type, const AM_MEDIA_TYPE* am, ULONG header, ULONG wanted) {
    if (am->cbFormat <= header || wanted == 0) return S_OK;
    ULONG n = am->cbFormat - header < wanted ? am->cbFormat - header : wanted;
    return type->SetBlob(MF_MT_USER_DATA, am->pbFormat + header, n);
}

HRESULT AudioFields(IMFMediaType* type, const AM_MEDIA_TYPE* am) {
    if (am->cbFormat < sizeof(WAVEFORMATEX)) return S_OK; // too short to describe: the type keeps its GUIDs only
    WAVEFORMATEX wf;
    std::memcpy(&wf, am->pbFormat, sizeof wf);
    HRESULT hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, wf.nChannels);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, wf.nSamplesPerSec);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, wf.nAvgBytesPerSec);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, wf.nBlockAlign);
    if (SUCCEEDED(hr) && wf.wBitsPerSample) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, wf.wBitsPerSample);
    if (SUCCEEDED(hr)) hr = SetExtraBytes(type, am, sizeof(WAVEFORMATEX), wf.cbSize);
    return hr;
}

UINT64 Width(const BITMAPINFOHEADER& bmi) { return static_cast<UINT32>(bmi.biWidth); }
UINT64 Height(const BITMAPINFOHEADER& bmi) { return static_cast<UINT32>(std::llabs(static_cast<long long>(bmi.biHeight))); }

// VIDEOINFOHEADER pictures have square pixels.
HRESULT PixelAspect(IMFMediaType* type, const VIDEOINFOHEADER&) {
    return type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pair(1, 1));
}

// VIDEOINFOHEADER2: the pixel shape that makes the picture's aspect ratio out of its width and height.
HRESULT PixelAspect(IMFMediaType* type, const VIDEOINFOHEADER2& vih) {
    const UINT64 width = Width(vih.bmiHeader), height = Height(vih.bmiHeader);
    if (!vih.dwPictAspectRatioX || !vih.dwPictAspectRatioY || !width || !height) return S_OK;
    return type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Reduced(vih.dwPictAspectRatioX * height, vih.dwPictAspectRatioY * width));
}

// Frame size, rate, bit rate, pixel aspect and the bytes after the header, from either video header.
template <class Header> HRESULT VideoFields(IMFMediaType* type, const AM_MEDIA_TYPE* am) {
    if (am->cbFormat < sizeof(Header)) return S_OK;
    Header vih;
    std::memcpy(&vih, am->pbFormat, sizeof vih);
    HRESULT hr = type->SetUINT64(MF_MT_FRAME_SIZE, Pair(Width(vih.bmiHeader), Height(vih.bmiHeader)));
    if (SUCCEEDED(hr) && vih.AvgTimePerFrame > 0)
        hr = type->SetUINT64(MF_MT_FRAME_RATE, Reduced(10000000, static_cast<UINT64>(vih.AvgTimePerFrame)));
    if (SUCCEEDED(hr) && vih.dwBitRate) hr = type->SetUINT32(MF_MT_AVG_BITRATE, vih.dwBitRate);
    if (SUCCEEDED(hr)) hr = PixelAspect(type, vih);
    if (SUCCEEDED(hr)) hr = SetExtraBytes(type, am, sizeof(Header), am->cbFormat);
    return hr;
}

bool HasGuid(IMFMediaType* type, REFGUID key) {
    GUID g;
    return SUCCEEDED(type->GetGUID(key, &g));
}

// The platform kept the major type and gave a subtype (it may map a DirectShow subtype to its own, as
// Windows does for RGB formats, but must not leave it null: Wine's does for FOURCC video).
bool KeptTheType(IMFMediaType* type, const AM_MEDIA_TYPE* am) {
    GUID major = GUID_NULL, sub = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || !IsEqualGUID(major, am->majortype)) return false;
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &sub))) return false;
    return IsEqualGUID(am->subtype, GUID_NULL) || !IsEqualGUID(sub, GUID_NULL);
}
} // namespace

HRESULT BuildMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am) {
    if (!type || !am) return E_POINTER;
    if (am->cbFormat && !am->pbFormat) return E_INVALIDARG;
    HRESULT hr = type->DeleteAllItems();
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, am->majortype);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, am->subtype);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, am->bFixedSizeSamples ? 1 : 0);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, am->bTemporalCompression ? 0 : 1);
    if (SUCCEEDED(hr) && am->bFixedSizeSamples) hr = type->SetUINT32(MF_MT_SAMPLE_SIZE, am->lSampleSize);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_AM_FORMAT_TYPE, am->formattype);
    if (FAILED(hr)) return hr;
    if (IsEqualGUID(am->formattype, FORMAT_WaveFormatEx)) return AudioFields(type, am);
    if (IsEqualGUID(am->formattype, FORMAT_VideoInfo)) return VideoFields<VIDEOINFOHEADER>(type, am);
    if (IsEqualGUID(am->formattype, FORMAT_VideoInfo2)) return VideoFields<VIDEOINFOHEADER2>(type, am);
    return am->cbFormat ? type->SetBlob(MF_MT_USER_DATA, am->pbFormat, am->cbFormat) : S_OK;
}

HRESULT InitMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am) {
    HRESULT hr = MFInitMediaTypeFromAMMediaType(type, am);
    if (FAILED(hr) || !KeptTheType(type, am)) hr = BuildMediaTypeFromAM(type, am);
    // A converted type may lack the DirectShow format type (Wine's does); hosts read it to find the block.
    else if (!HasGuid(type, MF_MT_AM_FORMAT_TYPE)) hr = type->SetGUID(MF_MT_AM_FORMAT_TYPE, am->formattype);
    return SUCCEEDED(hr) ? AddDecoderAttributes(type) : hr;
}

HRESULT CreateStreamTypes(const CAMMediaType& record, IMFMediaType* types[2]) {
    HRESULT hr = S_OK;
    for (int i = 0; i < 2 && SUCCEEDED(hr); ++i) {
        HRESULT copied = S_OK;
        CAMMediaType working;
        if (i == 0) {
            copied = working.Set(record);
        } else {
            CAMMediaType alternative(record, &copied);
            if (SUCCEEDED(copied) && MakeAlternativeType(&alternative) == 0) copied = working.Set(alternative);
        }
        hr = FAILED(copied) ? copied : MFCreateMediaType(&types[i]);
        if (SUCCEEDED(hr)) hr = InitMediaTypeFromAM(types[i], &working);
    }
    return hr;
}
