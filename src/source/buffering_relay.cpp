#include "buffering_relay.h"

#include "ogg_source.h"

HRESULT CBufferingRelay::Start(IMFByteStream* stream, SourceLink* link, CBufferingRelay** out) {
    *out = nullptr;
    IMFByteStreamBuffering* buffering = nullptr;
    IMFMediaEventGenerator* events = nullptr;
    if (FAILED(stream->QueryInterface(IID_IMFByteStreamBuffering, reinterpret_cast<void**>(&buffering)))) return S_OK;
    HRESULT hr = stream->QueryInterface(IID_IMFMediaEventGenerator, reinterpret_cast<void**>(&events));
    if (SUCCEEDED(hr)) {
        auto* relay = new CBufferingRelay(events, buffering, link);
        hr = relay ? S_OK : E_OUTOFMEMORY;
        if (relay) hr = buffering->EnableBuffering(TRUE);
        if (SUCCEEDED(hr)) hr = events->BeginGetEvent(relay, nullptr);
        if (SUCCEEDED(hr)) *out = relay;
        else if (relay) relay->Release();
        events->Release();
    } else {
        hr = S_OK; // buffering without events to tell it by: nothing to relay
    }
    buffering->Release();
    return hr;
}

CBufferingRelay::CBufferingRelay(IMFMediaEventGenerator* events, IMFByteStreamBuffering* buffering, SourceLink* link)
    : m_pEvents(events), m_pBuffering(buffering), m_pLink(link) {
    m_pEvents->AddRef();
    m_pBuffering->AddRef();
    m_pLink->AddRef();
}

CBufferingRelay::~CBufferingRelay() {
    if (m_pEvents) m_pEvents->Release();
    if (m_pBuffering) m_pBuffering->Release();
    m_pLink->Release();
}

STDMETHODIMP CBufferingRelay::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFAsyncCallback)) {
        *ppv = static_cast<IMFAsyncCallback*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CBufferingRelay::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CBufferingRelay::Release() {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

void CBufferingRelay::Stop() {
    IMFMediaEventGenerator* events = nullptr;
    IMFByteStreamBuffering* buffering = nullptr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        std::swap(events, m_pEvents);
        std::swap(buffering, m_pBuffering);
    }
    if (buffering) {
        buffering->EnableBuffering(FALSE);
        buffering->Release();
    }
    if (events) events->Release();
}

IMFMediaEventGenerator* CBufferingRelay::Events() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_pEvents) m_pEvents->AddRef();
    return m_pEvents;
}

STDMETHODIMP CBufferingRelay::Invoke(IMFAsyncResult* result) {
    IMFMediaEventGenerator* events = Events();
    if (!events) return S_OK; // stopped: the event is not wanted
    IMFMediaEvent* event = nullptr;
    HRESULT hr = events->EndGetEvent(result, &event);
    MediaEventType type = MEUnknown;
    if (SUCCEEDED(hr)) event->GetType(&type);
    if (event) event->Release();
    if (SUCCEEDED(hr) && (type == MEBufferingStarted || type == MEBufferingStopped)) {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->RelayBuffering(type);
            source->Release();
        }
    }
    if (SUCCEEDED(hr)) events->BeginGetEvent(this, nullptr); // a queue that has shut down refuses: the relay ends
    events->Release();
    return S_OK;
}
