#include "open_job.h"

#include "ogg_source.h"

namespace {
// Names the job to QueryInterface, so that a cancel can tell its own cookies from anyone else's.
const GUID kOpenJobId = {0x8b5d3e21, 0x4c7a, 0x4e19, {0x9f, 0x02, 0x6a, 0xd1, 0x3c, 0x58, 0xb7, 0x4e}};
} // namespace

COpenJob::COpenJob(IMFByteStream* stream, IMFAsyncCallback* callback) : m_pStream(stream), m_pCallback(callback) {
    m_pStream->AddRef();
    m_pCallback->AddRef();
    SetThreadName("oggsource open");
}

COpenJob::~COpenJob() {
    JoinThread();
    if (m_pStream) m_pStream->Release();
    if (m_pResult) m_pResult->Release();
    if (m_pSource) m_pSource->Release();
    if (m_pCallback) m_pCallback->Release();
}

STDMETHODIMP COpenJob::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, kOpenJobId) || IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) COpenJob::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) COpenJob::Release() {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

HRESULT COpenJob::Start(IMFByteStream* stream, IMFAsyncCallback* callback, IUnknown* state, IUnknown** cookie) {
    if (cookie) *cookie = nullptr;
    auto* job = new COpenJob(stream, callback);
    if (!job) return E_OUTOFMEMORY;
    HRESULT hr = MFCreateAsyncResult(static_cast<IUnknown*>(job), callback, state, &job->m_pResult);
    if (SUCCEEDED(hr)) {
        job->AddRef(); // the worker's, let go when the callback has been posted
        if (!job->Create()) {
            job->Release();
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) { // no worker: the job and its result (which holds it) are let go here
        if (job->m_pResult) job->m_pResult->Release();
        job->m_pResult = nullptr;
        job->Release();
        return hr;
    }
    if (cookie) *cookie = static_cast<IUnknown*>(job);
    else job->Release();
    return S_OK;
}

HRESULT COpenJob::Cancel(IUnknown* cookie) {
    if (!cookie) return E_POINTER;
    IUnknown* job = nullptr;
    if (FAILED(cookie->QueryInterface(kOpenJobId, reinterpret_cast<void**>(&job)))) return E_INVALIDARG;
    static_cast<COpenJob*>(job)->CancelOpen();
    job->Release();
    return S_OK;
}

HRESULT COpenJob::SourceOf(IUnknown* object, IMFMediaSource** source) {
    *source = nullptr;
    IUnknown* found = nullptr;
    if (!object || FAILED(object->QueryInterface(kOpenJobId, reinterpret_cast<void**>(&found)))) return E_INVALIDARG;
    auto* job = static_cast<COpenJob*>(found);
    std::lock_guard<std::mutex> g(job->m_lock);
    const HRESULT hr = job->m_pSource ? S_OK : E_INVALIDARG; // a result with a success status but no source
    if (job->m_pSource) {
        *source = job->m_pSource;
        (*source)->AddRef();
    }
    found->Release();
    return hr;
}

void COpenJob::CancelOpen() {
    m_cancelled = true;
    std::lock_guard<std::mutex> g(m_lock);
    if (m_pStream) m_pStream->Close(); // the open owns the stream until it ends: a cancelled open hands back nothing
}

HRESULT COpenJob::Open(IMFMediaSource** object) {
    *object = nullptr;
    HRESULT hr = S_OK;
    OGGSource* source = new OGGSource(&hr);
    if (!source) return E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) hr = source->Initialize(m_pStream);
    if (SUCCEEDED(hr)) *object = source;
    else source->Release();
    return hr;
}

DWORD COpenJob::WorkerMain() {
    IMFMediaSource* source = nullptr;
    HRESULT hr = Open(&source);
    if (m_cancelled && source) { // cancelled as the open ended
        source->Shutdown();
        source->Release();
        source = nullptr;
    }
    if (m_cancelled) hr = MF_E_OPERATION_CANCELLED; // whatever the closed stream made the open fail with
    IMFAsyncResult* result = nullptr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_pSource = source; // the job's reference: EndCreateObject hands out its own
        m_pStream->Release();
        m_pStream = nullptr;
        std::swap(result, m_pResult);
    }
    result->SetStatus(hr);
    // Without a work queue (before MFStartup, after MFShutdown) the callback runs here: never left waiting.
    if (FAILED(MFInvokeCallback(result))) m_pCallback->Invoke(result);
    result->Release();
    m_pCallback->Release(); // the host's callback may hold the cookie: not kept past the open
    m_pCallback = nullptr;
    Release(); // may destroy the job: nothing of `this` is used after
    return 0;
}
