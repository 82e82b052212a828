// The media source: life cycle, interface lookup, event generator, public methods and the open.
#include "ogg_source.h"

#include <cstdlib>

#include "ogg/media_types.h"
#include "mf_type_from_am.h"
#include "ogg_attributes.h"
#include "support/alloc.h"

OGGSource* SourceLink::Acquire() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_pSource && m_pSource->TryAddRef() ? m_pSource : nullptr;
}

OGGSource::OGGSource(HRESULT* phr) : OpQueue<SourceOp>(&m_lock), m_pLink(new SourceLink(this)) {
    *phr = m_pLink ? MFCreateEventQueue(&m_pEventQueue) : E_OUTOFMEMORY;
}

OGGSource::~OGGSource() {
    if (m_pLink) {
        m_pLink->Clear(); // streams that outlive the source find no source from here on
        m_pLink->Release();
    }
    if (m_state != SourceShutdown) Shutdown();
    // Reader threads end before their records go (a stop may never have run).
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        s->SignalStop();
        if (s->m_reader.ThreadExists()) s->m_reader.SendRequest(ReaderExit);
    }
    for (uint32_t i = 0; i < MaxMediaStreams; ++i) {
        if (m_streams[i]) m_streams[i]->Release();
        m_streams[i] = nullptr;
    }
    m_cStreams = 0;
    m_operations.Clear();
}

HRESULT OGGSource::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(OGGSource, IMFMediaEventGenerator), QITABENT(OGGSource, IMFMediaSource),
                                  QITABENT(OGGSource, IMFRateControl),         QITABENT(OGGSource, IMFRateSupport),
                                  QITABENT(OGGSource, IMFGetService),          {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

ULONG OGGSource::AddRef() { return ++m_refCount; }

ULONG OGGSource::Release() {
    ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

bool OGGSource::TryAddRef() {
    ULONG n = m_refCount.load();
    while (n != 0)
        if (m_refCount.compare_exchange_weak(n, n + 1)) return true;
    return false;
}

HRESULT OGGSource::GetEvent(DWORD flags, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue;
    {
        CAutoLock lock(m_lock);
        if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
        queue = m_pEventQueue;
        queue->AddRef();
    }
    HRESULT hr = queue->GetEvent(flags, event); // may block: outside the lock
    queue->Release();
    return hr;
}

HRESULT OGGSource::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    return m_pEventQueue->BeginGetEvent(callback, state);
}

HRESULT OGGSource::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    return m_pEventQueue->EndGetEvent(result, event);
}

HRESULT OGGSource::QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    return m_pEventQueue->QueueEventParamVar(type, ext, status, value);
}

HRESULT OGGSource::GetCharacteristics(DWORD* characteristics) {
    if (!characteristics) return E_POINTER;
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE;
    return S_OK;
}

HRESULT OGGSource::CreatePresentationDescriptor(IMFPresentationDescriptor** pd) {
    if (!pd) return E_POINTER;
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening || !m_pPD) return MF_E_NOT_INITIALIZED;
    return m_pPD->Clone(pd);
}

HRESULT OGGSource::Start(IMFPresentationDescriptor* pd, const GUID* timeFormat, const PROPVARIANT* start) {
    if (!pd || !start) return E_INVALIDARG;
    if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL)) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (start->vt != VT_I8 && start->vt != VT_EMPTY) return MF_E_UNSUPPORTED_TIME_FORMAT;
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening) return MF_E_NOT_INITIALIZED;
    if (!m_ppOggStreams) return E_UNEXPECTED;
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
    return hr;
}

HRESULT OGGSource::Stop() {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    if (m_state == SourceInvalid || m_state == SourceOpening) return MF_E_NOT_INITIALIZED;
    return QueueSimpleOperation(OpStop);
}

HRESULT OGGSource::Pause() {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    return QueueSimpleOperation(OpPause);
}

HRESULT OGGSource::QueueSimpleOperation(DWORD type) {
    SourceOp* op = new SourceOp(type);
    if (!op) return E_OUTOFMEMORY;
    HRESULT hr = PostOperation(op);
    op->Release();
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

HRESULT OGGSource::CheckOperation(SourceOp*) { return m_pPendingOp ? MF_E_NOTACCEPTING : S_OK; }

HRESULT OGGSource::Shutdown() {
    m_evShutdown.Set(); // wakes a sample loop that holds the lock while it waits
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]) m_streams[i]->ShutdownStream();
    if (m_pEventQueue) {
        m_pEventQueue->Shutdown();
        m_pEventQueue->Release();
        m_pEventQueue = nullptr;
    }
    if (m_pPD) m_pPD->Release();
    m_pPD = nullptr;
    ReleaseReader();
    if (m_pPendingOp) m_pPendingOp->Release();
    m_pPendingOp = nullptr;
    m_state = SourceShutdown;
    // No reader thread outlives the shutdown: a reader without its byte stream has nothing left to do.
    EndReaderThreads();
    return S_OK;
}

HRESULT OGGSource::Initialize(IMFByteStream* stream) {
    CAutoLock lock(m_lock);
    bool shutDown = false;
    HRESULT hr = Discover(stream, &shutDown);
    if (SUCCEEDED(hr)) hr = BuildPresentationDescriptor();
    if (SUCCEEDED(hr)) DescribeStreams();
    if (FAILED(hr) && (shutDown || m_state == SourceOpening)) Shutdown();
    return hr;
}

HRESULT OGGSource::BuildPresentationDescriptor() {
    if (!m_ppOggStreams || m_cStreams == 0) return E_FAIL;
    IMFStreamDescriptor* sds[MaxMediaStreams] = {};
    HRESULT hr = S_OK;
    for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i) hr = m_streams[i]->GetStreamDescriptor(&sds[i]);
    if (SUCCEEDED(hr)) hr = MFCreatePresentationDescriptor(m_cStreams, sds, &m_pPD);
    for (const GUID* major : {&MFMediaType_Video, &MFMediaType_Audio}) {
        for (uint32_t i = 0; SUCCEEDED(hr) && i < m_cStreams; ++i) {
            if (!sds[i]) {
                hr = E_POINTER;
                break;
            }
            IMFMediaTypeHandler* handler = nullptr;
            GUID type = GUID_NULL;
            hr = sds[i]->GetMediaTypeHandler(&handler);
            if (SUCCEEDED(hr)) {
                hr = handler->GetMajorType(&type);
                handler->Release();
            }
            if (SUCCEEDED(hr) && IsEqualGUID(type, *major)) {
                m_pPD->SelectStream(i);
                break;
            }
        }
    }
    if (SUCCEEDED(hr)) {
        m_pPD->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(m_rtStop));
        m_pPD->SetUINT64(MF_PD_OGG_ORIGIN, static_cast<UINT64>(m_llOrigin));
        if (m_cLinks > 1) hr = DescribeLinks(m_pPD);
    }
    if (SUCCEEDED(hr)) m_state = SourceStopped;
    for (IMFStreamDescriptor* sd : sds)
        if (sd) sd->Release();
    return hr;
}

// A chained file's links on the presentation descriptor (MF_PD_OGG_LINKS).
HRESULT OGGSource::DescribeLinks(IMFPresentationDescriptor* pd) {
    size_t n = 1 + 4 * static_cast<size_t>(m_cLinks) + 3 * static_cast<size_t>(m_cOggStreams + m_cLinkRecords);
    auto* v = static_cast<int64_t*>(AllocBytes(n * sizeof(int64_t)));
    if (!v) return E_OUTOFMEMORY;
    size_t i = 0;
    v[i++] = m_cLinks;
    for (int32_t k = 0; k < m_cLinks; ++k) {
        const FileLink& l = m_pLinks[k];
        const int32_t count = k == 0 ? m_cOggStreams : l.records;
        v[i++] = l.begin;
        v[i++] = l.start;
        v[i++] = l.duration;
        v[i++] = count;
        for (int32_t j = 0; j < count; ++j) {
            const COggStream* s = k == 0 ? m_ppOggStreams[j] : m_ppLinkRecords[l.firstRecord + j];
            bool played = false;
            for (int32_t m = 0; m < m_cOggStreams && !played; ++m)
                played = m_ppOggStreams[m]->m_pChain && m_ppOggStreams[m]->m_pChain[k].record == s;
            v[i++] = s->m_serialNo;
            v[i++] = s->m_codec;
            v[i++] = played;
        }
    }
    HRESULT hr = pd->SetBlob(MF_PD_OGG_LINKS, reinterpret_cast<const UINT8*>(v), static_cast<UINT32>(i * sizeof(int64_t)));
    std::free(v);
    return hr;
}

HRESULT OGGSource::CreateMediaStream(COggStream* stream, uint32_t id) {
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streamIds[i] == static_cast<BYTE>(id) && m_streams[i]) return S_OK;
    IMFMediaType* types[2] = {};
    HRESULT hr = S_OK;
    for (int i = 0; i < 2 && SUCCEEDED(hr); ++i) {
        HRESULT copied = S_OK;
        CAMMediaType working;
        if (i == 0) {
            copied = working.Set(stream->m_mediaType);
        } else {
            CAMMediaType alternative(stream->m_mediaType, &copied);
            if (SUCCEEDED(copied) && MakeAlternativeType(&alternative) == 0) copied = working.Set(alternative);
        }
        hr = FAILED(copied) ? copied : MFCreateMediaType(&types[i]);
        if (SUCCEEDED(hr)) hr = InitMediaTypeFromAM(types[i], &working);
    }
    IMFStreamDescriptor* sd = nullptr;
    IMFMediaTypeHandler* handler = nullptr;
    OGGStream* media = nullptr;
    if (SUCCEEDED(hr)) hr = MFCreateStreamDescriptor(id, 2, types, &sd);
    if (SUCCEEDED(hr)) hr = sd->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(types[0]);
    if (SUCCEEDED(hr)) {
        media = new OGGStream(m_pLink, sd, id, &hr);
        if (!media) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        media->m_pOggStream = stream;
        stream->m_pStream = media;
        if (m_cStreams < MaxMediaStreams) {
            m_streams[m_cStreams] = media;
            media->AddRef();
            m_streamIds[m_cStreams++] = static_cast<BYTE>(id);
        } else {
            stream->m_pStream = nullptr; // the stream will not play: no dangling link to a freed object
            hr = E_FAIL;
        }
    }
    if (media) media->Release();
    if (handler) handler->Release();
    if (sd) sd->Release();
    for (IMFMediaType* t : types)
        if (t) t->Release();
    return hr;
}

// What a host cannot read from a media type: the codec, the OGM stream type, start and end times.
void OGGSource::DescribeStreams() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        auto* media = static_cast<OGGStream*>(s->m_pStream);
        IMFStreamDescriptor* sd = nullptr;
        if (!media || FAILED(media->GetStreamDescriptor(&sd))) continue;
        sd->SetUINT32(MF_SD_OGG_CODEC, static_cast<UINT32>(s->m_codec));
        if (const char* type = s->OgmType()) {
            wchar_t wide[8] = {};
            for (int k = 0; type[k] && k < 7; ++k) wide[k] = static_cast<wchar_t>(type[k]);
            sd->SetString(MF_SD_OGM_TYPE, wide);
        }
        const LONGLONG start = s->FirstTimeKnown() ? s->m_firstTime : s->m_startTime;
        sd->SetUINT64(MF_SD_OGG_START_TIME, static_cast<UINT64>(start - m_llOrigin));
        if (s->m_endTimeKnown) sd->SetUINT64(MF_SD_OGG_END_TIME, static_cast<UINT64>(s->m_endTime - m_llOrigin));
        sd->Release();
    }
}

OGGStream* OGGSource::FindMediaStream(DWORD id) {
    for (uint32_t k = 0; k < m_cStreams; ++k)
        if (m_streamIds[k] == static_cast<BYTE>(id)) return m_streams[k];
    return nullptr;
}
