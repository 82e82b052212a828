// The media source: life cycle, interface lookup, event generator and public methods.
#include "ogg_source.h"

#include "production_item.h"

OGGSource* SourceLink::Acquire() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_pSource && m_pSource->TryAddRef() ? m_pSource : nullptr;
}

OGGSource::OGGSource(HRESULT* phr) : OpQueue<SourceOp>(&m_lock), m_pLink(new SourceLink(this)) {
    *phr = m_pLink ? MFCreateEventQueue(&m_pEventQueue) : E_OUTOFMEMORY;
}

OGGSource::~OGGSource() {
    if (m_pLink) {
        m_pLink->Clear(); // streams and work items that outlive the source find no source from here on
        m_pLink->Release();
    }
    if (!ShutDown()) Shutdown();
    for (uint32_t i = 0; i < MaxMediaStreams; ++i) {
        if (m_streams[i]) m_streams[i]->Release();
        m_streams[i] = nullptr;
    }
    m_cStreams = 0;
    if (m_pLiveTold) m_pLiveTold->Release();
    if (m_pLinkAttributes) m_pLinkAttributes->Release();
    for (int32_t i = 0; i < m_cProduction; ++i) {
        Production& p = m_production[i];
        for (int k = 0; k < p.count; ++k)
            p.batch[k]->Release();
        if (p.item) p.item->Release();
        if (p.pool) p.pool->Release(); // buffers still held by a host keep it until they are released
    }
    delete[] m_production;
    if (m_pCore) m_pCore->Release(); // its reader, if still in a read, holds it until the read returns
    m_operations.Clear();
}

STDMETHODIMP OGGSource::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {
        QITABENT(OGGSource, IMFMediaEventGenerator), QITABENT(OGGSource, IMFMediaSource),
        QITABENT(OGGSource, IMFRateControl),         QITABENT(OGGSource, IMFRateSupport),
        QITABENT(OGGSource, IMFGetService),          {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

STDMETHODIMP_(ULONG) OGGSource::AddRef() {
    return ++m_refCount;
}

STDMETHODIMP_(ULONG) OGGSource::Release() {
    const ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

bool OGGSource::TryAddRef() {
    ULONG n = m_refCount.load();
    while (n != 0)
        if (m_refCount.compare_exchange_weak(n, n + 1)) return true;
    return false;
}

// The event queue, with a reference; null once shut down. The event methods take this small lock only: a host
// reading events never waits for the dispatch.
IMFMediaEventQueue* OGGSource::EventQueue() {
    std::lock_guard<std::mutex> g(m_eventLock);
    if (m_pEventQueue) m_pEventQueue->AddRef();
    return m_pEventQueue;
}

STDMETHODIMP OGGSource::GetEvent(DWORD flags, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->GetEvent(flags, event); // may block: outside every lock
    queue->Release();
    return hr;
}

STDMETHODIMP OGGSource::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->BeginGetEvent(callback, state);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGSource::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->EndGetEvent(result, event);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGSource::QueueEvent(MediaEventType type, REFGUID ext, HRESULT status,
                                   const PROPVARIANT* value) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->QueueEventParamVar(type, ext, status, value);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGSource::GetCharacteristics(DWORD* characteristics) {
    if (!characteristics) return E_POINTER;
    if (ShutDown()) return MF_E_SHUTDOWN;
    *characteristics = m_characteristics.load();
    return S_OK;
}

STDMETHODIMP OGGSource::CreatePresentationDescriptor(IMFPresentationDescriptor** pd) {
    if (!pd) return E_POINTER;
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening || !m_pPD) return MF_E_NOT_INITIALIZED;
    return m_pPD->Clone(pd);
}

STDMETHODIMP OGGSource::Start(IMFPresentationDescriptor* pd, const GUID* timeFormat,
                              const PROPVARIANT* start) {
    if (!pd || !start) return E_INVALIDARG;
    if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL)) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (start->vt != VT_I8 && start->vt != VT_EMPTY) return MF_E_UNSUPPORTED_TIME_FORMAT;
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening) return MF_E_NOT_INITIALIZED;
    if (!m_pCore) return E_UNEXPECTED;
    // Bytes that cannot be sought in start where the presentation is: a position is taken only when it is
    // that one.
    if (!Seekable() && start->vt == VT_I8 && start->hVal.QuadPart != CurrentPosition())
        return MF_E_INVALIDREQUEST;
    DWORD count = 0;
    HRESULT hr = pd->GetStreamDescriptorCount(&count);
    if (FAILED(hr)) return hr;
    if (count != m_cStreams) return E_INVALIDARG;
    bool anySelected = false;
    for (DWORD i = 0; i < count && !anySelected; ++i) {
        BOOL selected = FALSE;
        IMFStreamDescriptor* sd = nullptr;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (FAILED(hr)) return hr;
        if (sd) sd->Release();
        anySelected = selected != FALSE;
    }
    if (!anySelected) return E_INVALIDARG;
    StartOp* op = new StartOp(pd);
    if (!op) return E_OUTOFMEMORY;
    hr = PropVariantCopy(&op->m_data, start);
    if (SUCCEEDED(hr)) hr = PostOperation(op);
    op->Release();
    if (SUCCEEDED(hr)) m_requestedState = SourceStarted;
    return hr;
}

STDMETHODIMP OGGSource::Stop() {
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening) return MF_E_NOT_INITIALIZED;
    SourceOp* op = new SourceOp(OpStop);
    if (!op) return E_OUTOFMEMORY;
    HRESULT hr = PostOperation(op);
    op->Release();
    if (SUCCEEDED(hr)) m_requestedState = SourceStopped;
    return hr;
}

// A pause is refused from the call unless the source is, or is about to be, started (rather than posted and
// refused by an MESourcePaused with an error and an MEError, which a Media Session takes as fatal).
STDMETHODIMP OGGSource::Pause() {
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (m_requestedState != SourceStarted) return MF_E_INVALID_STATE_TRANSITION;
    SourceOp* op = new SourceOp(OpPause);
    if (!op) return E_OUTOFMEMORY;
    HRESULT hr = PostOperation(op);
    op->Release();
    if (SUCCEEDED(hr)) m_requestedState = SourcePaused;
    return hr;
}

HRESULT OGGSource::QueueStreamOperation(DWORD type, DWORD streamId, DWORD runId) {
    SourceOp* op = new SourceOp(type);
    if (!op) return E_OUTOFMEMORY;
    op->m_streamId = streamId;
    op->m_runId = runId;
    HRESULT hr = PostOperation(op);
    op->Release();
    return hr;
}

HRESULT OGGSource::CheckOperation(SourceOp*) {
    return m_pPendingOp ? MF_E_NOTACCEPTING : S_OK;
}

// Shutdown returns at once, also while the core's reader waits in a read: the reader finds the core shut down
// when its read returns, and what it holds (the byte stream, the module) is let go then.
STDMETHODIMP OGGSource::Shutdown() {
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    m_state = SourceShutdown;
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]) m_streams[i]->ShutdownStream();
    IMFMediaEventQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> g(m_eventLock);
        queue = m_pEventQueue;
        m_pEventQueue = nullptr;
    }
    if (queue) {
        queue->Shutdown();
        queue->Release();
    }
    if (m_pPD) m_pPD->Release();
    m_pPD = nullptr;
    if (m_pCore) m_pCore->Shutdown();
    if (m_pPendingOp) m_pPendingOp->Release();
    m_pPendingOp = nullptr;
    if (m_pBuffering) {
        m_pBuffering->Stop();
        m_pBuffering->Release();
        m_pBuffering = nullptr;
    }
    return S_OK;
}

OGGStream* OGGSource::FindMediaStream(DWORD id) {
    for (uint32_t k = 0; k < m_cStreams; ++k)
        if (m_streamIds[k] == static_cast<BYTE>(id)) return m_streams[k];
    return nullptr;
}

OGGStream* OGGSource::MediaStreamOf(int32_t index) {
    return index >= 0 && index < m_cProduction ? m_production[index].media : nullptr;
}
