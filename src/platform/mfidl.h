// Media source, stream, byte-stream handler and rate interfaces, in their real method order.
#pragma once
#include "mfobjects.h"
#include "propsys.h"

enum MF_OBJECT_TYPE { MF_OBJECT_MEDIASOURCE = 0, MF_OBJECT_BYTESTREAM = 1, MF_OBJECT_INVALID = 2 };
constexpr DWORD MF_RESOLUTION_MEDIASOURCE = 0x1;
constexpr DWORD MF_RESOLUTION_BYTESTREAM = 0x2;
constexpr DWORD MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE = 0x10;
constexpr DWORD MF_RESOLUTION_READ = 0x10000;
constexpr DWORD MFMEDIASOURCE_IS_LIVE = 0x1;
constexpr DWORD MFMEDIASOURCE_CAN_SEEK = 0x2;
constexpr DWORD MFMEDIASOURCE_CAN_PAUSE = 0x4;
enum MFRATE_DIRECTION { MFRATE_FORWARD = 0, MFRATE_REVERSE = 1 };

struct IMFMediaSource : IMFMediaEventGenerator {
    virtual HRESULT GetCharacteristics(DWORD* characteristics) = 0;
    virtual HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor** pd) = 0;
    virtual HRESULT Start(IMFPresentationDescriptor* pd, const GUID* timeFormat, const PROPVARIANT* start) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Shutdown() = 0;

protected:
    ~IMFMediaSource() = default;
};

struct IMFMediaStream : IMFMediaEventGenerator {
    virtual HRESULT GetMediaSource(IMFMediaSource** source) = 0;
    virtual HRESULT GetStreamDescriptor(IMFStreamDescriptor** sd) = 0;
    virtual HRESULT RequestSample(IUnknown* token) = 0;

protected:
    ~IMFMediaStream() = default;
};

struct IMFByteStreamHandler : IUnknown {
    virtual HRESULT BeginCreateObject(IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* props,
                                      IUnknown** cancelCookie, IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) = 0;
    virtual HRESULT CancelObjectCreation(IUnknown* cancelCookie) = 0;
    virtual HRESULT GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) = 0;

protected:
    ~IMFByteStreamHandler() = default;
};

// A network byte stream's buffering: while enabled, it sends MEBufferingStarted and MEBufferingStopped
// through its own IMFMediaEventGenerator.
struct MF_LEAKY_BUCKET_PAIR {
    DWORD dwBitrate;
    DWORD msBufferWindow;
};
struct MFBYTESTREAM_BUFFERING_PARAMS {
    QWORD cbTotalFileSize;
    QWORD cbPlayableDataSize;
    MF_LEAKY_BUCKET_PAIR* prgBuckets;
    DWORD cBuckets;
    QWORD qwNetBufferingTime;
    QWORD qwExtraBufferingTimeDuringSeek;
    QWORD qwPlayDuration;
    float dRate;
};

struct IMFByteStreamBuffering : IUnknown {
    virtual HRESULT SetBufferingParams(MFBYTESTREAM_BUFFERING_PARAMS* params) = 0;
    virtual HRESULT EnableBuffering(BOOL enable) = 0;
    virtual HRESULT StopBuffering() = 0;

protected:
    ~IMFByteStreamBuffering() = default;
};

struct IMFRateSupport : IUnknown {
    virtual HRESULT GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) = 0;
    virtual HRESULT GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) = 0;
    virtual HRESULT IsRateSupported(BOOL thin, float rate, float* nearest) = 0;

protected:
    ~IMFRateSupport() = default;
};

struct IMFRateControl : IUnknown {
    virtual HRESULT SetRate(BOOL thin, float rate) = 0;
    virtual HRESULT GetRate(BOOL* thin, float* rate) = 0;

protected:
    ~IMFRateControl() = default;
};

struct IMFGetService : IUnknown {
    virtual HRESULT GetService(REFGUID service, REFIID riid, LPVOID* ppv) = 0;

protected:
    ~IMFGetService() = default;
};

// Tags by name ("Title", "WM/AlbumTitle", ...), per language.
struct IMFMetadata : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetLanguage(LPCWSTR pwszRFC1766) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLanguage(LPWSTR* ppwszRFC1766) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllLanguages(PROPVARIANT* ppvLanguages) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR pwszName, const PROPVARIANT* ppvValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR pwszName, PROPVARIANT* ppvValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteProperty(LPCWSTR pwszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllPropertyNames(PROPVARIANT* ppvNames) = 0;

protected:
    ~IMFMetadata() = default;
};

// A source's tags for its presentation (stream identifier 0) or one of its streams.
struct IMFMetadataProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMFMetadata(IMFPresentationDescriptor* pPresentationDescriptor,
                                                    DWORD dwStreamIdentifier, DWORD dwFlags,
                                                    IMFMetadata** ppMFMetadata) = 0;

protected:
    ~IMFMetadataProvider() = default;
};

struct IMFSourceResolver : IUnknown {
    virtual HRESULT CreateObjectFromURL(LPCWSTR url, DWORD flags, IPropertyStore* props, MF_OBJECT_TYPE* type,
                                        IUnknown** object) = 0;
    virtual HRESULT CreateObjectFromByteStream(IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* props,
                                               MF_OBJECT_TYPE* type, IUnknown** object) = 0;
    virtual HRESULT BeginCreateObjectFromURL(LPCWSTR url, DWORD flags, IPropertyStore* props, IUnknown** cookie,
                                             IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndCreateObjectFromURL(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) = 0;
    virtual HRESULT BeginCreateObjectFromByteStream(IMFByteStream* stream, LPCWSTR url, DWORD flags,
                                                    IPropertyStore* props, IUnknown** cookie,
                                                    IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndCreateObjectFromByteStream(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) = 0;
    virtual HRESULT CancelObjectCreation(IUnknown* cookie) = 0;

protected:
    ~IMFSourceResolver() = default;
};

extern "C" HRESULT MFCreateSourceResolver(IMFSourceResolver** resolver);

// A service of an object through its IMFGetService (MF_E_UNSUPPORTED_SERVICE when it has none).
extern "C" HRESULT MFGetService(IUnknown* object, REFGUID service, REFIID riid, LPVOID* ppv);
