#include "byte_stream_handler.h"

#include "open_job.h"

HRESULT OGGByteStreamHandler::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (outer) return CLASS_E_NOAGGREGATION;
    OGGByteStreamHandler* handler = new OGGByteStreamHandler;
    if (!handler) return E_OUTOFMEMORY;
    HRESULT hr = handler->QueryInterface(riid, ppv);
    handler->Release();
    return hr;
}

OGGByteStreamHandler::~OGGByteStreamHandler() = default;

STDMETHODIMP OGGByteStreamHandler::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(OGGByteStreamHandler, IMFByteStreamHandler), {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

STDMETHODIMP_(ULONG) OGGByteStreamHandler::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) OGGByteStreamHandler::Release() {
    ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP OGGByteStreamHandler::BeginCreateObject(IMFByteStream* stream, LPCWSTR, DWORD flags, IPropertyStore*,
                                                IUnknown** cancelCookie, IMFAsyncCallback* callback,
                                                IUnknown* state) {
    if (cancelCookie) *cancelCookie = nullptr;
    if (!stream || !callback) return E_POINTER;
    if (!(flags & MF_RESOLUTION_MEDIASOURCE)) return E_INVALIDARG;
    return COpenJob::Start(stream, callback, state, cancelCookie);
}

STDMETHODIMP OGGByteStreamHandler::CancelObjectCreation(IUnknown* cookie) { return COpenJob::Cancel(cookie); }

STDMETHODIMP OGGByteStreamHandler::EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) {
    if (!result || !type || !object) return E_POINTER;
    *type = MF_OBJECT_INVALID;
    *object = nullptr;
    HRESULT hr = result->GetStatus();
    if (FAILED(hr)) return hr;
    IUnknown* made = nullptr;
    if (FAILED(result->GetObject(&made)) || !made) return E_INVALIDARG; // not a result of this handler's
    IMFMediaSource* source = nullptr;
    hr = COpenJob::SourceOf(made, &source);
    made->Release();
    if (FAILED(hr)) return hr;
    *type = MF_OBJECT_MEDIASOURCE;
    *object = source;
    return S_OK;
}
