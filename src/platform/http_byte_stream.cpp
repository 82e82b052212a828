// A byte stream over an http:// or https:// URL, read through libcurl. Where the server answers range
// requests it is seekable (each seek backwards or far ahead is a new request from that byte) and its
// length is the one the server states; otherwise it is read once from the start, not seekable, and of
// unknown length unless the reply states one. Close() cancels a read in flight at once.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>

#include "attributes.h"
#include "com_impl.h"
#include "http_byte_stream.h"
#include "http_transfer.h"
#include "mfapi.h"
#include "net_error.h"

namespace {
// A forward seek this short reads through on the open connection instead of asking again.
constexpr uint64_t kSkipInPlaceBytes = 256 * 1024;

std::once_flag g_curlInit;

class HttpByteStream final : public IMFByteStream,
                             public TAttributes<IMFAttributes>,
                             public IMFByteStreamBuffering,
                             public IMFMediaEventGenerator {
    PLAT_REFCOUNT(HttpByteStream)
    HttpByteStream(char* url, CURLM* multi) : m_url(url), m_multi(multi) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(HttpByteStream, IMFByteStream),
                                      QITABENT(HttpByteStream, IMFAttributes),
                                      QITABENT(HttpByteStream, IMFByteStreamBuffering),
                                      QITABENT(HttpByteStream, IMFMediaEventGenerator),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT Init() { return m_buffering.Init(); }
    HRESULT Open();

    // The parameters describe a file's bit rates to a buffering byte stream; this one buffers what its
    // receive buffer holds, whatever they say.
    HRESULT SetBufferingParams(MFBYTESTREAM_BUFFERING_PARAMS* params) override {
        return params ? S_OK : E_POINTER;
    }
    HRESULT EnableBuffering(BOOL enable) override { return m_buffering.Enable(enable != FALSE); }
    HRESULT StopBuffering() override { return m_buffering.Stop(); }
    HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) override {
        return m_buffering.Queue()->GetEvent(flags, event);
    }
    HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return m_buffering.Queue()->BeginGetEvent(callback, state);
    }
    HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return m_buffering.Queue()->EndGetEvent(result, event);
    }
    HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                       const PROPVARIANT* value) override {
        return m_buffering.Queue()->QueueEventParamVar(type, extended, status, value);
    }

    HRESULT GetCapabilities(DWORD* caps) override {
        if (!caps) return E_POINTER;
        // Every seek of a network stream costs a request: slow, as the system's http byte stream says too.
        *caps = MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_REMOTE |
                (m_seekable ? MFBYTESTREAM_IS_SEEKABLE | MFBYTESTREAM_HAS_SLOW_SEEK : 0);
        return S_OK;
    }
    // An unknown length is answered as -1 (~0 as a QWORD) with S_OK, as the system's byte streams do.
    HRESULT GetLength(QWORD* length) override {
        if (!length) return E_POINTER;
        *length = m_lengthKnown ? m_length : ~QWORD(0);
        return S_OK;
    }
    HRESULT SetLength(QWORD) override { return E_ACCESSDENIED; }
    HRESULT GetCurrentPosition(QWORD* position) override {
        if (!position) return E_POINTER;
        std::lock_guard<std::mutex> g(m_stateLock);
        *position = m_position;
        return S_OK;
    }
    HRESULT SetCurrentPosition(QWORD position) override;
    HRESULT IsEndOfStream(BOOL* end) override {
        if (!end) return E_POINTER;
        std::lock_guard<std::mutex> g(m_stateLock);
        *end = m_lengthKnown ? m_position >= m_length : m_ended;
        return S_OK;
    }
    HRESULT Read(BYTE* buffer, ULONG count, ULONG* read) override;
    // Reads are synchronous; the source reads on a thread of its own.
    HRESULT BeginRead(BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT EndRead(IMFAsyncResult*, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const BYTE*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT BeginWrite(const BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_ACCESSDENIED; }
    HRESULT EndWrite(IMFAsyncResult*, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD, QWORD* position) override;
    HRESULT Flush() override { return S_OK; }
    HRESULT Close() override;

private:
    virtual ~HttpByteStream() {
        m_buffering.Shutdown();
        delete m_transfer;
        curl_multi_cleanup(m_multi);
        std::free(m_url);
    }
    HRESULT Connect(uint64_t offset);
    HRESULT MoveTo(uint64_t position, bool* atEnd);
    HRESULT Failed(HRESULT hr, const char* text);

    char* m_url;
    CURLM* m_multi;
    std::atomic<bool> m_closed{false};
    // m_readLock: one read (and its connection) at a time, held across network waits. m_stateLock: the
    // position and the end flag, never held across a wait, so that the position, Seek and Close answer
    // while a read waits.
    std::mutex m_readLock, m_stateLock;
    StreamBuffering m_buffering;
    HttpTransfer* m_transfer = nullptr; // the open connection (m_readLock)
    uint64_t m_connection = 0;          // the offset of the connection's next byte (m_readLock)
    QWORD m_position = 0;               // m_stateLock
    bool m_ended = false;               // the body ended cleanly at the position (m_stateLock)
    // Set by Open before the stream is handed out, constant after.
    bool m_seekable = false, m_lengthKnown = false;
    QWORD m_length = 0;
};

// Keeps the cause where a host can read it: the stream's attribute and the process's last network error.
HRESULT HttpByteStream::Failed(HRESULT hr, const char* text) {
    if (hr == MF_E_SHUTDOWN) return hr;
    PlatSetLastNetworkError(text);
    WCHAR wide[768];
    size_t n = 0;
    for (; text[n] && n + 1 < sizeof wide / sizeof wide[0]; ++n)
        wide[n] = static_cast<unsigned char>(text[n]);
    wide[n] = 0;
    SetString(PLAT_BYTESTREAM_LAST_ERROR, wide);
    return hr;
}

HRESULT HttpByteStream::Connect(uint64_t offset) {
    delete m_transfer;
    m_transfer = new (std::nothrow) HttpTransfer(m_multi, &m_closed, &m_buffering);
    if (!m_transfer) return E_OUTOFMEMORY;
    m_connection = offset;
    HRESULT hr = m_transfer->Start(m_url, offset, true);
    if (SUCCEEDED(hr)) hr = m_transfer->WaitHeaders();
    if (FAILED(hr)) return Failed(hr, m_transfer->ErrorText());
    const HttpReplyHeaders& h = m_transfer->Headers();
    if (offset == 0) return S_OK; // Open reads the first reply
    if (h.status == 206 && h.hasRange && h.rangeStart == offset) return S_OK;
    char text[600];
    std::snprintf(text, sizeof text,
                  "%s: HTTP %d to a request for the bytes from %llu on (a range was expected)", m_url,
                  h.status, static_cast<unsigned long long>(offset));
    return Failed(MF_E_NET_INCOMPATIBLE_SERVER, text);
}

HRESULT HttpByteStream::Open() {
    std::lock_guard<std::mutex> g(m_readLock);
    PlatSetLastNetworkError(""); // the last failure is the last open's, not an older stream's
    HRESULT hr = Connect(0);
    if (FAILED(hr)) return hr;
    const HttpReplyHeaders& h = m_transfer->Headers();
    if (h.status == 206 && h.hasRange && h.rangeStart == 0) {
        m_seekable = true;
        m_lengthKnown = h.rangeTotalKnown;
        m_length = h.rangeTotal;
    } else if (h.status == 416) { // nothing at byte 0: an empty resource
        m_seekable = m_lengthKnown = true;
        m_length = 0;
    } else {
        // A plain reply: the server ignored the range, so the stream is read once, from the start.
        m_lengthKnown = h.hasLength;
        m_length = h.length;
    }
    if (*h.contentType) {
        WCHAR wide[256];
        size_t n = 0;
        for (; h.contentType[n] && n + 1 < 256; ++n)
            wide[n] = static_cast<unsigned char>(h.contentType[n]);
        wide[n] = 0;
        SetString(MF_BYTESTREAM_CONTENT_TYPE, wide);
    }
    return S_OK;
}

// Puts the connection at the position: nothing to do, a short skip on the open connection, or a new
// request. atEnd: the position is at or past the known length.
HRESULT HttpByteStream::MoveTo(uint64_t position, bool* atEnd) {
    *atEnd = m_lengthKnown && position >= m_length;
    if (m_transfer && m_connection == position) return S_OK;
    if (!m_seekable) return MF_E_BYTESTREAM_NOT_SEEKABLE; // Seek refuses this; a guard only
    if (*atEnd) return S_OK;
    if (m_transfer && position > m_connection && position - m_connection <= kSkipInPlaceBytes) {
        uint64_t skipped = 0;
        HRESULT hr = m_transfer->Skip(position - m_connection, &skipped);
        m_connection += skipped;
        if (FAILED(hr)) return Failed(hr, m_transfer->ErrorText());
        if (m_connection == position) return S_OK;
    }
    return Connect(position);
}

HRESULT HttpByteStream::Read(BYTE* buffer, ULONG count, ULONG* read) {
    if (!buffer || !read) return E_POINTER;
    *read = 0;
    std::lock_guard<std::mutex> g(m_readLock);
    if (m_closed) return MF_E_SHUTDOWN;
    QWORD start;
    {
        std::lock_guard<std::mutex> s(m_stateLock);
        start = m_position;
    }
    bool atEnd = false;
    HRESULT hr = MoveTo(start, &atEnd);
    if (FAILED(hr) || atEnd) return hr;
    if (m_lengthKnown && count > m_length - start) count = static_cast<ULONG>(m_length - start);
    hr = m_transfer->Read(buffer, count, read);
    m_connection += *read;
    if (FAILED(hr)) {
        *read = 0;
        return Failed(hr, m_transfer->ErrorText());
    }
    std::lock_guard<std::mutex> s(m_stateLock);
    if (m_position == start) m_position = start + *read; // unless a seek came meanwhile
    m_ended = m_transfer->AtEnd();
    return S_OK;
}

HRESULT HttpByteStream::SetCurrentPosition(QWORD position) {
    if (position > static_cast<QWORD>(INT64_MAX)) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(m_stateLock);
    if (position == m_position) return S_OK;
    // Not seekable: the one position it can be at is the current one.
    if (!m_seekable) return MF_E_BYTESTREAM_NOT_SEEKABLE;
    m_position = position;
    m_ended = false;
    return S_OK;
}

HRESULT HttpByteStream::Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD, QWORD* position) {
    if (origin != msoBegin && origin != msoCurrent) return E_INVALIDARG;
    QWORD current = 0;
    GetCurrentPosition(&current);
    const LONGLONG base = origin == msoCurrent ? static_cast<LONGLONG>(current) : 0;
    if (offset < 0 ? base + offset < 0 : offset > INT64_MAX - base) return E_INVALIDARG;
    HRESULT hr = SetCurrentPosition(static_cast<QWORD>(base + offset));
    if (SUCCEEDED(hr) && position) GetCurrentPosition(position);
    return hr;
}

// Returns at once: a read waiting for the server wakes and fails with MF_E_SHUTDOWN; the connection
// goes now when no read holds it, else with the stream.
HRESULT HttpByteStream::Close() {
    m_closed = true;
    curl_multi_wakeup(m_multi);
    m_buffering.Shutdown();
    std::unique_lock<std::mutex> g(m_readLock, std::try_to_lock);
    if (g.owns_lock()) {
        delete m_transfer;
        m_transfer = nullptr;
    }
    return S_OK;
}

HRESULT Create(const char* url, HttpByteStream** out) {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const size_t n = std::strlen(url);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    CURLM* multi = copy ? curl_multi_init() : nullptr;
    HttpByteStream* s = nullptr;
    HRESULT hr = multi ? PlatCreate<HttpByteStream>(&s, copy, multi) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        if (multi) curl_multi_cleanup(multi);
        std::free(copy);
        return hr;
    }
    std::memcpy(copy, url, n + 1);
    hr = s->Init();
    if (FAILED(hr)) {
        s->Release();
        return hr;
    }
    *out = s;
    return S_OK;
}
} // namespace

bool PlatIsHttpUrl(const char* url) {
    return url && (strncasecmp(url, "http://", 7) == 0 || strncasecmp(url, "https://", 8) == 0);
}

HRESULT PlatCreateHttpByteStream(const char* url, IMFByteStream** stream) {
    if (!url || !stream) return E_POINTER;
    *stream = nullptr;
    if (!PlatIsHttpUrl(url)) return MF_E_UNSUPPORTED_SCHEME;
    HttpByteStream* s = nullptr;
    HRESULT hr = Create(url, &s);
    if (SUCCEEDED(hr)) *stream = s;
    return hr;
}

HRESULT PlatOpenHttpByteStream(IMFByteStream* stream) {
    if (!stream) return E_POINTER;
    // Only PlatCreateHttpByteStream makes the streams handed here (the resolver, the function below).
    return static_cast<HttpByteStream*>(stream)->Open();
}

extern "C" HRESULT MFCreateHttpByteStreamA(const char* url, IMFByteStream** stream) {
    if (!stream) return E_POINTER;
    PlatRef<IMFByteStream> s;
    HRESULT hr = PlatCreateHttpByteStream(url, &s);
    if (SUCCEEDED(hr)) hr = PlatOpenHttpByteStream(s.Get());
    *stream = SUCCEEDED(hr) ? s.Detach() : nullptr;
    return hr;
}
