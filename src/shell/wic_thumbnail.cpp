#include "wic_thumbnail.h"

#include <wincodec.h>

#include "thumbnail_cover.h"

namespace {
template <class T> void ReleaseIf(T* p) {
    if (p) p->Release();
}

// The first frame of the image, decoded from a memory stream over the bytes (which stay the caller's).
HRESULT DecodeFirstFrame(IWICImagingFactory* factory, const BYTE* bytes, size_t size,
                         IWICBitmapFrameDecode** frame) {
    if (size > MAXDWORD) return E_INVALIDARG; // the tag model keeps 16 MB at most: never here
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(size));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame);
    ReleaseIf(decoder);
    ReleaseIf(stream);
    return hr;
}

// The frame scaled to `fit` (Fant: averaging, for a cover made smaller) and converted to 32-bit BGRA.
HRESULT ScaleAndConvert(IWICImagingFactory* factory, IWICBitmapSource* frame, const ThumbnailSize& fit,
                        IWICBitmapSource** out) {
    UINT width = 0, height = 0;
    HRESULT hr = frame->GetSize(&width, &height);
    IWICBitmapScaler* scaler = nullptr;
    IWICBitmapSource* scaled = frame;
    if (SUCCEEDED(hr) && (width != fit.width || height != fit.height)) {
        hr = factory->CreateBitmapScaler(&scaler);
        if (SUCCEEDED(hr))
            hr = scaler->Initialize(frame, fit.width, fit.height, WICBitmapInterpolationModeFant);
        scaled = scaler;
    }
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(scaled, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                   0.0, WICBitmapPaletteTypeCustom);
    ReleaseIf(scaler);
    if (SUCCEEDED(hr)) {
        *out = converter;
        return S_OK;
    }
    ReleaseIf(converter);
    return hr;
}

// A top-down 32-bit DIB section holding the source's pixels.
HRESULT MakeDibSection(IWICBitmapSource* source, const ThumbnailSize& fit, HBITMAP* bitmap) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(fit.width);
    info.bmiHeader.biHeight = -static_cast<LONG>(fit.height); // negative: the first row is the top one
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP made = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!made || !bits) {
        if (made) DeleteObject(made);
        return E_OUTOFMEMORY;
    }
    // Both sides are at most kMaxThumbnailFrameSide: the stride and the size fit in 32 bits.
    const UINT stride = fit.width * 4;
    const HRESULT hr = source->CopyPixels(nullptr, stride, stride * fit.height, static_cast<BYTE*>(bits));
    if (FAILED(hr)) {
        DeleteObject(made);
        return hr;
    }
    *bitmap = made;
    return S_OK;
}
} // namespace

HRESULT DecodeThumbnail(const BYTE* bytes, size_t size, UINT cx, HBITMAP* bitmap) {
    if (!bytes || !bitmap) return E_POINTER;
    *bitmap = nullptr;
    IWICImagingFactory* factory = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* pixels = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) hr = DecodeFirstFrame(factory, bytes, size, &frame);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    // The limit is checked on the frame's stated size, before the scaler, converter or bitmap allocate
    // anything.
    ThumbnailSize fit;
    if (SUCCEEDED(hr)) hr = FitThumbnail(width, height, cx, &fit);
    if (SUCCEEDED(hr)) hr = ScaleAndConvert(factory, frame, fit, &pixels);
    if (SUCCEEDED(hr)) hr = MakeDibSection(pixels, fit, bitmap);
    ReleaseIf(pixels);
    ReleaseIf(frame);
    ReleaseIf(factory);
    return hr;
}
