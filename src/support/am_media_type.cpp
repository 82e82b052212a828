#include "am_media_type.h"

#include <cstring>

void CAMMediaType::Init() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

void CAMMediaType::Clear() {
    if (cbFormat != 0) {
        CoTaskMemFree(pbFormat);
        cbFormat = 0;
        pbFormat = nullptr;
    }
    if (pUnk) {
        pUnk->Release();
        pUnk = nullptr;
    }
}

CAMMediaType::CAMMediaType(const CAMMediaType& source, HRESULT* phr) : AM_MEDIA_TYPE(), CNoThrowAlloc() {
    HRESULT hr = CopyFrom(source);
    if (phr && FAILED(hr)) *phr = hr;
}

HRESULT CAMMediaType::Set(const CAMMediaType& source) {
    if (&source == this) return S_OK;
    Clear();
    return CopyFrom(source);
}

HRESULT CAMMediaType::CopyFrom(const AM_MEDIA_TYPE& source) {
    *static_cast<AM_MEDIA_TYPE*>(this) = source;
    if (source.cbFormat != 0) {
        pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (!pbFormat) {
            cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pbFormat, source.pbFormat, source.cbFormat);
    }
    if (pUnk) pUnk->AddRef();
    return S_OK;
}

BYTE* CAMMediaType::Resize(ULONG length, bool keep) {
    if (length == cbFormat) return pbFormat;
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return length > cbFormat ? nullptr : pbFormat; // a failed shrink keeps the larger block
    if (cbFormat != 0) {
        if (keep) std::memcpy(block, pbFormat, length < cbFormat ? length : cbFormat);
        CoTaskMemFree(pbFormat);
    }
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CAMMediaType::AllocFormatBuffer(ULONG length) { return Resize(length, false); }
BYTE* CAMMediaType::ReallocFormatBuffer(ULONG length) { return Resize(length, true); }

bool CAMMediaType::SetFormat(const BYTE* format, ULONG length) {
    BYTE* block = AllocFormatBuffer(length);
    if (!block) return false;
    if (length) std::memcpy(block, format, length);
    return true;
}

void CAMMediaType::ScaleToAspect(LONG* x, LONG* y, ULONG width, ULONG height, LONG num, LONG den) {
    if (num == den) {
        *x = static_cast<LONG>(width);
        *y = static_cast<LONG>(height);
    } else if (num < den) {
        *x = static_cast<LONG>(width);
        *y = MulDiv(static_cast<int>(height), den, num);
    } else {
        *x = MulDiv(static_cast<int>(width), num, den);
        *y = static_cast<LONG>(height);
    }
}
