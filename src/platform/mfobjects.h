// The Media Foundation interfaces the source implements or calls, in their real method order.
#pragma once
#include "com.h"

enum MF_ATTRIBUTE_TYPE {
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN,
};

enum MF_ATTRIBUTES_MATCH_TYPE {
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3,
    MF_ATTRIBUTES_MATCH_SMALLER = 4,
};

struct IMFAttributes : IUnknown {
    virtual HRESULT GetItem(REFGUID key, PROPVARIANT* value) = 0;
    virtual HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) = 0;
    virtual HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) = 0;
    virtual HRESULT Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) = 0;
    virtual HRESULT GetUINT32(REFGUID key, UINT32* value) = 0;
    virtual HRESULT GetUINT64(REFGUID key, UINT64* value) = 0;
    virtual HRESULT GetDouble(REFGUID key, double* value) = 0;
    virtual HRESULT GetGUID(REFGUID key, GUID* value) = 0;
    virtual HRESULT GetStringLength(REFGUID key, UINT32* length) = 0;
    virtual HRESULT GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) = 0;
    virtual HRESULT GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) = 0;
    virtual HRESULT GetBlobSize(REFGUID key, UINT32* size) = 0;
    virtual HRESULT GetBlob(REFGUID key, UINT8* buf, UINT32 bufsize, UINT32* blobsize) = 0;
    virtual HRESULT GetAllocatedBlob(REFGUID key, UINT8** buf, UINT32* size) = 0;
    virtual HRESULT GetUnknown(REFGUID key, REFIID riid, void** ppv) = 0;
    virtual HRESULT SetItem(REFGUID key, REFPROPVARIANT value) = 0;
    virtual HRESULT DeleteItem(REFGUID key) = 0;
    virtual HRESULT DeleteAllItems() = 0;
    virtual HRESULT SetUINT32(REFGUID key, UINT32 value) = 0;
    virtual HRESULT SetUINT64(REFGUID key, UINT64 value) = 0;
    virtual HRESULT SetDouble(REFGUID key, double value) = 0;
    virtual HRESULT SetGUID(REFGUID key, REFGUID value) = 0;
    virtual HRESULT SetString(REFGUID key, LPCWSTR value) = 0;
    virtual HRESULT SetBlob(REFGUID key, const UINT8* buf, UINT32 size) = 0;
    virtual HRESULT SetUnknown(REFGUID key, IUnknown* unknown) = 0;
    virtual HRESULT LockStore() = 0;
    virtual HRESULT UnlockStore() = 0;
    virtual HRESULT GetCount(UINT32* count) = 0;
    virtual HRESULT GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) = 0;
    virtual HRESULT CopyAllItems(IMFAttributes* dest) = 0;

protected:
    ~IMFAttributes() = default;
};

struct IMFMediaType : IMFAttributes {
    virtual HRESULT GetMajorType(GUID* major) = 0;
    virtual HRESULT IsCompressedFormat(BOOL* compressed) = 0;
    virtual HRESULT IsEqual(IMFMediaType* type, DWORD* flags) = 0;
    virtual HRESULT GetRepresentation(GUID representation, LPVOID* ppv) = 0;
    virtual HRESULT FreeRepresentation(GUID representation, LPVOID pv) = 0;

protected:
    ~IMFMediaType() = default;
};

typedef DWORD MediaEventType;
enum : MediaEventType {
    MEUnknown = 0,
    MEError = 1,
    MEBufferingStarted = 122,
    MEBufferingStopped = 123,
    MESourceUnknown = 200,
    MESourceStarted = 201,
    MEStreamStarted = 202,
    MESourceSeeked = 203,
    MEStreamSeeked = 204,
    MENewStream = 205,
    MEUpdatedStream = 206,
    MESourceStopped = 207,
    MEStreamStopped = 208,
    MESourcePaused = 209,
    MEStreamPaused = 210,
    MEEndOfPresentation = 211,
    MEEndOfStream = 212,
    MEMediaSample = 213,
    MEStreamTick = 214,
    MEStreamThinMode = 215,
    MEStreamFormatChanged = 216,
    MESourceRateChanged = 217,
    MESourceMetadataChanged = 221,
};

struct IMFMediaEvent : IMFAttributes {
    virtual HRESULT GetType(MediaEventType* type) = 0;
    virtual HRESULT GetExtendedType(GUID* type) = 0;
    virtual HRESULT GetStatus(HRESULT* status) = 0;
    virtual HRESULT GetValue(PROPVARIANT* value) = 0;

protected:
    ~IMFMediaEvent() = default;
};

struct IMFAsyncResult : IUnknown {
    virtual HRESULT GetState(IUnknown** state) = 0;
    virtual HRESULT GetStatus() = 0;
    virtual HRESULT SetStatus(HRESULT status) = 0;
    virtual HRESULT GetObject(IUnknown** object) = 0;
    virtual IUnknown* GetStateNoAddRef() = 0;

protected:
    ~IMFAsyncResult() = default;
};

struct IMFAsyncCallback : IUnknown {
    virtual HRESULT GetParameters(DWORD* flags, DWORD* queue) = 0;
    virtual HRESULT Invoke(IMFAsyncResult* result) = 0;

protected:
    ~IMFAsyncCallback() = default;
};

constexpr DWORD MF_EVENT_FLAG_NO_WAIT = 0x00000001;

struct IMFMediaEventGenerator : IUnknown {
    virtual HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) = 0;
    virtual HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) = 0;
    virtual HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                               const PROPVARIANT* value) = 0;

protected:
    ~IMFMediaEventGenerator() = default;
};

struct IMFMediaEventQueue : IUnknown {
    virtual HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) = 0;
    virtual HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) = 0;
    virtual HRESULT QueueEvent(IMFMediaEvent* event) = 0;
    virtual HRESULT QueueEventParamVar(MediaEventType type, REFGUID extended, HRESULT status,
                                       const PROPVARIANT* value) = 0;
    virtual HRESULT QueueEventParamUnk(MediaEventType type, REFGUID extended, HRESULT status,
                                       IUnknown* unknown) = 0;
    virtual HRESULT Shutdown() = 0;

protected:
    ~IMFMediaEventQueue() = default;
};

struct IMFMediaBuffer : IUnknown {
    virtual HRESULT Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetCurrentLength(DWORD* length) = 0;
    virtual HRESULT SetCurrentLength(DWORD length) = 0;
    virtual HRESULT GetMaxLength(DWORD* length) = 0;

protected:
    ~IMFMediaBuffer() = default;
};

struct IMFSample : IMFAttributes {
    virtual HRESULT GetSampleFlags(DWORD* flags) = 0;
    virtual HRESULT SetSampleFlags(DWORD flags) = 0;
    virtual HRESULT GetSampleTime(LONGLONG* time) = 0;
    virtual HRESULT SetSampleTime(LONGLONG time) = 0;
    virtual HRESULT GetSampleDuration(LONGLONG* duration) = 0;
    virtual HRESULT SetSampleDuration(LONGLONG duration) = 0;
    virtual HRESULT GetBufferCount(DWORD* count) = 0;
    virtual HRESULT GetBufferByIndex(DWORD index, IMFMediaBuffer** buffer) = 0;
    virtual HRESULT ConvertToContiguousBuffer(IMFMediaBuffer** buffer) = 0;
    virtual HRESULT AddBuffer(IMFMediaBuffer* buffer) = 0;
    virtual HRESULT RemoveBufferByIndex(DWORD index) = 0;
    virtual HRESULT RemoveAllBuffers() = 0;
    virtual HRESULT GetTotalLength(DWORD* length) = 0;
    virtual HRESULT CopyToBuffer(IMFMediaBuffer* buffer) = 0;

protected:
    ~IMFSample() = default;
};

enum MFBYTESTREAM_SEEK_ORIGIN { msoBegin = 0, msoCurrent = 1 };
constexpr DWORD MFBYTESTREAM_SEEK_FLAG_CANCEL_PENDING_IO = 0x1;
constexpr DWORD MFBYTESTREAM_IS_READABLE = 0x1;
constexpr DWORD MFBYTESTREAM_IS_WRITABLE = 0x2;
constexpr DWORD MFBYTESTREAM_IS_SEEKABLE = 0x4;
constexpr DWORD MFBYTESTREAM_IS_REMOTE = 0x8;
constexpr DWORD MFBYTESTREAM_HAS_SLOW_SEEK = 0x100;
constexpr DWORD MFBYTESTREAM_IS_PARTIALLY_DOWNLOADED = 0x200;

struct IMFByteStream : IUnknown {
    virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT GetLength(QWORD* length) = 0;
    virtual HRESULT SetLength(QWORD length) = 0;
    virtual HRESULT GetCurrentPosition(QWORD* position) = 0;
    virtual HRESULT SetCurrentPosition(QWORD position) = 0;
    virtual HRESULT IsEndOfStream(BOOL* end) = 0;
    virtual HRESULT Read(BYTE* buffer, ULONG count, ULONG* read) = 0;
    virtual HRESULT BeginRead(BYTE* buffer, ULONG count, IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT EndRead(IMFAsyncResult* result, ULONG* read) = 0;
    virtual HRESULT Write(const BYTE* buffer, ULONG count, ULONG* written) = 0;
    virtual HRESULT BeginWrite(const BYTE* buffer, ULONG count, IMFAsyncCallback* callback,
                               IUnknown* state) = 0;
    virtual HRESULT EndWrite(IMFAsyncResult* result, ULONG* written) = 0;
    virtual HRESULT Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD flags, QWORD* position) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT Close() = 0;

protected:
    ~IMFByteStream() = default;
};

struct IMFMediaTypeHandler : IUnknown {
    virtual HRESULT IsMediaTypeSupported(IMFMediaType* type, IMFMediaType** closest) = 0;
    virtual HRESULT GetMediaTypeCount(DWORD* count) = 0;
    virtual HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType** type) = 0;
    virtual HRESULT SetCurrentMediaType(IMFMediaType* type) = 0;
    virtual HRESULT GetCurrentMediaType(IMFMediaType** type) = 0;
    virtual HRESULT GetMajorType(GUID* major) = 0;

protected:
    ~IMFMediaTypeHandler() = default;
};

struct IMFStreamDescriptor : IMFAttributes {
    virtual HRESULT GetStreamIdentifier(DWORD* id) = 0;
    virtual HRESULT GetMediaTypeHandler(IMFMediaTypeHandler** handler) = 0;

protected:
    ~IMFStreamDescriptor() = default;
};

struct IMFPresentationDescriptor : IMFAttributes {
    virtual HRESULT GetStreamDescriptorCount(DWORD* count) = 0;
    virtual HRESULT GetStreamDescriptorByIndex(DWORD index, BOOL* selected,
                                               IMFStreamDescriptor** descriptor) = 0;
    virtual HRESULT SelectStream(DWORD index) = 0;
    virtual HRESULT DeselectStream(DWORD index) = 0;
    virtual HRESULT Clone(IMFPresentationDescriptor** copy) = 0;

protected:
    ~IMFPresentationDescriptor() = default;
};
