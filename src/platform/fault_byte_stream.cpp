// A byte stream that misbehaves on purpose: it wraps another and fails, shortens, delays or holds reads,
// and can pose as a stream that cannot seek, has no length, or is remote.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "com_impl.h"
#include "mfapi.h"
#include "stream_buffering.h"

namespace {
class FaultByteStream final : public IMFByteStream,
                              public IFaultByteStreamControl,
                              public IMFByteStreamBuffering,
                              public IMFMediaEventGenerator {
    PLAT_REFCOUNT(FaultByteStream)
    FaultByteStream(IMFByteStream* inner, const FaultConfig& config) : m_inner(inner), m_config(config) {}
    HRESULT Init() { return m_config.buffering ? m_buffering.Init() : S_OK; }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        // The attributes are those of the stream it wraps (a host's content type, say).
        if (ppv && IsEqualIID(riid, IID_IMFAttributes)) return m_inner->QueryInterface(riid, ppv);
        static const QITAB table[] = {QITABENT(FaultByteStream, IMFByteStream),
                                      QITABENT(FaultByteStream, IFaultByteStreamControl),
                                      {nullptr, 0}};
        static const QITAB buffering[] = {QITABENT(FaultByteStream, IMFByteStreamBuffering),
                                          QITABENT(FaultByteStream, IMFMediaEventGenerator),
                                          {nullptr, 0}};
        const HRESULT hr = QISearch(this, table, riid, ppv);
        return FAILED(hr) && m_buffering.Queue() ? QISearch(this, buffering, riid, ppv) : hr;
    }
    // Buffering, when the stream was made with it.
    HRESULT SetBufferingParams(MFBYTESTREAM_BUFFERING_PARAMS* params) override { return params ? S_OK : E_POINTER; }
    HRESULT EnableBuffering(BOOL enable) override { return m_buffering.Enable(enable != FALSE); }
    HRESULT StopBuffering() override { return m_buffering.Stop(); }
    HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) override { return m_buffering.Queue()->GetEvent(flags, event); }
    HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return m_buffering.Queue()->BeginGetEvent(callback, state);
    }
    HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return m_buffering.Queue()->EndGetEvent(result, event);
    }
    HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override {
        return m_buffering.Queue()->QueueEventParamVar(type, extended, status, value);
    }
    void GetCounters(uint64_t* reads, uint64_t* bytes) override {
        std::lock_guard<std::mutex> g(m_lock);
        if (reads) *reads = m_reads;
        if (bytes) *bytes = m_bytes;
    }
    uint64_t TakeLowestRead() override {
        std::lock_guard<std::mutex> g(m_lock);
        uint64_t lowest = m_lowest;
        m_lowest = ~uint64_t(0);
        return lowest;
    }
    void Reconfigure(const FaultConfig& config) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_config = config;
    }
    void HoldReads(bool hold) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_hold = hold;
        m_gate.notify_all();
    }
    unsigned HeldReads() override {
        std::lock_guard<std::mutex> g(m_lock);
        return m_held;
    }
    void WaitForHeldReads(unsigned count) override {
        std::unique_lock<std::mutex> g(m_lock);
        m_gate.wait(g, [&] { return m_held >= count || m_closed; });
    }

    HRESULT GetCapabilities(DWORD* caps) override {
        HRESULT hr = m_inner->GetCapabilities(caps);
        if (FAILED(hr)) return hr;
        FaultConfig c = Config();
        if (c.notSeekable) *caps &= ~(MFBYTESTREAM_IS_SEEKABLE | MFBYTESTREAM_HAS_SLOW_SEEK);
        if (c.remote) *caps |= MFBYTESTREAM_IS_REMOTE | (c.notSeekable ? 0 : MFBYTESTREAM_HAS_SLOW_SEEK);
        return S_OK;
    }
    HRESULT GetLength(QWORD* length) override {
        if (!length) return E_POINTER;
        FaultConfig c = Config();
        if (c.lengthFails) return E_FAIL;
        if (c.lengthUnknown) {
            *length = ~QWORD(0);
            return S_OK;
        }
        return m_inner->GetLength(length);
    }
    HRESULT SetLength(QWORD length) override { return m_inner->SetLength(length); }
    HRESULT GetCurrentPosition(QWORD* p) override { return m_inner->GetCurrentPosition(p); }
    HRESULT SetCurrentPosition(QWORD p) override {
        if (!SeekAllowed(p)) return MF_E_BYTESTREAM_NOT_SEEKABLE;
        return m_inner->SetCurrentPosition(p);
    }
    HRESULT IsEndOfStream(BOOL* end) override { return m_inner->IsEndOfStream(end); }
    HRESULT Read(BYTE* buffer, ULONG count, ULONG* read) override {
        if (!buffer || !read) return E_POINTER;
        *read = 0;
        FaultConfig c;
        uint64_t index;
        {
            std::unique_lock<std::mutex> g(m_lock);
            index = m_reads++;
            HRESULT hr = PassGate(g);
            if (FAILED(hr)) return hr;
            c = m_config;
        }
        if (c.readDelayMicros) std::this_thread::sleep_for(std::chrono::microseconds(c.readDelayMicros));
        long fail = c.failReadIndex;
        if (fail >= 0 && (index == static_cast<uint64_t>(fail) || (c.failAllAfter && index > uint64_t(fail))))
            return c.readError;
        if (c.shortReadLimit && count > c.shortReadLimit && index >= static_cast<uint64_t>(c.shortFromRead))
            count = c.shortReadLimit;
        QWORD at = 0;
        m_inner->GetCurrentPosition(&at);
        if (m_buffering.Queue()) m_buffering.Waiting();
        HRESULT hr = m_inner->Read(buffer, count, read);
        if (m_buffering.Queue()) m_buffering.Done();
        std::lock_guard<std::mutex> g(m_lock);
        m_bytes += *read;
        if (*read && at < m_lowest) m_lowest = at;
        return hr;
    }
    HRESULT BeginRead(BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT EndRead(IMFAsyncResult*, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const BYTE*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT BeginWrite(const BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_ACCESSDENIED; }
    HRESULT EndWrite(IMFAsyncResult*, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT Seek(MFBYTESTREAM_SEEK_ORIGIN o, LONGLONG off, DWORD f, QWORD* p) override {
        if (!(o == msoCurrent && off == 0)) {
            QWORD target = static_cast<QWORD>(off);
            if (o == msoCurrent) {
                m_inner->GetCurrentPosition(&target);
                target += static_cast<QWORD>(off);
            }
            if (!SeekAllowed(target)) return MF_E_BYTESTREAM_NOT_SEEKABLE;
        }
        return m_inner->Seek(o, off, f, p);
    }
    HRESULT Flush() override { return m_inner->Flush(); }
    HRESULT Close() override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_closed = true;
            m_gate.notify_all();
        }
        m_buffering.Shutdown();
        return m_inner->Close();
    }

private:
    virtual ~FaultByteStream() { m_buffering.Shutdown(); }
    // A stream posing as not seekable can only "seek" to where it is.
    bool SeekAllowed(QWORD target) {
        if (!Config().notSeekable) return true;
        QWORD at = 0;
        return SUCCEEDED(m_inner->GetCurrentPosition(&at)) && at == target;
    }
    // Waits while reads are held; a closed stream fails the read.
    HRESULT PassGate(std::unique_lock<std::mutex>& g) {
        if (m_hold && !m_closed) {
            ++m_held;
            m_gate.notify_all();
            m_gate.wait(g, [&] { return !m_hold || m_closed; });
            --m_held;
        }
        return m_closed ? MF_E_SHUTDOWN : S_OK;
    }
    FaultConfig Config() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_config;
    }
    PlatRef<IMFByteStream> m_inner;
    std::mutex m_lock;
    FaultConfig m_config;
    uint64_t m_reads = 0, m_bytes = 0, m_lowest = ~uint64_t(0);
    std::condition_variable m_gate; // reads held, released, closed
    bool m_hold = false, m_closed = false;
    unsigned m_held = 0;
    StreamBuffering m_buffering; // its queue only when made with buffering
};
} // namespace

extern "C" HRESULT MFCreateFaultByteStream(IMFByteStream* inner, const FaultConfig* config,
                                           IMFByteStream** stream) {
    if (!inner || !stream) return E_POINTER;
    FaultConfig c = config ? *config : FaultConfig{};
    FaultByteStream* s = nullptr;
    HRESULT hr = PlatCreate<FaultByteStream>(&s, inner, c);
    if (SUCCEEDED(hr)) hr = s->Init();
    if (FAILED(hr) && s) {
        s->Release();
        s = nullptr;
    }
    *stream = s;
    return hr;
}
