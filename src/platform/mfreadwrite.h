// The Source Reader's interface, in its real method order. The Source Reader is a component of Windows
// (mfreadwrite): the stand-in has none, and MFCreateSourceReaderFromURL and
// MFCreateSourceReaderFromByteStream say so with E_NOTIMPL.
#pragma once
#include "mfidl.h"

enum : DWORD {
    MF_SOURCE_READER_INVALID_STREAM_INDEX = 0xffffffff,
    MF_SOURCE_READER_ALL_STREAMS = 0xfffffffe,
    MF_SOURCE_READER_ANY_STREAM = 0xfffffffe,
    MF_SOURCE_READER_FIRST_AUDIO_STREAM = 0xfffffffd,
    MF_SOURCE_READER_FIRST_VIDEO_STREAM = 0xfffffffc,
    MF_SOURCE_READER_MEDIASOURCE = 0xffffffff,
};
enum : DWORD {
    MF_SOURCE_READERF_ERROR = 0x1,
    MF_SOURCE_READERF_ENDOFSTREAM = 0x2,
    MF_SOURCE_READERF_NEWSTREAM = 0x4,
    MF_SOURCE_READERF_NATIVEMEDIATYPECHANGED = 0x10,
    MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED = 0x20,
    MF_SOURCE_READERF_STREAMTICK = 0x100,
    MF_SOURCE_READERF_ALLEFFECTSREMOVED = 0x200,
};

struct IMFSourceReader : IUnknown {
    virtual HRESULT GetStreamSelection(DWORD index, BOOL* selected) = 0;
    virtual HRESULT SetStreamSelection(DWORD index, BOOL selected) = 0;
    virtual HRESULT GetNativeMediaType(DWORD index, DWORD typeIndex, IMFMediaType** type) = 0;
    virtual HRESULT GetCurrentMediaType(DWORD index, IMFMediaType** type) = 0;
    virtual HRESULT SetCurrentMediaType(DWORD index, DWORD* reserved, IMFMediaType* type) = 0;
    virtual HRESULT SetCurrentPosition(REFGUID format, const PROPVARIANT& position) = 0;
    virtual HRESULT ReadSample(DWORD index, DWORD flags, DWORD* actualIndex, DWORD* streamFlags, LONGLONG* timestamp,
                               IMFSample** sample) = 0;
    virtual HRESULT Flush(DWORD index) = 0;
    virtual HRESULT GetServiceForStream(DWORD index, REFGUID service, REFIID riid, void** object) = 0;
    virtual HRESULT GetPresentationAttribute(DWORD index, REFGUID attribute, PROPVARIANT* value) = 0;

protected:
    ~IMFSourceReader() = default;
};

extern "C" HRESULT MFCreateSourceReaderFromURL(LPCWSTR url, IMFAttributes* attributes, IMFSourceReader** reader);
extern "C" HRESULT MFCreateSourceReaderFromByteStream(IMFByteStream* stream, IMFAttributes* attributes,
                                                      IMFSourceReader** reader);
