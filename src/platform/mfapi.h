// The Media Foundation functions the source and its hosts call.
#pragma once
#include "alloc_fault.h"
#include "dshow.h"
#include "mfobjects.h"

constexpr ULONG MF_VERSION = 0x00020070;
constexpr DWORD MFSTARTUP_FULL = 0;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_STANDARD = 0x00000001;

extern "C" {
HRESULT MFStartup(ULONG version, DWORD flags);
HRESULT MFShutdown();
HRESULT MFPutWorkItem(DWORD queue, IMFAsyncCallback* callback, IUnknown* state);
HRESULT MFCreateAsyncResult(IUnknown* object, IMFAsyncCallback* callback, IUnknown* state,
                            IMFAsyncResult** result);
HRESULT MFInvokeCallback(IMFAsyncResult* result);

HRESULT MFCreateAttributes(IMFAttributes** attributes, UINT32 initialSize);
HRESULT MFCreateMediaType(IMFMediaType** type);
HRESULT MFInitMediaTypeFromAMMediaType(IMFMediaType* type, const AM_MEDIA_TYPE* am);
HRESULT MFCreateMediaEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value,
                           IMFMediaEvent** event);
HRESULT MFCreateEventQueue(IMFMediaEventQueue** queue);
HRESULT MFCreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer);
HRESULT MFCreateSample(IMFSample** sample);
HRESULT MFCreateStreamDescriptor(DWORD id, DWORD count, IMFMediaType** types, IMFStreamDescriptor** sd);
HRESULT MFCreatePresentationDescriptor(DWORD count, IMFStreamDescriptor** sds, IMFPresentationDescriptor** pd);

// Byte streams: a file opened for reading (UTF-8 path), and a copy of a block of memory.
HRESULT MFCreateFileByteStreamA(const char* path, IMFByteStream** stream);
HRESULT MFCreateMemoryByteStream(const BYTE* data, QWORD size, IMFByteStream** stream);

// A byte stream over an http:// or https:// URL (libcurl), opened: the request is sent and the reply's
// headers read before it returns. Seekable where the server answers range requests, of unknown length
// (GetLength: -1) where the reply states none; MFBYTESTREAM_IS_REMOTE; MF_BYTESTREAM_CONTENT_TYPE from
// the reply. A failure's status or cause is in PLAT_BYTESTREAM_LAST_ERROR and PlatLastNetworkError.
HRESULT MFCreateHttpByteStreamA(const char* url, IMFByteStream** stream);
// The text of the process's last network failure ("http://host/a.ogg: HTTP 404 Not Found"); copies it
// (cut to size) and returns its length, 0 when there was none.
size_t PlatLastNetworkError(char* text, size_t size);
}

// An http byte stream's last failure as text (a string attribute, set when a request or read fails).
PLAT_GUID(PLAT_BYTESTREAM_LAST_ERROR, 0xb8874293, 0x602a, 0x42b5, 0x9d, 0x74, 0x54, 0x64, 0xc9, 0x93, 0x1a, 0xe7);

// A byte stream that misbehaves on purpose, for tests: it wraps another and fails, shortens or
// delays reads as configured, and counts what was asked of it.
struct FaultConfig {
    long failReadIndex = -1;       // the read with this 0-based index fails (-1: none)
    bool failAllAfter = false;     // ... and every read after it too
    HRESULT readError = E_FAIL;    // what a failing read returns
    ULONG shortReadLimit = 0;      // each read returns at most this many bytes (0: no limit)
    long shortFromRead = 0;        // ... from the read with this 0-based index on
    bool lengthFails = false;      // GetLength fails with E_FAIL
    bool lengthUnknown = false;    // GetLength reports -1 (unknown)
    unsigned readDelayMicros = 0;  // every read sleeps this long first
    bool notSeekable = false;      // no MFBYTESTREAM_IS_SEEKABLE; a seek anywhere but the current position
                                   // fails with MF_E_BYTESTREAM_NOT_SEEKABLE (with lengthUnknown: a live stream)
    bool remote = false;           // MFBYTESTREAM_IS_REMOTE and MFBYTESTREAM_HAS_SLOW_SEEK
    bool buffering = false;        // offers IMFByteStreamBuffering and its events: while enabled, every read is
                                   // told as one that waits (MEBufferingStarted before, MEBufferingStopped after);
                                   // set when the stream is made
};

struct IFaultByteStreamControl : IUnknown {
    virtual void GetCounters(uint64_t* reads, uint64_t* bytes) = 0;
    virtual void Reconfigure(const FaultConfig& config) = 0;
    // The lowest offset read since the last call (the file's length when nothing was read); starts anew.
    virtual uint64_t TakeLowestRead() = 0;
    // The gate: while held, every read waits at its start until released, or until Close(), which fails
    // it (and every later read) with MF_E_SHUTDOWN.
    virtual void HoldReads(bool hold) = 0;
    // How many reads wait at the gate now.
    virtual unsigned HeldReads() = 0;
    // Returns once at least count reads wait at the gate (or the stream is closed): no clock needed.
    virtual void WaitForHeldReads(unsigned count) = 0;

protected:
    ~IFaultByteStreamControl() = default;
};
PLAT_GUID(IID_IFaultByteStreamControl, 0x5b0e7a41, 0x2f6c, 0x4d9a, 0x8e, 0x11, 0x3c, 0x7d, 0x52, 0x9a, 0x04,
          0xf1);

extern "C" HRESULT MFCreateFaultByteStream(IMFByteStream* inner, const FaultConfig* config,
                                           IMFByteStream** stream);
