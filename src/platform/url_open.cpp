// BeginCreateObjectFromURL's work: open the URL's bytes, then make the object, on a thread of its own.
#include "url_open.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "com_impl.h"
#include "http_byte_stream.h"
#include "mfapi.h"

namespace {
PLAT_GUID(IID_PlatUrlOpen, 0x3f1c2a77, 0x9d0e, 0x4b61, 0xa5, 0x2e, 0x71, 0x0c, 0x94, 0x3b, 0x6d, 0x18);

std::string Narrow(LPCWSTR w) {
    std::string s;
    for (; w && *w; ++w)
        s += static_cast<char>(*w < 0x80 ? *w : '?');
    return s;
}

class UrlOpen final : public IUnknown {
    PLAT_REFCOUNT(UrlOpen)
    UrlOpen(IMFSourceResolver* resolver, LPCWSTR url, DWORD flags, IPropertyStore* props,
            IMFAsyncCallback* callback, IUnknown* state)
        : m_resolver(resolver), m_url(url), m_flags(flags), m_props(props), m_callback(callback),
          m_state(state) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {{&IID_PlatUrlOpen, 0}, {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    void Run();
    void Cancel() {
        m_cancelled = true;
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stream) m_stream->Close();
    }

private:
    virtual ~UrlOpen() = default;
    HRESULT Open(IUnknown** object);

    PlatRef<IMFSourceResolver> m_resolver;
    std::wstring m_url;
    DWORD m_flags;
    IPropertyStore* m_props; // passed through, never looked into (the caller keeps it for the open)
    PlatRef<IMFAsyncCallback> m_callback;
    PlatRef<IUnknown> m_state;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_lock;
    PlatRef<IMFByteStream> m_stream; // once made, for Cancel to close
};

HRESULT UrlOpen::Open(IUnknown** object) {
    PlatRef<IMFByteStream> stream;
    bool needsOpen = false;
    HRESULT hr = PlatMakeUrlByteStream(Narrow(m_url.c_str()).c_str(), &stream, &needsOpen);
    if (FAILED(hr)) return hr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stream = stream;
    }
    if (m_cancelled) stream->Close(); // cancelled before the stream was there to close
    if (needsOpen) hr = PlatOpenHttpByteStream(stream.Get());
    if (SUCCEEDED(hr) && (m_flags & MF_RESOLUTION_BYTESTREAM)) {
        *object = stream.Detach();
        return S_OK;
    }
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    if (SUCCEEDED(hr))
        hr = m_resolver->CreateObjectFromByteStream(stream.Get(), m_url.c_str(), m_flags, m_props, &type,
                                                    object);
    return hr;
}

void UrlOpen::Run() {
    PlatRef<IUnknown> object;
    HRESULT hr = Open(&object);
    if (m_cancelled) hr = MF_E_OPERATION_CANCELLED;
    PlatRef<IMFAsyncResult> result;
    if (FAILED(MFCreateAsyncResult(SUCCEEDED(hr) ? object.Get() : nullptr, m_callback.Get(), m_state.Get(),
                                   &result)))
        return; // out of memory: nothing can carry the news
    result->SetStatus(hr);
    // Without a work queue (before MFStartup, after MFShutdown) the callback runs here: never left waiting.
    if (FAILED(MFInvokeCallback(result.Get()))) m_callback->Invoke(result.Get());
    std::lock_guard<std::mutex> g(m_lock);
    m_stream.Reset(nullptr);
}
} // namespace

HRESULT PlatMakeUrlByteStream(const char* url, IMFByteStream** stream, bool* needsOpen) {
    *needsOpen = PlatIsHttpUrl(url);
    if (*needsOpen) return PlatCreateHttpByteStream(url, stream);
    std::string path(url);
    if (path.rfind("file://", 0) == 0) path = path.substr(7);
    return MFCreateFileByteStreamA(path.c_str(), stream);
}

HRESULT PlatBeginUrlOpen(IMFSourceResolver* resolver, LPCWSTR url, DWORD flags, IPropertyStore* props,
                         IUnknown** cookie, IMFAsyncCallback* callback, IUnknown* state) {
    if (cookie) *cookie = nullptr;
    if (!url || !callback) return E_POINTER;
    UrlOpen* open = nullptr;
    HRESULT hr = PlatCreate<UrlOpen>(&open, resolver, url, flags, props, callback, state);
    if (FAILED(hr)) return hr;
    PlatRef<UrlOpen> keep;
    keep.Attach(open);
    std::thread worker;
    try {
        // The thread keeps the open alive until its callback has been posted.
        worker = std::thread([keep] { keep->Run(); });
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    worker.detach();
    if (cookie) *cookie = keep.Detach();
    return S_OK;
}

HRESULT PlatCancelUrlOpen(IUnknown* cookie) {
    if (!cookie) return E_POINTER;
    PlatRef<IUnknown> check;
    if (FAILED(cookie->QueryInterface(IID_PlatUrlOpen, reinterpret_cast<void**>(&check))))
        return E_INVALIDARG;
    static_cast<UrlOpen*>(cookie)->Cancel();
    return S_OK;
}
