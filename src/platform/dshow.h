// The DirectShow records the source describes its streams with before they become MF media types.
#pragma once
#include "com.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    DWORD dwControlFlags;
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

// The DirectShow async reader's method set. Samples and allocators are never made here: the methods
// that take them are not implemented by any reader of this system.
struct IMediaSample;
struct IMemAllocator;
struct ALLOCATOR_PROPERTIES;
struct IAsyncReader : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                                       IMemAllocator** actual) = 0;
    virtual HRESULT STDMETHODCALLTYPE Request(IMediaSample* sample, DWORD_PTR user) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE Length(LONGLONG* total, LONGLONG* available) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;

protected:
    ~IAsyncReader() = default;
};

// MulDiv: a * b / c through a 64-bit product, rounded to nearest (halves away from zero); -1 when c is 0
// or the result does not fit in 32 bits.
extern "C" int MulDiv(int a, int b, int c);
